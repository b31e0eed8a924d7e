// Whole ledgers up to the server and back down: contents and order kept,
// names taken refused, and a failure anywhere leaves nothing behind.
#include "storage/error.h"
#include "storage/fileops.h"
#include "storage/ledgermove.h"
#include "storage/pgsession.h"
#include "storage/schema.h"
#include "tests/support/pgserver.h"
#include "tests/support/tempdir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

using tsl::pg::Session;
using Names = std::vector<std::string>;
using tsltest::sqlColumn;
using tsltest::sqlExec;
using tsltest::sqlQuote;

namespace {

using tsltest::freshDatabase;

Names contents(const std::string& file) { return tsltest::ledgerRows(file); }

// A ledger whose stored order is not the order its rows were written in, with
// NULLs, empty texts, quotes and a book long enough for several batches.
void fillLedger(const std::string& file) {
    sqlExec(file, "INSERT INTO \"2\"(rowid, \"日期\", \"客户姓名\", \"总金额\") VALUES"
                  "(10, '(3)2026-12-9', '张三', '30'), (3, '(1)2026-12-9', '''; DROP TABLE \"2\"; --', '10'),"
                  "(7, '(2)2026-12-9', '', NULL)");
    sqlExec(file, "INSERT INTO \"1\" VALUES('王五', '杭州 \"西湖\"', '310000', NULL, '13900000000')");
    sqlExec(file, "INSERT INTO temp1 VALUES('张三'), ('$1'), ('\\')");
    sqlExec(file, "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 2500) "
                  "INSERT INTO \"4\" SELECT '(' || i || ')2026-12-9', '工' || (i % 7), '套口', i, i * 3 FROM n");
}

std::string failureOf(auto body) {
    try {
        body();
    } catch (const tsl::Error& e) {
        return e.what();
    }
    return "done";
}

Names folder() {
    Names n = tsl::folderEntries(".");
    std::sort(n.begin(), n.end());
    return n;
}

} // namespace

TEST(LedgerMove, RoundTripKeepsEveryRowInOrderUnderAnyName) {
    tsltest::TempDir dir;
    dir.seedIndex("tsl.mdb");
    dir.seedIndex("src.mdb");
    fillLedger("src.mdb");
    const Names want = contents("src.mdb");
    ASSERT_EQ(want.size(), 3u + 1u + 3u + 2500u);
    Session s(freshDatabase("roundtrip"));
    tsl::pg::ensureLayout(s);

    const Names names{"2026", "'; DROP SCHEMA tessolan CASCADE; --", "a\"b", "../../etc/passwd", "帐本 一"};
    for (std::size_t i = 0; i < names.size(); ++i) {
        SCOPED_TRACE(names[i]);
        tsl::upload("src.mdb", s, names[i]);
        const std::string local = "down" + std::to_string(i);
        tsl::download(s, names[i], ".", local, "tsl.mdb");
        EXPECT_EQ(contents(local + ".mdb"), want);
    }
    EXPECT_EQ(tsl::pg::listLedgers(s), names);

    // An edit on the server moves its row within the table's storage; the
    // download still gives the stored order.
    const std::string book = tsl::pg::quoteIdent(*tsl::pg::schemaOf(s, "2026")) + ".\"2\"";
    s.exec("UPDATE " + book + " SET \"总金额\" = '11' WHERE \"日期\" = '(1)2026-12-9'");
    tsl::download(s, "2026", ".", "edited", "tsl.mdb");
    const Names edited =
        sqlColumn("edited.mdb", "SELECT \"日期\" || '=' || ifnull(\"总金额\", '-') FROM \"2\" ORDER BY rowid");
    EXPECT_EQ(edited, (Names{"(1)2026-12-9=11", "(2)2026-12-9=-", "(3)2026-12-9=30"}));
}

// Each refusal in its own words, with the server and the folder as they were.
TEST(LedgerMove, RefusalsAndFailuresLeaveNothingBehind) {
    tsltest::TempDir dir;
    dir.seedIndex("tsl.mdb");
    dir.seedIndex("src.mdb");
    fillLedger("src.mdb");
    dir.seedIndex("broken.mdb");
    fillLedger("broken.mdb");
    // Bytes that are no text stop the copy halfway through a long book.
    sqlExec("broken.mdb", "UPDATE \"4\" SET \"交货人\" = CAST(X'FF' AS TEXT) WHERE rowid = 1500");
    dir.seedIndex("nul.mdb");
    sqlExec("nul.mdb", "INSERT INTO temp2 VALUES(CAST(X'610062' AS TEXT))");
    dir.seedIndex("gap.mdb");
    sqlExec("gap.mdb", "DROP TABLE temp6"); // the copy fails after the other books went up
    Session s(freshDatabase("refusals"));
    tsl::pg::ensureLayout(s);
    tsl::upload("src.mdb", s, "2026");
    tsl::upload("src.mdb", s, "crafted");
    s.exec("UPDATE tessolan.ledgers SET schema_name = 'public' WHERE name = 'crafted'");
    tsl::upload("src.mdb", s, "gutted");
    s.exec("DROP TABLE " + tsl::pg::quoteIdent(*tsl::pg::schemaOf(s, "gutted")) + ".temp6");
    tsltest::writeFile("taken.mdb", "mine");
    const Names ledgersBefore = tsl::pg::listLedgers(s);
    const Names filesBefore = folder();
    const std::string schemasSql = "SELECT count(*) FROM pg_namespace WHERE nspname LIKE 'ledger\\_%'";
    const std::string schemasBefore = s.exec(schemasSql).text(0, 0);

    struct Case {
        const char* what;
        std::function<void()> run;
        std::string text;
    };
    const std::vector<Case> cases{
        {"name on the server", [&] { tsl::upload("src.mdb", s, "2026"); }, "服务器上已有名为\"2026\"的帐本,请改名!"},
        {"no such local file", [&] { tsl::upload("none.mdb", s, "x"); }, ""},
        {"a book missing locally", [&] { tsl::upload("gap.mdb", s, "gap"); }, ""},
        {"no text halfway", [&] { tsl::upload("broken.mdb", s, "broken"); }, ""},
        {"a zero byte", [&] { tsl::upload("nul.mdb", s, "nul"); },
         "帐本的表\"temp2\"中有服务器不能保存的字符,什么也没有改变!"},
        {"file in the way", [&] { tsl::download(s, "2026", ".", "taken", "tsl.mdb"); }, ""},
        {"no such server ledger", [&] { tsl::download(s, "2027", ".", "n1", "tsl.mdb"); }, "帐本不存在!"},
        {"crafted index row", [&] { tsl::download(s, "crafted", ".", "n2", "tsl.mdb"); }, "服务器上的帐本目录已损坏!"},
        {"a book missing on the server", [&] { tsl::download(s, "gutted", ".", "n3", "tsl.mdb"); }, ""},
        {"a name with a path", [&] { tsl::download(s, "2026", ".", "../up", "tsl.mdb"); },
         "这个名称不能用作帐本的文件名,请改名!"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string text = failureOf(c.run);
        EXPECT_NE(text, "done");
        if (!c.text.empty()) {
            EXPECT_EQ(text, c.text);
        }
        EXPECT_EQ(tsl::pg::listLedgers(s), ledgersBefore);
        EXPECT_EQ(s.exec(schemasSql).text(0, 0), schemasBefore);
        EXPECT_EQ(folder(), filesBefore);
    }
    EXPECT_EQ(tsltest::readFile("taken.mdb"), "mine");
    // The same session goes on after a failure halfway.
    tsl::upload("src.mdb", s, "after");
    tsl::download(s, "after", ".", "after", "tsl.mdb");
    EXPECT_EQ(contents("after.mdb"), contents("src.mdb"));
}
