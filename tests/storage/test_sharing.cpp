// One program per ledger file, and what a second writer or a stale journal
// could do to it: the lock on the file, the change counts, the journal check.
#include "storage/connection.h"
#include "storage/cursor.h"
#include "storage/error.h"
#include "storage/filelock.h"
#include "storage/schema.h"
#include "tests/support/tempdir.h"

#include <gtest/gtest.h>

#include <sqlite3.h>

#include <filesystem>
#include <string>

namespace fs = std::filesystem;
using tsl::Connection;
using tsltest::inChild;
using tsltest::sqlExec;

namespace {

const std::string kFile = "x.mdb";

// A connection to `file`; exclusive the way the workspace holds a ledger.
void connect(Connection& c, const std::string& file, bool exclusive = true) {
    c.setConnectionString(tsl::connectionString(file));
    c.setExclusive(exclusive);
    c.connect();
}

// 0: connected; 1: refused as in use.
int childConnects(const std::string& file) {
    return inChild([&] {
        try {
            Connection c;
            connect(c, file);
            return 0;
        } catch (const tsl::InUseError&) {
            return 1;
        }
    });
}

} // namespace

// A second holder is refused while the first holds the file, also by another
// name (the chooser's test has a symbolic link) and in another process; the file
// is free again once the holder lets go or dies.
TEST(LedgerLock, RefusesASecondProgramByAnyPath) {
    tsltest::TempDir dir;
    dir.seedIndex(kFile);
    fs::create_hard_link(kFile, "hard.mdb");
    Connection first, second;
    connect(first, kFile);
    EXPECT_EQ(childConnects("hard.mdb"), 1);
    EXPECT_THROW(connect(second, "hard.mdb"), tsl::InUseError);
    EXPECT_FALSE(second.connected());
    first.disconnect();
    EXPECT_EQ(childConnects("hard.mdb"), 0);

    EXPECT_EQ(inChild([] {
                  Connection c;
                  connect(c, kFile);
                  _exit(0); // dies holding it
                  return 1;
              }),
              0);
    EXPECT_EQ(childConnects(kFile), 0);
    tsl::FileLock lock;
    EXPECT_EQ(lock.tryLock("missing.mdb"), tsl::FileLock::Result::Failed);
}

// Writes that find their row gone are errors, never a silent success; a row
// that is there is written as before.
TEST(ChangeCount, EditOrDeleteOfARowRemovedElsewhereFails) {
    tsltest::TempDir dir;
    dir.seedIndex(kFile);
    sqlExec(kFile, "INSERT INTO \"temp1\" VALUES ('a'), ('b'), ('c')");
    Connection conn;
    connect(conn, kFile, false);
    tsl::Cursor c(conn);
    c.setTableName("temp1");
    c.open();
    c.moveTo(1);
    sqlExec(kFile, "DELETE FROM \"temp1\" WHERE \"1\" = 'b'");
    c.edit();
    c.setField("1", "B");
    EXPECT_THROW(c.post(), tsl::Error);
    c.cancel();
    EXPECT_THROW(c.remove(), tsl::Error);

    c.moveTo(2);
    c.edit();
    c.setField("1", "C");
    c.post();
    EXPECT_EQ(tsltest::sqlColumn(kFile, "SELECT \"1\" FROM \"temp1\" ORDER BY rowid"), (std::vector<std::string>{"a", "C"}));
}

// A killed writer leaves a hot journal. Beside its own database SQLite must play
// it back; beside a database put there later (the index seeded again) it must
// not, and keeps it aside: that is how a fresh index came to list 200 ledgers no one made.
TEST(StaleJournal, IsPlayedOnlyIntoItsOwnDatabase) {
    for (const bool replaced : {false, true}) {
        SCOPED_TRACE(replaced ? "replaced" : "own");
        tsltest::TempDir dir;
        dir.seedIndex(kFile);
        sqlExec(kFile, "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 200) "
                       "INSERT INTO \"5\" SELECT 'ghost' || i FROM n");
        ASSERT_EQ(inChild([] { // dies in the middle of removing them
                      sqlite3* db = nullptr;
                      sqlite3_open_v2(kFile.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr);
                      sqlite3_exec(db, "PRAGMA synchronous=OFF; BEGIN; DELETE FROM \"5\";", nullptr, nullptr, nullptr);
                      _exit(0);
                      return 1;
                  }),
                  0);
        ASSERT_TRUE(fs::exists(kFile + "-journal"));
        if (replaced) {
            fs::remove(kFile);
            dir.seedIndex(kFile);
        }
        Connection conn;
        connect(conn, kFile, false);
        tsl::Cursor c(conn);
        c.setTableName(std::string(tsl::table::ledgers));
        c.open();
        EXPECT_EQ(c.recordCount(), replaced ? 0 : 200);
        EXPECT_EQ(fs::exists(kFile + "-journal.stale"), replaced);
        EXPECT_FALSE(fs::exists(kFile + "-journal") && replaced);
    }
}
