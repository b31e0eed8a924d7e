// Storage failures met for real through the storage layer's own calls: each
// sorted by what went wrong and worded in Chinese, naming the file.
#include "storage/connection.h"
#include "storage/cursor.h"
#include "storage/error.h"
#include "storage/failure.h"
#include "storage/fileops.h"
#include "storage/filelock.h"
#include "storage/intconv.h"
#include "storage/schema.h"
#include "tests/support/tempdir.h"

#include <gtest/gtest.h>

#include <functional>
#include <new>
#include <string>

using tsl::Failure;

namespace {

struct Met {
    Failure kind = Failure::Other;
    std::string text;
};

Met meet(const std::function<void()>& action) {
    try {
        action();
    } catch (const tsl::Error& e) {
        return {e.kind(), e.what()};
    }
    ADD_FAILURE() << "no failure";
    return {};
}

void connectTo(tsl::Connection& c, const std::string& file) {
    c.setConnectionString(tsl::connectionString(file));
    c.connect();
}

} // namespace

TEST(Failure, MetForReal) {
    tsltest::TempDir dir;
    dir.seedIndex("good.mdb");
    tsltest::writeFile("garbage.mdb", std::string(4096, 'x'));
    tsltest::writeFile("empty.mdb", "");
    tsl::Connection garbage, gone, empty, held;
    tsl::Cursor books(empty);
    books.setTableName("1");
    tsl::FileLock other;
    ASSERT_EQ(other.tryLock("good.mdb"), tsl::FileLock::Result::Locked);
    held.setExclusive(true);

    const struct {
        const char* what;
        std::function<void()> action;
        Failure kind;
        std::string text;
    } cases[] = {
        {"not a database", [&] { connectTo(garbage, "garbage.mdb"); }, Failure::Damaged,
         "文件\"garbage.mdb\"已经损坏,或者不是本程序的文件!"},
        {"no such file", [&] { connectTo(gone, "gone.mdb"); }, Failure::MissingFile, "找不到文件\"gone.mdb\"!"},
        // An empty file is an empty database: it opens, but has no books.
        {"no such table",
         [&] {
             connectTo(empty, "empty.mdb");
             books.open();
         },
         Failure::MissingTable, "文件\"empty.mdb\"中找不到表\"1\"!"},
        {"held by another program", [&] { connectTo(held, "good.mdb"); }, Failure::Locked,
         "文件\"good.mdb\"正在被另一个程序使用!"},
        {"copy onto a file", [] { tsl::copyDatabase("good.mdb", "garbage.mdb"); }, Failure::Exists,
         "文件\"garbage.mdb\"已经存在!"},
        {"copy of no file", [] { tsl::copyDatabase("gone.mdb", "new.mdb"); }, Failure::MissingFile,
         "找不到文件\"gone.mdb\"!"},
        {"copy to a name too long", [] { tsl::copyDatabase("good.mdb", std::string(300, 'a')); },
         Failure::NameTooLong, "文件名\"" + std::string(300, 'a') + "\"太长!"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const Met m = meet(c.action);
        EXPECT_EQ(m.kind, c.kind);
        EXPECT_EQ(m.text, c.text);
    }
    EXPECT_FALSE(garbage.connected());
    EXPECT_FALSE(tsl::fileExists("new.mdb"));
}

// The default error box's text: the conversion keeps its own words, and the
// kinds without a file still read as sentences.
TEST(Failure, BoxTexts) {
    try {
        (void)tsl::strToInt("1 ");
        ADD_FAILURE();
    } catch (const std::exception& e) {
        EXPECT_EQ(tsl::errorText(e), "'1 ' is not a valid integer value");
    }
    EXPECT_EQ(tsl::errorText(std::bad_alloc()), "内存不足!");
    for (Failure k : {Failure::DiskFull, Failure::IoError, Failure::ReadOnly, Failure::NoAccess, Failure::Locked,
                      Failure::Damaged, Failure::MissingFile, Failure::NameTooLong, Failure::Exists}) {
        const std::string unnamed = tsl::failureText(k, "");
        EXPECT_EQ(unnamed.find('"'), std::string::npos) << unnamed;
        EXPECT_EQ(unnamed.back(), '!') << unnamed;
    }
}
