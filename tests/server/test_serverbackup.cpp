// Snapshots of server ledgers on leaving them, and restores written back in
// one transaction.
#include "storage/backup.h"
#include "storage/error.h"
#include "storage/fileops.h"
#include "storage/ledgermove.h"
#include "storage/pgsession.h"
#include "storage/schema.h"
#include "storage/serverbackup.h"
#include "tests/support/pgserver.h"
#include "tests/support/tempdir.h"

#include <gtest/gtest.h>
#include <libpq-fe.h>

#include <cstdio>
#include <string>
#include <thread>
#include <sys/stat.h>
#include <sys/wait.h>
#include <vector>

using tsl::pg::Session;
using Names = std::vector<std::string>;
using tsltest::sqlColumn;
using tsltest::sqlExec;

namespace {

using tsltest::freshDatabase;

Names contents(const std::string& file) { return tsltest::ledgerRows(file); }

// The server ledger's rows, read through a download of its own.
Names serverContents(Session& s, const std::string& ledger) {
    static int n = 0;
    const std::string local = "look" + std::to_string(++n);
    tsl::download(s, ledger, ".", local, "tsl.mdb");
    return contents(local + ".mdb");
}

std::string book(Session& s, const std::string& ledger, const char* table) {
    return tsl::pg::quoteIdent(*tsl::pg::schemaOf(s, ledger)) + "." + tsl::pg::quoteIdent(table);
}

// The exporter run from a shell: its status and what it said.
std::pair<int, std::string> exporter(const std::string& args) {
    std::string out;
    FILE* p = ::popen(("TMPDIR=tmp " + std::string(TSL_EXPORT_CLI) + " " + args + " 2>&1").c_str(), "r");
    if (!p)
        return {-1, "popen failed"};
    char buf[4096];
    for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;)
        out.append(buf, n);
    const int st = ::pclose(p);
    return {WIFEXITED(st) ? WEXITSTATUS(st) : -1, out};
}

} // namespace

TEST(ServerBackup, KeysNeverMeetALedgerFileOrAnotherFolder) {
    struct Case {
        const char* host;
        const char* port;
        const char* db;
        std::string ledger;
        std::string key;
    };
    const std::vector<Case> cases{
        {"db1", "5432", "books", "2026", "2026@db1:5432@books.pg"},
        {"/run/postgresql", "5432", "b@x", "../a/b", "..%2Fa%2Fb@%2Frun%2Fpostgresql:5432@b%40x.pg"},
        {"h", "1", "d", "50%\n", "50%25%0A@h:1@d.pg"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(tsl::serverSnapshotKey(c.host, c.port, c.db, c.ledger), c.key);
        EXPECT_NO_THROW((void)tsl::snapshotFolder(c.key));
    }
    // A long name is cut short on a character's edge, and two long names differ.
    const std::string a = tsl::serverSnapshotKey("h", "1", "d", std::string(100, 'x') + std::string(60, '\xe5'));
    const std::string b = tsl::serverSnapshotKey("h", "1", "d", std::string(100, 'x') + std::string(61, '\xe5'));
    EXPECT_LE(a.size(), 170u);
    EXPECT_NE(a, b);
}

TEST(ServerBackup, LeavingTakesASnapshotOnlyWhenTheRowsChanged) {
    tsltest::TempDir dir;
    dir.seedIndex("tsl.mdb");
    dir.seedIndex("2026.mdb"); // a local ledger of the same name keeps its own snapshots
    sqlExec("2026.mdb", "INSERT INTO \"1\"(\"姓名\") VALUES('本地')");
    Session s(freshDatabase("leaving"));
    tsl::pg::ensureLayout(s);
    tsl::upload("2026.mdb", s, "2026");
    s.exec("INSERT INTO " + book(s, "2026", "2") + "(\"日期\", \"客户姓名\") VALUES ('(1)2026-12-9', '张三')");
    const std::string key = tsl::serverSnapshotKey(s, "2026");
    std::time_t now = 1'800'000'000;

    struct Step {
        const char* what;
        std::string sql; // run on the server first; none for an unchanged ledger
        bool taken;
    };
    const std::vector<Step> steps{
        {"first leave", "", true},
        {"unchanged", "", false},
        {"a field changed", "UPDATE " + book(s, "2026", "2") + " SET \"客户姓名\" = '李四'", true},
        {"unchanged again", "", false},
        // The same row again under a new row id: its place in the book changed.
        {"a row moved",
         "WITH d AS (DELETE FROM " + book(s, "2026", "1") + " RETURNING \"姓名\") INSERT INTO " +
             book(s, "2026", "1") + "(\"姓名\") SELECT \"姓名\" FROM d",
         true},
        {"a row deleted", "DELETE FROM " + book(s, "2026", "2"), true},
    };
    std::size_t count = 0;
    for (const Step& st : steps) {
        SCOPED_TRACE(st.what);
        if (!st.sql.empty())
            s.exec(st.sql);
        const auto snap = tsl::backupServerLedger(s, "2026", "tsl.mdb", ++now);
        ASSERT_TRUE(snap);
        count += st.taken;
        const auto all = tsl::listSnapshots(key);
        ASSERT_EQ(all.size(), count);
        EXPECT_EQ(snap->path, all.back().path);
        EXPECT_EQ(contents(snap->path), serverContents(s, "2026"));
    }
    EXPECT_TRUE(tsl::listSnapshots("2026.mdb").empty());
    EXPECT_FALSE(tsl::serverLedgerChanged(s, "2026"));
}

TEST(ServerBackup, RestoreWritesBackInOneTransactionAndTellsTheOthers) {
    tsltest::TempDir dir;
    dir.seedIndex("tsl.mdb");
    dir.seedIndex("src.mdb");
    sqlExec("src.mdb", "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 1500) "
                       "INSERT INTO \"4\" SELECT '(' || i || ')2026-12-9', '工' || (i % 7), '套口', i, i * 3 FROM n");
    sqlExec("src.mdb", "INSERT INTO \"1\"(\"姓名\") VALUES('王五'), (NULL), ('')");
    const std::string uri = freshDatabase("restore");
    Session s(uri);
    tsl::pg::ensureLayout(s);
    tsl::upload("src.mdb", s, "L");
    const std::string key = tsl::serverSnapshotKey(s, "L");
    const auto good = tsl::backupServerLedger(s, "L", "tsl.mdb", 1'800'000'000);
    ASSERT_TRUE(good);

    // Later work on the server, then the restore.
    s.exec("DELETE FROM " + book(s, "L", "4") + " WHERE rowid % 3 = 0");
    s.exec("UPDATE " + book(s, "L", "1") + " SET \"地址\" = '杭州'");
    const Names later = serverContents(s, "L");
    Session other(uri);
    other.exec("LISTEN " + tsl::pg::quoteIdent("tessolan_" + *tsl::pg::schemaOf(s, "L")));
    const std::string kept = tsl::restoreServerLedger(s, "L", *good, "tsl.mdb", 1'800'000'100);
    EXPECT_EQ(serverContents(s, "L"), contents("src.mdb"));
    ASSERT_NE(kept, good->path);
    EXPECT_EQ(contents(kept), later); // what the restore replaced can come back
    ASSERT_EQ(PQconsumeInput(other.handle()), 1);
    PGnotify* told = PQnotifies(other.handle());
    EXPECT_NE(told, nullptr);
    PQfreemem(told);

    // A snapshot that fails halfway (a book that cannot go up) changes nothing.
    struct Broken {
        const char* what;
        const char* sql;
    };
    const std::vector<Broken> broken{
        {"a zero byte in a later book", "INSERT INTO temp2 VALUES(CAST(X'610062' AS TEXT))"},
        {"a book missing", "DROP TABLE temp6"},
    };
    const Names before = serverContents(s, "L");
    for (const Broken& b : broken) {
        SCOPED_TRACE(b.what);
        dir.seedIndex("bad.mdb");
        sqlExec("bad.mdb", "INSERT INTO \"1\"(\"姓名\") VALUES('新')");
        sqlExec("bad.mdb", b.sql);
        tsl::Snapshot bad;
        bad.path = "bad.mdb";
        EXPECT_THROW(tsl::restoreServerLedger(s, "L", bad, "tsl.mdb", 1'800'000'200), tsl::Error);
        EXPECT_EQ(serverContents(s, "L"), before);
        std::remove("bad.mdb");
    }
    // Before the first restore, after it (taken before the failed ones), and no more.
    EXPECT_EQ(tsl::listSnapshots(key).size(), 3u);
}

// Another program's row committed while a restore starts is in the snapshot of
// what the restore replaced: the books are locked before that snapshot is read.
TEST(ServerBackup, ARowWrittenDuringARestoreIsInItsSnapshot) {
    tsltest::TempDir dir;
    dir.seedIndex("tsl.mdb");
    dir.seedIndex("src.mdb");
    const std::string uri = freshDatabase("restorerace");
    Session s(uri);
    tsl::pg::ensureLayout(s);
    tsl::upload("src.mdb", s, "L");
    const auto empty = tsl::backupServerLedger(s, "L", "tsl.mdb", 1'800'000'000);
    ASSERT_TRUE(empty);

    Session other(uri);
    other.exec("BEGIN");
    other.exec("INSERT INTO " + book(s, "L", "1") + " (\"姓名\") VALUES ('晚到')");
    std::string kept;
    std::thread restore([&] { kept = tsl::restoreServerLedger(s, "L", *empty, "tsl.mdb", 1'800'000'100); });
    Session watch(uri);
    for (int i = 0; i < 1000 && watch.exec("SELECT count(*) FROM pg_locks WHERE NOT granted").text(0, 0) == "0"; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    other.exec("COMMIT");
    restore.join();
    const Names replaced = contents(kept);
    EXPECT_EQ(replaced.size(), 1u);
    EXPECT_TRUE(!replaced.empty() && replaced[0].find("'晚到'") != std::string::npos) << "the late row is in no snapshot";
    EXPECT_EQ(serverContents(s, "L"), contents("src.mdb"));
}

// The exporter on a server ledger writes what it writes for a ledger file of
// the same rows, as a user that may only read, and leaves no copy behind.
TEST(ServerExport, SameFilesAsTheLocalLedgerAndOnlyReads) {
    tsltest::TempDir dir;
    dir.seedIndex("车间.mdb");
    sqlExec("车间.mdb", "INSERT INTO \"4\" VALUES ('(1)2026-5-1', '小王', '套口', '100', '300'),"
                       "('(2)2026-5-2', '小李', '烫衣', '50', '80'), ('(3)2026-5-3', '小王', '横机', '20', '1200')");
    sqlExec("车间.mdb", "INSERT INTO \"1\" VALUES ('张三', '杭州 \"西湖\"', '310000', NULL, '139')");
    const std::string uri = freshDatabase("exports");
    {
        Session s(uri);
        tsl::pg::ensureLayout(s);
        tsl::upload("车间.mdb", s, "车间");
        s.exec("DROP ROLE IF EXISTS reader");
        s.exec("CREATE ROLE reader LOGIN");
        s.exec("GRANT USAGE ON SCHEMA tessolan, " + tsl::pg::quoteIdent(*tsl::pg::schemaOf(s, "车间")) + " TO reader");
        s.exec("GRANT SELECT ON ALL TABLES IN SCHEMA tessolan, " +
               tsl::pg::quoteIdent(*tsl::pg::schemaOf(s, "车间")) + " TO reader");
    }
    std::string readerUri = uri;
    readerUri.replace(readerUri.find("tessolan@"), 9, "reader@");
    ASSERT_EQ(::mkdir("tmp", 0700), 0);
    for (const char* args : {"--book 4 --csv %s.csv", "--book 4 --name 小王 --csv %s.csv", "--book 1 --csv %s.csv"}) {
        SCOPED_TRACE(args);
        char local[128], remote[128];
        std::snprintf(local, sizeof local, args, "local");
        std::snprintf(remote, sizeof remote, args, "remote");
        const auto l = exporter(std::string("车间.mdb ") + local);
        ASSERT_EQ(l.first, 0) << l.second;
        const auto r = exporter("--server '" + readerUri + "' 车间 " + remote);
        ASSERT_EQ(r.first, 0) << r.second;
        EXPECT_EQ(tsltest::readFile("remote.csv"), tsltest::readFile("local.csv"));
    }

    struct Refused {
        std::string args;
        std::string said;
    };
    const std::vector<Refused> refused{
        {"--server '" + readerUri + "' 没有 --book 4 --csv x.csv", "帐本不存在!"},
        {"--server '" + readerUri + "' --book 4 --csv x.csv", "缺少服务器上的帐本名称."},
    };
    for (const Refused& f : refused) {
        const auto r = exporter(f.args);
        EXPECT_NE(r.first, 0);
        EXPECT_NE(r.second.find(f.said), std::string::npos) << r.second;
    }
    EXPECT_TRUE(tsl::folderEntries("tmp").empty());
}
