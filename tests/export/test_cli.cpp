// The command-line exporter run as a user runs it, from a shell.
#include "exporttest.h"
#include "filelock.h"
#include "tempdir.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace fs = std::filesystem;
using tsltest::readFile;
using tsltest::TempDir;

namespace {

tsltest::Run exporter(const std::string& args) {
    return tsltest::run(tsltest::shellQuote(TSL_EXPORT_CLI) + " " + args);
}

std::vector<std::vector<std::string>> csvOf(const std::string& file) {
    return tsltest::parseQuotedCsv(readFile(file)).value_or(std::vector<std::vector<std::string>>{{"not csv"}});
}

const std::vector<std::vector<std::string>> kDeliveries = {
    {"(1)2026-5-1", "小王", "套口", "100", "300"},
    {"(2)2026-5-2", "小李", "烫衣", "50", "80"},
    {"(3)2026-5-3", "小王", "横机", "20", "1200"},
};

} // namespace

// It only reads: a read-only file, and one the program holds under its lock, will do.
TEST(Cli, WritesEachFormatAndNeverTouchesTheLedger) {
    TempDir dir;
    tsltest::makeLedger("车间.mdb", {{4, kDeliveries}, {1, {{"张三", "杭州", "310000", "0571-1", "139"}}}});
    const std::string before = readFile("车间.mdb");
    const auto stamp = fs::last_write_time("车间.mdb");
    fs::permissions("车间.mdb", fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    tsl::FileLock lock;
    ASSERT_EQ(lock.tryLock("车间.mdb"), tsl::FileLock::Result::Locked);

    for (const char* args : {"--book 4 --name 小王 --pdf 小王.pdf", "--book 4 --name 小王 --csv 小王.csv",
                             "--book 4 --xlsx all.xlsx", "--book 1 --csv customers.csv"}) {
        const auto r = exporter(std::string("车间.mdb ") + args);
        EXPECT_EQ(r.status, 0) << args << ": " << r.out;
        EXPECT_EQ(r.out, "") << args;
    }
    const std::string pdf = tsltest::pdfText("小王.pdf");
    for (const char* want : {"职工: 小王", "帐本: 车间", "壹仟伍佰元整"})
        EXPECT_NE(pdf.find(want), std::string::npos) << want << "\n" << pdf;
    EXPECT_EQ(pdf.find("小李"), std::string::npos);

    const auto csv = csvOf("小王.csv");
    ASSERT_EQ(csv.size(), 4u);
    EXPECT_EQ(csv[1], kDeliveries[0]);
    EXPECT_EQ(csv[2], kDeliveries[2]);
    EXPECT_EQ(csv[3].back(), "1500");

    const auto sheet = tsltest::readXlsx("all.xlsx");
    EXPECT_EQ(sheet.cells.at("B3").text, "小李");
    EXPECT_TRUE(sheet.cells.at("E4").number);
    EXPECT_EQ(sheet.cells.at("E5").text, "1580");
    EXPECT_EQ(csvOf("customers.csv").size(), 2u); // the customer book has no amounts, so no total row

    EXPECT_EQ(readFile("车间.mdb"), before);
    EXPECT_EQ(fs::last_write_time("车间.mdb"), stamp);
    EXPECT_FALSE(fs::exists("车间.mdb-journal"));
}

TEST(Cli, FailsWithOneClearLine) {
    TempDir dir;
    tsltest::makeLedger("a.mdb", {{4, kDeliveries}});
    tsltest::writeFile("notes.mdb", "shopping list");
    tsltest::writeFile("empty.mdb", "");
    tsltest::writeFile("other.mdb", "");
    tsltest::sqlExec("other.mdb", "CREATE TABLE \"2\" (a TEXT)");
    fs::create_directory("folder.mdb");
    const std::pair<std::string, std::string> cases[] = {
        {"gone.mdb --book 2 --csv o.csv", "找不到帐本文件 \"gone.mdb\"."},
        {"notes.mdb --book 2 --csv o.csv", "\"notes.mdb\" 不是帐本文件."},
        {"other.mdb --book 2 --csv o.csv", "\"other.mdb\" 不是帐本文件."},
        {"empty.mdb --book 2 --csv o.csv", "\"empty.mdb\" 不是帐本文件."},
        {"folder.mdb --book 2 --csv o.csv", "\"folder.mdb\" 不是帐本文件."},
        {"a.mdb --book 7 --csv o.csv", "没有帐簿 \"7\": --book 只能是 1, 2, 3 或 4."},
        {"a.mdb --book 22 --csv o.csv", "没有帐簿 \"22\": --book 只能是 1, 2, 3 或 4."},
        {"a.mdb --book 4 --name 老张 --xlsx o.xlsx", "没有符合结帐条件的人或厂家!"},
        {"a.mdb --book 4 --name '' --csv o.csv", "结帐条件必须是某个人的姓名或某个厂名!"},
        {"a.mdb --book 1 --name 张三 --csv o.csv", "客户帐簿不结帐: --name 只用于帐簿 2, 3, 4."},
        {"a.mdb --book 4 --pdf o.pdf", "对帐单 PDF 要用 --name 给出结帐的人或厂家."},
        {"a.mdb --book 4 --name 小王 --pdf no/dir/o.pdf", "不能写入文件 \"no/dir/o.pdf\": No such file or directory"},
    };
    for (const auto& [args, message] : cases) {
        SCOPED_TRACE(args);
        const auto r = exporter(args);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, "tessolan-export: " + message + "\n");
    }
    // Wrong use shows how to use it.
    for (const char* args : {"", "a.mdb", "a.mdb --book 4", "a.mdb --book 4 --csv", "a.mdb --book 4 --csv x --xlsx y",
                             "a.mdb --bogus --book 4 --csv x", "a.mdb b.mdb --book 4 --csv x"}) {
        SCOPED_TRACE(args);
        const auto r = exporter(args);
        EXPECT_EQ(r.status, 2);
        EXPECT_NE(r.out.find("用法: tessolan-export"), std::string::npos);
    }
    // Looking created nothing and changed nothing.
    for (const char* file : {"gone.mdb", "o.csv", "o.xlsx", "o.pdf"})
        EXPECT_FALSE(fs::exists(file)) << file;
    EXPECT_EQ(fs::file_size("empty.mdb"), 0u);
}
