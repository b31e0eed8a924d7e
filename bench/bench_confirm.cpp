// The shipment dialog's confirm alone (the dialog already filled in, as the user
// leaves it before pressing 确定) beside one INSERT of the same row with the same
// sync: what the program adds to the write the user waits for anyway.
#include "bench/benchutil.h"

#include "forms/Unit1.h"
#include "forms/fhbd.h"
#include "widgets/amountspin.h"
#include "storage/schema.h"

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>

#include <string>

namespace tslbench {

namespace {

void confirmProgram(benchmark::State& state, int rows) {
    const std::string file = workCopy(ledger(rows), "confirm.mdb");
    Desk d(file, tsl::table::shipments);
    Tfhb& s = *d.roster.fhb;
    const QString kind = QString::fromStdString(kindName(listRows(rows)));
    int count = d.w->table1.recordCount();
    for (auto _ : state) {
        d.w->btnaddClick();
        key(s.edname, Qt::Key_Down); // the second customer, address filled in
        s.edzl->setText(kind);
        s.edje->setText(QStringLiteral("120"));
        QApplication::processEvents();
        record(state, Op::ConfirmInsert, rows, true, timed([&] {
                   s.btn->click();
                   QApplication::processEvents();
               }));
        ++count;
        if (!d.clean() || d.w->table1.recordCount() != count || s.isVisible())
            state.SkipWithError("the confirm went wrong");
    }
}

void confirmRaw(benchmark::State& state, int rows) {
    RawDb db(workCopy(ledger(rows), "confirm-raw.mdb"));
    sqlite3_stmt* ins = db.prepare("INSERT INTO \"2\" VALUES (?, ?, ?, ?, ?, ?, ?)");
    long long k = rows;
    for (auto _ : state) {
        const std::vector<std::string> r = shipmentRow(++k);
        record(state, Op::ConfirmInsert, rows, false, timed([&] {
                   for (int i = 0; i < 7; ++i)
                       sqlite3_bind_text(ins, i + 1, r[std::size_t(i)].data(), int(r[std::size_t(i)].size()),
                                         SQLITE_STATIC);
                   db.step(ins);
               }));
    }
    sqlite3_finalize(ins);
}

} // namespace

void registerConfirm(int rows) { addPair("dialogs", "confirm-insert", "program", confirmProgram, confirmRaw, rows, 20); }

} // namespace tslbench
