#include "tests/export/exporttest.h"
#include "export/ledger.h"
#include "tests/support/tempdir.h"

#include <gtest/gtest.h>

using namespace tsl::out;
using tsltest::TempDir;

namespace {

using Rows = std::vector<std::vector<std::string>>;

const Rows kShipments = {
    {"(1)2026-1-2", "张三", "毛衫", "10", "杭州", "310000", "100"},
    {"(2)2026-1-2", "张三 ", "毛衫", "1", "", "", "1"},     // a blank after the name
    {"(3)2026-1-3", "李四", "张三", "2", "张三", "", "20"},  // the name elsewhere
    {"(4)2026-1-4", "张三", "开衫", "5", "x", "y", "-30"},
    {"(5)2026-1-5", "张三三", "开衫", "5", "", "", "7"},
    {"(6)2026-1-6", "Ann", "开衫", "5", "", "", "9"},
    {"(7)2026-1-6", "ann", "开衫", "5", "", "", "11"},
    {"(8)2026-1-7", "王五", "开衫", "5", "", "", "abc"},     // not a whole number
};

Rows drain(RowSource& src) {
    Rows out;
    for (std::vector<std::string> r; src.next(r);)
        out.push_back(r);
    return out;
}

} // namespace

TEST(Names, LedgerAndFileNames) {
    EXPECT_EQ(ledgerNameOf("/a/b/2004年的帐本.mdb"), "2004年的帐本");
    EXPECT_EQ(ledgerNameOf("x.db"), "x.db");
    EXPECT_EQ(ledgerNameOf(".mdb"), ".mdb");
    EXPECT_EQ(fileNameOf({"2004年的帐本", "发货", "张三", "2026-12-08"}, ".pdf"), "2004年的帐本-发货-张三-2026-12-08.pdf");
    EXPECT_EQ(fileNameOf({"a", "", "b/c:d"}, ".csv"), "a-b_c_d.csv");
    EXPECT_EQ(fileNameOf({"..", "x\ny"}, ".xlsx"), "_.-x_y.xlsx");
}

// Whole book or one name's rows (exact match in position 1), in stored order,
// with the total of the amounts that are whole numbers.
TEST(BookRows, StoredOrderExactNameTotalOfWholeNumbers) {
    TempDir dir;
    tsltest::makeLedger("a.mdb", {{2, kShipments}});
    LedgerFile f("a.mdb");
    const struct {
        std::optional<std::string> name;
        std::vector<int> rows;
        std::int64_t total;
    } cases[] = {{{}, {0, 1, 2, 3, 4, 5, 6, 7}, 118}, {"张三", {0, 3}, 70}, {"张三 ", {1}, 1}, {"Ann", {5}, 9},
                 {"ann", {6}, 11},                    {"张", {}, 0},        {"李四", {2}, 20}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name.value_or("(whole book)"));
        BookRows rows(f.engine(), *findBook(2), c.name);
        Rows want;
        for (int i : c.rows)
            want.push_back(kShipments[std::size_t(i)]);
        EXPECT_EQ(drain(rows), want);
        EXPECT_EQ(rows.total(), c.total);
        if (!c.name) {
            EXPECT_EQ(rows.size(), 8);
            const auto total = rows.totalRow();
            ASSERT_EQ(total.size(), 7u);
            EXPECT_EQ(total[0] + "|" + total[1] + "|" + total[6], "合计|壹佰壹拾捌元整|118");
            EXPECT_NE(total[2].find("1 行"), std::string::npos); // the amount left out
        }
    }
}

TEST(Statement, ReadLikeTheSettlement) {
    TempDir dir;
    tsltest::makeLedger("帐本.mdb", {{2, kShipments}, {3, {{"(1)x", "纱厂", "纱", "3", "2147483647"},
                                                          {"(2)x", "纱厂", "纱", "3", "2147483647"}}}});
    LedgerFile f("帐本.mdb");
    const Statement s = readStatement(f.engine(), f.name(), *findBook(2), "张三", "2026年1月9日");
    EXPECT_EQ(s.ledger, "帐本");
    EXPECT_EQ(s.total, 70);
    EXPECT_EQ(s.table.rows, (Rows{kShipments[0], kShipments[3]}));
    EXPECT_EQ(s.table.total[1], "柒拾元整");
    // Two amounts at the top of the 32-bit range add up past it without wrapping.
    EXPECT_EQ(readStatement(f.engine(), f.name(), *findBook(3), "纱厂", "d").total, 2 * 2147483647LL);
    // No rows, and a row whose amount is not a whole number, end it as they end a settlement.
    EXPECT_EQ(tsltest::errorOf([&] { (void)readStatement(f.engine(), f.name(), *findBook(2), "赵六", "d"); }),
              "没有符合结帐条件的人或厂家!");
    EXPECT_EQ(tsltest::errorOf([&] { (void)readStatement(f.engine(), f.name(), *findBook(2), "王五", "d"); }),
              "'abc' is not a valid integer value");
}

TEST(Books, FoundByNumberAndByHeader) {
    for (int n = 1; n <= 4; ++n) {
        const Book* b = findBook(n);
        ASSERT_NE(b, nullptr);
        const Columns c = b->columns();
        EXPECT_EQ(bookOfHeader(c.header), b);
        // Amount and quantity are numbers; postcodes and telephone numbers stay text.
        for (std::size_t i = 0; i < c.header.size(); ++i)
            EXPECT_EQ(c.isNumeric(i), c.header[i] == "总金额" || c.header[i] == "数量" ||
                                          c.header[i] == "货物数目" || c.header[i] == "交货总数")
                << c.header[i];
    }
    EXPECT_EQ(findBook(0), nullptr);
    EXPECT_EQ(findBook(5), nullptr);
    EXPECT_EQ(bookOfHeader({"日期", "客户姓名"}), nullptr);
}
