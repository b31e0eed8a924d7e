// The command-line exporter run as a user runs it, from a shell.
#include "tests/export/exporttest.h"
#include "storage/filelock.h"
#include "tests/support/tempdir.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <map>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>

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
    tsltest::makeLedger("tsl.mdb", {{2, {{"(1)2026-5-1", "王丽", "开衫", "1", "x", "y", "5"}}}});
    fs::create_directory("sub");
    fs::copy_file("tsl.mdb", "sub/RUN.DLL");
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
        {"a.mdb --book 4 --name 小王 --pdf no/dir/o.pdf", "不能写入文件 \"no/dir/o.pdf\": 文件夹不存在!"},
        // The index holds the books only as the template of new ledgers.
        {"tsl.mdb --book 2 --csv o.csv", "\"tsl.mdb\" 不是帐本文件."},
        {"sub/RUN.DLL --book 2 --csv o.csv", "\"sub/RUN.DLL\" 不是帐本文件."},
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

namespace {
// Every file under the current folder with what it holds.
std::map<std::string, std::string> filesHere() {
    std::map<std::string, std::string> out;
    for (const auto& e : fs::recursive_directory_iterator("."))
        if (!e.is_directory())
            out[e.path().string()] = readFile(e.path().string());
    return out;
}
} // namespace

// An export never takes the place of what the program keeps: a ledger, the
// index, a snapshot, the ledger it reads (under any name), any database.
TEST(Cli, NeverReplacesTheProgramsOwnFiles) {
    TempDir dir;
    fs::create_directories("data/backups/L.mdb");
    fs::create_directory("elsewhere");
    tsltest::makeLedger("data/L.mdb", {{4, kDeliveries}});
    fs::copy_file("data/L.mdb", "data/run.dll");
    fs::copy_file("data/L.mdb", "data/backups/L.mdb/2026-12-08 21.35.10.mdb");
    fs::copy_file("data/L.mdb", "elsewhere/alone.mdb"); // no index beside it
    fs::create_hard_link("elsewhere/alone.mdb", "elsewhere/same-file.csv");
    fs::copy_file("data/L.mdb", "elsewhere/other.db");
    fs::create_symlink("../data/L.mdb", "elsewhere/to-ledger.csv");
    // The ledger read, how it is written, where to, and why that is refused.
    const char *const L = "data/L.mdb", *const A = "elsewhere/alone.mdb";
    const struct { const char *ledger, *as; std::string target, why; } cases[] = {
        {L, "--csv", "data/L.mdb", "这就是正在导出的帐本!"},
        {L, "--name 小王 --pdf", "data/./L.mdb", "这就是正在导出的帐本!"},
        {L, "--xlsx", "data/run.dll", "这是帐本列表文件!"},
        {L, "--csv", "data/tsl.mdb", "这是帐本列表文件!"},
        {L, "--csv", "data/新帐本.mdb", "这是帐本文件!"},
        {L, "--csv", "data/L.mdb-journal", "这是帐本文件!"},
        {A, "--csv", "data/L.mdb", "这是帐本文件!"},
        {L, "--csv", "data/backups/L.mdb/2026-12-08 21.35.10.mdb", "这是帐本的备份!"},
        {L, "--csv", "data/backups/L.mdb/new.csv", "这是帐本的备份!"},
        {A, "--csv", "elsewhere/alone.mdb", "这就是正在导出的帐本!"},
        {A, "--xlsx", "elsewhere/same-file.csv", "这就是正在导出的帐本!"},
        {A, "--csv", "elsewhere/other.db", "这是一个数据库文件!"},
        {A, "--csv", "elsewhere/to-ledger.csv", "这是帐本文件!"},
        {L, "--csv", "data/backups", "这是一个文件夹!"},
        {L, "--csv", "data/2027.mdb.tmp-Ab12cD", "这是程序自己的文件!"},
        {L, "--csv", "data/.tessolan.lock", "这是程序自己的文件!"},
    };
    const auto before = filesHere();
    for (const auto& c : cases) {
        const std::string args = std::string(c.ledger) + " --book 4 " + c.as + " " + tsltest::shellQuote(c.target);
        SCOPED_TRACE(args);
        const auto r = exporter(args);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, "tessolan-export: 不能导出到 \"" + c.target + "\": " + c.why + "\n");
    }
    EXPECT_EQ(filesHere(), before);
    EXPECT_TRUE(fs::is_symlink("elsewhere/to-ledger.csv"));
    // Beside them, any other name is written as before; a ledger named like the index is a ledger.
    EXPECT_EQ(exporter("data/L.mdb --book 4 --csv data/deliveries.csv").status, 0);
    EXPECT_EQ(csvOf("data/deliveries.csv").size(), 5u);
    fs::copy_file("data/L.mdb", "elsewhere/TSL.mdb");
    EXPECT_EQ(exporter("elsewhere/TSL.mdb --book 4 --csv elsewhere/TSL.csv").status, 0);
}

// A link is written through (the link stays), a pipe or a device is written
// straight into (it stays what it was), anything else special is refused.
TEST(Cli, WritesThroughLinksAndIntoDevices) {
    TempDir dir;
    tsltest::makeLedger("a.mdb", {{4, kDeliveries}});
    fs::create_directory("out");
    tsltest::writeFile("out/real.csv", "old");
    fs::create_symlink("out/real.csv", "link.csv");
    fs::create_symlink("out/new.xlsx", "dangling.xlsx");
    fs::create_symlink("link.csv", "link-to-link.csv");
    for (const char* args : {"--csv link.csv", "--xlsx dangling.xlsx"}) {
        SCOPED_TRACE(args);
        const auto r = exporter(std::string("a.mdb --book 4 ") + args);
        EXPECT_EQ(r.status, 0) << r.out;
    }
    EXPECT_TRUE(fs::is_symlink("link.csv") && fs::is_symlink("dangling.xlsx"));
    EXPECT_EQ(csvOf("out/real.csv").size(), 5u);
    EXPECT_EQ(tsltest::readXlsx("out/new.xlsx").cells.at("B2").text, "小王");
    EXPECT_EQ(exporter("a.mdb --book 4 --name 小李 --csv link-to-link.csv").status, 0);
    EXPECT_TRUE(fs::is_symlink("link-to-link.csv") && fs::is_symlink("link.csv"));
    EXPECT_EQ(csvOf("out/real.csv").size(), 3u);

    // A pipe: what a reader at its other end gets is the file.
    ASSERT_EQ(::mkfifo("pipe", 0600), 0) << "cannot make a pipe here";
    for (const char* format : {"csv", "xlsx"}) {
        SCOPED_TRACE(format);
        std::string got;
        std::thread reader([&] { got = readFile("pipe"); });
        const auto r = exporter(std::string("a.mdb --book 4 --") + format + " pipe");
        reader.join();
        EXPECT_EQ(r.status, 0) << r.out;
        EXPECT_TRUE(fs::is_fifo("pipe"));
        if (std::string(format) == "csv") {
            EXPECT_EQ(tsltest::parseQuotedCsv(got).value_or(std::vector<std::vector<std::string>>{}).size(), 5u);
        } else {
            tsltest::writeFile("piped.xlsx", got);
            EXPECT_EQ(tsltest::readXlsx("piped.xlsx").cells.at("B4").text, "小王");
        }
    }
    // A device that is full says so, in words; it is still the device.
    for (const char* format : {"csv", "xlsx"}) {
        const auto r = exporter(std::string("a.mdb --book 4 --") + format + " /dev/full");
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, "tessolan-export: 不能写入文件 \"/dev/full\": 磁盘空间已满!\n");
        EXPECT_TRUE(fs::is_character_file("/dev/full"));
    }
    // A socket is no place for a file.
    const int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strcpy(addr.sun_path, "sock");
    ASSERT_EQ(::bind(sock, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    EXPECT_EQ(exporter("a.mdb --book 4 --csv sock").out, "tessolan-export: 不能导出到 \"sock\": 这不是普通文件!\n");
    EXPECT_TRUE(fs::is_socket("sock"));
    ::close(sock);
}

// A file too big for the limit it is written under: said in words, the old
// file kept, nothing left behind.
TEST(Cli, FailuresInWordsAndNoLeftovers) {
    TempDir dir;
    std::vector<std::vector<std::string>> many;
    for (int i = 0; i < 3000; ++i)
        many.push_back({"(" + std::to_string(i) + ")2026-5-1", "职工" + std::to_string(i), "套口", "1", "2"});
    tsltest::makeLedger("a.mdb", {{4, many}});
    for (const char* name : {"big.csv", "big.xlsx"}) {
        SCOPED_TRACE(name);
        tsltest::writeFile(name, "old");
        const std::string format = std::string(name).substr(4);
        const auto r = tsltest::run("bash -c " +
                                    tsltest::shellQuote("trap '' XFSZ; ulimit -f 2; " +
                                                        tsltest::shellQuote(TSL_EXPORT_CLI) + " a.mdb --book 4 --" +
                                                        format + " " + name));
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, "tessolan-export: 不能写入文件 \"" + std::string(name) + "\": 文件超出了允许的大小!\n");
        EXPECT_EQ(readFile(name), "old");
    }
    for (const auto& e : fs::directory_iterator("."))
        EXPECT_EQ(e.path().filename().string().find(".part"), std::string::npos) << e.path();
}

// A name column declared without letter case: the statement lists the rows the
// workspace's settlement lists, exactly the bytes typed.
TEST(Cli, StatementMatchesTheNameByteForByteOnANocaseColumn) {
    TempDir dir;
    tsltest::makeLedger("a.mdb", {});
    tsltest::sqlExec("a.mdb", "DROP TABLE \"2\"; CREATE TABLE \"2\" (\"日期\" TEXT, \"客户姓名\" TEXT COLLATE NOCASE,"
                              " \"毛衫种类\" TEXT, \"数量\" TEXT, \"发货地点\" TEXT, \"邮编\" TEXT, \"总金额\" TEXT);"
                              "INSERT INTO \"2\" VALUES ('(1)2026-5-1','abc','开衫','1','桐乡','314500','10'),"
                              "('(2)2026-5-2','ABC','开衫','1','桐乡','314500','20'),"
                              "('(3)2026-5-3','Abc','开衫','1','桐乡','314500','oops'),"
                              "('(4)2026-5-4','abc','套衫','1','桐乡','314500','40');");
    for (const char* format : {"csv", "xlsx"}) {
        SCOPED_TRACE(format);
        const auto r = exporter(std::string("a.mdb --book 2 --name abc --") + format + " abc." + format);
        EXPECT_EQ(r.status, 0) << r.out;
    }
    const auto csv = csvOf("abc.csv");
    ASSERT_EQ(csv.size(), 4u); // header, two rows, total
    EXPECT_EQ(csv[1][0], "(1)2026-5-1");
    EXPECT_EQ(csv[2][0], "(4)2026-5-4");
    EXPECT_EQ(csv[3][6], "50");
    EXPECT_EQ(tsltest::readXlsx("abc.xlsx").cells.at("G4").text, "50");

    const auto upper = exporter("a.mdb --book 2 --name ABC --csv upper.csv");
    EXPECT_EQ(upper.status, 0) << upper.out;
    ASSERT_EQ(csvOf("upper.csv").size(), 3u);
    EXPECT_EQ(csvOf("upper.csv")[2][6], "20");
    // Its one row has an amount that is no whole number: refused as the window refuses it.
    const auto bad = exporter("a.mdb --book 2 --name Abc --csv bad.csv");
    EXPECT_EQ(bad.status, 1);
    EXPECT_EQ(bad.out, "tessolan-export: 'oops' is not a valid integer value\n");
    EXPECT_FALSE(fs::exists("bad.csv"));
}

// A statement for a period: only its rows and their total, the rows whose date
// cannot be read apart; bad dates and a backwards period are refused as wrong use.
TEST(Cli, StatementForAPeriod) {
    TempDir dir;
    const std::vector<std::vector<std::string>> rows = {
        {"(1)2026-4-30", "小王", "套口", "1", "1"},    {"(2)2026-5-1", "小王", "套口", "1", "2"},
        {"(3)2026-5-31", "小王", "横机", "1", "4"},    {"(4)五月", "小王", "烫衣", "1", "8"},
        {"(5)2026-6-1", "小王", "套口", "1", "16"},    {"(6)2026-5-9", "小李", "套口", "1", "32"},
    };
    tsltest::makeLedger("车间.mdb", {{4, rows}});
    struct Case {
        const char* period;
        std::vector<int> listed; // the rows listed, the undated one included
        const char* total;
    };
    const Case cases[] = {
        {"--from 2026-05-01 --to 2026-05-31", {1, 2, 3}, "6"},
        {"--from 2026-5-1", {1, 2, 3, 4}, "22"},
        {"--to 2026-04-30", {0, 3}, "1"},
        {"", {0, 1, 2, 3, 4}, "31"}, // the whole ledger, as before
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.period);
        fs::remove("p.csv");
        const auto r = exporter(std::string("车间.mdb --book 4 --name 小王 ") + c.period + " --csv p.csv");
        ASSERT_EQ(r.status, 0) << r.out;
        auto csv = csvOf("p.csv");
        ASSERT_FALSE(csv.empty());
        // The header, the period's rows, then the undated one under its heading.
        std::vector<std::vector<std::string>> want = {csv[0]};
        for (int i : c.listed)
            if (i != 3 || !*c.period)
                want.push_back(rows[std::size_t(i)]);
        if (*c.period) {
            want.push_back({"日期无法识别的记录(未计入合计)", "", "", "", ""});
            want.push_back(rows[3]);
        }
        ASSERT_EQ(csv.size(), want.size() + 1);
        EXPECT_EQ(csv.back().back(), c.total);
        EXPECT_EQ(csv.back()[2].empty(), !*c.period); // the total row names the period
        csv.pop_back();
        EXPECT_EQ(csv, want);
    }
    ASSERT_EQ(exporter("车间.mdb --book 4 --name 小王 --from 2026-05-01 --to 2026-05-31 --pdf p.pdf").status, 0);
    const std::string pdf = tsltest::pdfText("p.pdf");
    for (const char* want : {"期间: 2026年5月1日 至 2026年5月31日", "日期无法识别的记录(未计入合计)", "合计金额: 6元"})
        EXPECT_NE(pdf.find(want), std::string::npos) << want << "\n" << pdf;
    EXPECT_EQ(pdf.find("2026-4-30"), std::string::npos);

    const std::pair<std::string, std::string> refused[] = {
        {"--from 2026-13-01", "--from 的日期 \"2026-13-01\" 不对: 要写成 年-月-日, 如 2026-12-01."},
        {"--to 2026-2-30", "--to 的日期 \"2026-2-30\" 不对: 要写成 年-月-日, 如 2026-12-01."},
        {"--from 5/1/26", "--from 的日期 \"5/1/26\" 不对: 要写成 年-月-日, 如 2026-12-01."},
        {"--from 2026-06-01 --to 2026-05-01", "--from 的日期晚于 --to 的日期."},
    };
    for (const auto& [period, message] : refused) {
        SCOPED_TRACE(period);
        const auto r = exporter("车间.mdb --book 4 --name 小王 " + period + " --csv o.csv");
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.out.substr(0, r.out.find('\n') + 1), "tessolan-export: " + message + "\n");
        EXPECT_NE(r.out.find("用法: tessolan-export"), std::string::npos);
    }
    const auto book = exporter("车间.mdb --book 4 --from 2026-05-01 --csv o.csv");
    EXPECT_EQ(book.status, 2);
    EXPECT_NE(book.out.find("--from 和 --to 只用于对帐单: 要同时给出 --name."), std::string::npos) << book.out;
    const auto none = exporter("车间.mdb --book 4 --name 小李 --from 2026-06-01 --csv o.csv");
    EXPECT_EQ(none.status, 1);
    EXPECT_EQ(none.out, "tessolan-export: 所选期间内没有这个人或厂家的记录!\n");
    EXPECT_FALSE(fs::exists("o.csv"));
}
