// The engine-side scans (matches, open pass, totals, reopen without reloading)
// against what a plain walk of the cursor gives on the same rows.
#include "storage/connection.h"
#include "storage/cursor.h"
#include "storage/error.h"
#include "storage/intconv.h"
#include "storage/scan.h"
#include "storage/schema.h"
#include "tests/support/tempdir.h"

#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <string>
#include <vector>

using tsl::Connection;
using tsl::Cursor;
using tsltest::sqlColumn;
using tsltest::sqlExec;
using Texts = std::vector<std::string>;

namespace {

const std::string kFile = "tsl.mdb";

// The rows visited (where the cursor stood, every field it read there) and where it ended.
struct Outcome {
    std::vector<std::pair<int, Texts>> seen;
    int endRow = -1;
    bool endEof = false;
    bool stopped = false;
    bool operator==(const Outcome&) const = default;
};

// Records the current row; false once `stopAfter` rows are seen.
bool see(Outcome& o, const Cursor& c, int stopAfter) {
    Texts t;
    for (int p = 0; p < c.fieldCount(); ++p)
        t.push_back(c.fieldText(p));
    o.seen.emplace_back(c.currentRow(), t);
    return int(o.seen.size()) != stopAfter;
}

// What the loops over every row did before the engine picked the rows.
Outcome walked(Cursor& c, int pos, const std::string& text, int stopAfter = -1) {
    Outcome o;
    c.first();
    for (int i = 0, n = c.recordCount(); i < n && !o.stopped; ++i) {
        if (c.fieldText(pos) == text && !see(o, c, stopAfter))
            o.stopped = true;
        else
            c.next();
    }
    o.endRow = c.currentRow();
    o.endEof = c.eof();
    return o;
}

Outcome matched(Cursor& c, int pos, const std::string& text, int stopAfter = -1) {
    Outcome o;
    o.stopped = c.forEachMatch(pos, text, [&] { return see(o, c, stopAfter); });
    o.endRow = c.currentRow();
    o.endEof = c.eof();
    return o;
}

class ScanTest : public ::testing::Test {
protected:
    tsltest::TempDir dir;
    Connection conn;

    void SetUp() override {
        dir.seedIndex(kFile);
        conn.setConnectionString(tsl::connectionString(kFile));
        conn.connect();
    }

    std::unique_ptr<Cursor> open(std::string_view table) {
        auto c = std::make_unique<Cursor>(conn);
        c->setTableName(std::string(table));
        c->open();
        return c;
    }
};

// Names that differ only in case, blanks, full-width forms or type, NULLs, and a
// name that another field holds: whatever the column declares, the engine must
// pick exactly the rows the byte-for-byte walk picks, stopped early or not.
TEST_F(ScanTest, MatchesAreTheRowsOfTheWalkWhateverTheColumnDeclares) {
    const Texts values = {"张三", "张三 ", " 张三", "张三三", "ABC", "abc", "ＡＢＣ",
                          "abc ", "NULL", "",      "5",      "5.0", "o'k", "x'5'"};
    for (const char* decl : {"TEXT", "TEXT COLLATE NOCASE", "TEXT COLLATE RTRIM", "", "INTEGER"}) {
        SCOPED_TRACE(decl);
        sqlExec(kFile, std::string("DROP TABLE IF EXISTS m; CREATE TABLE m (a TEXT, name ") + decl + ", amount TEXT)");
        std::mt19937 rng(7);
        std::string sql = "BEGIN;";
        for (int i = 0; i < 300; ++i) {
            const std::string& v = values[rng() % values.size()];
            // bare 5 and 5.0 go in as numbers, "x'5'" as a blob
            const std::string lit = v == "NULL" || v == "5" || v == "5.0" ? v
                                    : v == "x'5'"                         ? "x'35'"
                                                                          : tsltest::sqlQuote(v);
            sql += "INSERT INTO m VALUES ('r" + std::to_string(i) + "', " + lit + ", '" + std::to_string(i) + "');";
        }
        sqlExec(kFile, sql + "DELETE FROM m WHERE rowid % 7 = 3; COMMIT;"); // gaps in the rowids
        auto c = open("m");
        for (const std::string& probe : values) {
            SCOPED_TRACE(probe);
            EXPECT_EQ(matched(*c, 1, probe), walked(*c, 1, probe));
            EXPECT_EQ(matched(*c, 1, probe, 2), walked(*c, 1, probe, 2));
        }
        // Not vacuous: the full-width name and "5" do match something.
        EXPECT_FALSE(walked(*c, 1, "ＡＢＣ").seen.empty());
        EXPECT_FALSE(walked(*c, 1, "5").seen.empty());
    }
}

TEST_F(ScanTest, EndStatesOnEmptyAndUnmatchedTablesAndAfterAStop) {
    auto c = open(tsl::table::customerNames);
    EXPECT_EQ(matched(*c, 0, "甲"), (Outcome{{}, -1, true, false}));
    EXPECT_FALSE(tsl::findExact(*c, 0, "甲"));

    sqlExec(kFile, "INSERT INTO temp1 VALUES ('甲'), ('乙'), ('甲'), ('丙')");
    c->close();
    c->open();
    EXPECT_EQ(matched(*c, 0, "丁"), (Outcome{{}, 3, true, false}));
    EXPECT_EQ(matched(*c, 0, "甲", 2), (Outcome{{{0, {"甲"}}, {2, {"甲"}}}, 2, false, true}));
    for (const auto& [name, row] : {std::pair{"甲", 0}, std::pair{"丙", 3}}) {
        EXPECT_TRUE(tsl::findExact(*c, 0, name));
        EXPECT_EQ(c->currentRow(), row);
        EXPECT_FALSE(c->eof());
    }
}

// A visit that throws (a bad amount) leaves the cursor on that row with the
// rows before it seen, and the next scan starts over cleanly.
TEST_F(ScanTest, AThrowingVisitStopsOnItsRow) {
    sqlExec(kFile, "INSERT INTO \"3\" VALUES ('(1)', '纱厂', 'a', '1', '10'), ('(2)', '纱厂', 'a', '1', 'x'), "
                   "('(3)', '毛厂', 'a', '1', 'y'), ('(4)', '纱厂', 'a', '1', '30')");
    auto c = open(tsl::table::purchases);
    std::int64_t total = 0;
    int visits = 0;
    const auto add = [&] {
        ++visits;
        total += tsl::strToInt(c->fieldText(4));
        return true;
    };
    EXPECT_THROW(c->forEachMatch(1, "纱厂", add), tsl::ConvertError);
    EXPECT_EQ(visits, 2);
    EXPECT_EQ(total, 10);
    EXPECT_EQ(c->currentRow(), 1);
    EXPECT_FALSE(c->eof());
    EXPECT_EQ(matched(*c, 1, "纱厂"), walked(*c, 1, "纱厂"));
}

// Rows changed behind a cursor's back: added ones stay unseen, deleted ones read
// as empty, and an edit with a pending change is posted first, as moving does.
TEST_F(ScanTest, StaleRowsGiveWhatTheWalkGives) {
    sqlExec(kFile, "INSERT INTO temp5 VALUES ('甲'), ('乙'), (''), ('甲')");
    auto c = open(tsl::table::garmentKinds);
    sqlExec(kFile, "INSERT INTO temp5 VALUES ('甲'); DELETE FROM temp5 WHERE rowid = 1; "
                   "UPDATE temp5 SET \"1\" = NULL WHERE rowid = 2");
    for (const std::string probe : {"甲", "", "乙"})
        EXPECT_EQ(matched(*c, 0, probe), walked(*c, 0, probe)) << probe;
    // One pass over a field gives every row's rowText in order, and stops when told.
    Texts scanned;
    c->scanField(0, [&](int row, std::string_view t) {
        EXPECT_EQ(row, int(scanned.size()));
        EXPECT_EQ(t, c->rowText(row, 0));
        scanned.emplace_back(t);
        return scanned.size() < 10;
    });
    EXPECT_EQ(scanned, (Texts{"", "", "", "甲"}));
    int seen = 0;
    c->scanField(0, [&](int, std::string_view) { return ++seen < 2; });
    EXPECT_EQ(seen, 2);

    c->moveTo(1);
    c->edit();
    c->setField("1", "甲");
    const Outcome o = matched(*c, 0, "甲");
    ASSERT_EQ(o.seen.size(), 2u); // the posted row and the last one
    EXPECT_EQ(o.seen[0].first, 1);
    EXPECT_EQ(o.seen[1].first, 3);
}

TEST_F(ScanTest, OpenPassHandsEveryRowsTextOnce) {
    sqlExec(kFile, "INSERT INTO temp1 VALUES ('a'), (NULL), (7), ('d d'); DELETE FROM temp1 WHERE rowid = 3");
    Cursor c(conn);
    c.setTableName("temp1");
    std::vector<std::pair<int, std::string>> got;
    const auto pass = [&](int row, std::string_view t) { got.emplace_back(row, std::string(t)); };
    c.setOpenPass(0, pass);
    c.open();
    EXPECT_EQ(got, (std::vector<std::pair<int, std::string>>{{0, "a"}, {1, ""}, {2, "d d"}}));

    // A rollback reloads the rows without the pass; a field the table lacks reads nothing.
    got.clear();
    {
        Connection::Transaction t(conn);
        c.moveTo(0);
        c.remove();
    }
    EXPECT_EQ(c.recordCount(), 3);
    EXPECT_TRUE(got.empty());
    c.close();
    c.setOpenPass(1, pass);
    c.open();
    EXPECT_TRUE(got.empty());
    EXPECT_EQ(c.recordCount(), 3);
}

TEST_F(ScanTest, ReopenReadsTheRowsAgainOnlyWhenTheFileChanged) {
    sqlExec(kFile, "INSERT INTO temp2 VALUES ('a'), ('b')");
    auto c = open(tsl::table::workerNames);
    auto other = open(tsl::table::workerNames);
    int opened = 0;
    c->afterOpen = [&] { ++opened; };
    auto check = [&](bool same, int rows) {
        c->moveTo(1);
        EXPECT_EQ(c->restart(), same);
        if (!same)
            tsl::reopen(*c, tsl::table::workerNames);
        EXPECT_EQ(c->recordCount(), rows);
        EXPECT_EQ(c->currentRow(), 0); // where opening leaves it, either way
        EXPECT_FALSE(c->pending());
    };
    auto add = [](Cursor& cur, const char* v) {
        cur.append();
        cur.setField("1", v);
        cur.post();
    };
    check(true, 2);
    c->edit();
    c->setField("1", "pending");
    EXPECT_TRUE(c->restart());
    EXPECT_FALSE(c->pending()); // dropped, as closing drops it
    EXPECT_EQ(sqlColumn(kFile, "SELECT \"1\" FROM temp2 ORDER BY rowid"), (Texts{"a", "b"}));

    sqlExec(kFile, "INSERT INTO temp2 VALUES ('c')"); // another connection
    check(false, 3);
    add(*other, "d"); // another cursor on this connection
    check(false, 4);
    add(*c, "e"); // its own write keeps its rows in step
    check(true, 5);
    sqlExec(kFile, "ALTER TABLE temp2 ADD COLUMN extra TEXT"); // the shape changed
    check(false, 5);
    EXPECT_EQ(c->fieldCount(), 2);
    EXPECT_EQ(opened, 6); // afterOpen runs on every reopen, read again or not

    c->setOpenPass(0, [](int, std::string_view) {});
    EXPECT_FALSE(c->restart()); // the pass needs the rows read
}

// Only the fields an edit sets are written: the others keep what the file holds,
// a NULL included, even when another cursor changed them meanwhile.
TEST_F(ScanTest, AnEditWritesOnlyTheFieldsItSets) {
    sqlExec(kFile, "INSERT INTO \"1\" VALUES ('甲', NULL, '1', '2', '3')");
    auto c = open(tsl::table::customers);
    auto other = open(tsl::table::customers);
    c->edit();
    c->setField(tsl::field::custPostcode, "9");
    EXPECT_EQ(c->fieldText(2), "9");
    other->edit();
    other->setField(tsl::field::custPhone, "other");
    other->post();
    EXPECT_EQ(c->fieldText(3), "other"); // read from the row, not a copy taken at edit
    c->post();
    const std::string fields = "SELECT quote(\"地址\") || '|' || \"邮编\" || '|' || \"电话\" FROM \"1\"";
    EXPECT_EQ(sqlColumn(kFile, fields), Texts{"NULL|9|other"});

    // An explicit post of an edit that set nothing writes the row back as it reads.
    c->edit();
    c->post();
    EXPECT_EQ(sqlColumn(kFile, fields), Texts{"''|9|other"});
}

TEST_F(ScanTest, TotalsAndCountsAgreeWithTheConversion) {
    sqlExec(kFile, "INSERT INTO \"4\" VALUES ('(1)', '甲', 'a', '1', '2147483647'), "
                   "('(2)', '甲', 'a', '1', ' 0x10'), ('(3)', '乙', 'a', '1', '-5'), ('(4)', '乙', 'a', '1', '$7FFFFFFF')");
    const tsl::TableTotal t = tsl::totalOfLastField(conn, tsl::table::deliveries);
    EXPECT_TRUE(t.converted);
    EXPECT_EQ(t.rows, 4);
    EXPECT_EQ(t.sum, 2 * 2147483647LL + 16 - 5); // as strToInt reads them, added in 64 bits
    EXPECT_EQ(tsl::rowCount(conn, tsl::table::deliveries), 4);

    sqlExec(kFile, "INSERT INTO \"4\" VALUES ('(5)', '丙', 'a', '1', NULL)"); // reads as "", no number
    EXPECT_FALSE(tsl::totalOfLastField(conn, tsl::table::deliveries).converted);
    EXPECT_THROW((void)tsl::totalOfLastField(conn, "nosuch"), tsl::Error);
    EXPECT_THROW((void)tsl::rowCount(conn, "nosuch"), tsl::Error);
}

} // namespace
