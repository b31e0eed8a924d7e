#include "zgjh.h"

#include "Unit1.h"
#include "amountspin.h"
#include "fhbd.h"
#include "guard.h"
#include "look.h"
#include "roster.h"
#include "schema.h"
#include "stamp.h"

#include <QCloseEvent>
#include <QLineEdit>
#include <QPushButton>

using namespace movement;

Tzgj::Tzgj(Roster& roster) : QWidget(nullptr), r_(roster) {
    setObjectName(QStringLiteral("zgj"));
    setupWindow(*this, QStringLiteral("职工交货!"), 270, 142);
    setWindowIcon(QIcon(dialogPicture(QStringLiteral("zgj"))));

    Label1 = makeLabel(this, "Label1", QStringLiteral("交货人:"), 16, 8);
    Label2 = makeLabel(this, "Label2", QStringLiteral("交货种类:"), 8, 32);
    Label3 = makeLabel(this, "Label3", QStringLiteral("交货数目:"), 8, 56);
    Label6 = makeLabel(this, "Label6", QStringLiteral("总金额:"), 16, 80);

    // Created in tab order: the buttons first, and the amount before the quantity.
    btn = makeButton(this, "btn", QString(), 152, 112);
    btncancel = makeButton(this, "btncancel", QStringLiteral("取消"), 208, 112);
    edname = makeDropDown(this, "edname", 64, 4, 161);
    edzl = makeDropDown(this, "edzl", 64, 28, 161);
    edje = makeAmount(this, "edje", 64, 76);
    edsm = makeEdit(this, "edsm", 64, 52, 161);
    edsm->setText(QStringLiteral("0"));
    Bevel1 = makeBevel(this, 104);
    Image1 = makeImage(this, QStringLiteral("zgj"), 232, 72);

    setTabOrder(btn, btncancel);
    setTabOrder(btncancel, edname);
    setTabOrder(edname, edzl);
    setTabOrder(edzl, edje);
    setTabOrder(edje, edsm);

    connect(btn, &QPushButton::clicked, this, &Tzgj::btnClick);
    connect(btncancel, &QPushButton::clicked, this, &Tzgj::btncancelClick);
}

void Tzgj::showEvent(QShowEvent* event) {
    centreOnScreen(*this);
    QWidget::showEvent(event);
}

void Tzgj::closeEvent(QCloseEvent* event) {
    FormCloseQuery();
    event->accept();
}

void Tzgj::FormCloseQuery() {
    edname->reset();
    edzl->reset();
    edsm->setText(QStringLiteral("0"));
    edje->setText(QStringLiteral("0"));
}

void Tzgj::btncancelClick() { close(); }

void Tzgj::btnClick() {
    guarded(r_.prompter, [this] {
        if (!amountAccepted(r_.prompter, edje->text()))
            return;
        tsl::Cursor& book = r_.Form1->table1;
        const bool adding = isAddMode(btn);
        if (!adding && !hasRowToEdit(r_.prompter, book))
            return;

        tsl::Cursor& scratch = r_.Form1->table2;
        keepInList(scratch, tsl::table::workKinds, utf8(edzl->text()));
        keepInList(scratch, tsl::table::workerNames, utf8(edname->text()));

        writeRow(book, [&] {
            book.edit();
            if (adding)
                book.append();
            book.setField(tsl::field::delWorker, utf8(edname->text()));
            book.setField(tsl::field::delKind, utf8(edzl->text()));
            book.setField(tsl::field::delQuantity, utf8(edsm->text()));
            book.setField(tsl::field::amount, utf8(edje->text()));
            // The row being appended is not counted yet: its number is the count before the add plus one.
            if (adding)
                book.setField(tsl::field::stamp, tsl::serialStamp(book.recordCount() + 1, r_.clock));
            book.post();
        });
        close();
    });
}
