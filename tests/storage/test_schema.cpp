#include "storage/connection.h"
#include "storage/cursor.h"
#include "storage/schema.h"
#include "tests/support/tempdir.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <string>
#include <vector>

using tsltest::sqlColumn;
using Strings = std::vector<std::string>;

namespace {

// The layout existing ledger files have; the program must read them as they are.
struct Layout {
    std::string table;
    Strings fields;
};
const std::vector<Layout> kLayout = {
    {"1", {"姓名", "地址", "邮编", "电话", "手机"}},
    {"2", {"日期", "客户姓名", "毛衫种类", "数量", "发货地点", "邮编", "总金额"}},
    {"3", {"日期", "货物来源", "货物种类", "货物数目", "总金额"}},
    {"4", {"日期", "交货人", "交货种类", "交货总数", "总金额"}},
    {"5", {"name"}},
    {"temp1", {"1"}},
    {"temp2", {"1"}},
    {"temp3", {"1"}},
    {"temp4", {"1"}},
    {"temp5", {"1"}},
    {"temp6", {"1"}}
};

// The built index has every table, empty, with its text fields; a ledger made
// from it opens through the cursor with the same fields.
TEST(Schema, BuiltIndexHasEveryTableEmptyWithItsTextFields) {
    const std::string index = tsltest::indexTemplate();
    tsltest::TempDir dir;
    dir.seedIndex("tsl.mdb");
    tsl::Connection conn;
    conn.setConnectionString(tsl::connectionString("tsl.mdb"));
    conn.connect();
    Strings tables = sqlColumn(index, "SELECT name FROM sqlite_master WHERE type = 'table' ORDER BY name");
    Strings expected;
    for (const auto& t : kLayout)
        expected.push_back(t.table);
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(tables, expected);

    for (const auto& t : kLayout) {
        SCOPED_TRACE(t.table);
        EXPECT_EQ(sqlColumn(index, "SELECT name FROM pragma_table_info('" + t.table + "') ORDER BY cid"), t.fields);
        for (const auto& type : sqlColumn(index, "SELECT type FROM pragma_table_info('" + t.table + "')"))
            EXPECT_EQ(type, "TEXT");
        EXPECT_EQ(sqlColumn(index, "SELECT count(*) FROM \"" + t.table + "\""), Strings{"0"});
        tsl::Cursor c(conn);
        c.setTableName(t.table);
        c.open();
        Strings names;
        for (int i = 0; i < c.fieldCount(); ++i)
            names.push_back(c.fieldName(i));
        EXPECT_EQ(names, t.fields);
    }
}

TEST(Schema, AmountPositionPointsAtTheAmountOfEachBook) {
    for (int view = 2; view <= 4; ++view) {
        const auto& fields = kLayout[std::size_t(view - 1)].fields;
        ASSERT_GE(tsl::amountPosition(view), 0);
        EXPECT_EQ(fields[std::size_t(tsl::amountPosition(view))], "总金额") << view;
    }
    for (int view : {0, 1, 5, 6})
        EXPECT_EQ(tsl::amountPosition(view), -1) << view;
}

} // namespace

// The guard of every test program: a query without ORDER BY returns its rows
// backwards, on the program's own connections and on the tests' helpers alike.
TEST(Schema, TestConnectionsReturnUnorderedRowsBackwards) {
    tsltest::TempDir dir;
    dir.seedIndex("tsl.mdb");
    tsltest::sqlExec("tsl.mdb", "INSERT INTO \"5\" VALUES ('a'), ('b'), ('c')");
    EXPECT_EQ(sqlColumn("tsl.mdb", "SELECT name FROM \"5\""), (Strings{"c", "b", "a"}));
    tsl::Connection conn;
    conn.setConnectionString(tsl::connectionString("tsl.mdb"));
    conn.connect();
    sqlite3_stmt* st = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(conn.handle(), "PRAGMA reverse_unordered_selects", -1, &st, nullptr), SQLITE_OK);
    ASSERT_EQ(sqlite3_step(st), SQLITE_ROW);
    EXPECT_EQ(sqlite3_column_int(st, 0), 1);
    sqlite3_finalize(st);
}
