// The workspace grid as the bookkeeper reads it: on the first entry into a
// ledger every text in sight is whole where its column has room, and a longer
// text that comes into sight later widens its column, which never narrows.
#include "tests/forms/ledgerfixture.h"

#include "widgets/amountspin.h"
#include "widgets/columnsizer.h"
#include "forms/fhbd.h"
#include "forms/khlx.h"

#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QStandardItemModel>

using namespace ledger;

namespace {

// "row,column:text" of every cell in sight whose text is cut although its
// column is narrower than the widest a column may be sized.
QStringList cutInSight(QTableView* g) {
    const QAbstractItemModel* m = g->model();
    const int cap = g->findChild<ColumnSizer*>()->widest();
    const int top = std::max(0, g->rowAt(0));
    int bottom = g->rowAt(g->viewport()->height() - 1);
    if (bottom < 0)
        bottom = m->rowCount() - 1;
    QStringList cut;
    for (int r = top; r <= bottom; ++r)
        for (int c = 0; c < m->columnCount(); ++c) {
            const QModelIndex i = m->index(r, c);
            if (g->columnWidth(c) < cap && g->visualRect(i).width() < g->sizeHintForIndex(i).width())
                cut << QStringLiteral("%1,%2:%3").arg(r).arg(c).arg(i.data().toString());
        }
    return cut;
}

QList<int> widths(QTableView* g) {
    QList<int> w;
    for (int c = 0; c < g->model()->columnCount(); ++c)
        w << g->columnWidth(c);
    return w;
}

// The grid after the events of a change have run.
void settle(Fixture& f) {
    QVERIFY(QTest::qWaitForWindowExposed(f.w));
    QCoreApplication::processEvents();
}

std::string longName(int i) { return "杭州四季青服装有限公司第" + std::to_string(i) + "分公司"; }

} // namespace

class TestGrid : public QObject {
    Q_OBJECT

private slots:
    // The chooser opens the customer book before the window first shows.
    void firstEntryShowsWholeTexts() {
        Fixture f;
        for (int i = 1; i <= 10; ++i)
            addRow("1", {longName(i), "浙江省嘉兴市桐乡市濮院镇毛衫城工业园区三十八号后门左手第二间仓库楼上",
                         "314500", "0573-88881234", "13900000000"});
        f.enter();
        settle(f);
        QCOMPARE(cutInSight(f.w->grid1), QStringList());
        // The long address stops at the cap, the others are not crowded out.
        QCOMPARE(f.w->grid1->columnWidth(1), f.w->grid1->findChild<ColumnSizer*>()->widest());
    }

    // Scrolling to the end of a long book brings wider serial numbers into sight.
    void wideNumbersFarDownFitOnceInSight() {
        Fixture f;
        std::string sql = "BEGIN;";
        for (int i = 1; i <= 3000; ++i)
            sql += insertSql("2", {"(" + std::to_string(i) + ")2026/2/11", "王丽", "开衫", "10", "桐乡", "314500", "1"});
        execSql(sql + "COMMIT;");
        f.enter();
        f.w->SpeedButton2->click();
        settle(f);
        const QList<int> before = widths(f.w->grid1);
        f.w->grid1->scrollToBottom();
        settle(f);
        QCOMPARE(cutInSight(f.w->grid1), QStringList());
        QVERIFY(f.w->grid1->columnWidth(0) > before[0]);
    }

    // Each change writes a longer text into a row in sight; the column takes it
    // whole, and no column gets narrower.
    void columnsGrowForLongerTextsInSight_data() {
        QTest::addColumn<QString>("change");
        QTest::newRow("a customer added") << "add customer";
        QTest::newRow("the first row of an empty book") << "first shipment";
        QTest::newRow("a row added to a long book") << "add at the end";
        QTest::newRow("a row edited") << "edit";
        QTest::newRow("a date changed") << "date";
        QTest::newRow("renumbered after a delete") << "renumber";
        QTest::newRow("a shorter text") << "shorter";
    }
    void columnsGrowForLongerTextsInSight() {
        QFETCH(QString, change);
        Fixture f;
        const Roster& r = *f.roster;
        Tkhl& khl = *r.khl;
        Tfhb& fhb = *r.fhb;
        auto ship = [&](const QString& name) {
            f.w->btnadd->click();
            fhb.edname->setText(name);
            fhb.edje->setText("5");
            fhb.btn->click();
        };
        customer("王丽");
        if (change == "add at the end") {
            for (int i = 1; i <= 99; ++i)
                addRow("2", {"(" + std::to_string(i) + ")2004-5-12", "王丽", "开衫", "1", "桐乡", "314500", "1"});
        } else if (change != "first shipment") {
            addRow("2", {change == "renumber" ? "(1)1" : "(1)2004-5-12", "王丽", "开衫", "1", "桐乡", "314500", "1"});
            addRow("2", {")2004-5-12", "李", "开衫", "1", "桐乡", "314500", "1"});
        }
        f.enter();
        if (change != "add customer")
            f.w->SpeedButton2->click();
        settle(f);
        const QList<int> before = widths(f.w->grid1);
        const QString longer = QString::fromStdString(longName(7));
        if (change == "add customer") {
            f.w->btnadd->click();
            khl.edname->setText(longer);
            khl.btn->click();
        } else if (change == "first shipment" || change == "add at the end") {
            ship(longer);
        } else if (change == "edit" || change == "shorter") {
            f.w->btnedit->click();
            fhb.edname->setText(change == "edit" ? longer : QStringLiteral("x"));
            fhb.btn->click();
        } else if (change == "date") {
            f.clickCell(0, 0);
            f.prompter.dateAnswers = {QDate(2004, 12, 28)};
            f.w->refreshSafetyMenu(); // as the right-click does before its menu shows
            f.w->changeDateAction->trigger();
            QCOMPARE(column("2").first(), "(1)2004-12-28");
        } else if (change == "renumber") {
            f.w->table1.first();
            f.prompter.yesNoAnswers = {true};
            f.w->btndel->click();
            QCOMPARE(column("2"), QStringList{"(1)2004-5-12"});
        }
        settle(f);
        QVERIFY2(f.prompter.boxes.empty() || change == "renumber" || change == "date", qPrintable(f.prompter.texts().join('/')));
        QCOMPARE(cutInSight(f.w->grid1), QStringList());
        const QList<int> after = widths(f.w->grid1);
        for (int c = 0; c < before.size(); ++c)
            QVERIFY2(after[c] >= before[c], qPrintable(QStringLiteral("column %1 narrowed").arg(c)));
    }

    // The sizer remembers which rows in sight it has measured: rows added,
    // changed or moved after that are measured again, wherever they land.
    void remeasuresWhatChangedSinceItLooked_data() {
        QTest::addColumn<QString>("change");
        QTest::newRow("a long row put in above the others") << "insert";
        QTest::newRow("a measured row made longer") << "change";
        QTest::newRow("rows put in above, then a moved row made longer") << "insert, change";
        QTest::newRow("a row taken out, then a moved row made longer") << "remove, change";
        QTest::newRow("scrolled down one row, then up again to a longer row") << "scroll";
    }
    void remeasuresWhatChangedSinceItLooked() {
        QFETCH(QString, change);
        QStandardItemModel m(0, 2);
        for (int r = 0; r < 60; ++r)
            m.appendRow({new QStandardItem(QString::number(r)), new QStandardItem(QStringLiteral("短"))});
        QTableView g;
        g.resize(600, 300);
        g.setModel(&m);
        new ColumnSizer(&g, [] { return QStringLiteral("t"); });
        g.show();
        QVERIFY(QTest::qWaitForWindowExposed(&g));
        QCoreApplication::processEvents();
        const QString longer = QString::fromStdString(longName(3));
        const int before = g.columnWidth(1);
        if (change == "insert")
            m.insertRow(1, {new QStandardItem(QStringLiteral("x")), new QStandardItem(longer)});
        if (change == "insert, change") {
            for (int i = 0; i < 2; ++i)
                m.insertRow(0, {new QStandardItem(QStringLiteral("x")), new QStandardItem(QStringLiteral("短"))});
            QCoreApplication::processEvents();
        }
        if (change == "remove, change") {
            m.removeRow(0);
            QCoreApplication::processEvents();
        }
        if (change.endsWith(QLatin1String("change")))
            m.item(4, 1)->setText(longer);
        if (change == "scroll") {
            m.item(0, 1)->setText(longer);
            g.verticalScrollBar()->setValue(1);
            QCoreApplication::processEvents();
            QCOMPARE(g.columnWidth(1), before); // not yet in sight
            g.verticalScrollBar()->setValue(0);
        }
        QCoreApplication::processEvents();
        QVERIFY(g.columnWidth(1) > before);
        const QModelIndex i = m.index(change == "insert" ? 1 : change == "scroll" ? 0 : 4, 1);
        QVERIFY(g.visualRect(i).width() >= g.sizeHintForIndex(i).width());
    }
};

QTEST_MAIN(TestGrid)
#include "tst_grid.moc"
