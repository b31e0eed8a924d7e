#include "fhbd.h"

#include "Unit1.h"
#include "amountspin.h"
#include "guard.h"
#include "intconv.h"
#include "look.h"
#include "prompter.h"
#include "roster.h"
#include "schema.h"
#include "stamp.h"

#include <QCloseEvent>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace movement {

bool isAddMode(const QPushButton* btn) { return btn->text() == QStringLiteral("添加"); }

bool amountAccepted(Prompter& prompter, const QString& amount) {
    if (amount.isEmpty()) {
        prompter.message(QStringLiteral("金额不能为空"));
        return false;
    }
    // Every total of the book converts each amount; one that cannot be converted
    // would break them all until someone mends the row.
    if (!tsl::tryStrToInt(utf8(amount))) {
        prompter.message(QStringLiteral("金额必须是整数!"));
        return false;
    }
    return true;
}

bool hasRowToEdit(Prompter& prompter, const tsl::Cursor& book) {
    if (book.recNo() >= 0)
        return true;
    prompter.message(QStringLiteral("请选择要修改的对象!"));
    return false;
}

void keepInList(tsl::Cursor& scratch, std::string_view list, const std::string& text) {
    scratch.close();
    scratch.setTableName(std::string(list));
    scratch.open();
    scratch.first();
    const int n = scratch.recordCount();
    for (int i = 0; i < n; ++i) {
        if (scratch.fieldText(tsl::pos::lookupText) == text)
            return;
        scratch.next();
    }
    writeRow(scratch, [&] {
        scratch.edit();
        scratch.append();
        scratch.setField(tsl::field::lookup, text);
        scratch.post();
    });
}

QLabel* makeLabel(QWidget* parent, const char* name, const QString& text, int x, int y) {
    auto* l = new QLabel(text, parent);
    l->setObjectName(QLatin1String(name));
    l->move(x, y);
    l->adjustSize();
    return l;
}

QLineEdit* makeEdit(QWidget* parent, const char* name, int x, int y, int w) {
    auto* e = new QLineEdit(parent);
    e->setObjectName(QLatin1String(name));
    e->setGeometry(x, y, w, 20);
    unlimitLength(e);
    return e;
}

DropDown* makeDropDown(QWidget* parent, const char* name, int x, int y, int w) {
    auto* d = new DropDown(parent);
    d->setObjectName(QLatin1String(name));
    d->setGeometry(x, y, w, 20);
    return d;
}

AmountSpin* makeAmount(QWidget* parent, const char* name, int x, int y) {
    auto* s = new AmountSpin(parent);
    s->setObjectName(QLatin1String(name));
    s->setGeometry(x, y, 73, 21);
    s->setText(QStringLiteral("0"));
    return s;
}

QFrame* makeBevel(QWidget* parent, int top) {
    auto* b = new QFrame(parent);
    b->setObjectName(QStringLiteral("Bevel1"));
    b->setFrameShape(QFrame::HLine);
    b->setFrameShadow(QFrame::Sunken);
    b->setGeometry(0, top, parent->width(), 2);
    return b;
}

QLabel* makeImage(QWidget* parent, const QString& picture, int x, int y) {
    auto* i = new QLabel(parent);
    i->setObjectName(QStringLiteral("Image1"));
    i->setGeometry(x, y, 32, 32);
    i->setPixmap(dialogPicture(picture));
    return i;
}

QPushButton* makeButton(QWidget* parent, const char* name, const QString& caption, int x, int y) {
    auto* b = new QPushButton(caption, parent);
    b->setObjectName(QLatin1String(name));
    b->setGeometry(x, y, 57, 25);
    b->setAutoDefault(false);
    return b;
}

} // namespace movement

using namespace movement;

Tfhb::Tfhb(Roster& roster) : QWidget(nullptr), r_(roster) {
    setObjectName(QStringLiteral("fhb"));
    setupWindow(*this, QStringLiteral("发货!"), 369, 199);
    setWindowIcon(QIcon(dialogPicture(QStringLiteral("fhb"))));

    Label1 = makeLabel(this, "Label1", QStringLiteral("客户姓名:"), 8, 8);
    Label2 = makeLabel(this, "Label2", QStringLiteral("毛衫种类:"), 8, 32);
    Label3 = makeLabel(this, "Label3", QStringLiteral("数量:"), 24, 56);
    Label4 = makeLabel(this, "Label4", QStringLiteral("发货目的地:"), 8, 80);
    Label5 = makeLabel(this, "Label5", QStringLiteral("邮编:"), 24, 104);
    Label6 = makeLabel(this, "Label6", QStringLiteral("总金额:"), 16, 136);

    // Created in tab order, so the focus chain starts at edname.
    edname = makeDropDown(this, "edname", 64, 4, 105);
    edzl = makeDropDown(this, "edzl", 64, 28, 121);
    edsm = makeEdit(this, "edsm", 64, 53, 89);
    edsm->setText(QStringLiteral("0"));
    edadd = makeEdit(this, "edadd", 80, 77, 281);
    edyb = makeEdit(this, "edyb", 64, 101, 73);
    edje = makeAmount(this, "edje", 64, 132);
    Bevel1 = makeBevel(this, 160);
    Image1 = makeImage(this, QStringLiteral("fhb"), 328, 120);
    btn = makeButton(this, "btn", QString(), 248, 168);
    btncancel = makeButton(this, "btncancel", QStringLiteral("取消"), 304, 168);

    setTabOrder(edname, edzl);
    setTabOrder(edzl, edsm);
    setTabOrder(edsm, edadd);
    setTabOrder(edadd, edyb);
    setTabOrder(edyb, edje);
    setTabOrder(edje, btn);
    setTabOrder(btn, btncancel);

    connect(btn, &QPushButton::clicked, this, &Tfhb::btnClick);
    connect(btncancel, &QPushButton::clicked, this, &Tfhb::btncancelClick);
    // Only the user's own edits and picks; the program's changes of the name do not fill.
    connect(edname, &DropDown::userChanged, this, &Tfhb::ednameChange);
}

void Tfhb::showEvent(QShowEvent* event) {
    centreOnScreen(*this);
    QWidget::showEvent(event);
}

void Tfhb::closeEvent(QCloseEvent* event) {
    FormCloseQuery();
    event->accept();
}

void Tfhb::FormCloseQuery() {
    edname->reset();
    edzl->reset();
    edsm->setText(QStringLiteral("0"));
    edadd->clear();
    edyb->clear();
    edje->setText(QStringLiteral("0"));
}

void Tfhb::btncancelClick() { close(); }

void Tfhb::btnClick() {
    guarded(r_.prompter, [this] {
        if (!amountAccepted(r_.prompter, edje->text()))
            return;
        tsl::Cursor& book = r_.Form1->table1;
        const bool adding = isAddMode(btn);
        if (!adding && !hasRowToEdit(r_.prompter, book))
            return;

        tsl::Cursor& scratch = r_.Form1->table2;
        keepInList(scratch, tsl::table::garmentKinds, utf8(edzl->text()));
        keepInList(scratch, tsl::table::customerNames, utf8(edname->text()));

        writeRow(book, [&] {
            book.edit();
            if (adding)
                book.append();
            book.setField(tsl::field::shipCustomer, utf8(edname->text()));
            book.setField(tsl::field::shipKind, utf8(edzl->text()));
            book.setField(tsl::field::shipQuantity, utf8(edsm->text()));
            book.setField(tsl::field::shipAddress, utf8(edadd->text()));
            book.setField(tsl::field::shipPostcode, utf8(edyb->text()));
            book.setField(tsl::field::amount, utf8(edje->text()));
            // The row being appended is not counted yet: its number is the count before the add plus one.
            if (adding)
                book.setField(tsl::field::stamp, tsl::serialStamp(book.recordCount() + 1, r_.clock));
            book.post();
        });
        close();
    });
}

void Tfhb::ednameChange() {
    guarded(r_.prompter, [this] {
        tsl::Cursor& customers = r_.Form1->table2;
        customers.close();
        customers.setTableName(std::string(tsl::table::customers));
        customers.open();
        customers.first();
        const std::string name = utf8(edname->text());
        const int n = customers.recordCount();
        for (int i = 0; i < n; ++i) {
            if (customers.fieldText(0) == name) {
                edadd->setText(QString::fromStdString(customers.fieldText(1)));
                edyb->setText(QString::fromStdString(customers.fieldText(2)));
                return;
            }
            customers.next();
        }
    });
}
