// The customer contact dialog, driven through its widgets with a ledger open.
#include "Unit1.h"
#include "formsfixture.h"
#include "khlx.h"
#include "schema.h"

#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QRegularExpression>
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

// A roster with a fresh ledger "L.mdb" open in the workspace on the customer book.
struct Desk {
    Desk() {
        fx.seedIndex();
        r = &fx.create();
        std::filesystem::copy_file(tsltest::indexTemplate(), "L.mdb");
        f = r->Form1.get();
        f->ado1.setConnectionString(tsl::connectionString("L.mdb"));
        f->ado1.connect();
        show(tsl::table::customers);
        fx.prompter.take();
    }
    void show(std::string_view view) {
        f->table1.close();
        f->table1.setTableName(std::string(view));
        f->table1.open();
    }
    void sql(const std::string& s) { tsltest::sqlExec("L.mdb", s); }
    void reshape(const std::string& s) {
        f->ado1.disconnect();
        sql(s);
        f->ado1.connect();
    }
    void addCustomer(const QStringList& v) {
        sql("INSERT INTO \"1\" VALUES ('" + v.join("','").toStdString() + "')");
    }
    QStringList customers() {
        return toList(tsltest::sqlColumn(
            "L.mdb", "SELECT ifnull(\"姓名\",'')||'|'||ifnull(\"地址\",'')||'|'||ifnull(\"邮编\",'')||'|'||"
                     "ifnull(\"电话\",'')||'|'||ifnull(\"手机\",'') FROM \"1\" ORDER BY rowid"));
    }
    QStringList names() { return toList(tsltest::sqlColumn("L.mdb", "SELECT \"1\" FROM \"temp1\" ORDER BY rowid")); }
    QStringList boxes() { return fx.prompter.take(); }

    void fill(const QStringList& v) {
        Tkhl& k = *r->khl;
        k.edname->setText(v[0]);
        k.edadd->setText(v[1]);
        k.edyb->setText(v[2]);
        k.eddh->setText(v[3]);
        k.edsj->setText(v[4]);
    }

    FormsFixture fx;
    Roster* r = nullptr;
    TForm1* f = nullptr;
};

// Rebuilds the customer book with only a stand-in column and confirms again and
// again, adding back the field the error box named: the order of the writes.
QStringList writeOrder(Desk& d, bool withRow, const std::function<void()>& confirm) {
    d.reshape("DROP TABLE \"1\"; CREATE TABLE \"1\" (\"stand_in\" TEXT);");
    if (withRow)
        d.sql("INSERT INTO \"1\" VALUES ('x')");
    QStringList order;
    const QRegularExpression named(QStringLiteral("\"([^\"]+)\""));
    for (int guard = 0; guard < 10; ++guard) {
        d.show(tsl::table::customers);
        d.boxes();
        confirm();
        const QStringList shown = d.boxes();
        if (shown.isEmpty())
            break;
        const auto m = named.match(shown.last());
        if (!m.hasMatch() || order.contains(m.captured(1)))
            return order << ("unexpected: " + shown.join('/'));
        order << m.captured(1);
        d.reshape("ALTER TABLE \"1\" ADD COLUMN " + ident(m.captured(1).toStdString()) + " TEXT");
    }
    return order;
}

} // namespace

class TestKhl : public QObject {
    Q_OBJECT

private slots:
    void firstShownAtFixedPlaceThenWhereLeft() {
        Desk d;
        Tkhl& k = *d.r->khl;
        QCOMPARE(k.btn->text(), QStringLiteral("添加"));
        d.f->btnaddClick();
        QCOMPARE(k.pos(), QPoint(362, 125));
        k.move(100, 90);
        k.btncancel->click();
        d.f->btnaddClick();
        QCOMPARE(k.pos(), QPoint(100, 90));
    }

    void addWritesRowAndAppendsNameWithoutLooking() {
        Desk d;
        d.sql("INSERT INTO \"temp1\" VALUES ('张三')");
        Tkhl& k = *d.r->khl;
        d.f->btnaddClick();
        d.fill({"张三", "北京市海淀区", "100080", "010-1234", "13900000000"});
        k.btn->click();
        QCOMPARE(d.boxes(), QStringList());
        QVERIFY(!k.isVisible());
        QCOMPARE(d.customers(), QStringList{"张三|北京市海淀区|100080|010-1234|13900000000"});
        QCOMPARE(d.names(), (QStringList{"张三", "张三"}));
        QCOMPARE(d.f->table1.recNo(), 1);
    }

    void addWritesFieldsInOrder() {
        Desk d;
        Tkhl& k = *d.r->khl;
        k.show();
        k.btn->setText("添加");
        d.fill({"a", "b", "c", "d", "e"});
        QCOMPARE(writeOrder(d, false, [&] { k.btn->click(); }), (QStringList{"姓名", "邮编", "电话", "手机", "地址"}));
    }

    void editWritesFieldsInOrder() {
        Desk d;
        Tkhl& k = *d.r->khl;
        k.show();
        k.btn->setText("修改");
        d.fill({"a", "b", "c", "d", "e"});
        QCOMPARE(writeOrder(d, true, [&] { k.btn->click(); }), (QStringList{"姓名", "地址", "邮编", "电话", "手机"}));
    }

    void viewCheckInBothModes() {
        Desk d;
        d.addCustomer({"甲", "", "", "", ""});
        Tkhl& k = *d.r->khl;
        for (const char* caption : {"添加", "修改"}) {
            d.show(tsl::table::customers);
            d.f->btnaddClick();
            k.btn->setText(caption);
            d.fill({"乙", "地", "1", "2", "3"});
            const QStringList customers = d.customers();
            const QStringList names = d.names();
            d.show(tsl::table::shipments);
            k.btn->click();
            QCOMPARE(d.boxes(), QStringList{"您当前选择的不是\"客户联系\"!请选择客户联系!"});
            QVERIFY(k.isVisible());
            QCOMPARE(d.customers(), customers);
            QCOMPARE(d.names(), names);
            QCOMPARE(toList(tsltest::sqlColumn("L.mdb", "SELECT count(*) FROM \"2\"")), QStringList{"0"});
            // Back on the customer book the same confirm goes through with the texts still there.
            d.show(tsl::table::customers);
            k.btn->click();
            QCOMPARE(d.boxes(), QStringList());
            QVERIFY(!k.isVisible());
        }
        // Added, then the first row (current after reopening) changed in place.
        QCOMPARE(d.customers(), (QStringList{"乙|地|1|2|3", "乙|地|1|2|3"}));
    }

    void duplicateNameRefusedAndGridLeftOnIt() {
        Desk d;
        d.addCustomer({"甲", "", "", "", ""});
        d.addCustomer({"张三", "x", "", "", ""});
        d.addCustomer({"丙", "", "", "", ""});
        d.show(tsl::table::customers);
        Tkhl& k = *d.r->khl;
        d.f->btnaddClick();
        d.fill({"张三", "新地址", "", "", ""});
        k.btn->click();
        QCOMPARE(d.boxes(), QStringList{"这个姓名已经存在,您最好把名字改一下,如在名字后面加个2!"});
        QVERIFY(k.isVisible());
        QCOMPARE(k.edadd->text(), QStringLiteral("新地址"));
        QCOMPARE(d.f->table1.recNo(), 2);
        QCOMPARE(d.f->grid1->currentIndex().row(), 1); // the grid shows it too
        QCOMPARE(d.customers().size(), 3);
        QCOMPARE(d.names(), QStringList());

        for (const char* near : {"张三 ", "Zhang", "zhang"}) {
            d.f->btnaddClick();
            d.fill({near, "", "", "", ""});
            k.btn->click();
            QCOMPARE(d.boxes(), QStringList());
        }
        QCOMPARE(d.names(), (QStringList{"张三 ", "Zhang", "zhang"}));
    }

    void emptyNameIsAName() {
        Desk d;
        Tkhl& k = *d.r->khl;
        for (int i = 0; i < 2; ++i) {
            d.f->btnaddClick();
            k.btn->click();
        }
        QCOMPARE(d.boxes(), QStringList{"这个姓名已经存在,您最好把名字改一下,如在名字后面加个2!"});
        QCOMPARE(d.customers(), QStringList{"||||"});
        QCOMPARE(d.names(), QStringList{""});
    }

    void editChangesCurrentRowOnly() {
        Desk d;
        d.addCustomer({"甲", "a", "1", "2", "3"});
        d.addCustomer({"乙", "b", "4", "5", "6"});
        d.sql("INSERT INTO \"temp1\" VALUES ('甲'), ('乙')");
        d.show(tsl::table::customers);
        d.f->table1.moveTo(1);
        Tkhl& k = *d.r->khl;
        d.f->btneditClick();
        k.edname->setText("甲"); // another customer's name is accepted when editing
        k.edsj->setText("7");
        k.btn->click();
        QCOMPARE(d.boxes(), QStringList());
        QCOMPARE(d.customers(), (QStringList{"甲|a|1|2|3", "甲|b|4|5|7"}));
        QCOMPARE(d.names(), (QStringList{"甲", "乙"}));
    }

    void editWithoutCurrentRowWritesNothing() {
        Desk d;
        Tkhl& k = *d.r->khl;
        d.f->btneditClick();
        d.fill({"新", "", "", "", ""});
        k.btn->click();
        QCOMPARE(d.boxes(), QStringList{"请选择要修改的对象!"});
        QVERIFY(k.isVisible());
        QCOMPARE(d.customers(), QStringList());
        QVERIFY(!d.f->table1.pending());
    }

    void otherCaptionWritesNothing() {
        Desk d;
        Tkhl& k = *d.r->khl;
        k.show();
        k.btn->setText("确定");
        d.fill({"x", "", "", "", ""});
        k.btn->click();
        QCOMPARE(d.boxes(), QStringList());
        QVERIFY(k.isVisible());
        QCOMPARE(d.customers(), QStringList());
    }

    void everyCloseEmptiesTheBoxes() {
        Desk d;
        Tkhl& k = *d.r->khl;
        for (int how = 0; how < 3; ++how) {
            d.f->btnaddClick();
            d.fill({QString("n%1").arg(how), "a", "b", "c", "e"});
            if (how == 0)
                k.btncancel->click();
            else if (how == 1)
                k.close();
            else
                k.btn->click();
            QVERIFY(!k.isVisible());
            for (QLineEdit* e : {k.edname, k.edadd, k.edyb, k.eddh, k.edsj})
                QCOMPARE(e->text(), QString());
        }
        QCOMPARE(d.customers(), QStringList{"n2|a|b|c|e"});
    }

    // The address takes 150 bytes, a character outside ASCII counting as two.
    void addressLimitCountsBytes() {
        Desk d;
        Tkhl& k = *d.r->khl;
        d.f->btnaddClick();
        typeText(k.edadd, QString(75, QChar(u'路')));
        QCOMPARE(k.edadd->text().size(), 75);
        typeText(k.edadd, "1");
        typeText(k.edadd, "号");
        QCOMPARE(k.edadd->text(), QString(75, QChar(u'路')));
        k.edadd->setCursorPosition(10);
        typeText(k.edadd, "x");
        QCOMPARE(k.edadd->cursorPosition(), 10); // a refused key leaves the cursor where it was

        k.edadd->clear();
        QTest::keyClicks(k.edadd, QString(149, 'a'));
        typeText(k.edadd, "号");
        QCOMPARE(k.edadd->text().size(), 149);
        QTest::keyClicks(k.edadd, "bc");
        QCOMPARE(k.edadd->text(), QString(149, 'a') + "b");

        // A longer address stored earlier can be shortened, not lengthened.
        k.edadd->setText(QString(100, QChar(u'路')));
        k.edadd->end(false);
        typeText(k.edadd, "a");
        QCOMPARE(k.edadd->text().size(), 100);
        QTest::keyClick(k.edadd, Qt::Key_Backspace);
        QCOMPARE(k.edadd->text().size(), 99);
    }

    void otherBoxesHaveNoLimit() {
        Desk d;
        Tkhl& k = *d.r->khl;
        d.f->btnaddClick();
        for (QLineEdit* e : {k.edname, k.edyb, k.eddh, k.edsj}) {
            e->setText(QString(40000, 'x'));
            e->end(false);
            QTest::keyClick(e, Qt::Key_Y);
            QCOMPARE(e->text().size(), 40001);
        }
    }

    void tabOrder() {
        Desk d;
        Tkhl& k = *d.r->khl;
        QStringList names;
        QWidget* w = k.edname;
        for (int i = 0; i < 7; ++i) {
            names << w->objectName();
            do
                w = w->nextInFocusChain();
            while (!(w->focusPolicy() & Qt::TabFocus));
        }
        QCOMPARE(names, (QStringList{"edname", "edadd", "edyb", "eddh", "edsj", "btn", "btncancel"}));
    }
};

QTEST_MAIN(TestKhl)
#include "tst_khl.moc"
