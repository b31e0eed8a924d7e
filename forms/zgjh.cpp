#include "forms/zgjh.h"

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

Tzgj::Tzgj(Roster& roster) : QWidget(nullptr), r_(roster) {
    setupDialog(*this, "zgj", QStringLiteral("职工交货!"), 270, 142);

    Label1 = textLabel(this, "Label1", QStringLiteral("交货人:"), 16, 8);
    Label2 = textLabel(this, "Label2", QStringLiteral("交货种类:"), 8, 32);
    Label3 = textLabel(this, "Label3", QStringLiteral("交货数目:"), 8, 56);
    Label6 = textLabel(this, "Label6", QStringLiteral("总金额:"), 16, 80);

    // Created in tab order: the buttons first, and the amount before the quantity.
    const Parts part(this, kSmallLayout);
    btn = part.confirm();
    btncancel = part.cancel();
    edname = part.name("edname");
    edzl = part.kind();
    edje = part.amount();
    edsm = part.quantity();
    Bevel1 = part.bevel();
    Image1 = part.image(QStringLiteral("zgj"));
    chainTabOrder({btn, btncancel, edname, edzl, edje, edsm});
    confirmOnEnter(*this, btn);

    connect(btn, &QPushButton::clicked, this, &Tzgj::btnClick);
    connect(btncancel, &QPushButton::clicked, this, &Tzgj::btncancelClick);
}

void Tzgj::closeEvent(QCloseEvent* event) {
    FormCloseQuery();
    event->accept();
}

void Tzgj::FormCloseQuery() { reset({edname, edzl}, edsm, {}, edje); }

void Tzgj::btncancelClick() { close(); }

void Tzgj::btnClick() {
    guarded(r_.prompter, [this] {
        if (confirm({r_.Form1->table1, r_.Form1->table2, r_.prompter, r_.clock}, btn, edje->text(),
                    {{tsl::table::workKinds, edzl->text()}, {tsl::table::workerNames, edname->text()}},
                    {{tsl::field::delWorker, edname->text()},
                     {tsl::field::delKind, edzl->text()},
                     {tsl::field::delQuantity, edsm->text()},
                     {tsl::field::amount, edje->text()}},
                    StampAt::Last))
            close();
    });
}
