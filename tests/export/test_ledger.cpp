#include "exporttest.h"
#include "ledger.h"
#include "tempdir.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace fs = std::filesystem;
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

std::vector<Rows::value_type> drain(RowSource& src) {
    Rows out;
    for (std::vector<std::string> r; src.next(r);)
        out.push_back(r);
    return out;
}

} // namespace

TEST(LedgerFile, RefusesWhatIsNotALedger) {
    TempDir dir;
    tsltest::writeFile("text.mdb", "just some text, not a database at all");
    ASSERT_EQ(tsltest::run("sqlite3 other.mdb 'CREATE TABLE \"2\" (a TEXT)'").status, 0);
    tsltest::writeFile("empty.mdb", "");
    fs::create_directory("folder.mdb");
    const std::pair<const char*, const char*> cases[] = {
        {"missing.mdb", "找不到帐本文件 \"missing.mdb\"."},
        {"text.mdb", "\"text.mdb\" 不是帐本文件."},
        {"other.mdb", "\"other.mdb\" 不是帐本文件."},
        {"empty.mdb", "\"empty.mdb\" 不是帐本文件."},
        {"folder.mdb", "\"folder.mdb\" 不是帐本文件."},
    };
    for (auto [file, message] : cases) {
        SCOPED_TRACE(file);
        try {
            LedgerFile f(file);
            ADD_FAILURE() << "opened";
        } catch (const ExportError& e) {
            EXPECT_STREQ(e.what(), message);
        }
    }
    // Looking did not create anything.
    EXPECT_FALSE(fs::exists("missing.mdb"));
    EXPECT_EQ(fs::file_size("empty.mdb"), 0u);
}

TEST(LedgerFile, NameIsTheFileNameWithoutFolderAndSuffix) {
    EXPECT_EQ(ledgerNameOf("/a/b/2004年的帐本.mdb"), "2004年的帐本");
    EXPECT_EQ(ledgerNameOf("帐本.mdb"), "帐本");
    EXPECT_EQ(ledgerNameOf("x.db"), "x.db");
    EXPECT_EQ(ledgerNameOf(".mdb"), ".mdb");
}

TEST(BookRows, WholeBookInStoredOrderWithTotalOfWholeNumbers) {
    TempDir dir;
    tsltest::makeLedger("a.mdb", {{2, kShipments}});
    LedgerFile f("a.mdb");
    BookRows rows(f.handle(), *findBook(2));
    EXPECT_EQ(rows.size(), std::int64_t(kShipments.size()));
    EXPECT_EQ(drain(rows), kShipments);
    EXPECT_EQ(rows.total(), 100 + 1 + 20 - 30 + 7 + 9 + 11);
    EXPECT_EQ(rows.skipped(), 1);
    const auto total = rows.totalRow();
    ASSERT_EQ(total.size(), 7u);
    EXPECT_EQ(total[0], "合计");
    EXPECT_EQ(total[1], "壹佰壹拾捌元整");
    EXPECT_NE(total[2].find("1 行"), std::string::npos);
    EXPECT_EQ(total[6], "118");
}

TEST(BookRows, NameMatchesExactlyInPositionOne) {
    TempDir dir;
    tsltest::makeLedger("a.mdb", {{2, kShipments}});
    LedgerFile f("a.mdb");
    const std::pair<std::string, std::vector<int>> cases[] = {
        {"张三", {0, 3}}, {"张三 ", {1}}, {"Ann", {5}}, {"ann", {6}}, {"张", {}}, {"李四", {2}}};
    for (const auto& [name, expected] : cases) {
        SCOPED_TRACE(name);
        BookRows rows(f.handle(), *findBook(2), name);
        Rows want;
        std::int64_t sum = 0;
        for (int i : expected) {
            want.push_back(kShipments[std::size_t(i)]);
            sum += std::stoll(kShipments[std::size_t(i)][6]);
        }
        EXPECT_EQ(drain(rows), want);
        EXPECT_EQ(rows.total(), sum);
    }
}

TEST(Statement, ReadLikeTheSettlement) {
    TempDir dir;
    tsltest::makeLedger("帐本.mdb", {{2, kShipments}, {3, {{"(1)x", "纱厂", "纱", "3", "2147483647"},
                                                          {"(2)x", "纱厂", "纱", "3", "2147483647"}}}});
    LedgerFile f("帐本.mdb");
    const Statement s = readStatement(f.handle(), f.name(), *findBook(2), "张三", "2026年1月9日");
    EXPECT_EQ(s.ledger, "帐本");
    EXPECT_EQ(s.book, 2);
    EXPECT_EQ(s.total, 70);
    EXPECT_EQ(s.table.rows, (Rows{kShipments[0], kShipments[3]}));
    EXPECT_EQ(s.table.columns.header.front(), "日期");
    EXPECT_EQ(s.table.total.back(), "70");
    EXPECT_EQ(s.table.total[1], "柒拾元整");

    // Two amounts at the top of the 32-bit range add up past it without wrapping.
    const Statement big = readStatement(f.handle(), f.name(), *findBook(3), "纱厂", "d");
    EXPECT_EQ(big.total, 2 * 2147483647LL);

    // No rows, and a row whose amount is not a whole number, end it as they end a settlement.
    try {
        (void)readStatement(f.handle(), f.name(), *findBook(2), "赵六", "d");
        ADD_FAILURE();
    } catch (const ExportError& e) {
        EXPECT_STREQ(e.what(), "没有符合结帐条件的人或厂家!");
    }
    try {
        (void)readStatement(f.handle(), f.name(), *findBook(2), "王五", "d");
        ADD_FAILURE();
    } catch (const tsl::ConvertError& e) {
        EXPECT_STREQ(e.what(), "'abc' is not a valid integer value");
    }
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

TEST(FileName, FromPartsWithoutForbiddenCharacters) {
    EXPECT_EQ(fileNameOf({"2004年的帐本", "发货", "张三", "2026-12-08"}, ".pdf"), "2004年的帐本-发货-张三-2026-12-08.pdf");
    EXPECT_EQ(fileNameOf({"a", "", "b/c:d"}, ".csv"), "a-b_c_d.csv");
    EXPECT_EQ(fileNameOf({"..", "x\ny"}, ".xlsx"), "_.-x_y.xlsx");
}
