// The workspace's add, edit and delete commands, with a ledger open.
#include "tests/forms/ledgerfixture.h"

#include "widgets/amountspin.h"
#include "forms/fhbd.h"
#include "forms/jhbd.h"
#include "forms/khlx.h"
#include "tests/support/faultyvfs.h"
#include "forms/zgjh.h"
#include "widgets/gridmodel.h"

#include <QLineEdit>
#include <QSignalSpy>
#include <QPushButton>

#include <sqlite3.h>

#include <algorithm>

#include <sys/wait.h>
#include <unistd.h>

using namespace ledger;

namespace {

QStringList entries(const DropDown* d) {
    QStringList out;
    for (int i = 0; i < d->count(); ++i)
        out << d->itemText(i);
    return out;
}

// The dialog a movement book's add command fills, with its name and kind boxes.
struct Target {
    QWidget* win;
    DropDown* name;
    DropDown* kind;
    std::string_view nameList;
    std::string_view kindList;
};

Target targetFor(Roster& r, const QString& view) {
    if (view == "2")
        return {r.fhb.get(), r.fhb->edname, r.fhb->edzl, tsl::table::customerNames, tsl::table::garmentKinds};
    if (view == "3")
        return {r.jhb.get(), r.jhb->edly, r.jhb->edzl, tsl::table::purchaseSources, tsl::table::purchaseKinds};
    return {r.zgj.get(), r.zgj->edname, r.zgj->edzl, tsl::table::workerNames, tsl::table::workKinds};
}

void movementViews() {
    QTest::addColumn<QString>("view");
    QTest::newRow("shipments") << "2";
    QTest::newRow("purchases") << "3";
    QTest::newRow("deliveries") << "4";
}

int commits = 0;
int countCommit(void*) {
    ++commits;
    return 0;
}

} // namespace

class TestCommands : public QObject {
    Q_OBJECT

private slots:
    // The add command appends the lists in stored order and selects the first;
    // it never clears, so a second add while the dialog is open lists everything twice.
    void addFillsLists_data() { movementViews(); }
    void addFillsLists() {
        QFETCH(QString, view);
        Fixture d(view.toStdString());
        Target t = targetFor(*d.roster, view);
        insert(t.kindList, {"k"});
        d.w->btnaddClick();
        QVERIFY(t.win->isVisible());
        QCOMPARE(t.name->currentIndex(), -1);
        QCOMPARE(t.name->text(), QString());
        QCOMPARE(t.kind->text(), QStringLiteral("k"));
        t.win->close();

        for (const char* e : {"乙", "甲", "乙"})
            insert(t.nameList, {e});
        d.w->btnaddClick();
        QCOMPARE(d.boxes(), QStringList());
        QCOMPARE(entries(t.name), (QStringList{"乙", "甲", "乙"}));
        QCOMPARE(t.name->currentIndex(), 0);
        QCOMPARE(t.name->text(), QStringLiteral("乙"));

        t.name->setCurrentIndex(1);
        t.kind->setText("typed");
        d.w->btnaddClick();
        QCOMPARE(entries(t.name), (QStringList{"乙", "甲", "乙", "乙", "甲", "乙"}));
        QCOMPARE(entries(t.kind), (QStringList{"k", "k"}));
        QCOMPARE(t.name->text(), QStringLiteral("乙"));
        QCOMPARE(t.kind->text(), QStringLiteral("k"));
        t.win->close();
        d.w->btnaddClick();
        QCOMPARE(entries(t.name), (QStringList{"乙", "甲", "乙"}));
    }

    void addOverAnOpenEditSwitchesToAddMode() {
        Fixture d(tsl::table::purchases);
        insert(tsl::table::purchases, {"(1)x", "源", "种", "3", "40"});
        insert(tsl::table::purchaseSources, {"列源"});
        d.open(tsl::table::purchases);
        Tjhb& j = *d.roster->jhb;
        d.w->btneditClick();
        QCOMPARE(j.edly->count(), 0);
        d.w->btnaddClick();
        QCOMPARE(j.btn->text(), QStringLiteral("添加"));
        QCOMPARE(j.edly->text(), QStringLiteral("列源"));
        QCOMPARE(j.edzl->text(), QStringLiteral("种")); // empty list: the edited text stays
        QCOMPARE(j.edsm->text(), QStringLiteral("3"));
        QCOMPARE(j.edje->text(), QStringLiteral("40"));
    }

    void addWithMissingListReportsAndShowsNothing() {
        Fixture d(tsl::table::shipments);
        d.reshape("DROP TABLE \"temp5\"");
        d.open(tsl::table::shipments);
        insert(tsl::table::customerNames, {"n"});
        d.w->btnaddClick();
        const QStringList shown = d.boxes();
        QCOMPARE(shown.size(), 1);
        QVERIFY2(shown[0].contains("temp5"), qPrintable(shown[0]));
        QVERIFY(!d.roster->fhb->isVisible());
        QCOMPARE(entries(d.roster->fhb->edname), QStringList{"n"}); // what was filled stays until the next close
    }

    void editCopiesCurrentRow_data() {
        QTest::addColumn<QString>("book");
        QTest::addColumn<QStringList>("row");
        QTest::addColumn<QStringList>("shown"); // the dialog's boxes, in order
        QTest::newRow("customers") << "1" << QStringList{"乙", "地址乙", "4", "5", "6"}
                                   << QStringList{"乙", "地址乙", "4", "5", "6"};
        QTest::newRow("shipments") << "2" << QStringList{"(1)s", "客", "种", "2", "地", "邮", "9"}
                                   << QStringList{"客", "种", "2", "地", "邮", "9"};
        QTest::newRow("purchases") << "3" << QStringList{"(1)p", "源", "货", "7", "8"}
                                   << QStringList{"源", "货", "7", "8"};
        QTest::newRow("deliveries") << "4" << QStringList{"(1)d", "工", "套口", "5", "6"}
                                    << QStringList{"工", "套口", "5", "6"};
    }
    void editCopiesCurrentRow() {
        QFETCH(QString, book);
        QFETCH(QStringList, row);
        QFETCH(QStringList, shown);
        const std::string b = book.toStdString();
        Fixture d(b);
        insert(b, QStringList(row.size(), "1"));
        insert(b, row);
        d.open(b);
        d.w->table1.moveTo(1);
        d.w->btneditClick();
        Roster& r = *d.roster;
        QWidget* win = nullptr;
        QStringList got;
        if (book == "1") {
            win = r.khl.get();
            got = {r.khl->edname->text(), r.khl->edadd->text(), r.khl->edyb->text(), r.khl->eddh->text(),
                   r.khl->edsj->text()};
        } else if (book == "2") {
            win = r.fhb.get();
            got = {r.fhb->edname->text(), r.fhb->edzl->text(), r.fhb->edsm->text(),
                   r.fhb->edadd->text(),  r.fhb->edyb->text(), r.fhb->edje->text()};
            QCOMPARE(r.fhb->edname->count(), 0);
        } else if (book == "3") {
            win = r.jhb.get();
            got = {r.jhb->edly->text(), r.jhb->edzl->text(), r.jhb->edsm->text(), r.jhb->edje->text()};
        } else {
            win = r.zgj.get();
            got = {r.zgj->edname->text(), r.zgj->edzl->text(), r.zgj->edsm->text(), r.zgj->edje->text()};
        }
        QVERIFY(win->isVisible());
        QCOMPARE(win->findChild<QPushButton*>("btn")->text(), QStringLiteral("修改"));
        QCOMPARE(got, shown);
        QCOMPARE(d.boxes(), QStringList());
    }

    void deleteAnsweredNoChangesNothing() {
        Fixture d(tsl::table::purchases);
        insertStamped(tsl::table::purchases, {"(5)a", "(7)b"});
        d.open(tsl::table::purchases);
        d.prompter.yesNoAnswers = {false};
        d.w->btndelClick();
        QCOMPARE(d.boxes(), QStringList{"真的要删除该资料吗!"});
        QCOMPARE(column(tsl::table::purchases), (QStringList{"(5)a", "(7)b"}));
    }

    void deleteRenumbersTheRest_data() { movementViews(); }
    void deleteRenumbersTheRest() {
        QFETCH(QString, view);
        const std::string book = view.toStdString();
        Fixture d(book);
        insertStamped(book, {"(1)2004-5-10", "(2)2004-5-11", "(3)2004-5-12"});
        d.open(book);
        d.w->table1.moveTo(1);
        d.prompter.yesNoAnswers = {true};
        QSignalSpy redrawn(d.w->data1, &QAbstractItemModel::dataChanged);
        d.w->btndelClick();
        QCOMPARE(d.boxes(), QStringList{"真的要删除该资料吗!"});
        QCOMPARE(column(book), (QStringList{"(1)2004-5-10", "(2)2004-5-12"}));
        // The grid draws the renumbered row again.
        QVERIFY(std::any_of(redrawn.begin(), redrawn.end(), [](const QList<QVariant>& a) {
            return a[0].toModelIndex().row() <= 1 && a[1].toModelIndex().row() >= 1;
        }));
        // The other fields are left as they were.
        QCOMPARE(column(book, tsl::findTable(book)->fields[1]), (QStringList{"(1)2004-5-10", "(3)2004-5-12"}));
        QCOMPARE(d.w->table1.recNo(), 2); // the last row is current afterwards
    }

    void renumberingRewritesUpToTheFirstParenthesis() {
        Fixture d(tsl::table::deliveries);
        insertStamped(tsl::table::deliveries, {"(1)gone", ")x", "(12)", "no stamp", "", "(9)a)b", "abc)d", "(5)z"});
        d.open(tsl::table::deliveries);
        d.prompter.yesNoAnswers = {true};
        d.w->btndelClick();
        QCOMPARE(column(tsl::table::deliveries),
                 (QStringList{"(1)x", "(2)", "no stamp", "", "(5)a)b", "(6)d", "(7)z"}));
    }

    void deleteCustomerTouchesNoOtherRow() {
        Fixture d(tsl::table::customers);
        for (const char* n : {"(1)a", "(2)b", "(3)c"})
            insert(tsl::table::customers, {n, "x", "", "", ""});
        d.open(tsl::table::customers);
        d.prompter.yesNoAnswers = {true};
        d.w->btndelClick();
        QCOMPARE(column(tsl::table::customers), (QStringList{"(2)b", "(3)c"}));
        QCOMPARE(d.w->table1.recNo(), 1); // the row that followed
    }

    void deleteOnlyRowThenAgain() {
        Fixture d(tsl::table::shipments);
        insertStamped(tsl::table::shipments, {"(1)a"});
        d.open(tsl::table::shipments);
        d.prompter.yesNoAnswers = {true, true};
        d.w->btndelClick();
        QCOMPARE(column(tsl::table::shipments), QStringList());
        d.boxes();
        d.w->btndelClick();
        QCOMPARE(d.boxes(), QStringList{"请选择要删除的对象!"});
    }

    // One transaction for the whole renumbering, not one commit per row.
    void renumberingCommitsOnce() {
        Fixture d(tsl::table::purchases);
        QStringList stamps;
        for (int i = 1; i <= 50; ++i)
            stamps << QString("(%1)d").arg(i);
        insertStamped(tsl::table::purchases, stamps);
        d.open(tsl::table::purchases);
        d.prompter.yesNoAnswers = {true};
        commits = 0;
        sqlite3_commit_hook(d.w->ado1.handle(), countCommit, nullptr);
        d.w->btndelClick();
        sqlite3_commit_hook(d.w->ado1.handle(), nullptr, nullptr);
        QVERIFY2(commits <= 2, qPrintable(QString::number(commits))); // the removal's own, then the renumbering
        QCOMPARE(column(tsl::table::purchases).last(), QStringLiteral("(49)d"));
    }

    void renumberingFailureKeepsRowsDoneBefore() {
        Fixture d(tsl::table::purchases);
        // Rowids 1, 2, 4, 5: the renumbering after row 1 goes out in two runs, 2 and 4..5.
        insertStamped(tsl::table::purchases, {"(1)a", "(2)b", "(3)c", "(3)d", "(4)e"});
        execSql("DELETE FROM \"3\" WHERE rowid = 3");
        d.reshape("CREATE TRIGGER refuse BEFORE UPDATE ON \"3\" WHEN NEW.\"日期\" = '(2)d' "
                  "BEGIN SELECT RAISE(ABORT, 'refused by trigger'); END;");
        d.open(tsl::table::purchases);
        d.prompter.yesNoAnswers = {true};
        d.w->btndelClick();
        const QStringList shown = d.boxes();
        QCOMPARE(shown.size(), 2);
        QVERIFY2(shown[1].contains("refused by trigger"), qPrintable(shown[1]));
        QCOMPARE(column(tsl::table::purchases), (QStringList{"(1)b", "(3)d", "(4)e"}));
        QVERIFY(!d.w->table1.pending());
        QVERIFY(sqlite3_get_autocommit(d.w->ado1.handle()) != 0);                  // no transaction left open
        execSql("INSERT INTO \"3\" VALUES ('(5)f','','','','1')"); // the file is not locked
    }

    // A full disk or an I/O error while removing makes SQLite end the transaction
    // itself. The delete step stays silent, the renumbering rewrites the numbers
    // the book still has, and no transaction is left open.
    void deleteFailingOnTheDiskStaysSilent_data() {
        QTest::addColumn<int>("code");
        QTest::newRow("full disk") << SQLITE_FULL;
        QTest::newRow("I/O error") << SQLITE_IOERR_WRITE;
    }
    void deleteFailingOnTheDiskStaysSilent() {
        QFETCH(int, code);
        tsltest::FaultyVfs disk;
        Fixture d(tsl::table::purchases);
        insertStamped(tsl::table::purchases, {"(1)a", "(2)b", "(3)c"});
        d.open(tsl::table::purchases);
        d.w->table1.moveTo(1);
        d.prompter.yesNoAnswers = {true};
        disk.failNextWrite("-journal", code);
        d.w->btndelClick();
        QCOMPARE(disk.failures(), 1);
        QCOMPARE(d.boxes(), QStringList{"真的要删除该资料吗!"});
        QCOMPARE(column(tsl::table::purchases), (QStringList{"(1)a", "(2)b", "(3)c"}));
        QCOMPARE(d.w->table1.recordCount(), 3);
        QVERIFY(sqlite3_get_autocommit(d.w->ado1.handle()) != 0);
        // The next delete works as usual.
        d.w->table1.moveTo(1);
        d.prompter.yesNoAnswers = {true};
        d.w->btndelClick();
        QCOMPARE(column(tsl::table::purchases), (QStringList{"(1)a", "(2)c"}));
    }

    // The program dies, every time, between the removal and the first renumbering
    // post. The book then holds the row with the old numbers: never the removal
    // without its renumbering, which would leave a gap.
    void deleteKilledBeforeRenumberingLeavesNoGap() {
        Fixture d(tsl::table::shipments);
        insertStamped(tsl::table::shipments, {"(1)a", "(2)b", "(3)c"});
        d.open(tsl::table::shipments);
        d.prompter.yesNoAnswers = {true};
        const pid_t pid = fork();
        if (pid == 0) {
            // Dies as the first renumbering post reaches the file, the removal done.
            sqlite3_update_hook(
                d.w->ado1.handle(),
                [](void*, int op, const char*, const char*, sqlite3_int64) {
                    if (op == SQLITE_UPDATE)
                        _exit(7);
                },
                nullptr);
            d.w->btndelClick();
            _exit(1);
        }
        int status = 0;
        QCOMPARE(waitpid(pid, &status, 0), pid);
        QVERIFY2(WIFEXITED(status) && WEXITSTATUS(status) == 7, "the kill point was not reached");
        QCOMPARE(column(tsl::table::shipments), (QStringList{"(1)a", "(2)b", "(3)c"}));
    }
};

QTEST_MAIN(TestCommands)
#include "tst_commands.moc"
