// The record dialogs and commands, each beside the raw SQLite statements doing
// the same work: an add through the shipment dialog (both lookup lists filled,
// a customer picked, the row appended), the customer autofill on one
// keystroke, and deleting the first row of the purchase book with the
// renumbering of every stamp after it.
#include "bench/benchutil.h"

#include "forms/Unit1.h"
#include "widgets/amountspin.h"
#include "forms/fhbd.h"
#include "storage/intconv.h"
#include "storage/schema.h"

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>

#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

namespace tslbench {

namespace {

// ---- add through the shipment dialog ------------------------------------------------------

void addProgram(benchmark::State& state, int rows) {
    const std::string file = workCopy(ledger(rows), "add.mdb");
    Desk d(file, tsl::table::shipments);
    Tfhb& s = *d.roster.fhb;
    const QString kind = QString::fromStdString(kindName(listRows(rows)));
    int count = d.w->table1.recordCount();
    for (auto _ : state) {
        record(state, Op::ShipmentAdd, rows, true, timed([&] {
                   d.w->btnaddClick();          // both lists filled from their tables
                   key(s.edname, Qt::Key_Down); // the user picks the second customer: autofill
                   s.edzl->setText(kind);
                   s.edje->setText(QStringLiteral("120"));
                   s.btn->click(); // both lists searched, the row appended
                   QApplication::processEvents();
               }));
        ++count;
        if (!d.clean() || d.w->table1.recordCount() != count || s.isVisible() ||
            d.w->table1.fieldText(tsl::pos::stamp) != stampOf(count) ||
            d.w->table1.fieldText(4) != customerAddress(2))
            state.SkipWithError("the add went wrong");
    }
}

void addRaw(benchmark::State& state, int rows) {
    RawDb db(workCopy(ledger(rows), "add-raw.mdb"));
    const std::string name = customerName(2), kind = kindName(listRows(rows));
    int n = db.count(tsl::table::shipments); // the program holds the count too
    // And the total from opening the book, moved by each posted amount.
    long long total = 0;
    {
        sqlite3_stmt* st = db.prepare("SELECT \"总金额\" FROM \"2\"");
        while (sqlite3_step(st) == SQLITE_ROW)
            total += tsl::strToInt(columnView(st, 0));
        sqlite3_finalize(st);
    }
    for (auto _ : state) {
        std::vector<std::string> names, kinds;
        std::string address, postcode;
        record(state, Op::ShipmentAdd, rows, false, timed([&] {
                   auto readAll = [&](const char* list, std::vector<std::string>& out) {
                       sqlite3_stmt* st = db.prepare(std::string("SELECT \"1\" FROM \"") + list + "\" ORDER BY rowid");
                       while (sqlite3_step(st) == SQLITE_ROW)
                           out.emplace_back(columnView(st, 0));
                       sqlite3_finalize(st);
                   };
                   readAll("temp1", names);
                   readAll("temp5", kinds);
                   sqlite3_stmt* st =
                       db.prepare("SELECT \"地址\", \"邮编\" FROM \"1\" WHERE \"姓名\" = ? ORDER BY rowid LIMIT 1");
                   sqlite3_bind_text(st, 1, name.data(), int(name.size()), SQLITE_STATIC);
                   if (sqlite3_step(st) == SQLITE_ROW) {
                       address = columnView(st, 0);
                       postcode = columnView(st, 1);
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
                   st = db.prepare("INSERT INTO \"2\" VALUES (?, ?, ?, '0', ?, ?, '120')");
                   const std::string stamp = stampOf(n + 1);
                   int i = 1;
                   for (const std::string* v :
                        std::initializer_list<const std::string*>{&stamp, &name, &kind, &address, &postcode})
                       sqlite3_bind_text(st, i++, v->data(), int(v->size()), SQLITE_STATIC);
                   db.step(st);
                   sqlite3_finalize(st);
                   ++n;
                   // The workspace's status line shows the book's new total after an add.
                   total += tsl::strToInt("120");
               }));
        benchmark::DoNotOptimize(total);
        if (names.size() != std::size_t(listRows(rows)) || address.empty())
            state.SkipWithError("raw add went wrong");
    }
}

// ---- autofill on one keystroke ------------------------------------------------------------

void autofillProgram(benchmark::State& state, int rows) {
    Desk d(ledger(rows), tsl::table::shipments);
    Tfhb& s = *d.roster.fhb;
    d.w->btneditClick(); // no lists: only the name box matters
    // The last customer: every completing keystroke scans the whole customer book.
    const QString stem = QString::fromStdString(customerName(listRows(rows))).chopped(1);
    s.edname->setText(stem);
    s.edname->lineEdit()->end(false);
    bool typing = true;
    for (auto _ : state) {
        s.edadd->clear();
        record(state, Op::Autofill, rows, true, timed([&] {
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

void autofillRaw(benchmark::State& state, int rows) {
    RawDb db(ledger(rows));
    const std::string full = customerName(listRows(rows));
    const std::string stem = full.substr(0, full.size() - std::string("号").size());
    bool typing = true;
    for (auto _ : state) {
        const std::string& name = typing ? full : stem;
        std::string address;
        record(state, Op::Autofill, rows, false, timed([&] {
                   sqlite3_stmt* st =
                       db.prepare("SELECT \"地址\", \"邮编\" FROM \"1\" WHERE \"姓名\" = ? ORDER BY rowid LIMIT 1");
                   sqlite3_bind_text(st, 1, name.data(), int(name.size()), SQLITE_STATIC);
                   if (sqlite3_step(st) == SQLITE_ROW)
                       address = columnView(st, 0);
                   sqlite3_finalize(st);
               }));
        if (address.empty() == typing)
            state.SkipWithError("raw autofill went wrong");
        typing = !typing;
    }
}

// ---- delete the first row and renumber ------------------------------------------------------

void deleteProgram(benchmark::State& state, int rows) {
    const std::string file = workCopy(ledger(rows), "del.mdb");
    int left = rows;
    {
        Desk d(file, tsl::table::purchases);
        for (auto _ : state) {
            d.w->table1.first();
            record(state, Op::DeleteRenumberDialog, rows, true, timed([&] {
                       d.w->btndelClick();
                       QApplication::processEvents();
                   }));
            --left;
            if (!d.clean() || d.w->table1.recordCount() != left)
                state.SkipWithError("the delete went wrong");
        }
    }
    RawDb check(file);
    if (check.first("SELECT \"日期\" FROM \"3\" ORDER BY rowid DESC LIMIT 1") != stampOf(left))
        state.SkipWithError("the renumbering went wrong");
}

void deleteRaw(benchmark::State& state, int rows) {
    RawDb db(workCopy(ledger(rows), "del-raw.mdb"));
    int left = rows;
    for (auto _ : state) {
        record(state, Op::DeleteRenumberDialog, rows, false, timed([&] {
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

} // namespace

void registerDialogs(int rows) {
    addPair("dialogs", "shipment-add", "program", addProgram, addRaw, rows, 20);
    addPair("dialogs", "autofill-keystroke", "program", autofillProgram, autofillRaw, rows, 200);
    // Each delete renumbers the whole book: few of them on the big ones.
    addPair("dialogs", "delete-renumber", "program", deleteProgram, deleteRaw, rows,
            rows >= 1'000'000 ? 2 : rows >= 100'000 ? 3 : 20);
}

} // namespace tslbench
