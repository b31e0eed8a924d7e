// The chooser on a real server: connecting and going back, what it keeps in
// the user's settings, its commands on the server's ledgers, ledgers moved up
// and down, a server that cannot be reached, and the workspace's exports and
// 年度统计 on a server ledger.
#include "tests/forms/formsfixture.h"

#include "forms/Unit1.h"
#include "forms/fhbd.h"
#include "forms/roster.h"
#include "storage/cursor.h"
#include "forms/lb.h"
#include "forms/ndtj.h"
#include "storage/backup.h"
#include "storage/pgsession.h"
#include "storage/serverbackup.h"
#include "tests/export/exporttest.h"
#include "tests/support/pgserver.h"

#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QSettings>
#include <QTest>
#include <QToolButton>

using tsltest::sqlColumn;
using tsltest::sqlExec;

namespace {

tsltest::PgServer& server() {
    static tsltest::PgServer pg;
    return pg;
}

QString freshDatabase(const std::string& name) {
    tsl::pg::Session admin(server().uri());
    admin.exec("DROP DATABASE IF EXISTS " + tsl::pg::quoteIdent(name) + " WITH (FORCE)");
    admin.exec("CREATE DATABASE " + tsl::pg::quoteIdent(name));
    return QString::fromStdString(server().uri(name));
}

QStringList listed(const Tl& l) {
    QStringList out;
    for (int i = 0; i < l.list1->count(); ++i)
        out << l.list1->item(i)->text();
    return out;
}

void choose(Tl& l, const QString& line) { l.list1->setCurrentRow(int(listed(l).indexOf(line))); }

// A chooser over a folder with the local ledger "本地" (one shipment in it).
Tl& start(FormsFixture& f) {
    f.seedIndex();
    sqlExec("run.dll", "INSERT INTO \"5\" VALUES('本地')");
    f.dir.seedIndex("本地.mdb");
    sqlExec("本地.mdb", "INSERT INTO \"2\"(\"日期\", \"客户姓名\", \"总金额\") VALUES('(1)2004-5-12', '张三', '9')");
    return *f.create().l;
}

QString lastText(FormsFixture& f) { return f.prompter.boxes.empty() ? QString() : f.prompter.boxes.back().text; }

} // namespace

class TestServerStore : public QObject {
    Q_OBJECT

private slots:
    void connectCommandsMovesAndBack() {
        FormsFixture f;
        const QString address = freshDatabase("chooser");
        Tl& l = start(f);
        QVERIFY(l.storeLabel->isHidden() && !l.onServer()); // the plain chooser as it always was

        // A password in the address is used, never kept.
        QString withPassword = address;
        withPassword.replace("tessolan@", "tessolan:geheim@");
        f.prompter.inputAnswers = {withPassword};
        l.connectAction->trigger();
        QVERIFY2(l.onServer(), qPrintable(f.prompter.texts().join('|')));
        QCOMPARE(listed(l), QStringList());
        QCOMPARE(l.storeLabel->text(), "本机服务器");
        const QString kept = storedServerAddress();
        QVERIFY(!kept.isEmpty() && !kept.contains("geheim"));

        // 新建帐本 and 重命名 act on the server; the same name twice is refused.
        f.prompter.inputAnswers = {"  2026  ", "2026", "2027"};
        l.BitBtn2->click();
        l.BitBtn2->click();
        QCOMPARE(lastText(f), "帐本名称已存在,请改名!");
        choose(l, "2026");
        l.renameAction->trigger();
        QCOMPARE(listed(l), QStringList{"2027"});
        // Two programs have it open: counted, and it is not deleted under them.
        tsl::pg::Session a(address.toStdString()), b(address.toStdString());
        tsl::pg::holdLedger(a, "2027");
        tsl::pg::holdLedger(b, "2027");
        l.refreshAction->trigger();
        QCOMPARE(listed(l), QStringList{"2027 (2台电脑)"});
        choose(l, "2027 (2台电脑)");
        l.deleteAction->trigger();
        QCOMPARE(lastText(f), "帐本\"2027\"正在被2台电脑使用,不能删除!");
        // 进入帐本 opens it over the server, held while entered (the others count
        // three), let go on leaving.
        l.BitBtn1->click();
        TForm1& ws = *f.roster->Form1;
        QVERIFY2(ws.isVisible() && ws.ado1.onServer(), qPrintable(f.prompter.texts().join('|')));
        QCOMPARE(ws.windowTitle(), "帐本名称:2027");
        QCOMPARE(tsl::pg::openCounts(a).front().programs, 3);
        ws.SpeedButton2->click();
        // Another desk's row shows within a second; an edit of a row that desk
        // changes while the dialog is up is refused, and its value stays.
        const std::string book = tsl::pg::quoteIdent(tsl::pg::ownSchemaOf(a, "2027")) + ".\"2\"";
        a.exec("INSERT INTO " + book + " (\"日期\", \"客户姓名\", \"总金额\") VALUES ('(1)2004-5-12', '李四', '5')");
        a.exec("SELECT pg_notify($1, '')", {"tessolan_" + tsl::pg::ownSchemaOf(a, "2027")});
        QTRY_COMPARE_WITH_TIMEOUT(ws.table1.recordCount(), 1, 1000);
        ws.btnedit->click();
        a.exec("UPDATE " + book + " SET \"总金额\" = '7'");
        f.roster->fhb->btn->click();
        QVERIFY(lastText(f).startsWith(tsl::kRowChangedText));
        QCOMPARE(QString::fromStdString(a.exec("SELECT \"总金额\" FROM " + book).text(0, 0)), QString("7"));
        f.roster->fhb->close();
        ws.SpeedButton7->click();
        QVERIFY(l.isVisible());
        QCOMPARE(listed(l), QStringList{"2027 (2台电脑)"});

        // Up from the local folder and down again under another name.
        f.prompter.rowAnswers = {0};
        f.prompter.inputAnswers = {"上传的"};
        l.uploadAction->trigger();
        QCOMPARE(listed(l), (QStringList{"2027 (2台电脑)", "上传的"}));
        choose(l, "上传的");
        f.prompter.inputAnswers = {"本地", "下载的"};
        l.downloadAction->trigger();
        QCOMPARE(lastText(f), "帐本名称已存在,请改名!");
        l.downloadAction->trigger();
        QCOMPARE(sqlColumn("下载的.mdb", "SELECT \"客户姓名\" FROM \"2\""), std::vector<std::string>{"张三"});

        // The next start lists the server again; 断开服务器 goes back for good.
        f.shutDown();
        QCOMPARE(sqlColumn("run.dll", "SELECT name FROM \"5\" ORDER BY rowid"),
                 (std::vector<std::string>{"本地", "下载的"}));
        // Ending on the server's list still keeps snapshots of the local ledgers.
        QCOMPARE(tsl::listSnapshots("下载的.mdb").size(), std::size_t(1));
        QVERIFY(tsl::listSnapshots("上传的.mdb").empty());
        Tl& again = *f.create().l;
        QVERIFY(again.onServer() && !again.storeLabel->isHidden());
        again.disconnectAction->trigger();
        QCOMPARE(listed(again), (QStringList{"本地", "下载的"}));
        QCOMPARE(again.storeLabel->text(), "本机");
        QCOMPARE(storedServerAddress(), QString());
    }

    // Each cause in its own words; the chooser stays on the local folder and
    // keeps the address it had.
    void unreachableServersLeaveTheLocalFolder_data() {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("cause");
        QTest::newRow("no database") << QString::fromStdString(server().uri("nowhere")) << "服务器上没有这个数据库!";
        QTest::newRow("no user") << QString::fromStdString(server().uri()).replace("tessolan@", "nobody@")
                                 << "服务器上没有这个用户!";
        QTest::newRow("nobody listening") << "postgresql://tessolan@127.0.0.1:1/x"
                                          << "连接不上服务器:服务器没有运行,或不接受连接!";
        QTest::newRow("not an address") << "postgresql://h/d?nosuchkey=1" << "服务器地址写得不对:";
    }
    void unreachableServersLeaveTheLocalFolder() {
        QFETCH(QString, address);
        QFETCH(QString, cause);
        FormsFixture f;
        Tl& l = start(f);
        f.prompter.inputAnswers = {address};
        l.connectAction->trigger();
        QVERIFY2(lastText(f).contains(cause), qPrintable(lastText(f)));
        QVERIFY(!l.onServer());
        QCOMPARE(listed(l), QStringList{"本地"});
        QCOMPARE(storedServerAddress(), QString());
    }

    // The server going away mid-session: a lost connection is made again; a
    // stopped server sends the chooser back to the local folder, and the next
    // start says why and stays local.
    // Leaving a server ledger keeps a snapshot of it in the local folder, only
    // when it changed; 从备份恢复… on the server's list puts one back.
    void serverLedgerSnapshotsAndRestore() {
        FormsFixture f;
        const QString address = freshDatabase("snapshots");
        Tl& l = start(f);
        f.prompter.inputAnswers = {address, "2026"};
        l.connectAction->trigger();
        l.BitBtn2->click();
        tsl::pg::Session other(address.toStdString());
        const std::string book = tsl::pg::quoteIdent(tsl::pg::ownSchemaOf(other, "2026")) + ".\"1\"";
        other.exec("INSERT INTO " + book + " (\"姓名\") VALUES ('王五')");
        const std::string key = tsl::serverSnapshotKey(other, "2026");
        TForm1& ws = *f.roster->Form1;
        for (int visit = 0; visit < 2; ++visit) {
            choose(l, "2026");
            l.BitBtn1->click();
            QVERIFY2(ws.isVisible(), qPrintable(f.prompter.texts().join('|')));
            ws.SpeedButton7->click();
        }
        const auto snapshots = tsl::listSnapshots(key);
        QCOMPARE(snapshots.size(), std::size_t(1));
        QCOMPARE(sqlColumn(snapshots.front().path, "SELECT \"姓名\" FROM \"1\""), std::vector<std::string>{"王五"});
        QVERIFY(tsl::listSnapshots("2026.mdb").empty());

        other.exec("DELETE FROM " + book);
        choose(l, "2026");
        QVERIFY(l.restoreAction->isEnabled());
        f.prompter.rowAnswers = {0};
        f.prompter.yesNoAnswers = {true};
        l.restoreAction->trigger();
        QVERIFY2(lastText(f).startsWith("帐本恢复成功!"), qPrintable(lastText(f)));
        QCOMPARE(QString::fromStdString(other.exec("SELECT \"姓名\" FROM " + book).text(0, 0)), QString("王五"));
        QCOMPARE(tsl::listSnapshots(key).size(), std::size_t(2)); // the emptied ledger, kept first

        // The program ended while in the ledger (a logout) backs it up too.
        choose(l, "2026");
        l.BitBtn1->click();
        QVERIFY(ws.isVisible());
        other.exec("INSERT INTO " + book + " (\"姓名\") VALUES ('赵六')");
        // The workspace's exports read the server ledger as it is now; 年度统计
        // compares it with its own snapshots, newest first.
        f.prompter.take();
        f.prompter.saveAnswers = {QDir::current().absoluteFilePath("customers.csv"),
                                  QDir::current().absoluteFilePath("customers.pdf")};
        ws.exportCsvAction->trigger();
        ws.pdfBookAction->trigger();
        QCOMPARE(f.prompter.take().size(), 2); // the two save boxes, no failure
        const std::string csv = tsltest::readFile("customers.csv");
        QVERIFY2(csv.find("王五") < csv.find("赵六") && csv.find("赵六") != std::string::npos, csv.c_str());
        QVERIFY(tsltest::pdfText("customers.pdf").find("赵六") != std::string::npos);
        ws.yearGlanceItem->trigger();
        Tndtj* g = ws.yearGlance();
        QVERIFY2(g && g->isVisible(), qPrintable(f.prompter.texts().join('|')));
        QCOMPARE(g->figures().customers, 2);
        QCOMPARE(g->cbcompare->count(), 3);
        QCOMPARE(g->cbcompare->itemText(2), QString::fromStdString(tsl::snapshotTimeText(snapshots.front())) + "的备份");
        g->cbcompare->setCurrentIndex(2);
        emit g->cbcompare->activated(2);
        QVERIFY2(g->otherFigures() && g->otherFigures()->customers == 1, qPrintable(f.prompter.texts().join('|')));
        g->close();
        f.shutDown();
        const auto last = tsl::listSnapshots(key);
        QCOMPARE(last.size(), std::size_t(3));
        QCOMPARE(sqlColumn(last.back().path, "SELECT \"姓名\" FROM \"1\" ORDER BY rowid"),
                 (std::vector<std::string>{"王五", "赵六"}));
    }

    // 撤销删除 on a server ledger puts the row and its numbers back.
    void undoDeleteOnAServerLedger() {
        FormsFixture f;
        const QString address = freshDatabase("undo");
        Tl& l = start(f);
        f.prompter.inputAnswers = {address, "2026"};
        l.connectAction->trigger();
        l.BitBtn2->click();
        tsl::pg::Session other(address.toStdString());
        const std::string book = tsl::pg::quoteIdent(tsl::pg::ownSchemaOf(other, "2026")) + ".\"3\"";
        other.exec("INSERT INTO " + book + " (\"日期\", \"货物来源\") VALUES ('(1)a', '甲'), ('(2)b', '乙'), ('(3)c', '丙')");
        const auto stamps = [&] {
            const tsl::pg::Result r = other.exec("SELECT \"日期\" FROM " + book + " ORDER BY rowid");
            QStringList out;
            for (int i = 0; i < r.rows(); ++i)
                out << QString::fromStdString(r.text(i, 0));
            return out;
        };
        choose(l, "2026");
        l.BitBtn1->click();
        TForm1& ws = *f.roster->Form1;
        QVERIFY2(ws.isVisible(), qPrintable(f.prompter.texts().join('|')));
        ws.SpeedButton3->click();
        ws.table1.moveTo(0);
        f.prompter.yesNoAnswers = {true};
        ws.btndel->click();
        QCOMPARE(stamps(), (QStringList{"(1)b", "(2)c"}));
        QVERIFY(ws.undoDeleteAction->isEnabled());
        ws.undoDeleteAction->trigger();
        QCOMPARE(stamps(), (QStringList{"(1)a", "(2)b", "(3)c"}));
        QCOMPARE(ws.table1.recordCount(), 3);
        QVERIFY(!ws.undoDeleteAction->isEnabled());
        ws.SpeedButton7->click();
    }

    void aServerGoneMidSession() {
        FormsFixture f;
        const QString address = freshDatabase("gone");
        Tl& l = start(f);
        f.prompter.inputAnswers = {address};
        l.connectAction->trigger();
        QVERIFY(l.onServer());
        tsl::pg::Session admin(server().uri());
        admin.exec("SELECT pg_terminate_backend(pid) FROM pg_stat_activity WHERE datname = 'gone'");
        f.prompter.inputAnswers = {"2026"};
        l.BitBtn2->click();
        QCOMPARE(listed(l), QStringList{"2026"});
        // The workspace's connection dropping is said; it comes back by itself
        // and hears the others again.
        choose(l, "2026");
        l.BitBtn1->click();
        TForm1& ws = *f.roster->Form1;
        QVERIFY(ws.isVisible());
        admin.exec("SELECT pg_terminate_backend(pid) FROM pg_stat_activity WHERE datname = 'gone'");
        QTRY_VERIFY_WITH_TIMEOUT(f.prompter.texts().join('|').contains("与服务器的连接已断开!"), 3000);
        tsl::pg::Session other(address.toStdString());
        const std::string schema = tsl::pg::ownSchemaOf(other, "2026");
        QTRY_VERIFY_WITH_TIMEOUT(ws.ado1.connected() && ws.table1.isOpen(), 5000);
        other.exec("INSERT INTO " + tsl::pg::quoteIdent(schema) + ".\"1\" (\"姓名\") VALUES ('王五')");
        other.exec("SELECT pg_notify($1, '')", {"tessolan_" + schema});
        QTRY_COMPARE_WITH_TIMEOUT(ws.table1.recordCount(), 1, 1000);
        // Its hold came back with it: the others still count this program.
        QCOMPARE(tsl::pg::openCounts(other).front().programs, 1);
        ws.SpeedButton7->click();
        server().stop();
        f.prompter.take();
        l.refreshAction->trigger();
        QVERIFY(!l.onServer());
        QCOMPARE(listed(l), QStringList{"本地"});
        QVERIFY(lastText(f).endsWith("现在列出的是本机的帐本."));
        f.shutDown();
        f.create();
        QVERIFY(lastText(f).startsWith("无法连接服务器!\n连接不上服务器"));
        QVERIFY(!f.roster->l->onServer() && f.roster->l->storeLabel->text() == "本机");
        server().start();
    }
};

QTEST_MAIN(TestServerStore)
#include "tst_serverstore.moc"
