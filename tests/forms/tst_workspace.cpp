// The workspace window: books, status summaries, command enabling, the record
// hint, the grid over table1, closing, About.
#include "tests/forms/ledgerfixture.h"

#include "forms/about.h"
#include "widgets/gridmodel.h"
#include "forms/lb.h"

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QSignalSpy>

using namespace ledger;

class TestWorkspace : public QObject {
    Q_OBJECT

private slots:
    void layoutFillsTheClientAreaAndGrowsTheGrid() {
        Fixture f;
        f.enter();
        TForm1* w = f.w;
        QWidget* client = w->centralWidget();
        QCOMPARE(client->size(), QSize(691, 465));
        QCOMPARE(w->grid1->geometry(), QRect(89, 37, 602, 409));
        QVERIFY(w->windowFlags() & Qt::WindowMaximizeButtonHint);
        w->resize(1000, 800); // as maximising does; offscreen there is no window manager to ask
        QTRY_VERIFY(client->width() == 1000);
        QCOMPARE(w->grid1->geometry(), QRect(89, 37, 1000 - 89, client->height() - 37 - 19));
        QCOMPARE(w->bar->geometry(), QRect(0, client->height() - 19, 1000, 19));
    }

    void emptyBooksShowZeroAndDisableEditDelete() {
        Fixture f;
        QVERIFY(f.status().isEmpty()); // nothing until table1 first opens
        f.enter();
        QCOMPARE(f.status(), QStringLiteral("总共有0个客户!"));
        QVERIFY(!f.editDeleteEnabled());
        QVERIFY(f.w->btnadd->isEnabled() && f.w->A1->isEnabled());

        const QString expected[] = {
            QStringLiteral("总共已经发了0次货!总的金额为:0元人民币! 恭喜发财!!"),
            QStringLiteral("总共已经进了0次货!应付金额为:0元人民币!"),
            QStringLiteral("所有人总共交了0次货!总的金额为:0元人民币!"),
        };
        QToolButton* books[] = {f.w->SpeedButton2, f.w->SpeedButton3, f.w->SpeedButton4};
        for (int i = 0; i < 3; ++i) {
            books[i]->click();
            QCOMPARE(f.w->viewNumber(), QString::number(i + 2));
            QCOMPARE(f.status(), expected[i]);
            QVERIFY(!f.editDeleteEnabled());
        }
        QVERIFY(f.prompter.boxes.empty());
    }

    void summariesCountAndSumEachBook() {
        Fixture f;
        customer("甲");
        customer("乙");
        customer("甲"); // counted twice, like any row
        ship("甲", "100");
        ship("乙", "250");
        ship("甲", "50");
        buy("纱厂", "100");
        buy("纱厂", "-30"); // negative amounts count negatively
        deliver("小王", " +7");
        deliver("小李", "$10"); // hexadecimal passes the conversion too
        f.enter();
        QCOMPARE(f.status(), QStringLiteral("总共有3个客户!"));
        QVERIFY(f.editDeleteEnabled());

        f.w->SpeedButton2->click();
        QCOMPARE(f.status(), QStringLiteral("总共已经发了3次货!总的金额为:400元人民币! 恭喜发财!!"));
        QCOMPARE(f.w->table1.currentRow(), 0); // back on the first row after summing
        QCOMPARE(f.viewRow(), 0);
        f.w->SpeedButton3->click();
        QCOMPARE(f.status(), QStringLiteral("总共已经进了2次货!应付金额为:70元人民币!"));
        f.w->SpeedButton4->click();
        QCOMPARE(f.status(), QStringLiteral("所有人总共交了2次货!总的金额为:23元人民币!"));

        // Reopening rereads rows written behind the workspace's back; totals past
        // the 32-bit range do not wrap, but each amount must be a 32-bit number.
        clear("3");
        buy("纱厂", "-2147483648");
        buy("纱厂", "-2147483648");
        buy("纱厂", "-500");
        f.w->table1.moveTo(1);
        f.w->SpeedButton3->click();
        QCOMPARE(f.status(), QStringLiteral("总共已经进了3次货!应付金额为:-4294967796元人民币!"));
        QCOMPARE(f.w->table1.currentRow(), 0);
        QCOMPARE(f.w->grid1->model()->rowCount(), 3);
        clear("2");
        for (int i = 0; i < 3; ++i)
            ship("甲", "2147483647");
        f.w->SpeedButton2->click();
        QCOMPARE(f.status(), QStringLiteral("总共已经发了3次货!总的金额为:6442450941元人民币! 恭喜发财!!"));
        QVERIFY(f.prompter.boxes.empty());
        ship("甲", "2147483648");
        f.w->SpeedButton2->click();
        QCOMPARE(f.prompter.take(), QStringList{QStringLiteral("'2147483648' is not a valid integer value.")});
        QCOMPARE(f.status(), QStringLiteral("总共已经发了3次货!总的金额为:6442450941元人民币! 恭喜发财!!"));
    }

    void badAmountKeepsTheOldSummaryAndStopsOnThatRow() {
        Fixture f;
        ship("甲", "100");
        ship("乙", "12.5");
        ship("丙", "50");
        buy("纱厂", "");
        f.enter();
        const QString before = f.status();

        f.w->SpeedButton2->click();
        QCOMPARE(f.prompter.take(), QStringList{QStringLiteral("'12.5' is not a valid integer value.")});
        QCOMPARE(f.status(), before);
        QCOMPARE(f.w->viewNumber(), QStringLiteral("2")); // the book is open and shown all the same
        QCOMPARE(f.w->table1.currentRow(), 1);
        QCOMPARE(f.viewRow(), 1);
        QVERIFY(f.editDeleteEnabled());

        // An empty amount fails the same way, every time the book opens.
        for (int i = 0; i < 2; ++i) {
            f.w->SpeedButton3->click();
            QCOMPARE(f.prompter.take(), QStringList{QStringLiteral("'' is not a valid integer value.")});
            QCOMPARE(f.status(), before);
        }
    }

    void summaryFollowsDeletesWithoutMovingTheRow() {
        Fixture f;
        customer("甲");
        customer("乙");
        buy("纱厂", "100");
        buy("纱厂", "20");
        buy("辅料厂", "bad");
        f.enter();
        f.prompter.yesNoAnswers = {true, true};
        f.w->table1.moveTo(1);
        f.w->btndelClick(); // the customer book: no post runs
        QCOMPARE(f.status(), QStringLiteral("总共有1个客户!"));
        QCOMPARE(f.prompter.take(), QStringList{QStringLiteral("真的要删除该资料吗!")});

        // A book with an amount that does not convert: opening it says so, and a
        // later refresh leaves the figures as they were, silently.
        f.w->SpeedButton3->click();
        QCOMPARE(f.prompter.take(), QStringList{QStringLiteral("'bad' is not a valid integer value.")});
        const QString before = f.status();
        f.w->table1.moveTo(0);
        f.w->btndelClick();
        QCOMPARE(f.status(), before);
        QCOMPARE(f.prompter.take(), QStringList{QStringLiteral("真的要删除该资料吗!")});
        // Once mended, the next refresh counts every row again, and the current row stays put.
        f.w->table1.moveTo(1);
        f.w->table1.edit();
        f.w->table1.setField("总金额", "5");
        f.w->table1.post();
        QCOMPARE(f.status(), QStringLiteral("总共已经进了2次货!应付金额为:25元人民币!"));
        QCOMPARE(f.w->table1.currentRow(), 1);
    }

    void enablingFollowsPostsButNotDeletes() {
        Fixture f;
        f.enter();
        f.w->SpeedButton3->click();
        QVERIFY(!f.editDeleteEnabled());

        tsl::Cursor& t = f.w->table1;
        t.append();
        t.setField("货物来源", "纱厂");
        t.setField("总金额", "9");
        t.post(); // as a record dialog posts
        QVERIFY(f.editDeleteEnabled());
        QCOMPARE(f.status(), QStringLiteral("总共已经进了1次货!应付金额为:9元人民币!")); // every post refreshes it

        QCOMPARE(f.w->grid1->model()->index(0, 1).data().toString(), QStringLiteral("纱厂"));
        t.remove();
        QCOMPARE(t.recordCount(), 0);
        QVERIFY(f.editDeleteEnabled());               // no post, no new enabling
        QCOMPARE(f.w->grid1->model()->rowCount(), 1); // back to the blank line
        QVERIFY(f.w->grid1->model()->index(0, 1).data().toString().isEmpty());
        f.w->SpeedButton3->click();
        QVERIFY(!f.editDeleteEnabled());
    }

    void recordHintComesFromTheClickedRowOnly() {
        Fixture f;
        ship("甲", "100", "开衫");
        ship("乙", "250", "套衫");
        f.enter();
        QVERIFY(f.w->grid1->toolTip().isEmpty());

        // An empty book still shows a line to click on; its fields are empty.
        QCOMPARE(f.w->grid1->model()->rowCount(), 1);
        f.clickCell(0, 2);
        QCOMPARE(f.w->grid1->toolTip(), QStringLiteral("姓名:\n地址:\n邮编:\n电话:\n手机:\n"));

        f.w->SpeedButton2->click();
        QCOMPARE(f.w->grid1->toolTip(), QStringLiteral("姓名:\n地址:\n邮编:\n电话:\n手机:\n"));
        f.clickCell(1, 3);
        const QString second = QStringLiteral("日期:(1)2004-5-12\n客户姓名:乙\n毛衫种类:套衫\n数量:10\n发货地点:桐乡\n"
                                              "邮编:314500\n总金额:250\n");
        QCOMPARE(f.w->table1.currentRow(), 1);
        QCOMPARE(f.w->grid1->toolTip(), second);

        // Keyboard moves, right clicks, column titles and book switches leave it alone.
        QTest::keyClick(f.w->grid1, Qt::Key_Up);
        QCOMPARE(f.w->table1.currentRow(), 0);
        f.clickCell(0, 1, Qt::RightButton);
        const QHeaderView* titles = f.w->grid1->horizontalHeader();
        QTest::mouseClick(titles->viewport(), Qt::LeftButton, {}, QPoint(titles->sectionPosition(0) + 5, 5));
        f.w->SpeedButton1->click();
        QCOMPARE(f.w->grid1->toolTip(), second);
    }

    void gridAndCursorShareTheCurrentRow() {
        Fixture f;
        std::string sql = "BEGIN;";
        for (int i = 0; i < 300; ++i)
            sql += insertSql(
                "2", {"(1)2004-5-12", "人" + std::to_string(i), "开衫", "10", "桐乡", "314500", std::to_string(i)});
        execSql(sql + "COMMIT;");
        f.enter();
        f.w->SpeedButton2->click();
        QCOMPARE(f.viewRow(), 0);

        f.clickCell(5, 1);
        QCOMPARE(f.w->table1.currentRow(), 5);
        QCOMPARE(f.w->table1.fieldText(1), std::string("人5"));

        f.w->table1.moveTo(290); // the cursor leads, the grid follows
        QCOMPARE(f.viewRow(), 290);
        QTest::keyClick(f.w->grid1, Qt::Key_Down);
        QCOMPARE(f.w->table1.currentRow(), 291);
        QTest::keyClick(f.w->grid1, Qt::Key_End, Qt::ControlModifier);
        QCOMPARE(f.w->table1.currentRow(), 299);

        // Rows are read only for what is shown, and the grid cannot change them.
        const QModelIndex last = f.w->grid1->model()->index(299, 6);
        QCOMPARE(last.data().toString(), QStringLiteral("299"));
        QVERIFY(!(last.flags() & Qt::ItemIsEditable));
        QCOMPARE(f.w->grid1->model()->headerData(6, Qt::Horizontal).toString(), QStringLiteral("总金额"));
        QCOMPARE(f.w->grid1->model()->columnCount(), 7);
    }

    void gridFollowsSingleRowChanges() {
        Fixture f;
        ship("甲", "1");
        ship("乙", "2");
        ship("丙", "3");
        f.enter();
        f.w->SpeedButton2->click();
        QAbstractItemModel* m = f.w->grid1->model();
        QSignalSpy resets(m, &QAbstractItemModel::modelReset);
        QSignalSpy inserts(m, &QAbstractItemModel::rowsInserted);
        QSignalSpy removes(m, &QAbstractItemModel::rowsRemoved);
        QSignalSpy changes(m, &QAbstractItemModel::dataChanged);
        tsl::Cursor& t = f.w->table1;

        t.append();
        t.setField("客户姓名", "丁");
        t.setField("总金额", "4");
        t.post();
        QCOMPARE(inserts.count(), 1);
        QCOMPARE(m->rowCount(), 4);
        QCOMPARE(m->index(3, 1).data().toString(), QStringLiteral("丁"));
        QCOMPARE(f.viewRow(), 3);

        t.moveTo(1);
        t.edit();
        t.setField("客户姓名", "乙乙");
        t.post();
        QCOMPARE(changes.count(), 1);
        QCOMPARE(m->index(1, 1).data().toString(), QStringLiteral("乙乙"));

        t.remove(); // the row after it becomes current
        QCOMPARE(removes.count(), 1);
        QCOMPARE(m->rowCount(), 3);
        QCOMPARE(t.currentRow(), 1);
        QCOMPARE(f.viewRow(), 1);
        QCOMPARE(t.fieldText(1), std::string("丙"));
        QCOMPARE(resets.count(), 0);
    }

    void everyCloseBringsBackTheChooser() {
        Fixture f;
        customer("甲");
        auto closers = std::vector<std::function<void()>>{
            [&] { f.w->X1->trigger(); }, [&] { f.w->SpeedButton7->click(); }, [&] { f.w->close(); }, // the close box
        };
        for (auto& closeIt : closers) {
            f.enter();
            f.roster->l->hide();
            closeIt();
            QVERIFY(!f.w->isVisible());
            QVERIFY(f.roster->l->isVisible());
            QVERIFY(f.w->ado1.connected());
            QVERIFY(f.w->table1.isOpen());
            f.roster->l->hide();
        }
    }

    void menuItemsClickTheirButtons() {
        Fixture f;
        f.enter(); // empty customer book: edit and delete are off
        QSignalSpy add(f.w->btnadd, &QToolButton::clicked);
        QSignalSpy del(f.w->btndel, &QToolButton::clicked);
        QSignalSpy edit(f.w->btnedit, &QToolButton::clicked);
        f.w->A1->trigger();
        f.w->D1->trigger();
        f.w->E1->trigger();
        QCOMPARE(add.count(), 1);
        QCOMPARE(del.count() + edit.count(), 0);

        customer("甲");
        f.w->SpeedButton1->click();
        f.w->D1->trigger();
        f.w->E1->trigger();
        QCOMPARE(del.count(), 1);
        QCOMPARE(edit.count(), 1);
    }

    void aboutOpensOnceAtItsPlace() {
        Fixture f;
        f.enter();
        Tabou* a = f.roster->abou.get();
        QVERIFY(!a->isVisible());
        f.w->SpeedButton6->click();
        QVERIFY(a->isVisible());
        QCOMPARE(a->pos(), QPoint(192, 107));
        QCOMPARE(a->Label4->text() + a->Label5->text() + a->Label6->text(),
                 QStringLiteral("程序名:Tessolan版本:1.0用途:财务管理"));

        a->move(300, 200);
        f.w->Z1->trigger(); // already shown: only brought to the front
        QVERIFY(a->isVisible());
        QCOMPARE(a->pos(), QPoint(300, 200));
        a->close();
        f.w->Z1->trigger();
        QCOMPARE(a->pos(), QPoint(300, 200));
        QVERIFY(f.prompter.boxes.empty());
    }
};

QTEST_MAIN(TestWorkspace)
#include "tst_workspace.moc"
