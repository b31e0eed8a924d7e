// Finding the rows of the shipment book that hold a text: the program searches
// a folded copy of the book it makes at the first search; raw SQLite runs the
// one statement a developer would write over the book's fields (ASCII case
// folded by lower(), no width folding), for the same rows.
#include "bench/benchutil.h"

#include "storage/connection.h"
#include "storage/cursor.h"
#include "storage/findtext.h"
#include "storage/schema.h"

#include <map>
#include <string>
#include <vector>

namespace tslbench {

namespace {

const std::string kNeedle = "客户12号";

std::vector<std::int64_t> rawFind(RawDb& db) {
    std::string where;
    for (const std::string_view f : tsl::findTable(tsl::table::shipments)->fields)
        where += (where.empty() ? "" : " OR ") + std::string("instr(lower(") + tsl::quoteIdent(f) + "), ?1)";
    sqlite3_stmt* st = db.prepare("SELECT rowid FROM \"2\" WHERE " + where + " ORDER BY rowid");
    sqlite3_bind_text(st, 1, kNeedle.data(), int(kNeedle.size()), SQLITE_STATIC);
    std::vector<std::int64_t> ids;
    while (sqlite3_step(st) == SQLITE_ROW)
        ids.push_back(sqlite3_column_int64(st, 0));
    sqlite3_finalize(st);
    return ids;
}

std::size_t rawCount(int rows) {
    static std::map<int, std::size_t> counts;
    if (!counts.count(rows)) {
        RawDb db(ledger(rows));
        counts[rows] = rawFind(db).size();
    }
    return counts[rows];
}

void firstProgram(benchmark::State& state, int rows) {
    CursorOn book(ledger(rows));
    for (auto _ : state) {
        std::vector<int> found;
        tsl::FindCopy find(book.cur);
        record(state, Op::FindFirst, rows, true, timed([&] { found = find.rowsHolding(kNeedle); }));
        if (found.size() != rawCount(rows))
            state.SkipWithError("wrong rows");
    }
}

void keystrokeProgram(benchmark::State& state, int rows) {
    CursorOn book(ledger(rows));
    tsl::FindCopy find(book.cur);
    (void)find.rowsHolding("客");
    for (auto _ : state) {
        std::vector<int> found;
        record(state, Op::FindKeystroke, rows, true, timed([&] { found = find.rowsHolding(kNeedle); }));
        if (found.size() != rawCount(rows))
            state.SkipWithError("wrong rows");
    }
}

template <Op op>
void raw(benchmark::State& state, int rows) {
    RawDb db(ledger(rows));
    for (auto _ : state) {
        std::vector<std::int64_t> ids;
        record(state, op, rows, false, timed([&] { ids = rawFind(db); }));
        if (ids.size() != rawCount(rows))
            state.SkipWithError("wrong rows");
    }
}

} // namespace

void registerFind(int rows) {
    addPair("find", "first", "copy", firstProgram, raw<Op::FindFirst>, rows, rows >= 1'000'000 ? 3 : 0);
    addPair("find", "keystroke", "copy", keystrokeProgram, raw<Op::FindKeystroke>, rows);
}

} // namespace tslbench
