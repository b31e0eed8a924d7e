// What every benchmark shares: the generated ledgers, raw SQLite helpers, the
// application object, a workspace without the chooser, and the bookkeeping of
// times that ends in one table of every operation beside raw SQLite.
#pragma once
#include "widgets/prompter.h"
#include "forms/roster.h"
#include "storage/connection.h"
#include "storage/cursor.h"
#include "storage/schema.h"
#include "storage/stamp.h"

#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <QString>

#include <algorithm>
#include <chrono>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

class QApplication;
class QWidget;
class TForm1;

namespace tslbench {

// Rows of the measured book.
inline constexpr int kSizes[] = {1'000, 100'000, 1'000'000};
// The customer book and the lookup lists hold min(rows, kListCap) entries.
inline constexpr int kListCap = 10'000;
// Every kMatchEvery-th shipment carries the settled name: 1% of the rows.
inline constexpr int kMatchEvery = 100;
inline const std::string kSettled = "张三";

[[nodiscard]] inline int listRows(int rows) { return std::min(rows, kListCap); }

// ---- operations and their times ------------------------------------------------

// In the order of the table.
enum class Op {
    Open,
    OpenSum,
    AppendPost,
    DeleteRenumber,
    OpenShipmentBook,
    Settlement,
    OverallReport,
    ShipmentAdd,
    Autofill,
    ConfirmInsert,
    DeleteRenumberDialog,
    ExportCsv,
    ExportXlsx,
    Snapshot,
    Restore,
    UndoDelete,
    YearGlance,
    YearFigures,
    FindFirst,
    FindKeystroke,
    SortAmount,
    ServerOpenSum,
    ServerAppendPost,
    ServerSettlement,
    ServerOverallReport,
    ServerDeleteRenumber,
    Count
};

// CPU seconds of this process so far (every thread, user and system).
[[nodiscard]] double cpuSeconds();

// CPU time of the last timed() call: on a machine shared with other work the
// wall time measures the load as much as the code, the CPU time much less.
inline double gLastCpuSeconds = 0;

template <class F>
double timed(F&& f) {
    const double c0 = cpuSeconds();
    const auto t0 = std::chrono::steady_clock::now();
    f();
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    gLastCpuSeconds = cpuSeconds() - c0;
    return wall;
}

// Sets the iteration's time and keeps it (in ms) for the table, with the CPU
// time of the timed() call that measured it.
void record(benchmark::State& state, Op op, int rows, bool program, double seconds);

// Registers a benchmark timed by hand in milliseconds; an exception skips it with its message.
benchmark::internal::Benchmark* add(const std::string& name, std::function<void(benchmark::State&)> fn);

// Registers "group/name/<programTag>/rows" and "group/name/raw/rows", the
// program's way and the raw way of one operation; iterations 0 lets the library choose.
using SizedFn = void (*)(benchmark::State&, int);
void addPair(const std::string& group, const char* name, const char* programTag, SizedFn program, SizedFn raw,
             int rows, int iterations = 0);

// Median of some times; 0 for none.
[[nodiscard]] double median(std::vector<double> v);

// This program's own path, to run a fresh copy of it for a probe.
[[nodiscard]] std::string selfPath();

// Something to print under the table (peak memory and the like).
void addNote(std::function<void()> note);

// The table: operation, rows, program ms (median), raw ms (median), ratio; then the
// notes and the benchmarks that failed. False when any failed.
bool printTable();

// Removes every file the benchmarks made.
void cleanUp();

// ---- raw SQLite -------------------------------------------------------------------

// A connection opened as the program opens a ledger, with the same durability.
class RawDb {
public:
    explicit RawDb(const std::string& file);
    ~RawDb();
    RawDb(const RawDb&) = delete;
    RawDb& operator=(const RawDb&) = delete;

    void exec(const std::string& sql);
    sqlite3_stmt* prepare(const std::string& sql);
    void step(sqlite3_stmt* st); // expects SQLITE_DONE, then resets
    int count(std::string_view table);
    std::string first(const std::string& sql); // first column of the first row, or ""

private:
    sqlite3* db_ = nullptr;
};

[[nodiscard]] std::string_view columnView(sqlite3_stmt* st, int col);

// Appends `rows` rows made by `row(k)`, k = 1..rows, to `table` (all its fields, in order).
void fill(RawDb& db, std::string_view table, int rows, const std::function<std::vector<std::string>(long long)>& row);

// The shipment book of a ledger file on a cursor of its own, opened unless asked not to.
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

// ---- generated data ------------------------------------------------------------------

[[nodiscard]] std::string stampOf(long long k); // "(k)2026-12-8"
[[nodiscard]] std::string amountOf(long long k);
[[nodiscard]] std::string customerName(long long k); // "客户k号"
[[nodiscard]] std::string customerAddress(long long k);
[[nodiscard]] std::string kindName(long long k);
[[nodiscard]] std::vector<std::string> shipmentRow(long long k);
[[nodiscard]] std::vector<std::string> customerRow(long long k);
[[nodiscard]] std::vector<std::string> purchaseRow(long long k);
[[nodiscard]] std::vector<std::string> deliveryRow(long long k);
[[nodiscard]] long long expectedSum(long long rows);     // amounts of rows 1..rows
[[nodiscard]] long long expectedSettled(long long rows); // amounts of the settled name's rows

// Made once per run in the current folder from the empty index "run.dll":
// shipments and purchases of `rows` rows, customers and the two lookup lists
// (customer names, garment kinds) of listRows(rows).
const std::string& ledger(int rows);
// The four books of rows / 4 rows each, for the overall report.
const std::string& reportLedger(int rows);
// A year of the workshop in N rows: shipments N/2, purchases and deliveries N/4
// each, dated over the twelve months (yyyy-m-d, the bench clock's pattern), one
// stamp in a thousand unreadable; customers of listRows(rows).
const std::string& yearLedger(int rows);
[[nodiscard]] std::string yearStampOf(long long k); // "(k)2026-M-D"; "(k)不明" for every 1000th
[[nodiscard]] int yearMonthOf(long long k);         // 1..12, 0 for the unreadable ones
// A fresh copy of `from` under `name`, for the operations that change a ledger.
std::string workCopy(const std::string& from, const std::string& name);

// ---- the windows, without the chooser (which would rename the index) -----------------

QApplication& app();

class BenchPrompter final : public Prompter {
public:
    void message(const QString& text) override { messages.push_back(text); }
    bool askYesNo(const QString&) override { return true; }
    QString inputText(const QString&, const QString&, int) override { return {}; }
    void error(const QString& message) override { errors.push_back(message); }
    QString savePath(const QString&, const QString&, const QString&) override { return savePaths; }
    std::vector<QString> messages, errors;
    QString savePaths; // every save box is answered with this path
};

// The workspace on a ledger, showing one book, with the settlement window and
// the shipment and purchase dialogs.
struct Desk {
    BenchPrompter prompter;
    tsl::FixedClock clock{{2026, 12, 8}, "yyyy-M-d"};
    Roster roster{prompter, clock};
    TForm1* w = nullptr;

    Desk(const std::string& file, std::string_view book);
    ~Desk();
    Desk(const Desk&) = delete;
    Desk& operator=(const Desk&) = delete;

    [[nodiscard]] bool clean() const { return prompter.errors.empty() && prompter.messages.empty(); }
};

// A key press and release sent straight to a widget.
void key(QWidget* w, int k, const QString& text = {});

} // namespace tslbench
