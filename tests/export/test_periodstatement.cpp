// A statement for a period read from a ledger file: only the period's rows and
// their total, the undated rows apart under their heading, the period said on
// the page and in the sheet.
#include "tests/export/exporttest.h"
#include "export/ledger.h"
#include "export/statement.h"
#include "storage/period.h"
#include "storage/stamp.h"
#include "tests/support/tempdir.h"

#include <gtest/gtest.h>

#include <regex>

using namespace tsl::out;
using tsl::Date;
using tsl::Period;
using tsltest::TempDir;
using Rows = std::vector<std::vector<std::string>>;

namespace {

const Rows kShipments = {
    {"(1)2026-11-30", "张三", "开衫", "1", "桐乡", "314500", "1000"},
    {"(2)2026-12-1", "张三", "套衫", "2", "桐乡", "314500", "200"},
    {"(3)2026-12-2", "李四", "套衫", "2", "杭州", "310000", "7"},
    {"(4)旧帐", "张三", "背心", "3", "桐乡", "314500", "40"},
    {"(5)2026-12-31", "张三", "开衫", "4", "桐乡", "314500", "30"},
    {"(6)2027-1-1", "张三", "开衫", "5", "桐乡", "314500", "5000"},
};

const Period kDecember{Date{2026, 12, 1}, Date{2026, 12, 31}};

std::string squeeze(const std::string& s) { return std::regex_replace(s, std::regex("[ \t]+"), " "); }

struct Ledger {
    TempDir dir;
    Ledger() { tsltest::makeLedger("车间.mdb", {{2, kShipments}}); }
};

} // namespace

TEST(PeriodStatement, OnlyThePeriodsRowsAndTheirTotal) {
    Ledger l;
    LedgerFile f("车间.mdb");
    const tsl::StampDateReader dates(tsl::stampDatePatterns("yyyy-m-d"), 2026);
    const Statement s = readStatement(f.engine(), f.name(), *findBook(2), "张三", "2027年1月5日", kDecember, &dates);
    EXPECT_EQ(s.table.rows, (Rows{kShipments[1], kShipments[4]}));
    EXPECT_EQ(s.total, 230);
    EXPECT_EQ(s.undated, (Rows{kShipments[3]}));
    EXPECT_EQ(s.period, "2026年12月1日 至 2026年12月31日");
    EXPECT_EQ(s.table.total[0] + "|" + s.table.total[1] + "|" + s.table.total[2] + "|" + s.table.total[6],
              "合计|贰佰叁拾元整|期间: 2026年12月1日 至 2026年12月31日|230");

    // The sheet: the period's rows, the undated ones under their heading, the total last.
    const Table sheet = sheetOf(s);
    ASSERT_EQ(sheet.rows.size(), 4u);
    EXPECT_EQ(sheet.rows[2][0], "日期无法识别的记录(未计入合计)");
    EXPECT_EQ(sheet.rows[3], kShipments[3]);
    EXPECT_EQ(sheet.total, s.table.total);

    // Whole ledger: as before, every row listed and counted, no period said, the sheet its table.
    const Statement whole = readStatement(f.engine(), f.name(), *findBook(2), "张三", "d", Period{}, nullptr);
    EXPECT_EQ(whole.table.rows.size(), 5u);
    EXPECT_EQ(whole.total, 6270);
    EXPECT_TRUE(whole.period.empty() && whole.undated.empty());
    EXPECT_TRUE(whole.table.total[2].empty());
    EXPECT_EQ(sheetOf(whole).rows, whole.table.rows);
    const Statement before = readStatement(f.engine(), f.name(), *findBook(2), "张三", "d");
    EXPECT_EQ(before.table.rows, whole.table.rows);
    EXPECT_EQ(before.table.total, whole.table.total);
}

TEST(PeriodStatement, PeriodTextsAndRefusals) {
    EXPECT_EQ(periodText(Period{}), "");
    EXPECT_EQ(periodText(Period{Date{2026, 3, 1}, std::nullopt}), "2026年3月1日 起");
    EXPECT_EQ(periodText(Period{std::nullopt, Date{2026, 3, 31}}), "至 2026年3月31日");

    Ledger l;
    LedgerFile f("车间.mdb");
    const tsl::StampDateReader dates(tsl::stampDatePatterns("yyyy-m-d"), 2026);
    const Period june{Date{2026, 6, 1}, Date{2026, 6, 30}};
    // 李四 has no row in June and none undated: refused; 张三's undated row is
    // enough for a statement that lists it apart with a total of nothing.
    EXPECT_EQ(tsltest::errorOf([&] { (void)readStatement(f.engine(), f.name(), *findBook(2), "李四", "d", june, &dates); }),
              "所选期间内没有这个人或厂家的记录!");
    const Statement s = readStatement(f.engine(), f.name(), *findBook(2), "张三", "d", june, &dates);
    EXPECT_TRUE(s.table.rows.empty());
    EXPECT_EQ(s.undated.size(), 1u);
    EXPECT_EQ(s.total, 0);
    EXPECT_EQ(tsltest::errorOf([&] { (void)readStatement(f.engine(), f.name(), *findBook(2), "赵六", "d", june, &dates); }),
              "没有符合结帐条件的人或厂家!");
}

TEST(PeriodStatement, PdfSaysThePeriodAndListsTheUndatedApart) {
    Ledger l;
    LedgerFile f("车间.mdb");
    const tsl::StampDateReader dates(tsl::stampDatePatterns("yyyy-m-d"), 2026);
    const Statement s = readStatement(f.engine(), f.name(), *findBook(2), "张三", "2027年1月5日", kDecember, &dates);
    ASSERT_EQ(writeStatementPdf("p.pdf", s), Outcome::Written);
    ASSERT_EQ(tsltest::pdfPages("p.pdf"), 1);
    const std::string text = squeeze(tsltest::pdfText("p.pdf"));
    for (const char* want : {"期间: 2026年12月1日 至 2026年12月31日", "(2)2026-12-1 张三 套衫", "(5)2026-12-31 张三 开衫",
                             "日期无法识别的记录(未计入合计)", "(4)旧帐 张三 背心", "合计金额: 230元", "大写金额: 贰佰叁拾元整"})
        EXPECT_NE(text.find(want), std::string::npos) << want << "\n" << text;
    for (const char* gone : {"2026-11-30", "2027-1-1", "李四", "5000"})
        EXPECT_EQ(text.find(gone), std::string::npos) << gone;

    // In order down the page: the period's rows, the heading, the undated row, the total.
    double rowY = -1, headingY = -1, undatedY = -1, totalY = -1;
    const auto pages = tsltest::pdfWords("p.pdf");
    ASSERT_EQ(pages.size(), 1u);
    for (const auto& w : pages[0]) {
        if (w.text == "(5)2026-12-31")
            rowY = w.yMin;
        else if (w.text.find("日期无法识别的记录") == 0)
            headingY = w.yMin;
        else if (w.text == "(4)旧帐")
            undatedY = w.yMin;
        else if (w.text.find("合计金额") == 0)
            totalY = w.yMin;
    }
    EXPECT_LT(0, rowY);
    EXPECT_LT(rowY, headingY);
    EXPECT_LT(headingY, undatedY);
    EXPECT_LT(undatedY, totalY);

    // The whole ledger's page says no period and has no such heading.
    const Statement whole = readStatement(f.engine(), f.name(), *findBook(2), "张三", "d");
    ASSERT_EQ(writeStatementPdf("w.pdf", whole), Outcome::Written);
    const std::string all = squeeze(tsltest::pdfText("w.pdf"));
    EXPECT_EQ(all.find("期间"), std::string::npos);
    EXPECT_EQ(all.find("日期无法识别"), std::string::npos);
    EXPECT_NE(all.find("(4)旧帐 张三 背心"), std::string::npos);
}
