#include "storage/yearfigures.h"

#include "storage/prepared.h"

#include "storage/connection.h"
#include "storage/engine.h"
#include "storage/sqliteengine.h"
#include "storage/error.h"
#include "storage/failure.h"
#include "storage/intconv.h"
#include "storage/schema.h"
#include "storage/stamp.h"

#include <sqlite3.h>

#include <algorithm>
#include <cerrno>
#include <string>
#include <sys/stat.h>
#include <unordered_map>

namespace tsl {

namespace {

struct Hash {
    using is_transparent = void;
    std::size_t operator()(std::string_view s) const noexcept { return std::hash<std::string_view>{}(s); }
};

// Which month line a stamp belongs to. A year has a few hundred date texts at
// most, so each is read once and remembered.
class MonthOfStamp {
public:
    MonthOfStamp(const std::vector<std::string>& patterns, int referenceYear) : reader_(patterns, referenceYear) {}

    int operator()(std::string_view stamp) {
        const std::string_view text = stampDatePart(stamp);
        if (auto it = known_.find(text); it != known_.end())
            return it->second;
        const auto d = reader_.readDatePart(text);
        const int line = d ? d->month - 1 : kUndated;
        if (known_.size() < kRemembered) // stamps of unreadable junk must not grow it without end
            known_.emplace(std::string(text), line);
        return line;
    }

private:
    static constexpr std::size_t kRemembered = 4096;
    StampDateReader reader_;
    std::unordered_map<std::string, int, Hash, std::equal_to<>> known_;
};

[[noreturn]] void fail(sqlite3* db, std::string_view what) {
    throw Error(std::string(what) + ": ", sqliteError(db));
}

const std::string kCannotRead = "统计时读不出帐本: ";

BookFigures readBook(Engine& db, Movement m, MonthOfStamp& monthOf) {
    const TableDef* def = findTable(movementTable(m));
    const auto& fields = def->fields;
    const QueryPtr q = db.prepare("SELECT " + quoteIdent(fields[pos::stamp]) + ", " +
                                  quoteIdent(fields[pos::settleName]) + ", " + quoteIdent(fields.back()) + " FROM " +
                                  quoteIdent(def->name) + " ORDER BY rowid");
    BookFigures b;
    std::unordered_map<std::string, Tally, Hash, std::equal_to<>> names;
    std::int64_t row = 0;
    while (q->step()) {
        ++row;
        const std::string_view stamp = q->text(0);
        const std::string_view name = q->text(1);
        const std::string_view amountText = q->text(2);
        const auto amount = tryStrToInt(amountText);
        if (!amount) {
            if (b.bad.size() < kNamedBadAmounts)
                b.bad.push_back({row, std::string(stamp), std::string(name), std::string(amountText)});
            ++b.badCount;
            continue;
        }
        b.months[std::size_t(monthOf(stamp))].add(*amount);
        b.all.add(*amount);
        auto it = names.find(name);
        if (it == names.end())
            it = names.emplace(std::string(name), Tally{}).first;
        it->second.add(*amount);
    }
    b.names.reserve(names.size());
    for (auto& [name, tally] : names)
        b.names.push_back({name, tally});
    std::sort(b.names.begin(), b.names.end(), [](const NameTally& a, const NameTally& c) {
        if (a.tally.total != c.tally.total)
            return a.tally.total > c.tally.total;
        return a.name < c.name;
    });
    return b;
}

} // namespace

namespace {

struct MovementNames {
    std::string_view table, label, party;
};

const MovementNames& namesOf(Movement m) {
    static const MovementNames names[kMovements] = {{table::shipments, "发货", "客户"},
                                                    {table::purchases, "进货", "供货单位"},
                                                    {table::deliveries, "交货", "职工"}};
    return names[std::size_t(m)];
}

} // namespace

std::string_view movementTable(Movement m) { return namesOf(m).table; }
std::string_view movementLabel(Movement m) { return namesOf(m).label; }
std::string_view movementParty(Movement m) { return namesOf(m).party; }

std::string_view monthLabel(int line) {
    static constexpr std::string_view labels[kMonthLines] = {"1月", "2月", "3月",  "4月",  "5月",  "6月",    "7月",
                                                             "8月", "9月", "10月", "11月", "12月", "日期不明"};
    return labels[std::clamp(line, 0, kMonthLines - 1)];
}

std::int64_t YearFigures::badCount() const { return books[0].badCount + books[1].badCount + books[2].badCount; }

YearFigures readYearFigures(Engine& db, const std::vector<std::string>& patterns, int referenceYear) {
    YearFigures f;
    try {
        {
            const QueryPtr q = db.prepare("SELECT count(*) FROM " + quoteIdent(table::customers));
            if (q->step())
                f.customers = q->integer(0);
        }
        MonthOfStamp monthOf(patterns, referenceYear);
        for (int m = 0; m < kMovements; ++m)
            f.books[std::size_t(m)] = readBook(db, Movement(m), monthOf);
    } catch (const Error& e) {
        throw Error(kCannotRead, e);
    }
    return f;
}

YearFigures readYearFigures(const Connection& ledger, const std::vector<std::string>& patterns, int referenceYear) {
    return readYearFigures(ledger.engine(), patterns, referenceYear);
}

YearFigures readYearFiguresOfFile(const std::string& file, const std::vector<std::string>& patterns,
                                  int referenceYear) {
    // A missing file would otherwise fail deep in SQLite with a less useful text.
    struct stat st {};
    if (::stat(file.c_str(), &st) != 0)
        throw errnoError(errno, file);
    if (!S_ISREG(st.st_mode))
        throw Error(Failure::MissingFile, file);
    DbCloser closer;
    const int rc = sqlite3_open_v2(file.c_str(), &closer.db, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr);
    sqlite3* db = closer.db;
    if (rc != SQLITE_OK)
        fail(db, "无法打开\"" + file + "\"");
    sqlite3_db_config(db, SQLITE_DBCONFIG_DQS_DML, 0, nullptr);
    sqlite3_busy_timeout(db, 5000);
    // Belt and braces: even a statement that would write is refused.
    if (sqlite3_exec(db, "PRAGMA query_only=1", nullptr, nullptr, nullptr) != SQLITE_OK)
        fail(db, "无法打开\"" + file + "\"");
    return readYearFigures(*SqliteEngine::borrow(db, file), patterns, referenceYear);
}

} // namespace tsl
