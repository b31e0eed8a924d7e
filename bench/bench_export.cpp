// Exporting the shipment book beside the tools one would use without the
// program: csv beside the sqlite3 shell's -csv output, xlsx beside
// libxlsxwriter's constant-memory writer fed straight from SQLite. Under the
// table goes the peak memory of exporting the largest book to xlsx.
#include "bench/benchutil.h"

#include "export/ledger.h"
#include "storage/schema.h"
#include "export/table.h"

#include <xlsxwriter.h>

#include <sys/resource.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace fs = std::filesystem;

namespace tslbench {

namespace {

const tsl::out::Book& shipments() { return *tsl::out::findBook(2); }

void exportProgram(const std::string& ledgerFile, const std::string& out, bool xlsx) {
    tsl::out::LedgerFile f(ledgerFile);
    tsl::out::BookRows rows(f.engine(), shipments());
    if (xlsx)
        (void)tsl::out::writeXlsx(out, "发货", shipments().columns(), rows);
    else
        (void)tsl::out::writeCsv(out, shipments().columns(), rows);
}

void csvProgram(benchmark::State& state, int rows) {
    const std::string& file = ledger(rows);
    for (auto _ : state) {
        record(state, Op::ExportCsv, rows, true, timed([&] { exportProgram(file, "bench-out.csv", false); }));
        if (fs::file_size("bench-out.csv") < std::uintmax_t(rows) * 30)
            state.SkipWithError("csv too short");
        fs::remove("bench-out.csv");
    }
}

void csvRaw(benchmark::State& state, int rows) {
    const std::string& file = ledger(rows);
    const std::string cmd = "sqlite3 -csv -header '" + file + "' 'SELECT * FROM \"2\" ORDER BY rowid' > bench-raw.csv";
    for (auto _ : state) {
        int rc = 0;
        record(state, Op::ExportCsv, rows, false, timed([&] { rc = std::system(cmd.c_str()); }));
        if (rc != 0 || fs::file_size("bench-raw.csv") < std::uintmax_t(rows) * 30)
            state.SkipWithError("sqlite3 -csv failed");
        fs::remove("bench-raw.csv");
    }
}

void xlsxProgram(benchmark::State& state, int rows) {
    const std::string& file = ledger(rows);
    for (auto _ : state) {
        record(state, Op::ExportXlsx, rows, true, timed([&] { exportProgram(file, "bench-out.xlsx", true); }));
        if (fs::file_size("bench-out.xlsx") < std::uintmax_t(rows) * 5)
            state.SkipWithError("xlsx too short");
        fs::remove("bench-out.xlsx");
    }
}

// The library's own way: one statement, each column written as it comes,
// the quantity and the amount as numbers.
void xlsxDirect(const std::string& file, const char* out) {
    RawDb db(file);
    lxw_workbook_options opt{};
    opt.constant_memory = LXW_TRUE;
    lxw_workbook* wb = workbook_new_opt(out, &opt);
    lxw_worksheet* ws = workbook_add_worksheet(wb, "2");
    sqlite3_stmt* st = db.prepare("SELECT * FROM \"2\" ORDER BY rowid");
    const int cols = sqlite3_column_count(st);
    for (int c = 0; c < cols; ++c)
        worksheet_write_string(ws, 0, lxw_col_t(c), sqlite3_column_name(st, c), nullptr);
    lxw_row_t r = 1;
    while (sqlite3_step(st) == SQLITE_ROW) {
        for (int c = 0; c < cols; ++c) {
            const char* v = reinterpret_cast<const char*>(sqlite3_column_text(st, c));
            if (c == 3 || c == 6)
                worksheet_write_number(ws, r, lxw_col_t(c), std::strtod(v ? v : "", nullptr), nullptr);
            else
                worksheet_write_string(ws, r, lxw_col_t(c), v ? v : "", nullptr);
        }
        ++r;
    }
    sqlite3_finalize(st);
    workbook_close(wb);
}

void xlsxRaw(benchmark::State& state, int rows) {
    const std::string& file = ledger(rows);
    for (auto _ : state) {
        record(state, Op::ExportXlsx, rows, false, timed([&] { xlsxDirect(file, "bench-raw.xlsx"); }));
        if (fs::file_size("bench-raw.xlsx") < std::uintmax_t(rows) * 5)
            state.SkipWithError("xlsx too short");
        fs::remove("bench-raw.xlsx");
    }
}

// Peak resident memory of a fresh copy of this program that only exports the
// book, the program's way or the library's own way.
long peakKbOfProbe(const std::string& file, bool program) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::setenv("TSL_BENCH_EXPORT_PROBE", program ? "program" : "raw", 1);
        ::setenv("TSL_BENCH_EXPORT_FILE", file.c_str(), 1);
        ::execl("/proc/self/exe", "tslbench", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    int status = 0;
    struct rusage ru {};
    ::wait4(pid, &status, 0, &ru);
    fs::remove("bench-mem.xlsx");
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? ru.ru_maxrss : -1;
}

} // namespace

bool exportMemoryProbe() {
    const char* how = std::getenv("TSL_BENCH_EXPORT_PROBE");
    const char* file = std::getenv("TSL_BENCH_EXPORT_FILE");
    if (!how || !file)
        return false;
    if (std::string(how) == "program")
        exportProgram(file, "bench-mem.xlsx", true);
    else
        xlsxDirect(file, "bench-mem.xlsx");
    return true;
}

void registerExport(int rows) {
    if (rows < 100'000)
        return;
    addPair("export", "csv", "program", csvProgram, csvRaw, rows, 1);
    addPair("export", "xlsx", "program", xlsxProgram, xlsxRaw, rows, 1);
    if (rows == kSizes[std::size(kSizes) - 1])
        addNote([rows] {
            const std::string& file = ledger(rows);
            const long mine = peakKbOfProbe(file, true), raw = peakKbOfProbe(file, false);
            std::printf("peak memory of a process exporting %d rows to xlsx: program %.1f MB, raw %.1f MB\n", rows,
                        double(mine) / 1024, double(raw) / 1024);
        });
}

} // namespace tslbench
