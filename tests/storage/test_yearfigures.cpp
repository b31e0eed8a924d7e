// The year's figures by month and by name, against ledgers made by hand.
#include "books/income.h"
#include "books/yeartables.h"
#include "storage/yearfigures.h"

#include "storage/connection.h"
#include "storage/error.h"
#include "storage/schema.h"
#include "storage/stamp.h"
#include "tests/support/tempdir.h"

#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <string>
#include <vector>

using tsl::Movement;
using tsl::Tally;
using tsl::YearFigures;
using tsltest::sqlQuote;
using Texts = std::vector<std::string>;

namespace {

const std::string kFile = "y.mdb";
// The patterns a zh_CN desktop gives: the short format, the C library's, the fallback, yyyy-m-d.
const Texts kPatterns = {"yyyy/m/d", "yyyy\xE5\xB9\xB4mm\xE6\x9C\x88" "dd\xE6\x97\xA5", "m/d/yy", "yyyy-m-d"};
const int kYear = 2026; // two-digit years fall in 1946..2045

// Stamp, name and amount matter; the other fields get filler.
std::string rowSql(const std::string& book, const std::string& stamp, const std::string& name,
                   const std::string& amount) {
    std::string sql = "INSERT INTO \"" + book + "\" VALUES (" + sqlQuote(stamp) + ", " + sqlQuote(name);
    for (std::size_t i = 2; i + 1 < tsl::findTable(book)->fields.size(); ++i)
        sql += ", 'x'";
    return sql + ", " + sqlQuote(amount) + ");";
}
void row(const std::string& book, const std::string& stamp, const std::string& name, const std::string& amount) {
    tsltest::sqlExec(kFile, rowSql(book, stamp, name, amount));
}

struct Ledger {
    tsltest::TempDir dir;
    tsl::Connection conn;
    Ledger() {
        dir.seedIndex(kFile);
        conn.setConnectionString(tsl::connectionString(kFile));
    }
    YearFigures read(const Texts& patterns = kPatterns, int referenceYear = kYear) {
        conn.connect();
        auto f = tsl::readYearFigures(conn, patterns, referenceYear);
        conn.disconnect();
        return f;
    }
};

Tally tally(std::int64_t count, std::int64_t total) { return Tally{count, total}; }

} // namespace

TEST(YearFigures, MonthsFromStampsInEveryPatternUnreadableApart) {
    Ledger l;
    row("2", "(1)2026/3/5", "甲", "100");                                       // the desktop's pattern
    row("2", "(2)2026\xE5\xB9\xB4" "03\xE6\x9C\x88" "01\xE6\x97\xA5", "乙", "50"); // the C library's
    row("2", "(3)12/8/26", "甲", "7");                                          // the fallback
    row("2", "(4)2004-5-12", "丙", "-20");                                      // yyyy-m-d
    row("2", "(5)昨天", "甲", "1000");                                          // no pattern reads it
    row("2", "", "乙", "1");
    row("2", "2026/3/5", "乙", "2"); // no ")": all date
    row("2", "(8)2026/2/30", "乙", "4");
    row("3", "(1)2026/12/31", "纱厂", "30");
    row("4", "(1)1/31/26", "小王", "5");
    row("4", "(2)1/31/26", "小王", "6");
    row("4", "(3)2/29/00", "小王", "8"); // 2000 is a leap year, 1900 is not
    const YearFigures f = l.read();

    std::array<Tally, tsl::kMonthLines> ship{};
    ship[2] = tally(3, 152); // March: the first two and the bare date
    ship[4] = tally(1, -20);
    ship[11] = tally(1, 7);
    ship[tsl::kUndated] = tally(3, 1005);
    EXPECT_EQ(f.book(Movement::Shipments).months, ship);
    EXPECT_EQ(f.book(Movement::Shipments).all, tally(8, 1144));
    EXPECT_EQ(f.book(Movement::Purchases).months[11], tally(1, 30));
    EXPECT_EQ(f.book(Movement::Deliveries).months[0], tally(2, 11));
    EXPECT_EQ(f.book(Movement::Deliveries).months[1], tally(1, 8));
    EXPECT_EQ(tsl::books::income(f, 2), 152);
    EXPECT_EQ(tsl::books::income(f, 11), 7 - 30);
    EXPECT_EQ(tsl::books::income(f), 1144 - 30 - 19);

    // Without the older patterns, the older stamps fall to 日期不明.
    const YearFigures only = l.read({"yyyy/m/d"});
    EXPECT_EQ(only.book(Movement::Shipments).months[2], tally(2, 102));
    EXPECT_EQ(only.book(Movement::Shipments).months[tsl::kUndated], tally(6, 1042));
    EXPECT_EQ(only.book(Movement::Deliveries).months[tsl::kUndated], tally(3, 19));
    // Around 1950, 00 is 1900: no 29 February.
    EXPECT_EQ(l.read(kPatterns, 1950).book(Movement::Deliveries).months[tsl::kUndated], tally(1, 8));
}

TEST(YearFigures, BadAmountsCountedApartAndNamed) {
    Ledger l;
    const std::tuple<const char*, const char*, const char*> rows[] = {
        {"(1)2026/3/5", "甲", "100"}, {"(2)2026/3/5", "乙", "12.5"}, {"(3)2026/4/5", "甲", ""},
        {"(4)2026/4/5", "丙", " 7"}, // a leading blank converts
        {"(5)2026/4/5", "丙", "$10"}, // hexadecimal converts
        {"(6)2026/4/5", "丙", "7 "}, // a trailing blank does not
        {"(7)2026/4/5", "丙", "2147483648"}};
    for (const auto& [stamp, name, amount] : rows)
        row("2", stamp, name, amount);
    row("3", "(1)2026/4/5", "纱厂", "abc");
    const YearFigures f = l.read();

    const auto& ship = f.book(Movement::Shipments);
    EXPECT_EQ(ship.all, tally(3, 100 + 7 + 16));
    EXPECT_EQ(ship.months[3], tally(2, 23));
    EXPECT_EQ(ship.badCount, 4);
    std::vector<std::pair<std::int64_t, std::string>> bad;
    for (const auto& b : ship.bad)
        bad.emplace_back(b.row, b.stamp + "|" + b.name + "|" + b.amount);
    EXPECT_EQ(bad, (std::vector<std::pair<std::int64_t, std::string>>{{2, "(2)2026/3/5|乙|12.5"},
                                                                       {3, "(3)2026/4/5|甲|"},
                                                                       {6, "(6)2026/4/5|丙|7 "},
                                                                       {7, "(7)2026/4/5|丙|2147483648"}}));
    EXPECT_EQ(f.book(Movement::Purchases).badCount, 1);
    EXPECT_EQ(f.book(Movement::Purchases).all, tally(0, 0));
    EXPECT_EQ(f.badCount(), 5);
    for (const auto& name : ship.names)
        EXPECT_NE(name.name, "乙") << "乙 has only a bad amount";

    const std::string notice = tsl::books::badAmountNotice(f, 2);
    for (const char* part : {"有5行", "发货4行", "进货1行", "发货第2行 (2)2026/3/5 乙 金额\"12.5\"", "发货第3行", "…"})
        EXPECT_NE(notice.find(part), std::string::npos) << part << " in " << notice;
    EXPECT_EQ(notice.find("发货第6行"), std::string::npos) << "only two are named: " << notice;
    EXPECT_EQ(tsl::books::badAmountNotice(YearFigures{}), "");
}

TEST(YearFigures, ManyBadAmountsAndTotalsPastThirtyTwoBits) {
    Ledger l;
    tsltest::sqlExec(kFile, "WITH RECURSIVE k(n) AS (SELECT 1 UNION ALL SELECT n + 1 FROM k WHERE n < 500) "
                            "INSERT INTO \"4\" SELECT '(' || n || ')2026/1/1', '小王', 'x', 'x', 'bad' || n FROM k;");
    for (int i = 0; i < 3; ++i) // totals past 32 bits
        row("2", "(1)2026/7/1", "甲", "2147483647");
    const YearFigures f = l.read();
    const auto& b = f.book(Movement::Deliveries);
    EXPECT_EQ(b.badCount, 500);
    ASSERT_EQ(b.bad.size(), tsl::kNamedBadAmounts);
    EXPECT_EQ(b.bad.back().amount, "bad" + std::to_string(tsl::kNamedBadAmounts));
    EXPECT_EQ(f.book(Movement::Shipments).months[6].total, 3LL * 2147483647LL);
    EXPECT_EQ(tsl::books::monthTable(f).rows.back()[2], "6442450941");
}

TEST(YearFigures, EmptyLedgerAndEmptyBook) {
    Ledger l;
    const auto t = tsl::books::monthTable(l.read());
    ASSERT_EQ(t.rows.size(), 13u) << "twelve months and 合计, no 日期不明 line";
    EXPECT_EQ(t.rows.back(), (Texts{"合计", "0", "0", "0", "0", "0"}));

    row("1", "甲", "addr", "1");
    row("1", "甲", "addr", "1");
    row("3", "(1)2026/6/1", "纱厂", "300");
    const YearFigures f = l.read();
    EXPECT_EQ(f.customers, 2);
    EXPECT_EQ(f.book(Movement::Shipments).all, tally(0, 0));
    EXPECT_EQ(tsl::books::income(f, 5), -300);
    EXPECT_TRUE(tsl::books::nameTable(f, Movement::Shipments).rows.empty());
}

TEST(YearFigures, NamesByTotalWithCountAndShare) {
    Ledger l;
    row("2", "(1)2026/1/1", "乙", "300");
    row("2", "(2)2026/1/1", "甲", "500");
    row("2", "(3)2026/2/1", "乙", "300");
    row("2", "(4)2026/2/1", "丙", "100");
    row("2", "(5)2026/2/1", "丁", "600");
    row("2", "(6)2026/2/1", "甲 ", "1"); // a blank makes another name
    row("2", "(7)2026/2/1", "", "-1");
    const YearFigures f = l.read();
    std::vector<std::pair<std::string, Tally>> got;
    for (const auto& n : f.book(Movement::Shipments).names)
        got.emplace_back(n.name, n.tally);
    // 乙 600 and 丁 600 tie: by name (byte order of the UTF-8 text).
    const std::vector<std::pair<std::string, Tally>> expected = {
        {"丁", tally(1, 600)}, {"乙", tally(2, 600)}, {"甲", tally(1, 500)},
        {"丙", tally(1, 100)}, {"甲 ", tally(1, 1)},  {"", tally(1, -1)}};
    EXPECT_EQ(got, expected);

    const auto t = tsl::books::nameTable(f, Movement::Shipments);
    EXPECT_EQ(t.header, (Texts{"客户", "次数", "金额", "占比"}));
    ASSERT_EQ(t.rows.size(), 6u);
    EXPECT_EQ(t.rows[1], (Texts{"乙", "2", "600", "33.3%"})); // of 1800
    EXPECT_EQ(tsl::books::nameTable(f, Movement::Deliveries).header[0], "职工");

    const std::tuple<int, int, const char*> shares[] = {
        {1, 3, "33.3%"}, {2, 3, "66.7%"}, {5, 5, "100.0%"}, {-5, 100, "-5.0%"}, {5, 0, "-"}, {5, -10, "-"}};
    for (const auto& [part, whole, text] : shares)
        EXPECT_EQ(tsl::books::shareText(part, whole), text) << part << "/" << whole;
}

TEST(YearFigures, ComparisonSideBySideWithDifferences) {
    YearFigures a, b;
    a.books[0].months[0] = a.books[0].all = tally(2, 1000);
    a.books[1].months[0] = a.books[1].all = tally(1, 300);
    b.books[0].months[0] = b.books[0].all = tally(1, 400);
    b.books[2].months[tsl::kUndated] = b.books[2].all = tally(1, 50);
    const auto t = tsl::books::comparisonTable(a, "2026", b, "2025");
    ASSERT_EQ(t.header.size(), 13u);
    EXPECT_EQ(Texts(t.header.begin() + 1, t.header.begin() + 4), (Texts{"发货(2026)", "发货(2025)", "发货差额"}));
    EXPECT_EQ(t.header[12], "收入差额");
    ASSERT_EQ(t.rows.size(), 14u) << "the other ledger has an undated row";
    EXPECT_EQ(t.rows[0], (Texts{"1月", "1000", "400", "600", "300", "0", "300", "0", "0", "0", "700", "400", "300"}));
    EXPECT_EQ(t.rows[12], (Texts{"日期不明", "0", "0", "0", "0", "0", "0", "0", "50", "-50", "0", "-50", "50"}));
    EXPECT_EQ(t.rows[13],
              (Texts{"合计", "1000", "400", "600", "300", "0", "300", "0", "50", "-50", "700", "350", "350"}));
}

TEST(YearFigures, OtherLedgerIsOnlyRead) {
    Ledger l;
    row("2", "(1)2026/3/5", "甲", "100");
    const std::string before = tsltest::readFile(kFile);
    const auto stamp = std::filesystem::last_write_time(kFile);
    EXPECT_EQ(tsl::readYearFiguresOfFile(kFile, kPatterns, kYear).book(Movement::Shipments).all, tally(1, 100));
    EXPECT_EQ(tsltest::readFile(kFile), before);
    EXPECT_EQ(std::filesystem::last_write_time(kFile), stamp);
    EXPECT_FALSE(std::filesystem::exists(kFile + "-journal"));

    // Missing, no database, and a database without the books of a ledger.
    const std::string junk = "not a database at all, just text that goes on for a while";
    tsltest::writeFile("junk.mdb", junk);
    tsltest::writeFile("other.mdb", "");
    tsltest::sqlExec("other.mdb", "CREATE TABLE t (a TEXT);");
    for (const char* file : {"none.mdb", "junk.mdb", "other.mdb"})
        EXPECT_THROW((void)tsl::readYearFiguresOfFile(file, kPatterns, kYear), tsl::Error) << file;
    EXPECT_EQ(tsltest::readFile("junk.mdb"), junk);
}
