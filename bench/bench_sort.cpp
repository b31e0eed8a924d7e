// Sorting the shipment book by its amounts, as a click on the title does: the
// program orders by the whole-number conversion of amounts (texts that are no
// number last) and turns rowids into positions; raw SQLite runs the ORDER BY a
// developer would write, with SQLite's own cast, for the rowids alone.
#include "bench/benchutil.h"

#include "storage/connection.h"
#include "storage/cursor.h"
#include "storage/schema.h"
#include "storage/sortrows.h"

#include <string>
#include <vector>

namespace tslbench {

namespace {

constexpr int kAmountPos = 6;

void program(benchmark::State& state, int rows) {
    CursorOn book(ledger(rows));
    for (auto _ : state) {
        std::vector<int> sorted;
        record(state, Op::SortAmount, rows, true,
               timed([&] { sorted = tsl::sortedRows(book.cur, kAmountPos, tsl::SortKind::Number, false); }));
        if (int(sorted.size()) != rows)
            state.SkipWithError("wrong rows");
    }
}

void raw(benchmark::State& state, int rows) {
    RawDb db(ledger(rows));
    for (auto _ : state) {
        std::vector<std::int64_t> ids;
        record(state, Op::SortAmount, rows, false, timed([&] {
                   sqlite3_stmt* st = db.prepare("SELECT rowid FROM \"2\" ORDER BY CAST(" +
                                                 tsl::quoteIdent(tsl::field::amount) + " AS INTEGER)");
                   while (sqlite3_step(st) == SQLITE_ROW)
                       ids.push_back(sqlite3_column_int64(st, 0));
                   sqlite3_finalize(st);
               }));
        if (int(ids.size()) != rows)
            state.SkipWithError("wrong rows");
    }
}

} // namespace

void registerSort(int rows) { addPair("sort", "amount", "program", program, raw, rows); }

} // namespace tslbench
