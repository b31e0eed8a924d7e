// One program per ledger file, and what a second writer or a stale journal
// could do to it: the lock on the file, the change counts, the journal check.
#include "connection.h"
#include "cursor.h"
#include "error.h"
#include "fileops.h"
#include "filelock.h"
#include "schema.h"
#include "tempdir.h"

#include <gtest/gtest.h>

#include <sqlite3.h>

#include <filesystem>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;
using tsl::Connection;
using tsl::Cursor;
using tsltest::inChild;
using tsltest::readFile;
using tsltest::sqlColumn;
using tsltest::sqlExec;

namespace {

const std::string kFile = "x.mdb";

// A connection the way the workspace holds a ledger.
void connectExclusive(Connection& c, const std::string& file) {
    c.setConnectionString(tsl::connectionString(file));
    c.setExclusive(true);
    c.connect();
}

// 0: connected; 1: refused as in use; 2: another failure.
int childConnects(const std::string& file) {
    return inChild([&] {
        try {
            Connection c;
            connectExclusive(c, file);
            return 0;
        } catch (const tsl::InUseError&) {
            return 1;
        } catch (...) {
            return 2;
        }
    });
}

} // namespace

// A second program reaching the same file by another name (a link, the folder
// mounted twice) is refused while the first holds it, and writes nothing.
TEST(LedgerLock, RefusesASecondProgramByAnyPath) {
    tsltest::TempDir dir;
    dir.seedIndex(kFile);
    fs::create_directory("other");
    fs::create_symlink(fs::absolute(kFile), "other/linked.mdb");
    fs::create_hard_link(kFile, "hard.mdb");
    {
        Connection first;
        connectExclusive(first, kFile);
        const std::string before = readFile(kFile);
        EXPECT_EQ(childConnects(kFile), 1);
        EXPECT_EQ(childConnects("other/linked.mdb"), 1);
        EXPECT_EQ(childConnects("hard.mdb"), 1);
        EXPECT_EQ(readFile(kFile), before);
        EXPECT_FALSE(fs::exists(kFile + "-journal"));

        // In this program too: a second exclusive connection is refused and keeps nothing.
        Connection second;
        EXPECT_THROW(connectExclusive(second, "other/linked.mdb"), tsl::InUseError);
        EXPECT_FALSE(second.connected());
        first.disconnect(); // lets go
        EXPECT_EQ(childConnects("other/linked.mdb"), 0);
    }
    // A connection without the lock (the index, the tools) is not held back.
    Connection holder;
    connectExclusive(holder, kFile);
    Connection plain;
    plain.setConnectionString(tsl::connectionString(kFile));
    EXPECT_NO_THROW(plain.connect());
}

// The lock does not outlive a program that dies.
TEST(LedgerLock, ADeadHolderLeavesTheFileFree) {
    tsltest::TempDir dir;
    dir.seedIndex(kFile);
    EXPECT_EQ(inChild([] {
                  Connection c;
                  connectExclusive(c, kFile);
                  _exit(0); // no disconnect
                  return 1;
              }),
              0);
    EXPECT_EQ(childConnects(kFile), 0);
    tsl::FileLock lock;
    EXPECT_EQ(lock.tryLock("missing.mdb"), tsl::FileLock::Result::Failed);
}

// Writes that find their row gone are errors, never a silent success.
TEST(ChangeCount, EditOrDeleteOfARowRemovedElsewhereFails) {
    tsltest::TempDir dir;
    dir.seedIndex(kFile);
    sqlExec(kFile, "INSERT INTO \"temp1\" VALUES ('a'), ('b'), ('c')");
    Connection conn;
    conn.setConnectionString(tsl::connectionString(kFile));
    conn.connect();
    Cursor c(conn);
    c.setTableName("temp1");
    c.open();
    c.moveTo(1);
    sqlExec(kFile, "DELETE FROM \"temp1\" WHERE \"1\" = 'b'");

    c.edit();
    c.setField("1", "B");
    EXPECT_THROW(c.post(), tsl::Error);
    c.cancel();
    EXPECT_THROW(c.remove(), tsl::Error);
    EXPECT_EQ(sqlColumn(kFile, "SELECT \"1\" FROM \"temp1\" ORDER BY rowid"), (std::vector<std::string>{"a", "c"}));

    // A row that is there is still written as before.
    c.moveTo(2);
    c.edit();
    c.setField("1", "C");
    c.post();
    c.moveTo(0);
    c.remove();
    EXPECT_EQ(sqlColumn(kFile, "SELECT \"1\" FROM \"temp1\" ORDER BY rowid"), (std::vector<std::string>{"C"}));
}

// A killed writer leaves a hot journal. Beside its own database SQLite must play
// it back; beside a database put there later (the index seeded again) it must
// not: that is how a fresh index came to list 200 ledgers no one made.
class StaleJournal : public ::testing::TestWithParam<bool> {};

TEST_P(StaleJournal, IsPlayedOnlyIntoItsOwnDatabase) {
    const bool replaced = GetParam();
    tsltest::TempDir dir;
    dir.seedIndex(kFile);
    std::string rows;
    for (int i = 0; i < 200; ++i)
        rows += std::string(i ? "," : "") + "('ghost" + std::to_string(i) + "')";
    sqlExec(kFile, "INSERT INTO \"5\" VALUES " + rows);
    // The writer dies in the middle of removing them.
    ASSERT_EQ(inChild([] {
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
    conn.setConnectionString(tsl::connectionString(kFile));
    conn.connect();
    Cursor c(conn);
    c.setTableName(std::string(tsl::table::ledgers));
    c.open();
    EXPECT_EQ(c.recordCount(), replaced ? 0 : 200);
    // The stale journal is kept aside, not thrown away.
    EXPECT_EQ(fs::exists(kFile + "-journal.stale"), replaced);
    EXPECT_FALSE(fs::exists(kFile + "-journal") && replaced);
}

INSTANTIATE_TEST_SUITE_P(Journal, StaleJournal, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "replaced" : "own"; });
