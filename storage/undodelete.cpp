#include "storage/undodelete.h"

#include "storage/connection.h"
#include "storage/cursor.h"
#include "storage/error.h"
#include "storage/schema.h"
#include "storage/prepared.h"

#include <sqlite3.h>

#include <algorithm>

namespace tsl {

namespace {

const std::string kUndoFailed = "撤销删除失败: ";

sqlite3* handleOf(const Connection& conn) {
    if (!conn.connected())
        throw Error("撤销删除失败: 帐本没有打开");
    return conn.handle();
}

} // namespace

bool bookIsNumbered(std::string_view table) {
    return table == table::shipments || table == table::purchases || table == table::deliveries;
}

void DeleteUndo::capture(const Cursor& book) noexcept {
    clear();
    try {
        read(book);
        if (rowid_ < 0 || !renumbered_)
            return;
        // The stamps from the book itself, for a delete that does not hand them over.
        Prepared stamps(handleOf(*conn_), "SELECT rowid, " + quoteIdent(field::stamp) + " FROM " + quoteIdent(table_) +
                                              " ORDER BY rowid",
                        kUndoFailed);
        long long position = 0;
        while (stamps.step()) {
            ++position;
            const std::string s = stamps.text(1);
            if (numbering_(s, position) != s)
                oddStamps_.emplace(sqlite3_column_int64(stamps.get(), 0), s);
        }
        stampsPending_ = false;
    } catch (...) {
        clear();
    }
}

void DeleteUndo::captureRow(const Cursor& book) noexcept {
    clear();
    try {
        read(book);
    } catch (...) {
        clear();
    }
}

void DeleteUndo::keepStamp(std::int64_t rowid, std::string_view stamp) {
    if (rowid_ >= 0)
        oddStamps_.emplace(rowid, std::string(stamp));
}

void DeleteUndo::read(const Cursor& book) {
    const int row = book.currentRow();
    const std::int64_t rowid = book.rowidAt(row);
    if (rowid < 0)
        return;
    Connection& conn = book.connection();
    sqlite3* db = handleOf(conn);
    const std::string table = book.tableName();
    const std::string quoted = quoteIdent(table);

    Prepared whole(db, "SELECT * FROM " + quoted + " WHERE rowid = ?", kUndoFailed);
    sqlite3_bind_int64(whole.get(), 1, rowid);
    if (!whole.step())
        return;
    std::vector<std::string> columns;
    std::vector<std::optional<std::string>> values;
    for (int c = 0, n = sqlite3_column_count(whole.get()); c < n; ++c) {
        columns.emplace_back(sqlite3_column_name(whole.get(), c));
        if (sqlite3_column_type(whole.get(), c) == SQLITE_NULL)
            values.emplace_back(std::nullopt);
        else
            values.emplace_back(whole.text(c));
    }

    const bool numbered = bookIsNumbered(table);
    std::vector<Run> runs;
    if (numbered) {
        for (int i = 0, n = book.recordCount(); i < n; ++i) {
            const std::int64_t id = book.rowidAt(i);
            if (!runs.empty() && id == runs.back().to + 1)
                runs.back().to = id;
            else
                runs.push_back({id, id, i + 1});
        }
    }

    conn_ = &conn;
    source_ = Connection::dataSource(conn.connectionString());
    table_ = table;
    rowid_ = rowid;
    columns_ = std::move(columns);
    values_ = std::move(values);
    renumbered_ = numbered;
    stampsPending_ = numbered;
    runs_ = std::move(runs);
}

void DeleteUndo::arm() noexcept {
    armed_ = false;
    if (rowid_ < 0 || stampsPending_)
        return;
    // Offered only when the delete went through; a failed removal left the row.
    try {
        Prepared there(handleOf(*conn_), "SELECT 1 FROM " + quoteIdent(table_) + " WHERE rowid = ?", kUndoFailed);
        sqlite3_bind_int64(there.get(), 1, rowid_);
        armed_ = !there.step();
    } catch (...) {
        armed_ = false;
    }
}

void DeleteUndo::clear() noexcept {
    armed_ = false;
    conn_ = nullptr;
    source_.clear();
    table_.clear();
    rowid_ = -1;
    columns_.clear();
    values_.clear();
    oddStamps_.clear();
    renumbered_ = false;
    stampsPending_ = false;
    runs_.clear();
}

void DeleteUndo::bookChanged(std::string_view table) noexcept {
    if (armed_ && table == table_)
        clear();
}

bool DeleteUndo::available(const Connection& conn, std::string_view table) const {
    if (!armed_ || table != table_ || !conn.connected())
        return false;
    try {
        return Connection::dataSource(conn.connectionString()) == source_;
    } catch (...) {
        return false;
    }
}

int DeleteUndo::undo(Connection& conn) {
    if (!available(conn, table_))
        throw Error("撤销删除失败: 没有可以撤销的删除");
    sqlite3* db = handleOf(conn);
    const std::string quoted = quoteIdent(table_);
    int position = -1;
    {
        Connection::Transaction tx(conn);
        std::string sql = "INSERT INTO " + quoted + " (rowid";
        std::string marks = "?";
        for (const std::string& c : columns_) {
            sql += ", " + quoteIdent(c);
            marks += ", ?";
        }
        sql += ") VALUES (" + marks + ")";
        Prepared ins(db, sql, kUndoFailed);
        sqlite3_bind_int64(ins.get(), 1, rowid_);
        for (std::size_t i = 0; i < values_.size(); ++i) {
            if (values_[i])
                ins.bindText(int(i) + 2, *values_[i]);
        }
        (void)ins.step(); // a row of that rowid (the delete never happened) fails here

        Prepared count(db, "SELECT count(*) FROM " + quoted + " WHERE rowid < ?", kUndoFailed);
        sqlite3_bind_int64(count.get(), 1, rowid_);
        (void)count.step();
        position = int(sqlite3_column_int64(count.get(), 0));

        if (renumbered_ && !renumberByRuns(db, quoted))
            renumberRowByRow(db, quoted);
        tx.commit();
    }
    clear();
    return position;
}

// Every stamp read and compared: for a book whose rowids the capture did not see.
void DeleteUndo::renumberRowByRow(sqlite3* db, const std::string& quoted) {
    Prepared stamps(db, "SELECT rowid, " + quoteIdent(field::stamp) + " FROM " + quoted + " ORDER BY rowid", kUndoFailed);
    Prepared upd(db, "UPDATE " + quoted + " SET " + quoteIdent(field::stamp) + " = ? WHERE rowid = ?", kUndoFailed);
    std::vector<std::pair<std::int64_t, std::string>> changes;
    long long k = 0;
    while (stamps.step()) {
        ++k;
        const std::int64_t id = sqlite3_column_int64(stamps.get(), 0);
        const std::string now = stamps.text(1);
        const auto odd = oddStamps_.find(id);
        std::string want = odd != oddStamps_.end() ? odd->second : numbering_(now, k);
        // A stamp without ")" was left as it was by the renumbering.
        if (now.find(')') == std::string::npos)
            want = now;
        if (want != now)
            changes.emplace_back(id, std::move(want));
    }
    for (const auto& [id, stamp] : changes) {
        upd.reset();
        upd.bindText(1, stamp);
        sqlite3_bind_int64(upd.get(), 2, id);
        (void)upd.step();
    }
}

// The plain numbers in one UPDATE per run of consecutive rowids after the
// restored row, then the few stamps that did not follow them, each by its
// rowid. False (nothing written) when the book is not the one captured.
bool DeleteUndo::renumberByRuns(sqlite3* db, const std::string& quoted) {
    if (!numberingSql_ || runs_.empty())
        return false;
    // A row added since (another program on the file) would shift the places.
    Prepared top(db, "SELECT max(rowid) FROM " + quoted, kUndoFailed);
    (void)top.step();
    if (sqlite3_column_int64(top.get(), 0) != runs_.back().to)
        return false;
    const std::string stamp = quoteIdent(field::stamp);
    Prepared run(db, "UPDATE " + quoted + " SET " + stamp + " = " + numberingSql_(stamp, "rowid - ?1") +
                         " WHERE rowid BETWEEN ?2 AND ?3 AND instr(" + stamp + ", ')') > 0",
                 kUndoFailed);
    for (const Run& r : runs_) {
        if (r.to <= rowid_)
            continue;
        run.reset();
        sqlite3_bind_int64(run.get(), 1, r.from - r.first);
        sqlite3_bind_int64(run.get(), 2, std::max(r.from, rowid_ + 1));
        sqlite3_bind_int64(run.get(), 3, r.to);
        (void)run.step();
    }
    Prepared upd(db, "UPDATE " + quoted + " SET " + stamp + " = ? WHERE rowid = ?", kUndoFailed);
    for (const auto& [id, odd] : oddStamps_) {
        if (id == rowid_)
            continue; // the restored row carries its own stamp
        upd.reset();
        upd.bindText(1, odd);
        sqlite3_bind_int64(upd.get(), 2, id);
        (void)upd.step();
    }
    return true;
}

} // namespace tsl
