// 年度统计…: the year by month and by name from the workspace grid's menu.
#include "tests/export/exporttest.h"
#include "tests/forms/ledgerfixture.h"

#include "forms/lb.h"
#include "forms/ndtj.h"

#include <QAction>
#include <QBarCategoryAxis>
#include <QChart>
#include <QChartView>
#include <QComboBox>
#include <QDir>
#include <QHeaderView>
#include <QImage>
#include <QLabel>
#include <QListWidget>
#include <QTabWidget>
#include <QTableView>

using namespace ledger;

namespace {

Tndtj* openGlance(Fixture& f) {
    f.w->yearGlanceItem->trigger();
    return f.w->yearGlance();
}

QStringList rowOf(const QAbstractItemModel& m, int row) {
    QStringList out;
    for (int c = 0; c < m.columnCount(); ++c)
        out << m.index(row, c).data().toString();
    return out;
}

QStringList columnOf(const QAbstractItemModel& m, int col) {
    QStringList out;
    for (int r = 0; r < m.rowCount(); ++r)
        out << m.index(r, col).data().toString();
    return out;
}

// Every number in a text, in order.
QList<qint64> numbers(const QString& text) {
    QList<qint64> out;
    static const QRegularExpression re(QStringLiteral("-?\\d+"));
    for (auto it = re.globalMatch(text); it.hasNext();)
        out << it.next().captured().toLongLong();
    return out;
}

bool isPdf(const char* file) { return tsltest::readFile(file).rfind("%PDF-", 0) == 0; }

} // namespace

class TestYearGlance : public QObject {
    Q_OBJECT

private slots:
    // The name lists come largest first, and their arrow says so: it points
    // down (wide at the top), whatever way round the style draws its own.
    void nameListsLargestFirstUnderADownArrow() {
        Fixture f;
        ship("甲", "1");
        ship("乙", "5");
        f.enter();
        Tndtj* g = openGlance(f);
        QVERIFY(g);
        g->tabs->setCurrentIndex(1);
        QTableView* v = g->gridnames[0];
        QTest::qWait(50);
        QHeaderView* h = v->horizontalHeader();
        QCOMPARE(h->sortIndicatorSection(), 2);
        QCOMPARE(h->sortIndicatorOrder(), Qt::DescendingOrder);
        QCOMPARE(columnOf(*v->model(), 0), QStringList({"乙", "甲"}));
        const QImage img = h->grab().toImage();
        const int right = h->sectionViewportPosition(2) + h->sectionSize(2);
        QList<int> dark(img.height(), 0);
        for (int y = 0; y < img.height(); ++y)
            for (int x = std::max(0, right - 16); x < right - 1; ++x)
                if (qGray(img.pixel(x, y)) < 110)
                    ++dark[y];
        int top = -1, bottom = -1;
        for (int y = 0; y < img.height(); ++y)
            if (dark[y] > 0) {
                if (top < 0)
                    top = y;
                bottom = y;
            }
        QVERIFY2(top >= 0 && bottom > top, "no arrow drawn at the end of the amount's title");
        QVERIFY2(dark[top] > dark[bottom], qPrintable(QStringLiteral("arrow rows %1..%2, widths %3 and %4")
                                                           .arg(top).arg(bottom).arg(dark[top]).arg(dark[bottom])));
    }

    void monthTableAndChartFromTheGridMenu() {
        Fixture f;
        addRow("2", {"(1)2004-5-12", "甲", "开衫", "1", "桐乡", "314500", "100"}); // the clock's pattern
        addRow("2", {"(2)5/20/04", "乙", "开衫", "1", "桐乡", "314500", "40"});    // the fallback
        addRow("2", {"(3)2004-12-1", "甲", "开衫", "1", "桐乡", "314500", "7"});
        addRow("2", {"(4)上个月", "甲", "开衫", "1", "桐乡", "314500", "1000"});
        addRow("3", {"(1)2004-12-3", "纱厂", "羊毛纱", "5", "30"});
        addRow("4", {"(1)1/2/04", "小王", "套口", "30", "5"});
        f.enter();
        QVERIFY(f.w->grid1->actions().contains(f.w->yearGlanceItem));
        Tndtj* g = openGlance(f);
        QVERIFY(g && g->isVisible());
        QCOMPARE(g->windowTitle(), QStringLiteral("年度统计!"));
        QCOMPARE(f.boxes(), QStringList());
        const auto& m = g->monthModel;
        QCOMPARE(m.rowCount(), 14); // 1..12月, 日期不明, 合计
        QCOMPARE(rowOf(m, 0), QStringList({"1月", "0", "0", "0", "5", "-5"}));
        QCOMPARE(rowOf(m, 4), QStringList({"5月", "2", "140", "0", "0", "140"}));
        QCOMPARE(rowOf(m, 11), QStringList({"12月", "1", "7", "30", "0", "-23"}));
        QCOMPARE(rowOf(m, 12), QStringList({"日期不明", "1", "1000", "0", "0", "1000"}));
        QCOMPARE(rowOf(m, 13), QStringList({"合计", "4", "1147", "30", "5", "1112"}));
        QVERIFY(!g->labad->isVisible());
        // Three books as bars and the income as a line, a category per month and 日期不明.
        QCOMPARE(g->chart1->chart()->series().size(), 2);
        auto* x = qobject_cast<QBarCategoryAxis*>(g->chart1->chart()->axes(Qt::Horizontal).value(0));
        QVERIFY(x);
        QCOMPARE(x->categories().size(), 13);
        QCOMPARE(x->categories().last(), QStringLiteral("日期不明"));
        // Closing the workspace takes the figures of its ledger away too.
        f.w->close();
        QVERIFY(!g->isVisible());
    }

    // The window's totals are the overall report's and the status summaries'.
    void totalsAreTheReportsAndTheSummaries() {
        Fixture f;
        customer("甲");
        customer("乙");
        int k = 0;
        for (const char* amount : {"50000", "-100", "$20", " 35", "0"}) {
            const std::string n = std::to_string(++k);
            addRow("2", {"(" + n + ")2004-" + n + "-1", "甲", "开衫", "1", "桐乡", "314500", amount});
        }
        buy("纱厂", "3000");
        buy("辅料厂", "900");
        addRow("3", {"(3)不明", "商标厂", "商标", "1", "100"});
        deliver("小王", "1200");
        deliver("小李", "-7");
        f.enter();
        const TextTableModel& months = openGlance(f)->monthModel;
        const auto total = rowOf(months, months.rowCount() - 1);

        f.prompter.boxes.clear();
        f.w->SpeedButton5->click();
        const QStringList shown = f.boxes();
        QCOMPARE(shown.size(), 1);
        // customers, shipments count and total, purchases count and total, deliveries count and total, income
        const QList<qint64> report = numbers(shown[0]);
        QCOMPARE(report.size(), 8);
        const QList<qint64> window = {total[1].toLongLong(), total[2].toLongLong(), total[3].toLongLong(),
                                      total[4].toLongLong(), total[5].toLongLong()};
        QCOMPARE(window, (QList<qint64>{report[1], report[2], report[4], report[6], report[7]}));
        QVERIFY(f.w->yearGlance()->laname->text().contains(QStringLiteral("客户:%1个").arg(report[0])));

        QToolButton* books[] = {f.w->SpeedButton2, f.w->SpeedButton3, f.w->SpeedButton4};
        for (int b = 0; b < 3; ++b) {
            books[b]->click();
            const QList<qint64> summary = numbers(f.status());
            QCOMPARE(summary.size(), 2);
            QCOMPARE(total[b + 2].toLongLong(), summary[1]);
        }
    }

    void badAmountsNamedNotSkipped() {
        Fixture f;
        ship("甲", "100");
        ship("乙", "12.5");
        f.enter();
        Tndtj* g = openGlance(f);
        QVERIFY(g->labad->isVisible());
        QVERIFY2(g->labad->text().contains(QStringLiteral("发货第2行 (1)2004-5-12 乙 金额\"12.5\"")),
                 qPrintable(g->labad->text()));
        QCOMPARE(rowOf(g->monthModel, g->monthModel.rowCount() - 1).mid(0, 3), QStringList({"合计", "1", "100"}));
        // Once corrected, a new opening reads the ledger again.
        execSql("UPDATE \"2\" SET \"总金额\" = '12' WHERE \"总金额\" = '12.5'");
        openGlance(f);
        QVERIFY(!g->labad->isVisible());
        QCOMPARE(rowOf(g->monthModel, g->monthModel.rowCount() - 1).mid(0, 3), QStringList({"合计", "2", "112"}));
    }

    void tablesAndChartExport() {
        Fixture f;
        ship("甲", "100");
        ship("乙, \"大\"", "40");
        f.enter();
        Tndtj* g = openGlance(f);
        const QDir here = QDir::current();
        f.prompter.saveAnswers = {here.filePath("month.csv"), here.filePath("names.xlsx"), here.filePath("chart.png"),
                                  here.filePath("chart.pdf")};
        // The tables' and the chart's right-click items, in their order.
        g->gridmonth->actions().at(1)->trigger(); // 导出CSV…
        const auto csv = tsltest::parseQuotedCsv(tsltest::readFile("month.csv"));
        QVERIFY(csv && int(csv->size()) == g->monthModel.rowCount() + 1);
        QCOMPARE(csv->back().at(2), "140");
        g->gridnames[0]->actions().at(0)->trigger(); // 导出Excel…
        QCOMPARE(QString::fromStdString(tsltest::readXlsx("names.xlsx").cells.at("A3").text), "乙, \"大\"");
        g->chart1->actions().at(0)->trigger(); // 导出图片…
        QCOMPARE(QImage("chart.png").size(), g->chart1->size());
        g->chart1->actions().at(1)->trigger(); // 导出PDF…
        QVERIFY(isPdf("chart.pdf"));
        // Four save boxes and nothing else; each suggests a name of the window and the tab.
        const QStringList shown = f.prompter.take();
        QCOMPARE(shown.size(), 4);
        QVERIFY2(shown[0].contains(QStringLiteral("年度统计")) && shown[0].endsWith(QStringLiteral(".csv")),
                 qPrintable(shown[0]));

        // A picture that cannot be written names its file and leaves no temporary behind.
        f.prompter.saveAnswers = {here.filePath("no/such/chart.png")};
        g->chart1->actions()[0]->trigger();
        const QStringList failed = f.prompter.take();
        QCOMPARE(failed.size(), 2); // the save box, then the error
        QVERIFY2(failed[1].startsWith("不能写入文件 \"" + here.filePath("no/such/chart.png") + "\""),
                 qPrintable(failed[1]));
        QVERIFY(here.entryList({"*.part"}, QDir::Files | QDir::Hidden).isEmpty());
    }

    // Numbers and shares sort as numbers, names as text.
    void namesSortByNumberAndText() {
        Fixture f;
        for (const auto& [name, amount] :
             {std::pair{"甲", "900"}, {"乙", "100"}, {"乙", "100"}, {"丙", "1000"}, {"甲", "200"}})
            ship(name, amount);
        f.enter();
        QTableView* v = openGlance(f)->gridnames[0];
        const QAbstractItemModel& m = *v->model();
        QCOMPARE(rowOf(m, 0), QStringList({"甲", "2", "1100", "47.8%"})); // largest total first
        QCOMPARE(columnOf(m, 0), QStringList({"甲", "丙", "乙"}));
        v->sortByColumn(3, Qt::AscendingOrder);
        QCOMPARE(columnOf(m, 3), QStringList({"8.7%", "43.5%", "47.8%"}));
        v->sortByColumn(2, Qt::DescendingOrder);
        QCOMPARE(columnOf(m, 2), QStringList({"1100", "1000", "200"}));
        v->sortByColumn(0, Qt::AscendingOrder);
        QCOMPARE(columnOf(m, 0), QStringList({"丙", "乙", "甲"})); // by the text's code points
    }

    void comparedWithAnotherLedgerReadOnly() {
        Fixture f;
        ship("甲", "100");
        addRow("2", {"(2)2004-6-1", "甲", "开衫", "1", "桐乡", "314500", "50"});
        tsltest::makeLedger("y.mdb", {{2, {{"(1)2003-5-2", "乙", "开衫", "1", "桐乡", "314500", "30"}}},
                                      {4, {{"(1)2003-6-9", "小王", "套口", "1", "80"}}}});
        const std::string before = tsltest::readFile("y.mdb");
        for (const char* name : {"x", "y", "gone"})
            f.roster->l->list1->addItem(QString::fromUtf8(name));
        f.enter();
        Tndtj* g = openGlance(f);
        QComboBox* cb = g->cbcompare;
        const int tab = g->tabs->indexOf(g->tabcompare);
        QCOMPARE(QStringList({cb->itemText(0), cb->itemText(1), cb->itemText(2)}),
                 QStringList({"(不对比)", "y", "gone"})); // not the ledger itself
        QCOMPARE(cb->count(), 3);
        QVERIFY(!g->tabs->isTabEnabled(tab));

        cb->setCurrentIndex(1);
        emit cb->activated(1);
        QCOMPARE(f.boxes(), QStringList());
        QVERIFY(g->tabs->isTabEnabled(tab));
        QCOMPARE(g->tabs->currentWidget(), g->tabcompare);
        const auto& c = g->compareModel;
        QCOMPARE(c.headerData(1, Qt::Horizontal, Qt::DisplayRole).toString() + "|" +
                     c.headerData(2, Qt::Horizontal, Qt::DisplayRole).toString(),
                 QStringLiteral("发货\n(x)|发货\n(y)")); // the ledger's name on a second line
        QCOMPARE(rowOf(c, 5), QStringList({"6月", "50", "0", "50", "0", "0", "0", "0", "80", "-80", "50", "-80", "130"}));
        QCOMPARE(rowOf(c, c.rowCount() - 1).mid(10), QStringList({"150", "-50", "200"}));
        QCOMPARE(g->chart1->chart()->series().size(), 3); // a second income line
        QCOMPARE(tsltest::readFile("y.mdb"), before);
        QVERIFY(!std::filesystem::exists("y.mdb-journal"));

        // A ledger whose file is gone: the error box, and no comparison.
        cb->setCurrentIndex(2);
        emit cb->activated(2);
        QCOMPARE(f.boxes(), QStringList({QStringLiteral("找不到文件\"gone.mdb\"!")}));
        QCOMPARE(cb->currentIndex(), 0);
        QVERIFY(!g->otherFigures());
        QVERIFY(!g->tabs->isTabEnabled(tab));
        QCOMPARE(g->chart1->chart()->series().size(), 2);
    }
};

QTEST_MAIN(TestYearGlance)
#include "tst_yearglance.moc"
