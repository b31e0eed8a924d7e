// The workspace's own operations on large ledgers, each beside the raw SQLite
// statement doing the same work: opening a shipment book (status summary and
// grid), a settlement matching 1% of the rows, and the overall report. At exit a
// table of medians and ratios is printed.
#include "Unit1.h"
#include "gridmodel.h"
#include "intconv.h"
#include "jg.h"
#include "look.h"
#include "prompter.h"
#include "roster.h"
#include "schema.h"
#include "stamp.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QStatusBar>
#include <QTableView>
#include <QToolButton>

#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr int kBigBook = 1'000'000;     // shipment book for opening and settling
constexpr int kQuarterBook = 250'000;   // each of the four books of the report
constexpr int kMatchEvery = 100;        // 1% of the shipments carry the settled name
const std::string kSettled = "张三";

// ---- results ------------------------------------------------------------------

struct Times {
    std::vector<double> ws, raw; // milliseconds per operation
};

enum Op { OpOpen, OpSettle, OpReport, OpCount };
constexpr const char* kOpNames[OpCount] = {"open shipment book (1M rows)", "settlement, 1% matching (1M rows)",
                                           "overall report (4 x 250k rows)"};

double median(std::vector<double> v) {
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

struct Report {
    Times times[OpCount];
    ~Report() {
        bool any = false;
        for (const auto& t : times)
            any = any || (!t.ws.empty() && !t.raw.empty());
        if (!any)
            return;
        std::printf("\nworkspace operation                     workspace ms     raw ms   ratio (target <= 3x)\n");
        for (int op = 0; op < OpCount; ++op) {
            const Times& t = times[op];
            if (t.ws.empty() || t.raw.empty())
                continue;
            const double w = median(t.ws), r = median(t.raw);
            std::printf("%-38s %12.1f %10.1f %7.2fx\n", kOpNames[op], w, r, r > 0 ? w / r : 0.0);
        }
    }
} gReport;

void record(benchmark::State& state, Op op, bool workspace, double seconds) {
    state.SetIterationTime(seconds);
    (workspace ? gReport.times[op].ws : gReport.times[op].raw).push_back(seconds * 1e3);
}

template <class F>
double timed(F&& f) {
    const auto t0 = std::chrono::steady_clock::now();
    f();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

// ---- the generated ledgers ------------------------------------------------------

class RawDb {
public:
    explicit RawDb(const std::string& file) {
        if (sqlite3_open_v2(file.c_str(), &db_, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
            std::string msg = db_ ? sqlite3_errmsg(db_) : "out of memory";
            sqlite3_close(db_);
            throw std::runtime_error("cannot open " + file + ": " + msg);
        }
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

private:
    sqlite3* db_ = nullptr;
};

std::string_view columnView(sqlite3_stmt* st, int col) {
    auto* t = reinterpret_cast<const char*>(sqlite3_column_text(st, col));
    return t ? std::string_view(t, std::size_t(sqlite3_column_bytes(st, col))) : std::string_view();
}

std::string amountOf(long long k) { return std::to_string((k * 7919) % 100000 - 20000); }
std::string nameOf(long long k) { return k % kMatchEvery == 0 ? kSettled : "客户" + std::to_string(k % 997); }

// Fills `table` (fields in order) with `rows` rows made by `row`.
template <class RowFn>
void fill(RawDb& db, std::string_view table, int rows, RowFn row) {
    const auto* def = tsl::findTable(table);
    std::string marks;
    for (std::size_t i = 0; i < def->fields.size(); ++i)
        marks += i ? ", ?" : "?";
    sqlite3_stmt* ins = db.prepare("INSERT INTO \"" + std::string(table) + "\" VALUES (" + marks + ")");
    for (long long k = 1; k <= rows; ++k) {
        const std::vector<std::string> values = row(k);
        for (std::size_t i = 0; i < values.size(); ++i)
            sqlite3_bind_text(ins, int(i) + 1, values[i].data(), int(values[i].size()), SQLITE_TRANSIENT);
        if (sqlite3_step(ins) != SQLITE_DONE)
            throw std::runtime_error("insert failed");
        sqlite3_reset(ins);
    }
    sqlite3_finalize(ins);
}

std::vector<std::string> shipment(long long k) {
    return {"(" + std::to_string(k) + ")2026-12-8", nameOf(k), "羊毛衫", std::to_string(k % 50 + 1),
            "浙江省嘉兴市桐乡市濮院镇" + std::to_string(k % 200) + "号", "314500", amountOf(k)};
}

int rowsIn(const std::string& file, const std::string& table) {
    RawDb db(file);
    sqlite3_stmt* st = db.prepare("SELECT count(*) FROM \"" + table + "\"");
    const int n = sqlite3_step(st) == SQLITE_ROW ? sqlite3_column_int(st, 0) : -1;
    sqlite3_finalize(st);
    return n;
}

// A ledger made once per run from the empty index in the current folder.
std::string ledger(const std::string& file, bool quarters) {
    static std::map<std::string, bool> made;
    if (made[file])
        return file;
    if (fs::exists(file) && rowsIn(file, "2") == (quarters ? kQuarterBook : kBigBook) &&
        rowsIn(file, "4") == (quarters ? kQuarterBook : 0)) {
        made[file] = true; // left by an earlier run in this folder
        return file;
    }
    fs::remove(file);
    fs::copy_file(std::string(tsl::kStoredIndexFile), file);
    RawDb db(file);
    db.exec("PRAGMA synchronous=OFF; BEGIN");
    if (quarters) {
        fill(db, tsl::table::customers, kQuarterBook, [](long long k) {
            return std::vector<std::string>{"客户" + std::to_string(k), "地址", "314500", "88881234", "139"};
        });
        fill(db, tsl::table::shipments, kQuarterBook, shipment);
        fill(db, tsl::table::purchases, kQuarterBook, [](long long k) {
            return std::vector<std::string>{"(" + std::to_string(k) + ")2026-12-8", "纱厂", "羊毛纱", "5", amountOf(k)};
        });
        fill(db, tsl::table::deliveries, kQuarterBook, [](long long k) {
            return std::vector<std::string>{"(" + std::to_string(k) + ")2026-12-8", "小王", "套口", "30", amountOf(k)};
        });
    } else {
        fill(db, tsl::table::shipments, kBigBook, shipment);
    }
    db.exec("COMMIT");
    made[file] = true;
    return file;
}

long long expectedSum(int rows) {
    long long s = 0;
    for (long long k = 1; k <= rows; ++k)
        s += std::stoll(amountOf(k));
    return s;
}

// ---- the workspace, without the chooser (which would rename the index) ------------

class BenchPrompter final : public Prompter {
public:
    void message(const QString& text) override { messages.push_back(text); }
    bool askYesNo(const QString&) override { return false; }
    QString inputText(const QString&, const QString&, int) override { return {}; }
    void error(const QString& message) override { errors.push_back(message); }
    std::vector<QString> messages, errors;
};

QApplication& app() {
    // Shared with any other benchmark that needs one.
    if (auto* a = qobject_cast<QApplication*>(QCoreApplication::instance()))
        return *a;
    static int argc = 1;
    static char name[] = "tslbench";
    static char* argv[] = {name, nullptr};
    auto* a = new QApplication(argc, argv); // lives to the end of the process
    applyAppLook(*a);
    return *a;
}

struct Workspace {
    BenchPrompter prompter;
    tsl::SystemClock clock;
    Roster roster{prompter, clock};
    TForm1* w;
    Tj* j;

    explicit Workspace(const std::string& file) {
        app();
        roster.Form1 = std::make_unique<TForm1>(roster);
        roster.j = std::make_unique<Tj>(roster);
        w = roster.Form1.get();
        j = roster.j.get();
        w->ado1.setConnectionString(tsl::connectionString(file));
        w->ado1.connect();
        w->table1.setTableName("1");
        w->table1.open();
        w->show();
        QApplication::processEvents();
    }
    ~Workspace() {
        j->close();
        w->hide();
        QApplication::processEvents();
    }
};

// ---- opening a shipment book --------------------------------------------------------

void openWorkspace(benchmark::State& state) {
    Workspace ws(ledger("ws-1m.mdb", false));
    const QString expected = QStringLiteral("总共已经发了%1次货!总的金额为:%2元人民币! 恭喜发财!!")
                                 .arg(kBigBook)
                                 .arg(expectedSum(kBigBook));
    for (auto _ : state) {
        record(state, OpOpen, true, timed([&] {
                   ws.w->SpeedButton2->click();      // close, open, command enabling, status summary
                   ws.w->grid1->viewport()->repaint(); // and the grid drawn
               }));
        if (ws.w->statusSummary() != expected || !ws.prompter.errors.empty())
            state.SkipWithError("wrong status summary");
        ws.w->SpeedButton1->click();
    }
}

void openRaw(benchmark::State& state) {
    RawDb db(ledger("ws-1m.mdb", false));
    for (auto _ : state) {
        long long sum = 0;
        int n = 0;
        record(state, OpOpen, false, timed([&] {
                   sqlite3_stmt* st = db.prepare("SELECT \"总金额\" FROM \"2\" ORDER BY rowid");
                   while (sqlite3_step(st) == SQLITE_ROW) {
                       sum += tsl::strToInt(columnView(st, 0));
                       ++n;
                   }
                   sqlite3_finalize(st);
               }));
        if (sum != expectedSum(kBigBook) || n != kBigBook)
            state.SkipWithError("wrong sum");
    }
}

// ---- settlement ---------------------------------------------------------------------

long long expectedSettled() {
    long long s = 0;
    for (long long k = kMatchEvery; k <= kBigBook; k += kMatchEvery)
        s += std::stoll(amountOf(k));
    return s;
}

void settleWorkspace(benchmark::State& state) {
    Workspace ws(ledger("ws-1m.mdb", false));
    ws.w->SpeedButton2->click();
    ws.w->edjz->setText(QString::fromStdString(kSettled));
    const QString total = QString::number(expectedSettled()) + QStringLiteral("元");
    for (auto _ : state) {
        record(state, OpSettle, true, timed([&] {
                   ws.w->btnjz->click();
                   ws.j->grid1->viewport()->repaint();
               }));
        if (ws.j->laje->text() != total || ws.j->grid1->rowCount() != 1 + kBigBook / kMatchEvery ||
            !ws.prompter.errors.empty())
            state.SkipWithError("wrong settlement");
        ws.j->close();
    }
}

void settleRaw(benchmark::State& state) {
    RawDb db(ledger("ws-1m.mdb", false));
    for (auto _ : state) {
        long long sum = 0;
        std::vector<std::vector<std::string>> rows;
        record(state, OpSettle, false, timed([&] {
                   sqlite3_stmt* st = db.prepare("SELECT * FROM \"2\" WHERE \"客户姓名\" = ? ORDER BY rowid");
                   sqlite3_bind_text(st, 1, kSettled.data(), int(kSettled.size()), SQLITE_STATIC);
                   while (sqlite3_step(st) == SQLITE_ROW) {
                       const int n = sqlite3_column_count(st);
                       sum += tsl::strToInt(columnView(st, n - 1));
                       auto& row = rows.emplace_back();
                       for (int c = 0; c < n; ++c)
                           row.emplace_back(columnView(st, c));
                   }
                   sqlite3_finalize(st);
               }));
        if (sum != expectedSettled() || int(rows.size()) != kBigBook / kMatchEvery)
            state.SkipWithError("wrong settlement");
    }
}

// ---- overall report -------------------------------------------------------------------

void reportWorkspace(benchmark::State& state) {
    Workspace ws(ledger("ws-4x250k.mdb", true));
    const QString income = QStringLiteral("今年的总收入为:%1元").arg(-expectedSum(kQuarterBook));
    for (auto _ : state) {
        ws.prompter.messages.clear();
        record(state, OpReport, true, timed([&] { ws.w->SpeedButton5->click(); }));
        if (ws.prompter.messages.size() != 1 || !ws.prompter.messages[0].contains(income))
            state.SkipWithError("wrong report");
    }
}

void reportRaw(benchmark::State& state) {
    RawDb db(ledger("ws-4x250k.mdb", true));
    for (auto _ : state) {
        long long totals[3] = {0, 0, 0};
        long long customers = 0;
        record(state, OpReport, false, timed([&] {
                   sqlite3_stmt* st = db.prepare("SELECT count(*) FROM \"1\"");
                   if (sqlite3_step(st) == SQLITE_ROW)
                       customers = sqlite3_column_int64(st, 0);
                   sqlite3_finalize(st);
                   const char* books[] = {"2", "3", "4"};
                   for (int b = 0; b < 3; ++b) {
                       st = db.prepare("SELECT \"总金额\" FROM \"" + std::string(books[b]) + "\" ORDER BY rowid");
                       while (sqlite3_step(st) == SQLITE_ROW)
                           totals[b] += tsl::strToInt(columnView(st, 0));
                       sqlite3_finalize(st);
                   }
               }));
        if (customers != kQuarterBook || totals[0] - totals[1] - totals[2] != -expectedSum(kQuarterBook))
            state.SkipWithError("wrong report");
    }
}

[[maybe_unused]] const bool gRegistered = [] {
    struct Entry {
        const char* name;
        void (*fn)(benchmark::State&);
    };
    const Entry entries[] = {
        {"workspace/open-shipments/ws/1000000", openWorkspace},
        {"workspace/open-shipments/raw/1000000", openRaw},
        {"workspace/settlement/ws/1000000", settleWorkspace},
        {"workspace/settlement/raw/1000000", settleRaw},
        {"workspace/overall-report/ws/4x250000", reportWorkspace},
        {"workspace/overall-report/raw/4x250000", reportRaw},
    };
    for (const auto& e : entries)
        benchmark::RegisterBenchmark(e.name, e.fn)->UseManualTime()->Unit(benchmark::kMillisecond);
    return true;
}();

} // namespace
