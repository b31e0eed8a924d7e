#include "export/ledger.h"

#include "storage/sqliteengine.h"

#include "books/settlement.h"
#include "export/capital.h"
#include "storage/exactmatch.h"
#include "storage/intconv.h"
#include "storage/period.h"
#include "export/outfile.h"
#include "storage/prepared.h"
#include "storage/schema.h"

#include <sqlite3.h>

#include <cctype>
#include <cstdlib>
#include <ctime>
#include <sys/stat.h>

namespace tsl::out {

namespace {

struct BookDef {
    int number;
    std::string_view label;
    std::string_view party;
};
constexpr BookDef kBookDefs[] = {
    {1, "客户", ""}, {2, "发货", "客户"}, {3, "进货", "供货单位"}, {4, "职工交货", "职工"}};

const std::vector<Book>& books() {
    static const std::vector<Book> all = [] {
        std::vector<Book> v;
        for (const auto& d : kBookDefs) {
            const TableDef* t = findTable(std::to_string(d.number));
            const int amount = amountPosition(d.number);
            v.push_back({d.number, d.label, d.party, t->fields, amount, amount < 0 ? -1 : 3});
        }
        return v;
    }();
    return all;
}

const std::string kReadFailure = "不能读取帐本: ";

std::string readFailure(sqlite3* db) { return kReadFailure + sqlite3_errmsg(db); }

} // namespace

Columns Book::columns() const {
    Columns c;
    for (auto f : fields)
        c.header.emplace_back(f);
    c.numeric.assign(fields.size(), false);
    if (amountPos >= 0)
        c.numeric[std::size_t(amountPos)] = true;
    if (quantityPos >= 0)
        c.numeric[std::size_t(quantityPos)] = true;
    return c;
}

const Book* findBook(int number) {
    for (const Book& b : books())
        if (b.number == number)
            return &b;
    return nullptr;
}

const Book* bookOfHeader(const std::vector<std::string>& header) {
    for (const Book& b : books())
        if (std::equal(header.begin(), header.end(), b.fields.begin(), b.fields.end()))
            return &b;
    return nullptr;
}

std::string ledgerNameOf(std::string_view path) {
    if (const auto slash = path.rfind('/'); slash != std::string_view::npos)
        path.remove_prefix(slash + 1);
    if (path.size() > kLedgerSuffix.size() && path.substr(path.size() - kLedgerSuffix.size()) == kLedgerSuffix)
        path.remove_suffix(kLedgerSuffix.size());
    return std::string(path);
}

LedgerFile::LedgerFile(const std::string& path) : name_(ledgerNameOf(path)) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        throw ExportError("找不到帐本文件 \"" + path + "\".");
    const std::string notLedger = "\"" + path + "\" 不是帐本文件.";
    // The index under its running name, or at rest under any case (no ledger ends in ".dll").
    const std::string base = path.substr(path.rfind('/') == std::string::npos ? 0 : path.rfind('/') + 1);
    std::string lower = base;
    for (char& c : lower)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    if (!S_ISREG(st.st_mode) || base == kIndexFile || lower == kStoredIndexFile)
        throw ExportError(notLedger);
    protected_ = std::make_unique<ProtectedSource>(path);
    // Closed by `opened` until every book is checked, then by this file.
    DbCloser opened;
    if (sqlite3_open_v2(path.c_str(), &opened.db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK)
        throw ExportError(readFailure(opened.db));
    sqlite3* const db = opened.db;
    sqlite3_db_config(db, SQLITE_DBCONFIG_DQS_DML, 0, nullptr);
    sqlite3_db_config(db, SQLITE_DBCONFIG_DQS_DDL, 0, nullptr);
    sqlite3_busy_timeout(db, 5000);
    // Every book must be there with its fields in their order.
    for (const Book& b : books()) {
        const std::string sql = "PRAGMA table_info(" + quoteIdent(b.table()) + ")";
        std::vector<std::string> names;
        int rc;
        {
            sqlite3_stmt* raw = nullptr;
            rc = sqlite3_prepare_v2(db, sql.c_str(), -1, &raw, nullptr);
            const StmtOwner st(raw);
            if (rc == SQLITE_OK)
                while ((rc = sqlite3_step(st.get())) == SQLITE_ROW)
                    names.emplace_back(columnView(st.get(), 1));
        }
        if (rc == SQLITE_BUSY || rc == SQLITE_LOCKED || rc == SQLITE_IOERR)
            throw ExportError(readFailure(db));
        if (rc != SQLITE_DONE || !std::equal(names.begin(), names.end(), b.fields.begin(), b.fields.end()))
            throw ExportError(notLedger);
    }
    engine_ = SqliteEngine::borrow(db, path);
    db_ = opened.release();
}

LedgerFile::~LedgerFile() {
    engine_.reset(); // its statements go before the handle closes
    sqlite3_close(db_);
}

Engine& LedgerFile::engine() const { return *engine_; }

std::vector<std::string> totalRow(std::size_t columns, int amountPos, std::int64_t total, std::int64_t skipped) {
    std::vector<std::string> row(columns);
    if (amountPos < 0 || columns < 3)
        return {};
    row[0] = "合计";
    row[1] = capitalYuan(total);
    if (skipped > 0 && amountPos > 2)
        row[2] = "另有 " + std::to_string(skipped) + " 行的金额不是整数,未计入";
    row[std::size_t(amountPos)] = intToStr(total);
    return row;
}

BookRows::BookRows(Engine& db, const Book& book, std::optional<std::string> name, bool strict)
    : book_(book), strict_(strict), name_(std::move(name)) {
    std::string cols;
    for (auto f : book.fields)
        cols += (cols.empty() ? "" : ", ") + quoteIdent(f);
    const std::string from = " FROM " + quoteIdent(book.table());
    // The settlement's own match, so a named export lists the rows a settlement lists.
    const std::string where =
        name_ ? " WHERE " + exactMatchCondition(quoteIdent(book.fields[std::size_t(pos::settleName)])) : "";
    try {
        if (!name_) {
            // Only for the progress shown: a count that cannot be read leaves it unknown.
            try {
                const QueryPtr count = db.prepare("SELECT count(*)" + from);
                if (count->step())
                    size_ = count->integer(0);
            } catch (const Error&) {
            }
        }
        st_ = db.prepare("SELECT " + cols + from + where + " ORDER BY rowid");
        if (name_)
            st_->bindText(1, *name_);
    } catch (const Error& e) {
        throw ExportError(kReadFailure, e);
    }
}

BookRows::~BookRows() = default;

bool BookRows::next(std::vector<std::string>& row) {
    try {
        if (!st_->step())
            return false;
    } catch (const Error& e) {
        throw ExportError(kReadFailure, e);
    }
    const int n = int(book_.fields.size());
    row.resize(std::size_t(n));
    for (int i = 0; i < n; ++i)
        row[std::size_t(i)].assign(st_->text(i));
    if (book_.amountPos >= 0) {
        const std::string& amount = row[std::size_t(book_.amountPos)];
        if (strict_)
            total_ += strToInt(amount);
        else if (auto v = tryStrToInt(amount))
            total_ += *v;
        else
            ++skipped_;
    }
    return true;
}

std::vector<std::string> BookRows::totalRow() const {
    return out::totalRow(book_.fields.size(), book_.amountPos, total_, skipped_);
}

Statement makeStatement(std::string ledger, const Book& book, std::string name, std::string date,
                        std::vector<std::vector<std::string>> rows) {
    Statement s{std::move(ledger), book.number, std::move(name), std::move(date), {}, 0, {}, {}};
    for (const auto& r : rows)
        if (book.amountPos >= 0 && std::size_t(book.amountPos) < r.size())
            s.total += strToInt(r[std::size_t(book.amountPos)]);
    s.table.columns = book.columns();
    s.table.rows = std::move(rows);
    s.table.total = totalRow(book.fields.size(), book.amountPos, s.total);
    return s;
}

Statement statementOf(std::string ledger, books::Settlement settlement, std::string date) {
    const Book* book = settlement.empty() ? nullptr : findBook(std::atoi(settlement.table.c_str()));
    if (!book || book->party.empty())
        throw ExportError("报表里没有结帐的结果.");
    Statement s{std::move(ledger), book->number, std::move(settlement.name), std::move(date), {}, settlement.total,
                periodText(settlement.period), std::move(settlement.undated)};
    s.table.columns = book->columns();
    s.table.rows = std::move(settlement.rows);
    s.table.total = totalRow(book->fields.size(), book->amountPos, s.total);
    if (!s.period.empty() && s.table.total.size() > 2 && s.table.total[2].empty())
        s.table.total[2] = "期间: " + s.period;
    return s;
}

Statement readStatement(Engine& db, std::string ledger, const Book& book, const std::string& name,
                        std::string date) {
    return readStatement(db, std::move(ledger), book, name, std::move(date), Period{}, nullptr);
}

Statement readStatement(Engine& db, std::string ledger, const Book& book, const std::string& name,
                        std::string date, const Period& period, const StampDateReader* dates) {
    books::Settlement s = books::settle(db, book.table(), name, kReadFailure);
    if (s.empty())
        throw ExportError(std::string(books::kNoMatch));
    if (!period.whole()) {
        if (!dates)
            throw ExportError("没有读取日期的方法."); // a caller's fault, never the user's
        s = books::inPeriod(std::move(s), period, *dates);
        if (s.empty())
            throw ExportError(std::string(books::kNothingInPeriod));
    }
    return statementOf(std::move(ledger), std::move(s), std::move(date));
}

std::string periodText(const Period& period) {
    auto text = [](const Date& d) { return dateText(d.year, d.month, d.day); };
    if (period.from && period.to)
        return text(*period.from) + " 至 " + text(*period.to);
    if (period.from)
        return text(*period.from) + " 起";
    if (period.to)
        return "至 " + text(*period.to);
    return {};
}

Table sheetOf(const Statement& s) {
    Table t = s.table;
    if (s.undated.empty())
        return t;
    std::vector<std::string> heading(t.columns.header.size());
    if (!heading.empty())
        heading[0] = std::string(kUndatedHeading);
    t.rows.push_back(std::move(heading));
    t.rows.insert(t.rows.end(), s.undated.begin(), s.undated.end());
    return t;
}

std::string todayText() {
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    return dateText(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday);
}

std::string dateText(int year, int month, int day) {
    return std::to_string(year) + "年" + std::to_string(month) + "月" + std::to_string(day) + "日";
}

std::string fileNameOf(const std::vector<std::string>& parts, std::string_view extension) {
    std::string name;
    for (const auto& p : parts) {
        if (p.empty())
            continue;
        if (!name.empty())
            name += '-';
        name += p;
    }
    for (char& c : name)
        if (static_cast<unsigned char>(c) < 0x20 || std::string_view("/\\:*?\"<>|").find(c) != std::string_view::npos)
            c = '_';
    if (!name.empty() && name[0] == '.')
        name[0] = '_';
    name += extension;
    return name;
}

} // namespace tsl::out
