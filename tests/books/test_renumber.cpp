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
