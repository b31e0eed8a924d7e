// The customer contact dialog, driven through its widgets with a ledger open.
#include "tests/forms/ledgerfixture.h"

#include "forms/khlx.h"

#include <QLineEdit>
#include <QPushButton>

using namespace ledger;

namespace {

const QString kTaken = QStringLiteral("这个姓名已经存在,您最好把名字改一下,如在名字后面加个2!");

QStringList customers() { return rows(tsl::table::customers); }
QStringList names() { return column("temp1"); }

void fill(Tkhl& k, const QStringList& v) {
    QLineEdit* boxes[] = {k.edname, k.edadd, k.edyb, k.eddh, k.edsj};
    for (int i = 0; i < 5; ++i)
        boxes[i]->setText(v.value(i));
}

} // namespace

class TestKhl : public QObject {
    Q_OBJECT

private slots:
    void addShowsEmptyDialogAtFixedPlaceThenWhereLeft() {
        Fixture d(tsl::table::customers);
        Tkhl& k = *d.roster->khl;
        k.btn->setText("修改");
        d.w->btnaddClick();
        QVERIFY(k.isVisible());
        QCOMPARE(k.btn->text(), QStringLiteral("添加"));
        QCOMPARE(k.edname->text(), QString());
        QCOMPARE(k.pos(), QPoint(362, 125));
        k.move(100, 90);
        k.btncancel->click();
        d.w->btnaddClick();
        QCOMPARE(k.pos(), QPoint(100, 90));
        QCOMPARE(tabChain(k.edname, 7), (QStringList{"edname", "edadd", "edyb", "eddh", "edsj", "btn", "btncancel"}));
    }

    void addWritesRowAndAppendsNameWithoutLooking() {
        Fixture d(tsl::table::customers);
        insert("temp1", {"张三"});
        Tkhl& k = *d.roster->khl;
        d.w->btnaddClick();
        fill(k, {"张三", "北京市海淀区", "100080", "010-1234", "13900000000"});
        k.btn->click();
        QCOMPARE(d.boxes(), QStringList());
        QVERIFY(!k.isVisible());
        QCOMPARE(customers(), QStringList{"张三|北京市海淀区|100080|010-1234|13900000000"});
        QCOMPARE(names(), (QStringList{"张三", "张三"}));
        QCOMPARE(d.w->table1.recNo(), 1);
    }

    void writesFieldsInOrder() {
        Fixture d(tsl::table::customers);
        Tkhl& k = *d.roster->khl;
        k.show();
        k.btn->setText("添加");
        fill(k, {"a", "b", "c", "d", "e"});
        QCOMPARE(d.writeOrder(tsl::table::customers, false, [&] { k.btn->click(); }),
                 (QStringList{"姓名", "邮编", "电话", "手机", "地址"}));
        k.btn->setText("修改");
        QCOMPARE(d.writeOrder(tsl::table::customers, true, [&] { k.btn->click(); }),
                 (QStringList{"姓名", "地址", "邮编", "电话", "手机"}));
    }

    void viewCheckInBothModes() {
        Fixture d(tsl::table::customers);
        insert(tsl::table::customers, {"甲", "", "", "", ""});
        Tkhl& k = *d.roster->khl;
        for (const char* caption : {"添加", "修改"}) {
            d.open(tsl::table::customers);
            d.w->btnaddClick();
            k.btn->setText(caption);
            fill(k, {"乙", "地", "1", "2", "3"});
            const QStringList before = customers() + names();
            d.open(tsl::table::shipments);
            k.btn->click();
            QCOMPARE(d.boxes(), QStringList{"您当前选择的不是\"客户联系\"!请选择客户联系!"});
            QVERIFY(k.isVisible());
            QCOMPARE(customers() + names(), before);
            QCOMPARE(rows(tsl::table::shipments), QStringList());
            // Back on the customer book the same confirm goes through with the texts still there.
            d.open(tsl::table::customers);
            k.btn->click();
            QCOMPARE(d.boxes(), QStringList());
            QVERIFY(!k.isVisible());
        }
        // Added, then the first row (current after reopening) changed in place.
        QCOMPARE(customers(), (QStringList{"乙|地|1|2|3", "乙|地|1|2|3"}));
    }

    void duplicateNameRefusedAndGridLeftOnIt() {
        Fixture d(tsl::table::customers);
        for (const char* n : {"甲", "张三", "丙"})
            insert(tsl::table::customers, {n, "x", "", "", ""});
        d.open(tsl::table::customers);
        Tkhl& k = *d.roster->khl;
        d.w->btnaddClick();
        fill(k, {"张三", "新地址"});
        k.btn->click();
        QCOMPARE(d.boxes(), QStringList{kTaken});
        QVERIFY(k.isVisible());
        QCOMPARE(k.edadd->text(), QStringLiteral("新地址"));
        QCOMPARE(d.w->table1.recNo(), 2);
        QCOMPARE(d.viewRow(), 1); // the grid shows it too
        QCOMPARE(customers().size(), 3);
        QCOMPARE(names(), QStringList());

        for (const char* near : {"张三 ", "Zhang", "zhang"}) {
            d.w->btnaddClick();
            fill(k, {near});
            k.btn->click();
            QCOMPARE(d.boxes(), QStringList());
        }
        QCOMPARE(names(), (QStringList{"张三 ", "Zhang", "zhang"}));

        // An empty name is a name like any other.
        for (int i = 0; i < 2; ++i) {
            d.w->btnaddClick();
            k.btn->click();
        }
        QCOMPARE(d.boxes(), QStringList{kTaken});
        QCOMPARE(customers().size(), 7);
        QCOMPARE(customers().last(), QStringLiteral("||||"));
    }

    void editChangesCurrentRowOnly() {
        Fixture d(tsl::table::customers);
        insert(tsl::table::customers, {"甲", "a", "1", "2", "3"});
        insert(tsl::table::customers, {"乙", "b", "4", "5", "6"});
        insert("temp1", {"甲"});
        insert("temp1", {"乙"});
        d.open(tsl::table::customers);
        d.w->table1.moveTo(1);
        Tkhl& k = *d.roster->khl;
        d.w->btneditClick();
        k.edname->setText("甲"); // another customer's name is accepted when editing
        k.edsj->setText("7");
        k.btn->click();
        QCOMPARE(d.boxes(), QStringList());
        QCOMPARE(customers(), (QStringList{"甲|a|1|2|3", "甲|b|4|5|7"}));
        QCOMPARE(names(), (QStringList{"甲", "乙"}));
    }

    // Edit mode on an empty book, or a caption that is neither mode: nothing written.
    void nothingToWrite_data() {
        QTest::addColumn<QString>("caption");
        QTest::addColumn<QStringList>("shown");
        QTest::newRow("edit without row") << "修改" << QStringList{"请选择要修改的对象!"};
        QTest::newRow("other caption") << "确定" << QStringList();
    }
    void nothingToWrite() {
        QFETCH(QString, caption);
        QFETCH(QStringList, shown);
        Fixture d(tsl::table::customers);
        Tkhl& k = *d.roster->khl;
        k.show();
        k.btn->setText(caption);
        fill(k, {"新"});
        k.btn->click();
        QCOMPARE(d.boxes(), shown);
        QVERIFY(k.isVisible());
        QCOMPARE(customers(), QStringList());
        QVERIFY(!d.w->table1.pending());
    }

    void everyCloseEmptiesTheBoxes() {
        Fixture d(tsl::table::customers);
        Tkhl& k = *d.roster->khl;
        const std::function<void()> closers[] = {[&] { k.btncancel->click(); }, [&] { k.close(); },
                                                 [&] { k.btn->click(); }};
        for (const auto& closeIt : closers) {
            d.w->btnaddClick();
            fill(k, {"n", "a", "b", "c", "e"});
            closeIt();
            QVERIFY(!k.isVisible());
            for (QLineEdit* e : {k.edname, k.edadd, k.edyb, k.eddh, k.edsj})
                QCOMPARE(e->text(), QString());
        }
        QCOMPARE(customers(), QStringList{"n|a|b|c|e"});
    }

    // The address takes 150 bytes, a character outside ASCII counting as two;
    // the other boxes take anything.
    void addressLimitCountsBytes() {
        Fixture d(tsl::table::customers);
        Tkhl& k = *d.roster->khl;
        d.w->btnaddClick();
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

        for (QLineEdit* e : {k.edname, k.edyb, k.eddh, k.edsj}) {
            e->setText(QString(40000, 'x'));
            e->end(false);
            QTest::keyClick(e, Qt::Key_Y);
            QCOMPARE(e->text().size(), 40001);
        }
    }
};

QTEST_MAIN(TestKhl)
#include "tst_khl.moc"
