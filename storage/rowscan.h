#pragma once
// The passes over a table in rowid order that the cursor makes: loading its
// rowids, and lining a column up with them. Templates, so that the work done
// per row (a sum, a copy into a block) is compiled into the loop.
#include "storage/engine.h"
#include "storage/sqliteengine.h"

#include <cassert>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace tsl {

// `q` gives (rowid, text) rows in ascending rowid order; `ids` is a sorted list
// of rowids (size() and [], read in ascending order). Calls each(i, text) for every i of `ids`, in order: the text of the
// query's row with that rowid, or "" when the query has none (a row gone from
// the file since the list was read). Rows the list lacks are passed over. Stops
// when `each` returns false; false then, true when it ran to the end.
template <class Q, class Ids, class Each>
bool alignRowsOn(Q& q, const Ids& ids, Each&& each) {
    const std::size_t n = ids.size();
    std::size_t i = 0;
    std::int64_t id = 0;
    std::string_view text;
    while (i < n && q.nextIdText(id, text)) {
        for (; i < n && ids[i] < id; ++i)
            if (!each(i, std::string_view()))
                return false;
        if (i < n && ids[i] == id) {
            if (!each(i, text))
                return false;
            ++i;
        }
    }
    for (; i < n; ++i)
        if (!each(i, std::string_view()))
            return false;
    return true;
}

// `q` gives (rowid, text) rows in ascending rowid order, or rowids alone when
// `withText` is false. Appends every rowid to `ids` (push_back, back, size) and calls each(i, text) with
// its place there (text only when `withText`).
template <class Q, class Ids, class Each>
void collectRowidsOn(Q& q, bool withText, Ids& ids, Each&& each) {
    std::int64_t id = 0;
    std::string_view text;
    if (!withText) {
        while (q.step())
            ids.push_back(q.integer(0));
        return;
    }
    while (q.nextIdText(id, text)) {
        assert(ids.empty() || ids.back() < id);
        ids.push_back(id);
        each(ids.size() - 1, text);
    }
}

// The loops above on a query of a known engine: its calls inline into the loop.
// Another engine adds its line to each.
template <class Ids, class Each>
bool alignRows(Query& q, const Ids& ids, Each&& each) {
    if (auto* s = dynamic_cast<SqliteQuery*>(&q))
        return alignRowsOn(*s, ids, each);
    return alignRowsOn(q, ids, each);
}

template <class Ids, class Each>
void collectRowids(Query& q, bool withText, Ids& ids, Each&& each) {
    if (auto* s = dynamic_cast<SqliteQuery*>(&q))
        return collectRowidsOn(*s, withText, ids, each);
    collectRowidsOn(q, withText, ids, each);
}

} // namespace tsl
