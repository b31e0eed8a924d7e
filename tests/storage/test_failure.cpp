// Storage failures sorted by what went wrong, met for real where the machine
// allows it, and the words each kind gets.
#include "connection.h"
#include "cursor.h"
#include "error.h"
#include "failure.h"
#include "faultyvfs.h"
#include "fileops.h"
#include "filelock.h"
#include "intconv.h"
#include "indexfiles.h"
#include "schema.h"
#include "tempdir.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cerrno>
#include <functional>
#include <new>
#include <string>

using tsl::Failure;

namespace {

struct Met {
    Failure kind = Failure::Other;
    std::string file;
    std::string text;
};

Met meet(const std::function<void()>& action) {
    try {
        action();
    } catch (const tsl::Error& e) {
        return {e.kind(), e.file(), e.what()};
    }
    ADD_FAILURE() << "no failure";
    return {};
}

void connectTo(tsl::Connection& c, const std::string& file) {
    c.setConnectionString(tsl::connectionString(file));
    c.connect();
}

} // namespace

TEST(Failure, SortedByCode) {
    const struct {
        int code;
        int err;
        Failure kind;
    } cases[] = {
        {SQLITE_FULL, 0, Failure::DiskFull},
        {SQLITE_IOERR_WRITE, 0, Failure::IoError},
        {SQLITE_IOERR_FSYNC, 0, Failure::IoError},
        {SQLITE_READONLY, 0, Failure::ReadOnly},
        {SQLITE_READONLY_DIRECTORY, 0, Failure::ReadOnly},
        {SQLITE_BUSY, 0, Failure::Locked},
        {SQLITE_LOCKED_SHAREDCACHE, 0, Failure::Locked},
        {SQLITE_CORRUPT, 0, Failure::Damaged},
        {SQLITE_NOTADB, 0, Failure::Damaged},
        {SQLITE_PERM, 0, Failure::NoAccess},
        {SQLITE_CANTOPEN, ENOENT, Failure::MissingFile},
        {SQLITE_CANTOPEN, EACCES, Failure::NoAccess},
        {SQLITE_CANTOPEN, EROFS, Failure::ReadOnly},
        {SQLITE_CANTOPEN, ENOSPC, Failure::DiskFull},
        {SQLITE_CANTOPEN, ENAMETOOLONG, Failure::NameTooLong},
        {SQLITE_CANTOPEN, 0, Failure::MissingFile},
        {SQLITE_CONSTRAINT, 0, Failure::Other},
    };
    for (const auto& c : cases)
        EXPECT_EQ(tsl::failureOfSqlite(c.code, c.err), c.kind) << c.code << " " << c.err;

    const struct {
        int err;
        Failure kind;
    } errnos[] = {{ENOSPC, Failure::DiskFull},  {EDQUOT, Failure::DiskFull},     {EIO, Failure::IoError},
                  {EROFS, Failure::ReadOnly},   {EACCES, Failure::NoAccess},     {EPERM, Failure::NoAccess},
                  {EBUSY, Failure::Locked},     {ENOENT, Failure::MissingFile},  {ENAMETOOLONG, Failure::NameTooLong},
                  {EEXIST, Failure::Exists},    {EINVAL, Failure::Other}};
    for (const auto& c : errnos)
        EXPECT_EQ(tsl::failureOfErrno(c.err), c.kind) << c.err;
}

// Every kind names the file in Chinese: no English word of the engine's.
TEST(Failure, TextsNameTheFileInChinese) {
    for (Failure k : {Failure::DiskFull, Failure::IoError, Failure::ReadOnly, Failure::NoAccess, Failure::Locked,
                      Failure::Damaged, Failure::MissingTable, Failure::MissingFile, Failure::NameTooLong,
                      Failure::Exists}) {
        std::string text = tsl::failureText(k, "甲.mdb", "1");
        const auto at = text.find("\"甲.mdb\"");
        ASSERT_NE(at, std::string::npos) << text;
        const std::string rest = std::string(text).erase(at, std::string("\"甲.mdb\"").size());
        EXPECT_EQ(rest.find_first_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"), std::string::npos) << text;
        EXPECT_EQ(text.back(), '!') << text;
        const std::string unnamed = tsl::failureText(k, "");
        EXPECT_EQ(unnamed.find("\"\""), std::string::npos) << unnamed;
    }
    EXPECT_EQ(tsl::failureText(Failure::MissingTable, "x.mdb", "1"), "文件\"x.mdb\"中找不到表\"1\"!");
    // The whole-number conversion keeps its own words.
    try {
        (void)tsl::strToInt("1 ");
        ADD_FAILURE();
    } catch (const std::exception& e) {
        EXPECT_EQ(tsl::errorText(e), "'1 ' is not a valid integer value");
    }
    EXPECT_EQ(tsl::errorText(std::bad_alloc()), "内存不足!");
}

// The same failures met through the storage layer's own calls.
TEST(Failure, MetForReal) {
    tsltest::TempDir dir;
    dir.seedIndex("good.mdb");
    tsltest::writeFile("garbage.mdb", std::string(4096, 'x'));
    tsltest::writeFile("empty.mdb", "");

    tsl::Connection a, b, c, d;
    Met m = meet([&] { connectTo(a, "garbage.mdb"); });
    EXPECT_EQ(m.kind, Failure::Damaged);
    EXPECT_EQ(m.file, "garbage.mdb");
    EXPECT_FALSE(a.connected());

    m = meet([&] { connectTo(b, "gone.mdb"); });
    EXPECT_EQ(m.kind, Failure::MissingFile);
    EXPECT_EQ(m.text, "找不到文件\"gone.mdb\"!");

    // An empty file is an empty database: it opens, but has no books.
    connectTo(c, "empty.mdb");
    tsl::Cursor books(c);
    books.setTableName("1");
    m = meet([&] { books.open(); });
    EXPECT_EQ(m.kind, Failure::MissingTable);
    EXPECT_EQ(m.text, "文件\"empty.mdb\"中找不到表\"1\"!");

    // Held by another program.
    tsl::FileLock other;
    ASSERT_EQ(other.tryLock("good.mdb"), tsl::FileLock::Result::Locked);
    d.setExclusive(true);
    m = meet([&] { connectTo(d, "good.mdb"); });
    EXPECT_EQ(m.kind, Failure::Locked);
    EXPECT_EQ(m.text, "文件\"good.mdb\"正在被另一个程序使用!");
    other.unlock();

    // Copies: a name in the way, a name too long for the disk, no source.
    m = meet([] { tsl::copyDatabase("good.mdb", "garbage.mdb"); });
    EXPECT_EQ(m.kind, Failure::Exists);
    const std::string longName(300, 'a');
    m = meet([&] { tsl::copyDatabase("good.mdb", longName); });
    EXPECT_EQ(m.kind, Failure::NameTooLong);
    m = meet([] { tsl::copyDatabase("gone.mdb", "new.mdb"); });
    EXPECT_EQ(m.kind, Failure::MissingFile);
    EXPECT_EQ(m.file, "gone.mdb");
    EXPECT_FALSE(tsl::fileExists("new.mdb"));
}

// A write the disk refuses: the post fails with the disk's reason, the file named.
TEST(Failure, DiskRefusesAWrite) {
    for (const auto& [code, kind] : {std::pair{SQLITE_FULL, Failure::DiskFull},
                                     std::pair{SQLITE_IOERR_WRITE, Failure::IoError}}) {
        tsltest::FaultyVfs disk;
        tsltest::TempDir dir;
        dir.seedIndex("x.mdb");
        tsl::Connection conn;
        connectTo(conn, "x.mdb");
        tsl::Cursor t(conn);
        t.setTableName("1");
        t.open();
        disk.failNextWrite("-journal", code);
        const Met m = meet([&] {
            t.append();
            t.setField("姓名", "张三");
            t.post();
        });
        EXPECT_EQ(m.kind, kind);
        EXPECT_EQ(m.file, "x.mdb");
        // A copy onto a full disk names the copy, not its temporary file.
        disk.failNextWrite("-journal", code);
        const Met copy = meet([] { tsl::copyDatabase("x.mdb", "y.mdb"); });
        EXPECT_EQ(copy.kind, kind);
        EXPECT_EQ(copy.file, "y.mdb");
    }
}

// Both index names at start: the other one is read without being changed and
// moved aside under a name of its own, never over another file.
TEST(IndexFiles, ReadAndSetAside) {
    tsltest::TempDir dir;
    dir.seedIndex("run.dll");
    tsltest::sqlExec("run.dll", "INSERT INTO \"5\" VALUES ('甲'), ('乙')");
    const std::string before = tsltest::readFile("run.dll");
    EXPECT_EQ(tsl::ledgerNamesIn("run.dll"), (std::vector<std::string>{"甲", "乙"}));
    tsltest::writeFile("junk", "junk");
    EXPECT_FALSE(tsl::ledgerNamesIn("junk"));
    EXPECT_FALSE(tsl::ledgerNamesIn("gone"));

    const std::time_t now = 1765258200;
    const std::string first = tsl::setAside("run.dll", now);
    ASSERT_FALSE(first.empty());
    EXPECT_EQ(first.rfind("run.dll.", 0), 0u);
    EXPECT_EQ(tsltest::readFile(first), before);
    tsltest::writeFile("run.dll", "second");
    const std::string second = tsl::setAside("run.dll", now); // the same second: numbered
    EXPECT_EQ(second, first + "-2");
    EXPECT_EQ(tsltest::readFile(first), before);
    EXPECT_EQ(tsl::setAside("gone", now), "");
}
