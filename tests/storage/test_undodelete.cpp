#include "books/renumber.h"
#include "storage/connection.h"
#include "storage/cursor.h"
#include "storage/error.h"
#include "storage/schema.h"
#include "tests/support/tempdir.h"
#include "storage/undodelete.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using tsltest::sqlColumn;
using tsltest::sqlExec;
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
    tsl::DeleteUndo undo{tsl::books::numberedStamp};
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

// The workspace's way: the delete hands the stamps to the undo in its own pass,
// and the undo numbers runs of rowids in SQL. Books whose stamps are partly odd,
// with gaps in the rowids left by earlier deletes, come back exactly, at each row.
TEST_F(Undo, TheDeletesOwnPassKeepsWhatTheUndoNeeds) {
    struct Case {
        const char* name;
        const char* rows; // stamps of book 4, rowid given
    };
    const Case cases[] = {
        {"plain", "(1,'(1)a'),(2,'(2)b'),(3,'(3)c'),(4,'(4)d')"},
        {"a wrong number and none at all", "(1,'(1)a'),(2,'(7)x'),(3,'c'),(4,'(4)d'),(5,'(5)e')"},
        {"duplicates", "(1,'(1)a'),(2,'(2)b'),(3,'(2)b'),(4,'(3)c'),(5,'(5)e')"},
        {"gaps in the rowids", "(2,'(1)a'),(3,'(2)b'),(7,'(3)c'),(8,'(9)d'),(20,'(5)e'),(21,'f')"},
        {"a bare bracket and a NULL", "(1,')x'),(2,NULL),(3,'(3)年)'),(5,'(4)d'),(6,'(5)e')"},
    };
    dir.seedIndex("v.mdb");
    for (const Case& c : cases) {
        sqlExec(kFile, std::string("DELETE FROM \"4\"; INSERT INTO \"4\" (rowid, \"日期\", \"交货人\", \"交货种类\", "
                                   "\"交货总数\", \"总金额\") SELECT column1, column2, 'w', 'k', '1', '2' FROM (VALUES ") +
                           c.rows + ")");
        const auto rows = [] {
            return sqlColumn(kFile, "SELECT quote(rowid)||quote(\"日期\")||quote(\"交货人\") FROM \"4\" ORDER BY rowid");
        };
        const Rows before = rows();
        tsl::DeleteUndo quick{tsl::books::numberedStamp, tsl::books::numberedStampSql};
        open("4");
        for (int row = 0; row < int(before.size()); ++row) {
            SCOPED_TRACE(std::string(c.name) + ", row " + std::to_string(row));
            book.moveTo(row);
            tsl::books::deleteRow(book, {}, &quick);
            quick.arm();
            ASSERT_TRUE(quick.available(conn, "4"));
            EXPECT_EQ(quick.undo(conn), row);
            book.close();
            book.open();
            ASSERT_EQ(rows(), before);
        }
        book.close();
    }
}

TEST_F(Undo, NotOfferedWhenTheDeletesPassDidNotHandOverTheStamps) {
    sqlExec(kFile, "INSERT INTO \"2\" VALUES ('(1)d','n','k','1','a','p','5'), ('(5)d','m','k','1','a','p','6');");
    open("2");
    tsl::DeleteUndo quick{tsl::books::numberedStamp, tsl::books::numberedStampSql};
    // Only the row read, the row removed some other way: the odd (5) is not known, so no undo.
    quick.captureRow(book);
    book.remove();
    quick.arm();
    EXPECT_FALSE(quick.available(conn, "2"));
}
