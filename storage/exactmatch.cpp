#include "storage/exactmatch.h"

#include "storage/engine.h"
#include "storage/error.h"
#include "storage/schema.h"

#include <vector>

namespace tsl {

std::string exactMatchCondition(std::string_view quotedField) {
    // As text and in binary order: a NOCASE column would otherwise let "ABC" match "abc".
    return "CAST(" + std::string(quotedField) + " AS TEXT) COLLATE BINARY = ?1";
}

void forEachExact(Engine& db, std::string_view table, int pos, std::string_view text,
                  const std::function<bool(std::span<const std::string_view>)>& each, const std::string& context) {
    const TableDef* def = findTable(table);
    if (!def || pos < 0 || std::size_t(pos) >= def->fields.size())
        throw Error(context + "表\"" + std::string(table) + "\"没有第 " + std::to_string(pos + 1) + " 个字段");
    std::string cols;
    for (auto f : def->fields)
        cols += (cols.empty() ? "" : ", ") + quoteIdent(f);
    const std::string field = quoteIdent(def->fields[std::size_t(pos)]);
    // NULL reads as "" but never equals it in SQL.
    const std::string where =
        text.empty() ? "coalesce(CAST(" + field + " AS TEXT), '') = ''" : exactMatchCondition(field);
    std::vector<std::string_view> row(def->fields.size());
    try {
        QueryPtr q = db.prepare("SELECT " + cols + " FROM " + quoteIdent(table) + " WHERE " + where + " ORDER BY rowid");
        const ResetQuery reset(*q);
        if (!text.empty())
            q->bindText(1, text);
        while (q->step()) {
            for (std::size_t i = 0; i < row.size(); ++i)
                row[i] = q->text(int(i));
            if (!each(row))
                return;
        }
    } catch (const ConvertError&) {
        throw; // a row's own fault, said by whoever read it
    } catch (const Error& e) {
        throw Error(context, e);
    }
}

} // namespace tsl
