// The command-line exporter run as a user runs it, from a shell.
#include "exporttest.h"
#include "filelock.h"
#include "tempdir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sys/stat.h>

namespace fs = std::filesystem;
using tsltest::run;
using tsltest::shellQuote;
using tsltest::TempDir;

namespace {

tsltest::Run exporter(const std::string& args) { return run(shellQuote(TSL_EXPORT_CLI) + " " + args); }

const std::vector<std::vector<std::string>> kDeliveries = {
    {"(1)2026-5-1", "小王", "套口", "100", "300"},
    {"(2)2026-5-2", "小李", "烫衣", "50", "80"},
    {"(3)2026-5-3", "小王", "横机", "20", "1200"},
};

} // namespace

TEST(Cli, WritesEachFormatAndNeverTouchesTheLedger) {
    TempDir dir;
    tsltest::makeLedger("车间.mdb", {{4, kDeliveries}, {1, {{"张三", "杭州", "310000", "0571-1", "139"}}}});
    const std::string before = tsltest::readFile("车间.mdb");
    struct stat st0 {};
    ::stat("车间.mdb", &st0);
    ::chmod("车间.mdb", 0444); // read-only is enough for it

    auto ok = [&](const std::string& args) {
        const auto r = exporter(args);
        EXPECT_EQ(r.status, 0) << args << ": " << r.out;
        EXPECT_EQ(r.out, "") << args;
    };
    ok("车间.mdb --book 4 --name 小王 --pdf 小王.pdf");
    ok("车间.mdb --book 4 --name 小王 --csv 小王.csv");
    ok("车间.mdb --book 4 --xlsx all.xlsx");
    ok("车间.mdb --book 1 --csv customers.csv");

    const std::string pdf = tsltest::pdfText("小王.pdf");
    EXPECT_NE(pdf.find("职工: 小王"), std::string::npos) << pdf;
    EXPECT_NE(pdf.find("帐本: 车间"), std::string::npos) << pdf;
    EXPECT_NE(pdf.find("壹仟伍佰元整"), std::string::npos) << pdf;
    EXPECT_EQ(pdf.find("小李"), std::string::npos);

    const auto csv = tsltest::parseQuotedCsv(tsltest::readFile("小王.csv"));
    ASSERT_TRUE(csv.has_value());
    ASSERT_EQ(csv->size(), 4u);
    EXPECT_EQ((*csv)[1], kDeliveries[0]);
    EXPECT_EQ((*csv)[2], kDeliveries[2]);
    EXPECT_EQ((*csv)[3].back(), "1500");

    const auto sheet = tsltest::readXlsx("all.xlsx");
    EXPECT_EQ(sheet.cells.at("B3").text, "小李");
    EXPECT_TRUE(sheet.cells.at("E4").number);
    EXPECT_EQ(sheet.cells.at("E5").text, "1580");

    const auto customers = tsltest::parseQuotedCsv(tsltest::readFile("customers.csv"));
    ASSERT_TRUE(customers.has_value());
    EXPECT_EQ(customers->size(), 2u); // the customer book has no amounts, so no total row

    struct stat st1 {};
    ::stat("车间.mdb", &st1);
    EXPECT_EQ(tsltest::readFile("车间.mdb"), before);
    EXPECT_EQ(st1.st_mtim.tv_sec, st0.st_mtim.tv_sec);
    EXPECT_EQ(st1.st_mtim.tv_nsec, st0.st_mtim.tv_nsec);
    EXPECT_FALSE(fs::exists("车间.mdb-journal"));
}

// The program holds its ledger under a lock while it works in it; the exporter
// only reads, so it goes on.
TEST(Cli, ReadsALedgerTheProgramHasOpen) {
    TempDir dir;
    tsltest::makeLedger("a.mdb", {{4, kDeliveries}});
    tsl::FileLock lock;
    ASSERT_EQ(lock.tryLock("a.mdb"), tsl::FileLock::Result::Locked);
    const auto r = exporter("a.mdb --book 4 --name 小李 --csv o.csv");
    EXPECT_EQ(r.status, 0) << r.out;
    const auto csv = tsltest::parseQuotedCsv(tsltest::readFile("o.csv"));
    ASSERT_TRUE(csv.has_value());
    EXPECT_EQ(csv->size(), 3u);
}

TEST(Cli, FailsWithOneClearLine) {
    TempDir dir;
    tsltest::makeLedger("a.mdb", {{4, kDeliveries}});
    tsltest::writeFile("notes.mdb", "shopping list");
    const std::pair<std::string, std::string> cases[] = {
        {"gone.mdb --book 2 --csv o.csv", "找不到帐本文件 \"gone.mdb\"."},
        {"notes.mdb --book 2 --csv o.csv", "\"notes.mdb\" 不是帐本文件."},
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
    EXPECT_FALSE(fs::exists("o.csv"));
    EXPECT_FALSE(fs::exists("o.xlsx"));
    EXPECT_FALSE(fs::exists("o.pdf"));
}
