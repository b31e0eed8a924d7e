// The cursor's passes over its whole table: loading the rowids (with the open
// pass), a column lined up with them, and the rows matching a text.
#include "storage/cursor.h"

#include "storage/exactmatch.h"

#include "storage/error.h"
#include "storage/schema.h"

#include <algorithm>
#include <cassert>

namespace tsl {

QueryPtr Cursor::rowidQuery(int pos) {
    rowids_.clear();
    // Taken before reading: a write in between costs at most a needless reload.
    loadedVersion_ = engine_->fileVersion();
    loadedChanges_ = engine_->totalChanges();

    // Should the rowids be too scattered to keep as runs, a plain list of the
    // right size spares the doubling's copies and its peak of a list and a half.
    std::size_t expected = 0;
    {
        // Two subqueries: min and max together in one would scan the whole table.
        const QueryPtr span = prepare("SELECT (SELECT min(rowid) FROM " + quotedTable_ + "), (SELECT max(rowid) FROM " +
                                      quotedTable_ + ")");
        if (span->step() && !span->isNull(0)) {
            const auto lo = span->integer(0), hi = span->integer(1);
            if (hi >= lo && hi - lo < (std::int64_t(1) << 24))
                expected = std::size_t(hi - lo + 1);
        }
    }
    rowids_.expect(expected);

    std::string sql = "SELECT rowid";
    if (pos >= 0 && pos < int(fields_.size()))
        sql += ", " + quoteIdent(fields_[std::size_t(pos)]);
    return prepare(sql + " FROM " + quotedTable_ + " ORDER BY rowid");
}

void Cursor::loadRowids() {
    const QueryPtr q = rowidQuery(-1);
    collectRowids(*q, false, rowids_, [](std::size_t, std::string_view) {});
    checkAscending();
}

QueryPtr Cursor::columnQuery(int pos) const {
    (void)fieldName(pos);
    return prepare("SELECT rowid, " + quoteIdent(fields_[std::size_t(pos)]) + " FROM " + quotedTable_ +
                   " ORDER BY rowid");
}

void Cursor::scanField(int pos, const std::function<bool(int, std::string_view)>& each) const {
    scanColumn(pos, each);
}

bool Cursor::forEachMatch(int pos, std::string_view text, const std::function<bool()>& visit) {
    (void)fieldName(pos);
    first();
    // A NULL, and a row gone since the rowids were read, read as "" but are never
    // equal in SQL: for "" only a walk gives the same rows.
    if (text.empty()) {
        for (int i = 0, n = int(rowids_.size()); i < n; ++i) {
            if (fieldText(pos).empty() && !visit())
                return true;
            next();
        }
        return false;
    }
    if (!findStmt_ || findPos_ != pos) {
        findStmt_.reset();
        // As text and in binary order whatever the column declares, as fieldText compares.
        findStmt_ = prepare("SELECT rowid, " + fieldList_ + " FROM " + quotedTable_ + " WHERE " +
                            exactMatchCondition(quoteIdent(fields_[std::size_t(pos)])) + " ORDER BY rowid");
        findPos_ = pos;
    }
    Query& q = *findStmt_;
    const ResetQuery guard(q);
    q.bindText(1, text);
    int from = 0;
    while (q.step()) {
        const int row = positionOf(q.integer(0), from);
        if (row < 0)
            continue; // added since this cursor read its rows: a walk would not see it either
        from = row + 1;
        dropCacheIfStale();
        rowCache_.row = -1;
        rowCache_.values.resize(fields_.size());
        for (std::size_t f = 0; f < fields_.size(); ++f)
            rowCache_.values[f].assign(q.text(int(f) + 1));
        rowCache_.row = row;
        eof_ = false;
        if (row != cur_)
            setCurrent(row);
        if (!visit())
            return true;
    }
    eof_ = true;
    const int n = int(rowids_.size());
    if (n > 0 && cur_ != n - 1)
        setCurrent(n - 1);
    checkInvariants();
    return false;
}

} // namespace tsl
