#include "books/renumber.h"
#include "storage/connection.h"
#include "storage/cursor.h"
#include "storage/error.h"
#include "storage/schema.h"
#include "storage/undodelete.h"
#include "tests/support/storeledger.h"
#include "tests/support/tempdir.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

using tsltest::sqlColumn;
using tsltest::sqlExec;
using tsltest::Store;
using Rows = std::vector<std::string>;

namespace {

const std::string kFile = "u.mdb";

class Undo : public ::testing::Test {
protected:
    void SetUp() override {
        dir.seedIndex(kFile);
        conn.setConnectionString(tsl::connectionString(kFile));
        conn.connect();
    }
    void open(const char* table) {
        book.setTableName(table);
        book.open();
    }

    // The delete as the workspace does it, through the books layer (renumbering books 2..4).
    void deleteRow(int row, bool renumber) {
        book.moveTo(row);
        undo.capture(book);
        ASSERT_EQ(renumber, tsl::bookIsNumbered(book.tableName()));
        tsl::books::deleteRow(book);
        undo.arm();
    }

    tsltest::TempDir dir;
    tsl::Connection conn;
    tsl::Cursor book{conn};
    tsl::DeleteUndo undo{tsl::books::numberedStamp, tsl::books::numberedStampSql};
};

} // namespace

TEST_F(Undo, PutsBackTheRowAndTheNumbersExactlyAsTheyWere) {
    // Odd stamps too: a wrong number, none at all, a bare ")", and a field left NULL.
    sqlExec(kFile, "INSERT INTO \"3\" VALUES ('(1)2004-5-10','甲','纱','1','10'), ('(9)2004-5-11','乙','纱','2','20'),"
                   "('2004-5-11','丙','纱',NULL,'30'), ('(4)2004-5-12','丁','纱','4','40'), (')x','戊','纱','5','50'),"
                   "('(6)2004-5-13','己','纱','6','60')");
    const auto rows = [] {
        return sqlColumn(kFile, "SELECT quote(rowid)||quote(\"日期\")||quote(\"货物来源\")||quote(\"货物数目\") "
                                "FROM \"3\" ORDER BY rowid");
    };
    const Rows before = rows();
    open("3");
    for (int row : {0, 2, 3, 5}) {
        SCOPED_TRACE(row);
        deleteRow(row, true);
        ASSERT_TRUE(undo.available(conn, "3"));
        EXPECT_FALSE(undo.available(conn, "2"));
        EXPECT_EQ(undo.undo(conn), row);
        EXPECT_FALSE(undo.available(conn, "3")) << "one delete, one undo";
        book.close();
        book.open();
        EXPECT_EQ(rows(), before);
    }
}

TEST_F(Undo, CustomerBookAndTheLastRow) {
    sqlExec(kFile, "INSERT INTO \"1\" VALUES ('a','','','',''), ('b','','','','')");
    open("1");
    deleteRow(1, false);
    EXPECT_EQ(sqlColumn(kFile, "SELECT \"姓名\" FROM \"1\""), (Rows{"a"}));
    EXPECT_EQ(undo.undo(conn), 1);
    EXPECT_EQ(sqlColumn(kFile, "SELECT rowid || \"姓名\" FROM \"1\" ORDER BY rowid"), (Rows{"1a", "2b"}));
}

TEST_F(Undo, NotOfferedWhenNothingWasDeletedOrAfterAnotherLedger) {
    sqlExec(kFile, "INSERT INTO \"2\" VALUES ('(1)d','n','k','1','a','p','5');");
    open("2");
    // The removal failed: the row is still there, so nothing may be put back twice.
    undo.capture(book);
    undo.arm();
    EXPECT_FALSE(undo.available(conn, "2"));
    EXPECT_THROW((void)undo.undo(conn), tsl::Error);

    deleteRow(0, true);
    EXPECT_TRUE(undo.available(conn, "2"));
    book.close();
    conn.disconnect();
    dir.seedIndex("other.mdb");
    conn.setConnectionString(tsl::connectionString("other.mdb"));
    conn.connect();
    EXPECT_FALSE(undo.available(conn, "2")) << "the delete was in another ledger";
    EXPECT_EQ(sqlColumn("other.mdb", "SELECT count(*) FROM \"2\""), (Rows{"0"}));

    open("4"); // an empty book: nothing to capture
    undo.capture(book);
    undo.arm();
    EXPECT_FALSE(undo.available(conn, "4"));
}

namespace {

// The delivery book on a ledger file or a server ledger, the delete done the
// workspace's way (the delete hands the stamps to the undo in its own pass).
class UndoStores : public ::testing::TestWithParam<Store> {
protected:
    tsltest::TempDir dir;
    std::unique_ptr<tsltest::StoreLedger> ledger;
    tsl::Connection conn;
    tsl::Cursor book{conn};
    tsl::DeleteUndo undo{tsl::books::numberedStamp, tsl::books::numberedStampSql};

    // Rows of book 4 given as "(rowid, stamp), ...".
    void fill(const std::string& rows) {
        ledger = std::make_unique<tsltest::StoreLedger>(GetParam());
        ledger->sql(std::string("INSERT INTO \"4\" (rowid, \"日期\", \"交货人\", \"交货种类\", \"交货总数\", \"总金额\")") +
                    (GetParam() == Store::Server ? " OVERRIDING SYSTEM VALUE" : "") +
                    " SELECT column1, column2, 'w', 'k', '1', '2' FROM (VALUES " + rows + ") AS v");
        ledger->connect(conn);
        book.setTableName("4");
        book.open();
    }
    // Every row as the store holds it, NULL told from "".
    [[nodiscard]] Rows stored() const {
        Rows out;
        for (const auto& r : ledger->rows("SELECT rowid, CASE WHEN \"日期\" IS NULL THEN 'NULL' ELSE 't:' || \"日期\" END, "
                                          "\"交货人\" FROM \"4\" ORDER BY rowid"))
            out.push_back(r[0] + " " + r[1] + " " + r[2]);
        return out;
    }
    void deleteRow(int row) {
        book.moveTo(row);
        const tsl::DeleteUndo::ArmWhenDone arm(undo);
        tsl::books::deleteRow(book, {}, &undo);
    }
};

INSTANTIATE_TEST_SUITE_P(BothStores, UndoStores, ::testing::Values(Store::File, Store::Server),
                         [](const auto& info) { return tsltest::storeName(info.param); });

} // namespace

// Books whose stamps are partly odd, with gaps in the rowids left by earlier
// deletes, come back exactly, at each row.
TEST_P(UndoStores, TheDeletesOwnPassKeepsWhatTheUndoNeeds) {
    struct Case {
        const char* name;
        const char* rows; // stamps of book 4, rowid given
    };
    const Case cases[] = {
        {"plain", "(1,'(1)a'),(2,'(2)b'),(3,'(3)c'),(4,'(4)d')"},
        {"a wrong number and none at all", "(1,'(1)a'),(2,'(7)x'),(3,'c'),(4,'(4)d'),(5,'(5)e')"},
        {"duplicates", "(1,'(1)a'),(2,'(2)b'),(3,'(2)b'),(4,'(3)c'),(5,'(5)e')"},
        {"gaps in the rowids", "(2,'(1)a'),(3,'(2)b'),(7,'(3)c'),(8,'(9)d'),(20,'(5)e'),(21,'f')"},
        {"quotes, commas, braces and a backslash", "(1,'(1)\"a,'),(2,'(9){b}\\'),(3,'(3)c \"\"'),(4,'(4)NULL')"},
        {"a bare bracket and a NULL", "(1,')x'),(2,NULL),(3,'(3)年)'),(5,'(4)d'),(6,'(5)e')"},
    };
    for (const Case& c : cases) {
        fill(c.rows);
        const Rows before = stored();
        for (int row = 0; row < int(before.size()); ++row) {
            SCOPED_TRACE(std::string(c.name) + ", row " + std::to_string(row));
            deleteRow(row);
            ASSERT_TRUE(undo.available(conn, "4"));
            EXPECT_EQ(undo.undo(conn), row);
            book.close();
            book.open();
            ASSERT_EQ(stored(), before);
        }
        book.close();
        conn.disconnect();
    }
}

// Another desk changes the book between the delete and its undo. Rows added
// after the book as the delete left it, and edits the undo does not write
// over, are fine: the row goes back and every row is numbered again. Anything
// else refuses the undo, changes nothing, and the undo is no longer offered.
TEST(UndoOnServer, WhatAnotherDeskDidSinceTheDelete) {
    struct Case {
        const char* name;
        const char* other; // SQL of the other desk, after row 2 (rowid 3) was deleted
        const char* after; // stamps in rowid order after the undo; "" when refused
    };
    const Case cases[] = {
        {"nothing", "", "(1)a (2)b (3)c (4)d (9)e"},
        {"a row added", "INSERT INTO \"4\" (\"日期\") VALUES ('(5)new')", "(1)a (2)b (3)c (4)d (9)e (6)new"},
        {"another field edited", "UPDATE \"4\" SET \"交货人\" = 'v' WHERE rowid = 4", "(1)a (2)b (3)c (4)d (9)e"},
        {"a plain stamp's date edited", "UPDATE \"4\" SET \"日期\" = '(3)dd' WHERE rowid = 4", "(1)a (2)b (3)c (4)dd (9)e"},
        {"a row deleted", "DELETE FROM \"4\" WHERE rowid = 1", ""},
        {"the row put back", "INSERT INTO \"4\" (rowid, \"日期\") OVERRIDING SYSTEM VALUE VALUES (3, '(3)c')", ""},
        {"the odd stamp written", "UPDATE \"4\" SET \"日期\" = '(4)E' WHERE rowid = 5", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        tsltest::TempDir dir;
        tsltest::StoreLedger ledger(Store::Server);
        ledger.sql("INSERT INTO \"4\" (\"日期\") VALUES ('(1)a'), ('(2)b'), ('(3)c'), ('(4)d'), ('(9)e')");
        tsl::Connection conn;
        ledger.connect(conn);
        tsl::Cursor book(conn);
        book.setTableName("4");
        book.open();
        tsl::DeleteUndo undo{tsl::books::numberedStamp, tsl::books::numberedStampSql};
        book.moveTo(2);
        {
            const tsl::DeleteUndo::ArmWhenDone arm(undo);
            tsl::books::deleteRow(book, {}, &undo);
        }
        if (*c.other)
            ledger.sql(c.other);
        const auto stamps = [&] {
            std::string out;
            for (const auto& r : ledger.rows("SELECT \"日期\" FROM \"4\" ORDER BY rowid"))
                out += (out.empty() ? "" : " ") + r[0];
            return out;
        };
        const std::string before = stamps();
        ASSERT_TRUE(undo.available(conn, "4"));
        if (*c.after) {
            EXPECT_EQ(undo.undo(conn), 2);
            EXPECT_EQ(stamps(), c.after);
            continue;
        }
        try {
            (void)undo.undo(conn);
            ADD_FAILURE() << "not refused";
        } catch (const tsl::Error& e) {
            EXPECT_STREQ(e.what(), tsl::kUndoRefusedText);
        }
        EXPECT_EQ(stamps(), before) << "nothing changed";
        EXPECT_FALSE(undo.available(conn, "4"));
    }
}
