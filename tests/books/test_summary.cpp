// A book's summary through the books layer: the opening's pass, the walk that
// names a bad row, the report's engine pass, and the running summary that each
// post moves by its own row.
#include "books/renumber.h"
#include "books/summary.h"
#include "storage/connection.h"
#include "storage/cursor.h"
#include "storage/error.h"
#include "storage/scan.h"
#include "storage/schema.h"
#include "storage/undodelete.h"
#include "tests/support/tempdir.h"

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

using tsl::books::Summary;
using tsltest::sqlExec;

namespace {

const std::string kFile = "m.mdb";

std::string buy(const std::string& amount, int n = 1) {
    std::string sql;
    for (int i = 0; i < n; ++i)
        sql += "INSERT INTO \"3\" VALUES ('(" + std::to_string(i + 1) + ")2026-5-1', '纱厂', '纱', '1', " +
               (amount == "NULL" ? amount : tsltest::sqlQuote(amount)) + ");";
    return sql;
}

class Books : public ::testing::Test {
protected:
    void SetUp() override {
        dir.seedIndex(kFile);
        conn.setConnectionString(tsl::connectionString(kFile));
        conn.connect();
    }
    // Opens a book the way the workspace does: summed in the opening pass.
    Summary openSummed(const char* table) {
        tsl::books::OpenSum pass(book, table);
        tsl::reopen(book, table);
        return tsl::books::summaryAfterOpen(book, &pass);
    }
    std::string failure(const std::function<void()>& f) {
        try {
            f();
        } catch (const std::exception& e) {
            return e.what();
        }
        return "no error";
    }

    tsltest::TempDir dir;
    tsl::Connection conn;
    tsl::Cursor book{conn};
    tsl::Cursor scratch{conn};
};

} // namespace

TEST_F(Books, EveryWayAgreesWhileTheAmountsConvert) {
    struct Case {
        const char* name;
        std::string sql;
        Summary want;
    };
    const Case cases[] = {
        {"empty", "", {0, 0}},
        {"plain", buy("10") + buy("-3") + buy(" 5") + buy("$10"), {4, 28}},
        {"past 32 bits", buy("2147483647", 3), {3, 3 * 2147483647LL}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sqlExec(kFile, "DELETE FROM \"3\";" + c.sql);
        book.close();
        EXPECT_EQ(openSummed("3"), c.want);
        EXPECT_EQ(tsl::books::summaryAfterOpen(book, nullptr), c.want) << "the walk";
        EXPECT_EQ(book.currentRow(), c.want.rows ? 0 : -1);
        EXPECT_EQ(tsl::books::summaryAfterPost(book), c.want);
        EXPECT_EQ(tsl::books::summaryOf(conn, scratch, "3"), c.want);
        EXPECT_EQ(tsl::books::rowCountOf(conn, scratch, "3"), c.want.rows);
    }
    // The customer book counts and has no amounts.
    sqlExec(kFile, "INSERT INTO \"1\" VALUES ('a','','','',''), ('b','','','','')");
    EXPECT_EQ(openSummed("1"), (Summary{2, 0}));
    EXPECT_EQ(tsl::books::summaryAfterPost(book), (Summary{2, 0}));
}

TEST_F(Books, ABadAmountIsNamedOnOpeningAndInTheReportAndLeavesARefreshAlone) {
    sqlExec(kFile, buy("10") + buy("12.5") + buy("7") + buy("NULL"));
    bool walked = false;
    tsl::books::OpenSum pass(book, "3");
    tsl::reopen(book, "3");
    EXPECT_EQ(pass.summary(), std::nullopt);
    EXPECT_EQ(failure([&] { (void)tsl::books::summaryAfterOpen(book, &pass, [&] { walked = true; }); }),
              "'12.5' is not a valid integer value");
    EXPECT_TRUE(walked);
    EXPECT_EQ(book.currentRow(), 1) << "the walk stops on the bad row";
    EXPECT_EQ(tsl::books::summaryAfterPost(book), std::nullopt);
    EXPECT_EQ(failure([&] { (void)tsl::books::summaryOf(conn, scratch, "3"); }), "'12.5' is not a valid integer value");
    EXPECT_EQ(scratch.currentRow(), 1);

    sqlExec(kFile, "UPDATE \"3\" SET \"总金额\" = '3' WHERE \"总金额\" = '12.5'");
    EXPECT_EQ(failure([&] { (void)tsl::books::summaryOf(conn, scratch, "3"); }), "'' is not a valid integer value")
        << "NULL reads as an empty amount";
}

TEST_F(Books, TheRunningSummaryMovesByThePostedRowAlone) {
    sqlExec(kFile, buy("10") + buy("20") + buy("30"));
    tsl::books::RunningSummary running(book);
    running.opened(openSummed("3"));
    ASSERT_EQ(running.current(), (Summary{3, 60}));

    auto add = [&](const std::string& amount) {
        book.append();
        book.setField(tsl::field::stamp, "(9)2026-5-2");
        book.setField(tsl::field::amount, amount);
        book.post();
    };
    auto change = [&](int row, const std::string& amount) {
        book.moveTo(row);
        book.edit();
        book.setField(tsl::field::amount, amount);
        book.post();
    };
    // Each step: what the book then holds, and what a whole reading says.
    add("5");
    EXPECT_EQ(running.current(), (Summary{4, 65}));
    change(0, "-10");
    EXPECT_EQ(running.current(), (Summary{4, 45}));
    book.moveTo(1);
    tsl::books::deleteRow(book);
    EXPECT_EQ(running.current(), (Summary{3, 25}));
    EXPECT_EQ(running.current(), tsl::books::summaryAfterPost(book));

    // Another row's edit behind the summary's back is caught by its whole reading.
    sqlExec(kFile, "UPDATE \"3\" SET \"总金额\" = '1000' WHERE rowid = (SELECT max(rowid) FROM \"3\")");
    EXPECT_EQ(running.current(), (Summary{3, 25})) << "kept: nothing was posted";

    // A bad amount posted: read again, and left alone while it is there.
    change(0, "x");
    EXPECT_EQ(running.current(), std::nullopt);
    change(0, "1");
    EXPECT_EQ(running.current(), (Summary{3, 1031})) << "read again whole once it converts";
    add("4");
    EXPECT_EQ(running.current(), (Summary{4, 1035}));
}

TEST_F(Books, ADeletesRenumberingLeavesTheTotalAndTheUndoRestoresIt) {
    sqlExec(kFile, buy("1") + buy("2") + buy("4") + buy("8"));
    tsl::books::RunningSummary running(book);
    running.opened(openSummed("3"));
    book.moveTo(0);
    {
        std::optional<tsl::books::RunningSummary::Still> still;
        tsl::books::deleteRow(book, [&] { still.emplace(running); });
    }
    EXPECT_EQ(running.current(), (Summary{3, 14}));
    EXPECT_EQ(tsltest::sqlColumn(kFile, "SELECT \"日期\" FROM \"3\" ORDER BY rowid"),
              (std::vector<std::string>{"(1)2026-5-1", "(2)2026-5-1", "(3)2026-5-1"}));
    // The cursor stands on the last row; its edit moves the total by its own change.
    book.edit();
    book.setField(tsl::field::amount, "9");
    book.post();
    EXPECT_EQ(running.current(), (Summary{3, 15}));
    EXPECT_EQ(running.current(), tsl::books::summaryAfterPost(book));
}

TEST_F(Books, TheReportTakesTheShownBooksSummaryOnlyWhileNothingElseWroteTheFile) {
    sqlExec(kFile, buy("1") + buy("2") + buy("4") + buy("8"));
    tsl::books::RunningSummary running(book);
    tsl::DeleteUndo undo{tsl::books::numberedStamp, tsl::books::numberedStampSql};
    running.opened(openSummed("3"));
    auto post = [&](int row, std::string_view field, const std::string& text) {
        row < 0 ? book.append() : (book.moveTo(row), book.edit());
        book.setField(field, text);
        book.post();
    };
    struct Step {
        const char* name;
        std::function<void()> run;
        bool kept; // the report answers from the kept summary
    };
    const Step steps[] = {
        {"opened", [] {}, true},
        {"added", [&] { post(-1, tsl::field::amount, "16"); }, true},
        {"amount edited", [&] { post(1, tsl::field::amount, "32"); }, true},
        {"date changed", [&] { post(2, tsl::field::stamp, "(3)2026-6-1"); }, true},
        {"deleted and renumbered",
         [&] {
             book.moveTo(0);
             const tsl::DeleteUndo::ArmWhenDone arm(undo);
             std::optional<tsl::books::RunningSummary::Still> still;
             tsl::books::deleteRow(book, [&] { still.emplace(running); }, &undo);
         },
         true},
        {"undone", [&] { ASSERT_EQ(undo.undo(conn), 0); }, false},
        {"read again after the undo", [&] { running.opened(openSummed("3")); }, true},
        {"another program wrote", [&] { sqlExec(kFile, "UPDATE \"3\" SET \"总金额\" = '100' WHERE rowid = 2"); },
         false},
        {"then a post here", [&] { post(0, tsl::field::amount, "3"); }, false},
        {"read again", [&] { running.opened(openSummed("3")); }, true},
        {"written beside the cursor", [&] { conn.exec("UPDATE \"3\" SET \"总金额\" = '7' WHERE rowid = 3"); }, false},
        {"a post rolled back",
         [&] {
             running.opened(openSummed("3"));
             tsl::Connection::Transaction t(conn);
             post(-1, tsl::field::amount, "1000");
         },
         false},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(s.name);
        s.run();
        const Summary scanned = tsl::books::summaryOf(conn, scratch, "3");
        EXPECT_EQ(tsl::books::summaryOf(conn, scratch, "3", &running), scanned);
        EXPECT_EQ(tsl::books::rowCountOf(conn, scratch, "3", &running), scanned.rows);
        EXPECT_EQ(running.exact().has_value(), s.kept);
        EXPECT_EQ(tsl::books::summaryOf(conn, scratch, "2", &running), (Summary{0, 0})) << "another book is scanned";
    }
}
