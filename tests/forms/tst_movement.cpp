// The shipment, purchase and worker delivery dialogs, driven through their
// widgets with a ledger open in the workspace.
#include "Unit1.h"
#include "amountspin.h"
#include "fhbd.h"
#include "formsfixture.h"
#include "jhbd.h"
#include "schema.h"
#include "zgjh.h"

#include <QApplication>
#include <QClipboard>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>

#include <filesystem>
#include <functional>

namespace {

QStringList toList(const std::vector<std::string>& v) {
    QStringList out;
    for (const auto& s : v)
        out << QString::fromStdString(s);
    return out;
}

std::string ident(std::string_view name) { return "\"" + std::string(name) + "\""; }

// A roster with a fresh ledger "L.mdb" open in the workspace.
struct Desk {
    explicit Desk(std::string_view view = tsl::table::shipments) {
        fx.seedIndex();
        r = &fx.create();
        std::filesystem::copy_file(tsltest::indexTemplate(), "L.mdb");
        f = r->Form1.get();
        f->ado1.setConnectionString(tsl::connectionString("L.mdb"));
        f->ado1.connect();
        show(view);
        fx.prompter.take();
    }

    void show(std::string_view view) {
        f->table1.close();
        f->table1.setTableName(std::string(view));
        f->table1.open();
    }
    void sql(const std::string& s) { tsltest::sqlExec("L.mdb", s); }
    // Changes the file's tables; reconnects, so the workspace sees the new shape.
    void reshape(const std::string& s) {
        f->ado1.disconnect();
        sql(s);
        f->ado1.connect();
    }
    void addRow(std::string_view book, const QStringList& values) {
        std::string v;
        for (const auto& x : values)
            v += (v.empty() ? "'" : ",'") + x.toStdString() + "'";
        sql("INSERT INTO " + ident(book) + " VALUES (" + v + ")");
    }
    void addEntry(std::string_view list, const QString& text) { addRow(list, {text}); }
    QStringList list(std::string_view l) {
        return toList(tsltest::sqlColumn("L.mdb", "SELECT ifnull(\"1\",'') FROM " + ident(l) + " ORDER BY rowid"));
    }
    // Every row of a book, its fields joined by "|", in stored order.
    QStringList rows(std::string_view book) {
        std::string expr;
        for (auto fieldName : tsl::findTable(book)->fields)
            expr += (expr.empty() ? "" : "||'|'||") + ("ifnull(" + ident(fieldName) + ",'')");
        return toList(tsltest::sqlColumn("L.mdb", "SELECT " + expr + " FROM " + ident(book) + " ORDER BY rowid"));
    }
    QStringList boxes() { return fx.prompter.take(); }

    FormsFixture fx;
    Roster* r = nullptr;
    TForm1* f = nullptr;
};

// What tells the three dialogs apart, for the tests they share.
struct Kind {
    const char* dialog;   // the instance's object name
    const char* nameBox;  // edname or edly
    std::string_view book;
    std::string_view nameList;
    std::string_view kindList;
    QStringList addOrder;  // fields in the order the add writes them
    QStringList editOrder;
};

const Kind kShipment{"fhb", "edname", tsl::table::shipments, tsl::table::customerNames, tsl::table::garmentKinds,
                     {"客户姓名", "毛衫种类", "数量", "发货地点", "邮编", "总金额", "日期"},
                     {"客户姓名", "毛衫种类", "数量", "发货地点", "邮编", "总金额"}};
const Kind kPurchase{"jhb", "edly", tsl::table::purchases, tsl::table::purchaseSources, tsl::table::purchaseKinds,
                     {"日期", "货物来源", "货物种类", "货物数目", "总金额"},
                     {"货物来源", "货物种类", "货物数目", "总金额"}};
const Kind kDelivery{"zgj", "edname", tsl::table::deliveries, tsl::table::workerNames, tsl::table::workKinds,
                     {"交货人", "交货种类", "交货总数", "总金额", "日期"},
                     {"交货人", "交货种类", "交货总数", "总金额"}};

const Kind& kindNamed(const QString& n) {
    return n == "fhb" ? kShipment : n == "jhb" ? kPurchase : kDelivery;
}

// The controls of one movement dialog, found by their names.
struct Dlg {
    Dlg(Desk& d, const Kind& k) : kind(k) {
        QWidget* all[] = {d.r->fhb.get(), d.r->jhb.get(), d.r->zgj.get()};
        for (QWidget* w : all)
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

// The book's row as the dialog writes it: the stamp (if any), name, kind,
// quantity, then for shipments address and postcode, then the amount.
QString rowOf(const Kind& k, const QString& stamp, const QString& n, const QString& z, const QString& s,
              const QString& amount, const QString& address = {}, const QString& postcode = {}) {
    QStringList f{stamp, n, z, s};
    if (&k == &kShipment)
        f << address << postcode;
    f << amount;
    return f.join('|');
}

// Rebuilds a book with only a stand-in column, then runs the confirm again and
// again, each time adding back the field that the error box named: the fields
// come back in the order in which the confirm writes them.
QStringList writeOrder(Desk& d, std::string_view book, bool withRow, const std::function<void()>& confirm) {
    d.reshape("DROP TABLE " + ident(book) + "; CREATE TABLE " + ident(book) + " (\"stand_in\" TEXT);");
    if (withRow)
        d.sql("INSERT INTO " + ident(book) + " VALUES ('x')");
    QStringList order;
    const QRegularExpression named(QStringLiteral("\"([^\"]+)\""));
    for (int guard = 0; guard < 12; ++guard) {
        d.show(book);
        d.boxes(); // the workspace's own complaints about the stand-in book
        confirm();
        const QStringList shown = d.boxes();
        if (shown.isEmpty())
            break;
        const auto m = named.match(shown.last());
        if (!m.hasMatch() || order.contains(m.captured(1)))
            return order << ("unexpected: " + shown.join('/'));
        order << m.captured(1);
        d.reshape("ALTER TABLE " + ident(book) + " ADD COLUMN " + ident(m.captured(1).toStdString()) + " TEXT");
    }
    return order;
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
    void addWritesRowWithStampAndListsFirst_data() { addKinds(); }
    void addWritesRowWithStampAndListsFirst() {
        QFETCH(QString, dialog);
        const Kind& k = kindNamed(dialog);
        Desk d(k.book);
        Dlg g(d, k);

        d.f->btnaddClick();
        QVERIFY(g.win->isVisible());
        QCOMPARE(g.btn->text(), QStringLiteral("添加"));
        g.fill("王五", "羊毛衫", "12", "300");
        g.btn->click();

        QCOMPARE(d.boxes(), QStringList());
        QVERIFY(!g.win->isVisible());
        QCOMPARE(d.rows(k.book), QStringList{rowOf(k, "(1)2004-5-12", "王五", "羊毛衫", "12", "300")});
        QCOMPARE(d.list(k.kindList), QStringList{"羊毛衫"});
        QCOMPARE(d.list(k.nameList), QStringList{"王五"});
        // The new row is current, so the grid shows it.
        QCOMPARE(d.f->table1.recNo(), 1);
    }

    void addWritesFieldsInOrder_data() { addKinds(); }
    void addWritesFieldsInOrder() {
        QFETCH(QString, dialog);
        const Kind& k = kindNamed(dialog);
        Desk d(k.book);
        Dlg g(d, k);
        g.win->show();
        g.btn->setText("添加");
        g.fill("甲", "乙", "1", "2");
        QCOMPARE(writeOrder(d, k.book, false, [&] { g.btn->click(); }), k.addOrder);
    }

    void editWritesFieldsInOrder_data() { addKinds(); }
    void editWritesFieldsInOrder() {
        QFETCH(QString, dialog);
        const Kind& k = kindNamed(dialog);
        Desk d(k.book);
        Dlg g(d, k);
        g.win->show();
        g.btn->setText("修改");
        g.fill("甲", "乙", "1", "2");
        QCOMPARE(writeOrder(d, k.book, true, [&] { g.btn->click(); }), k.editOrder);
    }

    // The number is the count before the add plus one, wherever the stamp is written.
    void stampCountsRowsBefore_data() { addKinds(); }
    void stampCountsRowsBefore() {
        QFETCH(QString, dialog);
        const Kind& k = kindNamed(dialog);
        Desk d(k.book);
        const int width = int(tsl::findTable(k.book)->fields.size());
        for (int i = 1; i <= 7; ++i) {
            QStringList v{QString("(%1)2004-1-1").arg(i)};
            while (v.size() < width)
                v << QString::number(i);
            d.addRow(k.book, v);
        }
        d.show(k.book);
        d.fx.clock.set({2004, 5, 3});
        Dlg g(d, k);
        d.f->btnaddClick();
        g.fill("a", "b", "1", "5");
        g.btn->click();
        QCOMPARE(d.boxes(), QStringList());
        const QStringList all = d.rows(k.book);
        QCOMPARE(all.size(), 8);
        QVERIFY2(all.last().startsWith("(8)2004-5-3|"), qPrintable(all.last()));
    }

    void secondAddSameDayDiffersOnlyInNumber() {
        Desk d(tsl::table::deliveries);
        Dlg g(d, kDelivery);
        for (int i = 0; i < 2; ++i) {
            d.f->btnaddClick();
            g.fill("工", "整烫", "3", "40");
            g.btn->click();
        }
        QCOMPARE(d.rows(kDelivery.book), (QStringList{rowOf(kDelivery, "(1)2004-5-12", "工", "整烫", "3", "40"),
                                                      rowOf(kDelivery, "(2)2004-5-12", "工", "整烫", "3", "40")}));
    }

    void shipmentWritesAddressAndPostcode() {
        Desk d;
        Tfhb& s = *d.r->fhb;
        d.f->btnaddClick();
        s.edname->setText("赵六");
        s.edzl->setText("开衫");
        s.edsm->setText("");
        s.edadd->setText("上海市南京路1号");
        s.edyb->setText("200001");
        s.edje->setText("-15");
        s.btn->click();
        QCOMPARE(d.rows(kShipment.book),
                 QStringList{rowOf(kShipment, "(1)2004-5-12", "赵六", "开衫", "", "-15", "上海市南京路1号", "200001")});
    }

    void listsKeepEachTextOnce_data() { addKinds(); }
    void listsKeepEachTextOnce() {
        QFETCH(QString, dialog);
        const Kind& k = kindNamed(dialog);
        Desk d(k.book);
        d.addEntry(k.nameList, "Li");
        d.addEntry(k.kindList, "wool");
        Dlg g(d, k);
        auto confirm = [&](const QString& n, const QString& z) {
            d.f->btnaddClick();
            g.fill(n, z, "1", "1");
            g.btn->click();
            QCOMPARE(d.boxes(), QStringList());
        };
        confirm("Li", "wool");   // both known: nothing appended
        confirm("li", "wool ");  // case and a trailing blank make new entries
        confirm("li", "wool ");  // and only once
        confirm("", "");         // empty text is a text like any other
        confirm("", "");
        QCOMPARE(d.list(k.nameList), (QStringList{"Li", "li", ""}));
        QCOMPARE(d.list(k.kindList), (QStringList{"wool", "wool ", ""}));
        QCOMPARE(d.rows(k.book).size(), 5);
    }

    void editChangesCurrentRowKeepsStamp_data() { addKinds(); }
    void editChangesCurrentRowKeepsStamp() {
        QFETCH(QString, dialog);
        const Kind& k = kindNamed(dialog);
        Desk d(k.book);
        const int width = int(tsl::findTable(k.book)->fields.size());
        for (const char* stamp : {"(1)2003-1-1", "(2)2003-1-2"}) {
            QStringList v{stamp};
            while (v.size() < width - 1)
                v << "old";
            d.addRow(k.book, v << "1");
        }
        d.show(k.book);
        d.f->table1.moveTo(1);
        Dlg g(d, k);
        d.f->btneditClick();
        QCOMPARE(g.btn->text(), QStringLiteral("修改"));
        QCOMPARE(g.name->count(), 0);
        QCOMPARE(g.name->text(), QStringLiteral("old"));
        g.fill("新", "新种", "9", "77");
        g.btn->click();
        QCOMPARE(d.boxes(), QStringList());
        const QStringList all = d.rows(k.book);
        QCOMPARE(all.size(), 2);
        QVERIFY(all[0].startsWith("(1)2003-1-1|old|old|"));
        const QString address = &k == &kShipment ? "old" : "";
        QCOMPARE(all[1], rowOf(k, "(2)2003-1-2", "新", "新种", "9", "77", address, address));
        // Edit mode also keeps the lists up.
        QCOMPARE(d.list(k.nameList), QStringList{"新"});
        QCOMPARE(d.list(k.kindList), QStringList{"新种"});
    }

    // Whatever row is current when the user confirms receives the texts.
    void editWritesRowCurrentAtConfirm() {
        Desk d(tsl::table::purchases);
        d.addRow(tsl::table::purchases, {"(1)a", "s1", "k1", "1", "10"});
        d.addRow(tsl::table::purchases, {"(2)b", "s2", "k2", "2", "20"});
        d.show(tsl::table::purchases);
        Dlg g(d, kPurchase);
        d.f->btneditClick(); // first row
        d.f->table1.moveTo(1);
        g.je->setText("25");
        g.btn->click();
        QCOMPARE(d.rows(kPurchase.book), (QStringList{"(1)a|s1|k1|1|10", "(2)b|s1|k1|1|25"}));
    }

    // Any caption but "添加" is edit mode in the movement dialogs.
    void unknownCaptionEdits() {
        Desk d(tsl::table::deliveries);
        d.addRow(tsl::table::deliveries, {"(1)x", "w", "k", "1", "1"});
        d.show(tsl::table::deliveries);
        Dlg g(d, kDelivery);
        g.win->show();
        QCOMPARE(g.btn->text(), QString()); // no caption until the workspace gives one
        g.fill("w2", "k2", "2", "2");
        g.btn->click();
        QCOMPARE(d.rows(kDelivery.book), QStringList{"(1)x|w2|k2|2|2"});
    }

    void amountEmptyOrNotWholeIsRefused_data() {
        QTest::addColumn<QString>("dialog");
        QTest::addColumn<QString>("amount");
        QTest::addColumn<QString>("message");
        const char* dialogs[] = {"fhb", "jhb", "zgj"};
        for (const char* g : dialogs) {
            QTest::addRow("%s empty", g) << g << "" << "金额不能为空";
            QTest::addRow("%s fraction", g) << g << "12.5" << "金额必须是整数!";
            QTest::addRow("%s sign only", g) << g << "-" << "金额必须是整数!";
            QTest::addRow("%s inner sign", g) << g << "1-2" << "金额必须是整数!";
            QTest::addRow("%s too large", g) << g << "2147483648" << "金额必须是整数!";
            QTest::addRow("%s letters", g) << g << "十元" << "金额必须是整数!";
        }
    }
    void amountEmptyOrNotWholeIsRefused() {
        QFETCH(QString, dialog);
        QFETCH(QString, amount);
        QFETCH(QString, message);
        const Kind& k = kindNamed(dialog);
        Desk d(k.book);
        Dlg g(d, k);
        for (const char* caption : {"添加", "修改"}) {
            d.f->btnaddClick();
            g.btn->setText(caption);
            g.fill("新名", "新种", "1", amount);
            g.btn->click();
            QCOMPARE(d.boxes(), QStringList{message});
            // Nothing written, and the dialog stays open with what was typed.
            QVERIFY(g.win->isVisible());
            QCOMPARE(g.je->text(), amount);
            QCOMPARE(g.name->text(), QStringLiteral("新名"));
            QCOMPARE(d.rows(k.book), QStringList());
            QCOMPARE(d.list(k.nameList), QStringList());
            QCOMPARE(d.list(k.kindList), QStringList());
            g.cancel->click();
        }
    }

    void amountZeroAndWholeNumberTextsAccepted() {
        Desk d(tsl::table::purchases);
        Dlg g(d, kPurchase);
        for (const char* amount : {"0", "+7", "$1F"}) {
            d.f->btnaddClick();
            g.je->setText(amount);
            g.btn->click();
            QCOMPARE(d.boxes(), QStringList());
        }
        // Stored as typed, not as the number.
        QCOMPARE(toList(tsltest::sqlColumn("L.mdb", "SELECT \"总金额\" FROM \"3\" ORDER BY rowid")),
                 (QStringList{"0", "+7", "$1F"}));
    }

    void pastedTextIsTakenThenRefusedAtConfirm() {
        Desk d;
        Dlg g(d, kShipment);
        d.f->btnaddClick();
        QApplication::clipboard()->setText("一百");
        if (QApplication::clipboard()->text() != "一百")
            QSKIP("no clipboard on this platform");
        g.je->setText("");
        QTest::keyClick(g.je, Qt::Key_V, Qt::ControlModifier);
        QCOMPARE(g.je->text(), QStringLiteral("一百"));
        g.btn->click();
        QCOMPARE(d.boxes(), QStringList{"金额必须是整数!"});
        QCOMPARE(d.rows(kShipment.book), QStringList());
    }

    void editWithoutCurrentRowWritesNothing_data() { addKinds(); }
    void editWithoutCurrentRowWritesNothing() {
        QFETCH(QString, dialog);
        const Kind& k = kindNamed(dialog);
        Desk d(k.book);
        Dlg g(d, k);
        d.f->btneditClick(); // on an empty book: empty boxes
        g.fill("名", "种", "1", "5");
        g.btn->click();
        QCOMPARE(d.boxes(), QStringList{"请选择要修改的对象!"});
        QVERIFY(g.win->isVisible());
        QCOMPARE(d.rows(k.book), QStringList());
        QCOMPARE(d.list(k.nameList), QStringList());
        QCOMPARE(d.list(k.kindList), QStringList());
        QVERIFY(!d.f->table1.pending());
    }

    void editAfterTheRowWasDeletedWritesNothing() {
        Desk d(tsl::table::shipments);
        d.addRow(tsl::table::shipments, {"(1)x", "a", "b", "1", "", "", "3"});
        d.show(tsl::table::shipments);
        Dlg g(d, kShipment);
        d.f->btneditClick();
        d.fx.prompter.yesNoAnswers = {true};
        d.f->btndelClick();
        d.boxes();
        g.je->setText("4");
        g.btn->click();
        QCOMPARE(d.boxes(), QStringList{"请选择要修改的对象!"});
        QCOMPARE(d.rows(kShipment.book), QStringList());
    }

    // The dialogs write into whatever book the workspace shows; a book that lacks
    // a field must get no row at all, not even after the cursor moves on.
    void confirmInAnotherBookLeavesNoPartialRow_data() {
        QTest::addColumn<QString>("dialog");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QString>("missing");
        QTest::newRow("purchase into shipments") << "jhb" << "2" << "货物来源"; // the stamp is set first
        QTest::newRow("purchase into deliveries") << "jhb" << "4" << "货物来源";
        QTest::newRow("shipment into purchases") << "fhb" << "3" << "客户姓名";
        QTest::newRow("delivery into customers") << "zgj" << "1" << "交货人";
    }
    void confirmInAnotherBookLeavesNoPartialRow() {
        QFETCH(QString, dialog);
        QFETCH(QString, shown);
        QFETCH(QString, missing);
        const Kind& k = kindNamed(dialog);
        Desk d(k.book);
        const std::string other = shown.toStdString();
        for (const char* caption : {"添加", "修改"}) {
            d.sql("DELETE FROM " + ident(other));
            const int width = int(tsl::findTable(other)->fields.size());
            d.addRow(other, QStringList(width, "1"));
            Dlg g(d, k);
            d.show(k.book);
            d.f->btnaddClick();
            d.show(other);
            g.btn->setText(caption);
            g.fill("名", "种", "1", "5");
            g.btn->click();
            const QStringList shownBoxes = d.boxes();
            QCOMPARE(shownBoxes.size(), 1);
            QVERIFY2(shownBoxes[0].contains(missing), qPrintable(shownBoxes[0]));
            QVERIFY(!d.f->table1.pending());
            d.f->table1.first(); // a pending row would be posted by a move
            d.f->table1.next();
            QCOMPARE(d.rows(other), QStringList{QStringList(width, "1").join('|')});
            QCOMPARE(d.rows(k.book), QStringList());
            QVERIFY(g.win->isVisible());
            g.cancel->click();
        }
    }

    void closeResetsEverything_data() { addKinds(); }
    void closeResetsEverything() {
        QFETCH(QString, dialog);
        const Kind& k = kindNamed(dialog);
        Desk d(k.book);
        d.addEntry(k.nameList, "n1");
        d.addEntry(k.kindList, "k1");
        Dlg g(d, k);
        for (int how = 0; how < 3; ++how) {
            d.f->btnaddClick();
            g.fill("x", "y", "5", "6");
            if (auto* s = qobject_cast<Tfhb*>(g.win)) {
                s->edadd->setText("addr");
                s->edyb->setText("pc");
            }
            if (how == 0)
                g.cancel->click();
            else if (how == 1)
                g.win->close(); // the close box
            else
                g.btn->click();
            QVERIFY(!g.win->isVisible());
            QCOMPARE(g.name->count(), 0);
            QCOMPARE(g.zl->count(), 0);
            QCOMPARE(g.name->text(), QString());
            QCOMPARE(g.zl->text(), QString());
            QCOMPARE(g.sm->text(), QStringLiteral("0"));
            QCOMPARE(g.je->text(), QStringLiteral("0"));
            if (auto* s = qobject_cast<Tfhb*>(g.win)) {
                QCOMPARE(s->edadd->text(), QString());
                QCOMPARE(s->edyb->text(), QString());
            }
        }
        QCOMPARE(d.rows(k.book).size(), 1); // only the confirm wrote
    }

    void dropDownKeepsExactlyTheTypedText() {
        Desk d;
        d.addEntry(tsl::table::customerNames, "Alpha");
        d.addEntry(tsl::table::garmentKinds, "Wool");
        Tfhb& s = *d.r->fhb;
        d.f->btnaddClick();
        s.edname->setText("");
        typeText(s.edname->lineEdit(), "al");
        QCOMPARE(s.edname->text(), QStringLiteral("al")); // no completion
        typeText(s.edname->lineEdit(), "pha");
        QTest::keyClick(s.edname, Qt::Key_Return); // matches "Alpha" but for case
        QTest::keyClick(s.edname->lineEdit(), Qt::Key_Enter);
        QCOMPARE(s.edname->text(), QStringLiteral("alpha"));
        QCOMPARE(s.edname->count(), 1);
        s.edname->setText("");
        typeText(s.edname->lineEdit(), "Beta");
        QTest::keyClick(s.edname, Qt::Key_Return);
        QCOMPARE(s.edname->count(), 1); // nothing inserted
        QCOMPARE(s.edname->text(), QStringLiteral("Beta"));
    }

    // --- customer autofill of the shipment dialog ---

    void autofillOnTypingEachCompletedName() {
        Desk d;
        d.addRow(tsl::table::customers, {"张", "甲地", "100", "", ""});
        d.addRow(tsl::table::customers, {"张三", "乙地", "200", "", ""});
        Tfhb& s = *d.r->fhb;
        d.f->btnaddClick();
        s.edadd->setText("typed");
        typeText(s.edname->lineEdit(), "李");
        QCOMPARE(s.edadd->text(), QStringLiteral("typed")); // no customer of that name
        s.edname->lineEdit()->clear();
        typeText(s.edname->lineEdit(), "张");
        QCOMPARE(s.edadd->text(), QStringLiteral("甲地"));
        QCOMPARE(s.edyb->text(), QStringLiteral("100"));
        typeText(s.edname->lineEdit(), "三");
        QCOMPARE(s.edadd->text(), QStringLiteral("乙地"));
        QCOMPARE(s.edyb->text(), QStringLiteral("200"));
        typeText(s.edname->lineEdit(), "丰");
        QCOMPARE(s.edadd->text(), QStringLiteral("乙地")); // kept when nothing matches
        QTest::keyClick(s.edname->lineEdit(), Qt::Key_Backspace);
        QTest::keyClick(s.edname->lineEdit(), Qt::Key_Backspace);
        QCOMPARE(s.edname->text(), QStringLiteral("张"));
        QCOMPARE(s.edadd->text(), QStringLiteral("甲地"));
    }

    void autofillOnPickNotOnPreselection() {
        Desk d;
        d.addRow(tsl::table::customers, {"李四", "丙地", "300", "", ""});
        d.addRow(tsl::table::customers, {"张三", "乙地", "200", "", ""});
        d.addEntry(tsl::table::customerNames, "李四");
        d.addEntry(tsl::table::customerNames, "张三");
        d.addEntry(tsl::table::customerNames, "王五"); // known only from the list
        Tfhb& s = *d.r->fhb;
        d.f->btnaddClick();
        QCOMPARE(s.edname->text(), QStringLiteral("李四"));
        QCOMPARE(s.edadd->text(), QString()); // the preselection is not the user's change
        QCOMPARE(s.edyb->text(), QString());
        s.edadd->setText("typed address");
        QTest::keyClick(s.edname, Qt::Key_Down);
        QCOMPARE(s.edname->text(), QStringLiteral("张三"));
        QCOMPARE(s.edadd->text(), QStringLiteral("乙地")); // overwrites what was typed
        QCOMPARE(s.edyb->text(), QStringLiteral("200"));
        QTest::keyClick(s.edname, Qt::Key_Down);
        QCOMPARE(s.edname->text(), QStringLiteral("王五"));
        QCOMPARE(s.edadd->text(), QStringLiteral("乙地"));
        QTest::keyClick(s.edname, Qt::Key_Up);
        QTest::keyClick(s.edname, Qt::Key_Up);
        QCOMPARE(s.edadd->text(), QStringLiteral("丙地"));
        QCOMPARE(d.boxes(), QStringList());
    }

    void programChangesDoNotFill() {
        Desk d;
        d.addRow(tsl::table::customers, {"张三", "乙地", "200", "", ""});
        d.addRow(tsl::table::shipments, {"(1)x", "张三", "k", "1", "自己的地址", "999", "5"});
        d.show(tsl::table::shipments);
        Tfhb& s = *d.r->fhb;
        d.f->btneditClick();
        QCOMPARE(s.edname->text(), QStringLiteral("张三"));
        QCOMPARE(s.edadd->text(), QStringLiteral("自己的地址"));
        QCOMPARE(s.edyb->text(), QStringLiteral("999"));
        s.edadd->setText("");
        s.edname->setText("张三");
        QCOMPARE(s.edadd->text(), QString());
    }

    void nameTypedOnlyHereGoesToListNotCustomers() {
        Desk d;
        Tfhb& s = *d.r->fhb;
        d.f->btnaddClick();
        typeText(s.edname->lineEdit(), "新客户");
        s.btn->click();
        QCOMPARE(d.list(tsl::table::customerNames), QStringList{"新客户"});
        QCOMPARE(d.rows(tsl::table::customers), QStringList());
    }

    // --- the amount box ---

    void amountBoxTypingIsFiltered() {
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
        box.setText("");
        QCOMPARE(box.text(), QString());
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
        QTest::newRow("up") << "5" << 1 << "6";
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

    void amountBoxArrowKeysAndBounds() {
        AmountSpin box;
        box.setText("0");
        QTest::keyClick(&box, Qt::Key_Down);
        QTest::keyClick(&box, Qt::Key_Down);
        QCOMPARE(box.text(), QStringLiteral("-2")); // equal bounds: none at all
        box.setRange(0, 3);
        QTest::keyClick(&box, Qt::Key_Up);
        QCOMPARE(box.text(), QStringLiteral("0"));
        for (int i = 0; i < 5; ++i)
            QTest::keyClick(&box, Qt::Key_Up);
        QCOMPARE(box.text(), QStringLiteral("3"));
    }

    // --- look ---

    void tabOrders() {
        Desk d;
        // The controls that Tab reaches, skipping the parts inside a drop-down or spin box.
        auto reachable = [](QWidget* w, QWidget* top) {
            if (w->window() != top || !(w->focusPolicy() & Qt::TabFocus))
                return false;
            for (QWidget* p = w->parentWidget(); p && p != top; p = p->parentWidget())
                if (p->inherits("QComboBox") || p->inherits("QAbstractSpinBox"))
                    return false;
            return true;
        };
        auto chain = [&](QWidget* first, int n) {
            QStringList names;
            QWidget* w = first;
            for (int i = 0; i < n; ++i) {
                names << w->objectName();
                do
                    w = w->nextInFocusChain();
                while (!reachable(w, first->window()));
            }
            return names;
        };
        QCOMPARE(chain(d.r->fhb->edname, 8),
                 (QStringList{"edname", "edzl", "edsm", "edadd", "edyb", "edje", "btn", "btncancel"}));
        QCOMPARE(chain(d.r->jhb->edly, 6), (QStringList{"edly", "edzl", "edsm", "edje", "btn", "btncancel"}));
        QCOMPARE(chain(d.r->zgj->btn, 6), (QStringList{"btn", "btncancel", "edname", "edzl", "edje", "edsm"}));
    }

    void centredWhenShown() {
        Desk d;
        QWidget* dialogs[] = {d.r->fhb.get(), d.r->jhb.get(), d.r->zgj.get()};
        for (QWidget* w : dialogs) {
            w->move(0, 0);
            w->show();
            const QPoint centre = w->screen()->availableGeometry().center();
            QVERIFY2((w->frameGeometry().center() - centre).manhattanLength() <= 2, qPrintable(w->objectName()));
            w->close();
        }
    }
};

QTEST_MAIN(TestMovement)
#include "tst_movement.moc"
