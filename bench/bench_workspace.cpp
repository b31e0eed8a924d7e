// The workspace's own operations, each beside the raw SQLite statements doing
// the same work: opening the shipment book (status summary and grid), a
// settlement matching 1% of its rows, and the overall report over four books.
#include "bench/benchutil.h"

#include "forms/Unit1.h"
#include "storage/intconv.h"
#include "forms/jg.h"
#include "storage/schema.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QTableView>
#include <QToolButton>

#include <cstdint>
#include <string>
#include <vector>

namespace tslbench {

namespace {

// ---- opening the shipment book ---------------------------------------------------------

void openWorkspace(benchmark::State& state, int rows) {
    Desk d(ledger(rows), tsl::table::customers);
    const QString expected = QStringLiteral("总共已经发了%1次货!总的金额为:%2元人民币! 恭喜发财!!")
                                 .arg(rows)
                                 .arg(expectedSum(rows));
    for (auto _ : state) {
        record(state, Op::OpenShipmentBook, rows, true, timed([&] {
                   d.w->SpeedButton2->click();        // close, open, command enabling, status summary
                   d.w->grid1->viewport()->repaint(); // and the grid drawn
               }));
        if (d.w->statusSummary() != expected || !d.clean())
            state.SkipWithError("wrong status summary");
        d.w->SpeedButton1->click();
    }
}

void openRaw(benchmark::State& state, int rows) {
    RawDb db(ledger(rows));
    const long long expected = expectedSum(rows);
    for (auto _ : state) {
        long long sum = 0;
        std::vector<std::int64_t> ids; // the grid needs them, as the program does
        record(state, Op::OpenShipmentBook, rows, false, timed([&] {
                   sqlite3_stmt* st = db.prepare("SELECT rowid, \"总金额\" FROM \"2\" ORDER BY rowid");
                   while (sqlite3_step(st) == SQLITE_ROW) {
                       ids.push_back(sqlite3_column_int64(st, 0));
                       sum += tsl::strToInt(columnView(st, 1));
                   }
                   sqlite3_finalize(st);
               }));
        if (sum != expected || int(ids.size()) != rows)
            state.SkipWithError("wrong sum");
    }
}

// ---- settlement -------------------------------------------------------------------------

void settleWorkspace(benchmark::State& state, int rows) {
    Desk d(ledger(rows), tsl::table::shipments);
    d.w->edjz->setText(QString::fromStdString(kSettled));
    const QString total = QString::number(expectedSettled(rows)) + QStringLiteral("元");
    Tj& j = *d.roster.j;
    for (auto _ : state) {
        record(state, Op::Settlement, rows, true, timed([&] {
                   d.w->btnjz->click();
                   j.grid1->viewport()->repaint();
               }));
        if (j.laje->text() != total || j.grid1->rowCount() != 1 + rows / kMatchEvery || !d.clean())
            state.SkipWithError("wrong settlement");
        j.close();
    }
}

void settleRaw(benchmark::State& state, int rows) {
    RawDb db(ledger(rows));
    const long long expected = expectedSettled(rows);
    for (auto _ : state) {
        long long sum = 0;
        std::vector<std::vector<std::string>> found;
        record(state, Op::Settlement, rows, false, timed([&] {
                   sqlite3_stmt* st = db.prepare("SELECT * FROM \"2\" WHERE \"客户姓名\" = ? ORDER BY rowid");
                   sqlite3_bind_text(st, 1, kSettled.data(), int(kSettled.size()), SQLITE_STATIC);
                   while (sqlite3_step(st) == SQLITE_ROW) {
                       const int n = sqlite3_column_count(st);
                       sum += tsl::strToInt(columnView(st, n - 1));
                       auto& row = found.emplace_back();
                       for (int c = 0; c < n; ++c)
                           row.emplace_back(columnView(st, c));
                   }
                   sqlite3_finalize(st);
               }));
        if (sum != expected || int(found.size()) != rows / kMatchEvery)
            state.SkipWithError("wrong settlement");
    }
}

// ---- overall report -----------------------------------------------------------------------

void reportWorkspace(benchmark::State& state, int rows) {
    Desk d(reportLedger(rows), tsl::table::customers);
    const QString income = QStringLiteral("今年的总收入为:%1元").arg(-expectedSum(rows / 4));
    for (auto _ : state) {
        d.prompter.messages.clear();
        record(state, Op::OverallReport, rows, true, timed([&] { d.w->SpeedButton5->click(); }));
        if (d.prompter.messages.size() != 1 || !d.prompter.messages[0].contains(income) || !d.prompter.errors.empty())
            state.SkipWithError("wrong report");
    }
}

void reportRaw(benchmark::State& state, int rows) {
    RawDb db(reportLedger(rows));
    const long long income = -expectedSum(rows / 4);
    for (auto _ : state) {
        long long totals[3] = {0, 0, 0};
        long long counts[4] = {0, 0, 0, 0};
        record(state, Op::OverallReport, rows, false, timed([&] {
                   sqlite3_stmt* st = db.prepare("SELECT count(*) FROM \"1\"");
                   if (sqlite3_step(st) == SQLITE_ROW)
                       counts[0] = sqlite3_column_int64(st, 0);
                   sqlite3_finalize(st);
                   const char* books[] = {"2", "3", "4"};
                   for (int b = 0; b < 3; ++b) {
                       st = db.prepare("SELECT \"总金额\" FROM \"" + std::string(books[b]) + "\" ORDER BY rowid");
                       while (sqlite3_step(st) == SQLITE_ROW) {
                           totals[b] += tsl::strToInt(columnView(st, 0));
                           ++counts[b + 1];
                       }
                       sqlite3_finalize(st);
                   }
               }));
        if (counts[0] != rows / 4 || totals[0] - totals[1] - totals[2] != income)
            state.SkipWithError("wrong report");
    }
}

} // namespace

void registerWorkspace(int rows) {
    addPair("workspace", "open-shipments", "program", openWorkspace, openRaw, rows);
    addPair("workspace", "settlement", "program", settleWorkspace, settleRaw, rows);
    addPair("workspace", "overall-report", "program", reportWorkspace, reportRaw, rows);
}

} // namespace tslbench
