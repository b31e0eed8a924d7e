#include "storage/undodelete.h"

#include "storage/connection.h"
#include "storage/cursor.h"
#include "storage/error.h"
#include "storage/schema.h"
#include "storage/prepared.h"

#include <sqlite3.h>

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
    } catch (...) {
        clear();
    }
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

    std::unordered_map<std::int64_t, std::string> odd;
    const bool numbered = bookIsNumbered(table);
    if (numbered) {
        Prepared stamps(db, "SELECT rowid, " + quoteIdent(field::stamp) + " FROM " + quoted + " ORDER BY rowid", kUndoFailed);
        long long position = 0;
        while (stamps.step()) {
            ++position;
            const std::string s = stamps.text(1);
            if (numbering_(s, position) != s)
                odd.emplace(sqlite3_column_int64(stamps.get(), 0), s);
        }
    }

    conn_ = &conn;
    source_ = Connection::dataSource(conn.connectionString());
    table_ = table;
    rowid_ = rowid;
    columns_ = std::move(columns);
    values_ = std::move(values);
    oddStamps_ = std::move(odd);
    renumbered_ = numbered;
}

void DeleteUndo::arm() noexcept {
    armed_ = false;
    if (rowid_ < 0)
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

        if (renumbered_) {
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
        tx.commit();
    }
    clear();
    return position;
}

} // namespace tsl
