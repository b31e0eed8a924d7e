#include "error.h"
#include "fileops.h"
#include "tempdir.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;
using tsltest::sqlColumn;

namespace {

void writeFile(const std::string& name, const std::string& content) {
    std::ofstream(name, std::ios::binary) << content;
}

std::string readFile(const std::string& name) {
    std::ifstream in(name, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

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

std::vector<std::string> names(const std::string& file) {
    return sqlColumn(file, "SELECT name FROM t ORDER BY id");
}

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

TEST(RenameNoReplace, ExistingTargetIsKept) {
    tsltest::TempDir dir;
    writeFile("a", "content a");
    writeFile("b", "content b");

    std::string msg = errorOf([] { tsl::renameNoReplace("a", "b"); });
    EXPECT_NE(msg.find("'b'"), std::string::npos) << msg;
    EXPECT_EQ(readFile("a"), "content a");
    EXPECT_EQ(readFile("b"), "content b");

    EXPECT_FALSE(tsl::tryRenameNoReplace("a", "b"));
    EXPECT_EQ(readFile("a"), "content a");
    EXPECT_EQ(readFile("b"), "content b");

    // A target that is only a dangling link still counts as taken.
    fs::create_symlink("nowhere", "link");
    EXPECT_THROW(tsl::renameNoReplace("a", "link"), tsl::Error);
    EXPECT_TRUE(fs::is_symlink("link"));
    EXPECT_EQ(readFile("a"), "content a");
}

TEST(RenameNoReplace, MissingSourceOrFolderFails) {
    tsltest::TempDir dir;
    std::string msg = errorOf([] { tsl::renameNoReplace("missing", "b"); });
    EXPECT_NE(msg.find("'missing'"), std::string::npos) << msg;
    EXPECT_FALSE(tsl::tryRenameNoReplace("missing", "b"));
    EXPECT_FALSE(tsl::fileExists("b"));

    writeFile("a", "content a");
    EXPECT_THROW(tsl::renameNoReplace("a", "nofolder/b"), tsl::Error);
    EXPECT_FALSE(tsl::tryRenameNoReplace("a", "nofolder/b"));
    EXPECT_EQ(readFile("a"), "content a");
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

TEST(CopyDatabase, ExistingTargetIsKept) {
    tsltest::TempDir dir;
    makeDatabase("src.mdb");
    writeFile("copy.mdb", "precious");
    EXPECT_THROW(tsl::copyDatabase("src.mdb", "copy.mdb"), tsl::Error);
    EXPECT_EQ(readFile("copy.mdb"), "precious");
    EXPECT_EQ(listFolder(), (std::set<std::string>{"src.mdb", "copy.mdb"}));
}

TEST(CopyDatabase, MissingSourceLeavesNothing) {
    tsltest::TempDir dir;
    std::string msg = errorOf([] { tsl::copyDatabase("missing.mdb", "copy.mdb"); });
    EXPECT_FALSE(msg.empty());
    EXPECT_TRUE(listFolder().empty()) << "neither the source nor any copy may appear";

    makeDatabase("src.mdb");
    EXPECT_THROW(tsl::copyDatabase("src.mdb", "nofolder/copy.mdb"), tsl::Error);
    EXPECT_EQ(listFolder(), std::set<std::string>{"src.mdb"});
}

TEST(CopyDatabase, SourceThatIsNoDatabaseLeavesNothing) {
    tsltest::TempDir dir;
    writeFile("junk.mdb", std::string(4096, 'x'));
    EXPECT_THROW(tsl::copyDatabase("junk.mdb", "copy.mdb"), tsl::Error);
    EXPECT_EQ(listFolder(), std::set<std::string>{"junk.mdb"});
    EXPECT_EQ(readFile("junk.mdb"), std::string(4096, 'x'));
}

TEST(CopyDatabase, SourceOpenInThisProcess) {
    // Committed rows that a plain file copy could miss: in WAL mode they sit in
    // the -wal file until a checkpoint.
    for (const char* mode : {"delete", "wal"}) {
        SCOPED_TRACE(mode);
        tsltest::TempDir dir;
        makeDatabase("src.mdb", mode);
        Db other("src.mdb");
        other.exec("PRAGMA wal_autocheckpoint=0");
        other.exec("INSERT INTO t(name) VALUES('delta')");
        tsl::copyDatabase("src.mdb", "copy.mdb");
        EXPECT_EQ(names("copy.mdb"), (Names{"alpha", "beta", "gamma", "delta"}));
        EXPECT_EQ(sqlColumn("copy.mdb", "PRAGMA integrity_check"), Names{"ok"});
    }
}

TEST(CopyDatabase, UncommittedRowsStayOut) {
    for (const char* mode : {"delete", "wal"}) {
        SCOPED_TRACE(mode);
        tsltest::TempDir dir;
        makeDatabase("src.mdb", mode);
        Db writer("src.mdb");
        writer.exec("INSERT INTO t(name) VALUES('committed')");
        writer.exec("BEGIN IMMEDIATE");
        writer.exec("INSERT INTO t(name) VALUES('uncommitted')");
        tsl::copyDatabase("src.mdb", "copy.mdb");
        writer.exec("COMMIT");
        EXPECT_EQ(names("copy.mdb"), (Names{"alpha", "beta", "gamma", "committed"}));
        EXPECT_EQ(listFolder().count("copy.mdb"), 1u);
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
