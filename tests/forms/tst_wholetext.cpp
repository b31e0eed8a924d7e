// Texts shown whole where the window has room: the year window's titles, names
// and chart, the drop-down lists of the movement dialogs, About; the chart's PDF
// page filled; the report window's tab order.
#include "tests/export/exporttest.h"
#include "tests/forms/ledgerfixture.h"

#include "forms/about.h"
#include "widgets/amountspin.h"
#include "forms/fhbd.h"
#include "forms/jhbd.h"
#include "forms/lb.h"
#include "forms/ndtj.h"
#include "forms/zgjh.h"

#include <QAbstractItemView>
#include <QAction>
#include <QBarCategoryAxis>
#include <QChart>
#include <QChartView>
#include <QComboBox>
#include <QDir>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QProgressDialog>
#include <QPushButton>
#include <QStyle>
#include <QTabWidget>

using namespace ledger;

namespace {

const QString kLongName = QStringLiteral("杭州四季针织服饰有限公司");

Tndtj* openGlance(Fixture& f) {
    f.w->yearGlanceItem->trigger();
    Tndtj* g = f.w->yearGlance();
    QTest::qWait(50); // laid out and painted once, as on the screen
    return g;
}

// The room a cell's text has inside its column: the style's margins on both sides.
int cellRoom(const QTableView* v, int column) {
    return v->columnWidth(column) - 2 * (v->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, v) + 1);
}

// The non-white part of a rendered page, as a rectangle of pixels.
QRect inked(const QImage& page) {
    QRect r;
    for (int y = 0; y < page.height(); ++y)
        for (int x = 0; x < page.width(); ++x)
            if (qGray(page.pixel(x, y)) < 235)
                r |= QRect(x, y, 1, 1);
    return r;
}

} // namespace

class TestWholeText : public QObject {
    Q_OBJECT

private slots:
    // 对比: every title on its lines in full (the other ledger's name on a line
    // of its own); 按名字: every name in full in its column.
    void yearWindowTitlesAndNamesWhole() {
        Fixture f;
        ship(kLongName.toStdString(), "900");
        ship("王丽", "100");
        buy("浙江桐乡羊毛纱线有限公司", "300");
        deliver("赵红梅", "50");
        tsltest::makeLedger("2025年的帐本.mdb", {{2, {{"(1)2003-5-2", "乙", "开衫", "1", "桐乡", "314500", "30"}}}});
        f.roster->l->list1->addItem(QStringLiteral("2025年的帐本"));
        f.enter();
        Tndtj* g = openGlance(f);
        g->cbcompare->setCurrentIndex(1);
        emit g->cbcompare->activated(1);
        QCOMPARE(f.boxes(), QStringList());
        QTest::qWait(50);

        QTableView* v = g->gridcompare;
        QHeaderView* h = v->horizontalHeader();
        const QFontMetrics fm(h->font());
        const int margin = h->style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, h);
        for (int c = 0; c < h->count(); ++c) {
            const QString title = g->compareModel.headerData(c, Qt::Horizontal, Qt::DisplayRole).toString();
            for (const QString& line : title.split('\n'))
                QVERIFY2(fm.horizontalAdvance(line) + 2 * margin <= h->sectionSize(c),
                         qPrintable(QStringLiteral("%1: %2 px").arg(line).arg(h->sectionSize(c))));
        }
        QVERIFY2(h->height() >= 2 * fm.height(), qPrintable(QString::number(h->height())));
        QCOMPARE(g->compareModel.headerData(2, Qt::Horizontal, Qt::DisplayRole).toString(),
                 QStringLiteral("发货\n(2025年的帐本)"));

        for (QTableView* names : g->gridnames) {
            const QFontMetrics cells(names->font());
            for (int r = 0; r < names->model()->rowCount(); ++r) {
                const QString name = names->model()->index(r, 0).data().toString();
                QVERIFY2(cells.horizontalAdvance(name) <= cellRoom(names, 0),
                         qPrintable(QStringLiteral("%1 in %2 px").arg(name).arg(names->columnWidth(0))));
            }
        }
        // The window's room is shared out: no column is left narrower than its title.
        QTableView* months = g->gridmonth;
        int sum = 0;
        for (int c = 0; c < months->model()->columnCount(); ++c)
            sum += months->columnWidth(c);
        QVERIFY2(sum >= months->viewport()->width() - 1, qPrintable(QString::number(sum)));
    }

    // The month axis shows "日期不明" in full, having the room for it.
    void chartAxisShowsTheUndatedLine() {
        Fixture f;
        addRow("2", {"(1)上个月", "甲", "开衫", "1", "桐乡", "314500", "1000"});
        ship("乙", "5");
        f.enter();
        Tndtj* g = openGlance(f);
        QChart* chart = g->chart1->chart();
        auto* x = qobject_cast<QBarCategoryAxis*>(chart->axes(Qt::Horizontal).value(0));
        QVERIFY(x);
        QCOMPARE(x->categories().last(), QStringLiteral("日期不明"));
        QVERIFY(!x->labelsTruncated());
        const qreal perCategory = chart->plotArea().width() / x->count();
        QVERIFY2(QFontMetricsF(x->labelsFont()).horizontalAdvance(x->categories().last()) < perCategory,
                 qPrintable(QString::number(perCategory)));
    }

    // 导出PDF… draws the chart over the printable area of its A4 page (10 mm
    // margins), with every text of it; the exports' names begin with the ledger's.
    void chartPdfFillsThePageAndNamesCarryTheLedger() {
        if (tsltest::run("pdftoppm -v").status != 0)
            QFAIL("pdftoppm is missing (poppler-utils; scripts/install-deps.sh installs it)");
        Fixture f;
        ship("甲", "100");
        ship("乙", "300");
        f.enter();
        Tndtj* g = openGlance(f);
        const QDir here = QDir::current();
        f.prompter.saveAnswers = {here.filePath("chart.pdf"), here.filePath("names.csv")};
        g->chart1->actions().at(1)->trigger(); // 导出PDF…
        g->tabs->setCurrentWidget(g->tabname);
        g->gridnames[0]->actions().at(1)->trigger(); // 导出CSV…
        const QStringList shown = f.prompter.take();
        QCOMPARE(shown.size(), 2);

        // Every text of the chart is on the page: its title, the legend, the months.
        const std::string text = tsltest::pdfText("chart.pdf");
        for (const char* t : {"每月金额(元)", "发货", "进货", "交货", "收入", "1月", "12月"})
            QVERIFY2(text.find(t) != std::string::npos, t);

        const int dpi = 50;
        const auto r = tsltest::run("pdftoppm -r " + std::to_string(dpi) + " -png -singlefile chart.pdf page");
        QVERIFY2(r.status == 0, r.out.c_str());
        const QImage page("page.png");
        QVERIFY(!page.isNull());
        QVERIFY(page.width() > page.height()); // landscape
        const double mm = dpi / 25.4;
        const QRectF printable(10 * mm, 10 * mm, page.width() - 20 * mm, page.height() - 20 * mm);
        const QRect ink = inked(page);
        const QString where =
            QStringLiteral("%1,%2 %3x%4").arg(ink.x()).arg(ink.y()).arg(ink.width()).arg(ink.height());
        QVERIFY2(printable.adjusted(-2, -2, 2, 2).contains(ink), qPrintable(where));
        // Most of the area, both across and down: the chart is laid out to the page.
        const double across = ink.width() / printable.width(), down = ink.height() / printable.height();
        QVERIFY2(across > 0.85 && down > 0.85, qPrintable(QStringLiteral("%1 x %2").arg(across).arg(down)));
        QVERIFY2(shown[0].endsWith(QStringLiteral("/x-年度统计-图表-2004-05-12.pdf")), qPrintable(shown[0]));
        QVERIFY2(shown[1].endsWith(QStringLiteral("/x-年度统计-按名字-2004-05-12.csv")), qPrintable(shown[1]));
    }

    // Each drop-down of the movement dialogs opens as wide as its longest entry,
    // and its rows are taller than the face's characters.
    void dropDownListsShowLongNamesWhole_data() {
        QTest::addColumn<int>("dialog");
        QTest::addColumn<QString>("box");
        for (int d = 0; d < 3; ++d)
            for (const char* box : {"name", "edzl"})
                QTest::addRow("%d %s", d, box) << d << QString::fromLatin1(box);
    }
    void dropDownListsShowLongNamesWhole() {
        QFETCH(int, dialog);
        QFETCH(QString, box);
        Fixture f;
        QWidget* dialogs[] = {f.roster->fhb.get(), f.roster->jhb.get(), f.roster->zgj.get()};
        QWidget* d = dialogs[dialog];
        DropDown* drop = box == "edzl" ? d->findChild<DropDown*>("edzl")
                                       : d->findChild<DropDown*>(dialog == 1 ? "edly" : "edname");
        QVERIFY(drop);
        drop->addItems({QStringLiteral("王丽"), kLongName, QStringLiteral("嘉兴秀洲区新塍羊毛衫厂")});
        d->show();
        QVERIFY(QTest::qWaitForWindowExposed(d));
        drop->showPopup();
        QAbstractItemView* list = drop->view();
        QVERIFY(QTest::qWaitForWindowExposed(list->window()));
        const QFontMetrics fm(list->font());
        const QRect row = list->visualRect(list->model()->index(1, 0));
        QVERIFY2(fm.horizontalAdvance(kLongName) + 8 <= row.width(), qPrintable(QString::number(row.width())));
        QVERIFY2(fm.height() + 4 <= row.height(),
                 qPrintable(QStringLiteral("%1 in %2").arg(fm.height()).arg(row.height())));
        drop->hidePopup();
        d->close();
    }

    // About names no made-up telephone, address or mailbox, and every line fits the window.
    void aboutHasNoMadeUpContact() {
        Fixture f;
        Tabou& a = *f.roster->abou;
        for (QLabel* l : {a.Label1, a.Label2, a.Label3, a.Label4, a.Label5, a.Label6}) {
            for (const char* made : {"0000000", "example.com", "毛衫路"})
                QVERIFY2(!l->text().contains(QString::fromUtf8(made)), qPrintable(l->text()));
            QVERIFY2(l->geometry().right() < a.width(), qPrintable(l->text()));
        }
        QCOMPARE(a.Label2->text(), QStringLiteral("主页:无"));
        QCOMPARE(QStringList({a.Label4->text(), a.Label5->text(), a.Label6->text()}),
                 QStringList({"程序名:Tessolan", "版本:1.0", "用途:财务管理"}));
    }

    // The progress box's percentage is in plain sight, not under its growing bar.
    void progressPercentageBesideTheBar() {
        Fixture f;
        QStringList labels;
        bool barText = true;
        runWithProgress(f.w, f.prompter, [&](const tsl::out::Progress& progress) {
            auto* box = f.w->findChild<QProgressDialog*>("exportProgress");
            if (!box)
                return tsl::out::Outcome::Cancelled;
            box->show();
            for (int done : {470, 1000}) {
                progress(done, 1000);
                for (QLabel* l : box->findChildren<QLabel*>())
                    labels << l->text();
            }
            auto* bar = box->findChild<QProgressBar*>();
            barText = bar && bar->isTextVisible() && !bar->text().isEmpty();
            return tsl::out::Outcome::Cancelled;
        });
        QVERIFY(!barText);
        QCOMPARE(labels, QStringList({"正在导出… 47%", "正在导出… 99%"}));
    }

    // The report window has two stops, 关闭 and the grid; Tab goes from one to
    // the other both ways, never from cell to cell.
    void reportTabCyclesBetweenCloseAndGrid() {
        Fixture f;
        ship("王丽", "100");
        ship("王丽", "200");
        f.enter();
        f.w->SpeedButton2->click();
        f.w->edjz->setText(QStringLiteral("王丽"));
        f.w->btnjz->click();
        QVERIFY(QTest::qWaitForWindowActive(f.j));
        QWidget* const stops[] = {f.j->Button1, f.j->grid1};
        int at = 0;
        QCOMPARE(f.j->focusWidget(), stops[at]);
        for (Qt::Key key : {Qt::Key_Tab, Qt::Key_Tab, Qt::Key_Backtab, Qt::Key_Backtab}) {
            QTest::keyClick(stops[at], key);
            at ^= 1;
            QCOMPARE(f.j->focusWidget(), stops[at]);
        }
    }
};

QTEST_MAIN(TestWholeText)
#include "tst_wholetext.moc"
