#include "capital.h"
#include "exporttest.h"
#include "ledger.h"
#include "statement.h"
#include "tempdir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <sstream>

namespace fs = std::filesystem;
using namespace tsl::out;
using tsltest::TempDir;

namespace {

std::vector<std::string> shipment(int i, const std::string& name, const std::string& amount) {
    return {"(" + std::to_string(i) + ")2026-3-" + std::to_string(i % 28 + 1), name, "羊毛衫" + std::to_string(i),
            std::to_string(i % 9 + 1), "浙江省嘉兴市桐乡市濮院镇" + std::to_string(i) + "号", "314502", amount};
}

Statement statementOf(int rows) {
    std::vector<std::vector<std::string>> r;
    for (int i = 1; i <= rows; ++i)
        r.push_back(shipment(i, "张三", std::to_string(i * 10)));
    return makeStatement("2026年的帐本", *findBook(2), "张三", "2026年3月9日", r);
}

int count(const std::string& hay, const std::string& needle) {
    int n = 0;
    for (std::size_t at = hay.find(needle); at != std::string::npos; at = hay.find(needle, at + 1))
        ++n;
    return n;
}

// pdftotext lays a row out on one line; its cells are separated by blanks.
std::string squeeze(std::string s) {
    s = std::regex_replace(s, std::regex("[ \t]+"), " ");
    return s;
}

} // namespace

TEST(StatementPdf, OnePageHoldsEverythingAndEmbedsTheSongFace) {
    TempDir dir;
    const Statement s = makeStatement("2026年的帐本", *findBook(2), "张三", "2026年3月9日",
                                      {shipment(1, "张三", "12000"), shipment(4, "张三", "50")});
    ASSERT_EQ(writeStatementPdf("s.pdf", s), Outcome::Written);
    ASSERT_EQ(tsltest::pdfPages("s.pdf"), 1);
    const std::string text = squeeze(tsltest::pdfText("s.pdf"));
    for (const char* want : {"对帐单", "帐本: 2026年的帐本", "帐簿: 发货", "客户: 张三", "打印日期: 2026年3月9日",
                             "日期 客户姓名 毛衫种类 数量 发货地点 邮编 总金额",
                             "(1)2026-3-2 张三 羊毛衫1 2", "(4)2026-3-5 张三 羊毛衫4 5", "12000", "合计金额: 12050元",
                             "大写金额: 壹万贰仟零伍拾元整", "第 1 页 / 共 1 页"})
        EXPECT_NE(text.find(want), std::string::npos) << want << "\n" << text;

    // Every font is embedded, and the Song face is among them.
    const std::string fonts = tsltest::run("pdffonts s.pdf").out;
    std::istringstream lines(fonts);
    std::string line;
    int listed = 0;
    bool song = false;
    std::getline(lines, line);
    std::getline(lines, line);
    while (std::getline(lines, line)) {
        ++listed;
        song = song || line.find("UMing") != std::string::npos;
        EXPECT_TRUE(std::regex_search(line, std::regex(R"(\s(yes)\s+(yes|no)\s+(yes|no)\s+\d+\s+\d+\s*$)")))
            << "not embedded: " << line;
    }
    EXPECT_GT(listed, 0);
    EXPECT_TRUE(song) << fonts;
}

TEST(StatementPdf, LongStatementRepeatsTheHeaderAndNumbersEveryPage) {
    TempDir dir;
    const Statement s = statementOf(150);
    ASSERT_EQ(writeStatementPdf("long.pdf", s), Outcome::Written);
    const int pages = tsltest::pdfPages("long.pdf");
    ASSERT_GE(pages, 3);
    int rowsSeen = 0;
    for (int p = 1; p <= pages; ++p) {
        SCOPED_TRACE(p);
        const std::string text = squeeze(tsltest::pdfText("long.pdf", p));
        EXPECT_EQ(count(text, "日期 客户姓名 毛衫种类 数量 发货地点 邮编 总金额"), 1);
        EXPECT_EQ(count(text, "第 " + std::to_string(p) + " 页 / 共 " + std::to_string(pages) + " 页"), 1);
        EXPECT_EQ(count(text, "对帐单"), 1);
        EXPECT_EQ(count(text, "大写金额"), p == pages ? 1 : 0);
        rowsSeen += count(text, " 张三 羊毛衫");
    }
    // Every row once, none lost at a page break.
    EXPECT_EQ(rowsSeen, 150);
    const std::string all = squeeze(tsltest::pdfText("long.pdf"));
    for (int i = 1; i <= 150; ++i)
        EXPECT_EQ(count(all, "(" + std::to_string(i) + ")2026-3-"), 1) << i;
    EXPECT_NE(all.find("合计金额: 113250元"), std::string::npos);
    EXPECT_NE(all.find(capitalYuan(113250)), std::string::npos);
}

TEST(StatementPdf, LongTextWrapsInsteadOfBeingCut) {
    TempDir dir;
    std::vector<std::string> row = shipment(1, "张三", "-20");
    row[4] = "甲乙丙丁戊己庚辛壬癸子丑寅卯辰巳午未申酉戌亥一二三四五六七八九十百千万亿兆京垓秭穰沟涧正载极";
    const Statement s = makeStatement("L", *findBook(2), "张三", "d", {row});
    ASSERT_EQ(writeStatementPdf("wrap.pdf", s), Outcome::Written);
    std::string text = tsltest::pdfText("wrap.pdf");
    text = std::regex_replace(text, std::regex("\\s+"), "");
    // Every character of the address is on the page, whatever lines it took.
    for (const char* part : {"甲乙丙丁", "戌亥一二", "沟涧正载极"})
        EXPECT_NE(text.find(part), std::string::npos) << part;
    EXPECT_NE(text.find("负贰拾元整"), std::string::npos);
}

TEST(StatementPdf, CancelWritesNothing) {
    TempDir dir;
    tsltest::writeFile("c.pdf", "old");
    const Statement s = statementOf(3000);
    int calls = 0;
    EXPECT_EQ(writeStatementPdf("c.pdf", s, [&](std::int64_t, std::int64_t) { return ++calls < 2; }),
              Outcome::Cancelled);
    EXPECT_EQ(tsltest::readFile("c.pdf"), "old");
    EXPECT_EQ(std::distance(fs::directory_iterator("."), fs::directory_iterator()), 1);
}
