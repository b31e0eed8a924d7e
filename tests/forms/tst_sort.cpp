// The workspace grid sorted by a click on a column title, alone and with the find
// bar: only the view changes, and the commands act on the row the user sees.
#include "tests/forms/ledgerfixture.h"

#include "forms/findbar.h"
#include "forms/khlx.h"
#include "forms/shownrows.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>

using namespace ledger;

namespace {

constexpr int kName = 1, kAmount = 6; // shipment book
constexpr int kStamp = 0;

// The texts of one column as the grid shows them, top to bottom.
QStringList shown(Fixture& d, int col) {
    QCoreApplication::processEvents(); // a re-sort waits for the command to end
    QStringList out;
    const QAbstractItemModel* m = d.w->grid1->model();
    for (int r = 0; r < m->rowCount(); ++r)
        out << m->index(r, col).data().toString();
    return out;
}

void clickTitle(Fixture& d, int section) {
    QHeaderView* h = d.w->grid1->horizontalHeader();
    const QPoint at(h->sectionViewportPosition(section) + h->sectionSize(section) / 2, h->height() / 2);
    QTest::mouseClick(h->viewport(), Qt::LeftButton, {}, at);
}

// The header's arrow: section and order, or -1 without one.
QString arrow(Fixture& d) {
    QHeaderView* h = d.w->grid1->horizontalHeader();
    if (h->sortIndicatorSection() < 0 || h->sortIndicatorSection() >= h->count())
        return QStringLiteral("-1");
    return QString::number(h->sortIndicatorSection()) +
           (h->sortIndicatorOrder() == Qt::AscendingOrder ? QStringLiteral("up") : QStringLiteral("down"));
}

// A shipment book in a shown workspace.
struct Shipments : Fixture {
    Shipments() : Fixture(tsl::table::shipments) {
        for (const auto& [stamp, name, amount] :
             std::vector<std::array<std::string, 3>>{{"(10)2004-5-1", "张三", "500"},
                                                     {"(2)2004-5-2", "阿明", "-3"},
                                                     {"(3)2004-5-3", "Bob", "abc"},
                                                     {"(1)2004-5-4", "波波", "12"},
                                                     {"(11)2004-5-5", "张三", "$10"}})
            addRow("2", {stamp, name, "开衫", "10", "桐乡", "314500", amount});
        open(tsl::table::shipments);
        w->show();
        QVERIFY2(QTest::qWaitForWindowExposed(w), "the workspace did not show");
        QCoreApplication::processEvents();
        prompter.boxes.clear(); // the workspace's own complaint about "abc" as it shows
    }
};

} // namespace

class TestSort : public QObject {
    Q_OBJECT

private slots:
    void titleClicksSortUpDownThenStored_data() {
        QTest::addColumn<int>("col");
        QTest::addColumn<QStringList>("up");
        QTest::addColumn<QStringList>("down");
        // Texts that are no number, and dates without a serial, come last both ways.
        QTest::newRow("amount") << kAmount << QStringList{"-3", "12", "$10", "500", "abc"}
                                << QStringList{"500", "$10", "12", "-3", "abc"};
        QTest::newRow("stamp") << kStamp
                               << QStringList{"(1)2004-5-4", "(2)2004-5-2", "(3)2004-5-3", "(10)2004-5-1", "(11)2004-5-5"}
                               << QStringList{"(11)2004-5-5", "(10)2004-5-1", "(3)2004-5-3", "(2)2004-5-2", "(1)2004-5-4"};
        QTest::newRow("name") << kName << QStringList{"阿明", "波波", "张三", "张三", "Bob"}
                              << QStringList{"Bob", "张三", "张三", "波波", "阿明"};
    }
    void titleClicksSortUpDownThenStored() {
        QFETCH(int, col);
        QFETCH(QStringList, up);
        QFETCH(QStringList, down);
        Shipments d;
        const QStringList stored = shown(d, col);
        const QStringList file = rows(tsl::table::shipments);
        clickTitle(d, col);
        QCOMPARE(shown(d, col), up);
        QCOMPARE(arrow(d), QString::number(col) + "up");
        clickTitle(d, col);
        QCOMPARE(shown(d, col), down);
        QCOMPARE(arrow(d), QString::number(col) + "down");
        clickTitle(d, col);
        QCOMPARE(shown(d, col), stored);
        QCOMPARE(arrow(d), QStringLiteral("-1"));
        QCOMPARE(rows(tsl::table::shipments), file); // the book and its serials as they were
        QCOMPARE(d.boxes().join('/'), QString());
    }

    void anotherTitleStartsUpAnotherBookUnsorted() {
        Shipments d;
        clickTitle(d, kAmount);
        clickTitle(d, kAmount);
        clickTitle(d, kStamp);
        QCOMPARE(arrow(d), QStringLiteral("0up"));
        d.w->SpeedButton1->click(); // the customer book
        QCOMPARE(arrow(d), QStringLiteral("-1"));
        d.w->SpeedButton2->click();
        QCOMPARE(shown(d, kAmount), (QStringList{"500", "-3", "abc", "12", "$10"}));
        d.w->SpeedButton3->click(); // empty: its blank line stays, sorted or not
        clickTitle(d, 4);
        QCOMPARE(arrow(d), QStringLiteral("4up"));
        QCOMPARE(shown(d, 0), QStringList{QString()});
    }

    // The row clicked in a sorted grid is the one edited and deleted; an added
    // row takes its place in the order and is the current one.
    void commandsActOnTheRowShownWhileSorted() {
        Fixture d(tsl::table::customers);
        for (const char* n : {"张三", "阿明", "赵六", "波波"})
            customer(n);
        d.open(tsl::table::customers);
        d.w->show();
        QVERIFY(QTest::qWaitForWindowExposed(d.w));
        clickTitle(d, 0);
        QCOMPARE(shown(d, 0), (QStringList{"阿明", "波波", "张三", "赵六"}));

        Tkhl& k = *d.roster->khl;
        d.clickCell(1, 0); // 波波, stored fourth
        QCOMPARE(d.w->table1.currentRow(), 3);
        d.w->btneditClick();
        k.edname->setText("陈七");
        k.btn->click();
        QCOMPARE(d.boxes(), QStringList());
        QCOMPARE(column(tsl::table::customers), (QStringList{"张三", "阿明", "赵六", "陈七"}));
        QCOMPARE(shown(d, 0), (QStringList{"阿明", "陈七", "张三", "赵六"})); // sorted again
        QCOMPARE(d.viewRow(), 1);

        d.w->table1.moveTo(1); // 阿明
        d.w->table1.edit();
        d.w->table1.setField(tsl::field::custName, "赵二");
        d.w->table1.post();
        QCOMPARE(shown(d, 0), (QStringList{"陈七", "张三", "赵二", "赵六"}));
        QCOMPARE(d.viewRow(), 2);
        d.w->table1.edit();
        d.w->table1.setField(tsl::field::custName, "阿明");
        d.w->table1.post();
        QCOMPARE(shown(d, 0), (QStringList{"阿明", "陈七", "张三", "赵六"}));

        d.clickCell(2, 0); // 张三, stored first
        d.prompter.yesNoAnswers = {true};
        d.w->btndelClick();
        QCOMPARE(column(tsl::table::customers), (QStringList{"阿明", "赵六", "陈七"}));
        QCOMPARE(shown(d, 0), (QStringList{"阿明", "陈七", "赵六"}));

        d.w->btnaddClick();
        k.edname->setText("宾");
        k.btn->click();
        QCOMPARE(d.boxes(), QStringList{"真的要删除该资料吗!"});
        QCOMPARE(column(tsl::table::customers), (QStringList{"阿明", "赵六", "陈七", "宾"}));
        QCOMPARE(shown(d, 0), (QStringList{"阿明", "宾", "陈七", "赵六"}));
        QCOMPARE(d.w->table1.currentRow(), 3);
        QCOMPARE(d.viewRow(), 1);
        QCOMPARE(arrow(d), QStringLiteral("0up"));
    }

    // Found and sorted: the rows found in the order of the title; F3 follows the
    // grid; a delete takes the row shown; closing the bar keeps the order.
    void foundAndSorted() {
        Shipments d;
        d.w->findBar->open();
        d.w->findBar->edFind->setText(QStringLiteral("张三"));
        QCOMPARE(shown(d, kAmount), (QStringList{"500", "$10"}));
        clickTitle(d, kAmount);
        QCOMPARE(shown(d, kAmount), (QStringList{"$10", "500"}));
        d.w->findBar->edFind->setText(QStringLiteral("2004"));
        QCOMPARE(shown(d, kAmount), (QStringList{"-3", "12", "$10", "500", "abc"}));
        d.w->findBar->cbFindFilter->setChecked(false); // step through the rows found instead
        d.w->findBar->edFind->setText(QStringLiteral("2004"));
        QCOMPARE(shown(d, kAmount), (QStringList{"-3", "12", "$10", "500", "abc"}));
        d.clickCell(0, kAmount); // -3
        d.w->findBar->step(true);
        QCOMPARE(d.w->table1.fieldText(kAmount), std::string("12")); // the next line, not the next stored row
        d.w->findBar->step(true);
        QCOMPARE(d.w->table1.fieldText(kAmount), std::string("$10"));
        d.w->findBar->step(false);
        QCOMPARE(d.w->table1.fieldText(kAmount), std::string("12"));
        d.w->findBar->step(false);
        d.w->findBar->step(false);
        QCOMPARE(d.w->table1.fieldText(kAmount), std::string("abc")); // round the end
        d.w->findBar->edFind->setText(QStringLiteral("张三"));
        d.w->findBar->cbFindFilter->setChecked(true);
        QCOMPARE(shown(d, kAmount), (QStringList{"$10", "500"}));
        d.clickCell(1, kAmount);
        d.prompter.yesNoAnswers = {true};
        d.w->btndelClick();
        QCOMPARE(column(tsl::table::shipments, tsl::field::amount), (QStringList{"-3", "abc", "12", "$10"}));
        QCOMPARE(shown(d, kAmount), (QStringList{"$10"}));
        d.w->findBar->close();
        QCOMPARE(shown(d, kAmount), (QStringList{"-3", "12", "$10", "abc"}));
        QCOMPARE(arrow(d), QStringLiteral("6up"));
    }

    // The workspace closed with the bar open and the grid sorted: its cursor goes
    // before its children, and nothing of theirs may still watch it.
    void closedWhileFoundAndSorted() {
        for (int round = 0; round < 2; ++round) {
            Shipments d;
            d.w->findBar->open();
            d.w->findBar->edFind->setText(QStringLiteral("张三"));
            clickTitle(d, kAmount);
            QCOMPARE(shown(d, kAmount), (QStringList{"$10", "500"}));
        }
    }
};

QTEST_MAIN(TestSort)
#include "tst_sort.moc"
