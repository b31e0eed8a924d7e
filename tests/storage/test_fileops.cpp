#include "storage/error.h"
#include "storage/fileops.h"
#include "tests/support/tempdir.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <future>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;
using tsltest::readFile;
using tsltest::sqlColumn;
using tsltest::writeFile;

namespace {

std::set<std::string> listFolder(const std::string& folder = ".") {
    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator(folder))
        names.insert(e.path().filename().string());
    return names;
}

// A connection of its own, as another user of the file would have.
class Db {
public:
    explicit Db(const std::string& file) {
        if (sqlite3_open_v2(file.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) != SQLITE_OK)
            throw std::runtime_error("cannot open " + file);
    }
    ~Db() { sqlite3_close_v2(db_); }
    Db(const Db&) = delete;
    Db& operator=(const Db&) = delete;
    void exec(const std::string& sql) {
        char* err = nullptr;
        int rc = sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &err);
        std::string msg = err ? err : "";
        sqlite3_free(err);
        if (rc != SQLITE_OK)
            throw std::runtime_error("sql failed: " + msg + " in " + sql);
    }

private:
    sqlite3* db_ = nullptr;
};

// A small ledger-like database; journalMode is "delete" or "wal".
void makeDatabase(const std::string& file, const std::string& journalMode = "delete") {
    Db db(file);
    db.exec("PRAGMA journal_mode=" + journalMode);
    db.exec("CREATE TABLE t(id INTEGER PRIMARY KEY, name TEXT);"
            "INSERT INTO t(name) VALUES('alpha'),('beta'),('gamma');");
}

std::vector<std::string> names(const std::string& file) { return sqlColumn(file, "SELECT name FROM t ORDER BY id"); }

using Names = std::vector<std::string>;

std::string errorOf(auto&& fn) {
    try {
        fn();
    } catch (const tsl::Error& e) {
        return e.what();
    }
    return "";
}

} // namespace

// ---- renaming without replacing ----

TEST(RenameNoReplace, MovesTheFile) {
    tsltest::TempDir dir;
    writeFile("a", "content a");
    tsl::renameNoReplace("a", "b");
    EXPECT_FALSE(tsl::fileExists("a"));
    EXPECT_EQ(readFile("b"), "content a");
    fs::create_directory("sub");
    EXPECT_TRUE(tsl::tryRenameNoReplace("b", dir.path() + "/sub/c"));
    EXPECT_EQ(readFile("sub/c"), "content a");
    EXPECT_EQ(listFolder(), (std::set<std::string>{"sub"}));
}

// An existing target (even a dangling link), a missing source or a missing
// folder: both forms fail, the throwing one naming the file, and nothing moves.
TEST(RenameNoReplace, FailuresMoveNothing) {
    tsltest::TempDir dir;
    writeFile("a", "content a");
    writeFile("b", "content b");
    fs::create_symlink("nowhere", "link");
    const std::pair<const char*, const char*> cases[] = {
        {"a", "b"}, {"a", "link"}, {"missing", "c"}, {"a", "nofolder/b"}};
    for (const auto& [from, to] : cases) {
        SCOPED_TRACE(std::string(from) + " -> " + to);
        std::string msg = errorOf([&] { tsl::renameNoReplace(from, to); });
        EXPECT_FALSE(msg.empty());
        if (std::string(to) == "b" || std::string(from) == "missing") {
            const std::string named = std::string("\"") + (std::string(to) == "b" ? to : from) + "\"";
            EXPECT_NE(msg.find(named), std::string::npos) << msg;
        }
        EXPECT_FALSE(tsl::tryRenameNoReplace(from, to));
    }
    EXPECT_EQ(readFile("a"), "content a");
    EXPECT_EQ(readFile("b"), "content b");
    EXPECT_TRUE(fs::is_symlink("link"));
    EXPECT_EQ(listFolder(), (std::set<std::string>{"a", "b", "link"}));
}

TEST(FileExists, SeesFilesFoldersAndLinks) {
    tsltest::TempDir dir;
    EXPECT_FALSE(tsl::fileExists("x"));
    EXPECT_FALSE(tsl::fileExists(""));
    writeFile("x", "");
    EXPECT_TRUE(tsl::fileExists("x"));
    fs::create_directory("d");
    EXPECT_TRUE(tsl::fileExists("d"));
    fs::create_symlink("nowhere", "dangling");
    EXPECT_TRUE(tsl::fileExists("dangling"));
}

// ---- copying a database ----

TEST(CopyDatabase, CopiesAllRows) {
    tsltest::TempDir dir;
    makeDatabase("src.mdb");
    tsl::copyDatabase("src.mdb", "copy.mdb");
    EXPECT_EQ(names("copy.mdb"), (Names{"alpha", "beta", "gamma"}));
    EXPECT_EQ(sqlColumn("copy.mdb", "PRAGMA integrity_check"), Names{"ok"});
    EXPECT_EQ(names("src.mdb"), (Names{"alpha", "beta", "gamma"}));
    EXPECT_EQ(listFolder(), (std::set<std::string>{"src.mdb", "copy.mdb"}));

    // Into another folder by full path; the copy is independent of the source.
    fs::create_directory("backup");
    tsl::copyDatabase(dir.path() + "/src.mdb", dir.path() + "/backup/copy.mdb");
    tsltest::sqlExec("src.mdb", "DELETE FROM t");
    EXPECT_EQ(names("backup/copy.mdb"), (Names{"alpha", "beta", "gamma"}));
    EXPECT_EQ(listFolder("backup"), std::set<std::string>{"copy.mdb"});
}

// The copy makes longer names than its target (the temporary copy and its
// journal): the figure it gives is exactly the longest target that works, one
// byte more (still a valid file name) fails and leaves nothing.
TEST(CopyDatabase, LongestTargetIsExact) {
    tsltest::TempDir dir;
    makeDatabase("src.mdb");
    const std::size_t longest = tsl::longestCopyTarget();
    ASSERT_TRUE(longest > 4 && longest < 255) << longest;
    const std::string fits = std::string(longest - 4, 'a') + ".mdb";
    tsl::copyDatabase("src.mdb", fits);
    EXPECT_FALSE(errorOf([&] { tsl::copyDatabase("src.mdb", std::string(longest - 3, 'b') + ".mdb"); }).empty());
    EXPECT_EQ(listFolder(), (std::set<std::string>{"src.mdb", fits}));
}

// An existing target, a missing source or folder, a source that is no
// database: the copy fails and leaves the folder as it was.
TEST(CopyDatabase, FailuresLeaveNothing) {
    tsltest::TempDir dir;
    makeDatabase("src.mdb");
    writeFile("copy.mdb", "precious");
    writeFile("junk.mdb", std::string(4096, 'x'));
    const std::pair<const char*, const char*> cases[] = {
        {"src.mdb", "copy.mdb"}, {"missing.mdb", "new.mdb"}, {"src.mdb", "nofolder/new.mdb"}, {"junk.mdb", "new.mdb"}};
    for (const auto& [from, to] : cases) {
        SCOPED_TRACE(std::string(from) + " -> " + to);
        EXPECT_FALSE(errorOf([&] { tsl::copyDatabase(from, to); }).empty());
        EXPECT_EQ(listFolder(), (std::set<std::string>{"src.mdb", "copy.mdb", "junk.mdb"}));
    }
    EXPECT_EQ(readFile("copy.mdb"), "precious");
    EXPECT_EQ(readFile("junk.mdb"), std::string(4096, 'x'));
}

// Committed rows go in even when a plain file copy could miss them (in WAL
// mode they sit in the -wal file until a checkpoint); uncommitted ones stay out.
TEST(CopyDatabase, TakesCommittedRowsOnly) {
    for (const char* mode : {"delete", "wal"}) {
        SCOPED_TRACE(mode);
        tsltest::TempDir dir;
        makeDatabase("src.mdb", mode);
        Db writer("src.mdb");
        writer.exec("PRAGMA wal_autocheckpoint=0");
        writer.exec("INSERT INTO t(name) VALUES('committed')");
        tsl::copyDatabase("src.mdb", "copy1.mdb");
        writer.exec("BEGIN IMMEDIATE");
        writer.exec("INSERT INTO t(name) VALUES('uncommitted')");
        tsl::copyDatabase("src.mdb", "copy2.mdb");
        writer.exec("COMMIT");
        for (const char* copy : {"copy1.mdb", "copy2.mdb"}) {
            EXPECT_EQ(names(copy), (Names{"alpha", "beta", "gamma", "committed"}));
            EXPECT_EQ(sqlColumn(copy, "PRAGMA integrity_check"), Names{"ok"});
        }
    }
}

TEST(CopyDatabase, WaitsForAWriterToFinish) {
    tsltest::TempDir dir;
    makeDatabase("src.mdb");
    std::promise<void> locked;
    auto writer = std::async(std::launch::async, [&] {
        Db db("src.mdb");
        db.exec("BEGIN EXCLUSIVE"); // keeps readers out until the commit
        db.exec("INSERT INTO t(name) VALUES('late')");
        locked.set_value();
        std::this_thread::sleep_for(std::chrono::milliseconds(400));
        db.exec("COMMIT");
    });
    locked.get_future().wait();
    tsl::copyDatabase("src.mdb", "copy.mdb");
    writer.get();
    EXPECT_EQ(names("copy.mdb"), (Names{"alpha", "beta", "gamma", "late"}));
}

TEST(CopyDatabase, GivesUpOnALockThatStays) {
    tsltest::TempDir dir;
    makeDatabase("src.mdb");
    Db writer("src.mdb");
    writer.exec("BEGIN EXCLUSIVE");
    writer.exec("INSERT INTO t(name) VALUES('never')");

    auto start = std::chrono::steady_clock::now();
    std::string msg = errorOf([] { tsl::copyDatabase("src.mdb", "copy.mdb"); });
    auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_FALSE(msg.empty());
    EXPECT_LT(waited, std::chrono::seconds(30));
    writer.exec("ROLLBACK");
    EXPECT_EQ(listFolder(), std::set<std::string>{"src.mdb"});
    EXPECT_EQ(names("src.mdb"), (Names{"alpha", "beta", "gamma"}));
}

TEST(CopyDatabase, SourceLeftByACrashIsRolledBack) {
    tsltest::TempDir dir;
    makeDatabase("src.mdb");
    // A writer that dies in the middle of a transaction large enough to have
    // written into the database file leaves a hot journal behind.
    pid_t child = fork();
    ASSERT_NE(child, -1);
    if (child == 0) {
        sqlite3* db = nullptr;
        sqlite3_open_v2("src.mdb", &db, SQLITE_OPEN_READWRITE, nullptr);
        sqlite3_exec(db,
                     "PRAGMA cache_size=1; BEGIN;"
                     "WITH RECURSIVE c(i) AS (SELECT 1 UNION ALL SELECT i+1 FROM c WHERE i<5000)"
                     " INSERT INTO t(name) SELECT hex(randomblob(100)) FROM c;",
                     nullptr, nullptr, nullptr);
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(tsl::fileExists("src.mdb-journal"));

    tsl::copyDatabase("src.mdb", "copy.mdb");
    EXPECT_EQ(names("copy.mdb"), (Names{"alpha", "beta", "gamma"}));
    EXPECT_EQ(sqlColumn("copy.mdb", "PRAGMA integrity_check"), Names{"ok"});
    EXPECT_EQ(listFolder().count("copy.mdb"), 1u);
    for (const auto& name : listFolder())
        EXPECT_EQ(name.find(".tmp"), std::string::npos) << name;
}

// ---- permissions and the program's own files ----

// A copy (a new ledger is one) gets what any new file of the user gets.
TEST(CopyDatabase, FollowsTheUmask) {
    tsltest::TempDir dir;
    makeDatabase("src.mdb");
    const mode_t saved = umask(0);
    for (const mode_t mask : {mode_t(022), mode_t(002), mode_t(027), mode_t(077)}) {
        SCOPED_TRACE(std::to_string(mask));
        umask(mask);
        const std::string to = "copy" + std::to_string(mask) + ".mdb";
        tsl::copyDatabase("src.mdb", to);
        EXPECT_EQ(fs::status(to).permissions(), fs::perms(0666 & ~mask));
        const std::string folder = tsl::makeTempFolder("f" + std::to_string(mask) + ".tmp-");
        EXPECT_EQ(fs::status(folder).permissions(), fs::perms(0777 & ~mask));
    }
    umask(saved);
}

// A journal name held by a link, or a database name that is one, is no
// SQLite journal of that file: nothing is moved.
TEST(StaleJournal, LinksAreNotSetAside) {
    tsltest::TempDir dir;
    fs::create_directory("elsewhere");
    writeFile("elsewhere/theirs", "theirs");
    fs::create_symlink("elsewhere/theirs", "L.mdb-journal"); // born before the file
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    makeDatabase("new.mdb"); // made apart: SQLite would use a journal at its name
    fs::rename("new.mdb", "L.mdb");
    EXPECT_EQ(tsl::setAsideStaleJournal("L.mdb"), "");
    EXPECT_TRUE(fs::is_symlink("L.mdb-journal"));
    EXPECT_EQ(listFolder(), (std::set<std::string>{"elsewhere", "L.mdb", "L.mdb-journal"}));

    // The same with a plain journal is set aside (and the folder synced).
    fs::remove("L.mdb-journal");
    fs::remove("L.mdb");
    writeFile("L.mdb-journal", std::string(512, 'j'));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    makeDatabase("new.mdb");
    fs::rename("new.mdb", "L.mdb");
    static std::vector<std::string> synced;
    tsl::setSyncObserver([](tsl::Synced what, const std::string& f) {
        if (what == tsl::Synced::Folder)
            synced.push_back(f);
    });
    EXPECT_EQ(tsl::setAsideStaleJournal("L.mdb"), "L.mdb-journal.stale");
    tsl::setSyncObserver(nullptr);
    EXPECT_EQ(synced, (Names{"."}));
    EXPECT_EQ(readFile("L.mdb-journal.stale"), std::string(512, 'j'));
}

TEST(OwnFiles, RemoveOnlyPlainFilesAndMakeOnlyRealFolders) {
    tsltest::TempDir dir;
    fs::create_directories("elsewhere/sub");
    writeFile("elsewhere/f", "theirs");
    fs::create_directory("own");
    writeFile("own/plain", "mine");
    fs::create_symlink("../elsewhere/f", "own/link");
    fs::create_directory("own/folder");
    fs::create_directory_symlink("elsewhere", "linked");
    struct Case {
        const char* folder;
        const char* name;
        bool gone;
    } const cases[] = {
        {"own", "plain", true},     {"own", "link", false}, {"own", "folder", false}, {"own", "missing", false},
        {"linked", "f", false},     {"own", "../own/x", false}, {"own", "..", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(tsl::removeOwnFile(c.folder, c.name), c.gone) << c.folder << "/" << c.name;
    EXPECT_EQ(listFolder("own"), (std::set<std::string>{"link", "folder"}));
    EXPECT_EQ(readFile("elsewhere/f"), "theirs");

    EXPECT_NO_THROW(tsl::makeOwnFolder("own"));
    EXPECT_NO_THROW(tsl::makeOwnFolder("new"));
    EXPECT_TRUE(tsl::isRealFolder("new"));
    EXPECT_THROW(tsl::makeOwnFolder("linked"), tsl::ForeignEntryError);
    EXPECT_THROW(tsl::makeOwnFolder("missing/x"), tsl::Error);
    EXPECT_FALSE(tsl::isRealFolder("linked"));
    writeFile("afile", "");
    EXPECT_THROW(tsl::makeOwnFolder("afile"), tsl::ForeignEntryError);
}
