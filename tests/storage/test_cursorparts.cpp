// The units the cursor is built from: the UPDATE statements kept per set of
// fields, the pass that lines a column up with the rowids, the engine behind
// them, the rowid list and its growing after opening.
#include "storage/connection.h"
#include "storage/cursor.h"
#include "storage/engine.h"
#include "storage/error.h"
#include "storage/rowidlist.h"
#include "storage/rowscan.h"
#include "storage/schema.h"
#include "storage/updatecache.h"
#include "tests/support/tempdir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

using tsl::Connection;
using tsl::Cursor;
using tsltest::sqlColumn;
using tsltest::sqlExec;
using Texts = std::vector<std::string>;

namespace {

const std::string kFile = "tsl.mdb";

class PartsTest : public ::testing::Test {
protected:
    tsltest::TempDir dir;
    Connection conn;

    void SetUp() override {
        dir.seedIndex(kFile);
        sqlExec(kFile, "CREATE TABLE t (a TEXT, b TEXT, c TEXT)");
        conn.setConnectionString(tsl::connectionString(kFile));
        conn.connect();
    }
    static Texts row(int rowid) {
        Texts r;
        for (const char* f : {"a", "b", "c"})
            r.push_back(sqlColumn(kFile, std::string("SELECT ") + f + " FROM t WHERE rowid = " +
                                             std::to_string(rowid))
                            .at(0));
        return r;
    }
};

// Each set of fields has its own statement, written fields bound in stored order:
// a statement of another set would write the wrong columns or miss the rowid.
TEST_F(PartsTest, EachFieldSetWritesExactlyItsFields) {
    sqlExec(kFile, "INSERT INTO t VALUES ('a1', 'b1', 'c1'), ('a2', 'b2', 'c2')");
    tsl::UpdateCache cache;
    cache.reset(conn.engine(), "\"t\"", {"\"a\"", "\"b\"", "\"c\""});
    using tsl::fieldBit;
    struct Case {
        tsl::FieldSet set;
        Texts values; // for the set's fields, in stored order
        int rowid;
        Texts after;
    };
    const Case cases[] = {
        {fieldBit(0), {"x"}, 1, {"x", "b1", "c1"}},
        {fieldBit(2), {"y"}, 1, {"x", "b1", "y"}},
        {fieldBit(0) | fieldBit(2), {"p", "q"}, 2, {"p", "b2", "q"}},
        {fieldBit(1), {"z"}, 2, {"p", "z", "q"}},
        {fieldBit(0) | fieldBit(1) | fieldBit(2), {"1", "2", "3"}, 1, {"1", "2", "3"}},
        {fieldBit(2), {"again"}, 2, {"p", "z", "again"}}, // a kept statement, reused
    };
    for (const Case& k : cases) {
        tsl::Query& q = cache.forFields(k.set);
        int i = 0;
        for (const auto& v : k.values)
            q.bindText(++i, v);
        q.bindInt(i + 1, k.rowid);
        EXPECT_FALSE(q.step());
        q.reset();
        EXPECT_EQ(row(k.rowid), k.after) << "set " << k.set;
    }
    EXPECT_EQ(cache.size(), 5u);
    EXPECT_EQ(&cache.forFields(fieldBit(2)), &cache.forFields(fieldBit(2)));
    EXPECT_NE(&cache.forFields(fieldBit(0)), &cache.forFields(fieldBit(1)));
}

// Rows from a list, as an engine would give them: (rowid, text) in rowid order.
class ListQuery final : public tsl::Query {
public:
    explicit ListQuery(std::vector<std::pair<std::int64_t, std::string>> rows) : rows_(std::move(rows)) {}
    bool step() override { return ++at_ <= rows_.size(); }
    bool nextIdText(std::int64_t& id, std::string_view& text) override {
        if (!step())
            return false;
        id = rows_[at_ - 1].first;
        text = rows_[at_ - 1].second;
        return true;
    }
    void reset() noexcept override { at_ = 0; }
    void bindText(int, std::string_view) override {}
    void bindInt(int, std::int64_t) override {}
    void bindNull(int) override {}
    int columnCount() const override { return 2; }
    std::string columnName(int) const override { return {}; }
    bool isNull(int) const override { return false; }
    std::int64_t integer(int) const override { return rows_[at_ - 1].first; }
    std::string_view text(int) const override { return rows_[at_ - 1].second; }

private:
    std::vector<std::pair<std::int64_t, std::string>> rows_;
    std::size_t at_ = 0;
};

// Every listed rowid gets exactly one call, in order: its row's text, or "" for a
// row the engine no longer has; rows the list lacks are passed over.
TEST(AlignRows, EveryListedRowOnceGoneOnesEmpty) {
    struct Case {
        const char* what;
        std::vector<std::int64_t> ids;
        std::vector<std::pair<std::int64_t, std::string>> rows;
        int stopAfter; // -1: never
        Texts seen;    // "row=text"
        bool ran;
    };
    const Case cases[] = {
        {"same rows", {1, 2, 5}, {{1, "a"}, {2, "b"}, {5, "e"}}, -1, {"0=a", "1=b", "2=e"}, true},
        {"first and middle gone", {1, 2, 5, 7}, {{5, "e"}, {7, "g"}}, -1, {"0=", "1=", "2=e", "3=g"}, true},
        {"last ones gone", {1, 2, 3}, {{1, "a"}}, -1, {"0=a", "1=", "2="}, true},
        {"extra rows skipped", {2, 4}, {{1, "x"}, {2, "b"}, {3, "x"}, {4, "d"}, {9, "x"}}, -1, {"0=b", "1=d"}, true},
        {"empty engine", {3, 4}, {}, -1, {"0=", "1="}, true},
        {"empty list", {}, {{1, "a"}}, -1, {}, true},
        {"stopped on a row", {1, 2, 3}, {{1, "a"}, {2, "b"}, {3, "c"}}, 2, {"0=a", "1=b"}, false},
        {"stopped on a gone row", {1, 2, 3}, {{3, "c"}}, 1, {"0="}, false},
    };
    for (const Case& k : cases) {
        ListQuery q(k.rows);
        Texts seen;
        const bool ran = tsl::alignRows(q, std::span<const std::int64_t>(k.ids), [&](std::size_t i, std::string_view t) {
            seen.push_back(std::to_string(i) + "=" + std::string(t));
            return int(seen.size()) != k.stopAfter;
        });
        EXPECT_EQ(seen, k.seen) << k.what;
        EXPECT_EQ(ran, k.ran) << k.what;
    }
}

TEST(CollectRowids, AppendsEveryRowidWithItsPlace) {
    ListQuery q({{3, "c"}, {8, "h"}, {9, ""}});
    std::vector<std::int64_t> ids{1};
    Texts seen;
    tsl::collectRowids(q, true, ids, [&](std::size_t i, std::string_view t) {
        seen.push_back(std::to_string(i) + "=" + std::string(t));
    });
    EXPECT_EQ(ids, (std::vector<std::int64_t>{1, 3, 8, 9}));
    EXPECT_EQ(seen, (Texts{"1=c", "2=h", "3="}));
}

// The rowid list answers as a plain sorted list would through appends and
// deletes at a run's start, middle, end and of a run of one; scattered rowids
// turn it plain (and it answers the same), dense ones keep it in runs.
TEST(RowidList, AnswersAsASortedListThroughEveryChange) {
    struct Case {
        const char* what;
        std::vector<std::int64_t> appended;
        std::vector<std::size_t> erased; // positions, in turn
        bool plain;
    };
    std::vector<std::int64_t> scattered;
    for (std::int64_t i = 1; i <= 400; ++i)
        scattered.push_back(i * 3);
    std::vector<std::int64_t> dense;
    for (std::int64_t i = 10; i < 1010; ++i)
        dense.push_back(i == 500 ? 0 : i);
    std::erase(dense, 0);
    const Case cases[] = {
        {"one run, first, middle and last erased", {5, 6, 7, 8, 9, 10, 11}, {0, 3, 4, 2}, false},
        {"runs of one erased", {1, 4, 9, 10, 11, 20}, {1, 0, 3, 2}, false},
        {"middle erased until it splits twice", {1, 2, 3, 4, 5, 6, 7, 8, 9}, {4, 1, 5, 0}, false},
        {"every row erased", {2, 3, 7}, {2, 0, 0}, false},
        {"dense with a gap", dense, {0, 489, 489, 700, 994}, false},
        {"scattered", scattered, {0, 200, 398, 17}, true},
    };
    for (const Case& k : cases) {
        tsl::RowidList list;
        std::vector<std::int64_t> want;
        const auto same = [&](const char* when) {
            ASSERT_EQ(list.size(), want.size()) << k.what << when;
            const auto slice = list.all();
            for (std::size_t i = 0; i < want.size(); ++i) {
                ASSERT_EQ(list[i], want[i]) << k.what << when << " at " << i;
                ASSERT_EQ(slice[i], want[i]) << k.what << when << " read in order at " << i;
            }
            for (std::int64_t id = -1; id <= (want.empty() ? 3 : want.back() + 2); ++id) {
                const auto lb = std::size_t(std::lower_bound(want.begin(), want.end(), id) - want.begin());
                ASSERT_EQ(list.lowerBound(id), lb) << k.what << when << " id " << id;
                const std::ptrdiff_t at = lb < want.size() && want[lb] == id ? std::ptrdiff_t(lb) : -1;
                ASSERT_EQ(list.find(id), at) << k.what << when << " id " << id;
                ASSERT_EQ(list.find(id, std::size_t(at) + 1), -1) << k.what << when << " id " << id;
            }
            // The spans, laid end to end, are the list: each a run, none running on into the next.
            std::vector<std::int64_t> spanned;
            for (const auto& sp : list.spans()) {
                ASSERT_EQ(sp.start, spanned.size()) << k.what << when;
                ASSERT_TRUE(spanned.empty() || spanned.back() + 1 < sp.from) << k.what << when;
                for (std::int64_t id = sp.from; id <= sp.to; ++id)
                    spanned.push_back(id);
            }
            ASSERT_EQ(spanned, want) << k.what << when;
        };
        for (std::int64_t id : k.appended) {
            list.push_back(id);
            want.push_back(id);
        }
        same(" appended");
        for (std::size_t at : k.erased) {
            list.erase(at);
            want.erase(want.begin() + std::ptrdiff_t(at));
            same(" erased");
        }
        // Past a gap: the last rowid may be one erased, which must not run on.
        const std::int64_t more = want.empty() ? 5000 : want.back() + 2;
        list.push_back(more);
        want.push_back(more);
        same(" appended after erasing");
        EXPECT_EQ(list.plain(), k.plain) << k.what;
        if (!k.plain) { // runs, not rowids: a few runs cost a few dozen bytes
            EXPECT_LT(list.heapBytes(), 64 * sizeof(std::int64_t)) << k.what;
        }
        // Slices start anywhere and read on in order.
        if (want.size() > 3) {
            const auto part = list.slice(2, want.size() - 3);
            for (std::size_t i = 0; i < part.size(); ++i)
                ASSERT_EQ(part[i], want[i + 2]) << k.what;
        }
    }
}

// Rows appended after opening (past a block boundary, after rows gone from the
// middle) land last, at the places and with the texts the file gives them.
TEST_F(PartsTest, AppendsAfterOpeningKeepEveryPlace) {
    std::string values;
    for (int i = 1; i <= 300; ++i)
        values += (i > 1 ? ", " : "") + std::string("('a") + std::to_string(i) + "', 'b', 'c')";
    sqlExec(kFile, "INSERT INTO t VALUES " + values);
    sqlExec(kFile, "DELETE FROM t WHERE rowid IN (2, 150, 299)");
    Cursor c(conn);
    c.setTableName("t");
    c.open();
    ASSERT_EQ(c.recordCount(), 297);
    EXPECT_EQ(c.rowText(295, 0), "a298"); // the last block read before the appends
    EXPECT_EQ(c.rowText(296, 0), "a300");
    {
        Connection::Transaction t(conn);
        for (int k = 1; k <= 2000; ++k) { // more than any room left at opening
            c.append();
            c.setField("a", "n" + std::to_string(k));
            c.post();
            ASSERT_EQ(c.currentRow(), 296 + k);
        }
        t.commit();
    }
    ASSERT_EQ(c.recordCount(), 2297);
    const auto ids = sqlColumn(kFile, "SELECT rowid FROM t ORDER BY rowid");
    ASSERT_EQ(ids.size(), 2297u);
    for (int r = 0; r < 2297; r += 37)
        EXPECT_EQ(std::to_string(c.rowidAt(r)), ids[std::size_t(r)]) << r;
    EXPECT_EQ(c.rowText(1, 0), "a3");
    EXPECT_EQ(c.rowText(296, 0), "a300");
    EXPECT_EQ(c.rowText(297, 0), "n1");
    EXPECT_EQ(c.rowText(2296, 0), "n2000");
    EXPECT_EQ(c.rowText(2296, 1), "");
    c.moveTo(1000);
    EXPECT_EQ(c.fieldText(0), "n704");
}

// The templated open pass sees what the open pass set by setOpenPass sees; one
// that throws leaves the cursor closed, and it opens again afterwards.
TEST_F(PartsTest, OpenWithHandsEveryRowOnceAndFailsClosed) {
    sqlExec(kFile, "INSERT INTO t VALUES ('1', 'x', NULL), ('2', 'y', '30'), ('3', 'z', '')");
    sqlExec(kFile, "DELETE FROM t WHERE rowid = 2");
    Cursor c(conn);
    c.setTableName("t");
    Texts byPass, byTemplate;
    c.setOpenPass(2, [&](int row, std::string_view t) { byPass.push_back(std::to_string(row) + "=" + std::string(t)); });
    c.open();
    c.close();
    c.setOpenPass(-1, nullptr);
    c.openWith(2, [&](int row, std::string_view t) { byTemplate.push_back(std::to_string(row) + "=" + std::string(t)); });
    EXPECT_EQ(byTemplate, (Texts{"0=", "1="}));
    EXPECT_EQ(byTemplate, byPass);
    EXPECT_EQ(c.recordCount(), 2);
    c.close();

    EXPECT_THROW(c.openWith(0, [](int, std::string_view) { throw tsl::Error("停"); }), tsl::Error);
    EXPECT_FALSE(c.isOpen());
    c.openWith(-1, [](int, std::string_view) { FAIL() << "no field asked for"; });
    EXPECT_EQ(c.recordCount(), 2);
    EXPECT_EQ(c.fieldText(0), "1");
}

TEST_F(PartsTest, EngineCountsChangesAndSeesOthersWrites) {
    tsl::Engine& e = conn.engine();
    const auto before = e.fileVersion();
    e.exec("INSERT INTO t VALUES ('1', '2', '3'), ('4', '5', '6')");
    EXPECT_EQ(e.changes(), 2);
    EXPECT_EQ(e.lastRowid(), 2);
    EXPECT_EQ(e.fileVersion(), before); // its own writes do not move it
    sqlExec(kFile, "INSERT INTO t VALUES ('7', '8', '9')");
    EXPECT_NE(e.fileVersion().first, before.first);
    EXPECT_THROW((void)e.prepare("SELECT nosuch FROM t"), tsl::Error);
    conn.disconnect();
    EXPECT_THROW((void)conn.engine(), tsl::Error);
}

} // namespace
