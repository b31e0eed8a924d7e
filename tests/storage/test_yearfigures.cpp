// The year's figures by month and by name, against ledgers made by hand.
#include "yearfigures.h"

#include "connection.h"
#include "error.h"
#include "schema.h"
#include "stamp.h"
#include "tempdir.h"

#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <vector>

using tsl::Movement;
using tsl::Tally;
using tsl::YearFigures;

namespace {

const std::string kFile = "y.mdb";
// The patterns a zh_CN desktop gives: the short format, the C library's, the fallback, yyyy-m-d.
const std::vector<std::string> kPatterns = {"yyyy/m/d", "yyyy\xE5\xB9\xB4mm\xE6\x9C\x88" "dd\xE6\x97\xA5", "m/d/yy",
                                            "yyyy-m-d"};
const int kYear = 2026; // two-digit years fall in 1946..2045

std::string quote(const std::string& s) { return tsltest::sqlQuote(s); }

// Stamp, name and amount matter; the other fields get filler.
void row(const std::string& book, const std::string& stamp, const std::string& name, const std::string& amount) {
    const auto width = tsl::findTable(book)->fields.size();
    std::string sql = "INSERT INTO \"" + book + "\" VALUES (" + quote(stamp) + ", " + quote(name);
    for (std::size_t i = 2; i + 1 < width; ++i)
        sql += ", 'x'";
    tsltest::sqlExec(kFile, sql + ", " + quote(amount) + ");");
}

struct Ledger {
    tsltest::TempDir dir;
    tsl::Connection conn;
    Ledger() {
        dir.seedIndex(kFile);
        conn.setConnectionString(tsl::connectionString(kFile));
    }
    YearFigures read(const std::vector<std::string>& patterns = kPatterns, int referenceYear = kYear) {
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
    row("2", "", "乙", "1");                                                    // empty stamp
    row("2", "2026/3/5", "乙", "2");                                            // no ")": all date
    row("2", "(8)2026/2/30", "乙", "4");                                        // no such day
    row("3", "(1)2026/12/31", "纱厂", "30");
    row("4", "(1)1/31/26", "小王", "5");
    row("4", "(2)1/31/26", "小王", "6");
    row("4", "(3)2/29/00", "小王", "8"); // 2000 is a leap year, 1900 is not
    const YearFigures f = l.read();

    const auto& ship = f.book(Movement::Shipments);
    EXPECT_EQ(ship.months[2], tally(3, 152)); // March: the first two and the bare date
    EXPECT_EQ(ship.months[11], tally(1, 7));
    EXPECT_EQ(ship.months[4], tally(1, -20));
    EXPECT_EQ(ship.months[tsl::kUndated], tally(3, 1005));
    EXPECT_EQ(ship.all, tally(8, 1144));
    for (int m : {0, 1, 3, 5, 6, 7, 8, 9, 10})
        EXPECT_EQ(ship.months[std::size_t(m)], tally(0, 0)) << m;
    EXPECT_EQ(f.book(Movement::Purchases).months[11], tally(1, 30));
    EXPECT_EQ(f.book(Movement::Deliveries).months[0], tally(2, 11));
    EXPECT_EQ(f.book(Movement::Deliveries).months[1], tally(1, 8));
    EXPECT_EQ(f.income(2), 152);
    EXPECT_EQ(f.income(11), 7 - 30);
    EXPECT_EQ(f.income(0), -11);
    EXPECT_EQ(f.income(), 1144 - 30 - 19);

    // Without the older patterns, the older stamps fall to 日期不明.
    const YearFigures only = l.read({"yyyy/m/d"});
    EXPECT_EQ(only.book(Movement::Shipments).months[2], tally(2, 102));
    EXPECT_EQ(only.book(Movement::Shipments).months[tsl::kUndated], tally(6, 1042));
    EXPECT_EQ(only.book(Movement::Deliveries).months[tsl::kUndated], tally(3, 19));

    // Around 1950, 00 is 1900: no 29 February.
    const auto early = l.read(kPatterns, 1950).book(Movement::Deliveries);
    EXPECT_EQ(early.months[1], tally(0, 0));
    EXPECT_EQ(early.months[tsl::kUndated], tally(1, 8));
}

TEST(YearFigures, BadAmountsCountedApartAndNamed) {
    Ledger l;
    row("2", "(1)2026/3/5", "甲", "100");
    row("2", "(2)2026/3/5", "乙", "12.5");
    row("2", "(3)2026/4/5", "甲", "");
    row("2", "(4)2026/4/5", "丙", " 7");   // a leading blank converts
    row("2", "(5)2026/4/5", "丙", "$10");  // hexadecimal converts
    row("2", "(6)2026/4/5", "丙", "7 ");   // a trailing blank does not
    row("2", "(7)2026/4/5", "丙", "2147483648");
    row("3", "(1)2026/4/5", "纱厂", "abc");
    const YearFigures f = l.read();

    const auto& ship = f.book(Movement::Shipments);
    EXPECT_EQ(ship.all, tally(3, 100 + 7 + 16));
    EXPECT_EQ(ship.months[3], tally(2, 23));
    EXPECT_EQ(ship.badCount, 4);
    ASSERT_EQ(ship.bad.size(), 4u);
    EXPECT_EQ(ship.bad[0].row, 2);
    EXPECT_EQ(ship.bad[0].stamp, "(2)2026/3/5");
    EXPECT_EQ(ship.bad[0].name, "乙");
    EXPECT_EQ(ship.bad[0].amount, "12.5");
    EXPECT_EQ(ship.bad[1].row, 3);
    EXPECT_EQ(ship.bad[1].amount, "");
    EXPECT_EQ(ship.bad[3].amount, "2147483648");
    EXPECT_EQ(f.book(Movement::Purchases).badCount, 1);
    EXPECT_EQ(f.book(Movement::Purchases).all, tally(0, 0));
    EXPECT_EQ(f.badCount(), 5);
    // The bad rows are in no name's tally either.
    for (const auto& n : ship.names)
        if (n.name == "乙")
            ADD_FAILURE() << "乙 has only a bad amount";

    const std::string notice = tsl::badAmountNotice(f, 2);
    EXPECT_NE(notice.find("有5行"), std::string::npos) << notice;
    EXPECT_NE(notice.find("发货4行"), std::string::npos) << notice;
    EXPECT_NE(notice.find("进货1行"), std::string::npos) << notice;
    EXPECT_NE(notice.find("发货第2行 (2)2026/3/5 乙 金额\"12.5\""), std::string::npos) << notice;
    EXPECT_NE(notice.find("发货第3行"), std::string::npos) << notice;
    EXPECT_EQ(notice.find("发货第6行"), std::string::npos) << "only two are named: " << notice;
    EXPECT_NE(notice.find("…"), std::string::npos) << notice;
    EXPECT_EQ(tsl::badAmountNotice(YearFigures{}), "");
}

TEST(YearFigures, ManyBadAmountsKeepOnlyTheFirstByName) {
    Ledger l;
    tsltest::sqlExec(kFile, "WITH RECURSIVE k(n) AS (SELECT 1 UNION ALL SELECT n + 1 FROM k WHERE n < 500) "
                            "INSERT INTO \"4\" SELECT '(' || n || ')2026/1/1', '小王', 'x', 'x', 'bad' || n FROM k;");
    const YearFigures f = l.read();
    const auto& b = f.book(Movement::Deliveries);
    EXPECT_EQ(b.badCount, 500);
    ASSERT_EQ(b.bad.size(), tsl::kNamedBadAmounts);
    EXPECT_EQ(b.bad.back().amount, "bad" + std::to_string(tsl::kNamedBadAmounts));
}

TEST(YearFigures, EmptyLedgerAndEmptyBook) {
    Ledger l;
    const YearFigures empty = l.read();
    EXPECT_EQ(empty.customers, 0);
    for (const auto& b : empty.books) {
        EXPECT_EQ(b.all, tally(0, 0));
        EXPECT_TRUE(b.names.empty());
        for (const auto& m : b.months)
            EXPECT_EQ(m, tally(0, 0));
    }
    const auto t = tsl::monthTable(empty);
    ASSERT_EQ(t.rows.size(), 13u) << "twelve months and 合计, no 日期不明 line";
    EXPECT_EQ(t.rows.back(), (std::vector<std::string>{"合计", "0", "0", "0", "0", "0"}));

    row("1", "甲", "addr", "1");
    row("1", "甲", "addr", "1");
    row("3", "(1)2026/6/1", "纱厂", "300");
    const YearFigures f = l.read();
    EXPECT_EQ(f.customers, 2);
    EXPECT_EQ(f.book(Movement::Shipments).all, tally(0, 0));
    EXPECT_EQ(f.income(), -300);
    EXPECT_EQ(f.income(5), -300);
    EXPECT_EQ(tsl::nameTable(f, Movement::Shipments).rows.size(), 0u);
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
    const auto& names = f.book(Movement::Shipments).names;
    std::vector<std::pair<std::string, Tally>> got;
    for (const auto& n : names)
        got.emplace_back(n.name, n.tally);
    // 乙 600 and 丁 600 tie: by name (byte order of the UTF-8 text).
    const std::vector<std::pair<std::string, Tally>> expected = {
        {"丁", tally(1, 600)}, {"乙", tally(2, 600)}, {"甲", tally(1, 500)},
        {"丙", tally(1, 100)}, {"甲 ", tally(1, 1)},  {"", tally(1, -1)}};
    EXPECT_EQ(got, expected);

    const auto t = tsl::nameTable(f, Movement::Shipments);
    EXPECT_EQ(t.header, (std::vector<std::string>{"客户", "次数", "金额", "占比"}));
    ASSERT_EQ(t.rows.size(), 6u);
    EXPECT_EQ(t.rows[1], (std::vector<std::string>{"乙", "2", "600", "33.3%"})); // of 1800
    EXPECT_EQ(tsl::nameTable(f, Movement::Deliveries).header[0], "职工");
}

TEST(YearFigures, ShareText) {
    EXPECT_EQ(tsl::shareText(1, 3), "33.3%");
    EXPECT_EQ(tsl::shareText(2, 3), "66.7%");
    EXPECT_EQ(tsl::shareText(5, 5), "100.0%");
    EXPECT_EQ(tsl::shareText(-5, 100), "-5.0%");
    EXPECT_EQ(tsl::shareText(5, 0), "-");
    EXPECT_EQ(tsl::shareText(5, -10), "-");
}

TEST(YearFigures, TotalsPastThirtyTwoBits) {
    Ledger l;
    for (int i = 0; i < 3; ++i)
        row("2", "(1)2026/7/1", "甲", "2147483647");
    const YearFigures f = l.read();
    EXPECT_EQ(f.book(Movement::Shipments).all.total, 3LL * 2147483647LL);
    EXPECT_EQ(f.book(Movement::Shipments).months[6].total, 3LL * 2147483647LL);
    EXPECT_EQ(tsl::monthTable(f).rows.back()[2], "6442450941");
}

// Many rows whose month the test knows from making them, in random patterns,
// with unreadable stamps and bad amounts among them.
TEST(YearFigures, GeneratedLedgerAgreesWithWhatWasWritten) {
    Ledger l;
    std::mt19937 rng(2026);
    std::array<std::array<Tally, tsl::kMonthLines>, 3> months{};
    std::array<std::map<std::string, Tally>, 3> names;
    std::array<std::int64_t, 3> bad{};
    std::string sql = "BEGIN;";
    for (int i = 1; i <= 3000; ++i) {
        const int book = int(rng() % 3);
        const int month = int(rng() % 12) + 1;
        const tsl::Date d{2000 + int(rng() % 60), month, int(rng() % 28) + 1};
        int line = month - 1;
        std::string stamp = "(" + std::to_string(i) + ")";
        switch (rng() % 6) {
        case 0: stamp += tsl::formatDate(kPatterns[0], d); break;
        case 1: stamp += tsl::formatDate(kPatterns[1], d); break;
        case 2: stamp += tsl::formatDate(kPatterns[2], d); break;
        case 3: stamp += tsl::formatDate(kPatterns[3], d); break;
        case 4: stamp += tsl::formatDate("dd.mm.yyyy", d), line = tsl::kUndated; break; // a pattern not offered
        default: stamp = tsl::formatDate(kPatterns[0], d); break; // no number: all date
        }
        const std::string name = "n" + std::to_string(rng() % 40);
        std::string amount = std::to_string(int(rng() % 200001) - 100000);
        const bool broken = rng() % 50 == 0;
        if (broken)
            amount += ".5";
        const std::string table = std::to_string(book + 2);
        const auto width = tsl::findTable(table)->fields.size();
        sql += "INSERT INTO \"" + table + "\" VALUES (" + quote(stamp) + ", " + quote(name);
        for (std::size_t k = 2; k + 1 < width; ++k)
            sql += ", 'x'";
        sql += ", " + quote(amount) + ");";
        if (broken) {
            ++bad[std::size_t(book)];
            continue;
        }
        const std::int64_t a = std::stoll(amount);
        months[std::size_t(book)][std::size_t(line)].add(a);
        names[std::size_t(book)][name].add(a);
    }
    tsltest::sqlExec(kFile, sql + "COMMIT;");

    const YearFigures f = l.read();
    for (std::size_t b = 0; b < 3; ++b) {
        SCOPED_TRACE(b);
        EXPECT_EQ(f.books[b].months, months[b]);
        EXPECT_EQ(f.books[b].badCount, bad[b]);
        std::map<std::string, Tally> got;
        for (const auto& n : f.books[b].names)
            got[n.name] = n.tally;
        EXPECT_EQ(got, names[b]);
    }
}

TEST(YearFigures, ComparisonSideBySideWithDifferences) {
    YearFigures a, b;
    a.books[0].months[0] = tally(2, 1000);
    a.books[1].months[0] = tally(1, 300);
    a.books[0].all = tally(2, 1000);
    a.books[1].all = tally(1, 300);
    b.books[0].months[0] = tally(1, 400);
    b.books[2].months[tsl::kUndated] = tally(1, 50);
    b.books[0].all = tally(1, 400);
    b.books[2].all = tally(1, 50);
    const auto t = tsl::comparisonTable(a, "2026", b, "2025");
    ASSERT_EQ(t.header.size(), 13u);
    EXPECT_EQ(t.header[1], "发货(2026)");
    EXPECT_EQ(t.header[2], "发货(2025)");
    EXPECT_EQ(t.header[3], "发货差额");
    EXPECT_EQ(t.header[12], "收入差额");
    ASSERT_EQ(t.rows.size(), 14u) << "the other ledger has an undated row";
    EXPECT_EQ(t.rows[0], (std::vector<std::string>{"1月", "1000", "400", "600", "300", "0", "300", "0", "0", "0",
                                                   "700", "400", "300"}));
    EXPECT_EQ(t.rows[12][0], "日期不明");
    EXPECT_EQ(t.rows[12][9], "-50");
    EXPECT_EQ(t.rows[12][12], "50");
    EXPECT_EQ(t.rows[13], (std::vector<std::string>{"合计", "1000", "400", "600", "300", "0", "300", "0", "50",
                                                    "-50", "700", "350", "350"}));
}

TEST(YearFigures, OtherLedgerIsOnlyRead) {
    Ledger l;
    row("2", "(1)2026/3/5", "甲", "100");
    const std::string before = tsltest::readFile(kFile);
    const auto stamp = std::filesystem::last_write_time(kFile);
    const YearFigures f = tsl::readYearFiguresOfFile(kFile, kPatterns, kYear);
    EXPECT_EQ(f.book(Movement::Shipments).all, tally(1, 100));
    EXPECT_EQ(tsltest::readFile(kFile), before);
    EXPECT_EQ(std::filesystem::last_write_time(kFile), stamp);
    EXPECT_FALSE(std::filesystem::exists(kFile + "-journal"));

    EXPECT_THROW((void)tsl::readYearFiguresOfFile("none.mdb", kPatterns, kYear), tsl::Error);
    tsltest::writeFile("junk.mdb", "not a database at all, just text that goes on for a while");
    EXPECT_THROW((void)tsl::readYearFiguresOfFile("junk.mdb", kPatterns, kYear), tsl::Error);
    EXPECT_EQ(tsltest::readFile("junk.mdb"), "not a database at all, just text that goes on for a while");
    // A database without the books of a ledger.
    tsltest::writeFile("other.mdb", "");
    tsltest::sqlExec("other.mdb", "CREATE TABLE t (a TEXT);");
    EXPECT_THROW((void)tsl::readYearFiguresOfFile("other.mdb", kPatterns, kYear), tsl::Error);
}
