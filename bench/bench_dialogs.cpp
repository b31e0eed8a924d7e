// The record dialogs and commands on large ledgers, each beside the raw SQLite
// statements doing the same work: an add through the shipment dialog (lookup
// lists and customer book of 10,000 rows), the customer autofill on one
// keystroke, and deleting the first row of a big purchase book with the
// renumbering of every stamp after it. At exit a table of medians and ratios is printed.
#include "Unit1.h"
#include "amountspin.h"
#include "fhbd.h"
#include "jhbd.h"
#include "look.h"
#include "prompter.h"
#include "roster.h"
#include "schema.h"
#include "stamp.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>

#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr int kLookups = 10'000;   // entries of "temp1" and "temp5", rows of the customer book
constexpr double kFrameMs = 16.0;

// ---- results ------------------------------------------------------------------

enum Op { OpAdd, OpAutofill, OpDelete100k, OpDelete1m, OpCount };
constexpr const char* kOpNames[OpCount] = {"shipment add (10k lists, 10k customers)", "autofill, one keystroke (10k customers)",
                                           "delete first row + renumber (100k rows)",
                                           "delete first row + renumber (1M rows)"};

double median(std::vector<double> v) {
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

struct Report {
    std::vector<double> ours[OpCount], raw[OpCount];
    ~Report() {
        bool any = false;
        for (int op = 0; op < OpCount; ++op)
            any = any || (!ours[op].empty() && !raw[op].empty());
        if (!any)
            return;
        std::printf("\ndialog operation                              program ms     raw ms    ratio\n");
        for (int op = 0; op < OpCount; ++op) {
            if (ours[op].empty() || raw[op].empty())
                continue;
            const double o = median(ours[op]), r = median(raw[op]);
            std::printf("%-44s %11.2f %10.2f %7.1fx\n", kOpNames[op], o, r, r > 0 ? o / r : 0.0);
        }
        if (!ours[OpAutofill].empty())
            std::printf("autofill keystroke: %.2f ms of a %.0f ms frame\n", median(ours[OpAutofill]), kFrameMs);
    }
} gReport;

void record(benchmark::State& state, Op op, bool program, double seconds) {
    state.SetIterationTime(seconds);
    (program ? gReport.ours[op] : gReport.raw[op]).push_back(seconds * 1e3);
}

template <class F>
double timed(F&& f) {
    const auto t0 = std::chrono::steady_clock::now();
    f();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

// ---- ledgers in a folder of our own -------------------------------------------------

struct Folder {
    fs::path path;
    Folder() {
        std::string tmpl = (fs::temp_directory_path() / "tslbench-dialogs-XXXXXX").string();
        if (!mkdtemp(tmpl.data()))
            throw std::runtime_error("mkdtemp failed");
        path = tmpl;
    }
    ~Folder() {
        std::error_code ec;
        fs::remove_all(path, ec);
    }
};

std::string inFolder(const std::string& name) {
    static Folder folder;
    return (folder.path / name).string();
}

class RawDb {
public:
    explicit RawDb(const std::string& file, bool create = false) {
        const int flags = SQLITE_OPEN_READWRITE | (create ? SQLITE_OPEN_CREATE : 0);
        if (sqlite3_open_v2(file.c_str(), &db_, flags, nullptr) != SQLITE_OK) {
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
    int count(const std::string& table) {
        sqlite3_stmt* st = prepare("SELECT count(*) FROM \"" + table + "\"");
        const int n = sqlite3_step(st) == SQLITE_ROW ? sqlite3_column_int(st, 0) : -1;
        sqlite3_finalize(st);
        return n;
    }
    std::string first(const std::string& sql) {
        sqlite3_stmt* st = prepare(sql);
        std::string out;
        if (sqlite3_step(st) == SQLITE_ROW)
            if (auto* t = sqlite3_column_text(st, 0))
                out = reinterpret_cast<const char*>(t);
        sqlite3_finalize(st);
        return out;
    }

private:
    sqlite3* db_ = nullptr;
};

std::string customerName(int k) { return "客户" + std::to_string(k) + "号"; }
std::string kindName(int k) { return "款式" + std::to_string(k); }
std::string stampOf(int k) { return "(" + std::to_string(k) + ")2026-12-8"; }

template <class RowFn>
void fill(RawDb& db, std::string_view table, int rows, RowFn row) {
    const auto* def = tsl::findTable(table);
    std::string marks;
    for (std::size_t i = 0; i < def->fields.size(); ++i)
        marks += i ? ", ?" : "?";
    sqlite3_stmt* ins = db.prepare("INSERT INTO \"" + std::string(table) + "\" VALUES (" + marks + ")");
    for (int k = 1; k <= rows; ++k) {
        const std::vector<std::string> values = row(k);
        for (std::size_t i = 0; i < values.size(); ++i)
            sqlite3_bind_text(ins, int(i) + 1, values[i].data(), int(values[i].size()), SQLITE_TRANSIENT);
        if (sqlite3_step(ins) != SQLITE_DONE)
            throw std::runtime_error("insert failed");
        sqlite3_reset(ins);
    }
    sqlite3_finalize(ins);
}

// An empty ledger with the customer book and two lookup lists of 10,000 rows,
// and a purchase book of `purchases` rows.
std::string makeLedger(const std::string& name, int purchases) {
    const std::string file = inFolder(name);
    RawDb db(file, true);
    db.exec("PRAGMA synchronous=OFF; BEGIN;" + tsl::schemaSql());
    fill(db, tsl::table::customers, kLookups, [](int k) {
        return std::vector<std::string>{customerName(k), "浙江省桐乡市濮院镇" + std::to_string(k) + "号",
                                        std::to_string(314500 + k % 100), "88881234", "13900000000"};
    });
    fill(db, tsl::table::customerNames, kLookups, [](int k) { return std::vector<std::string>{customerName(k)}; });
    fill(db, tsl::table::garmentKinds, kLookups, [](int k) { return std::vector<std::string>{kindName(k)}; });
    fill(db, tsl::table::purchases, purchases, [](int k) {
        return std::vector<std::string>{stampOf(k), "纱厂", "羊毛纱", "5", std::to_string(k % 1000)};
    });
    db.exec("COMMIT");
    return file;
}

// ---- the workspace and its dialogs, without the chooser -------------------------------

class BenchPrompter final : public Prompter {
public:
    void message(const QString& text) override { messages.push_back(text); }
    bool askYesNo(const QString&) override { return true; }
    QString inputText(const QString&, const QString&, int) override { return {}; }
    void error(const QString& message) override { errors.push_back(message); }
    std::vector<QString> messages, errors;
};

QApplication& app() {
    // Shared with any other benchmark that needs one.
    if (auto* a = qobject_cast<QApplication*>(QCoreApplication::instance()))
        return *a;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "tslbench";
    static char* argv[] = {name, nullptr};
    auto* a = new QApplication(argc, argv); // lives to the end of the process
    applyAppLook(*a);
    return *a;
}

struct Desk {
    BenchPrompter prompter;
    tsl::FixedClock clock{{2026, 12, 8}, "yyyy-M-d"};
    Roster roster{prompter, clock};
    TForm1* w;

    Desk(const std::string& file, std::string_view view) {
        app();
        roster.Form1 = std::make_unique<TForm1>(roster);
        roster.fhb = std::make_unique<Tfhb>(roster);
        roster.jhb = std::make_unique<Tjhb>(roster);
        w = roster.Form1.get();
        w->ado1.setConnectionString(tsl::connectionString(file));
        w->ado1.connect();
        w->table1.setTableName(std::string(view));
        w->table1.open();
        w->show();
        QApplication::processEvents();
    }
    ~Desk() {
        roster.fhb->close();
        w->hide();
        QApplication::processEvents();
    }
    [[nodiscard]] bool clean() const { return prompter.errors.empty() && prompter.messages.empty(); }
};

void key(QWidget* w, int k, const QString& text = {}) {
    QKeyEvent press(QEvent::KeyPress, k, Qt::NoModifier, text);
    QApplication::sendEvent(w, &press);
    QKeyEvent release(QEvent::KeyRelease, k, Qt::NoModifier, text);
    QApplication::sendEvent(w, &release);
}

// ---- add through the shipment dialog ---------------------------------------------------

void addProgram(benchmark::State& state) {
    static const std::string file = makeLedger("add.mdb", 0);
    Desk d(file, tsl::table::shipments);
    Tfhb& s = *d.roster.fhb;
    int rows = d.w->table1.recordCount();
    for (auto _ : state) {
        record(state, OpAdd, true, timed([&] {
                   d.w->btnaddClick();              // both lists filled from 10,000 rows each
                   key(s.edname, Qt::Key_Down);     // the user picks the second customer: autofill
                   s.edzl->setText(QString::fromStdString(kindName(kLookups)));
                   s.edje->setText(QStringLiteral("120"));
                   s.btn->click();                  // both lists searched, the row appended
                   QApplication::processEvents();
               }));
        ++rows;
        if (!d.clean() || d.w->table1.recordCount() != rows || s.isVisible() ||
            d.w->table1.fieldText(tsl::pos::stamp) != stampOf(rows) ||
            d.w->table1.fieldText(4) != "浙江省桐乡市濮院镇2号")
            state.SkipWithError("the add went wrong");
    }
}

void addRaw(benchmark::State& state) {
    static const std::string file = makeLedger("add-raw.mdb", 0);
    RawDb db(file);
    const std::string name = customerName(2), kind = kindName(kLookups);
    for (auto _ : state) {
        std::vector<std::string> names, kinds;
        std::string address, postcode;
        record(state, OpAdd, false, timed([&] {
                   auto readAll = [&](const char* list, std::vector<std::string>& out) {
                       sqlite3_stmt* st = db.prepare(std::string("SELECT \"1\" FROM \"") + list + "\" ORDER BY rowid");
                       while (sqlite3_step(st) == SQLITE_ROW)
                           out.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)));
                       sqlite3_finalize(st);
                   };
                   readAll("temp1", names);
                   readAll("temp5", kinds);
                   sqlite3_stmt* st =
                       db.prepare("SELECT \"地址\", \"邮编\" FROM \"1\" WHERE \"姓名\" = ? ORDER BY rowid LIMIT 1");
                   sqlite3_bind_text(st, 1, name.data(), int(name.size()), SQLITE_STATIC);
                   if (sqlite3_step(st) == SQLITE_ROW) {
                       address = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
                       postcode = reinterpret_cast<const char*>(sqlite3_column_text(st, 1));
                   }
                   sqlite3_finalize(st);
                   for (auto [list, text] : {std::pair{"temp5", kind}, std::pair{"temp1", name}}) {
                       st = db.prepare(std::string("SELECT 1 FROM \"") + list + "\" WHERE \"1\" = ? LIMIT 1");
                       sqlite3_bind_text(st, 1, text.data(), int(text.size()), SQLITE_STATIC);
                       const bool found = sqlite3_step(st) == SQLITE_ROW;
                       sqlite3_finalize(st);
                       if (!found)
                           db.exec(std::string("INSERT INTO \"") + list + "\" VALUES ('" + text + "')");
                   }
                   const int n = db.count("2");
                   st = db.prepare("INSERT INTO \"2\" VALUES (?, ?, ?, '0', ?, ?, '120')");
                   const std::string stamp = stampOf(n + 1);
                   int i = 1;
                   for (const std::string* v : std::initializer_list<const std::string*>{&stamp, &name, &kind, &address, &postcode})
                       sqlite3_bind_text(st, i++, v->data(), int(v->size()), SQLITE_STATIC);
                   if (sqlite3_step(st) != SQLITE_DONE)
                       throw std::runtime_error("insert failed");
                   sqlite3_finalize(st);
               }));
        if (names.size() != std::size_t(kLookups) || address.empty())
            state.SkipWithError("raw add went wrong");
    }
}

// ---- autofill on one keystroke -----------------------------------------------------------

void autofillProgram(benchmark::State& state) {
    static const std::string file = makeLedger("autofill.mdb", 0);
    Desk d(file, tsl::table::shipments);
    Tfhb& s = *d.roster.fhb;
    d.w->btneditClick(); // no lists: only the name box matters
    // The last customer: every completing keystroke scans the whole book.
    const QString stem = QString::fromStdString(customerName(kLookups)).chopped(1);
    s.edname->setText(stem);
    s.edname->lineEdit()->end(false);
    bool typing = true;
    for (auto _ : state) {
        s.edadd->clear();
        record(state, OpAutofill, true, timed([&] {
                   if (typing)
                       key(s.edname->lineEdit(), Qt::Key_unknown, QStringLiteral("号"));
                   else
                       key(s.edname->lineEdit(), Qt::Key_Backspace);
               }));
        const bool filled = !s.edadd->text().isEmpty();
        if (!d.clean() || filled != typing)
            state.SkipWithError("the autofill went wrong");
        typing = !typing;
    }
}

void autofillRaw(benchmark::State& state) {
    static const std::string file = makeLedger("autofill-raw.mdb", 0);
    RawDb db(file);
    const std::string full = customerName(kLookups), stem = full.substr(0, full.size() - std::string("号").size());
    bool typing = true;
    for (auto _ : state) {
        const std::string& name = typing ? full : stem;
        std::string address;
        record(state, OpAutofill, false, timed([&] {
                   sqlite3_stmt* st =
                       db.prepare("SELECT \"地址\", \"邮编\" FROM \"1\" WHERE \"姓名\" = ? ORDER BY rowid LIMIT 1");
                   sqlite3_bind_text(st, 1, name.data(), int(name.size()), SQLITE_STATIC);
                   if (sqlite3_step(st) == SQLITE_ROW)
                       address = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
                   sqlite3_finalize(st);
               }));
        if (address.empty() == typing)
            state.SkipWithError("raw autofill went wrong");
        typing = !typing;
    }
}

// ---- delete the first row and renumber -------------------------------------------------

void deleteProgram(benchmark::State& state) {
    const int rows = int(state.range(0));
    const std::string file = makeLedger("del-" + std::to_string(rows) + ".mdb", rows);
    Desk d(file, tsl::table::purchases);
    int left = rows;
    for (auto _ : state) {
        d.w->table1.first();
        record(state, rows >= 1'000'000 ? OpDelete1m : OpDelete100k, true, timed([&] {
                   d.w->btndelClick();
                   QApplication::processEvents();
               }));
        --left;
        if (!d.clean() || d.w->table1.recordCount() != left)
            state.SkipWithError("the delete went wrong");
    }
    RawDb check(file);
    if (check.first("SELECT \"日期\" FROM \"3\" ORDER BY rowid DESC LIMIT 1") != stampOf(left))
        state.SkipWithError("the renumbering went wrong");
}

void deleteRaw(benchmark::State& state) {
    const int rows = int(state.range(0));
    const std::string file = makeLedger("del-raw-" + std::to_string(rows) + ".mdb", rows);
    RawDb db(file);
    int left = rows;
    for (auto _ : state) {
        record(state, rows >= 1'000'000 ? OpDelete1m : OpDelete100k, false, timed([&] {
                   db.exec("DELETE FROM \"3\" WHERE rowid = (SELECT min(rowid) FROM \"3\");");
                   db.exec("BEGIN;"
                           "UPDATE \"3\" SET \"日期\" = '(' || r.k || substr(\"日期\", instr(\"日期\", ')')) "
                           "FROM (SELECT rowid AS id, row_number() OVER (ORDER BY rowid) AS k FROM \"3\") AS r "
                           "WHERE \"3\".rowid = r.id AND instr(\"日期\", ')') > 0;"
                           "COMMIT;");
               }));
        --left;
    }
    if (db.first("SELECT \"日期\" FROM \"3\" ORDER BY rowid DESC LIMIT 1") != stampOf(left))
        state.SkipWithError("raw renumbering went wrong");
}

[[maybe_unused]] const bool gRegistered = [] {
    auto reg = [](const char* name, void (*fn)(benchmark::State&)) {
        return benchmark::RegisterBenchmark(name, fn)->UseManualTime()->Unit(benchmark::kMillisecond);
    };
    reg("dialogs/shipment-add/program/10000", addProgram)->Iterations(20);
    reg("dialogs/shipment-add/raw/10000", addRaw)->Iterations(20);
    reg("dialogs/autofill-keystroke/program/10000", autofillProgram)->Iterations(200);
    reg("dialogs/autofill-keystroke/raw/10000", autofillRaw)->Iterations(200);
    reg("dialogs/delete-renumber/program", deleteProgram)->Arg(100'000)->Iterations(3);
    reg("dialogs/delete-renumber/raw", deleteRaw)->Arg(100'000)->Iterations(3);
    reg("dialogs/delete-renumber/program", deleteProgram)->Arg(1'000'000)->Iterations(2);
    reg("dialogs/delete-renumber/raw", deleteRaw)->Arg(1'000'000)->Iterations(2);
    return true;
}();

} // namespace
