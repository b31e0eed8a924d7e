#include "storage/connection.h"
#include "storage/cursor.h"
#include "storage/error.h"
#include "storage/fileops.h"
#include "storage/pgsession.h"
#include "storage/schema.h"
#include "tests/support/pgserver.h"
#include "tests/support/storeledger.h"
#include "tests/support/tempdir.h"

#include <libpq-fe.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using tsl::Connection;
using tsl::Cursor;
using tsltest::readFile;
using tsltest::sqlColumn;
using tsltest::sqlExec;

namespace {

const std::string kFile = "tsl.mdb";

// Writes the events it is told, in order, as short text.
class Recorder : public tsl::CursorObserver {
public:
    std::vector<std::string> events;
    void cursorReset() override { events.push_back("reset"); }
    void rowInserted(int r) override { events.push_back("ins " + std::to_string(r)); }
    void rowUpdated(int r) override { events.push_back("upd " + std::to_string(r)); }
    void rowRemoved(int r) override { events.push_back("rem " + std::to_string(r)); }
    void currentChanged(int r) override { events.push_back("cur " + std::to_string(r)); }
};

using Strings = std::vector<std::string>;

// Where the ledger lives: a file of the data folder, or a schema on a server.
enum class Store { File, Server };

tsltest::PgServer& server() {
    static tsltest::PgServer pg; // started by the first test on a server; fails that test saying why
    return pg;
}

class CursorBase : public ::testing::Test {
protected:
    explicit CursorBase(Store store) : store_(store) {}

    Store store_;
    tsltest::TempDir dir;
    std::unique_ptr<tsl::pg::Session> raw_; // on a server: a session of its own, outside the program's code
    Connection conn;
    Recorder rec; // outlives the cursors of a test, which tell it about closing

    void SetUp() override {
        if (store_ == Store::File) {
            dir.seedIndex(kFile);
            conn.setConnectionString(tsl::connectionString(kFile));
            return;
        }
        static int serial = 0;
        const std::string address = server().uri();
        raw_ = std::make_unique<tsl::pg::Session>(address);
        tsl::pg::ensureLayout(*raw_);
        // A name is only ever a parameter: one that would break SQL or a path serves as well.
        const std::string name = "帐本 \"x\"'; DROP SCHEMA tessolan CASCADE; --/../" + std::to_string(++serial);
        const std::string schema = tsl::pg::createLedger(*raw_, name);
        raw_->exec("SELECT set_config('search_path', $1, false)", {tsl::pg::quoteIdent(schema)});
        // The list of ledgers is a file's own; the tests use it as a plain one-field book.
        raw_->exec("CREATE TABLE \"5\" (rowid bigint GENERATED ALWAYS AS IDENTITY PRIMARY KEY, name text)");
        conn.setServer(address, name);
    }

    // Runs SQL (several statements) outside the program's code.
    void sql(const std::string& text) const {
        if (store_ == Store::File)
            return sqlExec(kFile, text);
        tsltest::execOnServer(*raw_, text);
    }

    // The first column of a query's rows, read outside the program's code.
    [[nodiscard]] Strings column(const std::string& text) const {
        if (store_ == Store::File)
            return sqlColumn(kFile, text);
        const tsl::pg::Result r = raw_->exec(text);
        Strings out;
        for (int i = 0; i < r.rows(); ++i)
            out.push_back(r.text(i, 0));
        return out;
    }

    std::unique_ptr<Cursor> open(std::string_view table) {
        if (!conn.connected())
            conn.connect();
        auto c = std::make_unique<Cursor>(conn);
        c->setTableName(std::string(table));
        c->open();
        return c;
    }

    // "INSERT INTO table (its first n fields)": positional VALUES would meet a server's row id first.
    static std::string insertInto(std::string_view table, std::size_t n = 1) {
        const tsl::TableDef* def = tsl::findTable(table);
        std::string cols;
        for (std::size_t i = 0; i < n; ++i)
            cols += (i ? ", " : "") + tsl::quoteIdent(def->fields[i]);
        return "INSERT INTO " + tsl::quoteIdent(table) + " (" + cols + ") VALUES ";
    }

    // Rows of a single-field table, written outside the program's code.
    void seedNames(const std::string& table, const std::vector<std::string>& names) const {
        std::string text = "BEGIN;";
        for (const auto& n : names)
            text += insertInto(table) + "('" + n + "');";
        sql(text + "COMMIT;");
    }

    [[nodiscard]] Strings stored(const std::string& table, const std::string& field) const {
        return column("SELECT \"" + field + "\" FROM \"" + table + "\" ORDER BY rowid");
    }

    // temp1 filled with "r1".."rN"; returns those texts.
    Strings seedNumbered(int n) const {
        sql("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < " + std::to_string(n) +
            ") INSERT INTO temp1 (\"1\") SELECT 'r' || i FROM n;");
        Strings out;
        for (int i = 1; i <= n; ++i)
            out.push_back("r" + std::to_string(i));
        return out;
    }

    // Every row of a cursor walked with first/next, reading one field.
    static std::vector<std::string> walk(Cursor& c, int pos = 0) {
        std::vector<std::string> out;
        c.first();
        while (!c.eof()) {
            out.push_back(c.fieldText(pos));
            c.next();
        }
        return out;
    }
};

// What only a ledger file has: its name, its folder, its triggers.
class CursorTest : public CursorBase {
protected:
    CursorTest() : CursorBase(Store::File) {}
};

// The cursor's rules, on a ledger file and on a server alike.
class StoreCursorTest : public CursorBase, public ::testing::WithParamInterface<Store> {
protected:
    StoreCursorTest() : CursorBase(GetParam()) {}
};

INSTANTIATE_TEST_SUITE_P(BothStores, StoreCursorTest, ::testing::Values(Store::File, Store::Server),
                         [](const auto& info) { return info.param == Store::File ? "File" : "Server"; });



// --- connection -------------------------------------------------------------

TEST_F(CursorTest, DataSourceIsTheFileAfterTheKey) {
    EXPECT_EQ(Connection::dataSource(tsl::connectionString("a b.mdb")), "a b.mdb");
    EXPECT_EQ(Connection::dataSource(tsl::connectionString("账本.mdb")), "账本.mdb");
    EXPECT_EQ(Connection::dataSource("Provider=x;data source=sub/c.mdb;Mode=Share"), "sub/c.mdb");
    EXPECT_THROW((void)Connection::dataSource("Provider=msdatashape.1"), tsl::Error);
    EXPECT_THROW((void)Connection::dataSource("Provider=x;Data Source=;Mode=1"), tsl::Error);
    EXPECT_THROW((void)Connection::dataSource(""), tsl::Error);
}

TEST_F(CursorTest, ConnectsToAFileRelativeToTheCurrentFolder) {
    fs::create_directory("sub");
    fs::copy_file(tsltest::indexTemplate(), "sub/book.mdb");
    conn.setConnectionString(tsl::connectionString("sub/book.mdb"));
    conn.connect();
    EXPECT_TRUE(conn.connected());
    Cursor c(conn);
    c.setTableName("5");
    c.open();
    c.append();
    c.setField("name", "x");
    c.post();
    EXPECT_EQ(sqlColumn("sub/book.mdb", "SELECT name FROM \"5\""), Strings{"x"});
}

// A missing file, a folder, or a file that is no database: connecting fails,
// names the file, and creates or changes nothing.
TEST_F(CursorTest, ConnectFailuresCreateAndChangeNothing) {
    fs::create_directory("dir.mdb");
    std::string text;
    for (int i = 0; i < 200; ++i)
        text += "这不是数据库 line " + std::to_string(i) + "\n";
    tsltest::writeFile("notes.mdb", text);
    for (std::string name : {"nope.mdb", "gone/nope.mdb", "dir.mdb", "notes.mdb"}) {
        SCOPED_TRACE(name);
        Connection c;
        c.setConnectionString(tsl::connectionString(name));
        try {
            c.connect();
            ADD_FAILURE() << "connected";
        } catch (const tsl::Error& e) {
            if (name.find("nope") != std::string::npos) {
                EXPECT_NE(std::string(e.what()).find(name), std::string::npos) << e.what();
            }
        }
        EXPECT_FALSE(c.connected());
    }
    EXPECT_FALSE(tsl::fileExists("nope.mdb"));
    EXPECT_FALSE(tsl::fileExists("nope.mdb-journal"));
    EXPECT_EQ(readFile("notes.mdb"), text);
}

TEST_P(StoreCursorTest, DisconnectClosesEveryCursorAndReconnectReopens) {
    seedNames("5", {"a", "b"});
    auto a = open("5");
    auto b = open("temp1");
    a->addObserver(&rec);
    a->next();
    a->edit();
    a->setField("name", "changed");
    conn.disconnect();
    EXPECT_FALSE(a->isOpen());
    EXPECT_FALSE(b->isOpen());
    EXPECT_EQ(rec.events.back(), "reset");
    EXPECT_THROW(a->first(), tsl::Error);
    // The unposted edit is gone, not written while closing.
    EXPECT_EQ(stored("5", "name"), (Strings{"a", "b"}));
    conn.connect();
    a->open();
    EXPECT_EQ(walk(*a), (Strings{"a", "b"}));
}

TEST_P(StoreCursorTest, TransactionCommitsAllOrRollsBackAll) {
    auto c = open("temp1");
    {
        Connection::Transaction t(conn);
        for (std::string v : {"x", "y", "z"}) {
            c->append();
            c->setField("1", v);
            c->post();
        }
        // Not visible to another reader before the commit.
        EXPECT_TRUE(stored("temp1", "1").empty());
        t.commit();
    }
    EXPECT_EQ(stored("temp1", "1"), (Strings{"x", "y", "z"}));

    {
        Connection::Transaction t(conn);
        c->first();
        c->remove();
        c->edit();
        c->setField("1", "Y");
        c->post();
        c->append();
        c->setField("1", "w");
        c->post();
    }
    EXPECT_EQ(stored("temp1", "1"), (Strings{"x", "y", "z"}));
    // The cursor shows what the file holds again, and later edits write no undone values.
    EXPECT_EQ(c->recordCount(), 3);
    EXPECT_EQ(walk(*c), (Strings{"x", "y", "z"}));
    c->moveTo(1);
    c->edit();
    c->setField("1", "yy");
    c->post();
    EXPECT_EQ(stored("temp1", "1"), (Strings{"x", "yy", "z"}));
}

// --- opening and reading ----------------------------------------------------

TEST_P(StoreCursorTest, OpenNeedsConnectionAndExistingTable) {
    Cursor c(conn);
    c.setTableName("5");
    EXPECT_THROW(c.open(), tsl::Error);
    conn.connect();
    Cursor missing(conn);
    missing.setTableName("6");
    EXPECT_THROW(missing.open(), tsl::Error);
    EXPECT_FALSE(missing.isOpen());
    missing.setTableName("5");
    missing.open();
    EXPECT_TRUE(missing.isOpen());
    EXPECT_THROW(missing.setTableName("temp1"), tsl::Error);
    EXPECT_EQ(missing.tableName(), "5");
}

TEST_P(StoreCursorTest, EmptyTable) {
    auto c = open("5");
    c->addObserver(&rec);
    EXPECT_EQ(c->recordCount(), 0);
    EXPECT_LT(c->recNo(), 0);
    EXPECT_EQ(c->currentRow(), -1);
    EXPECT_TRUE(c->eof());
    EXPECT_EQ(c->fieldText(0), "");
    c->first();
    EXPECT_TRUE(c->eof());
    c->next();
    EXPECT_TRUE(c->eof());
    c->moveTo(3);
    EXPECT_EQ(c->currentRow(), -1);
    EXPECT_THROW(c->remove(), tsl::Error);
    EXPECT_THROW(c->post(), tsl::Error);
    EXPECT_THROW(c->setField("name", "x"), tsl::Error);
    EXPECT_THROW((void)c->fieldText(1), tsl::Error);
    EXPECT_THROW((void)c->fieldName(-1), tsl::Error);
    for (const auto& e : rec.events)
        EXPECT_EQ(e, "cur -1");
    // Edit on an empty table starts a new row.
    c->edit();
    EXPECT_EQ(c->state(), Cursor::State::Insert);
    c->setField("name", "first");
    c->post();
    EXPECT_EQ(c->recordCount(), 1);
    EXPECT_EQ(c->recNo(), 1);
    EXPECT_FALSE(c->eof());
    EXPECT_EQ(stored("5", "name"), Strings{"first"});
}

TEST_P(StoreCursorTest, NextOnLastRowStaysThere) {
    seedNames("5", {"a", "b", "c"});
    auto c = open("5");
    EXPECT_EQ(c->recNo(), 1);
    EXPECT_FALSE(c->eof());
    c->next();
    c->next();
    EXPECT_EQ(c->recNo(), 3);
    EXPECT_FALSE(c->eof());
    c->next();
    EXPECT_TRUE(c->eof());
    EXPECT_EQ(c->recNo(), 3);
    EXPECT_EQ(c->fieldText(0), "c");
    c->first();
    EXPECT_FALSE(c->eof());
    EXPECT_EQ(c->fieldText(0), "a");
    c->moveTo(99);
    EXPECT_EQ(c->fieldText(0), "c");
    c->moveTo(-5);
    EXPECT_EQ(c->fieldText(0), "a");
}

TEST_F(CursorTest, RowsComeInStoredOrderAndNewRowsGoLast) {
    sqlExec(kFile, "INSERT INTO \"5\" (rowid, name) VALUES (50, 'fifty'), (7, 'seven'), (20, 'twenty')");
    auto c = open("5");
    EXPECT_EQ(walk(*c), (Strings{"seven", "twenty", "fifty"}));
    c->first();
    c->append();
    c->setField("name", "new");
    c->post();
    EXPECT_EQ(c->recNo(), 4);
    EXPECT_EQ(walk(*c), (Strings{"seven", "twenty", "fifty", "new"}));
    EXPECT_EQ(sqlColumn(kFile, "SELECT name FROM \"5\" WHERE rowid > 50"), Strings{"new"});
}

// Field names ignore ASCII letter case; a missing field fails naming the field
// and leaves the pending row alone.
TEST_P(StoreCursorTest, FieldNames) {
    auto c = open("5");
    EXPECT_EQ(c->fieldIndex("nAmE"), 0);
    EXPECT_EQ(c->fieldIndex("names"), -1);
    EXPECT_EQ(c->fieldIndex("nam"), -1);
    c->append();
    c->setField("Name", "x");
    EXPECT_EQ(c->fieldText("NAME"), "x");
    c->post();
    EXPECT_EQ(stored("5", "name"), Strings{"x"});

    auto s = open(tsl::table::shipments);
    EXPECT_EQ(s->fieldIndex(tsl::field::amount), 6);
    EXPECT_EQ(s->fieldIndex("总金"), -1);
    s->append();
    s->setField(tsl::field::amount, "12");
    for (std::string name : {"单价", "amount"}) {
        for (bool write : {true, false}) {
            try {
                write ? s->setField(name, "1") : (void)s->fieldText(name);
                ADD_FAILURE() << "used missing field " << name;
            } catch (const tsl::Error& e) {
                EXPECT_NE(std::string(e.what()).find(name), std::string::npos) << e.what();
            }
        }
    }
    EXPECT_TRUE(s->pending());
    s->post();
    EXPECT_EQ(stored("2", "总金额"), Strings{"12"});
}

TEST_P(StoreCursorTest, MissingValuesReadAsEmpty) {
    sql("INSERT INTO \"2\" (\"日期\") VALUES ('(1)d'); INSERT INTO \"2\" DEFAULT VALUES;");
    auto c = open(tsl::table::shipments);
    EXPECT_EQ(c->fieldText(0), "(1)d");
    for (int f = 1; f < c->fieldCount(); ++f)
        EXPECT_EQ(c->fieldText(f), "") << f;
    for (int f = 0; f < c->fieldCount(); ++f)
        EXPECT_EQ(c->rowText(1, f), "") << f;
    EXPECT_EQ(c->rowText(2, 0), "");
    EXPECT_EQ(c->rowText(-1, 0), "");
    // Fields left unset in a new row read as empty too.
    c->append();
    c->setField("数量", "3");
    EXPECT_EQ(c->fieldText(0), "");
    c->post();
    EXPECT_EQ(c->fieldText(0), "");
    EXPECT_EQ(c->fieldText("数量"), "3");
}

TEST_P(StoreCursorTest, ValuesRoundTripExactly) {
    const Strings values = {
        "张三",
        "",
        "O'Brien \"quoted\"; DROP TABLE \"5\"; --",
        "line one\nline two\ttab",
        "'); DELETE FROM \"5\"; ('",
        std::string(100000, 'x') + "尾",
        " leading and trailing ",
    };
    auto c = open("5");
    for (const auto& v : values) {
        c->append();
        c->setField("name", v);
        c->post();
        EXPECT_EQ(c->fieldText(0), v);
    }
    c->close();
    c->open();
    EXPECT_EQ(walk(*c), values);
    auto onDisk = stored("5", "name");
    ASSERT_EQ(onDisk.size(), values.size());
    for (std::size_t i = 0; i < values.size(); ++i)
        if (values[i].find('\0') == std::string::npos) {
            EXPECT_EQ(onDisk[i], values[i]) << i;
        }
    // Empty text is stored as text, so it stays apart from a missing value.
    EXPECT_EQ(column("SELECT count(*) FROM \"5\" WHERE name = ''"), Strings{"1"});

    // A file keeps a NUL inside a text; a server cannot, and refuses it rather than cut it short.
    const std::string nul("nul\0inside", 10);
    c->append();
    c->setField("name", nul);
    if (GetParam() == Store::File) {
        c->post();
        c->close();
        c->open();
        c->moveTo(int(values.size()));
        EXPECT_EQ(c->fieldText(0), nul);
    } else {
        EXPECT_THROW(c->post(), tsl::Error);
        c->cancel();
        EXPECT_EQ(stored("5", "name").size(), values.size());
    }
}

// --- pending rows -----------------------------------------------------------

TEST_P(StoreCursorTest, MovingFinishesAPendingAppend) {
    struct Move {
        const char* what;
        std::function<void(Cursor&)> run;
    };
    const std::vector<Move> moves = {
        {"first", [](Cursor& c) { c.first(); }},
        {"next", [](Cursor& c) { c.next(); }},
        {"moveTo", [](Cursor& c) { c.moveTo(0); }},
        {"append", [](Cursor& c) { c.append(); }},
    };
    for (const auto& m : moves) {
        SCOPED_TRACE(m.what);
        sql("DELETE FROM temp1; " + insertInto("temp1") + "('old');");
        auto c = open("temp1");
        c->append();
        m.run(*c);
        EXPECT_EQ(stored("temp1", "1"), Strings{"old"}) << "untouched row was written";
        EXPECT_EQ(c->recordCount(), 1);

        c->append();
        c->setField("1", "new");
        m.run(*c);
        EXPECT_EQ(stored("temp1", "1"), (Strings{"old", "new"}));
        EXPECT_EQ(c->recordCount(), 2);
        c->cancel();
    }
}

TEST_P(StoreCursorTest, MovingFinishesAPendingEdit) {
    seedNames("5", {"a", "b"});
    auto c = open("5");
    c->addObserver(&rec);
    c->edit();
    c->next();
    EXPECT_TRUE(rec.events == Strings{"cur 1"}) << "untouched edit was posted";
    c->edit();
    c->setField("name", "B");
    c->first();
    EXPECT_EQ(stored("5", "name"), (Strings{"a", "B"}));
    EXPECT_EQ(rec.events, (Strings{"cur 1", "upd 1", "cur 0"}));
    EXPECT_EQ(c->rowText(1, 0), "B");
}

TEST_P(StoreCursorTest, PendingRowRules) {
    seedNames("5", {"a", "b"});
    auto c = open("5");
    // Without a pending row there is nothing to set or post.
    EXPECT_THROW(c->setField("name", "x"), tsl::Error);
    EXPECT_THROW(c->post(), tsl::Error);
    // Pending values show only in the current row.
    c->append();
    EXPECT_EQ(c->recordCount(), 2);
    EXPECT_EQ(c->fieldText(0), "");
    c->cancel();
    c->edit();
    c->setField("name", "A");
    EXPECT_EQ(c->fieldText("name"), "A");
    EXPECT_EQ(c->rowText(0, 0), "a");
    c->cancel();
    EXPECT_EQ(c->fieldText(0), "a");
    // Edit then append is an append.
    c->edit();
    c->append();
    EXPECT_EQ(c->state(), Cursor::State::Insert);
    c->setField("name", "new");
    // Edit while pending keeps the pending row.
    c->edit();
    EXPECT_EQ(c->state(), Cursor::State::Insert);
    EXPECT_EQ(c->fieldText(0), "new");
    c->post();
    EXPECT_EQ(c->recNo(), 3);
    EXPECT_THROW(c->post(), tsl::Error);
    c->first();
    c->edit();
    c->setField("name", "A");
    c->edit();
    EXPECT_EQ(c->fieldText(0), "A");
    c->post();
    EXPECT_EQ(stored("5", "name"), (Strings{"A", "b", "new"}));
}

TEST_P(StoreCursorTest, PostKeepsThePostedRowCurrent) {
    seedNames("5", {"a", "b", "c"});
    auto c = open("5");
    int opened = 0, posted = 0;
    c->afterOpen = [&] { ++opened; };
    c->afterPost = [&] {
        ++posted;
        EXPECT_FALSE(c->pending());
    };
    c->addObserver(&rec);
    c->moveTo(1);
    c->append();
    c->setField("name", "d");
    c->post();
    EXPECT_EQ(c->currentRow(), 3);
    EXPECT_EQ(c->fieldText(0), "d");
    EXPECT_EQ(c->state(), Cursor::State::Browse);
    c->moveTo(1);
    c->edit();
    c->setField("name", "B");
    c->post();
    EXPECT_EQ(c->currentRow(), 1);
    EXPECT_EQ(c->fieldText(0), "B");
    EXPECT_EQ(posted, 2);
    EXPECT_EQ(opened, 0);
    EXPECT_EQ(rec.events, (Strings{"cur 1", "ins 3", "cur 3", "cur 1", "upd 1"}));
    c->close();
    c->open();
    EXPECT_EQ(opened, 1);
    EXPECT_EQ(rec.events.back(), "reset");
}

TEST_F(CursorTest, FailedPostLeavesTheRowUnwrittenAndPending) {
    sqlExec(kFile, "INSERT INTO \"5\" VALUES ('a');"
                   "CREATE TRIGGER no_bad_insert BEFORE INSERT ON \"5\" WHEN new.name = 'bad'"
                   " BEGIN SELECT RAISE(ABORT, 'bad name'); END;"
                   "CREATE TRIGGER no_bad_update BEFORE UPDATE ON \"5\" WHEN new.name = 'bad'"
                   " BEGIN SELECT RAISE(ABORT, 'bad name'); END;");
    auto c = open("5");
    int posted = 0;
    c->afterPost = [&] { ++posted; };
    c->append();
    c->setField("name", "bad");
    EXPECT_THROW(c->post(), tsl::Error);
    EXPECT_TRUE(c->pending());
    EXPECT_EQ(c->recordCount(), 1);
    // Moving tries again and fails the same way, staying put.
    EXPECT_THROW(c->first(), tsl::Error);
    EXPECT_EQ(c->state(), Cursor::State::Insert);
    c->setField("name", "good");
    c->post();
    EXPECT_EQ(stored("5", "name"), (Strings{"a", "good"}));

    c->first();
    c->edit();
    c->setField("name", "bad");
    EXPECT_THROW(c->post(), tsl::Error);
    EXPECT_EQ(c->state(), Cursor::State::Edit);
    EXPECT_EQ(c->rowText(0, 0), "a");
    c->cancel();
    EXPECT_EQ(c->fieldText(0), "a");
    EXPECT_EQ(stored("5", "name"), (Strings{"a", "good"}));
    EXPECT_EQ(posted, 1);
}

// --- deleting ---------------------------------------------------------------

TEST_P(StoreCursorTest, DeleteMakesTheFollowingRowCurrent) {
    seedNames("5", {"a", "b", "c", "d"});
    auto c = open("5");
    c->addObserver(&rec);
    c->moveTo(1);
    c->remove();
    EXPECT_EQ(c->fieldText(0), "c");
    EXPECT_EQ(c->recNo(), 2);
    c->moveTo(2);
    c->remove(); // the last: the new last row becomes current
    EXPECT_EQ(c->fieldText(0), "c");
    EXPECT_EQ(c->recNo(), 2);
    EXPECT_FALSE(c->eof());
    c->first();
    c->remove();
    EXPECT_EQ(c->fieldText(0), "c");
    c->remove(); // the only row
    EXPECT_EQ(c->recordCount(), 0);
    EXPECT_LT(c->recNo(), 0);
    EXPECT_TRUE(c->eof());
    EXPECT_EQ(c->fieldText(0), "");
    EXPECT_THROW(c->remove(), tsl::Error);
    EXPECT_TRUE(stored("5", "name").empty());
    EXPECT_EQ(rec.events, (Strings{"cur 1", "rem 1", "cur 1", "cur 2", "rem 2", "cur 1", "cur 0", "rem 0", "cur 0",
                                   "rem 0", "cur -1"}));
}

// A delete during an edit is a delete; during an append it drops only the new row.
TEST_P(StoreCursorTest, DeleteWhilePending) {
    seedNames("5", {"a", "b", "c"});
    auto c = open("5");
    c->edit();
    c->setField("name", "A");
    c->remove();
    EXPECT_THROW(c->post(), tsl::Error);
    EXPECT_EQ(c->fieldText(0), "b");
    c->append();
    c->setField("name", "new");
    c->remove();
    EXPECT_FALSE(c->pending());
    EXPECT_EQ(c->fieldText(0), "b");
    EXPECT_EQ(stored("5", "name"), (Strings{"b", "c"}));
}

// --- two cursors on one connection ------------------------------------------

TEST_P(StoreCursorTest, WritesThroughOneCursorShowInAnotherOnTheSameTable) {
    seedNames("5", {"a", "b", "c"});
    auto reader = open("5");
    auto writer = open("5");
    EXPECT_EQ(reader->fieldText(0), "a"); // now cached
    writer->edit();
    writer->setField("name", "A");
    writer->post();
    EXPECT_EQ(reader->fieldText(0), "A");

    // The reader's own post must not keep the block it read before the writer's change.
    EXPECT_EQ(reader->rowText(2, 0), "c");
    reader->edit();
    writer->moveTo(2);
    writer->edit();
    writer->setField("name", "C");
    writer->post();
    reader->setField("name", "AA");
    reader->post();
    EXPECT_EQ(reader->rowText(2, 0), "C");
    EXPECT_EQ(reader->fieldText(0), "AA");
    EXPECT_EQ(writer->rowText(0, 0), "AA");

    // A reopened cursor sees the other's appends and deletes.
    writer->first();
    writer->remove();
    writer->append();
    writer->setField("name", "y");
    writer->post();
    reader->close();
    reader->open();
    EXPECT_EQ(walk(*reader), (Strings{"b", "C", "y"}));
}

// --- many rows: more than the cache holds -----------------------------------

TEST_P(StoreCursorTest, RemovingEveryOtherRowKeepsNeighboursRight) {
    const Strings all = seedNumbered(3000);
    auto c = open("temp1");
    Connection::Transaction t(conn);
    c->first();
    while (!c->eof()) {
        c->remove();
        c->next();
    }
    t.commit();
    Strings kept;
    for (std::size_t i = 1; i < all.size(); i += 2)
        kept.push_back(all[i]);
    EXPECT_EQ(walk(*c), kept);
    EXPECT_EQ(stored("temp1", "1"), kept);
}

TEST_P(StoreCursorTest, DeleteAfterAnotherCursorsWriteKeepsNoStaleBlock) {
    const Strings all = seedNumbered(3000);
    auto reader = open("temp1");
    auto writer = open("temp1");
    EXPECT_EQ(reader->rowText(0, 0), "r1");
    writer->edit();
    writer->setField("1", "R1");
    writer->post();
    reader->moveTo(600);
    reader->remove();
    EXPECT_EQ(reader->rowText(0, 0), "R1");
    EXPECT_EQ(reader->fieldText(0), all[601]);
}

// Random reads, edits, appends and deletes on a book of several fields, more
// rows than the cache holds, with a second cursor editing now and then,
// checked against a plain model of the rows.
TEST_P(StoreCursorTest, RandomWorkMatchesAModel) {
    constexpr int kFields = 7;
    std::vector<Strings> model;
    std::string text = "BEGIN;";
    for (int r = 0; r < 2600; ++r) {
        Strings row;
        std::string values;
        for (int f = 0; f < kFields; ++f) {
            row.push_back("v" + std::to_string(r) + "_" + std::to_string(f));
            values += (f ? ",'" : "'") + row.back() + "'";
        }
        model.push_back(row);
        text += insertInto("2", kFields) + "(" + values + ");";
    }
    sql(text + "COMMIT;");
    auto c = open(tsl::table::shipments);
    auto other = open(tsl::table::shipments);
    std::mt19937 rng(20261208);
    auto pick = [&](int n) { return int(rng() % unsigned(n)); };

    Connection::Transaction t(conn);
    for (int step = 0; step < 4000; ++step) {
        const int n = int(model.size());
        const std::string text = "s" + std::to_string(step);
        switch (pick(6)) {
        case 0:
        case 1: {
            int r = pick(n), f = pick(kFields);
            ASSERT_EQ(c->rowText(r, f), model[std::size_t(r)][std::size_t(f)]) << "step " << step;
            break;
        }
        case 2: {
            int r = pick(n), f = pick(kFields);
            c->moveTo(r);
            c->edit();
            c->setField(c->fieldName(f), text);
            model[std::size_t(r)][std::size_t(f)] = text;
            pick(2) ? c->post() : c->next();
            break;
        }
        case 3: {
            c->append();
            Strings row(kFields);
            for (int f = 0; f < kFields; ++f)
                if (pick(2)) {
                    row[std::size_t(f)] = text + "_" + std::to_string(f);
                    c->setField(c->fieldName(f), row[std::size_t(f)]);
                }
            c->post();
            model.push_back(row);
            break;
        }
        case 4: {
            int r = pick(n);
            c->moveTo(r);
            c->remove();
            model.erase(model.begin() + r);
            break;
        }
        case 5: {
            int r = pick(n), f = pick(kFields);
            other->close();
            other->open();
            other->moveTo(r);
            other->edit();
            other->setField(other->fieldName(f), text + "o");
            other->post();
            model[std::size_t(r)][std::size_t(f)] = text + "o";
            break;
        }
        }
    }
    t.commit();
    ASSERT_EQ(c->recordCount(), int(model.size()));
    for (int f = 0; f < kFields; ++f) {
        Strings column;
        for (const auto& row : model)
            column.push_back(row[std::size_t(f)]);
        EXPECT_EQ(walk(*c, f), column) << f;
        EXPECT_EQ(stored("2", c->fieldName(f)), column) << f;
    }
}

// Appends land in the cached last block whatever its fill.
TEST_P(StoreCursorTest, AppendsAfterCachedLastRowReadBack) {
    for (int n : {0, 1, 255, 256, 257, 511, 512}) {
        SCOPED_TRACE(n);
        sql("DELETE FROM temp2;");
        Strings expected;
        std::string text = "BEGIN;";
        for (int i = 0; i < n; ++i) {
            expected.push_back("s" + std::to_string(i));
            text += insertInto("temp2") + "('" + expected.back() + "');";
        }
        sql(text + "COMMIT;");
        auto c = open("temp2");
        c->moveTo(n - 1);
        (void)c->fieldText(0);
        for (int k = 0; k < 3; ++k) {
            c->append();
            expected.push_back("a" + std::to_string(k));
            c->setField("1", expected.back());
            c->post();
        }
        for (int row = 0; row < int(expected.size()); ++row)
            ASSERT_EQ(c->rowText(row, 0), expected[std::size_t(row)]) << row;
        EXPECT_EQ(stored("temp2", "1"), expected);
    }
}

} // namespace
