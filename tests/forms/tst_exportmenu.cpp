// The export commands on the right-click menus of the report grid and the
// workspace grid, with the files they write read back.
#include "tests/export/exporttest.h"
#include "tests/forms/ledgerfixture.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QFile>
#include <QLineEdit>
#include <QMenu>
#include <QPrintPreviewDialog>
#include <QPrintPreviewWidget>
#include <QProgressDialog>
#include <QTimer>

#include <filesystem>

using namespace ledger;

namespace {

// Enters the ledger, shows a book and settles a name in it.
void settle(Fixture& f, QToolButton* book, const QString& name) {
    f.enter();
    book->click();
    f.w->edjz->setText(name);
    f.w->btnjz->click();
    f.prompter.boxes.clear();
}

QString here(const char* file) { return QString::fromStdString((std::filesystem::current_path() / file).string()); }

QString cellText(const std::string& s) { return QString::fromStdString(s); }

std::vector<std::vector<std::string>> csvRows(const char* file) {
    const auto rows = tsltest::parseQuotedCsv(tsltest::readFile(file));
    if (!rows) { // fails this test only, not the program
        QTest::qFail(qPrintable(QStringLiteral("%1 is not quoted csv").arg(QString::fromUtf8(file))), __FILE__, __LINE__);
        return {};
    }
    return *rows;
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
        settle(f, f.w->SpeedButton2, "张三");
        QVERIFY(f.j->isVisible());

        QContextMenuEvent ev(QContextMenuEvent::Mouse, QPoint(20, 20),
                             f.j->grid1->viewport()->mapToGlobal(QPoint(20, 20)));
        QApplication::sendEvent(f.j->grid1->viewport(), &ev);
        QVERIFY(f.j->grid1Menu->isVisible());
        QStringList items;
        for (const QAction* a : f.j->grid1Menu->actions())
            items << a->text();
        QCOMPARE(items, (QStringList{"打印对帐单…", "导出PDF…", "导出Excel…", "导出CSV…", "", "按期间打印对帐单…",
                                     "按期间导出对帐单"}));
        f.j->grid1Menu->close();

        // The save box suggests a name; cancelling it writes nothing.
        f.j->csvAction->trigger();
        QCOMPARE(f.prompter.boxes.size(), std::size_t(1));
        const auto save = f.prompter.boxes[0];
        QVERIFY(save.kind == ScriptedPrompter::Kind::Save && save.caption.startsWith("导出CSV|"));
        QVERIFY2(save.text.endsWith("/x-发货-张三-对帐单-2004-05-12.csv"), qPrintable(save.text));
        QVERIFY(!QFile::exists(save.text));
        f.prompter.boxes.clear();

        f.prompter.saveAnswers = {here("st.csv"), here("st"), here("st.xlsx")};
        f.j->csvAction->trigger();
        f.j->pdfAction->trigger(); // no extension typed: .pdf is added
        f.j->xlsxAction->trigger();
        QCOMPARE(f.prompter.texts().size(), 3); // the three save boxes, no error

        const auto csv = csvRows("st.csv");
        QCOMPARE(int(csv.size()), 4);
        QCOMPARE(cellText(csv[3][0] + "|" + csv[3][1] + "|" + csv[3][6]), "合计|壹万贰仟零伍拾元整|12050");

        const QString pdf = QString::fromStdString(tsltest::pdfText("st.pdf"));
        for (const char* want : {"帐本: x", "客户: 张三", "打印日期: 2004年5月12日", "合计金额: 12050元", "第 1 页 / 共 1 页"})
            QVERIFY2(pdf.contains(QString::fromUtf8(want)), want);
        QVERIFY(!pdf.contains("李四"));

        QCOMPARE(cellText(tsltest::readXlsx("st.xlsx").cells.at("G4").text), "12050");
    }

    // The statement is built from the report shown: its book from the header,
    // the ledger kept at the settlement, the total worked out again. Ctrl+P previews it.
    void purchaseStatementPrintPreview() {
        Fixture f;
        buy("纱厂", "300");
        buy("纱厂", "-20");
        settle(f, f.w->SpeedButton3, "纱厂");
        const tsl::out::Statement s = f.j->statement();
        QCOMPARE(s.book, 3);
        QCOMPARE(cellText(s.ledger + "|" + s.name), "x|纱厂");
        QCOMPARE(s.total, 280);
        QCOMPARE(int(s.table.rows.size()), 2);
        QCOMPARE(cellText(s.table.total[1]), "贰佰捌拾元整");

        QApplication::setActiveWindow(f.j);
        QVERIFY(QTest::qWaitForWindowActive(f.j));

        // Looks for the preview while it runs, and closes it.
        int pages = -1;
        QString title;
        QTimer look;
        look.setInterval(20);
        QObject::connect(&look, &QTimer::timeout, [&] {
            if (auto* dlg = qobject_cast<QPrintPreviewDialog*>(QApplication::activeModalWidget())) {
                title = dlg->windowTitle();
                pages = dlg->findChild<QPrintPreviewWidget*>()->pageCount();
                dlg->reject();
            }
        });
        look.start();
        QTest::keyClick(f.j->grid1, Qt::Key_P, Qt::ControlModifier);
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
        QCOMPARE(f.w->grid1->contextMenuPolicy(), Qt::ActionsContextMenu);
        QVERIFY(f.w->grid1->actions().contains(f.w->exportCsvAction) &&
                f.w->grid1->actions().contains(f.w->exportXlsxAction));

        // The customer book, as shown after entering: no amounts, no total row.
        f.prompter.saveAnswers = {here("customers.csv")};
        f.w->exportCsvAction->trigger();
        QVERIFY2(f.prompter.boxes.at(0).text.endsWith("/x-客户-2004-05-12.csv"), qPrintable(f.prompter.boxes[0].text));
        const auto customers = csvRows("customers.csv");
        QCOMPARE(int(customers.size()), 2);
        QCOMPARE(cellText(customers[1][2]), "314500");

        f.w->SpeedButton2->click();
        f.prompter.boxes.clear();
        f.prompter.saveAnswers = {here("book.xlsx")};
        f.w->exportXlsxAction->trigger();
        QCOMPARE(f.prompter.boxes.size(), std::size_t(1));
        QVERIFY2(f.prompter.boxes[0].text.endsWith("/x-发货-2004-05-12.xlsx"), qPrintable(f.prompter.boxes[0].text));
        const auto sheet = tsltest::readXlsx("book.xlsx");
        QCOMPARE(cellText(sheet.cells.at("B2").text), "张三");
        QVERIFY(sheet.cells.at("G2").number && !sheet.cells.at("G3").number);
        QCOMPARE(cellText(sheet.cells.at("G3").text), "abc");
        QCOMPARE(cellText(sheet.cells.at("G5").text), "95");
        // The export read the book; the workspace is where it was.
        QCOMPARE(f.w->viewNumber(), "2");
        QVERIFY(f.w->table1.isOpen());
    }

    void cancelAndFailureLeaveNoFile() {
        Fixture f;
        std::string sql = "BEGIN;";
        for (int i = 0; i < 30000; ++i)
            sql += insertSql("2", {"(1)2004-5-12", "名" + std::to_string(i % 50), "开衫", "1", "x", "y", "3"});
        execSql(sql + "COMMIT;");
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
        QCOMPARE(f.prompter.take().size(), 1); // the save box only

        f.prompter.saveAnswers = {here("no/such/folder/big.xlsx")};
        f.w->exportXlsxAction->trigger();
        const QStringList shown = f.prompter.take();
        QCOMPARE(shown.size(), 2);
        QCOMPARE(shown[1], "不能写入文件 \"" + here("no/such/folder/big.xlsx") + "\": 文件夹不存在!");
        QVERIFY(f.w->findChild<QProgressDialog*>("exportProgress") == nullptr);
    }

    // The save box takes any name; the export refuses the program's own files
    // with a box, and the ledger stays whole and writable.
    void exportNeverReplacesTheOpenLedgerOrTheIndex() {
        Fixture f;
        ship("张三", "100");
        f.enter();
        f.w->SpeedButton2->click();
        f.prompter.boxes.clear();
        const std::string ledgerBefore = tsltest::readFile(kFile);
        const std::string indexBefore = tsltest::readFile("tsl.mdb");
        QVERIFY(!indexBefore.empty());
        std::filesystem::create_directories("backups/x.mdb");
        const std::pair<const char*, const char*> cases[] = {
            {"x.mdb", "这是帐本文件"}, {"tsl.mdb", "这是帐本列表文件"},
            {"new.mdb", "这是帐本文件"}, {"backups/x.mdb/a.csv", "这是帐本的备份"}};
        for (const auto& [file, why] : cases) {
            for (QAction* action : {f.w->exportCsvAction, f.w->exportXlsxAction}) {
                f.prompter.saveAnswers = {here(file)};
                action->trigger();
                const QStringList shown = f.prompter.take();
                QCOMPARE(shown.size(), 2);
                QCOMPARE(shown[1], "不能导出到 \"" + here(file) + "\": " + why + "!");
            }
        }
        QVERIFY(tsltest::readFile(kFile) == ledgerBefore);
        QVERIFY(tsltest::readFile("tsl.mdb") == indexBefore);
        QVERIFY(!std::filesystem::exists("new.mdb") && !std::filesystem::exists("backups/x.mdb/a.csv"));
        ship("李四", "7");
        QCOMPARE(int(tsltest::sqlColumn(kFile, "SELECT count(*) FROM \"2\"").size()), 1);
        QCOMPARE(tsltest::sqlColumn(kFile, "SELECT count(*) FROM \"2\"")[0], "2");
    }

    // A cell longer than a spreadsheet's cell: the file is written and a box says what was cut.
    void overlongCellIsCutAndSaid() {
        Fixture f;
        ship(std::string(40000, 'x'), "100");
        f.enter();
        f.w->SpeedButton2->click();
        f.prompter.boxes.clear();
        f.prompter.saveAnswers = {here("long.xlsx")};
        f.w->exportXlsxAction->trigger();
        const QStringList shown = f.prompter.take();
        QCOMPARE(shown.size(), 2);
        QCOMPARE(shown[1], "格子 B2 的文字超过 Excel 一格能放的 32767 个字符,只导出了前面的部分.");
        QVERIFY(std::filesystem::exists("long.xlsx"));
    }
};

QTEST_MAIN(TestExportMenu)
#include "tst_exportmenu.moc"
