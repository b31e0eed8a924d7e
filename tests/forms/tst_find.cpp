// The find bar of the workspace: the rows shown, their count and total, and the
// commands acting on the book's real rows while only some are shown.
#include "tests/forms/ledgerfixture.h"

#include "forms/findbar.h"
#include "widgets/gridmodel.h"

#include <QAction>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>

using namespace ledger;

namespace {

// The first field (the stamp) and the name of every line the grid shows.
QStringList shownNames(TForm1* w) {
    QStringList out;
    QAbstractItemModel* m = w->grid1->model();
    for (int r = 0; r < m->rowCount(); ++r)
        out << m->index(r, 1).data().toString();
    return out;
}

void seed() {
    ship("张三", "10");
    addRow("2", {"(1)2004-5-12", "李四", "开衫", "10", "浙江省嘉兴市桐乡市濮院镇毛衫城二期88号", "314500", "200"});
    ship("ＺＨＡＮＧ", "5"); // full-width letters
    ship("王五张", "20");
}

} // namespace

class TestFind : public QObject {
    Q_OBJECT

private slots:
    void filtersCountsAndTotalsThenEscapeShowsTheBookOnTheSameRow() {
        Fixture f;
        seed();
        f.enter();
        f.w->SpeedButton2->click();
        f.w->table1.moveTo(1); // 李四
        QHeaderView* titles = f.w->grid1->horizontalHeader();
        emit titles->sectionClicked(6); // sorted by amount: a find then maps the rows twice
        QCoreApplication::processEvents();
        QList<int> widths;
        for (int c = 0; c < titles->count(); ++c)
            widths << titles->sectionSize(c);
        f.w->findAction->trigger();
        QVERIFY(f.w->findBar->isVisible());
        QVERIFY(f.w->findBar->geometry().top() > f.w->grid1->geometry().bottom()); // under the grid, not over it
        f.w->findBar->edFind->insert(QStringLiteral("张")); // as typed through an input method
        QCOMPARE(shownNames(f.w), (QStringList{"张三", "王五张"}));
        QCOMPARE(f.w->findBar->lbFind->text(), QStringLiteral("显示 2 / 4 行,合计 30 元"));
        QCOMPARE(f.w->table1.currentRow(), 1); // finding moves no row
        QCoreApplication::processEvents();
        for (int c = 0; c < titles->count(); ++c)
            QVERIFY2(titles->sectionSize(c) >= widths[c], "a column narrowed under the reader's eyes");
        f.w->findBar->edFind->setText(QStringLiteral("zhang"));
        QCOMPARE(shownNames(f.w), (QStringList{"ＺＨＡＮＧ"}));
        QTest::keyClick(f.w->findBar->edFind, Qt::Key_Escape);
        QVERIFY(!f.w->findBar->isVisible());
        QCOMPARE(shownNames(f.w).size(), 4);
        QCOMPARE(f.w->table1.currentRow(), 1);
        QCOMPARE(f.viewRow(), 3); // still by amount: 5, 10, 20, 200
        QCOMPARE(f.boxes(), QStringList());
    }

    void commandsActOnTheRealRows() {
        Fixture f;
        seed();
        f.enter();
        f.w->SpeedButton2->click();
        const QString wholeStatus = f.status();
        f.w->findAction->trigger();
        f.w->findBar->edFind->setText(QStringLiteral("王五"));
        QCOMPARE(shownNames(f.w), QStringList{"王五张"});
        f.clickCell(0, 1);
        QCOMPARE(f.w->table1.currentRow(), 3); // the line shown first is the book's fourth row
        QCOMPARE(f.status(), wholeStatus); // the summary is the book's, not the shown rows'
        f.prompter.yesNoAnswers = {true};
        f.w->btndel->click();
        QCoreApplication::processEvents(); // found again once the command is over
        QCOMPARE(column("2", tsl::field::shipCustomer), (QStringList{"张三", "李四", "ＺＨＡＮＧ"}));
        QCOMPARE(shownNames(f.w), QStringList());
        QCOMPARE(f.w->findBar->lbFind->text(), QStringLiteral("显示 0 / 3 行,合计 0 元"));
        // A row added behind the map is found when it holds the text.
        f.w->findBar->edFind->setText(QStringLiteral("四"));
        QCOMPARE(shownNames(f.w), QStringList{"李四"});
        f.clickCell(0, 1);
        QCOMPARE(f.w->table1.currentRow(), 1);
        f.w->table1.edit();
        f.w->table1.setField(tsl::field::amount, "abc");
        f.w->table1.post();
        QCoreApplication::processEvents();
        QCOMPARE(f.w->findBar->lbFind->text(), QStringLiteral("显示 1 / 3 行,合计 0 元(1 行的金额不是整数,未计入)"));
    }

    void stepsThroughTheRowsFoundWithoutFiltering() {
        Fixture f;
        seed();
        f.enter();
        f.w->SpeedButton2->click();
        f.w->table1.moveTo(0);
        f.w->findAction->trigger();
        f.w->findBar->cbFindFilter->setChecked(false);
        f.w->findBar->edFind->setText(QStringLiteral("张"));
        QCOMPARE(shownNames(f.w).size(), 4);
        QCOMPARE(f.w->findBar->lbFind->text(), QStringLiteral("找到 2 / 4 行,合计 30 元"));
        QTest::keyClick(f.w->findBar->edFind, Qt::Key_Return);
        QCOMPARE(f.w->table1.currentRow(), 3);
        QCOMPARE(f.viewRow(), 3);
        f.w->findNextAction->trigger(); // F3: round the end
        QCOMPARE(f.w->table1.currentRow(), 0);
        f.w->findPreviousAction->trigger(); // Shift+F3
        QCOMPARE(f.w->table1.currentRow(), 3);
        QTest::keyClick(f.w->findBar->edFind, Qt::Key_Return, Qt::ShiftModifier);
        QCOMPARE(f.w->table1.currentRow(), 0);
        // Filtering again keeps stepping inside the lines shown.
        f.w->findBar->cbFindFilter->setChecked(true);
        QCOMPARE(shownNames(f.w), (QStringList{"张三", "王五张"}));
        f.w->findNextAction->trigger();
        QCOMPARE(f.w->table1.currentRow(), 3);
        QCOMPARE(f.viewRow(), 1);
    }

    // Another book shows whole, and the bar finds in it.
    void anotherBookIsFoundAnew() {
        Fixture f;
        seed();
        buy("张家纱厂", "7");
        f.enter();
        f.w->SpeedButton2->click();
        f.w->findAction->trigger();
        f.w->findBar->edFind->setText(QStringLiteral("张"));
        QCOMPARE(shownNames(f.w).size(), 2);
        f.w->SpeedButton3->click();
        QCoreApplication::processEvents();
        QCOMPARE(shownNames(f.w), QStringList{"张家纱厂"});
        QCOMPARE(f.w->findBar->lbFind->text(), QStringLiteral("显示 1 / 1 行,合计 7 元"));
    }
};

QTEST_MAIN(TestFind)
#include "tst_find.moc"
