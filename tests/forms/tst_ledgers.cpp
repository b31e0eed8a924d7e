// Ledgers managed from the chooser's right-click menu: a new year from the
// last, rename, delete and bring back, restore from a backup folder; and what
// a kill left, put right by the next start.
#include "tests/forms/formsfixture.h"

#include "forms/Unit1.h"
#include "forms/lb.h"
#include "storage/filelock.h"
#include "storage/fileops.h"

#include <QAction>
#include <QListWidget>
#include <QPushButton>
#include <QTest>

#include <filesystem>
#include <unistd.h>

using tsltest::sqlColumn;
using tsltest::sqlExec;
using Names = std::vector<std::string>;

namespace {

const QString kSelect = "请选择帐本!";
const QString kCreated = "帐本创建成功!";
const QString kInUse = "帐本正在被另一个程序使用!";
const QString kNameTaken = "帐本名称已存在,请改名!";

QStringList listed(const Tl& l) {
    QStringList out;
    for (int i = 0; i < l.list1->count(); ++i)
        out << l.list1->item(i)->text();
    return out;
}

bool exists(const char* name) { return tsl::fileExists(name); }

// A chooser with the ledgers 甲 and 乙, 甲 holding a customer, a shipment and a
// garment kind; the workspace left.
struct Chooser : FormsFixture {
    Tl* l = nullptr;
    TForm1* w = nullptr;
    Chooser() {
        seedIndex();
        prompter.inputAnswers = {"甲", "乙"};
        create();
        l = roster->l.get();
        w = roster->Form1.get();
        for (int i = 0; i < 2; ++i) {
            l->BitBtn2->click();
            w->close();
        }
        sqlExec("甲.mdb", "INSERT INTO \"1\" VALUES ('王丽','北京','100000','1','2');"
                          "INSERT INTO \"2\" VALUES ('(1)2004-5-12','王丽','开衫','3','北京','100000','300');"
                          "INSERT INTO temp1 VALUES ('王丽'); INSERT INTO temp5 VALUES ('开衫');");
        prompter.boxes.clear();
    }
    void select(const QString& name) { l->list1->setCurrentItem(l->list1->findItems(name, Qt::MatchExactly).value(0)); }
};

} // namespace

class TestLedgers : public QObject {
    Q_OBJECT

private slots:
    // The items sit on the list's right-click menu with their keys; those on a
    // ledger need one chosen.
    void menuAndKeys() {
        Chooser c;
        QStringList texts;
        for (QAction* a : c.l->list1->actions())
            if (!a->isSeparator())
                texts << a->text() + " " + a->shortcut().toString();
        QCOMPARE(texts, QStringList({"从备份恢复(&R)… Ctrl+R", "备份全部帐本到(&B)… Ctrl+B", "从备份文件夹恢复(&F)… Ctrl+Shift+R",
                                     "新建帐本(从旧帐本带入)(&N)… Ctrl+N", "重命名帐本(&M)… F2", "删除帐本(&D)… Del",
                                     "连接服务器(&S)… Ctrl+K", "断开服务器(&X) ", "上传到服务器(&U)… Ctrl+U",
                                     "下载到本机(&L)… Ctrl+D", "刷新列表(&E) F5", "使用帮助(&H) F1"}));
        c.l->list1->clearSelection();
        for (QAction* a : {c.l->newFromAction, c.l->renameAction, c.l->deleteAction, c.l->restoreAction})
            QVERIFY2(!a->isEnabled(), qPrintable(a->text()));
        QVERIFY(c.l->restoreFolderAction->isEnabled());
        c.select("乙");
        for (QAction* a : {c.l->newFromAction, c.l->renameAction, c.l->deleteAction, c.l->restoreAction})
            QVERIFY2(a->isEnabled(), qPrintable(a->text()));
        // The layout keeps its three buttons and nothing else.
        QCOMPARE(c.l->findChildren<QPushButton*>().size(), 3);
    }

    void newYearFromTheChosenLedger() {
        Chooser c;
        c.select("甲");
        c.prompter.inputAnswers = {"  2005  "};
        c.l->newFromAction->trigger();
        QCOMPARE(c.prompter.boxes.front().caption, QString("新建帐本(从旧帐本带入)!"));
        QCOMPARE(c.prompter.take(),
                 QStringList({"在下面输下你要的帐本名称,如:\"2004年的帐本\"\n帐本\"甲\"的客户资料和下拉列表将带入新帐本.",
                              kCreated}));
        QCOMPARE(listed(*c.l), QStringList({"甲", "乙", "2005"}));
        QVERIFY(c.w->isVisible());
        QCOMPARE(c.w->windowTitle(), QString("帐本名称:2005"));
        QCOMPARE(c.w->table1.recordCount(), 1); // the customer book
        c.w->close();
        QCOMPARE(sqlColumn("2005.mdb", "SELECT \"1\" FROM temp5"), Names{"开衫"});
        QCOMPARE(sqlColumn("2005.mdb", "SELECT count(*) FROM \"2\""), Names{"0"});

        // A name that is taken is refused as 新建帐本 refuses it, nothing made.
        c.select("甲");
        c.prompter.inputAnswers = {"乙"};
        c.l->newFromAction->trigger();
        QCOMPARE(c.prompter.take().last(), kNameTaken);
        // A source whose file is gone: a Chinese failure, no file, no row.
        ::unlink("乙.mdb");
        c.select("乙");
        c.prompter.inputAnswers = {"2006"};
        c.l->newFromAction->trigger();
        QCOMPARE(c.prompter.boxes.back().kind, ScriptedPrompter::Kind::Error);
        QVERIFY(c.prompter.boxes.back().text.startsWith("无法建立帐本,什么也没有改变!"));
        QVERIFY(!exists("2006.mdb"));
        QCOMPARE(listed(*c.l), QStringList({"甲", "乙", "2005"}));
    }

    void renameRefusedWhileEnteredOrHeld() {
        Chooser c;
        c.select("甲");
        c.l->BitBtn1->click(); // entered
        c.prompter.inputAnswers = {"丙"};
        c.l->renameAction->trigger();
        c.prompter.inputAnswers = {};
        QCOMPARE(c.prompter.take(), QStringList({"在下面输下帐本\"甲\"的新名称:", "帐本正在使用,请先退出该帐本再改名!"}));
        c.l->deleteAction->trigger();
        QCOMPARE(c.prompter.take(), QStringList({"帐本正在使用,请先退出该帐本再删除!"}));
        c.w->close();

        c.w->ado1.disconnect(); // the workspace lets go; another program takes it
        tsl::FileLock other;
        QCOMPARE(other.tryLock("甲.mdb"), tsl::FileLock::Result::Locked);
        c.select("甲");
        c.prompter.inputAnswers = {"丙"};
        c.l->renameAction->trigger();
        QCOMPARE(c.prompter.take().last(), kInUse);
        c.prompter.yesNoAnswers = {true};
        c.l->deleteAction->trigger();
        QCOMPARE(c.prompter.take().last(), kInUse);
        QCOMPARE(listed(*c.l), QStringList({"甲", "乙"}));
        QVERIFY(exists("甲.mdb") && !exists("丙.mdb"));

        // Let go, and the left ledger is renamed (the workspace lets go of it too).
        other.unlock();
        c.select("甲");
        c.prompter.inputAnswers = {"丙"};
        c.l->renameAction->trigger();
        QCOMPARE(c.prompter.take(), QStringList({"在下面输下帐本\"甲\"的新名称:"}));
        QCOMPARE(listed(*c.l), QStringList({"丙", "乙"}));
        QCOMPARE(c.l->list1->currentItem()->text(), QString("丙"));
        QVERIFY(!exists("甲.mdb") && exists("丙.mdb"));
        c.l->BitBtn1->click();
        QCOMPARE(c.w->windowTitle(), QString("帐本名称:丙"));
        QCOMPARE(c.w->table1.recordCount(), 1);
        c.w->close();

        // A taken name is refused before anything happens.
        c.select("丙");
        c.prompter.inputAnswers = {"乙"};
        c.l->renameAction->trigger();
        QCOMPARE(c.prompter.take().last(), kNameTaken);
    }

    // Deleted, then brought back from its snapshot under the old name, by
    // 从备份恢复… on the list's empty part.
    void deleteAndBringBack() {
        Chooser c;
        c.select("甲");
        c.prompter.yesNoAnswers = {false};
        c.l->deleteAction->trigger();
        QCOMPARE(c.prompter.take(), QStringList({"要删除帐本\"甲\"吗!\n删除前会先备份,以后可以用\"从备份恢复\"找回."}));
        QVERIFY(exists("甲.mdb"));

        c.prompter.yesNoAnswers = {true};
        c.l->deleteAction->trigger();
        const QStringList said = c.prompter.take();
        QCOMPARE(said.size(), 2);
        QVERIFY2(said[1].startsWith("帐本\"甲\"已删除!\n删除前的内容已备份为"), qPrintable(said[1]));
        QCOMPARE(listed(*c.l), QStringList({"乙"}));
        QVERIFY(!exists("甲.mdb"));

        // A right-click on the empty part of the list chooses no ledger.
        c.select("乙");
        QTest::mouseClick(c.l->list1->viewport(), Qt::RightButton, {}, QPoint(100, 200));
        QVERIFY(c.l->list1->selectedItems().isEmpty());
        QVERIFY(c.l->restoreAction->isEnabled());
        c.prompter.rowAnswers = {0};
        c.prompter.yesNoAnswers = {true};
        c.l->restoreAction->trigger();
        // The snapshot of the leave and the delete's own, newest first.
        QCOMPARE(c.prompter.shownRows.size(), 2);
        QCOMPARE(c.prompter.shownRows[0].mid(0, 1), QStringList({"甲"}));
        QCOMPARE(c.prompter.shownRows[1].mid(2), QStringList({"0", "0", "0", "0"}));
        QCOMPARE(c.prompter.shownRows[0].mid(2), QStringList({"1", "1", "0", "0"}));
        QCOMPARE(c.prompter.take().last(), QString("帐本恢复成功!"));
        QCOMPARE(listed(*c.l), QStringList({"乙", "甲"}));
        QCOMPARE(sqlColumn("甲.mdb", "SELECT \"姓名\" FROM \"1\""), Names{"王丽"});
        // Nothing deleted is left to bring back.
        c.l->list1->clearSelection();
        QVERIFY(!c.l->restoreAction->isEnabled());
    }

    void restoreFromABackupFolder() {
        Chooser c;
        std::filesystem::create_directory("stick");
        c.prompter.folderAnswers = {QString::fromStdString(c.dir.path() + "/stick")};
        c.l->backupAllAction->trigger();
        c.prompter.boxes.clear();
        const QString folder = QString::fromStdString(std::filesystem::directory_iterator("stick")->path().string());
        sqlExec("甲.mdb", "DELETE FROM \"1\"");
        c.select("乙");
        c.prompter.yesNoAnswers = {true};
        c.l->deleteAction->trigger();
        c.prompter.boxes.clear();

        // Not a backup folder.
        c.prompter.folderAnswers = {QString::fromStdString(c.dir.path())};
        c.l->restoreFolderAction->trigger();
        QVERIFY(c.prompter.take().last().startsWith("这个文件夹不是\"备份全部帐本到\"做的备份:"));

        c.prompter.folderAnswers = {folder};
        c.prompter.rowAnswers = {0}; // all
        c.prompter.yesNoAnswers = {true};
        c.l->restoreFolderAction->trigger();
        QCOMPARE(c.prompter.shownRows.size(), 3);
        QCOMPARE(c.prompter.shownRows[1], QStringList({"甲", "1", "1", "0", "0", "替换现有的帐本(先备份)"}));
        QCOMPARE(c.prompter.shownRows[2], QStringList({"乙", "0", "0", "0", "0", "加入帐本列表"}));
        QCOMPARE(c.prompter.take().last(),
                 QString("这些帐本已恢复:\n甲\n乙\n被替换的帐本原来的内容已备份,可以用\"从备份恢复\"找回."));
        QCOMPARE(listed(*c.l), QStringList({"甲", "乙"}));
        QCOMPARE(sqlColumn("甲.mdb", "SELECT \"姓名\" FROM \"1\""), Names{"王丽"});
        // What 甲 held before is in a snapshot.
        bool kept = false;
        for (const auto& e : std::filesystem::directory_iterator("backups/甲.mdb"))
            kept = kept || sqlColumn(e.path().string(), "SELECT count(*) FROM \"1\"") == Names{"0"};
        QVERIFY(kept);
    }

    // What a kill left in the folder is put right before the list shows.
    void startUpFinishesWhatAKillCutShort() {
        FormsFixture f;
        f.seedIndex();
        for (const char* n : {"甲", "乙", "丙"})
            sqlExec("run.dll", std::string("INSERT INTO \"5\" VALUES ('") + n + "')");
        f.seedIndex("甲.mdb");
        f.seedIndex("乙.mdb.parked");  // a delete cut short before the row went
        f.seedIndex("丁.mdb.parked");  // a new ledger cut short before it was listed
        f.seedIndex("丙.mdb");
        QCOMPARE(::link("丙.mdb", "戊.mdb"), 0); // a rename cut short before the row changed
        f.create();
        QCOMPARE(listed(*f.roster->l), QStringList({"甲", "乙", "丙"}));
        QVERIFY(exists("乙.mdb") && !exists("乙.mdb.parked"));
        QVERIFY(!exists("丁.mdb.parked") && !exists("丁.mdb"));
        QVERIFY(!exists("戊.mdb") && exists("丙.mdb"));
        QCOMPARE(f.prompter.take(), QStringList());
    }
};

QTEST_MAIN(TestLedgers)
#include "tst_ledgers.moc"
