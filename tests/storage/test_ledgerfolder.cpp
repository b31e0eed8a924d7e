// Leftovers of a ledger creation cut short, and what may be removed of them.
#include "storage/ledgerfolder.h"
#include "tests/support/tempdir.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

TEST(LedgerFolder, TempCopyNames) {
    for (const char* yes : {"2004.mdb.tmp-a1B2c3", "帐本.mdb.tmp-XXXXXX-journal", "x.mdb.tmp-000000-wal"})
        EXPECT_TRUE(tsl::isTempCopyName(yes)) << yes;
    for (const char* no : {"2004.mdb", ".mdb.tmp-abcdef", "x.mdb.tmp-abcde", "x.mdb.tmp-abcdefg", "x.mdb.tmp-abc.ef",
                           "x.mdb-journal", "run.dll", "x.mdb.tmp-abcdef-other"})
        EXPECT_FALSE(tsl::isTempCopyName(no)) << no;
}

// At start-up temporary copies go, and unlisted ledgers no one wrote to (their
// ledger list, copied from the index, is not entered). Listed ledgers, the
// index, ledgers with a row in any table, files that are no database or have a
// journal beside them, and foreign files stay; the empty journal, which SQLite
// never plays back, goes.
TEST(LedgerFolder, TidyRemovesOnlyLeftovers) {
    tsltest::TempDir dir;
    for (const char* name : {"tsl.mdb", "listed.mdb", "orphan.mdb", "journalled.mdb", "2004.mdb.tmp-Ab12Cd"})
        dir.seedIndex(name);
    tsltest::sqlExec("orphan.mdb", "INSERT INTO \"5\" VALUES ('listed at the copy')");
    std::set<std::string> kept{"tsl.mdb", "listed.mdb", "journalled.mdb", "text.mdb", "notes.txt", "run.dll.tmp-Ab12Cd"};
    for (const std::string table : {"1", "2", "3", "4", "temp1", "temp6"}) {
        dir.seedIndex("t" + table + ".mdb");
        tsltest::sqlExec("t" + table + ".mdb", "INSERT INTO \"" + table + "\" (rowid) VALUES (1)");
        kept.insert("t" + table + ".mdb");
    }
    for (const char* name : {"journalled.mdb-journal", "2004.mdb.tmp-Ab12Cd-journal", "run.dll.tmp-Ab12Cd", "notes.txt"})
        tsltest::writeFile(name, "");
    tsltest::writeFile("text.mdb", "not a database");

    EXPECT_EQ(tsl::tidyLedgerFolder({"listed"}),
              (std::vector<std::string>{"2004.mdb.tmp-Ab12Cd", "2004.mdb.tmp-Ab12Cd-journal", "orphan.mdb",
                                        "journalled.mdb-journal"}));
    std::set<std::string> left;
    for (const auto& e : std::filesystem::directory_iterator("."))
        left.insert(e.path().filename().string());
    EXPECT_EQ(left, kept);
}

// Links and folders under the names of temporary copies or unlisted ledgers are
// not the program's: the tidy neither deletes them nor anything they point to.
TEST(LedgerFolder, TidyLeavesLinksAndFolders) {
    tsltest::TempDir dir;
    std::filesystem::create_directory("elsewhere");
    dir.seedIndex("elsewhere/orphan.mdb"); // an untouched copy, outside
    tsltest::writeFile("elsewhere/theirs", "theirs");
    std::filesystem::create_symlink("elsewhere/theirs", "2004.mdb.tmp-Ab12Cd");
    std::filesystem::create_symlink("elsewhere/theirs", "2005.mdb.tmp-Ab12Cd-journal");
    std::filesystem::create_symlink("elsewhere/orphan.mdb", "linked.mdb");
    std::filesystem::create_directory("2006.mdb.tmp-Ab12Cd");
    dir.seedIndex("2007.mdb.tmp-Ab12Cd");

    EXPECT_EQ(tsl::tidyLedgerFolder({}), (std::vector<std::string>{"2007.mdb.tmp-Ab12Cd"}));
    EXPECT_FALSE(tsl::removeUntouchedCopy("linked.mdb"));
    std::set<std::string> left;
    for (const auto& e : std::filesystem::recursive_directory_iterator("."))
        left.insert(e.path().string());
    EXPECT_EQ(left, (std::set<std::string>{"./elsewhere", "./elsewhere/orphan.mdb", "./elsewhere/theirs",
                                           "./2004.mdb.tmp-Ab12Cd", "./2005.mdb.tmp-Ab12Cd-journal", "./linked.mdb",
                                           "./2006.mdb.tmp-Ab12Cd"}));
}

namespace {

// A journal as a crash leaves it: made while a transaction had written into
// the database file (a small cache spills), copied with the file, then that
// transaction rolled back. Opening the copy plays the journal back.
void makeHotCopy(const std::string& name) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open("hot-source.mdb", &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db,
                           "PRAGMA cache_size=1; BEGIN; CREATE TABLE filler AS WITH RECURSIVE n(i) AS (SELECT 1 "
                           "UNION ALL SELECT i+1 FROM n "
                           "WHERE i<400) SELECT printf('%0200d', i) AS x FROM n;",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    // The transaction's pages reached the file: without the journal it would be damaged.
    ASSERT_GT(std::filesystem::file_size("hot-source.mdb"), std::filesystem::file_size(tsltest::indexTemplate()));
    std::filesystem::copy_file("hot-source.mdb", name);
    std::filesystem::copy_file("hot-source.mdb-journal", name + "-journal");
    sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(db);
}

} // namespace

// Journals a crash left beside ledgers and the index are settled at start-up:
// one SQLite plays back is played back (its ledger whole and as before the cut
// write), one it never plays back (empty or with a zeroed header) is removed,
// and one whose ledger someone is writing stays.
TEST(LedgerFolder, TidySettlesJournals) {
    tsltest::TempDir dir;
    dir.seedIndex("hot-source.mdb");
    struct Case {
        const char* ledger;
        std::string journal; // "hot": a real one; otherwise its bytes
        bool writerAlive;
        bool journalGoes;
    };
    const std::vector<Case> cases = {
        {"empty.mdb", "", false, true},
        {"zeroed.mdb", std::string(512, '\0'), false, true},
        {"tsl.mdb", "", false, true},
        {"hot.mdb", "hot", false, true},
        {"busy.mdb", "", true, false},
    };
    for (const Case& c : cases) {
        if (c.journal == "hot") {
            makeHotCopy(c.ledger);
        } else {
            dir.seedIndex(c.ledger);
            tsltest::writeFile(std::string(c.ledger) + "-journal", c.journal);
        }
    }
    // Another process in the middle of a write to busy.mdb.
    int toChild[2], fromChild[2];
    ASSERT_EQ(pipe(toChild), 0);
    ASSERT_EQ(pipe(fromChild), 0);
    const pid_t child = fork();
    if (child == 0) {
        sqlite3* db = nullptr;
        sqlite3_open("busy.mdb", &db);
        const int rc = sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
        char c = rc == SQLITE_OK ? 'y' : 'n';
        (void)!write(fromChild[1], &c, 1);
        (void)!read(toChild[0], &c, 1);
        _exit(0);
    }
    char ready = 0;
    ASSERT_EQ(read(fromChild[0], &ready, 1), 1);
    ASSERT_EQ(ready, 'y');

    const auto removed = tsl::tidyLedgerFolder({"empty", "zeroed", "hot", "busy"});
    (void)!write(toChild[1], "x", 1);
    waitpid(child, nullptr, 0);

    for (const Case& c : cases) {
        const std::string journal = std::string(c.ledger) + "-journal";
        EXPECT_EQ(std::filesystem::exists(journal), !c.journalGoes) << journal;
        EXPECT_EQ(std::count(removed.begin(), removed.end(), journal), c.journalGoes ? 1 : 0) << journal;
        EXPECT_EQ(tsltest::sqlColumn(c.ledger, "PRAGMA integrity_check"), std::vector<std::string>{"ok"}) << c.ledger;
    }
    EXPECT_EQ(tsltest::sqlColumn("hot.mdb", "SELECT count(*) FROM sqlite_master WHERE name = 'filler'"),
              std::vector<std::string>{"0"});
}
