#include "storage/connection.h"
#include "storage/findtext.h"
#include "storage/intconv.h"
#include "storage/prepared.h"
#include "storage/schema.h"
#include "tests/support/storeledger.h"
#include "tests/support/tempdir.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <string>
#include <vector>

using tsltest::Store;
using Rows = std::vector<int>;

namespace {

// Rows of the shipment book, its fields named: a server's row id comes first.
std::string shipments(const std::string& values) {
    return "INSERT INTO \"2\" (\"日期\", \"客户姓名\", \"毛衫种类\", \"数量\", \"发货地点\", \"邮编\", \"总金额\") VALUES " +
           values;
}

} // namespace

TEST(FoldForFind, LettersInEitherCaseAndWidthAlike) {
    struct Case {
        const char* text;
        const char* folded;
    };
    // clang-format off
    const Case cases[] = {
        {"ABC xyz", "abc xyz"}, {"ＡＢＣ１２３", "abc123"}, {"ｘｌ－３", "xl-3"}, {"张三　李四", "张三 李四"},
        {"毛衫ＸＬ", "毛衫xl"}, {"～！", "~!"},
        {"\xEF\xBD\x9F", "\xEF\xBD\x9F"},   // U+FF5F: past the full-width forms of ASCII
        {"\xEF\xBC", "\xEF\xBC"},           // cut short: left as it stands
        {"Ä", "Ä"}, {"", ""},
    };
    // clang-format on
    for (const Case& c : cases)
        EXPECT_EQ(tsl::foldForFind(c.text), c.folded) << c.text;
}

// On a ledger file and on a server ledger alike.
class FindCopyTest : public ::testing::TestWithParam<Store> {
protected:
    tsltest::TempDir dir;
    std::unique_ptr<tsltest::StoreLedger> ledger;
    tsl::Connection conn;
    std::unique_ptr<tsl::Cursor> book;

    void SetUp() override {
        ledger = std::make_unique<tsltest::StoreLedger>(GetParam());
        ledger->sql(shipments("('(1)12/1/26', '张三', 'ＸＬ毛衣', '5', '杭州', '310000', '500'),"
                              "('(2)12/2/26', 'Zhang', '背心', '12', '宁波', '315000', '240'),"
                              "('(3)12/3/26', '李四', 'xl裤', '1', NULL, '', '30')"));
        ledger->connect(conn);
        book = std::make_unique<tsl::Cursor>(conn);
        book->setTableName("2");
        book->open();
    }
    // Written by another program: on a server its commit is announced.
    void elsewhere(const std::string& sql) {
        ledger->sql(sql);
        ledger->announce(conn);
    }
};

INSTANTIATE_TEST_SUITE_P(BothStores, FindCopyTest, ::testing::Values(Store::File, Store::Server),
                         [](const auto& info) { return tsltest::storeName(info.param); });

TEST_P(FindCopyTest, AnyFieldCaseAndWidthNeverAcrossFields) {
    tsl::FindCopy find(*book);
    EXPECT_EQ(find.rowsHolding("xl"), (Rows{0, 2}));
    EXPECT_EQ(find.rowsHolding("ＸＬ"), (Rows{0, 2}));
    EXPECT_EQ(find.rowsHolding("ZHANG"), (Rows{1}));
    EXPECT_EQ(find.rowsHolding("１２／２"), (Rows{1}));
    EXPECT_EQ(find.rowsHolding("１２"), (Rows{0, 1, 2}));
    EXPECT_EQ(find.rowsHolding("315"), (Rows{1}));
    EXPECT_EQ(find.rowsHolding("张三ＸＬ"), (Rows{})) << "the end of one field and the start of the next";
    EXPECT_EQ(find.rowsHolding("杭州31"), (Rows{}));
    EXPECT_EQ(find.rowsHolding(""), (Rows{0, 1, 2}));
    EXPECT_EQ(find.rowsHolding("\x1f"), (Rows{0, 1, 2}));
}

TEST_P(FindCopyTest, TotalOfTheFoundRowsBadAmountsApart) {
    ledger->sql(shipments("('(4)12/4/26', '张三', '背心', '2', '', '', '十元'), ('(5)12/5/26', '张三', '背心', '2', '', '', '2147483647')"));
    book->close();
    book->open();
    tsl::FindCopy find(*book);
    const int amount = 6;
    const tsl::FindCopy::Found zhang = find.find("张三", amount);
    EXPECT_EQ(zhang.rows, (Rows{0, 3, 4}));
    EXPECT_EQ(zhang.total, 500 + 2147483647LL) << "64 bits";
    EXPECT_EQ(zhang.badAmounts, 1);
    const tsl::FindCopy::Found all = find.find("", amount);
    EXPECT_EQ(all.rows.size(), 5u);
    EXPECT_EQ(all.total, 500 + 240 + 30 + 2147483647LL);
    book->moveTo(3);
    book->edit();
    book->setField("总金额", "10");
    book->post();
    EXPECT_EQ(find.find("张三", amount).total, 510 + 2147483647LL);
    EXPECT_EQ(find.find("张三", amount).badAmounts, 0);
    EXPECT_EQ(find.find("张三", -1).total, 0) << "no amount field asked for";
}

TEST_P(FindCopyTest, FollowsAddsEditsDeletesAndOtherWrites) {
    tsl::FindCopy find(*book);
    EXPECT_EQ(find.rowsHolding("背心"), (Rows{1}));
    book->append();
    book->setField("客户姓名", "王五");
    book->setField("毛衫种类", "背心");
    book->post();
    EXPECT_EQ(find.rowsHolding("背心"), (Rows{1, 3}));
    book->moveTo(1);
    book->edit();
    book->setField("毛衫种类", "开衫");
    book->post();
    EXPECT_EQ(find.rowsHolding("背心"), (Rows{3}));
    book->moveTo(0);
    book->remove();
    EXPECT_EQ(find.rowsHolding("背心"), (Rows{2})) << "positions move up after a delete";
    EXPECT_EQ(find.rowsHolding("开衫"), (Rows{0}));
    // Written past the cursor, on this connection and by another.
    conn.exec("UPDATE \"2\" SET \"邮编\" = '999' WHERE \"客户姓名\" = '李四'");
    EXPECT_EQ(find.rowsHolding("999"), (Rows{1}));
    elsewhere("UPDATE \"2\" SET \"发货地点\" = '温州' WHERE \"客户姓名\" = 'Zhang'");
    EXPECT_EQ(find.rowsHolding("温州"), (Rows{0}));
    // Another program's write, then one of the cursor's own before the next search.
    elsewhere("UPDATE \"2\" SET \"发货地点\" = '嘉兴' WHERE \"客户姓名\" = 'Zhang'");
    book->moveTo(1);
    book->edit();
    book->setField("邮编", "888");
    book->post();
    EXPECT_EQ(find.rowsHolding("嘉兴"), (Rows{0}));
    EXPECT_EQ(find.rowsHolding("888"), (Rows{1}));
}

// Every way a search may go (the index, a scan, typing on from a kept answer,
// going back to one), before, while and after the index fills, gives the rows instr() finds in each row's folded text.
TEST_P(FindCopyTest, IndexAndTypingFindWhatAScanFinds) {
    ledger->sql(shipments("('(4)12/4/26', '客户12号', '羊毛衫', '5', '濮院镇112号', '314500', '-12'),"
                          "('(5)12/5/26', '客户1号', 'ＡＢＣ\"引号\"', '5', '100%纯羊毛', 'a_b', '7'),"
                          "('(6)12/6/26', 'O''Neil', '😀毛衫😀', '5', '濮院镇12号', '', '')"));
    std::string longText(400, 'k');
    ledger->sql(shipments("('(7)', '" + longText + "x', '', '', '', '', '')"));
    book->close();
    book->open();
    const std::string needles[] = {"客户12号", "户12", "客户1", "12号", "Abc\"引", "\"引号\"", "\"", "%纯", "_b", "a_b", "100%",
        "o'neil", "😀毛衫", "衫😀", "xl毛", "３１４５", "6/26\x1f客", "\xAF\x9B", "毛衫", "\xE6\xAF\x9B", "\xE6\xAF", "毛\xE8",
        longText + "x", longText + "xx", "k", "濮院镇1", "ab中", "三ｘ", "号", "6\x1f", "\"引", "😀", "("};
    // What a scan finds, read from the store itself past the cursor and its cache.
    sqlite3* ref = nullptr;
    ASSERT_EQ(sqlite3_open(":memory:", &ref), SQLITE_OK);
    sqlite3_stmt* instr = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(ref, "SELECT instr(?1, ?2) > 0", -1, &instr, nullptr), SQLITE_OK);
    struct Scanned {
        Rows rows;
        std::int64_t total = 0, bad = 0;
    };
    const int amount = 6;
    const auto scanned = [&](const std::string& needle) {
        std::string want = tsl::foldForFind(needle);
        std::erase(want, '\x1f');
        Scanned found;
        const auto stored = ledger->rows("SELECT \"日期\", \"客户姓名\", \"毛衫种类\", \"数量\", \"发货地点\", \"邮编\", "
                                         "\"总金额\" FROM \"2\" ORDER BY rowid");
        for (int r = 0; r < int(stored.size()); ++r) {
            std::string text;
            for (std::size_t i = 0; i < stored[std::size_t(r)].size(); ++i)
                text += (i ? "\x1f" : "") + stored[std::size_t(r)][i];
            text = tsl::foldForFind(text);
            sqlite3_bind_text(instr, 1, text.data(), int(text.size()), SQLITE_TRANSIENT);
            sqlite3_bind_text(instr, 2, want.data(), int(want.size()), SQLITE_TRANSIENT);
            EXPECT_EQ(sqlite3_step(instr), SQLITE_ROW);
            if (sqlite3_column_int(instr, 0)) {
                found.rows.push_back(r);
                const auto v = tsl::tryStrToInt(stored[std::size_t(r)][std::size_t(amount)]);
                if (v)
                    found.total += *v;
                else
                    ++found.bad;
            }
            sqlite3_reset(instr);
        }
        return found;
    };
    const auto scan = [&](const std::string& needle) { return scanned(needle).rows; };
    tsl::FindCopy find(*book);
    (void)find.find("", amount); // the copy holds the amounts from the start
    const auto typeAll = [&](const std::string& when) {
        for (const std::string& needle : needles) {
            find.forgetFound();
            const Scanned want = scanned(needle);
            const tsl::FindCopy::Found got = find.find(needle, amount);
            EXPECT_EQ(got.rows, want.rows) << when << ": " << needle;
            EXPECT_EQ(got.total, want.total) << when << ": " << needle;
            EXPECT_EQ(got.badAmounts, want.bad) << when << ": " << needle;
            for (std::size_t cut = needle.size(); cut > 0; --cut) // going back, byte by byte
                EXPECT_EQ(find.rowsHolding(needle.substr(0, cut)), scan(needle.substr(0, cut))) << when << ": " << cut;
            find.forgetFound();
            EXPECT_EQ(find.rowsHolding("").size(), scan("").size());
            for (std::size_t cut = 1; cut <= needle.size(); ++cut) // typing on from the whole book
                EXPECT_EQ(find.rowsHolding(needle.substr(0, cut)), scan(needle.substr(0, cut))) << when << ": " << cut;
        }
        for (const std::string& needle : needles) // one after another, the answers before at hand
            EXPECT_EQ(find.rowsHolding(needle), scan(needle)) << when << ": then " << needle;
    };
    // The first search makes the copy alone; the index fills a few rows at a
    // time, and the book changes in the rows already in it, in the rows not yet
    // in it and past them.
    const auto fill = [&](const std::string& when) {
        (void)find.rowsHolding(""); // the copy made again if it has to be, as the bar does
        while (find.indexSome(3)) {
        }
        EXPECT_TRUE(find.indexReady()) << when;
    };
    typeAll("before the index");
    EXPECT_FALSE(find.indexReady());
    find.indexSome(3);
    typeAll("while the index builds");
    book->moveTo(0);
    book->edit();
    book->setField("客户姓名", "户12");
    book->post();
    book->moveTo(4);
    book->edit();
    book->setField("客户姓名", "客户12号");
    book->post();
    book->moveTo(1);
    book->remove();
    book->moveTo(4);
    book->remove();
    book->append();
    book->setField("发货地点", "濮院镇12号");
    book->post();
    typeAll("changed while the index builds");
    EXPECT_FALSE(find.indexReady());
    fill("changed while it builds");
    typeAll("built, with the changes made meanwhile");
    book->moveTo(0);
    book->edit();
    book->setField("客户姓名", "客户12号");
    book->setField("总金额", "9");
    book->post();
    typeAll("after an edit");
    book->append();
    book->setField("发货地点", "纯羊毛12号");
    book->post();
    typeAll("after an append");
    book->moveTo(3);
    book->remove();
    typeAll("after a delete");
    elsewhere("UPDATE \"2\" SET \"邮编\" = '客户12号\"' WHERE \"客户姓名\" = 'Zhang'");
    typeAll("after another program's write, before its new index");
    fill("after another program's write");
    typeAll("after another program's write");
    // A server holds only valid UTF-8; a file may hold any bytes.
    if (GetParam() == Store::File) {
        ledger->sql(shipments("(CAST(X'6162E4B8AD80' AS TEXT), '毛' || CAST(X'E8' AS TEXT), '', '', '', '', '')"));
        book->close();
        book->open();
        fill("with a text not read as UTF-8");
        typeAll("with a text not read as UTF-8");
    }
    sqlite3_finalize(instr);
    sqlite3_close(ref);
}
