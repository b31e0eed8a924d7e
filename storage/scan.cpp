#include "storage/scan.h"

#include "storage/engine.h"
#include "storage/error.h"
#include "storage/intconv.h"
#include "storage/schema.h"

#include <string>
#include <vector>

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
    Engine& engine = conn.engine();
    {
        const QueryPtr head = engine.prepare("SELECT *" + from + " LIMIT 0");
        const int n = head->columnCount();
        if (n == 0)
            throw Error("表\"" + std::string(table) + "\"没有字段");
        last = quoteIdent(head->columnName(n - 1));
    }
    TableTotal t;
    const QueryPtr q = engine.prepare("SELECT " + last + from);
    while (q->step()) {
        ++t.rows;
        if (!t.converted)
            continue;
        if (const auto v = tryStrToInt(q->text(0)))
            t.sum += *v;
        else
            t.converted = false;
    }
    return t;
}

QueryPtr columnOf(Connection& conn, std::string_view table, int pos) {
    Engine& engine = conn.engine();
    const std::string from = " FROM " + quoteIdent(table);
    std::string field;
    {
        const QueryPtr head = engine.prepare("SELECT *" + from + " LIMIT 0");
        // A server's books show their row id among the columns; it is no field.
        std::vector<std::string> fields;
        for (int i = 0, n = head->columnCount(); i < n; ++i)
            if (!engine.isServer() || head->columnName(i) != "rowid")
                fields.push_back(head->columnName(i));
        if (pos < 0 || pos >= int(fields.size()))
            throw Error("表\"" + std::string(table) + "\"没有第 " + std::to_string(pos + 1) + " 个字段");
        field = quoteIdent(fields[std::size_t(pos)]);
    }
    return engine.prepare("SELECT " + field + from + " ORDER BY rowid");
}

std::int64_t rowCount(Connection& conn, std::string_view table) {
    const QueryPtr q = conn.engine().prepare("SELECT count(*) FROM " + quoteIdent(table));
    return q->step() ? q->integer(0) : 0;
}

} // namespace tsl
