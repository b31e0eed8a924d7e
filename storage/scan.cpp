#include "scan.h"

#include "error.h"
#include "intconv.h"
#include "schema.h"

#include <sqlite3.h>

#include <string>

namespace tsl {

void reopen(Cursor& cursor, std::string_view table) {
    if (cursor.isOpen() && cursor.tableName() == table && cursor.restart())
        return;
    cursor.close();
    cursor.setTableName(std::string(table));
    cursor.open();
}

bool findExact(Cursor& cursor, int pos, std::string_view text) {
    return cursor.forEachMatch(pos, text, [] { return false; });
}

namespace {

// A statement of its own, finalized when done.
class Query {
public:
    Query(Connection& conn, const std::string& sql) : db_(conn.handle()) {
        if (!db_)
            throw Error("数据库没有连接");
        if (sqlite3_prepare_v2(db_, sql.c_str(), int(sql.size()), &st_, nullptr) != SQLITE_OK) {
            std::string msg = sqlite3_errmsg(db_);
            sqlite3_finalize(st_);
            throw Error(msg);
        }
    }
    ~Query() { sqlite3_finalize(st_); }
    Query(const Query&) = delete;
    Query& operator=(const Query&) = delete;

    sqlite3_stmt* st() const { return st_; }
    bool step() {
        const int rc = sqlite3_step(st_);
        if (rc != SQLITE_ROW && rc != SQLITE_DONE)
            throw Error(sqlite3_errmsg(db_));
        return rc == SQLITE_ROW;
    }

private:
    sqlite3* db_;
    sqlite3_stmt* st_ = nullptr;
};

} // namespace

TableTotal totalOfLastField(Connection& conn, std::string_view table) {
    const std::string from = " FROM " + quoteIdent(table);
    std::string last;
    {
        Query head(conn, "SELECT *" + from + " LIMIT 0");
        const int n = sqlite3_column_count(head.st());
        if (n == 0)
            throw Error("表\"" + std::string(table) + "\"没有字段");
        last = quoteIdent(sqlite3_column_name(head.st(), n - 1));
    }
    TableTotal t;
    Query q(conn, "SELECT " + last + from);
    while (q.step()) {
        ++t.rows;
        if (!t.converted)
            continue;
        auto* p = reinterpret_cast<const char*>(sqlite3_column_text(q.st(), 0));
        const auto v = tryStrToInt(p ? std::string_view(p, std::size_t(sqlite3_column_bytes(q.st(), 0)))
                                     : std::string_view());
        if (v)
            t.sum += *v;
        else
            t.converted = false;
    }
    return t;
}

std::int64_t rowCount(Connection& conn, std::string_view table) {
    Query q(conn, "SELECT count(*) FROM " + quoteIdent(table));
    return q.step() ? sqlite3_column_int64(q.st(), 0) : 0;
}

} // namespace tsl
