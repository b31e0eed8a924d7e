// The export commands on the right-click menus of the report grid and the
// workspace grid, with the files they write read back.
#include "exporttest.h"
#include "ledgerfixture.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPrintPreviewDialog>
#include <QPrintPreviewWidget>
#include <QProgressDialog>
#include <QTimer>

#include <filesystem>

using namespace ledger;

namespace {

QStringList actionTexts(const QMenu* m) {
    QStringList out;
    for (const QAction* a : m->actions())
        out << a->text();
    return out;
}

void settle(Fixture& f, const QString& name) {
    f.w->edjz->setText(name);
    f.w->btnjz->click();
}

QString here(const char* file) { return QString::fromStdString((std::filesystem::current_path() / file).string()); }

std::vector<std::vector<std::string>> csvRows(const char* file) {
    const auto rows = tsltest::parseQuotedCsv(tsltest::readFile(file));
    if (!rows)
        qFatal("%s is not quoted csv", file);
    return *rows;
}

// Right-clicks a grid and returns the menu that came up.
void rightClick(QAbstractItemView* grid) {
    QContextMenuEvent ev(QContextMenuEvent::Mouse, QPoint(20, 20), grid->viewport()->mapToGlobal(QPoint(20, 20)));
    QApplication::sendEvent(grid->viewport(), &ev);
}

} // namespace

class TestExportMenu : public QObject {
    Q_OBJECT

private slots:
    void reportMenuWritesTheStatement() {
        Fixture f;
        ship("张三", "12000", "开衫");
        ship("李四", "7");
        ship("张三", "50", "套衫, \"厚\"");
        f.enter();
        f.w->SpeedButton2->click();
        settle(f, "张三");
        QVERIFY(f.j->isVisible());
        f.prompter.boxes.clear();

        rightClick(f.j->grid1);
        QVERIFY(f.j->grid1Menu->isVisible());
        QCOMPARE(actionTexts(f.j->grid1Menu), (QStringList{"打印对帐单…", "导出PDF…", "导出Excel…", "导出CSV…"}));
        f.j->grid1Menu->close();

        // A cancelled save box writes nothing.
        f.j->csvAction->trigger();
        QCOMPARE(f.prompter.boxes.size(), std::size_t(1));
        const auto& save = f.prompter.boxes[0];
        QCOMPARE(save.kind, ScriptedPrompter::Kind::Save);
        QVERIFY2(save.text.endsWith("/x-发货-张三-对帐单-2004-05-12.csv"), qPrintable(save.text));
        QVERIFY(save.caption.startsWith("导出CSV|"));
        f.prompter.boxes.clear();

        f.prompter.saveAnswers = {here("st.csv"), here("st"), here("st.xlsx")};
        f.j->csvAction->trigger();
        f.j->pdfAction->trigger(); // no extension typed: .pdf is added
        f.j->xlsxAction->trigger();
        QCOMPARE(f.prompter.texts().size(), 3); // the three save boxes, no error

        const auto csv = csvRows("st.csv");
        QCOMPARE(int(csv.size()), 4);
        QCOMPARE(QString::fromStdString(csv[2][2]), "套衫, \"厚\"");
        QCOMPARE(QString::fromStdString(csv[3][0]), "合计");
        QCOMPARE(QString::fromStdString(csv[3][1]), "壹万贰仟零伍拾元整");
        QCOMPARE(QString::fromStdString(csv[3][6]), "12050");

        const QString pdf = QString::fromStdString(tsltest::pdfText("st.pdf"));
        for (const char* want : {"帐本: x", "帐簿: 发货", "客户: 张三", "打印日期: 2004年5月12日", "合计金额: 12050元",
                                 "壹万贰仟零伍拾元整", "第 1 页 / 共 1 页"})
            QVERIFY2(pdf.contains(QString::fromUtf8(want)), want);
        QVERIFY(!pdf.contains("李四"));

        const auto sheet = tsltest::readXlsx("st.xlsx");
        QVERIFY(sheet.cells.at("G2").number);
        QCOMPARE(QString::fromStdString(sheet.cells.at("B3").text), "张三");
        QCOMPARE(QString::fromStdString(sheet.cells.at("G4").text), "12050");
    }

    // The statement is built from the report shown: its book from the header,
    // the ledger kept at the settlement, the total worked out again.
    void statementOfAPurchaseSettlement() {
        Fixture f;
        buy("纱厂", "300");
        buy("纱厂", "-20");
        f.enter();
        f.w->SpeedButton3->click();
        settle(f, "纱厂");
        const tsl::out::Statement s = f.j->statement();
        QCOMPARE(s.book, 3);
        QCOMPARE(QString::fromStdString(s.ledger), "x");
        QCOMPARE(QString::fromStdString(s.name), "纱厂");
        QCOMPARE(s.total, 280);
        QCOMPARE(int(s.table.rows.size()), 2);
        QCOMPARE(QString::fromStdString(s.table.total[1]), "贰佰捌拾元整");
    }

    void ctrlPShowsThePrintPreview() {
        Fixture f;
        deliver("小王", "300");
        f.enter();
        f.w->SpeedButton4->click();
        settle(f, "小王");
        QVERIFY(f.j->isVisible());
        QCOMPARE(f.j->printAction->shortcut(), QKeySequence(QKeySequence::Print));

        QApplication::setActiveWindow(f.j);
        QVERIFY(QTest::qWaitForWindowActive(f.j));

        // Looks for the preview while it runs, and closes it.
        int pages = -1;
        QString title;
        QTimer look;
        look.setInterval(20);
        QObject::connect(&look, &QTimer::timeout, [&] {
            auto* dlg = qobject_cast<QPrintPreviewDialog*>(QApplication::activeModalWidget());
            if (!dlg)
                return;
            title = dlg->windowTitle();
            if (auto* view = dlg->findChild<QPrintPreviewWidget*>())
                pages = view->pageCount();
            dlg->reject();
        });
        look.start();
        QTest::keyClick(f.j->grid1, Qt::Key_P, Qt::ControlModifier);
        look.stop();
        QCOMPARE(title, "打印对帐单");
        QCOMPARE(pages, 1);
        QVERIFY(f.prompter.boxes.empty());
    }

    void workspaceMenuExportsTheShownBook() {
        Fixture f;
        customer("张三");
        ship("张三", "100");
        ship("李四", "abc"); // not a whole number: kept as text, left out of the total
        ship("王五", "-5");
        f.enter();

        // The grid's right-click menu is its list of actions.
        QCOMPARE(f.w->grid1->contextMenuPolicy(), Qt::ActionsContextMenu);
        QStringList texts;
        for (const QAction* a : f.w->grid1->actions())
            texts << a->text();
        QVERIFY(texts.contains("导出本表为Excel…"));
        QVERIFY(texts.contains("导出本表为CSV…"));

        // The customer book, as shown after entering: no amounts, no total row.
        f.prompter.saveAnswers = {here("customers.csv")};
        f.w->exportCsvAction->trigger();
        QVERIFY2(f.prompter.boxes.at(0).text.endsWith("/x-客户-2004-05-12.csv"), qPrintable(f.prompter.boxes[0].text));
        const auto customers = csvRows("customers.csv");
        QCOMPARE(int(customers.size()), 2);
        QCOMPARE(QString::fromStdString(customers[1][2]), "314500");
        f.prompter.boxes.clear();

        f.w->SpeedButton2->click();
        f.prompter.boxes.clear();
        f.prompter.saveAnswers = {here("book.xlsx")};
        f.w->exportXlsxAction->trigger();
        QVERIFY2(f.prompter.boxes.at(0).text.endsWith("/x-发货-2004-05-12.xlsx"), qPrintable(f.prompter.boxes[0].text));
        QCOMPARE(f.prompter.boxes.size(), std::size_t(1));
        const auto sheet = tsltest::readXlsx("book.xlsx");
        QCOMPARE(QString::fromStdString(sheet.cells.at("B2").text), "张三");
        QVERIFY(sheet.cells.at("G2").number);
        QVERIFY(!sheet.cells.at("G3").number);
        QCOMPARE(QString::fromStdString(sheet.cells.at("G3").text), "abc");
        QCOMPARE(QString::fromStdString(sheet.cells.at("G5").text), "95");
        // The export read the book; the workspace is where it was.
        QCOMPARE(f.w->viewNumber(), "2");
        QVERIFY(f.w->table1.isOpen());
    }

    void cancelAndFailureLeaveNoFile() {
        Fixture f;
        std::string sql = "BEGIN;";
        for (int i = 0; i < 30000; ++i)
            sql += insertSql("2", {"(1)2004-5-12", "名" + std::to_string(i % 50), "开衫", "1", "x", "y", "3"});
        tsltest::sqlExec(kFile, sql + "COMMIT;");
        f.enter();
        f.w->SpeedButton2->click();
        f.prompter.boxes.clear();

        // The progress box's cancel, pressed while the rows are written.
        bool cancelled = false;
        QTimer::singleShot(0, [&] {
            if (auto* box = f.w->findChild<QProgressDialog*>("exportProgress")) {
                box->cancel();
                cancelled = true;
            }
        });
        f.prompter.saveAnswers = {here("big.csv")};
        f.w->exportCsvAction->trigger();
        QVERIFY(cancelled);
        QVERIFY(!std::filesystem::exists("big.csv"));
        QCOMPARE(f.prompter.texts().size(), 1); // the save box only
        f.prompter.boxes.clear();

        f.prompter.saveAnswers = {here("no/such/folder/big.xlsx")};
        f.w->exportXlsxAction->trigger();
        const QStringList shown = f.prompter.take();
        QCOMPARE(shown.size(), 2);
        QVERIFY2(shown[1].startsWith("不能写入文件 \"" + here("no/such/folder/big.xlsx") + "\""), qPrintable(shown[1]));
        QVERIFY(f.w->findChild<QProgressDialog*>("exportProgress") == nullptr);
    }
};

QTEST_MAIN(TestExportMenu)
#include "tst_exportmenu.moc"
