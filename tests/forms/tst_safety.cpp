// The safety net through the windows: undo of a delete and a row's date on the
// workspace grid's right-click menu; backups when a ledger is left and when the
// program ends; restore and a copy of everything from the chooser's right-click menu.
#include "tests/forms/ledgerfixture.h"

#include "storage/backup.h"
#include "storage/fileops.h"
#include "tests/support/faultyvfs.h"
#include "forms/khlx.h"
#include "forms/lb.h"

#include <QAction>
#include <QDir>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QTimer>
#include <QPushButton>

#include <sqlite3.h>

using namespace ledger;

namespace {

int snapshotCount(const std::string& file) { return int(tsl::listSnapshots(file).size()); }

QStringList customerNames(const std::string& file) {
    return toList(tsltest::sqlColumn(file, "SELECT \"姓名\" FROM \"1\" ORDER BY rowid"));
}

// A customer written behind the program's back, as another copy of it would.
void addCustomer(const std::string& file, const std::string& name) {
    tsltest::sqlExec(file, "INSERT INTO \"1\" VALUES ('" + name + "','','','','')");
}

// The chooser with two ledgers, each created and left the way the user does it.
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
        prompter.boxes.clear();
    }
    void select(const QString& name) { l->list1->setCurrentItem(l->list1->findItems(name, Qt::MatchExactly).value(0)); }
    void enter(const QString& name) {
        select(name);
        l->BitBtn1->click();
    }
    // The restore item on a ledger: `row` picked from the list (-1 cancels), then the question answered.
    void restore(const QString& name, int row, bool yes) {
        select(name);
        prompter.rowAnswers = {row};
        prompter.yesNoAnswers = {yes};
        l->restoreAction->trigger();
    }
};

// Right-clicks a row of the workspace grid (-1: its empty part) and picks an
// item of the menu that pops up; false when the item is disabled.
bool pickFromGridMenu(Fixture& d, int row, const QString& item) {
    QTableView* g = d.w->grid1;
    const QPoint pos = row >= 0 ? g->visualRect(g->model()->index(row, 0)).center() : QPoint(5, 5);
    if (row >= 0)
        QTest::mouseClick(g->viewport(), Qt::RightButton, {}, pos);
    bool picked = false;
    QTimer::singleShot(0, g, [&] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        if (!menu)
            return qWarning("no menu popped up");
        for (QAction* a : menu->actions()) {
            if (a->text() == item && a->isEnabled()) {
                picked = true;
                return QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(a).center());
            }
        }
        menu->close();
    });
    QContextMenuEvent ev(QContextMenuEvent::Mouse, pos, g->viewport()->mapToGlobal(pos));
    QApplication::sendEvent(g->viewport(), &ev);
    return picked;
}

const QString kUndo = QStringLiteral("撤销删除(&U)");
const QString kDate = QStringLiteral("修改日期(&D)…");

} // namespace

class TestSafety : public QObject {
    Q_OBJECT

private slots:
    // A delete and its renumbering come back whole, at the old place: offered on
    // its own book only, and only until the book changes or the ledger is left.
    void undoDeleteRestoresRowAndNumbers() {
        Fixture d("3");
        const QStringList names{"甲", "乙", "丙", "丁"};
        for (int i = 1; i <= 4; ++i)
            insert("3", {QString("(%1)2004-5-1%1").arg(i), names[i - 1], "纱", QString::number(i),
                         QString::number(10 * i)});
        const QStringList before = rows("3");
        d.w->show();
        d.w->SpeedButton3->click();
        QVERIFY(!pickFromGridMenu(d, 0, kUndo)); // nothing deleted yet
        const auto del = [&](int row) {
            d.w->table1.moveTo(row);
            d.prompter.yesNoAnswers = {true};
            d.w->btndel->click();
        };
        del(1);
        QCOMPARE(column("3"), (QStringList{"(1)2004-5-11", "(2)2004-5-13", "(3)2004-5-14"}));
        QVERIFY(pickFromGridMenu(d, 2, kUndo));
        QCOMPARE(rows("3"), before);
        QCOMPARE(d.w->table1.currentRow(), 1);
        QCOMPARE(d.viewRow(), 1);
        QCOMPARE(d.status(), QStringLiteral("总共已经进了4次货!应付金额为:100元人民币!"));
        QVERIFY(!pickFromGridMenu(d, 0, kUndo)); // one delete, one undo
        QCOMPARE(d.boxes(), QStringList{"真的要删除该资料吗!"});

        // Not offered on another book; offered again on its own.
        del(0);
        d.w->SpeedButton4->click();
        QVERIFY(!pickFromGridMenu(d, -1, kUndo));
        d.w->SpeedButton3->click();
        QVERIFY(pickFromGridMenu(d, 0, kUndo));
        QCOMPARE(rows("3"), before);

        // A row written to the book ends the offer; so does leaving the ledger.
        del(3);
        d.w->table1.first();
        d.w->table1.edit();
        d.w->table1.setField("货物数目", "9");
        d.w->table1.post();
        QVERIFY(!pickFromGridMenu(d, 0, kUndo));
        del(0);
        d.w->close();
        d.w->show();
        QVERIFY(!pickFromGridMenu(d, 0, kUndo));
        QCOMPARE(rows("3").size(), 2);
    }

    // The calendar opens on the row's date (today when the date cannot be read)
    // and only the date part of that row's stamp changes, in the clock's pattern.
    void changeDateRewritesOnlyTheDatePart_data() {
        QTest::addColumn<int>("row");
        QTest::addColumn<QString>("pattern");
        QTest::addColumn<QDate>("answer"); // none: cancelled
        QTest::addColumn<QDate>("shown");
        QTest::addColumn<QString>("stamp");
        QTest::newRow("its own date") << 0 << "yyyy-M-d" << QDate(2004, 6, 1) << QDate(2004, 5, 12) << "(1)2004-6-1";
        QTest::newRow("another desktop's") << 1 << "yyyy-M-d" << QDate(2004, 5, 3) << QDate(2004, 5, 13) << "(2)2004-5-3";
        QTest::newRow("cancelled") << 2 << "yyyy-M-d" << QDate() << QDate(2004, 2, 29) << "(3)2004-2-29";
        QTest::newRow("another pattern") << 0 << "yyyy/m/d" << QDate(2005, 1, 2) << QDate(2004, 5, 12) << "(1)2005/1/2";
        QTest::newRow("no date") << 3 << "yyyy-M-d" << QDate(2005, 3, 4) << QDate(2026, 12, 8) << "(4)2005-3-4";
    }
    void changeDateRewritesOnlyTheDatePart() {
        QFETCH(int, row);
        QFETCH(QString, pattern);
        QFETCH(QDate, answer);
        QFETCH(QDate, shown);
        QFETCH(QString, stamp);
        Fixture d("2");
        d.clock.set({2026, 12, 8});
        d.clock.setPattern(pattern.toStdString());
        QStringList book = {"(1)2004-5-12|甲|开衫|1|桐乡|314500|10", "(2)5/13/04|乙|开衫|1|桐乡|314500|20",
                            "(3)2004-2-29|丙|开衫|1|桐乡|314500|30", "(4)上月|丁|开衫|1|桐乡|314500|40"};
        for (const QString& r : book)
            insert("2", r.split('|'));
        insert("1", {"张三", "", "", "", ""});
        d.w->show();
        d.w->SpeedButton2->click();
        d.prompter.dateAnswers = {answer};
        QVERIFY(pickFromGridMenu(d, row, kDate));
        QCOMPARE(d.prompter.shownDate, shown);
        book[row] = stamp + book[row].mid(book[row].indexOf('|'));
        QCOMPARE(rows("2"), book);
        QCOMPARE(d.boxes(), QStringList{"修改日期!"});
        // Customers carry no date.
        d.w->SpeedButton1->click();
        QVERIFY(!pickFromGridMenu(d, 0, kDate));
    }

    // Leaving a changed ledger takes a snapshot; an unchanged one takes none. The
    // end of the program backs up every changed ledger and the index.
    void backupsOnLeavingAndEnding() {
        Chooser c;
        QCOMPARE(snapshotCount("甲.mdb"), 1); // created, then left
        c.enter("甲");
        c.w->close();
        QCOMPARE(snapshotCount("甲.mdb"), 1);
        c.enter("甲");
        addCustomer("甲.mdb", "张三");
        c.w->close();
        QCOMPARE(snapshotCount("甲.mdb"), 2);
        QCOMPARE(customerNames("backups/甲.mdb/" + tsl::listSnapshots("甲.mdb").back().name), QStringList{"张三"});

        addCustomer("乙.mdb", "李四");
        const int indexSnapshots = snapshotCount("tsl.mdb");
        QVERIFY(indexSnapshots >= 1);
        c.shutDown();
        QCOMPARE(snapshotCount("乙.mdb"), 2);
        QCOMPARE(snapshotCount("甲.mdb"), 2);
        QCOMPARE(snapshotCount("tsl.mdb"), indexSnapshots); // the index did not change
        QCOMPARE(c.prompter.texts(), QStringList());
        QVERIFY(tsl::fileExists("run.dll"));
    }

    // A backup that cannot be written is reported once and never stops the leave.
    void failedBackupIsReportedOnceAndLeavesAnyway() {
        Chooser c;
        QDir().rename("backups", "old-backups");
        tsltest::writeFile("backups", "a file where the folder should be");
        for (int i = 0; i < 2; ++i) {
            c.enter("甲");
            addCustomer("甲.mdb", "x");
            c.w->close();
            QVERIFY(!c.w->isVisible());
            QVERIFY(c.l->isVisible());
        }
        const QStringList shown = c.prompter.take();
        QCOMPARE(shown.size(), 1);
        QVERIFY(shown[0].startsWith("自动备份失败,帐本本身没有受影响!\n甲.mdb: "));
        QCOMPARE(customerNames("甲.mdb"), (QStringList{"x", "x"}));
    }

    // A backup that fails at the end (a damaged index always fails it) is
    // reported after the index is back under "run.dll": a logout that ends the
    // program while the box is up leaves nothing under the running name.
    void failedBackupAtTheEndComesAfterTheIndexIsBack() {
        Chooser c;
        QDir().rename("backups", "old-backups");
        tsltest::writeFile("backups", "a file where the folder should be");
        addCustomer("甲.mdb", "x");
        QStringList filesWhileShown;
        c.prompter.onMessage = [&](const QString&) {
            filesWhileShown = QDir().entryList({"run.dll", "tsl.mdb"}, QDir::Files);
        };
        c.shutDown();
        QCOMPARE(filesWhileShown, QStringList{"run.dll"});
        const QStringList shown = c.prompter.take();
        QCOMPARE(shown.size(), 1);
        QVERIFY2(shown[0].startsWith("自动备份失败,帐本本身没有受影响!\n"), qPrintable(shown[0]));
        QVERIFY2(shown[0].contains("\"backups\"是一个链接或不是本程序建立的文件") && shown[0].contains("甲.mdb"), qPrintable(shown[0]));
    }

    // Storage failures reach the default error box in Chinese, naming the file,
    // instead of the engine's English.
    void storageFailuresShowInChinese_data() {
        QTest::addColumn<int>("code"); // 0: the book's table dropped behind the program's back
        QTest::addColumn<QString>("shown");
        QTest::newRow("full disk") << SQLITE_FULL << "磁盘已满,无法写入文件\"x.mdb\"!";
        QTest::newRow("I/O error") << SQLITE_IOERR_WRITE << "读写文件\"x.mdb\"时磁盘出错!";
        QTest::newRow("missing table") << 0 << "文件\"x.mdb\"中找不到表\"1\"!";
    }
    void storageFailuresShowInChinese() {
        QFETCH(int, code);
        QFETCH(QString, shown);
        tsltest::FaultyVfs disk;
        Fixture d(tsl::table::customers);
        d.w->btnaddClick();
        Tkhl& k = *d.roster->khl;
        k.edname->setText("张三");
        if (code)
            disk.failNextWrite("-journal", code);
        else
            tsltest::sqlExec(kFile, "DROP TABLE \"1\"");
        k.btn->click();
        QCOMPARE(d.boxes(), QStringList{shown});
        if (code) // the row stays unwritten
            QCOMPARE(tsltest::sqlColumn(kFile, "SELECT count(*) FROM \"1\""), std::vector<std::string>{"0"});
    }

    // Restore from the chooser: the list shows each snapshot's books, the restore
    // keeps what it replaced, and an entered ledger is refused until left.
    void restoreFromTheChooser() {
        Chooser c;
        QVERIFY(!c.l->restoreAction->isEnabled());
        QVERIFY(c.l->list1->actions().contains(c.l->restoreAction));
        c.enter("甲");
        tsltest::sqlExec("甲.mdb", "INSERT INTO \"1\" VALUES ('张三','','','','');"
                                   "INSERT INTO \"2\" VALUES ('(1)d','n','k','1','a','p','5')");
        c.w->close();

        c.enter("甲");
        c.restore("甲", -1, false);
        QCOMPARE(c.prompter.take(), QStringList{"帐本正在使用,请先退出该帐本再恢复!"});
        c.w->close();

        c.restore("乙", -1, false); // the list, cancelled
        QCOMPARE(c.prompter.shownRows.size(), 1);
        QCOMPARE(c.prompter.take(), QStringList{"从备份恢复!"});

        c.restore("甲", 1, true); // the older one: newest first
        QCOMPARE(c.prompter.shownRows.size(), 2);
        QCOMPARE(c.prompter.shownRows[0].mid(1), (QStringList{"1", "1", "0", "0"}));
        QCOMPARE(c.prompter.shownRows[1].mid(1), (QStringList{"0", "0", "0", "0"}));
        const QStringList shown = c.prompter.take();
        QCOMPARE(shown.size(), 3);
        QVERIFY(shown[1].startsWith("要把帐本\"甲\"恢复到"));
        QVERIFY(shown[2].startsWith("帐本恢复成功!\n恢复前的内容已备份为"));
        QCOMPARE(customerNames("甲.mdb"), QStringList());
        c.enter("甲");
        QCOMPARE(c.w->statusSummary(), QStringLiteral("总共有0个客户!"));
        c.w->close();
        QCOMPARE(snapshotCount("甲.mdb"), 2); // unchanged since the restore: no new snapshot

        // And back: the newest snapshot holds what the restore replaced. No changes nothing.
        // A journal a kill left before its header was written does not stand in the way.
        tsltest::writeFile("甲.mdb-journal", std::string(512, '\0'));
        c.restore("甲", 0, true);
        QVERIFY(!QFile::exists("甲.mdb-journal"));
        c.restore("甲", 1, false);
        QCOMPARE(customerNames("甲.mdb"), QStringList{"张三"});
    }

    // Names never reach into the snapshots; a copy of everything goes to a new folder.
    void snapshotsAreNoLedgersAndBackupAllCopiesEverything() {
        Chooser c;
        const std::string snapshot = "backups/甲.mdb/" + tsl::listSnapshots("甲.mdb").front().name;
        const QString sneaky = QString::fromStdString(snapshot).chopped(4);
        tsltest::sqlExec("tsl.mdb", "INSERT INTO \"5\" VALUES ('" + sneaky.toStdString() + "')");
        c.l->list1->addItem(sneaky);
        const std::string before = tsltest::readFile(snapshot);
        c.enter(sneaky);
        QCOMPARE(c.prompter.take(), QStringList{"无法打开帐本!"});
        QVERIFY(!c.w->isVisible());
        QCOMPARE(tsltest::readFile(snapshot), before);

        QDir().mkdir("stick");
        // What a copy cut short left there goes with the next one.
        QDir().mkpath("stick/tessolan-备份-20261207-100000.tmp-AbC123");
        tsltest::writeFile("stick/tessolan-备份-20261207-100000.tmp-AbC123/run.dll", "half");
        c.prompter.folderAnswers = {"stick"};
        c.l->backupAllAction->trigger();
        const QStringList shown = c.prompter.take();
        QCOMPARE(shown.size(), 2);
        QVERIFY(shown[1].startsWith("全部帐本已备份到:\nstick/tessolan-备份-"));
        const QStringList made = QDir("stick").entryList(QDir::Dirs | QDir::NoDotAndDotDot);
        QCOMPARE(made.size(), 1);
        QCOMPARE(QDir("stick/" + made[0]).entryList(QDir::Files, QDir::Name),
                 (QStringList{"run.dll", "乙.mdb", "甲.mdb"}));
        c.l->backupAllAction->trigger(); // cancelled
        QCOMPARE(c.prompter.take(), QStringList{"备份全部帐本到"});
    }
};

QTEST_MAIN(TestSafety)
#include "tst_safety.moc"
