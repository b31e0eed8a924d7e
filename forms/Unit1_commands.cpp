// Record commands of the workspace: add, edit and delete on the shown book.
#include "forms/Unit1.h"

#include "books/renumber.h"
#include "books/summary.h"
#include "widgets/amountspin.h"
#include "widgets/desktop.h"
#include "forms/fhbd.h"
#include "widgets/gridmodel.h"
#include "widgets/guard.h"
#include "storage/error.h"
#include "storage/intconv.h"
#include "forms/jg.h"
#include "forms/jhbd.h"
#include "forms/khlx.h"
#include "widgets/windowsetup.h"
#include "widgets/recorddialog.h"
#include "forms/roster.h"
#include "storage/scan.h"
#include "storage/schema.h"
#include "widgets/waitcursor.h"
#include "forms/zgjh.h"

#include <QLineEdit>
#include <QPushButton>
#include <QStringList>

#include <initializer_list>
#include <optional>

namespace {

// Appends every entry of a lookup list to a drop-down, duplicates included.
// Existing entries stay: the dialog empties its lists when it closes. Read in
// one pass of the engine; a list that pass cannot start on is read through
// the scratch cursor, which tells what is wrong with it.
void fillFrom(tsl::Cursor& scratch, DropDown* box, std::string_view list) {
    QStringList entries;
    // What was read before a failure stays listed.
    struct Keep {
        DropDown* box;
        const QStringList& entries;
        ~Keep() { box->addEntries(entries); }
    } keep{box, entries};
    auto add = [&](std::string_view t) { entries << QString::fromUtf8(t.data(), qsizetype(t.size())); };
    tsl::QueryPtr q;
    try {
        q = tsl::columnOf(scratch.connection(), list, tsl::pos::lookupText);
    } catch (const tsl::Error&) {
    }
    if (q) {
        while (q->step())
            add(q->text(0));
        return;
    }
    tsl::reopen(scratch, list);
    scratch.first();
    for (int i = 0, n = scratch.recordCount(); i < n; ++i) {
        add(scratch.fieldText(tsl::pos::lookupText));
        scratch.next();
    }
}

// A record dialog stays above the workspace while it is open; opened while the
// report is up, above the report too, which stays on top of every other window
// of the program. The customer dialog keeps its place; the movement dialogs are
// centred each time. The focus starts on its first input field, not wherever
// the last use left it.
void showDialog(QWidget* w, const Roster& r, Placement place) {
    present(*w, place, r.frontOwner());
    focusFirstInput(*w);
}

struct Fill {
    DropDown* box;
    std::string_view list;
};

// A movement dialog in add mode: its lists filled in the given order, the first
// entry of each picked (the name's before the kind's), the mode set, then shown.
void openAdding(tsl::Cursor& scratch, const Roster& r, QWidget* dialog, QPushButton* btn, std::initializer_list<Fill> fills,
                DropDown* name, DropDown* kind) {
    for (const Fill& f : fills)
        fillFrom(scratch, f.box, f.list);
    name->selectFirst();
    kind->selectFirst();
    btn->setText(record::kAdd);
    showDialog(dialog, r, Placement::Centred);
}

QString text(const tsl::Cursor& book, int pos) { return QString::fromStdString(book.fieldText(pos)); }

} // namespace

void TForm1::btnaddClick() {
    guarded(r_.prompter, [this] {
        switch (tsl::strToInt(viewNumber().toStdString())) {
        case 1:
            showDialog(r_.khl.get(), r_, Placement::AsItStands);
            r_.khl->btn->setText(record::kAdd);
            break;
        case 2: {
            Tfhb& d = *r_.fhb;
            openAdding(table2, r_, &d, d.btn, {{d.edname, tsl::table::customerNames}, {d.edzl, tsl::table::garmentKinds}},
                       d.edname, d.edzl);
            break;
        }
        case 3: {
            Tjhb& d = *r_.jhb;
            openAdding(table2, r_, &d, d.btn, {{d.edzl, tsl::table::purchaseKinds}, {d.edly, tsl::table::purchaseSources}},
                       d.edly, d.edzl);
            break;
        }
        case 4: {
            Tzgj& d = *r_.zgj;
            openAdding(table2, r_, &d, d.btn, {{d.edname, tsl::table::workerNames}, {d.edzl, tsl::table::workKinds}},
                       d.edname, d.edzl);
            break;
        }
        default:
            break;
        }
    });
}

// Copies the current row into the dialog. The order matters: the delivery book's
// kind goes before the worker, and the shipment's name before its address and
// postcode, so the row's own address is what the dialog shows.
void TForm1::btneditClick() {
    guarded(r_.prompter, [this] {
        // What the dialog shows is what the row must still hold when saved.
        if (ado1.onServer())
            table1.keepShown();
        switch (tsl::strToInt(viewNumber().toStdString())) {
        case 1: {
            Tkhl& d = *r_.khl;
            d.edname->setText(text(table1, 0));
            d.edadd->setText(text(table1, 1));
            d.edyb->setText(text(table1, 2));
            d.eddh->setText(text(table1, 3));
            d.edsj->setText(text(table1, 4));
            d.btn->setText(record::kEdit);
            showDialog(&d, r_, Placement::AsItStands);
            break;
        }
        case 2: {
            Tfhb& d = *r_.fhb;
            d.edname->setText(text(table1, 1));
            d.edzl->setText(text(table1, 2));
            d.edsm->setText(text(table1, 3));
            d.edadd->setText(text(table1, 4));
            d.edyb->setText(text(table1, 5));
            d.edje->setText(text(table1, 6));
            d.btn->setText(record::kEdit);
            showDialog(&d, r_, Placement::Centred);
            break;
        }
        case 3: {
            Tjhb& d = *r_.jhb;
            d.edly->setText(text(table1, 1));
            d.edzl->setText(text(table1, 2));
            d.edsm->setText(text(table1, 3));
            d.edje->setText(text(table1, 4));
            d.btn->setText(record::kEdit);
            showDialog(&d, r_, Placement::Centred);
            break;
        }
        case 4: {
            Tzgj& d = *r_.zgj;
            d.edzl->setText(text(table1, 2));
            d.edname->setText(text(table1, 1));
            d.edsm->setText(text(table1, 3));
            d.edje->setText(text(table1, 4));
            d.btn->setText(record::kEdit);
            showDialog(&d, r_, Placement::Centred);
            break;
        }
        default:
            break;
        }
    });
}

void TForm1::btndelClick() {
    guarded(r_.prompter, [this] {
        if (table1.recNo() < 0) {
            r_.prompter.message(QStringLiteral("请选择要删除的对象!"));
            return;
        }
        if (!r_.prompter.askYesNo(QStringLiteral("真的要删除该资料吗!")))
            return;
        // Right-click can put the row back, on a ledger file or a server alike.
        const tsl::DeleteUndo::ArmWhenDone arm(lastDelete);
        const StatusBatch refreshOnceAtTheEnd(*this);
        WaitCursor wait; // renumbering a big book takes a while
        std::optional<CursorModel::Hold> hold; // the grid follows once, to the row where the numbering stops
        std::optional<tsl::books::RunningSummary::Still> still; // the numbering changes no amount
        tsl::books::deleteRow(table1, [&] {
            if (data1)
                hold.emplace(*data1);
            still.emplace(*running_);
        }, &lastDelete);
    });
    refreshSafetyMenu(); // the delete can now be undone, also by its key
    recheckServer();
}
