// Settlement from the workspace and the settlement report window.
#include "tests/forms/ledgerfixture.h"

#include "export/ledger.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

using namespace ledger;

namespace {

// The data rows of the report grid, each as "cell|cell|...".
QStringList reportRows(const StringGrid& g) {
    QStringList out;
    for (int r = 1; r < g.rowCount(); ++r) {
        QStringList cells;
        for (int c = 0; c < g.colCount(); ++c)
            cells << g.cell(c, r);
        out << cells.join(QLatin1Char('|'));
    }
    return out;
}

QStringList headerRow(const StringGrid& g) {
    QStringList out;
    for (int c = 0; c < g.colCount(); ++c)
        out << g.cell(c, 0);
    return out;
}

void settle(Fixture& f, const QString& name) {
    f.w->edjz->setText(name);
    f.w->btnjz->click();
}

} // namespace

class TestSettlement : public QObject {
    Q_OBJECT

private slots:
    // Wider or narrower, every cell inside the grid keeps its own text.
    void gridKeepsCellsWhenReshaped() {
        StringGrid g(nullptr);
        g.setColCount(3);
        g.setRowCount(3);
        for (int r = 0; r < 3; ++r)
            for (int c = 0; c < 3; ++c)
                g.setCell(c, r, QStringLiteral("%1%2").arg(c).arg(r));
        g.setColCount(4);
        g.setCell(3, 2, QStringLiteral("新"));
        QCOMPARE(reportRows(g), (QStringList{"01|11|21|", "02|12|22|新"}));
        g.setColCount(2);
        g.setRowCount(2);
        QCOMPARE(headerRow(g), (QStringList{"00", "10"}));
        QCOMPARE(reportRows(g), (QStringList{"01|11"}));
        QCOMPARE(g.cell(2, 1), QString()); // outside the grid
        QCOMPARE(g.model()->rowCount(), 1); // the first row is the title row
        QCOMPARE(g.model()->columnCount(), 2);
    }

    void emptyNameAndCustomerBook() {
        Fixture f;
        customer("张三");
        ship("张三", "5");
        f.enter();
        QCOMPARE(f.j->laje->text(), "0元");
        QVERIFY(f.j->windowFlags() & Qt::WindowStaysOnTopHint);
        settle(f, QString());
        QCOMPARE(f.prompter.take(), QStringList{"结帐条件必须是某个人的姓名或某个厂名!"});

        const int row = f.w->table1.currentRow();
        settle(f, "张三"); // customer book: nothing at all
        QVERIFY(f.prompter.boxes.empty());
        QVERIFY(!f.j->isVisible());
        QCOMPARE(f.j->grid1->colCount(), 6);
        QCOMPARE(f.w->table1.currentRow(), row);

        f.w->SpeedButton2->click();
        settle(f, QString());
        QCOMPARE(f.prompter.take(), QStringList{"结帐条件必须是某个人的姓名或某个厂名!"});
        QVERIFY(!f.j->isVisible());
    }

    void matchesAreExactOnPositionOneOnly() {
        Fixture f;
        ship("张三", "100", "开衫");
        ship(" 张三", "1");
        ship("张三 ", "2");
        ship("张三三", "4");
        ship("李四", "8", "张三"); // the name in another field
        ship("张三", "-30", "套衫");
        ship("Ann", "16");
        ship("ann", "32");
        f.enter();
        f.w->SpeedButton2->click();

        settle(f, "张三");
        QVERIFY(f.prompter.boxes.empty());
        StringGrid& g = *f.j->grid1;
        QCOMPARE(headerRow(g), QStringList({"日期", "客户姓名", "毛衫种类", "数量", "发货地点", "邮编", "总金额"}));
        QCOMPARE(reportRows(g), QStringList({"(1)2004-5-12|张三|开衫|10|桐乡|314500|100",
                                             "(1)2004-5-12|张三|套衫|10|桐乡|314500|-30"}));
        QCOMPARE(f.j->laje->text(), "70元");
        QVERIFY(f.j->isVisible());
        QCOMPARE(f.j->keptName(), "张三");
        // The workspace is usable again and stands on the book's last row.
        QVERIFY(f.w->grid1->isEnabled());
        QCOMPARE(f.w->table1.currentRow(), 7);
        QCOMPARE(f.viewRow(), 7);

        f.j->close();
        settle(f, "ann");
        QCOMPARE(reportRows(*f.j->grid1), QStringList{"(1)2004-5-12|ann|开衫|10|桐乡|314500|32"});
        QCOMPARE(f.j->laje->text(), "32元");
        f.j->close();
        settle(f, " 张三");
        QCOMPARE(f.j->laje->text(), "1元");
    }

    void enterInTheBoxSettles() {
        Fixture f;
        buy("纱厂", "0");
        f.enter();
        f.w->SpeedButton3->click();
        f.w->edjz->setFocus();
        typeText(f.w->edjz, "纱厂");
        QCOMPARE(f.w->edjz->text(), "纱厂");
        QTest::keyClick(f.w->edjz, Qt::Key_Return);
        QVERIFY(f.j->isVisible());
        QCOMPARE(f.j->laje->text(), "0元"); // a single match of 0 still reports
        QCOMPARE(f.j->grid1->colCount(), 5);
        QCOMPARE(reportRows(*f.j->grid1), QStringList{"(1)2004-5-12|纱厂|羊毛纱|5|0"});
    }

    void noMatchShowsNoReport() {
        Fixture f;
        deliver("小王", "2147483647");
        deliver("小王", "2147483647");
        deliver("小王", "2");
        f.enter();
        f.w->SpeedButton3->click(); // empty book
        settle(f, "小王");
        QCOMPARE(f.prompter.take(), QStringList{"没有符合结帐条件的人或厂家!"});
        QVERIFY(!f.j->isVisible());

        f.w->SpeedButton4->click();
        settle(f, "小李");
        QCOMPARE(f.prompter.take(), QStringList{"没有符合结帐条件的人或厂家!"});
        QVERIFY(!f.j->isVisible());
        // The grid got the book's header row and nothing more.
        QCOMPARE(headerRow(*f.j->grid1), QStringList({"日期", "交货人", "交货种类", "交货总数", "总金额"}));
        QCOMPARE(f.j->grid1->rowCount(), 2);
        QVERIFY(f.w->grid1->isEnabled());

        settle(f, "小王"); // the total goes past the 32-bit range
        QCOMPARE(f.j->laje->text(), "4294967296元");
    }

    void badAmountCountsOnlyInAMatchingRow() {
        Fixture f;
        ship("张三", "10");
        ship("李四", "12.5");
        ship("张三", "20");
        ship("张三", "abc");
        ship("张三", "40");
        f.enter();
        f.w->SpeedButton2->click();
        QCOMPARE(f.prompter.take(), QStringList{"'12.5' is not a valid integer value."});

        settle(f, "李四三"); // no match: 12.5 is never converted
        QCOMPARE(f.prompter.take(), QStringList{"没有符合结帐条件的人或厂家!"});

        settle(f, "张三");
        QCOMPARE(f.prompter.take(), QStringList{"'abc' is not a valid integer value."});
        QVERIFY(!f.j->isVisible());
        QVERIFY(f.w->grid1->isEnabled());
        QCOMPARE(f.w->table1.currentRow(), 3); // the failing row
        QCOMPARE(f.viewRow(), 3);
        QCOMPARE(reportRows(*f.j->grid1).size(), 3); // two matches and the empty row to come

        // Corrected, the next settlement shows exactly its own rows.
        execSql("UPDATE \"2\" SET \"总金额\" = '30' WHERE \"总金额\" = 'abc'");
        execSql("UPDATE \"2\" SET \"总金额\" = '5' WHERE \"总金额\" = '12.5'");
        f.w->SpeedButton2->click();
        settle(f, "张三");
        QVERIFY(f.prompter.boxes.empty());
        QCOMPARE(reportRows(*f.j->grid1).size(), 4);
        QCOMPARE(f.j->laje->text(), "100元");
    }

    void everySettlementListsOnlyItsOwnRows() {
        Fixture f;
        ship("张三", "10");
        ship("李四", "20");
        ship("张三", "30");
        ship("李四", "oops");
        f.enter();
        f.w->SpeedButton2->click();
        f.prompter.take();

        settle(f, "张三");
        QVERIFY(f.j->isVisible());
        QCOMPARE(f.j->laje->text(), "40元");

        // While the first report is still open.
        clear("2");
        ship("王五", "7");
        ship("张三", "1");
        f.w->SpeedButton2->click();
        settle(f, "王五");
        QVERIFY(f.j->isVisible());
        QCOMPARE(reportRows(*f.j->grid1), QStringList{"(1)2004-5-12|王五|开衫|10|桐乡|314500|7"});
        QCOMPARE(f.j->laje->text(), "7元");

        // The report has the focus on its close button.
        QCOMPARE(f.j->focusWidget(), f.j->Button1);

        // A settlement that shows nothing takes the rewritten report down with
        // it, before the message shows.
        bool reportUpBehindTheMessage = true;
        f.prompter.onMessage = [&](const QString&) { reportUpBehindTheMessage = f.j->isVisible(); };
        settle(f, "无名");
        f.prompter.onMessage = nullptr;
        QCOMPARE(f.prompter.take(), QStringList{"没有符合结帐条件的人或厂家!"});
        QVERIFY(!reportUpBehindTheMessage);
        QVERIFY(!f.j->isVisible());

        // After one that ended on an error, the next report is whole and alone.
        clear("2");
        ship("张三", "10");
        ship("李四", "20");
        ship("李四", "oops");
        f.w->SpeedButton2->click();
        f.prompter.take();
        settle(f, "李四");
        QCOMPARE(f.prompter.take(), QStringList{"'oops' is not a valid integer value."});
        settle(f, "张三");
        QCOMPARE(reportRows(*f.j->grid1), QStringList{"(1)2004-5-12|张三|开衫|10|桐乡|314500|10"});
        QCOMPARE(f.j->laje->text(), "10元");
    }

    void closingResetsTheGridAndTheHintFollowsTheSelection() {
        Fixture f;
        ship("张三", "10", "开衫");
        ship("张三", "20", "套衫");
        buy("纱厂", "3");
        f.enter();
        f.w->SpeedButton2->click();
        settle(f, "张三");
        StringGrid& g = *f.j->grid1;
        QVERIFY(g.toolTip().isEmpty());

        const QModelIndex second = g.model()->index(1, 2);
        QTest::mouseClick(g.viewport(), Qt::LeftButton, {}, g.visualRect(second).center());
        QCOMPARE(g.toolTip(), QStringLiteral("日期:(1)2004-5-12\n客户姓名:张三\n毛衫种类:套衫\n数量:10\n发货地点:桐乡\n"
                                             "邮编:314500\n总金额:20\n"));
        QTest::keyClick(&g, Qt::Key_Up);
        QVERIFY(g.toolTip().contains("毛衫种类:开衫\n"));

        f.j->Button1->click();
        QVERIFY(!f.j->isVisible());
        QCOMPARE(g.rowCount(), 2);
        QCOMPARE(g.colCount(), 1);
        QCOMPARE(f.j->laje->text(), "30元"); // left as it was

        f.w->SpeedButton3->click();
        settle(f, "纱厂");
        QCOMPARE(headerRow(g), QStringList({"日期", "货物来源", "货物种类", "货物数目", "总金额"}));
        f.j->close(); // the close box does the same
        QCOMPARE(g.rowCount(), 2);
        QCOMPARE(g.colCount(), 1);
    }

    // Full-width forms, NULL and empty names and gaps in the rowids: a settlement
    // lists exactly the rows whose name is the one typed, in their order.
    void matchesSeeNoFormsNullsOrGaps() {
        Fixture f;
        ship("ＡＢＣ", "1");
        ship("ABC", "2");
        ship("", "4");
        ship("gone", "8");
        execSql("INSERT INTO \"2\" VALUES ('(1)2004-5-12', NULL, '开衫', '10', '桐乡', '314500', '16')");
        ship("ABC", "32");
        execSql("DELETE FROM \"2\" WHERE \"客户姓名\" = 'gone'");
        f.enter();
        f.w->SpeedButton2->click();
        settle(f, "ABC");
        QCOMPARE(f.prompter.take(), QStringList());
        QCOMPARE(reportRows(*f.j->grid1),
                 (QStringList{"(1)2004-5-12|ABC|开衫|10|桐乡|314500|2", "(1)2004-5-12|ABC|开衫|10|桐乡|314500|32"}));
        QCOMPARE(f.j->laje->text(), "34元");
        QCOMPARE(f.w->table1.currentRow(), 4);
        f.j->close();
        settle(f, "ＡＢＣ");
        QCOMPARE(f.j->laje->text(), "1元");
    }

    // A name column declared without letter case: the report, its statement and
    // the export's reading of the file list the same rows, exactly the bytes typed.
    void nocaseColumnSettlesByBytesInTheReportItsStatementAndTheExport() {
        Fixture f;
        execSql("DROP TABLE \"2\"; CREATE TABLE \"2\" (\"日期\" TEXT, \"客户姓名\" TEXT COLLATE NOCASE,"
                " \"毛衫种类\" TEXT, \"数量\" TEXT, \"发货地点\" TEXT, \"邮编\" TEXT, \"总金额\" TEXT);");
        ship("abc", "10", "开衫");
        ship("ABC", "20");
        ship("Abc", "40");
        ship("abc", "80", "套衫");
        f.enter();
        f.w->SpeedButton2->click();
        settle(f, "abc");
        QVERIFY(f.prompter.boxes.empty());
        const QStringList shown = reportRows(*f.j->grid1);
        QCOMPARE(shown, QStringList({"(1)2004-5-12|abc|开衫|10|桐乡|314500|10",
                                     "(1)2004-5-12|abc|套衫|10|桐乡|314500|80"}));
        QCOMPARE(f.j->laje->text(), "90元");

        const tsl::out::Statement s = f.j->statement();
        QCOMPARE(s.book, 2);
        QCOMPARE(s.total, 90);
        QStringList stated;
        for (const auto& r : s.table.rows) {
            QStringList cells;
            for (const auto& c : r)
                cells << QString::fromStdString(c);
            stated << cells.join(QLatin1Char('|'));
        }
        QCOMPARE(stated, shown);

        tsl::out::LedgerFile file(kFile);
        const tsl::out::Statement read =
            tsl::out::readStatement(file.engine(), file.name(), *tsl::out::findBook(2), "abc", "d");
        QCOMPARE(read.total, 90);
        QVERIFY(read.table.rows == s.table.rows);

        // Closed, the report keeps no statement.
        f.j->close();
        bool refused = false;
        try {
            (void)f.j->statement();
        } catch (const std::exception& e) {
            refused = QString::fromUtf8(e.what()) == "报表里没有结帐的结果.";
        }
        QVERIFY(refused);
    }
};

QTEST_MAIN(TestSettlement)
#include "tst_settlement.moc"
