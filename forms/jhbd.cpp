#include "forms/jhbd.h"

#include "forms/Unit1.h"
#include "widgets/amountspin.h"
#include "widgets/guard.h"
#include "widgets/look.h"
#include "widgets/movement.h"
#include "widgets/recorddialog.h"
#include "forms/roster.h"
#include "storage/schema.h"

#include <QCloseEvent>
#include <QLineEdit>
#include <QPushButton>

using namespace movement;
using namespace record;

Tjhb::Tjhb(Roster& roster) : QWidget(nullptr), r_(roster) {
    setupDialog(*this, "jhb", QStringLiteral("进货!"), 267, 141);

    Label1 = textLabel(this, "Label1", QStringLiteral("货物来源:"), 8, 8);
    Label2 = textLabel(this, "Label2", QStringLiteral("货物种类:"), 8, 32);
    Label3 = textLabel(this, "Label3", QStringLiteral("货物数目:"), 8, 56);
    Label6 = textLabel(this, "Label6", QStringLiteral("总金额:"), 16, 80);

    const Parts part(this, kSmallLayout);
    edly = part.name("edly");
    edzl = part.kind();
    edsm = part.quantity();
    edje = part.amount();
    Bevel1 = part.bevel();
    Image1 = part.image(QStringLiteral("jhb"));
    btn = part.confirm();
    btncancel = part.cancel();
    chainTabOrder({edly, edzl, edsm, edje, btn, btncancel});
    confirmOnEnter(*this, btn);

    connect(btn, &QPushButton::clicked, this, &Tjhb::btnClick);
    connect(btncancel, &QPushButton::clicked, this, &Tjhb::btncancelClick);
}

void Tjhb::closeEvent(QCloseEvent* event) {
    FormCloseQuery();
    event->accept();
}

void Tjhb::FormCloseQuery() { reset({edly, edzl}, edsm, {}, edje); }

void Tjhb::btncancelClick() { close(); }

void Tjhb::btnClick() {
    guarded(r_.prompter, [this] {
        // The stamp comes first here.
        if (confirm({r_.Form1->table1, r_.Form1->table2, r_.prompter, r_.clock}, btn, edje->text(),
                    {{tsl::table::purchaseKinds, edzl->text()}, {tsl::table::purchaseSources, edly->text()}},
                    {{tsl::field::buySource, edly->text()},
                     {tsl::field::buyKind, edzl->text()},
                     {tsl::field::buyQuantity, edsm->text()},
                     {tsl::field::amount, edje->text()}},
                    StampAt::First))
            close();
    });
}
