// The report's statements for a period: asked in the period box reached from
// the report grid's right-click menu; the plain commands stay without a box.
#include "tests/export/exporttest.h"
#include "tests/forms/ledgerfixture.h"
#include "forms/periodbox.h"

#include <QDateEdit>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTimer>

#include <filesystem>
#include <functional>

using namespace ledger;

namespace {

QString here(const char* file) { return QString::fromStdString((std::filesystem::current_path() / file).string()); }

void shipOn(const std::string& stamp, const std::string& name, const std::string& amount) {
    addRow("2", {stamp, name, "开衫", "10", "桐乡", "314500", amount});
}

// Answers the period box when it comes up, with `answer`; true once it came.
struct BoxAnswer {
    bool came = false;
    QTimer look;
    explicit BoxAnswer(std::function<void(PeriodBox&)> answer) {
        look.setInterval(20);
        QObject::connect(&look, &QTimer::timeout, [this, answer] {
            if (auto* box = qobject_cast<PeriodBox*>(QApplication::activeModalWidget())) {
                came = true;
                look.stop();
                answer(*box);
            }
        });
        look.start();
    }
};

} // namespace

class TestPeriod : public QObject {
    Q_OBJECT

private slots:
    void periodStatementHoldsOnlyThePeriodsRows() {
        Fixture f; // today is 2004-5-12
        shipOn("(1)2004-3-31", "张三", "1");
        shipOn("(2)2004-4-1", "张三", "20");
        shipOn("(3)2004-4-30", "张三", "300");
        shipOn("(4)四月", "张三", "4000");
        shipOn("(5)2004-5-1", "张三", "50000");
        shipOn("(6)2004-4-9", "李四", "600000");
        f.enter();
        f.w->SpeedButton2->click();
        f.w->edjz->setText("张三");
        f.w->btnjz->click();
        f.prompter.boxes.clear();
        QVERIFY(f.j->isVisible());

        QStringList items;
        for (const QAction* a : f.j->periodExportMenu->actions())
            items << a->text();
        QCOMPARE(f.j->periodPrintAction->text(), "按期间打印对帐单…");
        QCOMPARE(items, (QStringList{"PDF…", "Excel…", "CSV…"}));

        // Cancelled: no save box, nothing written.
        {
            BoxAnswer cancel([](PeriodBox& b) { b.reject(); });
            f.j->periodPdfAction->trigger();
            QVERIFY(cancel.came);
            QVERIFY(f.prompter.boxes.empty());
        }
        // A backwards period cannot be taken.
        {
            bool okEnabled = true;
            QString problem;
            BoxAnswer backwards([&](PeriodBox& b) {
                b.fromEdit->setDate(QDate(2004, 5, 1));
                b.toEdit->setDate(QDate(2004, 4, 1));
                okEnabled = b.okButton->isEnabled();
                problem = b.problem->text();
                b.reject();
            });
            f.j->periodPdfAction->trigger();
            QVERIFY(!okEnabled);
            QCOMPARE(problem, "起日期晚于止日期!");
        }

        // 上月 of 2004-5-12 is April.
        f.prompter.saveAnswers = {here("april.pdf")};
        tsl::Period picked;
        {
            BoxAnswer april([&](PeriodBox& b) {
                b.lastMonthButton->click();
                picked = b.period();
                b.okButton->click();
            });
            f.j->periodPdfAction->trigger();
        }
        QCOMPARE(picked, (tsl::Period{tsl::Date{2004, 4, 1}, tsl::Date{2004, 4, 30}}));
        QCOMPARE(f.prompter.boxes.size(), std::size_t(1));
        QVERIFY2(f.prompter.boxes[0].text.endsWith("/x-发货-张三-对帐单-2004年4月1日 至 2004年4月30日-2004-05-12.pdf"),
                 qPrintable(f.prompter.boxes[0].text));

        std::string words;
        for (const auto& page : tsltest::pdfWords("april.pdf"))
            for (const auto& w : page)
                words += w.text + " ";
        for (const char* want : {"期间:", "2004年4月1日", "(2)2004-4-1", "(3)2004-4-30", "日期无法识别的记录(未计入合计)",
                                 "(4)四月", "合计金额:", "320元"})
            QVERIFY2(words.find(want) != std::string::npos, (std::string(want) + "\n" + words).c_str());
        for (const char* gone : {"(1)2004-3-31", "(5)2004-5-1", "李四", "50000", "600000"})
            QVERIFY2(words.find(gone) == std::string::npos, gone);

        // The box offers the period last taken; 全部 gives the statement the plain command gives.
        f.prompter.boxes.clear();
        f.prompter.saveAnswers = {here("all.csv"), here("plain.csv")};
        tsl::Period offered;
        {
            BoxAnswer all([&](PeriodBox& b) {
                offered = b.period();
                b.allButton->click();
                b.okButton->click();
            });
            f.j->periodCsvAction->trigger();
        }
        QCOMPARE(offered, picked);
        f.j->csvAction->trigger(); // no box: straight to the save box
        QCOMPARE(f.prompter.boxes.size(), std::size_t(2));
        QCOMPARE(tsltest::readFile("all.csv"), tsltest::readFile("plain.csv"));
        QVERIFY(tsltest::readFile("plain.csv").find("54321") != std::string::npos);
    }

    // A period holding none of the name's rows is refused in words, nothing written.
    void emptyPeriodRefused() {
        Fixture f;
        shipOn("(1)2004-5-2", "张三", "5");
        f.enter();
        f.w->SpeedButton2->click();
        f.w->edjz->setText("张三");
        f.w->btnjz->click();
        f.prompter.boxes.clear();
        BoxAnswer march([](PeriodBox& b) {
            b.setPeriod({tsl::Date{2004, 3, 1}, tsl::Date{2004, 3, 31}});
            b.okButton->click();
        });
        f.j->periodXlsxAction->trigger();
        QCOMPARE(f.boxes(), QStringList{"所选期间内没有这个人或厂家的记录!"});
    }
};

QTEST_MAIN(TestPeriod)
#include "tst_period.moc"
