#include "export/collate.h"
#include "storage/connection.h"
#include "storage/cursor.h"
#include "storage/schema.h"
#include "tests/support/tempdir.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using tsl::out::collatedOrder;
using Rows = std::vector<int>;

namespace {

std::vector<std::string> inOrder(const std::vector<std::string>& texts, bool down) {
    std::vector<std::string> out;
    for (int i : collatedOrder(texts, down))
        out.push_back(texts[std::size_t(i)]);
    return out;
}

} // namespace

TEST(Collate, PinyinLatinAndNumbersInNames) {
    struct Case {
        std::vector<std::string> texts;
        std::vector<std::string> up;
    };
    const Case cases[] = {
        {{"张", "波", "阿"}, {"阿", "波", "张"}},
        {{"张三", "李四", "王五", "赵六", "陈七"}, {"陈七", "李四", "王五", "张三", "赵六"}},
        // Chinese names first (the zh_CN rule), then Latin, either case together
        {{"张三", "Zhang", "阿明", "abc", "Bob", "波波"}, {"阿明", "波波", "张三", "abc", "Bob", "Zhang"}},
        {{"客户10", "客户2", "客户1"}, {"客户1", "客户2", "客户10"}},
        {{"毛衣", "", "背心"}, {"", "背心", "毛衣"}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(inOrder(c.texts, false), c.up) << c.texts.front();
        const std::vector<std::string> down(c.up.rbegin(), c.up.rend());
        EXPECT_EQ(inOrder(c.texts, true), down) << c.texts.front();
    }
}

TEST(Collate, EqualTextsKeepTheirOrderBothWays) {
    const std::vector<std::string> texts = {"张三", "阿", "张三", "阿", "张三"};
    EXPECT_EQ(collatedOrder(texts, false), (Rows{1, 3, 0, 2, 4}));
    EXPECT_EQ(collatedOrder(texts, true), (Rows{0, 2, 4, 1, 3}));
}

TEST(Collate, RowsOfABook) {
    tsltest::TempDir dir;
    dir.seedIndex("tsl.mdb");
    tsltest::sqlExec("tsl.mdb", "INSERT INTO \"1\"(\"姓名\") VALUES ('张三'), ('阿明'), (NULL), ('波波'), ('阿明');");
    tsl::Connection conn;
    conn.setConnectionString(tsl::connectionString("tsl.mdb"));
    conn.connect();
    tsl::Cursor book(conn);
    book.setTableName("1");
    book.open();
    EXPECT_EQ(tsl::out::collatedRows(book, 0, false), (Rows{2, 1, 4, 3, 0}));
    EXPECT_EQ(tsl::out::collatedRows(book, 0, true), (Rows{0, 3, 1, 4, 2}));
}
