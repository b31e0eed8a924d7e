// The table cursor against plain SQLite statements doing the same work, on a
// generated shipment book (table "2"). Each operation runs through the cursor and
// then raw; at exit a table of medians and ratios is printed, with the peak
// memory of opening the largest book.
#include "connection.h"
#include "cursor.h"
#include "error.h"
#include "intconv.h"
#include "schema.h"

#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr int kSizes[] = {1'000, 100'000, 1'000'000};
constexpr int kRssRows = 1'000'000;
const std::string kTable = "\"2\"";

// ---- results ---------------------------------------------------------------

struct Times {
    std::vector<double> cursor, raw; // milliseconds per operation
};
// Defined before the report so they are still alive when it prints at exit.
std::map<std::pair<int, int>, Times> gTimes; // (operation, rows)
std::map<int, std::string> gBooks;            // rows -> generated file

enum Op { OpOpen, OpSum, OpPost, OpRenumber, OpCount };
constexpr const char* kOpNames[OpCount] = {"open", "open+sum", "append+post", "delete+renumber"};
// Most the cursor may take, as a multiple of raw, on the largest book (0: none).
constexpr double kTargets[OpCount] = {0, 3.0, 1.5, 3.0};

void record(benchmark::State& state, Op op, int rows, bool cursor, double seconds) {
    state.SetIterationTime(seconds);
    auto& t = gTimes[{op, rows}];
    (cursor ? t.cursor : t.raw).push_back(seconds * 1e3);
}

template <class F>
double timed(F&& f) {
    auto t0 = std::chrono::steady_clock::now();
    f();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

// ---- raw SQLite -------------------------------------------------------------

class RawDb {
public:
    explicit RawDb(const std::string& file) {
        // Opened as the program's connection opens its file.
        if (sqlite3_open_v2(file.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr) != SQLITE_OK) {
            std::string msg = db_ ? sqlite3_errmsg(db_) : "out of memory";
            sqlite3_close(db_);
            throw std::runtime_error("cannot open " + file + ": " + msg);
        }
        // The same durability the program's connection asks for.
        exec("PRAGMA journal_mode=DELETE; PRAGMA synchronous=FULL;");
    }
    ~RawDb() { sqlite3_close_v2(db_); }
    RawDb(const RawDb&) = delete;
    RawDb& operator=(const RawDb&) = delete;

    void exec(const std::string& sql) {
        char* err = nullptr;
        if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &err) != SQLITE_OK) {
            std::string msg = err ? err : sqlite3_errmsg(db_);
            sqlite3_free(err);
            throw std::runtime_error(msg);
        }
    }
    sqlite3_stmt* prepare(const std::string& sql) {
        sqlite3_stmt* st = nullptr;
        if (sqlite3_prepare_v2(db_, sql.c_str(), int(sql.size()), &st, nullptr) != SQLITE_OK)
            throw std::runtime_error(sqlite3_errmsg(db_));
        return st;
    }
    void step(sqlite3_stmt* st) {
        if (sqlite3_step(st) != SQLITE_DONE)
            throw std::runtime_error(sqlite3_errmsg(db_));
        sqlite3_reset(st);
    }

private:
    sqlite3* db_ = nullptr;
};

std::string_view columnView(sqlite3_stmt* st, int col) {
    auto* t = reinterpret_cast<const char*>(sqlite3_column_text(st, col));
    return t ? std::string_view(t, std::size_t(sqlite3_column_bytes(st, col))) : std::string_view();
}

// ---- generated books ------------------------------------------------------

using Row = std::array<std::string, 7>;

Row shipment(long long k) {
    static const char* kinds[] = {"羊毛衫", "羊绒衫", "开衫", "背心"};
    return {"(" + std::to_string(k) + ")2026-12-8",
            "客户" + std::to_string(k % 997),
            kinds[k % 4],
            std::to_string(k % 50 + 1),
            "浙江省嘉兴市桐乡市濮院镇" + std::to_string(k % 200) + "号",
            "314500",
            std::to_string((k * 7919) % 100000)};
}

const char* insertSql() {
    static const std::string sql = "INSERT INTO " + kTable + " VALUES (?, ?, ?, ?, ?, ?, ?)";
    return sql.c_str();
}

void bindRow(sqlite3_stmt* st, const Row& r) {
    for (int i = 0; i < 7; ++i)
        sqlite3_bind_text(st, i + 1, r[std::size_t(i)].data(), int(r[std::size_t(i)].size()), SQLITE_STATIC);
}

// A book of `rows` shipments, made once per run from the empty index.
const std::string& book(int rows) {
    auto it = gBooks.find(rows);
    if (it != gBooks.end())
        return it->second;
    std::string file = "book-" + std::to_string(rows) + ".mdb";
    fs::remove(file);
    fs::copy_file(std::string(tsl::kStoredIndexFile), file);
    {
        RawDb db(file);
        db.exec("PRAGMA synchronous=OFF; BEGIN");
        sqlite3_stmt* ins = db.prepare(insertSql());
        for (long long k = 1; k <= rows; ++k) {
            Row r = shipment(k);
            bindRow(ins, r);
            db.step(ins);
        }
        sqlite3_finalize(ins);
        db.exec("COMMIT");
    }
    return gBooks[rows] = file;
}

// A fresh copy for the operations that change the book.
std::string workCopy(int rows) {
    const std::string file = "work.mdb";
    fs::copy_file(book(rows), file, fs::copy_options::overwrite_existing);
    return file;
}

struct CursorOn {
    tsl::Connection conn;
    tsl::Cursor cur{conn};
    explicit CursorOn(const std::string& file, bool open = true) {
        conn.setConnectionString(tsl::connectionString(file));
        conn.connect();
        cur.setTableName(std::string(tsl::table::shipments));
        if (open)
            cur.open();
    }
};

// ---- (a) open -----------------------------------------------------------------

void openCursor(benchmark::State& state, int rows) {
    CursorOn on(book(rows), false);
    for (auto _ : state) {
        int n = 0;
        record(state, OpOpen, rows, true, timed([&] {
                   on.cur.open();
                   n = on.cur.recordCount();
                   on.cur.close();
               }));
        if (n != rows)
            state.SkipWithError("wrong row count");
    }
}

void openRaw(benchmark::State& state, int rows) {
    RawDb db(book(rows));
    for (auto _ : state) {
        std::vector<std::int64_t> ids;
        record(state, OpOpen, rows, false, timed([&] {
                   sqlite3_stmt* st = db.prepare("SELECT rowid FROM " + kTable + " ORDER BY rowid");
                   while (sqlite3_step(st) == SQLITE_ROW)
                       ids.push_back(sqlite3_column_int64(st, 0));
                   sqlite3_finalize(st);
               }));
        if (int(ids.size()) != rows)
            state.SkipWithError("wrong row count");
    }
}

// ---- (b) open and sum the amounts -------------------------------------------

long long expectedSum(int rows) {
    long long s = 0;
    for (long long k = 1; k <= rows; ++k)
        s += (k * 7919) % 100000;
    return s;
}

void sumCursor(benchmark::State& state, int rows) {
    CursorOn on(book(rows), false);
    const int amount = tsl::amountPosition(2);
    for (auto _ : state) {
        long long sum = 0;
        record(state, OpSum, rows, true, timed([&] {
                   auto& c = on.cur;
                   c.open();
                   for (c.first(); !c.eof(); c.next())
                       sum += tsl::strToInt(c.fieldText(amount));
                   c.close();
               }));
        if (sum != expectedSum(rows))
            state.SkipWithError("wrong sum");
    }
}

void sumRaw(benchmark::State& state, int rows) {
    RawDb db(book(rows));
    for (auto _ : state) {
        long long sum = 0;
        record(state, OpSum, rows, false, timed([&] {
                   sqlite3_stmt* st = db.prepare("SELECT \"总金额\" FROM " + kTable);
                   while (sqlite3_step(st) == SQLITE_ROW)
                       sum += tsl::strToInt(columnView(st, 0));
                   sqlite3_finalize(st);
               }));
        if (sum != expectedSum(rows))
            state.SkipWithError("wrong sum");
    }
}

// ---- (c) append one row and post it (the book grows) --------------------------

void postCursor(benchmark::State& state, int rows) {
    CursorOn on(workCopy(rows));
    const auto* def = tsl::findTable(tsl::table::shipments);
    long long k = rows;
    for (auto _ : state) {
        Row r = shipment(++k);
        record(state, OpPost, rows, true, timed([&] {
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
    const std::string file = workCopy(rows);
    RawDb db(file);
    sqlite3_stmt* ins = db.prepare(insertSql());
    long long k = rows;
    for (auto _ : state) {
        Row r = shipment(++k);
        record(state, OpPost, rows, false, timed([&] {
                   bindRow(ins, r);
                   db.step(ins);
               }));
    }
    sqlite3_finalize(ins);
}

// ---- (d) delete the first row and renumber every stamp, in one transaction ----

// The last stamp reads "(rows - 1)..." once the first row is gone and all are renumbered.
bool renumbered(const std::string& file, int rows) {
    RawDb db(file);
    sqlite3_stmt* st = db.prepare("SELECT \"日期\" FROM " + kTable + " ORDER BY rowid DESC LIMIT 1");
    std::string last = shipment(rows).front();
    last = "(" + std::to_string(rows - 1) + last.substr(last.find(')'));
    bool ok = sqlite3_step(st) == SQLITE_ROW && columnView(st, 0) == last;
    sqlite3_finalize(st);
    return ok;
}

void renumberCursor(benchmark::State& state, int rows) {
    for (auto _ : state) {
        const std::string file = workCopy(rows);
        {
            CursorOn on(file);
            auto& c = on.cur;
            record(state, OpRenumber, rows, true, timed([&] {
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
        const std::string file = workCopy(rows);
        {
            RawDb db(file);
            record(state, OpRenumber, rows, false, timed([&] {
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

// ---- registration -------------------------------------------------------------

[[maybe_unused]] const bool gRegistered = [] {
    using Fn = void (*)(benchmark::State&, int);
    struct Pair {
        const char* name;
        Fn cursor, raw;
        int fixedIterations; // 0: let the library choose
    };
    const Pair pairs[] = {
        {"open", openCursor, openRaw, 0},
        {"open+sum", sumCursor, sumRaw, 0},
        {"append+post", postCursor, postRaw, 40},
        {"delete+renumber", renumberCursor, renumberRaw, 0},
    };
    for (int rows : kSizes) {
        for (const auto& p : pairs) {
            for (bool cursor : {true, false}) {
                std::string name = std::string(p.name) + (cursor ? "/cursor/" : "/raw/") + std::to_string(rows);
                Fn fn = cursor ? p.cursor : p.raw;
                // A failure (no run.dll here, a full disk) skips the one benchmark.
                auto* b = benchmark::RegisterBenchmark(name.c_str(), [fn, rows](benchmark::State& state) {
                    try {
                        fn(state, rows);
                    } catch (const std::exception& e) {
                        state.SkipWithError(e.what());
                    }
                });
                b->UseManualTime()->Unit(benchmark::kMillisecond);
                if (p.fixedIterations)
                    b->Iterations(p.fixedIterations);
                else if (rows >= 100'000 && std::string_view(p.name) == "delete+renumber")
                    b->Iterations(1);
            }
        }
    }
    return true;
}();

// ---- peak memory ---------------------------------------------------------------

long peakKb() {
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    return ru.ru_maxrss;
}

// Run in a child of its own so the figure holds nothing of the benchmarks:
// prints the peak after connecting, after opening, after a full scan.
[[maybe_unused]] const bool gProbe = [] {
    const char* file = std::getenv("TSL_BENCH_RSS_BOOK");
    if (!file)
        return false;
    try {
        CursorOn on(file, false);
        long connected = peakKb();
        on.cur.open();
        long opened = peakKb();
        long long sum = 0;
        for (on.cur.first(); !on.cur.eof(); on.cur.next())
            sum += tsl::strToInt(on.cur.fieldText(tsl::amountPosition(2)));
        benchmark::DoNotOptimize(sum);
        std::printf("%ld %ld %ld %d\n", connected, opened, peakKb(), on.cur.recordCount());
    } catch (const std::exception& e) {
        std::printf("error %s\n", e.what());
    }
    std::fflush(stdout);
    _exit(0);
}();

std::string selfPath() {
    std::error_code ec;
    auto p = fs::read_symlink("/proc/self/exe", ec);
    return ec ? std::string() : p.string();
}

void printMemory() {
    auto it = gBooks.find(kRssRows);
    if (it == gBooks.end())
        return;
    std::string cmd = "TSL_BENCH_RSS_BOOK='" + it->second + "' '" + selfPath() + "'";
    FILE* p = popen(cmd.c_str(), "r");
    if (!p)
        return;
    long connected = 0, opened = 0, scanned = 0;
    int n = 0;
    int got = std::fscanf(p, "%ld %ld %ld %d", &connected, &opened, &scanned, &n);
    pclose(p);
    if (got != 4) {
        std::printf("peak RSS probe failed\n");
        return;
    }
    const double mib = 1024.0, rowids = 8.0 * n / mib / mib;
    std::printf("\npeak RSS, %d-row book in a fresh process: connected %.1f MiB, opened %.1f MiB, "
                "after a full scan %.1f MiB\n",
                n, connected / mib, opened / mib, scanned / mib);
    std::printf("  opening added %.1f MiB (SQLite's page cache, up to 2 MiB, included); "
                "8 B x rows = %.1f MiB (%.2fx)\n",
                (opened - connected) / mib, rowids, (opened - connected) / mib / rowids);
    std::printf("peak RSS of this benchmark process: %.1f MiB\n", peakKb() / mib);
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

struct Report {
    ~Report() {
        bool header = false;
        for (const auto& [key, t] : gTimes) {
            if (t.cursor.empty() || t.raw.empty())
                continue;
            if (!header) {
                std::printf("\n%-16s %9s %12s %12s %7s  %s\n", "operation", "rows", "cursor ms", "raw ms", "ratio",
                            "target");
                header = true;
            }
            const auto [op, rows] = key;
            const double c = median(t.cursor), r = median(t.raw), ratio = c / r;
            std::string target;
            if (kTargets[op] > 0 && rows == kSizes[std::size(kSizes) - 1])
                target = (ratio <= kTargets[op] ? "<= " : "MISSED ") + std::to_string(kTargets[op]).substr(0, 3);
            std::printf("%-16s %9d %12.4f %12.4f %7.2f  %s\n", kOpNames[op], rows, c, r, ratio, target.c_str());
        }
        printMemory();
        for (const auto& [rows, file] : gBooks)
            fs::remove(file);
        fs::remove("work.mdb");
        std::fflush(stdout);
    }
} gReport;

} // namespace
