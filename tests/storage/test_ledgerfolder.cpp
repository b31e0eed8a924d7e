// Leftovers of a ledger creation cut short, and what may be removed of them.
#include "fileops.h"
#include "ledgerfolder.h"
#include "tempdir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using tsltest::sqlExec;
using tsltest::writeFile;

namespace {

std::vector<std::string> folder() {
    std::vector<std::string> out;
    for (const auto& e : fs::directory_iterator("."))
        out.push_back(e.path().filename().string());
    std::sort(out.begin(), out.end());
    return out;
}

} // namespace

TEST(LedgerFolder, TempCopyNames) {
    for (const char* yes : {"2004.mdb.tmp-a1B2c3", "帐本.mdb.tmp-XXXXXX-journal", "x.mdb.tmp-000000-wal"})
        EXPECT_TRUE(tsl::isTempCopyName(yes)) << yes;
    for (const char* no : {"2004.mdb", ".mdb.tmp-abcdef", "x.mdb.tmp-abcde", "x.mdb.tmp-abcdefg", "x.mdb.tmp-abc.ef",
                           "x.mdb-journal", "run.dll", "x.mdb.tmp-abcdef-other"})
        EXPECT_FALSE(tsl::isTempCopyName(no)) << no;
}

// Only a copy no one wrote to may go without asking.
TEST(LedgerFolder, UntouchedMeansNothingEntered) {
    tsltest::TempDir dir;
    dir.seedIndex("fresh.mdb");
    sqlExec("fresh.mdb", "INSERT INTO \"5\" VALUES ('listed at the copy')"); // copied from the index: not entered
    EXPECT_TRUE(tsl::isUntouchedCopy("fresh.mdb"));
    for (const char* table : {"1", "2", "3", "4", "temp1", "temp6"}) {
        const std::string file = std::string("t") + table + ".mdb";
        dir.seedIndex(file);
        sqlExec(file, std::string("INSERT INTO \"") + table + "\" (rowid) VALUES (1)");
        EXPECT_FALSE(tsl::isUntouchedCopy(file)) << table;
        EXPECT_FALSE(tsl::removeUntouchedCopy(file));
        EXPECT_TRUE(fs::exists(file));
    }
    writeFile("text.mdb", "not a database");
    EXPECT_FALSE(tsl::isUntouchedCopy("text.mdb"));
    dir.seedIndex("journalled.mdb");
    writeFile("journalled.mdb-journal", "");
    EXPECT_FALSE(tsl::isUntouchedCopy("journalled.mdb"));
    EXPECT_FALSE(tsl::isUntouchedCopy("missing.mdb"));
    EXPECT_TRUE(tsl::removeUntouchedCopy("fresh.mdb"));
    EXPECT_FALSE(fs::exists("fresh.mdb"));
}

// At start-up: temporary copies go; unlisted untouched ledgers go; listed
// ledgers, the index, ledgers with rows and foreign files stay.
TEST(LedgerFolder, TidyRemovesOnlyLeftovers) {
    tsltest::TempDir dir;
    dir.seedIndex("tsl.mdb");
    dir.seedIndex("listed.mdb");
    dir.seedIndex("orphan.mdb");
    dir.seedIndex("kept.mdb");
    sqlExec("kept.mdb", "INSERT INTO \"2\" VALUES ('(1)2004-5-12','a','b','1','c','d','9')");
    dir.seedIndex("2004.mdb.tmp-Ab12Cd");
    writeFile("2004.mdb.tmp-Ab12Cd-journal", "");
    writeFile("notes.txt", "mine");
    writeFile("run.dll.tmp-Ab12Cd", "not ours");

    const auto removed = tsl::tidyLedgerFolder({"listed"});
    EXPECT_EQ(removed, (std::vector<std::string>{"2004.mdb.tmp-Ab12Cd", "2004.mdb.tmp-Ab12Cd-journal", "orphan.mdb"}));
    EXPECT_EQ(folder(), (std::vector<std::string>{"kept.mdb", "listed.mdb", "notes.txt", "run.dll.tmp-Ab12Cd",
                                                  "tsl.mdb"}));
    // An untouched ledger that is listed stays too.
    EXPECT_TRUE(tsl::tidyLedgerFolder({"listed"}).empty());
}
