#include "forms/fhbd.h"

#include "forms/Unit1.h"
#include "widgets/amountspin.h"
#include "widgets/guard.h"
#include "widgets/look.h"
#include "widgets/movement.h"
#include "widgets/recorddialog.h"
#include "forms/roster.h"
#include "storage/scan.h"
#include "storage/schema.h"

#include <QCloseEvent>
#include <QLineEdit>
#include <QPushButton>

using namespace movement;
using namespace record;

Tfhb::Tfhb(Roster& roster) : QWidget(nullptr), r_(roster) {
    setupDialog(*this, "fhb", QStringLiteral("发货!"), 369, 199);

    Label1 = textLabel(this, "Label1", QStringLiteral("客户姓名:"), 8, 8);
    Label2 = textLabel(this, "Label2", QStringLiteral("毛衫种类:"), 8, 32);
    Label3 = textLabel(this, "Label3", QStringLiteral("数量:"), 24, 56);
    Label4 = textLabel(this, "Label4", QStringLiteral("发货目的地:"), 8, 80);
    Label5 = textLabel(this, "Label5", QStringLiteral("邮编:"), 24, 104);
    Label6 = textLabel(this, "Label6", QStringLiteral("总金额:"), 16, 136);

    // Created in tab order, so the focus chain starts at edname.
    const Parts part(this, kShipmentLayout);
    edname = part.name("edname");
    edzl = part.kind();
    edsm = part.quantity();
    edadd = edit(this, "edadd", 80, 77, 281);
    edyb = edit(this, "edyb", 64, 101, 73);
    edje = part.amount();
    Bevel1 = part.bevel();
    Image1 = part.image(QStringLiteral("fhb"));
    btn = part.confirm();
    btncancel = part.cancel();
    chainTabOrder({edname, edzl, edsm, edadd, edyb, edje, btn, btncancel});
    confirmOnEnter(*this, btn);

    connect(btn, &QPushButton::clicked, this, &Tfhb::btnClick);
    connect(btncancel, &QPushButton::clicked, this, &Tfhb::btncancelClick);
    // Only the user's own edits and picks; the program's changes of the name do not fill.
    connect(edname, &DropDown::userChanged, this, &Tfhb::ednameChange);
}

void Tfhb::closeEvent(QCloseEvent* event) {
    FormCloseQuery();
    event->accept();
}

void Tfhb::FormCloseQuery() { reset({edname, edzl}, edsm, {edadd, edyb}, edje); }

void Tfhb::btncancelClick() { close(); }

void Tfhb::btnClick() {
    guarded(r_.prompter, [this] {
        if (confirm({r_.Form1->table1, r_.Form1->table2, r_.prompter, r_.clock}, btn, edje->text(),
                    {{tsl::table::garmentKinds, edzl->text()}, {tsl::table::customerNames, edname->text()}},
                    {{tsl::field::shipCustomer, edname->text()},
                     {tsl::field::shipKind, edzl->text()},
                     {tsl::field::shipQuantity, edsm->text()},
                     {tsl::field::shipAddress, edadd->text()},
                     {tsl::field::shipPostcode, edyb->text()},
                     {tsl::field::amount, edje->text()}},
                    StampAt::Last))
            close();
    });
}

void Tfhb::ednameChange() {
    guarded(r_.prompter, [this] {
        tsl::Cursor& customers = r_.Form1->table2;
        tsl::reopen(customers, tsl::table::customers);
        if (tsl::findExact(customers, tsl::pos::custName, utf8(edname->text()))) {
            edadd->setText(QString::fromStdString(customers.fieldText(tsl::pos::custAddress)));
            edyb->setText(QString::fromStdString(customers.fieldText(tsl::pos::custPostcode)));
        }
    });
}
