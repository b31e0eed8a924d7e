#include "exporttest.h"
#include "table.h"
#include "tempdir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using namespace tsl::out;
using tsltest::readFile;
using tsltest::TempDir;

namespace {

// Texts that are hard to carry through a file.
const std::vector<std::string> kAwkward = {
    "a,b", "say \"hi\"", "\"", "\"\"", "line\nfeed", "cr\r\nlf", "", " lead", "trail ", "张三,李四",
    "全角，逗号", "tab\there", "𠀀 outside the basic plane", "=SUM(A1:A2)", "<tag>&amp;"};

Table awkwardTable() {
    Table t;
    t.columns.header = {"名称", "说明", "数量", "总金额"};
    t.columns.numeric = {false, false, true, true};
    for (std::size_t i = 0; i < kAwkward.size(); ++i)
        t.rows.push_back({"第" + std::to_string(i) + "行", kAwkward[i], std::to_string(i), "-" + std::to_string(i * 7)});
    t.total = {"合计", "", "", "0"};
    return t;
}

std::vector<std::string> dirEntries() {
    std::vector<std::string> v;
    for (const auto& e : fs::directory_iterator("."))
        v.push_back(e.path().filename().string());
    return v;
}

// Gives `n` rows of four cells and asks to stop after the progress says `stopAt`.
class CountingSource final : public RowSource {
public:
    explicit CountingSource(std::int64_t n) : n_(n) {}
    bool next(std::vector<std::string>& row) override {
        if (at_ >= n_)
            return false;
        row = {std::to_string(at_), "x", "1", "2"};
        ++at_;
        return true;
    }
    [[nodiscard]] std::int64_t size() const override { return n_; }

private:
    std::int64_t n_;
    std::int64_t at_ = 0;
};

} // namespace

TEST(ExactNumber, OnlyTextsThatComeBackTheSame) {
    const std::pair<const char*, double> numbers[] = {
        {"0", 0}, {"7", 7}, {"-42", -42}, {"12050", 12050}, {"2147483647", 2147483647.0}, {"3.5", 3.5},
        {"-0.25", -0.25}, {"0.001", 0.001}, {"999999999999999", 999999999999999.0}, {"0.000000000000001", 1e-15}};
    for (auto [text, v] : numbers) {
        SCOPED_TRACE(text);
        const auto got = exactNumber(text);
        ASSERT_TRUE(got.has_value());
        EXPECT_EQ(*got, v);
    }
    const char* texts[] = {"", "-", "-0", "007", "00", " 12", "12 ", "+5", "1e3", "$10", "0x1A", "1,000", "3.",
                           ".5", "3.50", "1.0", "12a", "１２", "9999999999999999", "1.234567890123456", "--1"};
    for (const char* text : texts) {
        SCOPED_TRACE(text);
        EXPECT_FALSE(exactNumber(text).has_value());
    }
}

TEST(DisplayWidth, WideCharactersCountTwo) {
    EXPECT_EQ(displayWidth("abc"), 3);
    EXPECT_EQ(displayWidth("张三"), 4);
    EXPECT_EQ(displayWidth("A张，"), 5);
    EXPECT_EQ(displayWidth("é"), 1);
    EXPECT_EQ(displayWidth("𠀀"), 2);
}

TEST(Csv, RoundTripsThroughAStrictParser) {
    TempDir dir;
    const Table t = awkwardTable();
    ASSERT_EQ(writeCsv("out.csv", t), Outcome::Written);
    const auto rows = tsltest::parseQuotedCsv(readFile("out.csv"));
    ASSERT_TRUE(rows.has_value()) << readFile("out.csv");
    ASSERT_EQ(rows->size(), t.rows.size() + 2);
    EXPECT_EQ(rows->front(), t.columns.header);
    for (std::size_t i = 0; i < t.rows.size(); ++i)
        EXPECT_EQ((*rows)[i + 1], t.rows[i]);
    EXPECT_EQ(rows->back(), t.total);
}

TEST(Csv, NoTotalRowWhenThereIsNone) {
    TempDir dir;
    Table t = awkwardTable();
    t.total.clear();
    ASSERT_EQ(writeCsv("out.csv", t), Outcome::Written);
    const auto rows = tsltest::parseQuotedCsv(readFile("out.csv"));
    ASSERT_TRUE(rows.has_value());
    EXPECT_EQ(rows->size(), t.rows.size() + 1);
    EXPECT_EQ(rows->back(), t.rows.back());
}

TEST(Xlsx, NumbersAsNumbersTextAsTextHeaderFrozen) {
    TempDir dir;
    Table t = awkwardTable();
    t.rows.push_back({"零开头", "x", "007", "$10"});  // would lose their look as numbers
    t.rows.push_back({"小数", "y", "3.5", "2147483647"});
    ASSERT_EQ(writeXlsx("out.xlsx", "发货[1]", t), Outcome::Written);
    const auto sheet = tsltest::readXlsx("out.xlsx");
    auto at = [&](char col, std::size_t row) -> const tsltest::XlsxCell& {
        return sheet.cells.at(std::string(1, col) + std::to_string(row));
    };
    for (std::size_t c = 0; c < t.columns.header.size(); ++c)
        EXPECT_EQ(at(char('A' + c), 1).text, t.columns.header[c]);
    for (std::size_t r = 0; r < t.rows.size(); ++r) {
        for (std::size_t c = 0; c < 4; ++c) {
            const std::string& text = t.rows[r][c];
            const std::string ref = std::string(1, char('A' + c)) + std::to_string(r + 2);
            SCOPED_TRACE(ref + " " + text);
            if (text.empty()) {
                EXPECT_EQ(sheet.cells.count(ref), 0u);
                continue;
            }
            const auto& cell = sheet.cells.at(ref);
            const bool shouldBeNumber = t.columns.numeric[c] && exactNumber(text).has_value();
            EXPECT_EQ(cell.number, shouldBeNumber);
            if (shouldBeNumber) {
                EXPECT_EQ(std::stod(cell.text), *exactNumber(text));
            } else if (text.find('\r') == std::string::npos) {
                EXPECT_EQ(cell.text, text);
            }
        }
    }
    const std::size_t totalRow = t.rows.size() + 2;
    EXPECT_EQ(at('A', totalRow).text, "合计");
    EXPECT_TRUE(at('D', totalRow).number);
    EXPECT_NE(sheet.xml.find("state=\"frozen\""), std::string::npos);
    EXPECT_NE(sheet.xml.find("ySplit=\"1\""), std::string::npos);
    // The sheet's name lost the characters a sheet name may not hold.
    EXPECT_NE(tsltest::run("unzip -p out.xlsx xl/workbook.xml").out.find("name=\"发货_1_\""), std::string::npos);
}

TEST(Xlsx, ColumnsAsWideAsTheirWidestText) {
    TempDir dir;
    Table t;
    t.columns.header = {"短", "地址"};
    t.rows = {{"a", "浙江省杭州市西湖区文三路一百号"}, {"b", "x"}};
    ASSERT_EQ(writeXlsx("w.xlsx", "s", t), Outcome::Written);
    const std::string xml = tsltest::readXlsx("w.xlsx").xml;
    std::smatch m;
    ASSERT_TRUE(std::regex_search(xml, m, std::regex(R"re(<col min="2" max="2" width="([0-9.]+)")re")));
    // Fifteen wide characters take thirty columns, and a little room.
    EXPECT_GE(std::stod(m[1]), 30.0);
    EXPECT_LE(std::stod(m[1]), 34.0);
    ASSERT_TRUE(std::regex_search(xml, m, std::regex(R"re(<col min="1" max="1" width="([0-9.]+)")re")));
    EXPECT_LT(std::stod(m[1]), 10.0);
}

// A cancel or a failure leaves the file that was there untouched and no
// temporary file behind.
TEST(Writers, CancelKeepsTheOldFileAndLeavesNoTemporary) {
    TempDir dir;
    tsltest::writeFile("out.csv", "old");
    tsltest::writeFile("out.xlsx", "old");
    for (const char* name : {"out.csv", "out.xlsx"}) {
        SCOPED_TRACE(name);
        CountingSource src(50000);
        std::int64_t calls = 0, lastDone = 0;
        const Progress stopLater = [&](std::int64_t done, std::int64_t total) {
            EXPECT_EQ(total, 50000);
            EXPECT_GT(done, lastDone);
            lastDone = done;
            return ++calls < 3;
        };
        const Columns cols{{"a", "b", "c", "d"}, {false, false, true, true}};
        const Outcome o = std::string(name) == "out.csv" ? writeCsv(name, cols, src, stopLater)
                                                         : writeXlsx(name, "s", cols, src, stopLater);
        EXPECT_EQ(o, Outcome::Cancelled);
        EXPECT_EQ(calls, 3);
        EXPECT_EQ(readFile(name), "old");
    }
    auto entries = dirEntries();
    std::sort(entries.begin(), entries.end());
    EXPECT_EQ(entries, (std::vector<std::string>{"out.csv", "out.xlsx"}));
}

TEST(Writers, FailuresSayWhichFile) {
    TempDir dir;
    const Table t = awkwardTable();
    for (const char* path : {"no/such/folder/out.csv", "no/such/folder/out.xlsx"}) {
        SCOPED_TRACE(path);
        try {
            if (std::string(path).ends_with(".csv"))
                (void)writeCsv(path, t);
            else
                (void)writeXlsx(path, "s", t);
            ADD_FAILURE() << "no error";
        } catch (const ExportError& e) {
            EXPECT_NE(std::string(e.what()).find(path), std::string::npos) << e.what();
        }
    }
    // More rows than a worksheet holds are refused before anything is written.
    CountingSource huge(2000000);
    EXPECT_THROW((void)writeXlsx("big.xlsx", "s", Columns{{"a"}, {}}, huge), ExportError);
    EXPECT_FALSE(fs::exists("big.xlsx"));
    EXPECT_TRUE(dirEntries().empty());
}
