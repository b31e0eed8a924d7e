// 年度统计 at three sizes: the window opened from the grid's menu (figures, tables
// and chart), and its figures alone, beside raw SQLite grouping the same rows
// by month and by name with GROUP BY.
#include "bench/benchutil.h"

#include "forms/Unit1.h"
#include "storage/connection.h"
#include "forms/ndtj.h"
#include "storage/schema.h"
#include "storage/yearfigures.h"

#include <QAction>
#include <QChartView>
#include <QTableView>

#include <algorithm>
#include <array>
#include <string>

namespace tslbench {

namespace {

// Shipments, purchases and deliveries of the year ledger, amounts of its rows.
std::array<long long, 3> expectedTotals(int rows) {
    return {expectedSum(rows / 2), expectedSum(rows / 4), expectedSum(rows / 4)};
}

void glanceWindow(benchmark::State& state, int rows) {
    Desk d(yearLedger(rows), tsl::table::customers);
    const auto totals = expectedTotals(rows);
    for (auto _ : state) {
        record(state, Op::YearGlance, rows, true, timed([&] {
                   d.w->yearGlanceItem->trigger();
                   Tndtj* g = d.w->yearGlance();
                   g->gridmonth->viewport()->repaint();
                   g->chart1->viewport()->repaint();
               }));
        const tsl::YearFigures& f = d.w->yearGlance()->figures();
        if (f.book(tsl::Movement::Shipments).all.total != totals[0] ||
            f.book(tsl::Movement::Purchases).all.total != totals[1] || !d.clean())
            state.SkipWithError("wrong figures");
        d.w->yearGlance()->hide();
    }
}

void glanceFigures(benchmark::State& state, int rows) {
    tsl::Connection c;
    c.setConnectionString(tsl::connectionString(yearLedger(rows)));
    c.connect();
    const auto patterns = tsl::stampDatePatterns("yyyy-M-d");
    const auto totals = expectedTotals(rows);
    for (auto _ : state) {
        tsl::YearFigures f;
        record(state, Op::YearFigures, rows, true, timed([&] { f = tsl::readYearFigures(c, patterns, 2026); }));
        if (f.book(tsl::Movement::Deliveries).all.total != totals[2] ||
            f.book(tsl::Movement::Shipments).months[tsl::kUndated].count != rows / 2 / 1000)
            state.SkipWithError("wrong figures");
    }
}

// The same figures by SQL, two GROUP BYs per book: by the month of the yyyy-m-d
// date after ")", and by name, names then sorted by total. (One GROUP BY on
// month and name together, folded in C++, takes a third longer: its sort is bigger.)
struct RawFigures {
    std::array<std::array<long long, 13>, 3> months{};
    std::array<long long, 3> totals{};
    std::array<std::vector<std::pair<std::string, long long>>, 3> names;
};

RawFigures rawFigures(RawDb& db) {
    RawFigures out;
    const char* books[] = {"2", "3", "4"};
    for (int b = 0; b < 3; ++b) {
        const auto* def = tsl::findTable(books[b]);
        const std::string stamp = tsl::quoteIdent(def->fields[0]);
        const std::string amount = "sum(CAST(" + tsl::quoteIdent(def->fields.back()) + " AS INTEGER))";
        const std::string from = " FROM " + tsl::quoteIdent(books[b]) + " GROUP BY 1";
        const std::string date = "substr(" + stamp + ", instr(" + stamp + ", ')') + 1)";
        const std::string month = "CAST(substr(" + date + ", 6, instr(substr(" + date + ", 6), '-') - 1) AS INTEGER)";
        sqlite3_stmt* st = db.prepare("SELECT " + month + ", " + amount + from);
        while (sqlite3_step(st) == SQLITE_ROW) {
            const int m = sqlite3_column_int(st, 0);
            const long long sum = sqlite3_column_int64(st, 1);
            out.months[std::size_t(b)][std::size_t(m >= 1 && m <= 12 ? m - 1 : 12)] += sum;
            out.totals[std::size_t(b)] += sum;
        }
        sqlite3_finalize(st);
        st = db.prepare("SELECT " + tsl::quoteIdent(def->fields[1]) + ", " + amount + from);
        auto& names = out.names[std::size_t(b)];
        while (sqlite3_step(st) == SQLITE_ROW)
            names.emplace_back(std::string(columnView(st, 0)), sqlite3_column_int64(st, 1));
        sqlite3_finalize(st);
        std::sort(names.begin(), names.end(), [](const auto& x, const auto& y) { return x.second > y.second; });
    }
    return out;
}

void glanceRaw(benchmark::State& state, int rows) {
    RawDb db(yearLedger(rows));
    const auto totals = expectedTotals(rows);
    for (auto _ : state) {
        RawFigures f;
        const double t = timed([&] { f = rawFigures(db); });
        record(state, Op::YearGlance, rows, false, t);
        record(state, Op::YearFigures, rows, false, t);
        if (f.totals[0] != totals[0] || f.totals[2] != totals[2])
            state.SkipWithError("wrong figures");
    }
}

} // namespace

void registerYearGlance(int rows) {
    addPair("yearglance", "window", "program", glanceWindow, glanceRaw, rows);
    add("yearglance/figures/program/" + std::to_string(rows), [rows](benchmark::State& s) { glanceFigures(s, rows); });
}

} // namespace tslbench
