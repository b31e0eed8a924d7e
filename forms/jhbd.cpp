#include "jhbd.h"

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

Tjhb::Tjhb(Roster& roster) : QWidget(nullptr), r_(roster) {
    setObjectName(QStringLiteral("jhb"));
    setupWindow(*this, QStringLiteral("进货!"), 267, 141);
    setWindowIcon(QIcon(dialogPicture(QStringLiteral("jhb"))));

    Label1 = makeLabel(this, "Label1", QStringLiteral("货物来源:"), 8, 8);
    Label2 = makeLabel(this, "Label2", QStringLiteral("货物种类:"), 8, 32);
    Label3 = makeLabel(this, "Label3", QStringLiteral("货物数目:"), 8, 56);
    Label6 = makeLabel(this, "Label6", QStringLiteral("总金额:"), 16, 80);

    edly = makeDropDown(this, "edly", 64, 4, 161);
    edzl = makeDropDown(this, "edzl", 64, 28, 161);
    edsm = makeEdit(this, "edsm", 64, 52, 161);
    edsm->setText(QStringLiteral("0"));
    edje = makeAmount(this, "edje", 64, 76);
    Bevel1 = makeBevel(this, 104);
    Image1 = makeImage(this, QStringLiteral("jhb"), 232, 72);
    btn = makeButton(this, "btn", QString(), 152, 112);
    btncancel = makeButton(this, "btncancel", QStringLiteral("取消"), 208, 112);

    setTabOrder(edly, edzl);
    setTabOrder(edzl, edsm);
    setTabOrder(edsm, edje);
    setTabOrder(edje, btn);
    setTabOrder(btn, btncancel);

    connect(btn, &QPushButton::clicked, this, &Tjhb::btnClick);
    connect(btncancel, &QPushButton::clicked, this, &Tjhb::btncancelClick);
}

void Tjhb::showEvent(QShowEvent* event) {
    centreOnScreen(*this);
    QWidget::showEvent(event);
}

void Tjhb::closeEvent(QCloseEvent* event) {
    FormCloseQuery();
    event->accept();
}

void Tjhb::FormCloseQuery() {
    edly->reset();
    edzl->reset();
    edsm->setText(QStringLiteral("0"));
    edje->setText(QStringLiteral("0"));
}

void Tjhb::btncancelClick() { close(); }

void Tjhb::btnClick() {
    guarded(r_.prompter, [this] {
        if (!amountAccepted(r_.prompter, edje->text()))
            return;
        tsl::Cursor& book = r_.Form1->table1;
        const bool adding = isAddMode(btn);
        if (!adding && !hasRowToEdit(r_.prompter, book))
            return;

        tsl::Cursor& scratch = r_.Form1->table2;
        keepInList(scratch, tsl::table::purchaseKinds, utf8(edzl->text()));
        keepInList(scratch, tsl::table::purchaseSources, utf8(edly->text()));

        writeRow(book, [&] {
            book.edit();
            if (adding) {
                book.append();
                // The stamp comes first here; the new row is still not counted.
                book.setField(tsl::field::stamp, tsl::serialStamp(book.recordCount() + 1, r_.clock));
            }
            book.setField(tsl::field::buySource, utf8(edly->text()));
            book.setField(tsl::field::buyKind, utf8(edzl->text()));
            book.setField(tsl::field::buyQuantity, utf8(edsm->text()));
            book.setField(tsl::field::amount, utf8(edje->text()));
            book.post();
        });
        close();
    });
}
