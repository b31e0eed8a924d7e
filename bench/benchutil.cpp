#include "bench/benchutil.h"

#include "forms/Unit1.h"
#include "forms/fhbd.h"
#include "forms/jg.h"
#include "forms/jhbd.h"
#include "widgets/look.h"
#include "storage/schema.h"

#include <cstdlib>
#include <QApplication>
#include <QKeyEvent>

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <stdexcept>
#include <thread>
#include <utility>

namespace fs = std::filesystem;

namespace tslbench {

namespace {

// ---- times -------------------------------------------------------------------

struct Times {
    std::vector<double> program, raw;       // wall milliseconds per operation
    std::vector<double> programCpu, rawCpu; // CPU milliseconds
};

std::map<std::pair<Op, int>, Times>& times() {
    static std::map<std::pair<Op, int>, Times> t;
    return t;
}

std::set<std::string>& failures() {
    static std::set<std::string> f;
    return f;
}

std::vector<std::function<void()>>& notes() {
    static std::vector<std::function<void()>> n;
    return n;
}

constexpr const char* opName(Op op) {
    switch (op) {
    case Op::Open: return "open (cursor)";
    case Op::OpenSum: return "open+sum (cursor)";
    case Op::AppendPost: return "append+post (cursor)";
    case Op::DeleteRenumber: return "delete+renumber (cursor)";
    case Op::OpenShipmentBook: return "open shipment book (workspace)";
    case Op::Settlement: return "settlement, 1% matching";
    case Op::OverallReport: return "overall report (4 books of N/4)";
    case Op::ShipmentAdd: return "shipment dialog add";
    case Op::Autofill: return "autofill keystroke";
    case Op::ConfirmInsert: return "confirm vs durable insert";
    case Op::DeleteRenumberDialog: return "delete+renumber (workspace)";
    case Op::ExportCsv: return "export csv (raw: sqlite3 -csv)";
    case Op::ExportXlsx: return "export xlsx (raw: lxw const-mem)";
    case Op::Snapshot: return "backup snapshot";
    case Op::Restore: return "restore (snapshot first)";
    case Op::UndoDelete: return "undo delete of row 1";
    case Op::YearGlance: return "year at a glance";
    case Op::YearFigures: return "year at a glance (figures only)";
    case Op::FindFirst: return "find: first search (makes its copy)";
    case Op::FindKeystroke: return "find keystroke";
    case Op::SortAmount: return "sort by amount";
    case Op::ServerOpenSum: return "server open+sum (raw: libpq)";
    case Op::ServerAppendPost: return "server append+post (raw: libpq)";
    case Op::ServerSettlement: return "server settlement, 1% (raw: libpq)";
    case Op::ServerOverallReport: return "server overall report (raw: libpq)";
    case Op::ServerDeleteRenumber: return "server delete+renumber (raw: libpq)";
    case Op::Count: break;
    }
    return "?";
}


std::string loadAverage() {
    std::ifstream in("/proc/loadavg");
    std::string one, five, fifteen;
    in >> one >> five >> fifteen;
    return one.empty() ? std::string("unknown") : one + " " + five + " " + fifteen;
}

const std::string gLoadAtStart = loadAverage();

// ---- files -------------------------------------------------------------------------

std::set<std::string>& madeFiles() {
    static std::set<std::string> f;
    return f;
}

void freshFromIndex(const std::string& file) {
    madeFiles().insert(file);
    fs::remove(file);
    fs::copy_file(std::string(tsl::kStoredIndexFile), file);
}

} // namespace

double median(std::vector<double> v) {
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

std::string selfPath() {
    std::error_code ec;
    auto p = fs::read_symlink("/proc/self/exe", ec);
    return ec ? std::string() : p.string();
}

double cpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

void record(benchmark::State& state, Op op, int rows, bool program, double seconds) {
    state.SetIterationTime(seconds);
    auto& t = times()[{op, rows}];
    (program ? t.program : t.raw).push_back(seconds * 1e3);
    (program ? t.programCpu : t.rawCpu).push_back(gLastCpuSeconds * 1e3);
}

benchmark::internal::Benchmark* add(const std::string& name, std::function<void(benchmark::State&)> fn) {
    auto* b = benchmark::RegisterBenchmark(name.c_str(), [name, fn = std::move(fn)](benchmark::State& state) {
        // A failure (no run.dll here, a full disk, a wrong result) skips the one benchmark.
        try {
            fn(state);
        } catch (const std::exception& e) {
            state.SkipWithError(e.what());
        }
        if (state.error_occurred())
            failures().insert(name);
    });
    return b->UseManualTime()->Unit(benchmark::kMillisecond);
}

void addPair(const std::string& group, const char* name, const char* programTag, SizedFn program, SizedFn raw,
             int rows, int iterations) {
    for (bool mine : {true, false}) {
        const SizedFn fn = mine ? program : raw;
        auto* b = add(group + "/" + name + "/" + (mine ? programTag : "raw") + "/" + std::to_string(rows),
                      [fn, rows](benchmark::State& state) { fn(state, rows); });
        if (iterations)
            b->Iterations(iterations);
    }
}

void addNote(std::function<void()> note) { notes().push_back(std::move(note)); }

bool printTable() {
    bool header = false;
    for (const auto& [key, t] : times()) {
        if (t.program.empty() || t.raw.empty())
            continue;
        if (!header) {
            std::printf("\n%-34s %9s %12s %12s %8s %10s\n", "operation", "rows", "program ms", "raw ms", "ratio",
                        "cpu ratio");
            std::printf("%s\n", std::string(34 + 1 + 9 + 1 + 12 + 1 + 12 + 1 + 8 + 1 + 10, '-').c_str());
            header = true;
        }
        const auto [op, rows] = key;
        const double p = median(t.program), r = median(t.raw);
        const double pc = median(t.programCpu), rc = median(t.rawCpu);
        std::printf("%-34s %9d %12.3f %12.3f %8.2f %10.2f\n", opName(op), rows, p, r, r > 0 ? p / r : 0.0,
                    rc > 0 ? pc / rc : 0.0);
    }
    if (!header) {
        std::printf("\nno operation was measured both ways\n");
    } else {
        std::printf("\nms: median wall time over every iteration of every repetition. program: the program's own\n"
                    "cursor or windows; raw: plain SQLite statements doing the same work on the same data.\n"
                    "cpu ratio: the same for the process's CPU time (user and system), which the other work\n"
                    "on a shared machine disturbs much less; waits for the disk count in the wall time only.\n"
                    "Shipment dialog add and autofill: customer book and lookup lists of min(rows, %d).\n"
                    "Open shipment book includes drawing the grid (5 to 15 ms whatever the size), which\n"
                    "raw SQLite does not do; it dominates the ratio on small books.\n",
                    kListCap);
    }
    // TSLBENCH_NO_NOTES skips the notes (a profile of one line needs none of them).
    if (!std::getenv("TSLBENCH_NO_NOTES"))
        for (const auto& note : notes())
            note();
    for (const auto& name : failures())
        std::printf("FAILED: %s (its row in the table, if any, is not to be trusted)\n", name.c_str());
    std::printf("machine: %u cores; load average (1, 5, 15 min) at start %s, at end %s\n",
                std::thread::hardware_concurrency(), gLoadAtStart.c_str(), loadAverage().c_str());
    std::fflush(stdout);
    return failures().empty();
}

void cleanUp() {
    std::error_code ec;
    for (const auto& f : madeFiles()) {
        fs::remove(f, ec);
        fs::remove(f + "-journal", ec);
    }
}

// ---- raw SQLite ---------------------------------------------------------------------

RawDb::RawDb(const std::string& file) {
    // Opened as the program's connection opens its file.
    if (sqlite3_open_v2(file.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr) != SQLITE_OK) {
        std::string msg = db_ ? sqlite3_errmsg(db_) : "out of memory";
        sqlite3_close(db_);
        throw std::runtime_error("cannot open " + file + ": " + msg);
    }
    // The same durability the program's connection asks for.
    exec("PRAGMA journal_mode=DELETE; PRAGMA synchronous=EXTRA;");
}

RawDb::~RawDb() { sqlite3_close_v2(db_); }

void RawDb::exec(const std::string& sql) {
    char* err = nullptr;
    if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &err) != SQLITE_OK) {
        std::string msg = err ? err : sqlite3_errmsg(db_);
        sqlite3_free(err);
        throw std::runtime_error(msg);
    }
}

sqlite3_stmt* RawDb::prepare(const std::string& sql) {
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db_, sql.c_str(), int(sql.size()), &st, nullptr) != SQLITE_OK)
        throw std::runtime_error(sqlite3_errmsg(db_));
    return st;
}

void RawDb::step(sqlite3_stmt* st) {
    if (sqlite3_step(st) != SQLITE_DONE)
        throw std::runtime_error(sqlite3_errmsg(db_));
    sqlite3_reset(st);
}

int RawDb::count(std::string_view table) {
    sqlite3_stmt* st = prepare("SELECT count(*) FROM \"" + std::string(table) + "\"");
    const int n = sqlite3_step(st) == SQLITE_ROW ? sqlite3_column_int(st, 0) : -1;
    sqlite3_finalize(st);
    return n;
}

std::string RawDb::first(const std::string& sql) {
    sqlite3_stmt* st = prepare(sql);
    std::string out;
    if (sqlite3_step(st) == SQLITE_ROW)
        out = std::string(columnView(st, 0));
    sqlite3_finalize(st);
    return out;
}

std::string_view columnView(sqlite3_stmt* st, int col) {
    auto* t = reinterpret_cast<const char*>(sqlite3_column_text(st, col));
    return t ? std::string_view(t, std::size_t(sqlite3_column_bytes(st, col))) : std::string_view();
}

void fill(RawDb& db, std::string_view table, int rows, const std::function<std::vector<std::string>(long long)>& row) {
    const auto* def = tsl::findTable(table);
    if (!def)
        throw std::runtime_error("no table " + std::string(table));
    std::string marks;
    for (std::size_t i = 0; i < def->fields.size(); ++i)
        marks += i ? ", ?" : "?";
    sqlite3_stmt* ins = db.prepare("INSERT INTO \"" + std::string(table) + "\" VALUES (" + marks + ")");
    for (long long k = 1; k <= rows; ++k) {
        const std::vector<std::string> values = row(k);
        for (std::size_t i = 0; i < values.size(); ++i)
            sqlite3_bind_text(ins, int(i) + 1, values[i].data(), int(values[i].size()), SQLITE_TRANSIENT);
        db.step(ins);
    }
    sqlite3_finalize(ins);
}

// ---- generated data ---------------------------------------------------------------------

std::string stampOf(long long k) { return "(" + std::to_string(k) + ")2026-12-8"; }
std::string amountOf(long long k) { return std::to_string((k * 7919) % 100000 - 20000); }
std::string customerName(long long k) { return "客户" + std::to_string(k) + "号"; }
std::string customerAddress(long long k) { return "浙江省桐乡市濮院镇" + std::to_string(k) + "号"; }
std::string kindName(long long k) { return "款式" + std::to_string(k); }

std::vector<std::string> shipmentRow(long long k) {
    static const char* kinds[] = {"羊毛衫", "羊绒衫", "开衫", "背心"};
    return {stampOf(k),
            k % kMatchEvery == 0 ? kSettled : customerName(k % 997),
            kinds[k % 4],
            std::to_string(k % 50 + 1),
            customerAddress(k % 200),
            "314500",
            amountOf(k)};
}

long long expectedSum(long long rows) {
    long long s = 0;
    for (long long k = 1; k <= rows; ++k)
        s += std::stoll(amountOf(k));
    return s;
}

long long expectedSettled(long long rows) {
    long long s = 0;
    for (long long k = kMatchEvery; k <= rows; k += kMatchEvery)
        s += std::stoll(amountOf(k));
    return s;
}

std::vector<std::string> customerRow(long long k) {
    return {customerName(k), customerAddress(k), std::to_string(314500 + k % 100), "88881234", "13900000000"};
}

std::vector<std::string> purchaseRow(long long k) { return {stampOf(k), "纱厂", "羊毛纱", "5", amountOf(k)}; }

std::vector<std::string> deliveryRow(long long k) { return {stampOf(k), "小王", "套口", "30", amountOf(k)}; }

namespace {

// A ledger made once per run (per kind and size) from the empty index.
const std::string& madeOnce(const std::string& kind, int rows, const std::function<void(RawDb&)>& fillIn) {
    static std::map<std::pair<std::string, int>, std::string> made;
    if (auto it = made.find({kind, rows}); it != made.end())
        return it->second;
    const std::string file = kind + "-" + std::to_string(rows) + ".mdb";
    freshFromIndex(file);
    {
        RawDb db(file);
        db.exec("PRAGMA synchronous=OFF; BEGIN");
        fillIn(db);
        db.exec("COMMIT");
    }
    return made[{kind, rows}] = file;
}

} // namespace

const std::string& ledger(int rows) {
    return madeOnce("ledger", rows, [rows](RawDb& db) {
        const int lists = listRows(rows);
        fill(db, tsl::table::customers, lists, customerRow);
        fill(db, tsl::table::customerNames, lists, [](long long k) { return std::vector{customerName(k)}; });
        fill(db, tsl::table::garmentKinds, lists, [](long long k) { return std::vector{kindName(k)}; });
        fill(db, tsl::table::shipments, rows, shipmentRow);
        fill(db, tsl::table::purchases, rows, purchaseRow);
    });
}

const std::string& reportLedger(int rows) {
    return madeOnce("report", rows, [rows](RawDb& db) {
        const int quarter = rows / 4;
        fill(db, tsl::table::customers, quarter, customerRow);
        fill(db, tsl::table::shipments, quarter, shipmentRow);
        fill(db, tsl::table::purchases, quarter, purchaseRow);
        fill(db, tsl::table::deliveries, quarter, deliveryRow);
    });
}

int yearMonthOf(long long k) { return k % 1000 == 0 ? 0 : int((k * 7) % 12) + 1; }

std::string yearStampOf(long long k) {
    const int month = yearMonthOf(k);
    if (month == 0)
        return "(" + std::to_string(k) + ")不明";
    return "(" + std::to_string(k) + ")2026-" + std::to_string(month) + "-" + std::to_string(k % 28 + 1);
}

const std::string& yearLedger(int rows) {
    return madeOnce("year", rows, [rows](RawDb& db) {
        fill(db, tsl::table::customers, listRows(rows), customerRow);
        fill(db, tsl::table::shipments, rows / 2, [](long long k) {
            auto r = shipmentRow(k);
            r[0] = yearStampOf(k);
            return r;
        });
        fill(db, tsl::table::purchases, rows / 4, [](long long k) {
            return std::vector<std::string>{yearStampOf(k), "纱厂" + std::to_string(k % 50), "羊毛纱", "5", amountOf(k)};
        });
        fill(db, tsl::table::deliveries, rows / 4, [](long long k) {
            return std::vector<std::string>{yearStampOf(k), "职工" + std::to_string(k % 30), "套口", "30", amountOf(k)};
        });
    });
}

std::string workCopy(const std::string& from, const std::string& name) {
    madeFiles().insert(name);
    fs::remove(name + "-journal");
    fs::copy_file(from, name, fs::copy_options::overwrite_existing);
    return name;
}

// ---- the windows ------------------------------------------------------------------------

namespace {

// The offscreen platform cannot raise a window; saying so at every dialog drowns the output.
QtMessageHandler gDefaultHandler = nullptr;

void quietHandler(QtMsgType type, const QMessageLogContext& context, const QString& msg) {
    if (type == QtWarningMsg && msg.startsWith(QLatin1String("This plugin does not support")))
        return;
    gDefaultHandler(type, context, msg);
}

} // namespace

QApplication& app() {
    if (auto* a = qobject_cast<QApplication*>(QCoreApplication::instance()))
        return *a;
    gDefaultHandler = qInstallMessageHandler(quietHandler);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "tslbench";
    static char* argv[] = {name, nullptr};
    auto* a = new QApplication(argc, argv); // lives to the end of the process
    applyAppLook(*a);
    return *a;
}

Desk::Desk(const std::string& file, std::string_view book) {
    app();
    roster.Form1 = std::make_unique<TForm1>(roster);
    roster.j = std::make_unique<Tj>(roster);
    roster.fhb = std::make_unique<Tfhb>(roster);
    roster.jhb = std::make_unique<Tjhb>(roster);
    w = roster.Form1.get();
    w->ado1.setConnectionString(tsl::connectionString(file));
    w->ado1.connect();
    w->table1.setTableName(std::string(book));
    w->table1.open();
    w->show();
    QApplication::processEvents();
}

Desk::~Desk() {
    roster.fhb->close();
    roster.j->close();
    w->hide();
    QApplication::processEvents();
}

void key(QWidget* w, int k, const QString& text) {
    QKeyEvent press(QEvent::KeyPress, k, Qt::NoModifier, text);
    QApplication::sendEvent(w, &press);
    QKeyEvent release(QEvent::KeyRelease, k, Qt::NoModifier, text);
    QApplication::sendEvent(w, &release);
}

} // namespace tslbench
