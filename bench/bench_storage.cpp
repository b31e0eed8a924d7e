// The table cursor against plain SQLite statements doing the same work, on the
// shipment book (table "2") of the generated ledgers: open, open and sum,
// append and post, delete the first row and renumber every stamp. Under the
// table goes the peak memory of opening the largest book.
#include "bench/benchutil.h"

#include "storage/connection.h"
#include "storage/cursor.h"
#include "storage/intconv.h"
#include "storage/schema.h"

#include <sys/resource.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace tslbench {

namespace {

const std::string kTable = "\"2\"";

// ---- open -------------------------------------------------------------------------

void openCursor(benchmark::State& state, int rows) {
    CursorOn on(ledger(rows), false);
    for (auto _ : state) {
        int n = 0;
        record(state, Op::Open, rows, true, timed([&] {
                   on.cur.open();
                   n = on.cur.recordCount();
                   on.cur.close();
               }));
        if (n != rows)
            state.SkipWithError("wrong row count");
    }
}

void openRaw(benchmark::State& state, int rows) {
    RawDb db(ledger(rows));
    for (auto _ : state) {
        std::vector<std::int64_t> ids;
        record(state, Op::Open, rows, false, timed([&] {
                   sqlite3_stmt* st = db.prepare("SELECT rowid FROM " + kTable + " ORDER BY rowid");
                   while (sqlite3_step(st) == SQLITE_ROW)
                       ids.push_back(sqlite3_column_int64(st, 0));
                   sqlite3_finalize(st);
               }));
        if (int(ids.size()) != rows)
            state.SkipWithError("wrong row count");
    }
}

// ---- open and sum the amounts ----------------------------------------------------

void sumCursor(benchmark::State& state, int rows) {
    CursorOn on(ledger(rows), false);
    const int amount = tsl::amountPosition(2);
    const long long expected = expectedSum(rows);
    for (auto _ : state) {
        long long sum = 0;
        // Summed as the workspace sums its status line: in the pass that loads the rowids.
        on.cur.setOpenPass(amount, [&sum](int, std::string_view text) { sum += tsl::strToInt(text); });
        record(state, Op::OpenSum, rows, true, timed([&] {
                   on.cur.open();
                   on.cur.close();
               }));
        if (sum != expected)
            state.SkipWithError("wrong sum");
    }
}

void sumRaw(benchmark::State& state, int rows) {
    RawDb db(ledger(rows));
    const long long expected = expectedSum(rows);
    for (auto _ : state) {
        long long sum = 0;
        record(state, Op::OpenSum, rows, false, timed([&] {
                   sqlite3_stmt* st = db.prepare("SELECT \"总金额\" FROM " + kTable);
                   while (sqlite3_step(st) == SQLITE_ROW)
                       sum += tsl::strToInt(columnView(st, 0));
                   sqlite3_finalize(st);
               }));
        if (sum != expected)
            state.SkipWithError("wrong sum");
    }
}

// ---- append one row and post it (the book grows) ------------------------------------

const char* insertSql() {
    static const std::string sql = "INSERT INTO " + kTable + " VALUES (?, ?, ?, ?, ?, ?, ?)";
    return sql.c_str();
}

void postCursor(benchmark::State& state, int rows) {
    CursorOn on(workCopy(ledger(rows), "work.mdb"));
    const auto* def = tsl::findTable(tsl::table::shipments);
    long long k = rows;
    for (auto _ : state) {
        const std::vector<std::string> r = shipmentRow(++k);
        record(state, Op::AppendPost, rows, true, timed([&] {
                   on.cur.append();
                   for (std::size_t i = 0; i < r.size(); ++i)
                       on.cur.setField(def->fields[i], r[i]);
                   on.cur.post();
               }));
    }
    if (on.cur.recordCount() != int(k))
        state.SkipWithError("rows missing");
}

void postRaw(benchmark::State& state, int rows) {
    RawDb db(workCopy(ledger(rows), "work.mdb"));
    sqlite3_stmt* ins = db.prepare(insertSql());
    long long k = rows;
    for (auto _ : state) {
        const std::vector<std::string> r = shipmentRow(++k);
        record(state, Op::AppendPost, rows, false, timed([&] {
                   for (int i = 0; i < 7; ++i)
                       sqlite3_bind_text(ins, i + 1, r[std::size_t(i)].data(), int(r[std::size_t(i)].size()),
                                         SQLITE_STATIC);
                   db.step(ins);
               }));
    }
    sqlite3_finalize(ins);
}

// ---- delete the first row and renumber every stamp, in one transaction ------------------

// The last stamp reads "(rows - 1)..." once the first row is gone and all are renumbered.
bool renumbered(const std::string& file, int rows) {
    RawDb db(file);
    return db.first("SELECT \"日期\" FROM " + kTable + " ORDER BY rowid DESC LIMIT 1") == stampOf(rows - 1);
}

void renumberCursor(benchmark::State& state, int rows) {
    for (auto _ : state) {
        const std::string file = workCopy(ledger(rows), "work.mdb");
        {
            CursorOn on(file);
            auto& c = on.cur;
            record(state, Op::DeleteRenumber, rows, true, timed([&] {
                       tsl::Connection::Transaction t(on.conn);
                       c.first();
                       c.remove();
                       long long k = 1;
                       for (c.first(); !c.eof(); c.next(), ++k) {
                           std::string s = c.fieldText(tsl::pos::stamp);
                           auto p = s.find(')');
                           c.edit();
                           c.setField(tsl::field::stamp, "(" + std::to_string(k) + s.substr(p));
                           c.post();
                       }
                       t.commit();
                   }));
        }
        if (!renumbered(file, rows))
            state.SkipWithError("stamps not renumbered");
    }
}

void renumberRaw(benchmark::State& state, int rows) {
    for (auto _ : state) {
        const std::string file = workCopy(ledger(rows), "work.mdb");
        {
            RawDb db(file);
            record(state, Op::DeleteRenumber, rows, false, timed([&] {
                       db.exec("BEGIN IMMEDIATE");
                       db.exec("DELETE FROM " + kTable + " WHERE rowid = (SELECT min(rowid) FROM " + kTable + ")");
                       sqlite3_stmt* sel = db.prepare("SELECT rowid, \"日期\" FROM " + kTable + " ORDER BY rowid");
                       sqlite3_stmt* upd = db.prepare("UPDATE " + kTable + " SET \"日期\" = ? WHERE rowid = ?");
                       std::string stamp;
                       for (long long k = 1; sqlite3_step(sel) == SQLITE_ROW; ++k) {
                           std::string_view s = columnView(sel, 1);
                           stamp = "(" + std::to_string(k);
                           stamp += s.substr(s.find(')'));
                           sqlite3_bind_text(upd, 1, stamp.data(), int(stamp.size()), SQLITE_STATIC);
                           sqlite3_bind_int64(upd, 2, sqlite3_column_int64(sel, 0));
                           db.step(upd);
                       }
                       sqlite3_finalize(sel);
                       sqlite3_finalize(upd);
                       db.exec("COMMIT");
                   }));
        }
        if (!renumbered(file, rows))
            state.SkipWithError("stamps not renumbered");
    }
}

// ---- peak memory ------------------------------------------------------------------------

constexpr int kRssRows = 1'000'000;

long peakKb() {
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    return ru.ru_maxrss;
}

// The probe runs in a fresh process of this program, so the figure holds nothing of the benchmarks.
void printMemory() {
    const std::string file = "ledger-" + std::to_string(kRssRows) + ".mdb";
    if (!fs::exists(file))
        return;
    std::string cmd = "TSL_BENCH_RSS_BOOK='" + file + "' '" + selfPath() + "'";
    FILE* p = popen(cmd.c_str(), "r");
    if (!p)
        return;
    long connected = 0, opened = 0, scanned = 0;
    int n = 0;
    const int got = std::fscanf(p, "%ld %ld %ld %d", &connected, &opened, &scanned, &n);
    pclose(p);
    if (got != 4) {
        std::printf("peak RSS probe failed\n");
        return;
    }
    const double mib = 1024.0, rowids = 8.0 * n / mib / mib;
    std::printf("peak RSS, %d-row shipment book in a fresh process: connected %.1f MiB, opened %.1f MiB, "
                "after a full scan %.1f MiB;\n",
                n, connected / mib, opened / mib, scanned / mib);
    std::printf("  opening added %.1f MiB (SQLite's page cache, up to 2 MiB, included); 8 B x rows = %.1f MiB "
                "(%.2fx)\n",
                (opened - connected) / mib, rowids, (opened - connected) / mib / rowids);
}

} // namespace

bool storageMemoryProbe() {
    const char* file = std::getenv("TSL_BENCH_RSS_BOOK");
    if (!file)
        return false;
    try {
        CursorOn on(file, false);
        const long connected = peakKb();
        on.cur.open();
        const long opened = peakKb();
        long long sum = 0;
        for (on.cur.first(); !on.cur.eof(); on.cur.next())
            sum += tsl::strToInt(on.cur.fieldText(tsl::amountPosition(2)));
        benchmark::DoNotOptimize(sum);
        std::printf("%ld %ld %ld %d\n", connected, opened, peakKb(), on.cur.recordCount());
    } catch (const std::exception& e) {
        std::printf("error %s\n", e.what());
    }
    std::fflush(stdout);
    return true;
}

void registerStorage(int rows) {
    addPair("storage", "open", "cursor", openCursor, openRaw, rows);
    addPair("storage", "open+sum", "cursor", sumCursor, sumRaw, rows);
    addPair("storage", "append+post", "cursor", postCursor, postRaw, rows, 40);
    // Each run copies the ledger first: one run per repetition on the big books.
    addPair("storage", "delete+renumber", "cursor", renumberCursor, renumberRaw, rows, rows >= 100'000 ? 1 : 0);
    if (rows == kRssRows)
        addNote(printMemory);
}

} // namespace tslbench
