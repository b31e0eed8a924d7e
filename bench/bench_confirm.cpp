// The shipment dialog's 确定 with the workspace showing the book, beside the
// least any durable add costs: one INSERT on a raw connection with the same
// journal and sync settings. The dialog is opened and filled outside the timing.
#include "bench/benchutil.h"

#include "forms/Unit1.h"
#include "widgets/amountspin.h"
#include "forms/fhbd.h"
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
        key(s.edname, Qt::Key_Down); // a known customer: nothing new for the lists
        s.edzl->setText(kind);
        s.edje->setText(QStringLiteral("120"));
        QApplication::processEvents();
        record(state, Op::ConfirmInsert, rows, true, timed([&] {
                   s.btn->click();
                   QApplication::processEvents();
               }));
        ++count;
        if (!d.clean() || d.w->table1.recordCount() != count || s.isVisible() ||
            d.w->table1.fieldText(tsl::pos::stamp) != stampOf(count))
            state.SkipWithError("the confirm went wrong");
    }
}

void confirmRaw(benchmark::State& state, int rows) {
    RawDb db(workCopy(ledger(rows), "confirm-raw.mdb"));
    int n = db.count(tsl::table::shipments);
    const std::string name = customerName(2), kind = kindName(listRows(rows));
    const std::string address = customerAddress(2);
    for (auto _ : state) {
        const std::string stamp = stampOf(n + 1);
        record(state, Op::ConfirmInsert, rows, false, timed([&] {
                   sqlite3_stmt* st = db.prepare("INSERT INTO \"2\" VALUES (?, ?, ?, '0', ?, '', '120')");
                   int i = 1;
                   for (const std::string* v : {&stamp, &name, &kind, &address})
                       sqlite3_bind_text(st, i++, v->data(), int(v->size()), SQLITE_STATIC);
                   db.step(st);
                   sqlite3_finalize(st);
               }));
        ++n;
    }
    if (db.count(tsl::table::shipments) != n)
        state.SkipWithError("raw insert went wrong");
}

} // namespace

void registerConfirm(int rows) { addPair("dialogs", "confirm", "program", confirmProgram, confirmRaw, rows, 20); }

} // namespace tslbench
