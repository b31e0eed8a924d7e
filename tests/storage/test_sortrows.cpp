#include "storage/connection.h"
#include "storage/cursor.h"
#include "storage/error.h"
#include "storage/schema.h"
#include "storage/sortrows.h"
#include "tests/support/storeledger.h"
#include "tests/support/tempdir.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

using Rows = std::vector<int>;
using tsl::SortKind;
using tsltest::Store;

TEST(SortRows, KindsByField) {
    EXPECT_EQ(tsl::sortKindOf(tsl::field::amount), SortKind::Number);
    EXPECT_EQ(tsl::sortKindOf(tsl::field::shipQuantity), SortKind::Number);
    EXPECT_EQ(tsl::sortKindOf(tsl::field::buyQuantity), SortKind::Number);
    EXPECT_EQ(tsl::sortKindOf(tsl::field::delQuantity), SortKind::Number);
    EXPECT_EQ(tsl::sortKindOf(tsl::field::stamp), SortKind::Serial);
    EXPECT_EQ(tsl::sortKindOf(tsl::field::custPostcode), SortKind::Text);
    EXPECT_EQ(tsl::sortKindOf(tsl::field::shipCustomer), SortKind::Text);
}

TEST(SortRows, StampSerial) {
    struct Case {
        const char* stamp;
        long long serial; // -1: none
    };
    const Case cases[] = {{"(2)12/1/26", 2},   {"(10)2026-12-1", 10}, {"(007)x", 7}, {"(3)", 3},
                          {"()12/1/26", -1},   {"12/1/26", -1},       {"(-2)x", -1}, {"(+2)x", -1},
                          {"( 2)x", -1},       {"(2x)y", -1},         {"(2", -1},    {"", -1},
                          {"(99999999999999999999)x", -1}};
    for (const Case& c : cases) {
        const auto got = tsl::stampSerial(c.stamp);
        EXPECT_EQ(got ? *got : -1, c.serial) << c.stamp;
    }
}

class SortRowsBase : public ::testing::Test {
protected:
    explicit SortRowsBase(Store store) : store_(store) {}

    Store store_;
    tsltest::TempDir dir;
    std::unique_ptr<tsltest::StoreLedger> ledger;
    tsl::Connection conn;
    std::unique_ptr<tsl::Cursor> book;

    // Rows of the shipment book: stamp, quantity, amount. A deleted row leaves a
    // gap in the rowids, so positions are not rowids.
    void SetUp() override {
        ledger = std::make_unique<tsltest::StoreLedger>(store_);
        const char* rows[][3] = {
            {"(10)12/1/26", "5", "500"},      // 0
            {"(2)12/2/26", "12", "-3"},       // 1
            {"12/3/26", "x", " 12"},          // 2: a leading blank still reads
            {"(1)12/4/26", "", "abc"},        // 3
            {"(3)12/5/26", "-7", "$10"},      // 4: hexadecimal, 16
            {"(2)12/6/26", "5", "2147483648"},// 5: past int32, no number
            {"(11)12/7/26", "0", "12"},       // 6
        };
        std::string sql = "INSERT INTO \"2\"(\"日期\", \"数量\", \"总金额\") VALUES ('gone', '1', '1');";
        for (const auto& r : rows)
            sql += std::string("INSERT INTO \"2\"(\"日期\", \"数量\", \"总金额\") VALUES ('") + r[0] + "', '" + r[1] +
                   "', '" + r[2] + "');";
        sql += "DELETE FROM \"2\" WHERE \"日期\" = 'gone';";
        ledger->sql(sql);
        ledger->connect(conn);
        book = std::make_unique<tsl::Cursor>(conn);
        book->setTableName("2");
        book->open();
    }
};

// On a ledger file and on a server ledger alike.
class SortRowsBook : public SortRowsBase, public ::testing::WithParamInterface<Store> {
protected:
    SortRowsBook() : SortRowsBase(GetParam()) {}
};

INSTANTIATE_TEST_SUITE_P(BothStores, SortRowsBook, ::testing::Values(Store::File, Store::Server),
                         [](const auto& info) { return tsltest::storeName(info.param); });

class SortRowsFile : public SortRowsBase {
protected:
    SortRowsFile() : SortRowsBase(Store::File) {}
};

TEST_P(SortRowsBook, NumbersAndStampsUpAndDownTheRestLast) {
    struct Case {
        const char* what;
        int pos;
        SortKind kind;
        bool down;
        Rows rows;
    };
    const int stamp = 0, quantity = 3, amount = 6;
    const Case cases[] = {
        // -3, 12 (row 2), 12 (row 6), 16, 500; then abc, 2147483648 in stored order
        {"amount up", amount, SortKind::Number, false, {1, 2, 6, 4, 0, 3, 5}},
        {"amount down", amount, SortKind::Number, true, {0, 4, 2, 6, 1, 3, 5}},
        {"quantity up", quantity, SortKind::Number, false, {4, 6, 0, 5, 1, 2, 3}},
        {"quantity down", quantity, SortKind::Number, true, {1, 0, 5, 6, 4, 2, 3}},
        // (1), (2) twice in stored order, (3), (10), (11); the date without serial last
        {"stamp up", stamp, SortKind::Serial, false, {3, 1, 5, 4, 0, 6, 2}},
        {"stamp down", stamp, SortKind::Serial, true, {6, 0, 4, 1, 5, 3, 2}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(tsl::sortedRows(*book, c.pos, c.kind, c.down), c.rows) << c.what;
    EXPECT_EQ(book->recordCount(), 7);
    EXPECT_EQ(book->rowText(0, stamp), "(10)12/1/26") << "the stored order stays";
}

TEST_P(SortRowsBook, RowsWrittenOrDeletedElsewhereSinceTheBookWasRead) {
    ledger->sql("INSERT INTO \"2\"(\"日期\", \"总金额\") VALUES ('(0)x', '-100');"
                "DELETE FROM \"2\" WHERE \"总金额\" = '500';");
    // The row the grid does not have yet is left out; the one it still has comes last.
    EXPECT_EQ(tsl::sortedRows(*book, 6, SortKind::Number, false), (Rows{1, 2, 6, 4, 3, 5, 0}));
}

TEST_P(SortRowsBook, AFieldTheBookLacksIsRefused) {
    EXPECT_THROW((void)tsl::sortedRows(*book, 7, SortKind::Number, false), tsl::Error);
    EXPECT_THROW((void)tsl::sortedRows(*book, -1, SortKind::Number, false), tsl::Error);
}

// A server's row ids are its own to give; a file's may be anything.
TEST_F(SortRowsFile, RowidsFarApart) {
    tsltest::sqlExec("tsl.mdb", "UPDATE \"2\" SET rowid = rowid * 1000 + 7");
    tsl::Cursor sparse(conn);
    sparse.setTableName("2");
    sparse.open();
    EXPECT_EQ(tsl::sortedRows(sparse, 6, SortKind::Number, false), (Rows{1, 2, 6, 4, 0, 3, 5}));
    EXPECT_EQ(tsl::sortedRows(sparse, 0, SortKind::Serial, true), (Rows{6, 0, 4, 1, 5, 3, 2}));
}
