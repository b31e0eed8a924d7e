// The shown book and the overall report on the statements' pages: page breaks,
// the page's orientation, long texts, an empty book; read back from the PDF
// with pdftotext's word boxes.
#include "export/bookprint.h"
#include "export/statement.h"
#include "tests/export/exporttest.h"
#include "tests/support/tempdir.h"

#include <gtest/gtest.h>

#include <regex>

using namespace tsl::out;
using tsltest::PdfWord;
using tsltest::TempDir;

namespace {

using Rows = std::vector<std::vector<std::string>>;
using Pages = std::vector<std::vector<PdfWord>>;

BookPrint printOf(int book, const Rows& rows) {
    Table t;
    t.rows = rows;
    TableSource src(t);
    return bookPrintOf("2026年的帐本", *findBook(book), "2026年3月9日", src);
}

Rows shipments(int n) {
    Rows r;
    for (int i = 1; i <= n; ++i)
        r.push_back({"(" + std::to_string(i) + ")2026-3-9", "王丽", "开衫", "12", "桐乡市濮院镇", "314502",
                     std::to_string(i * 10)});
    return r;
}

// "第 i 页 / 共 N 页" on a page: the top of its first word, -1 when missing.
double footerTop(const std::vector<PdfWord>& words, std::size_t page, std::size_t pages) {
    const std::vector<std::string> footer = {"第", std::to_string(page), "页", "/", "共", std::to_string(pages), "页"};
    for (std::size_t i = 0; i + footer.size() <= words.size(); ++i) {
        bool match = true;
        for (std::size_t k = 0; k < footer.size() && match; ++k)
            match = words[i + k].text == footer[k];
        if (match)
            return words[i].yMin;
    }
    return -1;
}

// Width and height of the first page, in points.
std::pair<double, double> pageSize(const std::string& pdf) {
    std::smatch m;
    const std::string info = tsltest::run("pdfinfo " + tsltest::shellQuote(pdf)).out;
    if (!std::regex_search(info, m, std::regex(R"(Page size:\s+([0-9.]+) x ([0-9.]+))")))
        return {0, 0};
    return {std::stod(m[1]), std::stod(m[2])};
}

bool overlap(double a0, double a1, double b0, double b1) { return a0 < b1 - 0.5 && b0 < a1 - 0.5; }

// Two words on the same line never share room across: no text runs into the next column.
void expectNoOverlap(const Pages& pages) {
    for (std::size_t p = 0; p < pages.size(); ++p)
        for (std::size_t i = 0; i < pages[p].size(); ++i)
            for (std::size_t k = i + 1; k < pages[p].size(); ++k) {
                const PdfWord &a = pages[p][i], &b = pages[p][k];
                EXPECT_FALSE(overlap(a.yMin, a.yMax, b.yMin, b.yMax) && overlap(a.xMin, a.xMax, b.xMin, b.xMax))
                    << "page " << p + 1 << ": \"" << a.text << "\" and \"" << b.text << "\" overlap";
            }
}

} // namespace

// For lengths from one row to several pages, the shipment book's page turned:
// every row once, the field names once on every page, each page numbered of
// the right count, and no page but the last left with room for another row.
TEST(BookPrint, RowsFillEveryPageUnderRepeatedTitles) {
    TempDir dir;
    bool severalPages = false;
    for (int n : {1, 2, 20, 27, 28, 29, 30, 31, 55, 56, 57, 58, 90}) {
        SCOPED_TRACE("rows: " + std::to_string(n));
        ASSERT_EQ(writeBookPdf("b.pdf", printOf(2, shipments(n))), Outcome::Written);
        const Pages pages = tsltest::pdfWords("b.pdf");
        ASSERT_FALSE(pages.empty());
        severalPages |= pages.size() > 2;
        int rows = 0;
        for (std::size_t p = 0; p < pages.size(); ++p) {
            SCOPED_TRACE("page " + std::to_string(p + 1));
            const double footer = footerTop(pages[p], p + 1, pages.size());
            ASSERT_GE(footer, 0) << "no footer 第 " << p + 1 << " 页 / 共 " << pages.size() << " 页";
            int titles = 0;
            double firstRowTop = 1e9, lastRowBottom = 0;
            int onPage = 0;
            for (const PdfWord& w : pages[p]) {
                titles += w.text == "客户姓名";
                if (w.text.find(")2026-3-9") != std::string::npos) {
                    ++rows, ++onPage;
                    firstRowTop = std::min(firstRowTop, w.yMin);
                    lastRowBottom = std::max(lastRowBottom, w.yMax);
                    EXPECT_LT(w.yMax, footer);
                }
            }
            EXPECT_EQ(titles, 1);
            if (p + 1 < pages.size() && onPage > 1) {
                // Full: the room left above the footer holds no further row.
                const double pitch = (lastRowBottom - firstRowTop) / (onPage - 0.5);
                EXPECT_LT(footer - lastRowBottom, 2 * pitch) << "page left half empty";
            }
        }
        EXPECT_EQ(rows, n);
    }
    EXPECT_TRUE(severalPages);
}

// An empty book prints one page with its titles and a total of 0, upright up
// to five fields and turned on its side for the shipment book's seven.
TEST(BookPrint, EmptyBookOnAPageTurnedByItsFields) {
    for (std::size_t cols = 0; cols <= 9; ++cols)
        EXPECT_EQ(orientationFor(cols), cols <= 5 ? QPageLayout::Portrait : QPageLayout::Landscape) << cols;
    TempDir dir;
    const struct {
        int book;
        const char* title;
        const char* header;
        bool money, landscape;
    } cases[] = {{1, "客户联系", "姓名", false, false},
                 {2, "发货表单", "客户姓名", true, true},
                 {3, "进货表单", "货物来源", true, false},
                 {4, "职工交货", "交货人", true, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.title);
        ASSERT_EQ(writeBookPdf("e.pdf", printOf(c.book, {})), Outcome::Written);
        ASSERT_EQ(tsltest::pdfPages("e.pdf"), 1);
        const auto [w, h] = pageSize("e.pdf");
        EXPECT_NEAR(c.landscape ? h : w, 595.3, 1); // A4: 210 x 297 mm
        EXPECT_NEAR(c.landscape ? w : h, 841.9, 1);
        const std::string text = tsltest::pdfText("e.pdf");
        for (const std::string& want : {std::string(c.title), std::string(c.header), std::string("共 0 行"),
                                        std::string("打印日期: 2026年3月9日"), std::string("第 1 页 / 共 1 页")})
            EXPECT_NE(text.find(want), std::string::npos) << want << "\n" << text;
        EXPECT_EQ(text.find("合计金额: 0元") != std::string::npos, c.money) << text;
    }
}

// Long texts wrap inside their column, a very long one is cut and ends in "…";
// nothing runs into the next column, and no row outgrows its page.
TEST(BookPrint, LongTextsStayInTheirColumn) {
    TempDir dir;
    Rows rows = shipments(3);
    rows[0][1] = "杭州四季服饰有限公司杭州四季服饰有限公司杭州四季服饰有限公司"; // wraps
    rows[1][4] = std::string(3000, 'W');                                       // cut
    for (int i = 0; i < 800; ++i)
        rows[2][1] += "濮院"; // cut
    ASSERT_EQ(writeBookPdf("w.pdf", printOf(2, rows)), Outcome::Written);
    const Pages pages = tsltest::pdfWords("w.pdf");
    ASSERT_EQ(pages.size(), 1U) << "a cut row takes only a part of a page";
    expectNoOverlap(pages);
    // The wrapped name is whole: each of its characters as often as in the name
    // (no other cell holds them); the cut ones end in "…".
    std::string all;
    bool cutW = false, cutName = false;
    for (const PdfWord& w : pages[0]) {
        all += w.text;
        cutW |= w.text.ends_with("WWW…");
        cutName |= w.text.ends_with("濮…") || w.text.ends_with("院…");
    }
    const auto count = [](const std::string& hay, const std::string& needle) {
        int n = 0;
        for (std::size_t at = hay.find(needle); at != std::string::npos; at = hay.find(needle, at + 1))
            ++n;
        return n;
    };
    for (const char* ch : {"杭", "州", "四", "季", "服", "饰", "有", "限", "公", "司"})
        EXPECT_EQ(count(all, ch), 3) << ch;
    EXPECT_TRUE(cutW && cutName);
    EXPECT_LT(count(all, "W"), 1500);
    EXPECT_EQ(count(all, "…"), 2);
    EXPECT_EQ(count(all, ")2026-3-9"), 3);
}

// The same holds for the statement, which paints through the same pages: a
// cell of thousands of characters used to make a row taller than the page,
// painted over the footer and off the paper.
TEST(BookPrint, StatementRowNeverOutgrowsItsPage) {
    TempDir dir;
    Rows rows = shipments(3);
    rows[1][4] = std::string(6000, 'M');
    const Statement s = makeStatement("2026年的帐本", *findBook(2), "王丽", "2026年3月9日", rows);
    ASSERT_EQ(writeStatementPdf("s.pdf", s), Outcome::Written);
    const Pages pages = tsltest::pdfWords("s.pdf");
    ASSERT_EQ(pages.size(), 1U);
    const double footer = footerTop(pages[0], 1, 1);
    ASSERT_GE(footer, 0);
    for (const PdfWord& w : pages[0]) {
        if (w.text != "第" && w.text != "页" && w.text != "/" && w.text != "共" && w.text != "1") {
            EXPECT_LT(w.yMax, footer) << w.text.substr(0, 40);
        }
    }
    expectNoOverlap(pages);
}

// The overall report's message, as the workspace shows it, read into rows.
TEST(BookPrint, OverallReportFromItsMessage) {
    const ReportPrint r = reportPrintOf("2026年的帐本", "2026年3月9日",
                                        "         总体报表\n\n现在总有客户:3个\n\n发货总收为:-12元\n\n★今年真倒霉,忙了一年,还要赔钱!☆");
    EXPECT_EQ(r.title, "总体报表");
    EXPECT_EQ(r.table.rows, (Rows{{"现在总有客户", "3个"}, {"发货总收为", "-12元"}}));
    EXPECT_EQ(r.closing, std::vector<std::string>{"★今年真倒霉,忙了一年,还要赔钱!☆"});
    EXPECT_EQ(reportOrientation(r), QPageLayout::Portrait);
}
