// The program's own windows on the largest ledger, each run in a fresh process so
// its memory holds nothing of the other benchmarks: enter the ledger, switch to
// the shipment book, settle one name, the overall report. Printed under the table
// with the peak memory after entering and after the four steps.
#include "bench/benchutil.h"

#include "forms/Unit1.h"
#include "forms/jg.h"
#include "storage/schema.h"

#include <QApplication>
#include <QLineEdit>
#include <QTableView>
#include <QToolButton>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace tslbench {

namespace {

constexpr int kRealRows = 1'000'000;
constexpr int kRealRuns = 5;

// A field of /proc/self/status in KiB ("VmHWM", "RssAnon", ...).
long statusKb(const std::string& key) {
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line))
        if (line.compare(0, key.size() + 1, key + ":") == 0)
            return std::atol(line.c_str() + key.size() + 1);
    return -1;
}

void printReal() {
    const std::string file = "ledger-" + std::to_string(kRealRows) + ".mdb";
    if (!fs::exists(file))
        return;
    std::vector<double> enter, sw, settle, report, hwmEnter, hwmEnd, anonEnd;
    std::vector<double> cpu[4];
    for (int run = 0; run < kRealRuns; ++run) {
        const std::string cmd = "TSL_BENCH_REAL_BOOK='" + file + "' '" + selfPath() + "' 2>/dev/null";
        FILE* p = popen(cmd.c_str(), "r");
        if (!p)
            return;
        double e = 0, s = 0, t = 0, r = 0, h1 = 0, h2 = 0, a = 0, c[4] = {};
        const int got = std::fscanf(p, "%lf %lf %lf %lf %lf %lf %lf %lf %lf %lf %lf", &e, &s, &t, &r, &h1, &h2, &a,
                                    &c[0], &c[1], &c[2], &c[3]);
        pclose(p);
        if (got != 11) {
            std::printf("real program probe failed\n");
            return;
        }
        enter.push_back(e), sw.push_back(s), settle.push_back(t), report.push_back(r);
        hwmEnter.push_back(h1 / 1024), hwmEnd.push_back(h2 / 1024), anonEnd.push_back(a / 1024);
        for (int i = 0; i < 4; ++i)
            cpu[i].push_back(c[i]);
    }
    std::printf("the program's windows, %d-row ledger (shipments and purchases of %d rows), fresh process, "
                "median of %d:\n",
                kRealRows, kRealRows, kRealRuns);
    std::printf("  enter %.0f ms, switch to the shipment book %.0f ms, settle %.0f ms, overall report %.0f ms\n",
                median(enter), median(sw), median(settle), median(report));
    std::printf("  CPU time of the same: %.0f, %.0f, %.0f, %.0f ms\n", median(cpu[0]), median(cpu[1]),
                median(cpu[2]), median(cpu[3]));
    std::printf("  peak RSS (VmHWM) after entering %.1f MiB, after the four steps %.1f MiB (anonymous at the end "
                "%.1f MiB)\n",
                median(hwmEnter), median(hwmEnd), median(anonEnd));
}

} // namespace

bool realProgramProbe() {
    const char* file = std::getenv("TSL_BENCH_REAL_BOOK");
    if (!file)
        return false;
    try {
        app();
        double enter = 0, sw = 0, settle = 0, report = 0;
        double cpu[4] = {};
        std::unique_ptr<Desk> d;
        enter = timed([&] { d = std::make_unique<Desk>(file, tsl::table::customers); });
        cpu[0] = gLastCpuSeconds;
        const long hwmEnter = statusKb("VmHWM");
        sw = timed([&] {
            d->w->SpeedButton2->click();
            d->w->grid1->viewport()->repaint();
        });
        cpu[1] = gLastCpuSeconds;
        d->w->edjz->setText(QString::fromStdString(kSettled));
        Tj& j = *d->roster.j;
        settle = timed([&] {
            d->w->btnjz->click();
            j.grid1->viewport()->repaint();
        });
        cpu[2] = gLastCpuSeconds;
        report = timed([&] { d->w->SpeedButton5->click(); });
        cpu[3] = gLastCpuSeconds;
        QApplication::processEvents();
        const bool right = d->prompter.messages.size() == 1 && d->prompter.errors.empty();
        if (!right || j.grid1->rowCount() != 1 + kRealRows / kMatchEvery)
            throw std::runtime_error("wrong result");
        std::printf("%f %f %f %f %ld %ld %ld %f %f %f %f\n", enter * 1e3, sw * 1e3, settle * 1e3, report * 1e3,
                    hwmEnter, statusKb("VmHWM"), statusKb("RssAnon"), cpu[0] * 1e3, cpu[1] * 1e3, cpu[2] * 1e3,
                    cpu[3] * 1e3);
    } catch (const std::exception& e) {
        std::printf("error %s\n", e.what());
    }
    std::fflush(stdout);
    std::_Exit(0); // the windows' teardown is no part of the figures
}

void registerReal(int rows) {
    if (rows == kRealRows)
        addNote(printReal);
}

} // namespace tslbench
