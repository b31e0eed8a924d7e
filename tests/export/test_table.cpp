#include "tests/export/exporttest.h"
#include "export/outfile.h"
#include "export/table.h"
#include "storage/fileops.h"
#include "tests/support/tempdir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fcntl.h>
#include <regex>
#include <sys/file.h>

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
    t.columns = {{"名称", "说明", "数量", "总金额"}, {false, false, true, true}};
    for (std::size_t i = 0; i < kAwkward.size(); ++i)
        t.rows.push_back({"第" + std::to_string(i) + "行", kAwkward[i], std::to_string(i), "-" + std::to_string(i * 7)});
    t.total = {"合计", "", "", "0"};
    return t;
}

std::vector<std::string> dirEntries() {
    std::vector<std::string> v;
    for (const auto& e : fs::directory_iterator("."))
        v.push_back(e.path().filename().string());
    std::sort(v.begin(), v.end());
    return v;
}

// `n` rows of four cells.
Table manyRows(std::size_t n) {
    Table t{{{"a", "b", "c", "d"}, {false, false, true, true}}, {}, {}};
    t.rows.assign(n, {"1", "x", "1", "2"});
    return t;
}

} // namespace

TEST(Text, ExactNumbersAndDisplayWidth) {
    const std::pair<const char*, double> numbers[] = {
        {"0", 0}, {"7", 7}, {"-42", -42}, {"12050", 12050}, {"2147483647", 2147483647.0}, {"3.5", 3.5},
        {"-0.25", -0.25}, {"0.001", 0.001}, {"999999999999999", 999999999999999.0}, {"0.000000000000001", 1e-15}};
    for (auto [text, v] : numbers)
        EXPECT_EQ(exactNumber(text), std::optional<double>(v)) << text;
    for (const char* text : {"", "-", "-0", "007", "00", " 12", "12 ", "+5", "1e3", "$10", "0x1A", "1,000", "3.",
                             ".5", "3.50", "1.0", "12a", "１２", "9999999999999999", "1.234567890123456", "--1"})
        EXPECT_FALSE(exactNumber(text).has_value()) << text;
    const std::pair<const char*, int> widths[] = {{"abc", 3}, {"张三", 4}, {"A张，", 5}, {"é", 1}, {"𠀀", 2}};
    for (auto [text, w] : widths)
        EXPECT_EQ(displayWidth(text), w) << text;
}

TEST(Csv, RoundTripsThroughAStrictParserWithOrWithoutTotal) {
    TempDir dir;
    for (bool withTotal : {true, false}) {
        SCOPED_TRACE(withTotal);
        Table t = awkwardTable();
        if (!withTotal)
            t.total.clear();
        ASSERT_EQ(writeCsv("out.csv", t), Outcome::Written);
        const auto rows = tsltest::parseQuotedCsv(readFile("out.csv"));
        ASSERT_TRUE(rows.has_value()) << readFile("out.csv");
        auto want = t.rows;
        want.insert(want.begin(), t.columns.header);
        if (withTotal)
            want.push_back(t.total);
        EXPECT_EQ(*rows, want);
    }
}

TEST(Xlsx, NumbersAsNumbersTextAsTextHeaderFrozen) {
    TempDir dir;
    Table t = awkwardTable();
    t.rows.push_back({"零开头", "x", "007", "$10"}); // would lose their look as numbers
    t.rows.push_back({"小数", "y", "3.5", "2147483647"});
    ASSERT_EQ(writeXlsx("out.xlsx", "发货[1]", t), Outcome::Written);
    const auto sheet = tsltest::readXlsx("out.xlsx");
    auto ref = [](std::size_t col, std::size_t row) { return std::string(1, char('A' + col)) + std::to_string(row); };
    for (std::size_t c = 0; c < 4; ++c)
        EXPECT_EQ(sheet.cells.at(ref(c, 1)).text, t.columns.header[c]);
    for (std::size_t r = 0; r < t.rows.size(); ++r)
        for (std::size_t c = 0; c < 4; ++c) {
            const std::string& text = t.rows[r][c];
            SCOPED_TRACE(ref(c, r + 2) + " " + text);
            const auto cell = sheet.cells.find(ref(c, r + 2));
            ASSERT_EQ(cell == sheet.cells.end(), text.empty());
            if (text.empty())
                continue;
            const auto number = t.columns.isNumeric(c) ? exactNumber(text) : std::nullopt;
            EXPECT_EQ(cell->second.number, number.has_value());
            if (number) {
                EXPECT_EQ(std::stod(cell->second.text), *number);
            } else if (text.find('\r') == std::string::npos) {
                EXPECT_EQ(cell->second.text, text);
            }
        }
    const std::size_t totalRow = t.rows.size() + 2;
    EXPECT_EQ(sheet.cells.at(ref(0, totalRow)).text, "合计");
    EXPECT_TRUE(sheet.cells.at(ref(3, totalRow)).number);
    EXPECT_NE(sheet.xml.find("state=\"frozen\""), std::string::npos);
    EXPECT_NE(sheet.xml.find("ySplit=\"1\""), std::string::npos);
    // The sheet's name lost the characters a sheet name may not hold.
    EXPECT_NE(tsltest::run("unzip -p out.xlsx xl/workbook.xml").out.find("name=\"发货_1_\""), std::string::npos);
}

// A share is a number that Excel shows as the same percentage; what is not one stays text.
TEST(Xlsx, SharesArePercentNumbers) {
    const struct {
        const char* text;
        const char* stored; // "" when it stays text
        const char* format;
    } cases[] = {
        {"29.8%", "0.298", "0.0%"},   {"100.0%", "1", "0.0%"},  {"5%", "0.05", "0%"},
        {"0.25%", "0.0025", "0.00%"}, {"-12.5%", "-0.125", "0.0%"}, {"-", "", ""},
        {"%", "", ""},                {"1e3%", "", ""},         {"07.5%", "", ""},
        {"-0.0%", "", ""},            {"12.%", "", ""},         {"29.8 %", "", ""},
    };
    TempDir dir;
    Table t{{{"客户", "占比"}, {false, true}}, {}, {"合计", "100.0%"}};
    for (const auto& c : cases)
        t.rows.push_back({"甲", c.text});
    ASSERT_EQ(writeXlsx("s.xlsx", "s", t), Outcome::Written);
    const auto sheet = tsltest::readXlsx("s.xlsx");
    const std::string styles = tsltest::run("unzip -p s.xlsx xl/styles.xml").out;
    // The number format of a cell: its style's numFmtId, looked up in styles.xml.
    auto formatOf = [&](const std::string& ref) -> std::string {
        std::smatch m;
        const std::regex cell("<c r=\"" + ref + "\" s=\"(\\d+)\"");
        if (!std::regex_search(sheet.xml, m, cell))
            return "";
        const std::size_t xf = std::stoul(m[1]);
        const std::string xfs = styles.substr(styles.find("<cellXfs"));
        static const std::regex xfRe(R"re(<xf numFmtId="(\d+)")re");
        std::sregex_iterator it(xfs.begin(), xfs.end(), xfRe);
        std::advance(it, xf);
        const std::string id = (*it)[1];
        const std::regex fmtRe("<numFmt numFmtId=\"" + id + "\" formatCode=\"([^\"]+)\"");
        if (std::regex_search(styles, m, fmtRe))
            return m[1];
        return id == "9" ? "0%" : id == "10" ? "0.00%" : "builtin " + id;
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const std::string ref = "B" + std::to_string(i + 2);
        SCOPED_TRACE(cases[i].text);
        const tsltest::XlsxCell& got = sheet.cells.at(ref);
        if (*cases[i].stored) {
            EXPECT_TRUE(got.number);
            EXPECT_EQ(std::stod(got.text), std::stod(cases[i].stored));
            EXPECT_EQ(formatOf(ref), cases[i].format);
        } else {
            EXPECT_FALSE(got.number);
            EXPECT_EQ(got.text, cases[i].text);
        }
    }
    // The total row's share too, in its own (bold) style.
    const std::string total = "B" + std::to_string(std::size(cases) + 2);
    EXPECT_TRUE(sheet.cells.at(total).number);
    EXPECT_EQ(formatOf(total), "0.0%");
}

TEST(Xlsx, ColumnsAsWideAsTheirWidestText) {
    TempDir dir;
    const Table t{{{"短", "地址"}, {}}, {{"a", "浙江省杭州市西湖区文三路一百号"}, {"b", "x"}}, {}};
    ASSERT_EQ(writeXlsx("w.xlsx", "s", t), Outcome::Written);
    const std::string xml = tsltest::readXlsx("w.xlsx").xml;
    std::map<std::string, double> width;
    static const std::regex col(R"re(<col min="(\d+)" max="\1" width="([0-9.]+)")re");
    for (std::sregex_iterator it(xml.begin(), xml.end(), col), end; it != end; ++it)
        width[(*it)[1]] = std::stod((*it)[2]);
    // Fifteen wide characters take thirty columns, and a little room.
    EXPECT_TRUE(width["2"] >= 30.0 && width["2"] <= 34.0) << width["2"];
    EXPECT_TRUE(width["1"] > 0.0 && width["1"] < 10.0) << width["1"];
}

// A cancel or a failure leaves the file that was there untouched and no
// temporary file behind.
TEST(Writers, CancelKeepsTheOldFileAndLeavesNoTemporary) {
    TempDir dir;
    const Table t = manyRows(50000);
    for (const std::string name : {"out.csv", "out.xlsx"}) {
        SCOPED_TRACE(name);
        tsltest::writeFile(name, "old");
        std::int64_t calls = 0, lastDone = 0;
        const Progress stopLater = [&](std::int64_t done, std::int64_t total) {
            EXPECT_EQ(total, 50000);
            EXPECT_GT(done, lastDone);
            lastDone = done;
            return ++calls < 3;
        };
        EXPECT_EQ(name == "out.csv" ? writeCsv(name, t, stopLater) : writeXlsx(name, "s", t, stopLater),
                  Outcome::Cancelled);
        EXPECT_EQ(calls, 3);
        EXPECT_EQ(readFile(name), "old");
    }
    EXPECT_EQ(dirEntries(), (std::vector<std::string>{"out.csv", "out.xlsx"}));
}

TEST(Writers, FailuresSayWhichFile) {
    TempDir dir;
    const Table t = awkwardTable();
    EXPECT_NE(tsltest::errorOf([&] { (void)writeCsv("no/such/out.csv", t); }).find("no/such/out.csv"),
              std::string::npos);
    EXPECT_NE(tsltest::errorOf([&] { (void)writeXlsx("no/such/out.xlsx", "s", t); }).find("no/such/out.xlsx"),
              std::string::npos);
    // More rows than a worksheet holds are refused before anything is written.
    const Table huge{{{"a"}, {}}, std::vector<std::vector<std::string>>(1048576), {}};
    EXPECT_THROW((void)writeXlsx("big.xlsx", "s", huge), ExportError);
    EXPECT_TRUE(dirEntries().empty());
}

namespace {
struct SyncSeen {
    tsl::Synced what;
    std::string path;
    std::string target; // the published file's contents at that moment, or "-" for none
};
std::vector<SyncSeen> syncs;
std::string syncTarget;
void recordSync(tsl::Synced what, const std::string& path) {
    syncs.push_back({what, path, fs::exists(syncTarget) ? readFile(syncTarget) : "-"});
}
} // namespace

// A published file is on disk before its name points at it, and its name is on
// disk after: a crash never leaves the name on an empty or half file.
TEST(Writers, FileSyncedBeforeItsRenameAndFolderAfter) {
    TempDir dir;
    const Table t = awkwardTable();
    for (const std::string name : {"out.csv", "out.xlsx"}) {
        SCOPED_TRACE(name);
        tsltest::writeFile(name, "old");
        syncs.clear();
        syncTarget = name;
        tsl::setSyncObserver(recordSync);
        (void)(name == "out.csv" ? writeCsv(name, t) : writeXlsx(name, "s", t));
        tsl::setSyncObserver(nullptr);
        ASSERT_EQ(syncs.size(), 2u);
        EXPECT_EQ(syncs[0].what, tsl::Synced::File);
        EXPECT_NE(syncs[0].path, name) << "the temporary file, not the published one";
        EXPECT_EQ(syncs[0].target, "old") << "synced before the rename";
        EXPECT_EQ(syncs[1].what, tsl::Synced::Folder);
        EXPECT_TRUE(fs::equivalent(syncs[1].path, ".")) << syncs[1].path;
        EXPECT_EQ(syncs[1].target, readFile(name)) << "the folder after the rename";
        EXPECT_NE(readFile(name), "old");
    }
}

// What a killed export left (its hidden temporary file) goes at the next export
// into the folder; nothing else does: not a live export's file, not a folder or
// a link of that name, not a name of another pattern.
TEST(Writers, NextExportRemovesOnlyDeadLeftovers) {
    TempDir dir;
    fs::create_directory("outside");
    tsltest::writeFile("outside/keep", "mine");
    tsltest::writeFile(".out.csv.0badcafe.part", "half a file");
    tsltest::writeFile(".其他.xlsx.12345678.part", "");
    tsltest::writeFile(".live.csv.deadbeef.part", "being written");
    const int live = ::open(".live.csv.deadbeef.part", O_RDONLY);
    ASSERT_EQ(::flock(live, LOCK_EX | LOCK_NB), 0);
    fs::create_directory(".folder.0badcafe.part");
    fs::create_symlink("outside/keep", ".link.0badcafe.part");
    const std::vector<std::string> notOurs = {".x.0BADCAFE.part", "out.csv.0badcafe.part", ".x.0badcaf.part",
                                              ".x.0badcafe.partial", "..0badcafe.part", ".x.0badcafeg.part"};
    for (const auto& n : notOurs)
        tsltest::writeFile(n, "user's");
    for (const std::string n : {".out.csv.0badcafe.part", ".a.b.0123abcd.part"})
        EXPECT_TRUE(isExportLeftoverName(n)) << n;
    for (const auto& n : notOurs)
        EXPECT_FALSE(isExportLeftoverName(n)) << n;

    ASSERT_EQ(writeCsv("out.csv", awkwardTable()), Outcome::Written);
    auto want = notOurs;
    for (const char* n : {".folder.0badcafe.part", ".link.0badcafe.part", ".live.csv.deadbeef.part", "out.csv",
                          "outside"})
        want.emplace_back(n);
    std::sort(want.begin(), want.end());
    EXPECT_EQ(dirEntries(), want);
    EXPECT_EQ(readFile("outside/keep"), "mine");
    ::close(live);
    EXPECT_EQ(removeExportLeftovers("."), 1u); // the lock is gone with its holder
}

// Any name the folder holds can be written: the temporary name is cut to fit.
TEST(Writers, LongestNameAndOldPermissions) {
    TempDir dir;
    std::string wide;
    for (int i = 0; i < 83; ++i)
        wide += "帐";
    for (const std::string& n : {std::string(251, 'a') + ".csv", wide + ".xlsx" /* 254 bytes */}) {
        SCOPED_TRACE(n.size());
        const auto outcome = n.ends_with(".csv") ? writeCsv(n, awkwardTable()) : writeXlsx(n, "s", awkwardTable());
        EXPECT_EQ(outcome, Outcome::Written);
        EXPECT_TRUE(fs::exists(n));
    }
    tsltest::writeFile("shared.csv", "old");
    fs::permissions("shared.csv", fs::perms(0640));
    ASSERT_EQ(writeCsv("shared.csv", awkwardTable()), Outcome::Written);
    EXPECT_EQ(fs::status("shared.csv").permissions(), fs::perms(0640));
}

// A text longer than a cell holds is cut on a character boundary, and the note says where.
TEST(Xlsx, OverlongTextIsCutAndSaid) {
    TempDir dir;
    std::string wide;
    for (int i = 0; i < 20000; ++i)
        wide += "𠀀"; // two of Excel's characters each
    const Table t{{{"名称", "说明"}, {}}, {{std::string(40000, 'x'), "短"}, {"ok", wide}}, {}};
    ASSERT_EQ(writeXlsx("long.xlsx", "s", t), Outcome::Written);
    // Too long for the regular reader: the cells are looked up in the sheet as written.
    const std::string xml = tsltest::run("unzip -p long.xlsx xl/worksheets/sheet1.xml").out;
    EXPECT_NE(xml.find(">" + std::string(32767, 'x') + "</t>"), std::string::npos);
    EXPECT_EQ(xml.find(std::string(32768, 'x')), std::string::npos);
    EXPECT_NE(xml.find(">" + wide.substr(0, 16383 * 4) + "</t>"), std::string::npos);
    EXPECT_NE(xml.find(">短</t>"), std::string::npos);
    const auto notes = takeExportNotes();
    ASSERT_EQ(notes.size(), 2u);
    EXPECT_EQ(notes[0], "格子 A2 的文字超过 Excel 一格能放的 32767 个字符,只导出了前面的部分.");
    EXPECT_NE(notes[1].find("格子 B3 "), std::string::npos);
    EXPECT_TRUE(takeExportNotes().empty());
}
