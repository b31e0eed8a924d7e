#include "storage/findtext.h"

#include "storage/connection.h"
#include "storage/error.h"
#include "storage/intconv.h"
#include "storage/schema.h"

#include <sqlite3.h>

namespace tsl {
namespace {

const std::string kFindFailed = "查找失败: ";

// Separates the fields in a row's folded text, so a match never spans two.
constexpr char kFieldGap = '\x1f';

sqlite3_stmt* prepareOn(sqlite3* db, const std::string& sql) {
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), int(sql.size()), &st, nullptr) != SQLITE_OK) {
        sqlite3_finalize(st);
        throw Error(kFindFailed, sqliteError(db));
    }
    return st;
}

void exec(sqlite3* db, const char* sql) {
    if (sqlite3_exec(db, sql, nullptr, nullptr, nullptr) != SQLITE_OK)
        throw Error(kFindFailed, sqliteError(db));
}

void stepDone(sqlite3* db, sqlite3_stmt* st) {
    const ResetOnExit reset(st);
    if (sqlite3_step(st) != SQLITE_DONE)
        throw Error(kFindFailed, sqliteError(db));
}

} // namespace

std::string foldForFind(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c < 0x80) {
            out += char(c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c);
            ++i;
            continue;
        }
        // U+FF01..U+FF5E: EF BC 81..EF BD 9E; U+3000: E3 80 80.
        if (c == 0xEF && i + 2 < text.size()) {
            const auto c1 = static_cast<unsigned char>(text[i + 1]), c2 = static_cast<unsigned char>(text[i + 2]);
            const int cp = ((c & 0x0F) << 12) | ((c1 & 0x3F) << 6) | (c2 & 0x3F);
            if ((c1 == 0xBC || c1 == 0xBD) && (c2 & 0xC0) == 0x80 && cp >= 0xFF01 && cp <= 0xFF5E) {
                const int a = cp - 0xFF01 + 0x21;
                out += char(a >= 'A' && a <= 'Z' ? a + ('a' - 'A') : a);
                i += 3;
                continue;
            }
        }
        if (c == 0xE3 && i + 2 < text.size() && text[i + 1] == '\x80' && text[i + 2] == '\x80') {
            out += ' ';
            i += 3;
            continue;
        }
        out += char(c);
        ++i;
    }
    return out;
}

FindCopy::FindCopy(Cursor& book) : book_(book) { book_.addObserver(this); }

FindCopy::~FindCopy() { book_.removeObserver(this); }

long long FindCopy::bookVersion() const {
    sqlite3* db = book_.connection().handle();
    if (!dataVersion_)
        dataVersion_.reset(prepareOn(db, "PRAGMA data_version"));
    const ResetOnExit reset(dataVersion_.get());
    return sqlite3_step(dataVersion_.get()) == SQLITE_ROW ? sqlite3_column_int64(dataVersion_.get(), 0) : -1;
}

void FindCopy::noteSeen() {
    seenChanges_ = sqlite3_total_changes64(book_.connection().handle());
    seenVersion_ = bookVersion();
}

namespace {

// The copy's amount: the whole number, or NULL when the text is none.
void bindAmount(sqlite3_stmt* st, int i, std::string_view text) {
    if (const auto v = tryStrToInt(text))
        sqlite3_bind_int64(st, i, *v);
    else
        sqlite3_bind_null(st, i);
}

} // namespace

void FindCopy::build(int amountPos) {
    amountPos_ = amountPos;
    put_.reset();
    remove_.reset();
    find_.reset();
    copy_ = {};
    // "": a private temporary file, removed when closed; nothing of it needs to survive a crash.
    if (sqlite3_open_v2("", &copy_.db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) != SQLITE_OK)
        throw Error(kFindFailed, sqliteError(copy_.db));
    exec(copy_.db, "PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF; CREATE TABLE x(t TEXT, a INTEGER); BEGIN");
    put_.reset(prepareOn(copy_.db, "INSERT OR REPLACE INTO x(rowid, t, a) VALUES(?1, ?2, ?3)"));
    remove_.reset(prepareOn(copy_.db, "DELETE FROM x WHERE rowid = (SELECT rowid FROM x ORDER BY rowid LIMIT 1 OFFSET ?1)"));
    find_.reset(prepareOn(copy_.db, "SELECT rowid, a FROM x WHERE instr(t, ?1) ORDER BY rowid"));

    std::string sql = "SELECT rowid";
    for (int i = 0; i < book_.fieldCount(); ++i)
        sql += ", " + quoteIdent(book_.fieldName(i));
    sql += " FROM " + quoteIdent(book_.tableName()) + " ORDER BY rowid";
    sqlite3* db = book_.connection().handle();
    Prepared rows(db, sql, kFindFailed);
    std::string text;
    while (rows.step()) {
        text.clear();
        for (int i = 0; i < book_.fieldCount(); ++i) {
            if (i)
                text += kFieldGap;
            text += columnView(rows.get(), i + 1);
        }
        text = foldForFind(text);
        sqlite3_bind_int64(put_.get(), 1, sqlite3_column_int64(rows.get(), 0));
        sqlite3_bind_text(put_.get(), 2, text.data(), int(text.size()), SQLITE_STATIC);
        bindAmount(put_.get(), 3, amountPos_ >= 0 ? columnView(rows.get(), amountPos_ + 1) : std::string_view());
        stepDone(copy_.db, put_.get());
    }
    exec(copy_.db, "COMMIT");
    stale_ = false;
    noteSeen();
}

void FindCopy::put(int row) {
    if (stale_ || !copy_.db)
        return;
    const std::int64_t rowid = book_.rowidAt(row);
    std::string text;
    for (int i = 0; i < book_.fieldCount(); ++i) {
        if (i)
            text += kFieldGap;
        text += book_.rowText(row, i);
    }
    text = foldForFind(text);
    sqlite3_bind_int64(put_.get(), 1, rowid);
    sqlite3_bind_text(put_.get(), 2, text.data(), int(text.size()), SQLITE_STATIC);
    const std::string amount = amountPos_ >= 0 ? book_.rowText(row, amountPos_) : std::string();
    bindAmount(put_.get(), 3, amount);
    try {
        stepDone(copy_.db, put_.get());
        noteSeen();
    } catch (const Error&) {
        stale_ = true; // made again at the next search
    }
}

void FindCopy::rowRemoved(int row) {
    if (stale_ || !copy_.db)
        return;
    sqlite3_bind_int64(remove_.get(), 1, row);
    try {
        stepDone(copy_.db, remove_.get());
        noteSeen();
    } catch (const Error&) {
        stale_ = true;
    }
}

std::vector<int> FindCopy::rowsHolding(std::string_view needle) { return find(needle, amountPos_).rows; }

FindCopy::Found FindCopy::find(std::string_view needle, int amountPos) {
    std::string folded = foldForFind(needle);
    std::erase(folded, kFieldGap);
    const int n = book_.recordCount();
    if (amountPos >= book_.fieldCount())
        amountPos = -1;
    if (stale_ || !copy_.db || amountPos != amountPos_ ||
        seenChanges_ != sqlite3_total_changes64(book_.connection().handle()) || seenVersion_ != bookVersion())
        build(amountPos);
    Found found;
    const ResetOnExit reset(find_.get());
    // Every row for an empty needle: instr('…', '') is 1.
    sqlite3_bind_text(find_.get(), 1, folded.data(), int(folded.size()), SQLITE_STATIC);
    // Both lists are in rowid order: one walk turns rowids into positions.
    int pos = 0;
    int rc;
    while ((rc = sqlite3_step(find_.get())) == SQLITE_ROW) {
        const std::int64_t rowid = sqlite3_column_int64(find_.get(), 0);
        while (pos < n && book_.rowidAt(pos) < rowid)
            ++pos;
        if (pos >= n || book_.rowidAt(pos) != rowid)
            continue;
        found.rows.push_back(pos);
        if (amountPos < 0)
            continue;
        if (sqlite3_column_type(find_.get(), 1) == SQLITE_NULL)
            ++found.badAmounts;
        else
            found.total += sqlite3_column_int64(find_.get(), 1);
    }
    if (rc != SQLITE_DONE)
        throw Error(kFindFailed, sqliteError(copy_.db));
    return found;
}

} // namespace tsl
