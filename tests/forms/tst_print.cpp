// Printing from the workspace: 打印本表… and its key through the print
// preview, 导出本表为PDF…, and the overall report's box with its key and
// right-click menu; every file read back.
#include "tests/export/exporttest.h"
#include "tests/forms/ledgerfixture.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPrintPreviewDialog>
#include <QPrintPreviewWidget>
#include <QPrinter>
#include <QPushButton>
#include <QTimer>

#include <filesystem>
#include <regex>

using namespace ledger;

namespace {

QString here(const char* file) { return QString::fromStdString((std::filesystem::current_path() / file).string()); }

std::string squeezed(const std::string& pdf) {
    return std::regex_replace(tsltest::pdfText(pdf), std::regex("[ \t]+"), " ");
}

// While `start` runs: the print preview that comes up prints into `file` (as
// "print to file" does) and is closed. Its caption and page count are returned.
struct Preview {
    QString caption;
    int pages = -1;
    bool landscape = false;
};
Preview printThroughPreview(const char* file, const std::function<void()>& start) {
    Preview seen;
    QTimer look;
    look.setInterval(20);
    QObject::connect(&look, &QTimer::timeout, [&] {
        auto* dlg = qobject_cast<QPrintPreviewDialog*>(QApplication::activeModalWidget());
        if (!dlg)
            return;
        look.stop();
        seen.caption = dlg->windowTitle();
        auto* view = dlg->findChild<QPrintPreviewWidget*>();
        seen.pages = view->pageCount();
        QPrinter* printer = dlg->printer();
        seen.landscape = printer->pageLayout().orientation() == QPageLayout::Landscape;
        printer->setOutputFormat(QPrinter::PdfFormat);
        printer->setOutputFileName(here(file));
        view->print();
        dlg->reject();
    });
    look.start();
    start();
    return seen;
}

void press(QWidget* w, QKeySequence key) {
    const QKeyCombination k = key[0];
    QTest::keyClick(w, k.key(), k.keyboardModifiers());
}

} // namespace

class TestPrint : public QObject {
    Q_OBJECT

private slots:
    // Ctrl+P (and 打印本表… in 工具) preview the shown book; printed, the file
    // holds its rows, on a page turned by its number of fields.
    void printTheShownBookByKeyAndItem() {
        Fixture f;
        customer("张三");
        ship("张三", "100");
        ship("李四", "abc");
        ship("王五", "-5");
        f.enter();
        f.w->SpeedButton2->click();
        f.prompter.boxes.clear();
        f.w->show();
        QApplication::setActiveWindow(f.w);
        QVERIFY(QTest::qWaitForWindowActive(f.w));
        f.w->grid1->setFocus();

        const Preview byKey = printThroughPreview("key.pdf", [&] { press(f.w->grid1, QKeySequence::Print); });
        QCOMPARE(byKey.caption, "打印本表");
        QCOMPARE(byKey.pages, 1);
        QVERIFY(byKey.landscape); // seven fields
        const std::string text = squeezed("key.pdf");
        for (const char* want : {"发货表单", "帐本: x", "共 3 行", "打印日期: 2004年5月12日", "张三 开衫 10 桐乡 314500 100",
                                 "李四", "abc", "王五", "-5", "合计金额: 95元", "另有 1 行的金额不是整数", "第 1 页 / 共 1 页"})
            QVERIFY2(text.find(want) != std::string::npos, want);
        QVERIFY(f.prompter.boxes.empty());

        // The customer book from the menu item: five fields stand upright.
        f.w->SpeedButton1->click();
        const Preview byItem = printThroughPreview("item.pdf", [&] { f.w->printBookAction->trigger(); });
        QCOMPARE(byItem.pages, 1);
        QVERIFY(!byItem.landscape);
        const std::string customers = squeezed("item.pdf");
        QVERIFY(customers.find("客户联系") != std::string::npos);
        QVERIFY(customers.find("张三 毛衫路8号 314500 88881234 13900000000") != std::string::npos);
        QVERIFY(customers.find("合计金额") == std::string::npos);
        // Printing read the book; the workspace is where it was.
        QCOMPARE(f.w->viewNumber(), "1");

        // 导出本表为PDF…: the same pages in a file named as the other exports.
        f.prompter.saveAnswers = {here("c")};
        f.w->pdfBookAction->trigger();
        QCOMPARE(f.prompter.boxes.size(), std::size_t(1));
        QVERIFY2(f.prompter.boxes[0].text.endsWith("/x-客户-2004-05-12.pdf"), qPrintable(f.prompter.boxes[0].text));
        QCOMPARE(squeezed("c.pdf"), customers); // ".pdf" added to the name typed
    }

    // The overall report's box is the plain message as before; it offers 打印…
    // (Ctrl+P) and 导出PDF…, which print what it says.
    void overallReportOffersPrinting() {
        Fixture f;
        customer("张三");
        ship("张三", "50000");
        buy("纱厂", "300");
        f.enter();
        f.prompter.boxes.clear();
        f.w->SpeedButton5->click();
        QCOMPARE(f.prompter.boxes.size(), std::size_t(1));
        QVERIFY(f.prompter.boxes[0].kind == ScriptedPrompter::Kind::Message && !f.prompter.boxes[0].chinese);
        QVERIFY(f.prompter.boxes[0].text.startsWith("         总体报表\n\n现在总有客户:1个"));
        QCOMPARE(f.prompter.offered.size(), 2);
        QCOMPARE(f.prompter.offered[0].text, "打印…");
        QCOMPARE(f.prompter.offered[0].key, QKeySequence(QKeySequence::Print));
        QCOMPARE(f.prompter.offered[1].text, "导出PDF…");
        f.prompter.boxes.clear();

        f.prompter.saveAnswers = {here("r.pdf")};
        f.prompter.offered[1].run();
        QCOMPARE(f.prompter.boxes.size(), std::size_t(1));
        QVERIFY2(f.prompter.boxes[0].text.endsWith("/x-总体报表-2004-05-12.pdf"), qPrintable(f.prompter.boxes[0].text));
        const std::string text = squeezed("r.pdf");
        for (const char* want : {"总体报表", "帐本: x", "现在总有客户 1个", "发货总收为 50000元", "进货总付出 300元",
                                 "今年的总收入为 49700元", "★今年是个丰收年,发了!☆", "第 1 页 / 共 1 页"})
            QVERIFY2(text.find(want) != std::string::npos, want);

        const Preview shown = printThroughPreview("p.pdf", [&] { f.prompter.offered[0].run(); });
        QCOMPARE(shown.caption, "打印总体报表");
        QVERIFY(!shown.landscape);
        QVERIFY(squeezed("p.pdf").find("应付职工的钱为 0元") != std::string::npos);
    }

    // The real box: still caption "tessolan", the text and one OK; its key and
    // its right-click menu run the commands.
    void realBoxKeepsItsLookAndTakesTheKeyAndMenu() {
        DialogPrompter p;
        QStringList ran;
        const QList<BoxCommand> commands = {{"打印…", QKeySequence::Print, [&] { ran << "print"; }},
                                            {"导出PDF…", {}, [&] { ran << "pdf"; }}};
        QStringList buttons, menu;
        QString caption, text;
        bool iconless = false;
        QTimer::singleShot(0, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box)
                return;
            caption = box->windowTitle();
            text = box->text();
            iconless = box->icon() == QMessageBox::NoIcon;
            for (QAbstractButton* b : box->buttons())
                buttons << b->text();
            QApplication::setActiveWindow(box);
            if (!QTest::qWaitForWindowActive(box))
                return;
            QTest::keyClick(box, Qt::Key_P, Qt::ControlModifier);
            // A right-click on the text shows the box's menu, not the text's own.
            auto* label = box->findChild<QLabel*>(QStringLiteral("qt_msgbox_label"));
            QTimer::singleShot(0, [&] {
                if (auto* m = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
                    for (QAction* a : m->actions())
                        menu << a->text();
                    m->actions().at(1)->trigger();
                    m->close();
                }
            });
            QContextMenuEvent ev(QContextMenuEvent::Mouse, QPoint(2, 2), label->mapToGlobal(QPoint(2, 2)));
            QApplication::sendEvent(label, &ev);
            box->accept();
        });
        p.messageWithCommands("         总体报表\n\n现在总有客户:1个", commands);
        QCOMPARE(caption, "tessolan");
        QCOMPARE(text, "         总体报表\n\n现在总有客户:1个");
        QVERIFY(iconless);
        QCOMPARE(buttons, QStringList{"OK"});
        QCOMPARE(menu, (QStringList{"打印…", "导出PDF…"}));
        QCOMPARE(ran, (QStringList{"print", "pdf"}));
    }
};

QTEST_MAIN(TestPrint)
#include "tst_print.moc"
