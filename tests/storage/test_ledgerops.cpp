// Ledgers managed as a whole: a new year from the last, rename, delete and
// bring back, restore from a folder of 备份全部帐本到…; and each of them ended
// by a kill after every step, then put right by the next start.
#include "storage/ledgerops.h"

#include "storage/backup.h"
#include "storage/connection.h"
#include "storage/error.h"
#include "storage/filelock.h"
#include "storage/fileops.h"
#include "storage/ledgerfolder.h"
#include "storage/schema.h"
#include "tests/support/tempdir.h"

#include <gtest/gtest.h>

#include <sqlite3.h>
#include <csignal>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

using tsltest::sqlColumn;
using tsltest::sqlExec;
using Names = std::vector<std::string>;

namespace {

struct UtcZone {
    UtcZone() {
        setenv("TZ", "UTC", 1);
        tzset();
    }
} utcZone;

// A folder with the running index and ledgers that have a row in every table.
struct Folder {
    tsltest::TempDir dir;
    tsl::Connection index;

    explicit Folder(const Names& ledgers) {
        dir.seedIndex("tsl.mdb");
        for (const std::string& n : ledgers)
            addLedger(n);
        open();
    }
    static void addLedger(const std::string& n) {
        tsl::copyDatabase("tsl.mdb", n + ".mdb");
        sqlExec("tsl.mdb", "INSERT INTO \"5\" VALUES (" + tsltest::sqlQuote(n) + ")");
        sqlExec(n + ".mdb", "INSERT INTO \"1\" VALUES ('王丽" + n + "','a','p','t','m'),('张三','a2','p2','t2','m2');"
                            "INSERT INTO \"2\" VALUES ('(1)2025-1-2','王丽','毛衫','3','a','p','100');"
                            "INSERT INTO \"3\" VALUES ('(1)2025-1-3','羊毛厂','毛线','5','50');"
                            "INSERT INTO \"4\" VALUES ('(1)2025-1-4','小李','套口','7','70');"
                            "INSERT INTO temp1 VALUES ('王丽');INSERT INTO temp2 VALUES ('小李');"
                            "INSERT INTO temp3 VALUES ('羊毛厂');INSERT INTO temp4 VALUES ('毛线');"
                            "INSERT INTO temp5 VALUES ('毛衫');INSERT INTO temp6 VALUES ('套口');");
    }
    void open() {
        index.disconnect();
        index.setConnectionString(tsl::connectionString("tsl.mdb"));
        index.connect();
    }
};

Names listed() { return sqlColumn("tsl.mdb", "SELECT name FROM \"5\" ORDER BY rowid"); }

// Every table of a ledger, one text.
std::string contents(const std::string& file) {
    sqlite3* db = nullptr;
    std::string all;
    if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        sqlite3_close(db);
        return "cannot open " + file;
    }
    for (const char* t : {"1", "2", "3", "4", "temp1", "temp2", "temp3", "temp4", "temp5", "temp6"}) {
        sqlite3_stmt* st = nullptr;
        sqlite3_prepare_v2(db, (std::string("SELECT * FROM \"") + t + "\" ORDER BY rowid").c_str(), -1, &st, nullptr);
        while (st && sqlite3_step(st) == SQLITE_ROW) {
            all += std::string(t) + ":";
            for (int i = 0; i < sqlite3_column_count(st); ++i) {
                const auto* v = sqlite3_column_text(st, i);
                all += std::string(v ? reinterpret_cast<const char*>(v) : "") + "|";
            }
        }
        sqlite3_finalize(st);
    }
    sqlite3_close(db);
    return all;
}

// What the folder holds beside the index and backups/.
Names files() {
    Names out;
    for (const std::string& n : tsl::folderEntries("."))
        if (n != "tsl.mdb" && n != "backups")
            out.push_back(n);
    std::sort(out.begin(), out.end());
    return out;
}

} // namespace

TEST(LedgerOps, NewYearTakesCustomersAndListsButNoMoney) {
    Folder f({"2025"});
    tsl::createLedgerFrom(f.index, "tsl.mdb", "2026", "2025");
    EXPECT_EQ(listed(), (Names{"2025", "2026"}));
    EXPECT_EQ(sqlColumn("2026.mdb", "SELECT \"姓名\" FROM \"1\" ORDER BY rowid"), (Names{"王丽2025", "张三"}));
    EXPECT_EQ(sqlColumn("2026.mdb", "SELECT \"地址\" FROM \"1\" ORDER BY rowid"), (Names{"a", "a2"}));
    for (const char* t : {"temp1", "temp2", "temp3", "temp4", "temp5", "temp6"})
        EXPECT_EQ(sqlColumn("2026.mdb", std::string("SELECT \"1\" FROM ") + t),
                  sqlColumn("2025.mdb", std::string("SELECT \"1\" FROM ") + t)) << t;
    for (const char* t : {"2", "3", "4"})
        EXPECT_EQ(sqlColumn("2026.mdb", std::string("SELECT count(*) FROM \"") + t + "\""), Names{"0"}) << t;
    EXPECT_EQ(files(), (Names{"2025.mdb", "2026.mdb"}));
}

// No file, no row, no temporary copy when it cannot be done.
TEST(LedgerOps, NewYearFailingLeavesNoTrace) {
    struct Case {
        const char* what;
        std::function<void()> prepare;
        std::string name, source;
        tsl::Failure kind;
    };
    const std::vector<Case> cases{
        {"source file missing", [] { unlink("2025.mdb"); }, "2026", "2025", tsl::Failure::MissingFile},
        {"source is no database", [] { tsltest::writeFile("2025.mdb", std::string(4096, 'x')); }, "2026", "2025",
         tsl::Failure::Damaged},
        {"source lacks a lookup list", [] { sqlExec("2025.mdb", "DROP TABLE temp6"); }, "2026", "2025",
         tsl::Failure::MissingTable},
        {"name's file is there", [] { tsltest::writeFile("2026.mdb", "mine"); }, "2026", "2025", tsl::Failure::Exists},
        {"name is listed", [] { sqlExec("tsl.mdb", "INSERT INTO \"5\" VALUES ('2026')"); }, "2026", "2025",
         tsl::Failure::Exists},
    };
    for (const Case& c : cases) {
        Folder f({"2025"});
        c.prepare();
        const Names before = listed();
        const Names filesBefore = files();
        try {
            tsl::createLedgerFrom(f.index, "tsl.mdb", c.name, c.source);
            ADD_FAILURE() << c.what << ": no error";
        } catch (const tsl::Error& e) {
            EXPECT_EQ(e.kind(), c.kind) << c.what << ": " << e.what();
        }
        EXPECT_EQ(listed(), before) << c.what;
        EXPECT_EQ(files(), filesBefore) << c.what;
    }
}

TEST(LedgerOps, RenameMovesFileRowAndSnapshots) {
    Folder f({"a", "b"});
    const std::string was = contents("a.mdb");
    (void)tsl::takeSnapshot("a.mdb", 1'700'000'000);
    tsl::renameLedger(f.index, "a", "甲");
    EXPECT_EQ(listed(), (Names{"甲", "b"})); // keeps its place in the list
    EXPECT_EQ(files(), (Names{"b.mdb", "甲.mdb"}));
    EXPECT_EQ(contents("甲.mdb"), was);
    EXPECT_EQ(tsl::listSnapshots("甲.mdb").size(), 1u);
    struct stat st;
    ASSERT_EQ(stat("甲.mdb", &st), 0);
    EXPECT_EQ(st.st_nlink, 1u);
}

TEST(LedgerOps, RenameRefused) {
    struct Case {
        const char* what;
        std::string from, to;
        tsl::Failure kind;
    };
    for (const Case& c : std::vector<Case>{{"to a listed name", "a", "b", tsl::Failure::Exists},
                                           {"onto a foreign file", "a", "c", tsl::Failure::Exists},
                                           {"an unlisted one", "c", "d", tsl::Failure::MissingFile},
                                           {"a listed one without file", "gone", "d", tsl::Failure::MissingFile}}) {
        Folder f({"a", "b", "gone"});
        unlink("gone.mdb");
        tsltest::writeFile("c.mdb", "not ours");
        const Names before = listed(), filesBefore = files();
        try {
            tsl::renameLedger(f.index, c.from, c.to);
            ADD_FAILURE() << c.what;
        } catch (const tsl::Error& e) {
            EXPECT_EQ(e.kind(), c.kind) << c.what;
        }
        EXPECT_EQ(listed(), before) << c.what;
        EXPECT_EQ(files(), filesBefore) << c.what;
    }
}

// Held by another program (its lock on the file), or written to: nothing moves.
TEST(LedgerOps, HeldLedgerIsNeitherRenamedNorDeletedNorReplaced) {
    Folder f({"a"});
    const std::string folder = tsl::backupAllTo(f.dir.path() + "/..", "tsl.mdb", {"a.mdb"}, 1'700'000'000);
    tsl::FileLock other;
    ASSERT_EQ(other.tryLock("a.mdb"), tsl::FileLock::Result::Locked);
    EXPECT_THROW(tsl::renameLedger(f.index, "a", "b"), tsl::InUseError);
    EXPECT_THROW((void)tsl::deleteLedger(f.index, "a", 1'700'000'000), tsl::InUseError);
    EXPECT_THROW((void)tsl::restoreLedgerFromFolder(f.index, folder, "a", 1'700'000'000), tsl::InUseError);
    other.unlock();
    std::filesystem::remove_all(folder);
    // Another program in the middle of a write (its journal and its lock).
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t writer = fork();
    if (writer == 0) {
        sqlite3* db = nullptr;
        sqlite3_open("a.mdb", &db);
        sqlite3_exec(db, "BEGIN IMMEDIATE; INSERT INTO temp1 VALUES ('x');", nullptr, nullptr, nullptr);
        (void)!write(ready[1], "r", 1);
        sleep(3);
        _exit(0);
    }
    char r = 0;
    ASSERT_EQ(read(ready[0], &r, 1), 1);
    EXPECT_THROW(tsl::renameLedger(f.index, "a", "b"), tsl::InUseError);
    EXPECT_THROW((void)tsl::deleteLedger(f.index, "a", 1'700'000'000), tsl::InUseError);
    kill(writer, SIGKILL);
    waitpid(writer, nullptr, 0);
    EXPECT_EQ(listed(), Names{"a"});
}

TEST(LedgerOps, DeleteKeepsASnapshotAndComesBack) {
    Folder f({"a", "b"});
    const std::string was = contents("a.mdb");
    const std::string kept = tsl::deleteLedger(f.index, "a", 1'700'000'000);
    EXPECT_EQ(listed(), Names{"b"});
    EXPECT_EQ(files(), Names{"b.mdb"});
    ASSERT_FALSE(kept.empty());
    EXPECT_EQ(contents(kept), was);
    EXPECT_EQ(tsl::deletedLedgers(listed()), Names{"a"});
    // The snapshot comes back under the old name, at the end of the list.
    const auto snaps = tsl::listSnapshots("a.mdb");
    ASSERT_EQ(snaps.size(), 1u);
    tsl::restoreDeletedLedger(f.index, "a", snaps.front());
    EXPECT_EQ(listed(), (Names{"b", "a"}));
    EXPECT_EQ(contents("a.mdb"), was);
    EXPECT_TRUE(tsl::deletedLedgers(listed()).empty());
    // It is the snapshot's state: no second snapshot of it.
    EXPECT_FALSE(tsl::changedSinceSnapshot("a.mdb"));
    // A listed name is no deleted one to bring back.
    EXPECT_THROW(tsl::restoreDeletedLedger(f.index, "a", snaps.front()), tsl::Error);
}

TEST(LedgerOps, RestoreFromBackupFolder) {
    Folder f({"a", "b"});
    const std::string folder = tsl::backupAllTo(f.dir.path() + "/..", "tsl.mdb", {"a.mdb", "b.mdb"}, 1'700'000'000);
    struct Remove {
        std::string p;
        ~Remove() { std::filesystem::remove_all(p); }
    } gone{folder};
    EXPECT_EQ(tsl::ledgersInBackupFolder(folder), (Names{"a", "b"}));
    const std::string backedUp = contents("a.mdb");
    sqlExec("a.mdb", "INSERT INTO \"1\" VALUES ('新','','','','')");
    const std::string changed = contents("a.mdb");
    (void)tsl::deleteLedger(f.index, "b", 1'700'000'100);

    // A listed ledger: what it held now is kept in a snapshot first.
    const std::string kept = tsl::restoreLedgerFromFolder(f.index, folder, "a", 1'700'000'200);
    EXPECT_EQ(contents("a.mdb"), backedUp);
    ASSERT_FALSE(kept.empty());
    EXPECT_EQ(contents(kept), changed);
    // A deleted one comes back at the end of the list.
    EXPECT_EQ(tsl::restoreLedgerFromFolder(f.index, folder, "b", 1'700'000'300), "");
    EXPECT_EQ(listed(), (Names{"a", "b"}));
    EXPECT_EQ(files(), (Names{"a.mdb", "b.mdb"}));
    // Not a backup folder.
    EXPECT_THROW((void)tsl::ledgersInBackupFolder(f.dir.path()), tsl::Error);
    // An unlisted file of that name is never replaced.
    (void)tsl::deleteLedger(f.index, "b", 1'700'000'400);
    tsltest::writeFile("b.mdb", "mine");
    EXPECT_THROW((void)tsl::restoreLedgerFromFolder(f.index, folder, "b", 1'700'000'500), tsl::Error);
    EXPECT_EQ(tsltest::readFile("b.mdb"), "mine");
}

// A kill after each step of each operation; the next start (settle, then the
// tidy of creations cut short) leaves the ledger under one name with its
// contents, or not at all with nothing behind it, and the index decides.
namespace {
std::string stopAt;
void stopHere(std::string_view step) {
    if (step == stopAt)
        _exit(0);
}
} // namespace

TEST(LedgerOps, KilledAfterEveryStepIsPutRightAtStart) {
    struct Case {
        const char* op;
        std::vector<const char*> steps;
        std::function<void(tsl::Connection&)> run;
        // The ledgers that may be listed after, and the contents of each (by name of the source).
        Names before, after;
    };
    const std::vector<Case> cases{
        {"rename", {"linked", "renamed row", "unlinked"}, [](tsl::Connection& i) { tsl::renameLedger(i, "a", "z"); },
         {"a", "b"}, {"z", "b"}},
        {"delete", {"snapshot", "parked", "unlisted", "removed"},
         [](tsl::Connection& i) { (void)tsl::deleteLedger(i, "a", 1'700'000'000); }, {"a", "b"}, {"b"}},
        {"new year", {"copied", "filled", "parked", "listed", "placed"},
         [](tsl::Connection& i) { tsl::createLedgerFrom(i, "tsl.mdb", "n", "a"); }, {"a", "b"}, {"a", "b", "n"}},
        {"bring back", {"parked", "listed", "placed"},
         [](tsl::Connection& i) { tsl::restoreDeletedLedger(i, "d", tsl::listSnapshots("d.mdb").front()); },
         {"a", "b"}, {"a", "b", "d"}},
    };
    for (const Case& c : cases) {
        for (const char* at : c.steps) {
            SCOPED_TRACE(std::string(c.op) + " killed after " + at);
            Folder f({"a", "b", "d"});
            (void)tsl::deleteLedger(f.index, "d", 1'699'000'000); // for "bring back"
            const std::string a = contents("a.mdb");
            const std::string d = contents(tsl::listSnapshots("d.mdb").front().path);
            f.index.disconnect();
            stopAt = at;
            const int rc = tsltest::inChild([&] {
                tsl::setLedgerStepHook(stopHere);
                tsl::Connection index;
                index.setConnectionString(tsl::connectionString("tsl.mdb"));
                index.connect();
                c.run(index);
                return 3; // the step never came
            });
            ASSERT_EQ(rc, 0);
            // The next start.
            Names now = listed();
            (void)tsl::settleLedgerFiles(now);
            (void)tsl::tidyLedgerFolder(now);
            const bool done = now == c.after;
            EXPECT_TRUE(done || now == c.before) << "listed: " << testing::PrintToString(now);
            const Names& names = done ? c.after : c.before;
            Names expected;
            for (const std::string& n : names)
                expected.push_back(n + ".mdb");
            std::sort(expected.begin(), expected.end());
            EXPECT_EQ(files(), expected); // nothing else: no second name, no parked file, no copy
            if (done && std::string(c.op) == "rename") {
                EXPECT_EQ(contents("z.mdb"), a);
            } else if (std::find(names.begin(), names.end(), "a") != names.end()) {
                EXPECT_EQ(contents("a.mdb"), a);
            }
            if (std::string(c.op) == "delete") { // gone or not, a snapshot holds it
                const auto snaps = tsl::listSnapshots("a.mdb");
                if (done) {
                    ASSERT_FALSE(snaps.empty());
                    EXPECT_EQ(contents(snaps.back().path), a);
                }
            }
            if (done && std::string(c.op) == "bring back") {
                EXPECT_EQ(contents("d.mdb"), d);
            }
            if (done && std::string(c.op) == "new year") {
                EXPECT_EQ(sqlColumn("n.mdb", "SELECT count(*) FROM \"1\""), Names{"2"});
            }
            // A second start finds nothing to do.
            EXPECT_TRUE(tsl::settleLedgerFiles(listed()).empty());
        }
    }
}

// Two names of one file with neither or both listed, and a parked file of a
// listed ledger that has its file: not the program's steps, left alone.
TEST(LedgerOps, SettleLeavesWhatNoStepLeft) {
    Folder f({"a", "b"});
    ASSERT_EQ(link("a.mdb", "x.mdb"), 0);
    ASSERT_EQ(link("a.mdb", "y.mdb"), 0);
    tsltest::writeFile("b.mdb.parked", "?");
    (void)tsl::settleLedgerFiles({"b"});
    EXPECT_EQ(files(), (Names{"a.mdb", "b.mdb", "b.mdb.parked", "x.mdb", "y.mdb"}));
    // One listed: the other names go.
    EXPECT_EQ(tsl::settleLedgerFiles({"a", "b"}), (Names{"removed x.mdb", "removed y.mdb"}));
}
