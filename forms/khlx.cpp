#include "forms/khlx.h"

#include "forms/Unit1.h"
#include "widgets/gridmodel.h"
#include "widgets/guard.h"
#include "widgets/look.h"
#include "widgets/recorddialog.h"
#include "forms/roster.h"
#include "storage/scan.h"
#include "storage/schema.h"

#include <QApplication>
#include <QCloseEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <algorithm>
#include <optional>

using namespace record;

int ByteLimit::byteLength(const QString& text) {
    int n = 0;
    for (char32_t c : text.toUcs4())
        n += c < 0x80 ? 1 : 2;
    return n;
}

ByteLimit::ByteLimit(int limit, QLineEdit* edit) : QObject(edit), edit_(edit), limit_(limit), now_(edit->text()) {
    // Every change raises textChanged; the user's also raise textEdited, before or after it.
    // Read the edit itself: after a revert inside textEdited, Qt still reports the refused text here.
    connect(edit, &QLineEdit::textChanged, this, [this] {
        before_ = now_;
        now_ = edit_->text();
    });
    connect(edit, &QLineEdit::textEdited, this, &ByteLimit::edited);
}

QString ByteLimit::fitting(const QString& inserted, int budget) {
    qsizetype end = 0;
    int used = 0;
    while (end < inserted.size()) {
        const qsizetype len = inserted.at(end).isHighSurrogate() && end + 1 < inserted.size() ? 2 : 1;
        const int cost = byteLength(inserted.mid(end, len));
        if (used + cost > budget)
            break;
        used += cost;
        end += len;
    }
    return inserted.left(end);
}

void ByteLimit::edited(const QString& text) {
    const QString prior = now_ == text ? before_ : now_;
    const int n = byteLength(text);
    if (n <= limit_ || n < byteLength(prior))
        return;
    // The edit replaced the middle of the old text: what stands before and after it stays.
    const qsizetype shorter = std::min(prior.size(), text.size());
    qsizetype head = 0;
    while (head < shorter && prior.at(head) == text.at(head))
        ++head;
    qsizetype tail = 0;
    while (tail < shorter - head && prior.at(prior.size() - 1 - tail) == text.at(text.size() - 1 - tail))
        ++tail;
    // Never split a surrogate pair at either end of the new part.
    if (head > 0 && text.at(head - 1).isHighSurrogate())
        --head;
    if (tail > 0 && text.at(text.size() - tail).isLowSurrogate())
        --tail;
    const QString kept = text.left(head) + text.right(tail);
    const QString put = fitting(text.mid(head, text.size() - head - tail), limit_ - byteLength(kept));
    edit_->setText(text.left(head) + put + text.right(tail));
    edit_->setCursorPosition(int(head + put.size()));
    QApplication::beep();
}

Tkhl::Tkhl(Roster& roster) : QWidget(nullptr), r_(roster) {
    setupDialog(*this, "khl", QStringLiteral("客户联系!"), 326, 164);

    Label1 = textLabel(this, "Label1", QStringLiteral("姓名:"), {8, 8, 30, 12});
    Label2 = textLabel(this, "Label2", QStringLiteral("地址:"), {8, 32, 30, 12});
    Label3 = textLabel(this, "Label3", QStringLiteral("邮编:"), {8, 56, 30, 12});
    Label4 = textLabel(this, "Label4", QStringLiteral("电话:"), {8, 80, 30, 12});
    Label5 = textLabel(this, "Label5", QStringLiteral("手机:"), {8, 104, 30, 12});

    // Created in tab order, so the focus chain starts at edname.
    edname = edit(this, "edname", 40, 5, 105);
    edadd = edit(this, "edadd", 40, 29, 281);
    new ByteLimit(kAddressLimit, edadd);
    edyb = edit(this, "edyb", 40, 53, 105);
    eddh = edit(this, "eddh", 40, 77, 129);
    edsj = edit(this, "edsj", 40, 101, 193);

    Bevel1 = bevel(this, 128);
    Image1 = image(this, QStringLiteral("khl"), 280, 88);

    btn = new QPushButton(kAdd, this);
    btn->setObjectName(QStringLiteral("btn"));
    btn->setGeometry(208, 136, 57, 25);
    btncancel = new QPushButton(QStringLiteral("取消"), this);
    btncancel->setObjectName(QStringLiteral("btncancel"));
    btncancel->setGeometry(264, 136, 57, 25);

    chainTabOrder({edname, edadd, edyb, eddh, edsj, btn, btncancel});
    confirmOnEnter(*this, btn);

    connect(btn, &QPushButton::clicked, this, &Tkhl::btnClick);
    connect(btncancel, &QPushButton::clicked, this, &Tkhl::btncancelClick);

    // Not centred: a fixed place the first time, then wherever the user left it.
    move(362, 125);
}

void Tkhl::closeEvent(QCloseEvent* event) {
    FormCloseQuery();
    event->accept();
}

void Tkhl::FormCloseQuery() {
    edname->clear();
    edadd->clear();
    edyb->clear();
    eddh->clear();
    edsj->clear();
}

void Tkhl::btncancelClick() { close(); }

void Tkhl::btnClick() {
    guarded(r_.prompter, [this] {
        // The dialog is modeless: the workspace may show another book by now.
        const auto customers = tsl::table::customers;
        if (r_.Form1->viewNumber() != QString::fromUtf8(customers.data(), qsizetype(customers.size()))) {
            r_.prompter.message(QStringLiteral("您当前选择的不是\"客户联系\"!请选择客户联系!"));
            return;
        }
        const QString mode = btn->text();
        if (mode == kAdd)
            addCustomer();
        else if (mode == kEdit)
            editCustomer();
    });
}

void Tkhl::addCustomer() {
    tsl::Cursor& t1 = r_.Form1->table1;
    const std::string name = utf8(edname->text());

    {
        // The grid follows once, to the row where the search stops.
        std::optional<CursorModel::Hold> hold;
        if (r_.Form1->data1)
            hold.emplace(*r_.Form1->data1);
        if (tsl::findExact(t1, tsl::pos::custName, name)) {
            // The grid is left on the customer who has the name.
            hold.reset();
            r_.prompter.message(QStringLiteral("这个姓名已经存在,您最好把名字改一下,如在名字后面加个2!"));
            return;
        }
    }

    writeRow(t1, [&] {
        t1.edit();
        t1.append();
        t1.setField(tsl::field::custName, name);
        t1.setField(tsl::field::custPostcode, utf8(edyb->text()));
        t1.setField(tsl::field::custPhone, utf8(eddh->text()));
        t1.setField(tsl::field::custMobile, utf8(edsj->text()));
        t1.setField(tsl::field::custAddress, utf8(edadd->text()));
        t1.post();
    });

    // Appended without looking: the list may hold a name twice.
    tsl::Cursor& t2 = r_.Form1->table2;
    tsl::reopen(t2, tsl::table::customerNames);
    writeRow(t2, [&] {
        t2.edit();
        t2.append();
        t2.setField(tsl::field::lookup, name);
        t2.post();
    });
    close();
}

void Tkhl::editCustomer() {
    tsl::Cursor& t1 = r_.Form1->table1;
    // An empty book, or the edited row deleted meanwhile: there is nothing to change.
    if (!hasRowToEdit(r_.prompter, t1))
        return;
    writeRow(t1, [&] {
        t1.edit();
        t1.setField(tsl::field::custName, utf8(edname->text()));
        t1.setField(tsl::field::custAddress, utf8(edadd->text()));
        t1.setField(tsl::field::custPostcode, utf8(edyb->text()));
        t1.setField(tsl::field::custPhone, utf8(eddh->text()));
        t1.setField(tsl::field::custMobile, utf8(edsj->text()));
        t1.post();
    });
    close();
}
