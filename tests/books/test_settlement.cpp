#include "storage/sqliteengine.h"
// The settlement through the books layer: the cursor the workspace holds and the
// read-only handle of an export pick the same rows and stop the same way.
#include "books/settlement.h"
#include "storage/connection.h"
#include "storage/cursor.h"
#include "storage/error.h"
#include "storage/schema.h"
#include "tests/support/tempdir.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <string>
#include <vector>

using tsltest::sqlExec;
using Rows = std::vector<std::vector<std::string>>;

namespace {

const std::string kFile = "s.mdb";

// The shipment book again, its name column comparing letters without case.
const char* kNocaseShipments =
    "DROP TABLE \"2\"; CREATE TABLE \"2\" (\"日期\" TEXT, \"客户姓名\" TEXT COLLATE NOCASE, \"毛衫种类\" TEXT,"
    " \"数量\" TEXT, \"发货地点\" TEXT, \"邮编\" TEXT, \"总金额\" TEXT);";

std::string ship(const std::string& name, const std::string& amount) {
    return "INSERT INTO \"2\" VALUES ('(1)2026-5-1', " + (name == "NULL" ? name : tsltest::sqlQuote(name)) +
           ", '开衫', '1', '桐乡', '314500', " + tsltest::sqlQuote(amount) + ");";
}

class Settle : public ::testing::Test {
protected:
    void SetUp() override {
        dir.seedIndex(kFile);
        sqlExec(kFile, kNocaseShipments);
        sqlExec(kFile, ship("abc", "1") + ship("ABC", "2") + ship("ＡＢＣ", "4") + ship("abc ", "8") + ship("NULL", "16") +
                           ship("", "32") + ship("abc", "2147483647") + ship("abc", "2147483647") + ship("Abc", "x"));
        conn.setConnectionString(tsl::connectionString(kFile));
        conn.connect();
        book.setTableName("2");
        book.open();
    }

    // Through the workspace's cursor and through a read-only handle, as the exports open a ledger.
    struct Both {
        tsl::books::Settlement cursor, file;
    };
    Both both(const std::string& name) {
        Both b;
        b.cursor = tsl::books::settle(book, name);
        sqlite3* db = nullptr;
        EXPECT_EQ(sqlite3_open_v2(kFile.c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
        try {
            b.file = tsl::books::settle(*tsl::SqliteEngine::borrow(db), "2", name);
        } catch (...) {
            sqlite3_close(db);
            throw;
        }
        sqlite3_close(db);
        return b;
    }

    tsltest::TempDir dir;
    tsl::Connection conn;
    tsl::Cursor book{conn};
};

std::vector<std::string> amounts(const tsl::books::Settlement& s) {
    std::vector<std::string> v;
    for (const auto& r : s.rows)
        v.push_back(r.at(6));
    return v;
}

} // namespace

TEST_F(Settle, ExactBytesOnANocaseColumnTotalInSixtyFourBits) {
    struct Case {
        const char* name;
        std::vector<std::string> amounts;
        std::int64_t total;
    };
    const Case cases[] = {
        {"ABC", {"2"}, 2},          // the NOCASE column would also give abc, Abc
        {"ＡＢＣ", {"4"}, 4},       // full-width letters are other bytes
        {"abc ", {"8"}, 8},         // a trailing blank counts
        {"nobody", {}, 0},
        {"", {"16", "32"}, 48},     // NULL reads as the empty name
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Both b = both(c.name);
        EXPECT_EQ(amounts(b.cursor), c.amounts);
        EXPECT_EQ(b.file.rows, b.cursor.rows);
        EXPECT_EQ(b.cursor.total, c.total);
        EXPECT_EQ(b.file.total, c.total);
        EXPECT_EQ(b.cursor.fields, b.file.fields);
        EXPECT_EQ(b.cursor.name, c.name);
    }
    // Two of the largest amounts and one more: past the 32-bit range, not wrapped.
    const auto big = tsl::books::settle(book, "abc");
    EXPECT_EQ(big.total, 1 + 2 * 2147483647LL);
    EXPECT_EQ(big.rows.size(), 3u);
    EXPECT_EQ(book.currentRow(), book.recordCount() - 1) << "run to its end: on the last row";
}

TEST_F(Settle, ABadAmountStopsOnItsRowAfterListingTheRowsBefore) {
    sqlExec(kFile, ship("Abc", "5"));
    book.close();
    book.open();
    std::vector<std::string> listed;
    const std::string message = [&] {
        try {
            (void)tsl::books::settle(book, "Abc", [&](const std::vector<std::string>& r) { listed.push_back(r[6]); });
        } catch (const tsl::ConvertError& e) {
            return std::string(e.what());
        }
        return std::string("no error");
    }();
    EXPECT_EQ(message, "'x' is not a valid integer value");
    EXPECT_TRUE(listed.empty()) << "the bad row is the first of Abc";
    EXPECT_EQ(book.currentRow(), 8) << "the cursor stands on the failing row";

    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open_v2(kFile.c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
    EXPECT_THROW((void)tsl::books::settle(*tsl::SqliteEngine::borrow(db), "2", "Abc"), tsl::ConvertError);
    sqlite3_close(db);
}

TEST_F(Settle, OnlyTheThreeMoneyBooksAreSettled) {
    for (const char* t : {"2", "3", "4"})
        EXPECT_TRUE(tsl::books::isSettled(t)) << t;
    for (const char* t : {"1", "5", "temp1", ""})
        EXPECT_FALSE(tsl::books::isSettled(t)) << t;
    tsl::Cursor customers{conn};
    customers.setTableName("1");
    customers.open();
    EXPECT_THROW((void)tsl::books::settle(customers, "abc"), tsl::Error);
}
