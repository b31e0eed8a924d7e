#include "storage/backup.h"
#include "storage/error.h"
#include "storage/fileops.h"
#include "tests/support/tempdir.h"

#include <gtest/gtest.h>

#include <sqlite3.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using tsltest::sqlColumn;
using tsltest::sqlExec;
using Names = std::vector<std::string>;
using Entries = std::set<std::string>;

namespace {

// Local time is UTC here, so day and month bounds are the same on every machine.
struct UtcZone {
    UtcZone() {
        setenv("TZ", "UTC", 1);
        tzset();
    }
} utcZone;

std::time_t at(int y, int mo, int d, int h = 12, int mi = 0, int s = 0) {
    std::tm tm{s, mi, h, d, mo - 1, y - 1900, 0, 0, 0, 0, nullptr};
    return timegm(&tm);
}

const std::string kLedger = "2004年的帐本.mdb";

void addCustomer(const std::string& name, const std::string& file = kLedger) {
    sqlExec(file, "INSERT INTO \"1\" VALUES ('" + name + "', '', '', '', '')");
}
Names customers(const std::string& file) { return sqlColumn(file, "SELECT \"姓名\" FROM \"1\" ORDER BY rowid"); }
Entries entries(const std::string& folder) {
    Entries out;
    for (const auto& e : fs::directory_iterator(folder))
        out.insert(e.path().filename().string());
    return out;
}

class Backups : public ::testing::Test {
protected:
    void SetUp() override {
        dir.seedIndex(kLedger);
        addCustomer("张三");
    }
    tsltest::TempDir dir;
};

} // namespace

TEST_F(Backups, SnapshotHoldsTheFileAsItWasAndOnlyChangesMakeAnother) {
    const tsl::Snapshot first = tsl::takeSnapshot(kLedger, at(2026, 12, 8, 21, 35, 10));
    EXPECT_EQ(first.path, "backups/" + kLedger + "/20261208-213510.mdb");
    EXPECT_EQ(tsl::snapshotTimeText(first), "2026-12-08 21:35:10");
    EXPECT_FALSE(tsl::changedSinceSnapshot(kLedger));
    EXPECT_TRUE(tsl::backupChanged({kLedger}, at(2026, 12, 8, 22)).empty());
    EXPECT_EQ(tsl::listSnapshots(kLedger).size(), 1u) << "an unchanged ledger needs no second snapshot";

    addCustomer("李四");
    EXPECT_TRUE(tsl::changedSinceSnapshot(kLedger));
    EXPECT_TRUE(tsl::backupChanged({kLedger, "不存在.mdb"}, at(2026, 12, 8, 23)).empty());
    const auto all = tsl::listSnapshots(kLedger);
    ASSERT_EQ(all.size(), 2u);
    EXPECT_EQ(customers(all[0].path), (Names{"张三"}));
    EXPECT_EQ(customers(all[1].path), (Names{"张三", "李四"}));
    EXPECT_FALSE(tsl::changedSinceSnapshot(kLedger));
    EXPECT_FALSE(fs::exists("backups/不存在.mdb")) << "a missing file is skipped, not backed up";
}

TEST_F(Backups, SnapshotsInTheSameSecondKeepTheirOrder) {
    const std::time_t t = at(2026, 1, 2, 3, 4, 5);
    // The last with the clock set back: still newer than everything there.
    for (const std::time_t when : {t, t, t, t - 3600}) {
        addCustomer(std::to_string(when));
        (void)tsl::takeSnapshot(kLedger, when);
    }
    Names names;
    for (const auto& snap : tsl::listSnapshots(kLedger))
        names.push_back(snap.name);
    EXPECT_EQ(names, (Names{"20260102-030405.mdb", "20260102-030405-2.mdb", "20260102-030405-3.mdb",
                            "20260102-030405-4.mdb"}));
    EXPECT_EQ(customers(tsl::listSnapshots(kLedger).back().path).back(), std::to_string(t - 3600));
    EXPECT_FALSE(tsl::changedSinceSnapshot(kLedger));
}

TEST_F(Backups, FailureLeavesTheLedgerAloneAndNamesNeverLeaveTheirFolder) {
    tsltest::writeFile("backups", "a file where the folder should be");
    const auto failures = tsl::backupChanged({kLedger}, at(2026, 12, 8));
    ASSERT_EQ(failures.size(), 1u);
    EXPECT_EQ(failures[0].rfind(kLedger + ": ", 0), 0u) << failures[0];
    EXPECT_EQ(customers(kLedger), (Names{"张三"}));
    EXPECT_EQ(entries("."), (Entries{kLedger, "backups"}));

    for (const char* bad : {"../x.mdb", "a/b.mdb", ".", "..", ""})
        EXPECT_THROW((void)tsl::snapshotFolder(bad), tsl::Error) << bad;
}

TEST_F(Backups, ListingIgnoresForeignFilesAndTidyRemovesCutShortCopies) {
    (void)tsl::takeSnapshot(kLedger, at(2026, 3, 1));
    const std::string folder = "backups/" + kLedger;
    Entries kept = {"notes.txt", "20260301-120000.mdb.bak", "2026031-120000.mdb", "20260301-120000-1.mdb",
                    "20261301-120000.mdb"};
    for (const auto& n : kept)
        tsltest::writeFile(folder + "/" + n, "x");
    for (const char* n : {"20260302-120000.mdb.tmp-AbC123", "restore.tmp-XyZ789"})
        tsltest::writeFile(folder + "/" + n, "half");
    EXPECT_EQ(tsl::listSnapshots(kLedger).size(), 1u);

    tsl::tidyBackups();
    kept.insert("20260301-120000.mdb");
    EXPECT_EQ(entries(folder), kept) << "the snapshot and every foreign file stay, the cut-short copies go";
}

namespace {

std::vector<tsl::Snapshot> fakeHistory(const std::vector<std::time_t>& times) {
    std::vector<tsl::Snapshot> out;
    for (std::time_t t : times)
        out.push_back({"", std::to_string(t), t, 0});
    return out;
}

// A snapshot at every hour of work from 9 o'clock, pruned each time.
std::size_t keptAfterDailyWork(int days, int perDay) {
    std::vector<tsl::Snapshot> kept;
    for (int d = 0; d < days * perDay; ++d) {
        const std::time_t now = at(2026, 1, 1, 9 + d % perDay) + std::time_t(d / perDay) * 86400;
        kept.push_back({"", "", now, 0});
        for (const auto& x : tsl::snapshotsToDrop(kept, now))
            std::erase_if(kept, [&](const tsl::Snapshot& s) { return s.time == x.time; });
    }
    return kept.size();
}

} // namespace

TEST(History, KeepsTheNewestTheLastDaysAndTheLastMonths) {
    const std::time_t now = at(2026, 12, 8, 18);
    std::vector<std::time_t> times;
    // Two a day over the last 40 days, one a month for two years before that.
    for (int d = 0; d < 40; ++d)
        for (int h : {10, 17})
            times.push_back(at(2026, 12, 8, h) - std::time_t(d) * 86400);
    for (int m = 1; m <= 24; ++m)
        times.push_back(at(2024 + (m - 1) / 12, (m - 1) % 12 + 1, 15));
    std::set<std::time_t> dropped;
    for (const auto& s : tsl::snapshotsToDrop(fakeHistory(times), now))
        dropped.insert(s.time);

    // The newest ten (five days of two) always stay; within thirty days the
    // evening one of each day stays, the morning one goes.
    for (int d = 0; d < 30; ++d)
        for (int h : {10, 17})
            EXPECT_EQ(dropped.contains(at(2026, 12, 8, h) - std::time_t(d) * 86400), d >= 5 && h == 10)
                << d << " days back at " << h << " o'clock";
    // Older: only the newest of each of the last twelve months (Jan..Dec 2026).
    const std::pair<std::time_t, bool> older[] = {
        {at(2026, 1, 15), false},     // newest of January 2026
        {at(2025, 12, 15), true},     // thirteen months back
        {at(2024, 6, 15), true},      // two and a half years back
        {at(2026, 10, 31, 17), false}, // newest of October
        {at(2026, 10, 31, 10), true},  // October 31st's morning
        {at(2026, 11, 2, 17), true},   // older than thirty days, not a month's newest
    };
    for (const auto& [t, drop] : older)
        EXPECT_EQ(dropped.contains(t), drop) << tsl::snapshotTimeText({"", "", t, 0});

    EXPECT_TRUE(tsl::snapshotsToDrop(fakeHistory({at(2001, 1, 1), at(2002, 1, 1)}), now).empty());
    // A year of daily work stays bounded.
    EXPECT_EQ(keptAfterDailyWork(365, 1), 30u + 11u);
    EXPECT_EQ(keptAfterDailyWork(365, 4), 10u + 27u + 11u);
}

TEST_F(Backups, PruningDeletesOnlySnapshotsTheHistoryDrops) {
    for (int d = 1; d <= 12; ++d) {
        addCustomer("c" + std::to_string(d));
        (void)tsl::takeSnapshot(kLedger, at(2020, 1, d));
    }
    tsltest::writeFile("backups/" + kLedger + "/mine.txt", "keep");
    tsl::pruneSnapshots(kLedger, at(2026, 1, 1));
    const auto all = tsl::listSnapshots(kLedger);
    ASSERT_EQ(all.size(), 10u);
    EXPECT_EQ(all.front().name, "20200103-120000.mdb");
    EXPECT_TRUE(fs::exists("backups/" + kLedger + "/mine.txt"));
}

TEST_F(Backups, RestorePutsTheSnapshotInPlaceAndKeepsWhatItReplaced) {
    const tsl::Snapshot old = tsl::takeSnapshot(kLedger, at(2026, 12, 1));
    addCustomer("李四");
    const std::string kept = tsl::restoreSnapshot(kLedger, old, at(2026, 12, 2));
    EXPECT_EQ(customers(kLedger), (Names{"张三"}));
    ASSERT_FALSE(kept.empty());
    EXPECT_EQ(customers(kept), (Names{"张三", "李四"})) << "the restore itself can be undone";
    EXPECT_EQ(entries("."), (Entries{kLedger, "backups"})) << "no temporary file left";
    EXPECT_EQ(entries("backups/" + kLedger).size(), 2u);
    EXPECT_FALSE(tsl::changedSinceSnapshot(kLedger)) << "the restored file is that snapshot's state";

    // Undo the restore: what it replaces is held by the snapshot restored before.
    const std::string again = tsl::restoreSnapshot(kLedger, tsl::listSnapshots(kLedger).back(), at(2026, 12, 3));
    EXPECT_EQ(customers(kLedger), (Names{"张三", "李四"}));
    EXPECT_EQ(again, old.path);
    EXPECT_EQ(tsl::listSnapshots(kLedger).size(), 2u);
}

TEST_F(Backups, DamagedOrForeignSnapshotChangesNothing) {
    const tsl::Snapshot s = tsl::takeSnapshot(kLedger, at(2026, 12, 1));
    addCustomer("李四");
    // Garble the middle of the snapshot, where the tables' pages lie.
    std::string bytes = tsltest::readFile(s.path);
    for (std::size_t i = 1024; i < bytes.size(); i += 7)
        bytes[i] = char(0x5a);
    tsltest::writeFile(s.path, bytes);
    dir.seedIndex("other.mdb");
    const tsl::Snapshot foreign = tsl::takeSnapshot("other.mdb", at(2026, 12, 3));
    for (const auto& [why, bad] : {std::pair{"garbled", s}, std::pair{"another file's", foreign}}) {
        SCOPED_TRACE(why);
        EXPECT_THROW((void)tsl::restoreSnapshot(kLedger, bad, at(2026, 12, 4)), tsl::Error);
        EXPECT_EQ(customers(kLedger), (Names{"张三", "李四"}));
    }
    EXPECT_EQ(tsl::listSnapshots(kLedger).size(), 1u);
    for (const auto& n : entries("backups/" + kLedger))
        EXPECT_EQ(n.find(".tmp-"), std::string::npos) << n;
}

TEST_F(Backups, RestoreBringsBackADeletedFileAndPlaysBackACrashedWrite) {
    const tsl::Snapshot s = tsl::takeSnapshot(kLedger, at(2026, 12, 1));
    ASSERT_EQ(unlink(kLedger.c_str()), 0);
    EXPECT_EQ(tsl::restoreSnapshot(kLedger, s, at(2026, 12, 2)), "");
    EXPECT_EQ(customers(kLedger), (Names{"张三"}));

    // A writer killed in the middle of a big transaction leaves a hot journal;
    // it must be played back into the old file, never into the restored one.
    addCustomer("李四");
    tsltest::inChild([] {
        sqlite3* db = nullptr;
        sqlite3_open_v2(kLedger.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr);
        return sqlite3_exec(db,
                            "PRAGMA cache_size=1; BEGIN; WITH RECURSIVE c(i) AS (SELECT 1 UNION ALL SELECT i+1 FROM c"
                            " WHERE i<5000) INSERT INTO \"1\" SELECT hex(randomblob(100)),'','','','' FROM c;",
                            nullptr, nullptr, nullptr);
    });
    ASSERT_TRUE(fs::exists(kLedger + "-journal"));

    const std::string kept = tsl::restoreSnapshot(kLedger, tsl::listSnapshots(kLedger).front(), at(2026, 12, 3));
    EXPECT_FALSE(fs::exists(kLedger + "-journal"));
    EXPECT_EQ(customers(kLedger), (Names{"张三"}));
    EXPECT_EQ(customers(kept), (Names{"张三", "李四"}));
    EXPECT_EQ(sqlColumn(kLedger, "PRAGMA integrity_check"), Names{"ok"});
}

// The copy is checked while the file's state is kept; a crash's journal waits
// for the check, so a damaged snapshot leaves the file, its journal and the
// list of snapshots exactly as they were.
TEST_F(Backups, ADamagedSnapshotLeavesACrashedWriteAndTheListAlone) {
    const tsl::Snapshot s = tsl::takeSnapshot(kLedger, at(2026, 12, 1));
    std::string bytes = tsltest::readFile(s.path);
    for (std::size_t i = 1024; i < bytes.size(); i += 7)
        bytes[i] = char(0x5a);
    tsltest::writeFile(s.path, bytes);
    addCustomer("李四");
    tsltest::inChild([] {
        sqlite3* db = nullptr;
        sqlite3_open_v2(kLedger.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr);
        return sqlite3_exec(db,
                            "PRAGMA cache_size=1; BEGIN; WITH RECURSIVE c(i) AS (SELECT 1 UNION ALL SELECT i+1 FROM c"
                            " WHERE i<5000) INSERT INTO \"1\" SELECT hex(randomblob(100)),'','','','' FROM c;",
                            nullptr, nullptr, nullptr);
    });
    ASSERT_TRUE(fs::exists(kLedger + "-journal"));
    const std::string journal = tsltest::readFile(kLedger + "-journal");
    const std::string file = tsltest::readFile(kLedger);

    EXPECT_THROW((void)tsl::restoreSnapshot(kLedger, s, at(2026, 12, 2)), tsl::Error);
    EXPECT_EQ(tsltest::readFile(kLedger + "-journal"), journal);
    EXPECT_EQ(tsltest::readFile(kLedger), file);
    EXPECT_EQ(tsl::listSnapshots(kLedger).size(), 1u);
    for (const auto& n : entries("backups/" + kLedger))
        EXPECT_EQ(n.find(".tmp-"), std::string::npos) << n;
}

TEST_F(Backups, BackupAllWritesACompleteNewFolderAndNeverOverwrites) {
    dir.seedIndex("tsl.mdb");
    dir.seedIndex("b.mdb");
    addCustomer("b1", "b.mdb");
    fs::create_directory("stick");
    const std::time_t t = at(2026, 12, 8, 21, 0, 0);
    Names skipped;
    const std::string first = tsl::backupAllTo("stick", "tsl.mdb", {kLedger, "b.mdb", "gone.mdb"}, t, &skipped);
    EXPECT_EQ(first, "stick/tessolan-备份-20261208-210000");
    EXPECT_EQ(entries(first), (Entries{"run.dll", kLedger, "b.mdb"}));
    EXPECT_EQ(customers(first + "/b.mdb"), (Names{"b1"}));
    EXPECT_EQ(skipped, (Names{"gone.mdb"}));

    addCustomer("b2", "b.mdb");
    const std::string second = tsl::backupAllTo("stick", "tsl.mdb", {kLedger, "b.mdb"}, t);
    EXPECT_EQ(second, first + "-2");
    EXPECT_EQ(customers(first + "/b.mdb"), (Names{"b1"})) << "the first copy is not overwritten";
    EXPECT_EQ(customers(second + "/b.mdb"), (Names{"b1", "b2"}));

    EXPECT_THROW((void)tsl::backupAllTo("nowhere", "tsl.mdb", {kLedger}, t), tsl::Error);
    // A source that cannot be copied leaves no half folder behind.
    tsltest::writeFile("bad.mdb", "this is no database at all, just text that is long enough....");
    EXPECT_THROW((void)tsl::backupAllTo("stick", "tsl.mdb", {kLedger, "bad.mdb"}, t), tsl::Error);
    EXPECT_EQ(entries("stick").size(), 2u);
}

TEST_F(Backups, RowCountsOfASnapshot) {
    sqlExec(kLedger, "INSERT INTO \"2\" VALUES ('(1)2004-5-12','a','b','1','c','d','5');"
                     "INSERT INTO \"4\" VALUES ('(1)2004-5-12','w','k','1','5'), ('(2)2004-5-12','w','k','1','5');");
    EXPECT_EQ(tsl::snapshotRowCounts(tsl::takeSnapshot(kLedger, at(2026, 12, 1)).path),
              (std::vector<long long>{1, 1, 0, 2}));
    tsltest::writeFile("junk.mdb", "junk");
    EXPECT_TRUE(tsl::snapshotRowCounts("junk.mdb").empty());
}

// ---- the program's own files only ----

namespace {

using Contents = std::map<std::string, std::string>;

// Every file under a folder (links not followed) with what it holds.
Contents contentsOf(const std::string& folder) {
    Contents out;
    for (const auto& e : fs::recursive_directory_iterator(folder))
        out[e.path().string()] = e.is_symlink() ? "-> " + fs::read_symlink(e.path()).string()
                                 : e.is_regular_file() ? tsltest::readFile(e.path().string())
                                                       : "folder";
    return out;
}

// Names of the program's snapshot and temporary patterns, and one any ".tmp-" matched.
void plantLookalikes(const std::string& folder) {
    fs::create_directories(folder);
    for (int d = 1; d <= 12; ++d)
        tsltest::writeFile(folder + "/202001" + (d < 10 ? "0" : "") + std::to_string(d) + "-120000.mdb", "theirs");
    for (const char* n : {"20260302-120000.mdb.tmp-AbC123", "restore.tmp-XyZ789", "notes.tmp-2"})
        tsltest::writeFile(folder + "/" + n, "theirs");
}

} // namespace

// A link where the program keeps its snapshots is never followed: nothing is
// written, listed, restored from or deleted through it.
TEST_F(Backups, LinksInTheBackupFolderAreNeverFollowed) {
    const std::pair<const char*, std::function<void()>> cases[] = {
        {"the ledger's snapshot folder is a link",
         [] {
             plantLookalikes("elsewhere");
             fs::create_directory("backups");
             fs::create_directory_symlink("../elsewhere", "backups/" + kLedger);
         }},
        {"the backup folder is a link",
         [] {
             plantLookalikes("elsewhere/" + kLedger);
             fs::create_directory_symlink("elsewhere", "backups");
         }},
    };
    for (const auto& [why, plant] : cases) {
        SCOPED_TRACE(why);
        fs::remove_all("backups");
        fs::remove_all("elsewhere");
        plant();
        const Contents before = contentsOf("elsewhere");

        const auto failures = tsl::backupChanged({kLedger}, at(2026, 12, 8));
        EXPECT_EQ(failures.size(), 1u);
        EXPECT_THROW((void)tsl::takeSnapshot(kLedger, at(2026, 12, 8)), tsl::ForeignEntryError);
        EXPECT_TRUE(tsl::listSnapshots(kLedger).empty());
        tsl::pruneSnapshots(kLedger, at(2026, 12, 8));
        tsl::tidyBackups();
        const std::string name = "20200101-120000.mdb";
        tsl::Snapshot through{"backups/" + kLedger + "/" + name, name, at(2020, 1, 1), 0};
        EXPECT_THROW((void)tsl::restoreSnapshot(kLedger, through, at(2026, 12, 9)), tsl::ForeignEntryError);

        EXPECT_EQ(contentsOf("elsewhere"), before);
        EXPECT_EQ(customers(kLedger), (Names{"张三"}));
    }
}

// In a real snapshot folder, links and folders under the program's names, and
// files of names it never makes, are not its own: they stay.
TEST_F(Backups, OnlyPlainFilesOfTheProgramsNamesAreDeleted) {
    plantLookalikes("elsewhere");
    const std::string folder = "backups/" + kLedger;
    fs::create_directories(folder);
    for (const auto& e : fs::directory_iterator("elsewhere"))
        fs::create_symlink("../../" + e.path().string(), folder + "/" + e.path().filename().string());
    fs::create_directory(folder + "/20260303-120000.mdb.tmp-QwE456");
    tsltest::writeFile(folder + "/20260303-120000.mdb.tmp-QwE456/x", "theirs");
    tsltest::writeFile(folder + "/x.tmp-AbC123", "theirs");
    tsltest::writeFile(folder + "/restore.tmp-AbC1234", "theirs");
    const Contents outside = contentsOf("elsewhere");
    Contents theirs = contentsOf(folder);

    // Own leftovers, plain files: these go.
    for (const char* n : {"20260304-120000.mdb.tmp-Zz9Yy8", "20260304-120000-2.mdb.tmp-Zz9Yy8-journal",
                          "restore.tmp-Aa1Bb2", "restore.tmp-Aa1Bb2-journal"})
        tsltest::writeFile(folder + "/" + n, "half");
    const tsl::Snapshot mine = tsl::takeSnapshot(kLedger, at(2026, 12, 8));
    ASSERT_EQ(tsl::listSnapshots(kLedger).size(), 1u) << "links of a snapshot's name are no snapshots";
    tsl::pruneSnapshots(kLedger, at(2026, 12, 8));
    tsl::tidyBackups();

    theirs[mine.path] = tsltest::readFile(mine.path);
    EXPECT_EQ(contentsOf(folder), theirs);
    EXPECT_EQ(contentsOf("elsewhere"), outside);
}

// A kill before SQLite wrote a journal's header leaves a journal SQLite never
// plays back; it must not block a restore. A writer at work still does.
TEST_F(Backups, DeadJournalIsSettledAndALiveWriterStillBlocks) {
    const tsl::Snapshot s = tsl::takeSnapshot(kLedger, at(2026, 12, 1));
    addCustomer("李四");
    const std::string journal = kLedger + "-journal";
    const std::pair<const char*, std::string> dead[] = {
        {"empty", ""},
        {"zeroed header", std::string(28, '\0') + std::string(4068, 'p')},
        {"all zero", std::string(8192, '\0')},
    };
    std::time_t day = at(2026, 12, 2);
    for (const auto& [why, bytes] : dead) {
        SCOPED_TRACE(why);
        tsltest::writeFile(journal, bytes);
        EXPECT_NO_THROW((void)tsl::restoreSnapshot(kLedger, s, day += 86400));
        EXPECT_FALSE(fs::exists(journal));
        EXPECT_EQ(customers(kLedger), (Names{"张三"}));
        addCustomer("李四");
    }
    // A journal of a deleted ledger belongs to no file: it is kept aside, never
    // played into the restored one.
    ASSERT_EQ(unlink(kLedger.c_str()), 0);
    tsltest::writeFile(journal, std::string(4096, 'j'));
    EXPECT_NO_THROW((void)tsl::restoreSnapshot(kLedger, s, day += 86400));
    EXPECT_EQ(tsltest::readFile(journal + ".stale"), std::string(4096, 'j'));
    EXPECT_FALSE(fs::exists(journal));
    EXPECT_EQ(customers(kLedger), (Names{"张三"}));
    addCustomer("李四");

    // A writer in another process, in the middle of its transaction.
    int ready[2], finish[2];
    ASSERT_EQ(pipe(ready), 0);
    ASSERT_EQ(pipe(finish), 0);
    const pid_t child = fork();
    ASSERT_NE(child, -1);
    if (child == 0) {
        sqlite3* db = nullptr;
        sqlite3_open_v2(kLedger.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr);
        sqlite3_exec(db, "BEGIN IMMEDIATE; INSERT INTO \"1\" VALUES ('王五','','','','');", nullptr, nullptr, nullptr);
        char c = 'r';
        (void)!write(ready[1], &c, 1);
        (void)!read(finish[0], &c, 1);
        _exit(0); // dies mid-transaction: its journal is hot
    }
    char c = 0;
    ASSERT_EQ(read(ready[0], &c, 1), 1);
    ASSERT_TRUE(fs::exists(journal));
    EXPECT_THROW((void)tsl::restoreSnapshot(kLedger, s, day += 86400), tsl::InUseError);
    EXPECT_TRUE(fs::exists(journal)) << "a live writer's journal stays";
    (void)!write(finish[1], &c, 1);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    for (int fd : {ready[0], ready[1], finish[0], finish[1]})
        close(fd);
    EXPECT_EQ(customers(kLedger), (Names{"张三", "李四"}));
    EXPECT_NO_THROW((void)tsl::restoreSnapshot(kLedger, s, day += 86400));
    EXPECT_EQ(customers(kLedger), (Names{"张三"}));
}

TEST(BackupAll, TempFolderNames) {
    for (const char* yes : {"tessolan-备份-20261208-210000.tmp-AbC123", "tessolan-备份-19991231-235959.tmp-000000"})
        EXPECT_TRUE(tsl::isBackupAllTempName(yes)) << yes;
    for (const char* no : {"tessolan-备份-20261208-210000", "tessolan-备份-20261208-210000-2",
                           "tessolan-备份-20261208-210000.tmp-AbC12", "tessolan-备份-20261208-210000.tmp-AbC1234",
                           "tessolan-备份-20261208-21000x.tmp-AbC123", "tessolan-备份-20261208-210000.tmp-AbC.23",
                           "x-tessolan-备份-20261208-210000.tmp-AbC123", "tessolan-backup-20261208-210000.tmp-AbC123"})
        EXPECT_FALSE(tsl::isBackupAllTempName(no)) << no;
}

// What a backup of everything cut short left in the chosen folder goes at the
// next backup there; lookalikes that are not such leftovers stay.
TEST_F(Backups, BackupAllClearsItsOwnLeftoversOnly) {
    dir.seedIndex("tsl.mdb");
    fs::create_directory("stick");
    const std::string stem = "stick/tessolan-备份-20261207-100000.tmp-";
    // Cut short at various points: empty, mid-copy, all copied.
    fs::create_directory(stem + "Empty0");
    fs::create_directory(stem + "MidCp1");
    tsltest::writeFile(stem + "MidCp1/run.dll", "copied");
    tsltest::writeFile(stem + "MidCp1/" + kLedger + ".tmp-Qw12Er", "half");
    tsltest::writeFile(stem + "MidCp1/" + kLedger + ".tmp-Qw12Er-journal", "half");
    fs::create_directory(stem + "AllCp2");
    tsltest::writeFile(stem + "AllCp2/run.dll", "copied");
    tsltest::writeFile(stem + "AllCp2/" + kLedger, "copied");

    // Not leftovers of the program: a link, a plain file, a folder with a
    // foreign file or a subfolder, a folder another backup is writing.
    plantLookalikes("elsewhere");
    fs::create_directory_symlink("../elsewhere", stem + "Link00");
    tsltest::writeFile(stem + "File00", "theirs");
    fs::create_directory(stem + "Notes0");
    tsltest::writeFile(stem + "Notes0/run.dll", "theirs");
    tsltest::writeFile(stem + "Notes0/notes.txt", "theirs");
    fs::create_directories(stem + "Sub000/sub");
    fs::create_directory(stem + "Busy00");
    const int busy = open((stem + "Busy00").c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(busy, 0);
    ASSERT_EQ(flock(busy, LOCK_EX), 0);
    fs::create_directory("stick/tessolan-备份-20261207-100000");
    const Contents theirs = contentsOf("stick");
    const Contents outside = contentsOf("elsewhere");

    const std::string written = tsl::backupAllTo("stick", "tsl.mdb", {kLedger}, at(2026, 12, 8, 21));
    close(busy);
    Contents expected = theirs;
    for (const char* leftover : {"Empty0", "MidCp1", "AllCp2"})
        std::erase_if(expected, [&](const auto& kv) { return kv.first.starts_with(stem + leftover); });
    Contents now = contentsOf("stick");
    std::erase_if(now, [&](const auto& kv) { return kv.first.starts_with(written); });
    EXPECT_EQ(now, expected);
    EXPECT_EQ(contentsOf("elsewhere"), outside);
    EXPECT_EQ(entries(written), (Entries{"run.dll", kLedger}));
}

// Snapshots, restored ledgers and backup copies get the permissions any file
// the user makes gets: 0666 less the umask. A restored ledger keeps its own.
TEST_F(Backups, FilesFollowTheUmask) {
    dir.seedIndex("tsl.mdb");
    const mode_t saved = umask(0);
    const auto mode = [](const std::string& p) { return fs::status(p).permissions(); };
    int n = 0;
    for (const mode_t mask : {mode_t(022), mode_t(002), mode_t(077), mode_t(0)}) {
        SCOPED_TRACE("umask " + std::to_string(mask));
        umask(mask);
        addCustomer("c" + std::to_string(++n));
        const fs::perms file = fs::perms(0666 & ~mask), folder = fs::perms(0777 & ~mask);
        const tsl::Snapshot s = tsl::takeSnapshot(kLedger, at(2026, 12, n));
        EXPECT_EQ(mode(s.path), file);
        const std::string all = tsl::backupAllTo(".", "tsl.mdb", {kLedger}, at(2026, 12, n));
        EXPECT_EQ(mode(all), folder);
        EXPECT_EQ(mode(all + "/run.dll"), file);
        EXPECT_EQ(mode(all + "/" + kLedger), file);
        fs::remove(kLedger);
        (void)tsl::restoreSnapshot(kLedger, s, at(2026, 12, n, 13));
        EXPECT_EQ(mode(kLedger), file) << "a ledger restored where there was none";
    }
    umask(022);
    ASSERT_EQ(chmod(kLedger.c_str(), 0640), 0);
    (void)tsl::restoreSnapshot(kLedger, tsl::listSnapshots(kLedger).front(), at(2026, 12, 20));
    EXPECT_EQ(mode(kLedger), fs::perms(0640)) << "a restored ledger keeps its permissions";
    umask(saved);
}

namespace {
std::vector<std::string> synced;
void recordSync(tsl::Synced what, const std::string& folder) {
    if (what == tsl::Synced::Folder)
        synced.push_back(folder);
}
} // namespace

// Every name the program publishes is put on disk: the new snapshot, the
// folders made for it, the restored ledger and a backup folder.
TEST_F(Backups, PublishedNamesAreSynced) {
    dir.seedIndex("tsl.mdb");
    synced.clear();
    tsl::setSyncObserver(recordSync);
    const tsl::Snapshot s = tsl::takeSnapshot(kLedger, at(2026, 12, 1));
    EXPECT_EQ(std::set<std::string>(synced.begin(), synced.end()),
              (std::set<std::string>{".", "backups", "backups/" + kLedger}));
    EXPECT_EQ(synced.back(), "backups/" + kLedger) << "the snapshot's folder after its rename";
    addCustomer("李四");
    synced.clear();
    (void)tsl::restoreSnapshot(kLedger, s, at(2026, 12, 2));
    EXPECT_EQ(std::count(synced.begin(), synced.end(), "."), 2) << "the data folder after the swap, twice";
    synced.clear();
    const std::string all = tsl::backupAllTo(".", "tsl.mdb", {kLedger}, at(2026, 12, 3));
    ASSERT_FALSE(synced.empty());
    EXPECT_EQ(synced.back(), ".");
    tsl::setSyncObserver(nullptr);
}
