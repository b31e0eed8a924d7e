// The overall report (总体报表) over the four books.
#include "tests/forms/ledgerfixture.h"

using namespace ledger;

namespace {

QString report(Fixture& f) {
    f.prompter.boxes.clear();
    f.w->SpeedButton5->click();
    if (f.prompter.boxes.size() != 1 || f.prompter.boxes[0].kind != ScriptedPrompter::Kind::Message)
        return QStringLiteral("<no single message: %1>").arg(f.prompter.texts().join(QLatin1Char('/')));
    return f.prompter.take().front();
}

QString lastLine(const QString& text) { return text.section(QStringLiteral("\n\n"), -1); }

} // namespace

class TestReport : public QObject {
    Q_OBJECT

private slots:
    void emptyLedgerReportsNothingDone() {
        Fixture f;
        f.enter();
        QCOMPARE(report(f),
                 QStringLiteral("         总体报表\n\n现在总有客户:0个\n\n现在总共发货次数为:0次\n\n发货总收为:0元\n\n"
                                "现在总共进货次数为:0次\n\n进货总付出:0元\n\n现在职工总共交货次数为:0次\n\n"
                                "应付职工的钱为:0元\n\n今年的总收入为:0元\n\n★看样子今年是白忙了一年了!☆"));
    }

    void fullTextOfAFilledLedger() {
        Fixture f;
        customer("甲");
        customer("乙");
        customer("甲");
        ship("甲", "50000");
        ship("乙", "-100");
        buy("纱厂", "3000");
        buy("辅料厂", "900");
        buy("商标厂", "100");
        deliver("小王", "1200");
        f.enter();
        f.w->SpeedButton2->click();
        f.w->table1.moveTo(1);
        const QString status = f.status();

        QCOMPARE(
            report(f),
            QStringLiteral("         总体报表\n\n现在总有客户:3个\n\n现在总共发货次数为:2次\n\n发货总收为:49900元\n\n"
                           "现在总共进货次数为:3次\n\n进货总付出:4000元\n\n现在职工总共交货次数为:1次\n\n"
                           "应付职工的钱为:1200元\n\n今年的总收入为:44700元\n\n★今年是个丰收年,发了!☆"));
        // The shown book is left alone.
        QCOMPARE(f.w->viewNumber(), QStringLiteral("2"));
        QCOMPARE(f.w->table1.currentRow(), 1);
        QCOMPARE(f.viewRow(), 1);
        QCOMPARE(f.status(), status);
    }

    void verdictBoundaries_data() {
        QTest::addColumn<QString>("shipped");
        QTest::addColumn<QString>("verdict");
        // purchases 1000 and deliveries 500 are taken off what was shipped
        QTest::newRow("40000") << "41500" << QStringLiteral("今年是个丰收年,发了!");
        QTest::newRow("39999") << "41499" << QStringLiteral("虽然赚得不多,但也是辛苦钱吗!");
        QTest::newRow("1") << "1501" << QStringLiteral("虽然赚得不多,但也是辛苦钱吗!");
        QTest::newRow("0") << "1500" << QStringLiteral("看样子今年是白忙了一年了!");
        QTest::newRow("-1") << "1499" << QStringLiteral("今年真倒霉,忙了一年,还要赔钱!");
    }

    void verdictBoundaries() {
        QFETCH(QString, shipped);
        QFETCH(QString, verdict);
        Fixture f;
        ship("甲", shipped.toStdString());
        buy("纱厂", "1000");
        deliver("小王", "500");
        f.enter();
        const QString text = report(f);
        QCOMPARE(lastLine(text), QStringLiteral("★") + verdict + QStringLiteral("☆"));
        const qint64 income = shipped.toLongLong() - 1500;
        QVERIFY2(text.contains(QStringLiteral("\n\n今年的总收入为:%1元\n\n").arg(income)), qPrintable(text));
    }

    void totalsAndIncomePastTheIntRange() {
        Fixture f;
        ship("甲", "2147483647");
        ship("乙", "2147483647");
        buy("纱厂", "-2147483648");
        deliver("小王", "0x7FFFFFFF");
        f.enter();
        const QStringList lines = report(f).split(QStringLiteral("\n\n"));
        QCOMPARE(lines.size(), 10);
        QCOMPARE(lines[3], QStringLiteral("发货总收为:4294967294元"));
        QCOMPARE(lines[5], QStringLiteral("进货总付出:-2147483648元"));
        QCOMPARE(lines[7], QStringLiteral("应付职工的钱为:2147483647元"));
        QCOMPARE(lines[8], QStringLiteral("今年的总收入为:4294967295元"));
        QCOMPARE(lines[9], QStringLiteral("★今年是个丰收年,发了!☆"));
    }

    void badAmountStopsTheReport() {
        Fixture f;
        ship("甲", "10");
        buy("纱厂", "1");
        buy("纱厂", "1 ");
        deliver("小王", "x");
        f.enter();
        f.w->SpeedButton5->click();
        QCOMPARE(f.prompter.take(), QStringList{QStringLiteral("'1 ' is not a valid integer value.")});
        // The report reads through table2 only, which stays on the failing row.
        QCOMPARE(f.w->table2.tableName(), std::string("3"));
        QCOMPARE(f.w->table2.currentRow(), 1);
        QCOMPARE(f.w->viewNumber(), QStringLiteral("1"));

        execSql("UPDATE \"3\" SET \"总金额\" = '2' WHERE \"总金额\" = '1 '");
        f.w->SpeedButton5->click();
        QCOMPARE(f.prompter.take(), QStringList{QStringLiteral("'x' is not a valid integer value.")});
    }
};

QTEST_MAIN(TestReport)
#include "tst_report.moc"
