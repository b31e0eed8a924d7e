// The shipment, purchase and worker delivery dialogs, driven through their
// widgets with a ledger open in the workspace; the amount box.
#include "tests/forms/ledgerfixture.h"

#include "forms/Unit1.h"
#include "widgets/amountspin.h"
#include "forms/fhbd.h"
#include "forms/jhbd.h"
#include "forms/zgjh.h"

#include <QClipboard>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QToolButton>

using namespace ledger;

namespace {

// What tells the three dialogs apart, for the tests they share.
struct Kind {
    const char* dialog;  // the instance's object name
    const char* nameBox; // edname or edly
    std::string_view book;
    std::string_view nameList;
    std::string_view kindList;
    QStringList addOrder; // fields in the order the add writes them
    QStringList editOrder;
};

const Kind kShipment{"fhb",
                     "edname",
                     tsl::table::shipments,
                     tsl::table::customerNames,
                     tsl::table::garmentKinds,
                     {"客户姓名", "毛衫种类", "数量", "发货地点", "邮编", "总金额", "日期"},
                     {"客户姓名", "毛衫种类", "数量", "发货地点", "邮编", "总金额"}};
const Kind kPurchase{"jhb",
                     "edly",
                     tsl::table::purchases,
                     tsl::table::purchaseSources,
                     tsl::table::purchaseKinds,
                     {"日期", "货物来源", "货物种类", "货物数目", "总金额"},
                     {"货物来源", "货物种类", "货物数目", "总金额"}};
const Kind kDelivery{"zgj",
                     "edname",
                     tsl::table::deliveries,
                     tsl::table::workerNames,
                     tsl::table::workKinds,
                     {"交货人", "交货种类", "交货总数", "总金额", "日期"},
                     {"交货人", "交货种类", "交货总数", "总金额"}};
const Kind* const kKinds[] = {&kShipment, &kPurchase, &kDelivery};

const Kind& kindNamed(const QString& n) { return n == "fhb" ? kShipment : n == "jhb" ? kPurchase : kDelivery; }

// The controls of one movement dialog, found by their names.
struct Dlg {
    Dlg(Fixture& d, const Kind& k) : kind(k) {
        for (QWidget* w : {(QWidget*)d.roster->fhb.get(), (QWidget*)d.roster->jhb.get(), (QWidget*)d.roster->zgj.get()})
            if (w->objectName() == QLatin1String(k.dialog))
                win = w;
        name = win->findChild<DropDown*>(k.nameBox);
        zl = win->findChild<DropDown*>("edzl");
        sm = win->findChild<QLineEdit*>("edsm");
        je = win->findChild<AmountSpin*>("edje");
        btn = win->findChild<QPushButton*>("btn");
        cancel = win->findChild<QPushButton*>("btncancel");
    }
    void fill(const QString& n, const QString& z, const QString& s, const QString& amount) {
        name->setText(n);
        zl->setText(z);
        sm->setText(s);
        je->setText(amount);
    }
    const Kind& kind;
    QWidget* win = nullptr;
    DropDown* name = nullptr;
    DropDown* zl = nullptr;
    QLineEdit* sm = nullptr;
    AmountSpin* je = nullptr;
    QPushButton* btn = nullptr;
    QPushButton* cancel = nullptr;
};

// The book's row as the dialog writes it: the stamp, name, kind, quantity,
// then for shipments address and postcode, then the amount.
QString rowOf(const Kind& k, const QString& stamp, const QString& n, const QString& z, const QString& s,
              const QString& amount, const QString& address = {}, const QString& postcode = {}) {
    QStringList f{stamp, n, z, s};
    if (&k == &kShipment)
        f << address << postcode;
    f << amount;
    return f.join('|');
}

void addKinds() {
    QTest::addColumn<QString>("dialog");
    QTest::newRow("shipment") << "fhb";
    QTest::newRow("purchase") << "jhb";
    QTest::newRow("delivery") << "zgj";
}

} // namespace

class TestMovement : public QObject {
    Q_OBJECT

private slots:
    // The stamp's number is the count of rows before the add plus one.
    void addWritesRowWithStampAndLists_data() { addKinds(); }
    void addWritesRowWithStampAndLists() {
        QFETCH(QString, dialog);
        const Kind& k = kindNamed(dialog);
        Fixture d(k.book);
        Dlg g(d, k);
        d.w->btnaddClick();
        QVERIFY(g.win->isVisible());
        QCOMPARE(g.btn->text(), QStringLiteral("添加"));
        g.fill("王五", "羊毛衫", "12", "300");
        if (auto* s = qobject_cast<Tfhb*>(g.win)) {
            s->edadd->setText("上海市南京路1号");
            s->edyb->setText("200001");
        }
        g.btn->click();
        QCOMPARE(d.boxes(), QStringList());
        QVERIFY(!g.win->isVisible());
        QCOMPARE(rows(k.book),
                 QStringList{rowOf(k, "(1)2004-5-12", "王五", "羊毛衫", "12", "300", "上海市南京路1号", "200001")});
        QCOMPARE(column(k.kindList), QStringList{"羊毛衫"});
        QCOMPARE(column(k.nameList), QStringList{"王五"});
        QCOMPARE(d.w->table1.recNo(), 1); // the new row is current, so the grid shows it

        insertStamped(k.book, {"(9)2004-1-1"});
        d.open(k.book);
        d.clock.set({2004, 5, 3});
        d.w->btnaddClick();
        g.fill("王五", "羊毛衫", "-1", "-15");
        g.btn->click();
        const QStringList all = rows(k.book);
        QCOMPARE(all.size(), 3);
        QCOMPARE(all.last(), rowOf(k, "(3)2004-5-3", "王五", "羊毛衫", "-1", "-15"));
        QCOMPARE(column(k.nameList), QStringList{"王五"});
    }

    void writesFieldsInOrder_data() { addKinds(); }
    void writesFieldsInOrder() {
        QFETCH(QString, dialog);
        const Kind& k = kindNamed(dialog);
        Fixture d(k.book);
        Dlg g(d, k);
        g.win->show();
        g.fill("甲", "乙", "1", "2");
        g.btn->setText("添加");
        QCOMPARE(d.writeOrder(k.book, false, [&] { g.btn->click(); }), k.addOrder);
        g.btn->setText("修改");
        QCOMPARE(d.writeOrder(k.book, true, [&] { g.btn->click(); }), k.editOrder);
    }

    void listsKeepEachTextOnce_data() { addKinds(); }
    void listsKeepEachTextOnce() {
        QFETCH(QString, dialog);
        const Kind& k = kindNamed(dialog);
        Fixture d(k.book);
        insert(k.nameList, {"Li"});
        insert(k.kindList, {"wool"});
        Dlg g(d, k);
        auto confirm = [&](const QString& n, const QString& z) {
            d.w->btnaddClick();
            g.fill(n, z, "1", "1");
            g.btn->click();
            QCOMPARE(d.boxes(), QStringList());
        };
        confirm("Li", "wool");  // both known: nothing appended
        confirm("li", "wool "); // case and a trailing blank make new entries
        confirm("li", "wool "); // and only once
        confirm("", "");        // empty text is a text like any other
        confirm("", "");
        QCOMPARE(column(k.nameList), (QStringList{"Li", "li", ""}));
        QCOMPARE(column(k.kindList), (QStringList{"wool", "wool ", ""}));
        QCOMPARE(rows(k.book).size(), 5);
    }

    void editChangesCurrentRowKeepsStamp_data() { addKinds(); }
    void editChangesCurrentRowKeepsStamp() {
        QFETCH(QString, dialog);
        const Kind& k = kindNamed(dialog);
        Fixture d(k.book);
        const int width = int(tsl::findTable(k.book)->fields.size());
        for (const char* stamp : {"(1)2003-1-1", "(2)2003-1-2"})
            insert(k.book, QStringList{stamp} + QStringList(width - 2, "old") + QStringList{"1"});
        d.open(k.book);
        d.w->table1.moveTo(1);
        Dlg g(d, k);
        d.w->btneditClick();
        QCOMPARE(g.btn->text(), QStringLiteral("修改"));
        QCOMPARE(g.name->count(), 0);
        QCOMPARE(g.name->text(), QStringLiteral("old"));
        g.fill("新", "新种", "9", "77");
        g.btn->click();
        QCOMPARE(d.boxes(), QStringList());
        const QStringList all = rows(k.book);
        QCOMPARE(all.size(), 2);
        QVERIFY(all[0].startsWith("(1)2003-1-1|old|old|"));
        const QString address = &k == &kShipment ? "old" : "";
        QCOMPARE(all[1], rowOf(k, "(2)2003-1-2", "新", "新种", "9", "77", address, address));
        // Edit mode also keeps the lists up.
        QCOMPARE(column(k.nameList), QStringList{"新"});
        QCOMPARE(column(k.kindList), QStringList{"新种"});
    }

    // Whatever row is current when the user confirms receives the texts, and
    // any caption but "添加" is edit mode.
    void editWritesRowCurrentAtConfirm() {
        Fixture d(tsl::table::purchases);
        insert(tsl::table::purchases, {"(1)a", "s1", "k1", "1", "10"});
        insert(tsl::table::purchases, {"(2)b", "s2", "k2", "2", "20"});
        d.open(tsl::table::purchases);
        Dlg g(d, kPurchase);
        QCOMPARE(g.btn->text(), QString()); // no caption until the workspace gives one
        g.win->show();
        g.fill("s0", "k0", "0", "5");
        g.btn->click();
        QCOMPARE(rows(kPurchase.book), (QStringList{"(1)a|s0|k0|0|5", "(2)b|s2|k2|2|20"}));
        d.w->btneditClick(); // first row
        d.w->table1.moveTo(1);
        g.je->setText("25");
        g.btn->click();
        QCOMPARE(rows(kPurchase.book), (QStringList{"(1)a|s0|k0|0|5", "(2)b|s0|k0|0|25"}));
    }

    void amountEmptyOrNotWholeIsRefused_data() {
        QTest::addColumn<QString>("amount");
        QTest::addColumn<QString>("message");
        QTest::newRow("empty") << ""
                               << "金额不能为空";
        QTest::newRow("fraction") << "12.5"
                                  << "金额必须是整数!";
        QTest::newRow("sign only") << "-"
                                   << "金额必须是整数!";
        QTest::newRow("inner sign") << "1-2"
                                    << "金额必须是整数!";
        QTest::newRow("too large") << "2147483648"
                                   << "金额必须是整数!";
        QTest::newRow("letters") << "十元"
                                 << "金额必须是整数!";
    }
    void amountEmptyOrNotWholeIsRefused() {
        QFETCH(QString, amount);
        QFETCH(QString, message);
        Fixture d(tsl::table::shipments);
        for (const Kind* k : kKinds) {
            d.open(k->book);
            Dlg g(d, *k);
            for (const char* caption : {"添加", "修改"}) {
                d.w->btnaddClick();
                g.btn->setText(caption);
                g.fill("新名", "新种", "1", amount);
                g.btn->click();
                QCOMPARE(d.boxes(), QStringList{message});
                // Nothing written, and the dialog stays open with what was typed.
                QVERIFY(g.win->isVisible());
                QCOMPARE(g.je->text(), amount);
                QCOMPARE(g.name->text(), QStringLiteral("新名"));
                QCOMPARE(rows(k->book) + column(k->nameList) + column(k->kindList), QStringList());
                g.cancel->click();
            }
        }
    }

    void amountZeroAndWholeNumberTextsAccepted() {
        Fixture d(tsl::table::purchases);
        Dlg g(d, kPurchase);
        for (const char* amount : {"0", "+7", "$1F"}) {
            d.w->btnaddClick();
            g.je->setText(amount);
            g.btn->click();
            QCOMPARE(d.boxes(), QStringList());
        }
        // Stored as typed, not as the number.
        QCOMPARE(column(tsl::table::purchases, "总金额"), (QStringList{"0", "+7", "$1F"}));

        // Pasted text is taken as it is, then refused at the confirm.
        d.w->btnaddClick();
        QApplication::clipboard()->setText("一百");
        if (QApplication::clipboard()->text() != "一百")
            QFAIL("the clipboard does not hold text on this platform");
        g.je->setText("");
        QTest::keyClick(g.je, Qt::Key_V, Qt::ControlModifier);
        QCOMPARE(g.je->text(), QStringLiteral("一百"));
        g.btn->click();
        QCOMPARE(d.boxes(), QStringList{"金额必须是整数!"});
        QCOMPARE(rows(kPurchase.book).size(), 3);
    }

    void editWithoutCurrentRowWritesNothing_data() { addKinds(); }
    void editWithoutCurrentRowWritesNothing() {
        QFETCH(QString, dialog);
        const Kind& k = kindNamed(dialog);
        Fixture d(k.book);
        Dlg g(d, k);
        d.w->btneditClick(); // on an empty book: empty boxes
        QVERIFY(g.win->isVisible());
        QCOMPARE(g.name->text() + g.sm->text() + g.je->text(), QString());
        g.fill("名", "种", "1", "5");
        g.btn->click();
        QCOMPARE(d.boxes(), QStringList{"请选择要修改的对象!"});
        QVERIFY(g.win->isVisible());
        QCOMPARE(rows(k.book) + column(k.nameList) + column(k.kindList), QStringList());
        QVERIFY(!d.w->table1.pending());
    }

    void editAfterTheRowWasDeletedWritesNothing() {
        Fixture d(tsl::table::shipments);
        insert(tsl::table::shipments, {"(1)x", "a", "b", "1", "", "", "3"});
        d.open(tsl::table::shipments);
        Dlg g(d, kShipment);
        d.w->btneditClick();
        d.prompter.yesNoAnswers = {true};
        d.w->btndelClick();
        d.boxes();
        g.je->setText("4");
        g.btn->click();
        QCOMPARE(d.boxes(), QStringList{"请选择要修改的对象!"});
        QCOMPARE(rows(kShipment.book), QStringList());
    }

    // The dialogs write into whatever book the workspace shows; a book that lacks
    // a field must get no row at all, not even after the cursor moves on.
    void confirmInAnotherBookLeavesNoPartialRow_data() {
        QTest::addColumn<QString>("dialog");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QString>("missing");
        QTest::newRow("purchase into shipments") << "jhb"
                                                 << "2"
                                                 << "货物来源"; // the stamp is set first
        QTest::newRow("purchase into deliveries") << "jhb"
                                                  << "4"
                                                  << "货物来源";
        QTest::newRow("shipment into purchases") << "fhb"
                                                 << "3"
                                                 << "客户姓名";
        QTest::newRow("delivery into customers") << "zgj"
                                                 << "1"
                                                 << "交货人";
    }
    void confirmInAnotherBookLeavesNoPartialRow() {
        QFETCH(QString, dialog);
        QFETCH(QString, shown);
        QFETCH(QString, missing);
        const Kind& k = kindNamed(dialog);
        Fixture d(k.book);
        const std::string other = shown.toStdString();
        const QStringList row(int(tsl::findTable(other)->fields.size()), "1");
        insert(other, row);
        Dlg g(d, k);
        for (const char* caption : {"添加", "修改"}) {
            d.open(k.book);
            d.w->btnaddClick();
            d.open(other);
            g.btn->setText(caption);
            g.fill("名", "种", "1", "5");
            g.btn->click();
            const QStringList boxes = d.boxes();
            QCOMPARE(boxes.size(), 1);
            QVERIFY2(boxes[0].contains(missing), qPrintable(boxes[0]));
            QVERIFY(!d.w->table1.pending());
            d.w->table1.first(); // a pending row would be posted by a move
            d.w->table1.next();
            QCOMPARE(rows(other), QStringList{row.join('|')});
            QCOMPARE(rows(k.book), QStringList());
            QVERIFY(g.win->isVisible());
            g.cancel->click();
        }
    }

    void closeResetsEverything_data() { addKinds(); }
    void closeResetsEverything() {
        QFETCH(QString, dialog);
        const Kind& k = kindNamed(dialog);
        Fixture d(k.book);
        insert(k.nameList, {"n1"});
        insert(k.kindList, {"k1"});
        Dlg g(d, k);
        auto* s = qobject_cast<Tfhb*>(g.win);
        const std::function<void()> closers[] = {[&] { g.cancel->click(); }, [&] { g.win->close(); },
                                                 [&] { g.btn->click(); }};
        for (const auto& closeIt : closers) {
            d.w->btnaddClick();
            g.fill("x", "y", "5", "6");
            if (s) {
                s->edadd->setText("addr");
                s->edyb->setText("pc");
            }
            closeIt();
            QVERIFY(!g.win->isVisible());
            QCOMPARE(g.name->count() + g.zl->count(), 0);
            QCOMPARE(g.name->text() + g.zl->text(), QString());
            QCOMPARE(g.sm->text(), QStringLiteral("0"));
            QCOMPARE(g.je->text(), QStringLiteral("0"));
            if (s)
                QCOMPARE(s->edadd->text() + s->edyb->text(), QString());
        }
        QCOMPARE(rows(k.book).size(), 1); // only the confirm wrote
    }

    void dropDownKeepsExactlyTheTypedText() {
        Fixture d(tsl::table::shipments);
        insert(tsl::table::customerNames, {"Alpha"});
        Tfhb& s = *d.roster->fhb;
        d.w->btnaddClick();
        s.edname->setText("");
        typeText(s.edname->lineEdit(), "al");
        QCOMPARE(s.edname->text(), QStringLiteral("al")); // no completion
        typeText(s.edname->lineEdit(), "pha");
        QCOMPARE(s.edname->count(), 1);
        QTest::keyClick(s.edname->lineEdit(), Qt::Key_Enter); // matches "Alpha" but for case: confirms as typed
        QCOMPARE(column(tsl::table::shipments, tsl::field::shipCustomer), QStringList{"alpha"});
        QCOMPARE(column(tsl::table::customerNames), (QStringList{"Alpha", "alpha"}));
        d.w->btnaddClick();
        s.edname->setText("alpha");
        QTest::keyClick(s.edname, Qt::Key_Return);
        QCOMPARE(column(tsl::table::shipments, tsl::field::shipCustomer), (QStringList{"alpha", "alpha"}));
    }

    // --- customer autofill of the shipment dialog ---

    void autofillOnTypingEachCompletedName() {
        Fixture d(tsl::table::shipments);
        insert(tsl::table::customers, {"张", "甲地", "100", "", ""});
        insert(tsl::table::customers, {"张三", "乙地", "200", "", ""});
        Tfhb& s = *d.roster->fhb;
        QLineEdit* typed = s.edname->lineEdit();
        d.w->btnaddClick();
        s.edadd->setText("typed");
        typeText(typed, "李");
        QCOMPARE(s.edadd->text(), QStringLiteral("typed")); // no customer of that name
        typed->clear();
        typeText(typed, "张");
        QCOMPARE(s.edadd->text() + s.edyb->text(), QStringLiteral("甲地100"));
        typeText(typed, "三");
        QCOMPARE(s.edadd->text() + s.edyb->text(), QStringLiteral("乙地200"));
        typeText(typed, "丰");
        QCOMPARE(s.edadd->text(), QStringLiteral("乙地")); // kept when nothing matches
        QTest::keyClick(typed, Qt::Key_Backspace);
        QTest::keyClick(typed, Qt::Key_Backspace);
        QCOMPARE(s.edname->text(), QStringLiteral("张"));
        QCOMPARE(s.edadd->text(), QStringLiteral("甲地"));

        // A name typed only here goes to the list, not to the customers.
        typed->clear();
        typeText(typed, "新客户");
        s.btn->click();
        QCOMPARE(column(tsl::table::customerNames), QStringList{"新客户"});
        QCOMPARE(rows(tsl::table::customers).size(), 2);
    }

    void autofillOnPickNotOnPreselection() {
        Fixture d(tsl::table::shipments);
        insert(tsl::table::customers, {"李四", "丙地", "300", "", ""});
        insert(tsl::table::customers, {"张三", "乙地", "200", "", ""});
        for (const char* n : {"李四", "张三", "王五"}) // 王五 is known only from the list
            insert(tsl::table::customerNames, {n});
        Tfhb& s = *d.roster->fhb;
        d.w->btnaddClick();
        QCOMPARE(s.edname->text(), QStringLiteral("李四"));
        QCOMPARE(s.edadd->text() + s.edyb->text(), QString()); // the preselection is not the user's change
        s.edadd->setText("typed address");
        QTest::keyClick(s.edname, Qt::Key_Down);
        QCOMPARE(s.edname->text(), QStringLiteral("张三"));
        QCOMPARE(s.edadd->text() + s.edyb->text(), QStringLiteral("乙地200")); // overwrites what was typed
        QTest::keyClick(s.edname, Qt::Key_Down);
        QCOMPARE(s.edname->text(), QStringLiteral("王五"));
        QCOMPARE(s.edadd->text(), QStringLiteral("乙地"));
        QTest::keyClick(s.edname, Qt::Key_Up);
        QTest::keyClick(s.edname, Qt::Key_Up);
        QCOMPARE(s.edadd->text(), QStringLiteral("丙地"));
        QCOMPARE(d.boxes(), QStringList());
        s.close();

        // Nor do the program's own changes fill.
        insert(tsl::table::shipments, {"(1)x", "张三", "k", "1", "自己的地址", "999", "5"});
        d.open(tsl::table::shipments);
        d.w->btneditClick();
        QCOMPARE(s.edadd->text() + s.edyb->text(), QStringLiteral("自己的地址999"));
        s.edadd->setText("");
        s.edname->setText("张三");
        QCOMPARE(s.edadd->text(), QString());
    }

    // --- the amount box ---

    void amountBoxTyping() {
        AmountSpin box;
        box.setText("");
        QTest::keyClicks(&box, "1a2+b-3.x");
        QCOMPARE(box.text(), QStringLiteral("12+-3."));
        typeText(&box, "元");
        QCOMPARE(box.text(), QStringLiteral("12+-3."));
        QTest::keyClick(&box, Qt::Key_Backspace);
        QCOMPARE(box.text(), QStringLiteral("12+-3"));
        QSignalSpy finished(&box, &QAbstractSpinBox::editingFinished);
        QTest::keyClick(&box, Qt::Key_Return);
        QCOMPARE(finished.count(), 0); // Enter is refused, not taken as "done"
        QCOMPARE(box.text(), QStringLiteral("12+-3"));

        // Arrow keys step; equal bounds are no bounds at all.
        box.setText("0");
        QTest::keyClick(&box, Qt::Key_Down);
        QTest::keyClick(&box, Qt::Key_Down);
        QCOMPARE(box.text(), QStringLiteral("-2"));
        box.setRange(0, 3);
        QTest::keyClick(&box, Qt::Key_Up);
        QCOMPARE(box.text(), QStringLiteral("0"));
        for (int i = 0; i < 5; ++i)
            QTest::keyClick(&box, Qt::Key_Up);
        QCOMPARE(box.text(), QStringLiteral("3"));
    }

    void amountBoxKeepsTextOnFocusLoss() {
        QWidget w;
        auto* box = new AmountSpin(&w);
        auto* other = new QLineEdit(&w);
        other->move(0, 40);
        w.show();
        w.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        for (const char* t : {"", "12.5", "-"}) {
            box->setFocus();
            QVERIFY(box->hasFocus());
            box->setText(t);
            other->setFocus();
            QVERIFY(!box->hasFocus());
            QCOMPARE(box->text(), QString::fromLatin1(t));
        }
    }

    void amountBoxSteps_data() {
        QTest::addColumn<QString>("start");
        QTest::addColumn<int>("steps");
        QTest::addColumn<QString>("result");
        QTest::newRow("down below zero") << "0" << -1 << "-1";
        QTest::newRow("several") << "-3" << 5 << "2";
        QTest::newRow("empty counts as zero") << "" << 1 << "1";
        QTest::newRow("hex") << "$10" << 1 << "17";
        QTest::newRow("fraction untouched") << "12.5" << 1 << "12.5";
        QTest::newRow("top of range") << "2147483647" << 1 << "2147483647";
    }
    void amountBoxSteps() {
        QFETCH(QString, start);
        QFETCH(int, steps);
        QFETCH(QString, result);
        AmountSpin box;
        box.setText(start);
        box.stepBy(steps);
        QCOMPARE(box.text(), result);
    }

    // --- look ---

    void tabOrdersAndCentring() {
        Fixture d(tsl::table::shipments);
        Roster& r = *d.roster;
        QCOMPARE(tabChain(r.fhb->edname, 8),
                 (QStringList{"edname", "edzl", "edsm", "edadd", "edyb", "edje", "btn", "btncancel"}));
        QCOMPARE(tabChain(r.jhb->edly, 6), (QStringList{"edly", "edzl", "edsm", "edje", "btn", "btncancel"}));
        QCOMPARE(tabChain(r.zgj->btn, 6), (QStringList{"btn", "btncancel", "edname", "edzl", "edje", "edsm"}));
        // Centred each time the workspace opens them; shown any other way (the
        // window manager restoring one), a dialog stays where it stands.
        TForm1& ws = *r.Form1;
        const std::pair<QWidget*, QToolButton*> books[] = {
            {r.fhb.get(), ws.SpeedButton2}, {r.jhb.get(), ws.SpeedButton3}, {r.zgj.get(), ws.SpeedButton4}};
        for (auto [w, book] : books) {
            book->click();
            for (void (TForm1::*command)() : {&TForm1::btnaddClick, &TForm1::btneditClick}) {
                w->move(0, 0);
                (ws.*command)();
                QVERIFY(w->isVisible());
                const QPoint centre = w->screen()->availableGeometry().center();
                QVERIFY2((w->frameGeometry().center() - centre).manhattanLength() <= 2, qPrintable(w->objectName()));
                w->hide();
                w->move(0, 0);
                w->show();
                QCOMPARE(w->pos(), QPoint(0, 0));
                w->close();
            }
        }
    }
};

QTEST_MAIN(TestMovement)
#include "tst_movement.moc"
