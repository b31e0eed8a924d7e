// The 工具 menu of the workspace and the keys of the added commands (workspace,
// chooser, report window), and the captions and kinds of the added commands' boxes.
#include "tests/forms/ledgerfixture.h"

#include "forms/lb.h"

#include <QAction>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>

#include <filesystem>

using namespace ledger;

namespace {

QStringList titles(const QList<QAction*>& actions) {
    QStringList out;
    for (const QAction* a : actions)
        out << (a->isSeparator() ? QStringLiteral("-") : a->text());
    return out;
}

// The window shown and active, as the user has it, the focus in `on`.
[[nodiscard]] bool activate(QWidget* window, QWidget* on) {
    window->show();
    QApplication::setActiveWindow(window);
    if (!QTest::qWaitForWindowActive(window))
        return false;
    on->setFocus();
    return true;
}

void press(QWidget* w, QKeySequence key) {
    const QKeyCombination k = key[0];
    QTest::keyClick(w, k.key(), k.keyboardModifiers());
}

QString here(const char* file) { return QString::fromStdString((std::filesystem::current_path() / file).string()); }

// The chooser, a ledger 甲 just created through it and open.
Tl* chooserWithNewLedger(FormsFixture& c) {
    c.seedIndex();
    c.prompter.inputAnswers = {"甲"};
    c.create();
    Tl* l = c.roster->l.get();
    l->BitBtn2->click();
    return l;
}

} // namespace

class TestTools : public QObject {
    Q_OBJECT

private slots:
    // 工具 stands after 文件; the menus of the window keep their items; each
    // tool is the very action of the grid's right-click menu.
    void toolsMenuAfterFile() {
        Fixture f("2");
        QMenuBar* bar = f.w->menuBar();
        QCOMPARE(titles(bar->actions()), (QStringList{"文件(&F)", "工具(&T)", "关于(&A)"}));
        QCOMPARE(titles(f.w->F1->actions()), (QStringList{"添加资料(&A)", "删除资料(&D)", "修改资料(&E)", "-", "退出(&X)"}));
        QCOMPARE(titles(f.w->A2->actions()), QStringList{"关于作者(&Z)"});
        for (QAction* a : f.w->F1->actions() + f.w->A2->actions())
            QVERIFY2(a->shortcut().isEmpty(), qPrintable(a->text()));

        QCOMPARE(f.w->T1->objectName(), QStringLiteral("T1"));
        QCOMPARE(titles(f.w->T1->actions()),
                 (QStringList{"查找(&S)…", "查找下一个(&N)", "查找上一个(&R)", "-", "年度统计(&Y)…", "-", "导出本表为Excel(&E)…", "导出本表为CSV(&C)…", "-", "打印本表(&P)…",
                              "导出本表为PDF(&F)…", "-", "撤销删除(&U)", "修改日期(&D)…", "-", "使用帮助(&H)"}));
        const QList<QAction*> gridItems = f.w->grid1->actions();
        for (QAction* a : f.w->T1->actions())
            QVERIFY2(a->isSeparator() || a == f.w->helpAction || gridItems.contains(a), qPrintable(a->text()));
        // Nothing on the right-click menu is missing from 工具.
        for (QAction* a : gridItems)
            QVERIFY2(f.w->T1->actions().contains(a), qPrintable(a->text()));

        QCOMPARE(f.w->undoDeleteAction->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Z));
        QCOMPARE(f.w->exportXlsxAction->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_E));
        QCOMPARE(f.w->printBookAction->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_P));
        QCOMPARE(f.w->pdfBookAction->shortcut(), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_P));
        QCOMPARE(f.w->helpAction->shortcut(), QKeySequence(Qt::Key_F1));
        QCOMPARE(f.w->findAction->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_F));
        QCOMPARE(f.w->findNextAction->shortcut(), QKeySequence(Qt::Key_F3));
        QCOMPARE(f.w->findPreviousAction->shortcut(), QKeySequence(Qt::SHIFT | Qt::Key_F3));
        QCOMPARE(f.j->printAction->shortcut(), QKeySequence(QKeySequence::Print));
        QCOMPARE(f.j->xlsxAction->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_E));
    }

    // A key does what its item does: the same box, or the same change.
    void keysRunTheirItems_data() {
        QTest::addColumn<QString>("item");
        QTest::addColumn<QString>("shown"); // the first box: its caption for a save box, else its text's start
        QTest::newRow("Ctrl+E") << "exportXlsxAction" << "导出Excel|";
        QTest::newRow("Ctrl+Shift+E") << "exportCsvAction" << "导出CSV|";
        QTest::newRow("Ctrl+Shift+P") << "pdfBookAction" << "导出PDF|";
        QTest::newRow("F1") << "helpAction" << "帐本选择窗口:";
    }

    void keysRunTheirItems() {
        QFETCH(QString, item);
        QFETCH(QString, shown);
        Fixture f;
        ship("张三", "10");
        f.enter();
        f.w->SpeedButton2->click();
        QVERIFY2(activate(f.w, f.w->grid1), "the window does not become active");
        auto* action = f.w->findChild<QAction*>(item);
        QVERIFY(action);
        QStringList seen[2];
        for (int via = 0; via < 2; ++via) {
            f.prompter.boxes.clear();
            if (via == 0)
                action->trigger(); // the menu item
            else
                press(f.w->grid1, action->shortcut());
            QCOMPARE(f.prompter.boxes.size(), std::size_t(1));
            const auto& b = f.prompter.boxes[0];
            seen[via] << (b.kind == ScriptedPrompter::Kind::Save ? b.caption : b.text) << b.caption;
        }
        QCOMPARE(seen[1], seen[0]);
        // Also from the settlement box, where the focus is when a ledger opens.
        f.prompter.boxes.clear();
        f.w->edjz->setFocus();
        press(f.w->edjz, action->shortcut());
        QCOMPARE(f.prompter.boxes.size(), std::size_t(1));
        QVERIFY2(seen[0][0].startsWith(shown), qPrintable(seen[0][0]));
        if (item == "helpAction") {
            QCOMPARE(f.prompter.boxes[0].caption, f.w->windowTitle()); // the workspace's caption
            QVERIFY(f.prompter.boxes[0].chinese);
            // The help names the keys the menus really have.
            QVERIFY(f.prompter.boxes[0].text.contains("\n    撤销删除(Ctrl+Z)\n"));
            QVERIFY(f.prompter.boxes[0].text.contains("打印对帐单…(Ctrl+P)"));
            QVERIFY(f.prompter.boxes[0].text.contains("\n    打印本表…(Ctrl+P)\n    导出本表为PDF…(Ctrl+Shift+P)\n"));
            QVERIFY(f.prompter.boxes[0].text.contains("从备份恢复…(Ctrl+R)"));
        }
    }

    // 撤销删除 and 修改日期… are enabled in 工具 exactly when on the right-click
    // menu, and Ctrl+Z works only while the item is offered.
    void enablingFollowsTheRightClickMenu() {
        Fixture f;
        for (const char* n : {"甲", "乙", "丙"})
            deliver(n, "5");
        f.enter();
        QVERIFY2(activate(f.w, f.w->grid1), "the window does not become active");
        QVERIFY(!f.w->changeDateAction->isEnabled()); // the customer book has no dates
        f.w->SpeedButton4->click();
        QVERIFY(f.w->changeDateAction->isEnabled());
        QVERIFY(!f.w->undoDeleteAction->isEnabled());
        const QStringList before = rows("4");
        press(f.w->grid1, QKeySequence(Qt::CTRL | Qt::Key_Z)); // nothing to undo
        QCOMPARE(rows("4"), before);

        f.w->table1.moveTo(1);
        f.prompter.yesNoAnswers = {true};
        f.w->btndel->click();
        QCOMPARE(rows("4").size(), 2);
        QVERIFY(f.w->undoDeleteAction->isEnabled()); // at once, not only when a menu opens
        press(f.w->grid1, QKeySequence(Qt::CTRL | Qt::Key_Z));
        QCOMPARE(rows("4"), before);
        QVERIFY(!f.w->undoDeleteAction->isEnabled());

        // A book emptied by deletes has no row to date; the menu shows that when it opens.
        f.w->SpeedButton1->click();
        QVERIFY(!f.w->changeDateAction->isEnabled());
        emit f.w->T1->aboutToShow();
        QVERIFY(!f.w->changeDateAction->isEnabled());
        QVERIFY(f.w->exportXlsxAction->isEnabled() && f.w->yearGlanceItem->isEnabled());
    }

    // The chooser's layout stays; its commands have keys and the help.
    void chooserKeys() {
        FormsFixture c;
        Tl* l = chooserWithNewLedger(c);
        c.roster->Form1->close();
        c.prompter.boxes.clear();
        QVERIFY2(activate(l, l->list1), "the window does not become active");
        QCOMPARE(titles(l->list1->actions()),
                 (QStringList{"从备份恢复(&R)…", "备份全部帐本到(&B)…", "从备份文件夹恢复(&F)…", "-",
                              "新建帐本(从旧帐本带入)(&N)…", "重命名帐本(&M)…", "删除帐本(&D)…", "-", "连接服务器(&S)…",
                              "断开服务器(&X)", "上传到服务器(&U)…", "下载到本机(&L)…", "刷新列表(&E)", "-",
                              "使用帮助(&H)"}));
        QCOMPARE(l->findChildren<QPushButton*>().size(), 3);

        l->list1->clearSelection();
        press(l->list1, QKeySequence(Qt::CTRL | Qt::Key_R)); // no ledger chosen: not offered
        QCOMPARE(c.prompter.take(), QStringList());
        l->list1->setCurrentRow(0);
        press(l->list1, QKeySequence(Qt::CTRL | Qt::Key_R));
        QCOMPARE(c.prompter.take(), QStringList{"从备份恢复!"});
        press(l->list1, QKeySequence(Qt::CTRL | Qt::Key_B));
        QCOMPARE(c.prompter.take(), QStringList{"备份全部帐本到"});
        press(l->list1, QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_R));
        QCOMPARE(c.prompter.take(), QStringList{"从备份文件夹恢复"});
        press(l->list1, QKeySequence(Qt::Key_F2));
        QCOMPARE(c.prompter.take(), QStringList{"在下面输下帐本\"甲\"的新名称:"});
        press(l->list1, QKeySequence(Qt::Key_Delete)); // the question, answered 否
        QCOMPARE(c.prompter.take(), QStringList{"要删除帐本\"甲\"吗!\n删除前会先备份,以后可以用\"从备份恢复\"找回."});
        press(l->list1, QKeySequence(Qt::CTRL | Qt::Key_N));
        QCOMPARE(c.prompter.take().size(), 1);
        press(l->list1, QKeySequence(Qt::Key_F1));
        QCOMPARE(c.prompter.boxes.size(), std::size_t(1));
        QCOMPARE(c.prompter.boxes[0].caption, QStringLiteral("帐本选择!"));
        QVERIFY(c.prompter.boxes[0].chinese);
        c.shutDown();
    }

    // The boxes of added commands are the Chinese kind, under their window's
    // caption; the boxes the windows always had stay as they were.
    void addedBoxesSpeakChinese() {
        FormsFixture c;
        Tl* l = chooserWithNewLedger(c);
        TForm1* w = c.roster->Form1.get();
        tsltest::sqlExec("甲.mdb", "INSERT INTO \"1\" VALUES ('张三','','','','')");
        w->close(); // a snapshot to restore
        QCOMPARE(c.prompter.boxes.back().chinese, false); // 帐本创建成功! keeps its box
        c.prompter.boxes.clear();

        l->list1->setCurrentRow(0);
        c.prompter.rowAnswers = {0};
        c.prompter.yesNoAnswers = {false};
        l->restoreAction->trigger();
        QCOMPARE(c.prompter.boxes.size(), std::size_t(2));
        const auto& ask = c.prompter.boxes[1];
        QVERIFY(ask.kind == ScriptedPrompter::Kind::Question && ask.chinese);
        QCOMPARE(ask.caption, QStringLiteral("帐本选择!"));
        c.prompter.boxes.clear();

        // A failed export: the failure box of the window that exported.
        l->BitBtn1->click();
        w->SpeedButton1->click();
        c.prompter.saveAnswers = {here("no/such/folder/book.csv")};
        w->exportCsvAction->trigger();
        QCOMPARE(c.prompter.boxes.size(), std::size_t(2));
        const auto& failed = c.prompter.boxes[1];
        QVERIFY(failed.kind == ScriptedPrompter::Kind::Error && failed.chinese);
        QCOMPARE(failed.caption, QStringLiteral("帐本名称:甲"));
        c.prompter.boxes.clear();

        // The delete question is the window's own: Yes and No, as ever.
        c.prompter.yesNoAnswers = {false};
        w->btndel->click();
        QCOMPARE(c.prompter.boxes.size(), std::size_t(1));
        QVERIFY(!c.prompter.boxes[0].chinese);
        w->close();
        c.shutDown();
    }
};

QTEST_MAIN(TestTools)
#include "tst_tools.moc"
