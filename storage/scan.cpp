#include "storage/scan.h"

#include "storage/prepared.h"

#include "storage/error.h"
#include "storage/intconv.h"
#include "storage/schema.h"

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

TableTotal totalOfLastField(Connection& conn, std::string_view table) {
    const std::string from = " FROM " + quoteIdent(table);
    std::string last;
    {
        Prepared head(conn.handle(), "SELECT *" + from + " LIMIT 0");
        const int n = sqlite3_column_count(head.get());
        if (n == 0)
            throw Error("表\"" + std::string(table) + "\"没有字段");
        last = quoteIdent(sqlite3_column_name(head.get(), n - 1));
    }
    TableTotal t;
    Prepared q(conn.handle(), "SELECT " + last + from);
    while (q.step()) {
        ++t.rows;
        if (!t.converted)
            continue;
        if (const auto v = tryStrToInt(columnView(q.get(), 0)))
            t.sum += *v;
        else
            t.converted = false;
    }
    return t;
}

std::int64_t rowCount(Connection& conn, std::string_view table) {
    Prepared q(conn.handle(), "SELECT count(*) FROM " + quoteIdent(table));
    return q.step() ? sqlite3_column_int64(q.get(), 0) : 0;
}

} // namespace tsl
