// Leftovers of a ledger creation cut short, and what may be removed of them.
#include "ledgerfolder.h"
#include "tempdir.h"

#include <gtest/gtest.h>

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
// journal beside them, and foreign files stay.
TEST(LedgerFolder, TidyRemovesOnlyLeftovers) {
    tsltest::TempDir dir;
    for (const char* name : {"tsl.mdb", "listed.mdb", "orphan.mdb", "journalled.mdb", "2004.mdb.tmp-Ab12Cd"})
        dir.seedIndex(name);
    tsltest::sqlExec("orphan.mdb", "INSERT INTO \"5\" VALUES ('listed at the copy')");
    std::set<std::string> kept{"tsl.mdb",  "listed.mdb", "journalled.mdb",    "journalled.mdb-journal",
                               "text.mdb", "notes.txt",  "run.dll.tmp-Ab12Cd"};
    for (const std::string table : {"1", "2", "3", "4", "temp1", "temp6"}) {
        dir.seedIndex("t" + table + ".mdb");
        tsltest::sqlExec("t" + table + ".mdb", "INSERT INTO \"" + table + "\" (rowid) VALUES (1)");
        kept.insert("t" + table + ".mdb");
    }
    for (const char* name : {"journalled.mdb-journal", "2004.mdb.tmp-Ab12Cd-journal", "run.dll.tmp-Ab12Cd", "notes.txt"})
        tsltest::writeFile(name, "");
    tsltest::writeFile("text.mdb", "not a database");

    EXPECT_EQ(tsl::tidyLedgerFolder({"listed"}),
              (std::vector<std::string>{"2004.mdb.tmp-Ab12Cd", "2004.mdb.tmp-Ab12Cd-journal", "orphan.mdb"}));
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
