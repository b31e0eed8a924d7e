#include "export/capital.h"
#include "tests/export/exporttest.h"
#include "export/ledger.h"
#include "export/statement.h"
#include "tests/support/tempdir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <sstream>

using namespace tsl::out;
using tsltest::pdfText;
using tsltest::TempDir;

namespace {

constexpr char kHeader[] = "日期 客户姓名 毛衫种类 数量 发货地点 邮编 总金额";

std::vector<std::string> shipment(int i, const std::string& amount) {
    return {"(" + std::to_string(i) + ")2026-3-" + std::to_string(i % 28 + 1), "张三", "羊毛衫" + std::to_string(i),
            std::to_string(i % 9 + 1), "浙江省嘉兴市桐乡市濮院镇" + std::to_string(i) + "号", "314502", amount};
}

Statement statementOf(int rows) {
    std::vector<std::vector<std::string>> r;
    for (int i = 1; i <= rows; ++i)
        r.push_back(shipment(i, std::to_string(i * 10)));
    return makeStatement("2026年的帐本", *findBook(2), "张三", "2026年3月9日", r);
}

int count(const std::string& hay, const std::string& needle) {
    int n = 0;
    for (std::size_t at = hay.find(needle); at != std::string::npos; at = hay.find(needle, at + 1))
        ++n;
    return n;
}

// pdftotext lays a row out on one line, its cells apart by blanks.
std::string squeeze(const std::string& s) { return std::regex_replace(s, std::regex("[ \t]+"), " "); }

} // namespace

TEST(StatementPdf, OnePageHoldsEverythingAndEmbedsTheSongFace) {
    TempDir dir;
    std::vector<std::string> wide = shipment(7, "-20");
    wide[4] = "甲乙丙丁戊己庚辛壬癸子丑寅卯辰巳午未申酉戌亥一二三四五六七八九十百千万亿兆京垓秭穰沟涧正载极";
    const Statement s = makeStatement("2026年的帐本", *findBook(2), "张三", "2026年3月9日",
                                      {shipment(1, "12000"), shipment(4, "50"), wide});
    ASSERT_EQ(writeStatementPdf("s.pdf", s), Outcome::Written);
    ASSERT_EQ(tsltest::pdfPages("s.pdf"), 1);
    const std::string text = squeeze(pdfText("s.pdf"));
    for (const char* want : {"对帐单", "帐本: 2026年的帐本", "帐簿: 发货", "客户: 张三", "打印日期: 2026年3月9日", kHeader,
                             "(1)2026-3-2 张三 羊毛衫1 2", "(4)2026-3-5 张三 羊毛衫4 5", "12000", "合计金额: 12030元",
                             "大写金额: 壹万贰仟零叁拾元整", "第 1 页 / 共 1 页"})
        EXPECT_NE(text.find(want), std::string::npos) << want << "\n" << text;
    // The long address wraps instead of being cut: every character is on the page.
    const std::string packed = std::regex_replace(text, std::regex("\\s+"), "");
    for (const char* part : {"甲乙丙丁", "戌亥一二", "沟涧正载极"})
        EXPECT_NE(packed.find(part), std::string::npos) << part;

    // Every font is embedded (pdffonts' "emb" column), the Song face among them.
    const std::string fonts = tsltest::run("pdffonts s.pdf").out;
    std::istringstream lines(fonts);
    std::string line;
    std::getline(lines, line); // header and rule
    std::getline(lines, line);
    while (std::getline(lines, line))
        EXPECT_TRUE(std::regex_search(line, std::regex(R"(\syes\s+(yes|no)\s+(yes|no)\s+\d+\s+\d+\s*$)"))) << line;
    EXPECT_NE(fonts.find("UMing"), std::string::npos) << fonts;
}

TEST(StatementPdf, LongStatementRepeatsTheHeaderAndNumbersEveryPage) {
    TempDir dir;
    ASSERT_EQ(writeStatementPdf("long.pdf", statementOf(150)), Outcome::Written);
    const int pages = tsltest::pdfPages("long.pdf");
    ASSERT_GE(pages, 3);
    for (int p = 1; p <= pages; ++p) {
        SCOPED_TRACE(p);
        const std::string text = squeeze(pdfText("long.pdf", p));
        EXPECT_EQ(count(text, kHeader), 1);
        EXPECT_EQ(count(text, "第 " + std::to_string(p) + " 页 / 共 " + std::to_string(pages) + " 页"), 1);
        EXPECT_EQ(count(text, "大写金额"), p == pages ? 1 : 0);
    }
    // Every row once, none lost or doubled at a page break.
    const std::string all = squeeze(pdfText("long.pdf"));
    for (int i = 1; i <= 150; ++i)
        EXPECT_EQ(count(all, "(" + std::to_string(i) + ")2026-3-"), 1) << i;
    EXPECT_NE(all.find("合计金额: 113250元"), std::string::npos);
    EXPECT_NE(all.find(capitalYuan(113250)), std::string::npos);
}

TEST(StatementPdf, CancelWritesNothing) {
    TempDir dir;
    tsltest::writeFile("c.pdf", "old");
    int calls = 0;
    EXPECT_EQ(writeStatementPdf("c.pdf", statementOf(3000), [&](std::int64_t, std::int64_t) { return ++calls < 2; }),
              Outcome::Cancelled);
    EXPECT_EQ(tsltest::readFile("c.pdf"), "old");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator("."), std::filesystem::directory_iterator()), 1);
}

// For every length from one row to a few pages: the pages say how many there are and
// that many are written; the total stands once, on the last page, under the last row
// and above the footer; and where the rows leave it no room it has a page of its own.
TEST(StatementPdf, TotalAboveTheFooterOnTheLastPageForEveryLength) {
    TempDir dir;
    int ownPage = 0;
    for (int n = 1; n <= 120; ++n) {
        SCOPED_TRACE("rows: " + std::to_string(n));
        ASSERT_EQ(writeStatementPdf("n.pdf", statementOf(n)), Outcome::Written);
        const auto pages = tsltest::pdfWords("n.pdf");
        ASSERT_FALSE(pages.empty());
        const std::string count = std::to_string(pages.size());
        int rows = 0, totals = 0;
        for (std::size_t p = 0; p < pages.size(); ++p) {
            SCOPED_TRACE("page " + std::to_string(p + 1));
            const auto& words = pages[p];
            // "第 i 页 / 共 N 页", its words in a row.
            const std::vector<std::string> footer = {"第", std::to_string(p + 1), "页", "/", "共", count, "页"};
            double footerTop = -1;
            for (std::size_t i = 0; i + footer.size() <= words.size() && footerTop < 0; ++i) {
                bool match = true;
                for (std::size_t k = 0; k < footer.size() && match; ++k)
                    match = words[i + k].text == footer[k];
                if (match)
                    footerTop = words[i].yMin;
            }
            ASSERT_GE(footerTop, 0) << "no footer 第 " << p + 1 << " 页 / 共 " << count << " 页";
            double lastRowBottom = 0;
            for (const auto& w : words) {
                if (w.text.starts_with("(") && w.text.find(")2026-3-") != std::string::npos) {
                    ++rows;
                    lastRowBottom = std::max(lastRowBottom, w.yMax);
                }
                if (w.text.starts_with("合计金额") || w.text.starts_with("大写金额")) {
                    ++totals;
                    EXPECT_EQ(p + 1, pages.size()) << w.text << " before the last page";
                    EXPECT_GT(w.yMin, lastRowBottom) << w.text << " not under the last row";
                    EXPECT_LT(w.yMax, footerTop) << w.text << " runs into the footer";
                }
            }
            if (p + 1 == pages.size() && lastRowBottom == 0)
                ++ownPage;
        }
        EXPECT_EQ(rows, n);
        EXPECT_EQ(totals, 2);
    }
    // The lengths above include rows that fill their last page to the footer.
    EXPECT_GT(ownPage, 0) << "no length put the total on a page of its own";
}
