// The serial numbers after a delete, through the books layer.
#include "books/renumber.h"
#include "storage/connection.h"
#include "storage/cursor.h"
#include "storage/schema.h"
#include "tests/support/tempdir.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <string>
#include <vector>

using Rows = std::vector<std::string>;

TEST(Renumber, TheStampOfAPosition) {
    struct Case {
        const char* stamp;
        long long position;
        const char* want;
    };
    const Case cases[] = {
        {"(8)2026-5-12", 3, "(3)2026-5-12"},
        {"(3)2026-5-12", 3, "(3)2026-5-12"},
        {"2026-5-12", 3, "2026-5-12"},       // no ")": left as it is
        {")x", 12, "(12)x"},                 // a bare ")" is numbered
        {"(1)(2)x", 5, "(5)(2)x"},           // only up to the first ")"
        {"", 1, ""},
        {"(99999999999)d", 1234567890123, "(1234567890123)d"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(tsl::books::numberedStamp(c.stamp, c.position), c.want) << c.stamp;
}

TEST(Renumber, ADeleteNumbersTheRowsAfterItAndWritesOnlyThoseThatChange) {
    tsltest::TempDir dir;
    dir.seedIndex("r.mdb");
    tsltest::sqlExec("r.mdb", "INSERT INTO \"4\" VALUES ('(1)a','甲','k','1','1'), ('(2)b','乙','k','1','1'),"
                              "('(3)c','丙','k','1','1'), ('d','丁','k','1','1'), ('(4)e','戊','k','1','1'),"
                              "('(9)f','己','k','1','1'); INSERT INTO \"1\" VALUES ('(1)x','','','',''), ('(2)y','','','','');");
    tsl::Connection conn;
    conn.setConnectionString(tsl::connectionString("r.mdb"));
    conn.connect();
    tsl::Cursor book{conn};
    book.setTableName("4");
    book.open();
    book.moveTo(1);
    int told = 0;
    const long long before = sqlite3_total_changes64(conn.handle());
    tsl::books::deleteRow(book, [&] { ++told; });
    EXPECT_EQ(told, 1);
    // The removal, then (3)c -> (2)c, (4)e stays (4th row), (9)f -> (5)f.
    EXPECT_EQ(sqlite3_total_changes64(conn.handle()) - before, 3);
    EXPECT_EQ(tsltest::sqlColumn("r.mdb", "SELECT \"日期\" FROM \"4\" ORDER BY rowid"),
              (Rows{"(1)a", "(2)c", "d", "(4)e", "(5)f"}));
    EXPECT_EQ(book.currentRow(), 4);

    // The customer book is not numbered.
    book.close();
    book.setTableName("1");
    book.open();
    tsl::books::deleteRow(book, [&] { ++told; });
    EXPECT_EQ(told, 1);
    EXPECT_EQ(tsltest::sqlColumn("r.mdb", "SELECT \"姓名\" FROM \"1\" ORDER BY rowid"), (Rows{"(2)y"}));
}

// The quick check and the SQL form must agree with the rule itself, or a
// delete would skip a stamp it should write, or an undo would write another.
TEST(Renumber, TheCheckAndTheSqlFormAgreeWithTheRule) {
    const std::pair<const char*, long long> cases[] = {
        {"(3)2026-5-12", 3},  {"(3)2026-5-12", 4}, {"(03)x", 3},    {"(-1)x", -1}, {"((3)x", 3},
        {"(3x", 3},           {"x(3)", 3},         {"()", 0},       {")", 7},      {"(12)", 1},
        {"(1)", 12},          {"", 1},             {"(7)(7)x", 7},  {"(10)x", 1},  {"(1)x", 10},
        {"(5)二〇二六)", 5},  {"(5)二〇二六)", 6}, {"号)x", 2},     {"(99999999999)d", 99999999999},
    };
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(":memory:", &db), SQLITE_OK);
    sqlite3_stmt* st = nullptr;
    const std::string sql = "SELECT " + tsl::books::numberedStampSql("?1", "?2");
    ASSERT_EQ(sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr), SQLITE_OK) << sql;
    for (const auto& [stamp, position] : cases) {
        const std::string want = tsl::books::numberedStamp(stamp, position);
        sqlite3_reset(st);
        sqlite3_bind_text(st, 1, stamp, -1, SQLITE_STATIC);
        sqlite3_bind_int64(st, 2, position);
        ASSERT_EQ(sqlite3_step(st), SQLITE_ROW);
        EXPECT_EQ(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)), want) << stamp << " at " << position;
    }
    sqlite3_finalize(st);
    sqlite3_close(db);
}
