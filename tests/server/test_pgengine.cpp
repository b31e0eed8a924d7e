#include "storage/connection.h"
#include "storage/cursor.h"
#include "storage/engine.h"
#include "storage/error.h"
#include "storage/pgengine.h"
#include "storage/pgsession.h"
#include "tests/support/pgserver.h"

#include <gtest/gtest.h>
#include <libpq-fe.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

using tsl::Connection;
using tsl::Cursor;
using tsl::pg::Session;
using Strings = std::vector<std::string>;

namespace {

tsltest::PgServer& server() {
    static tsltest::PgServer pg;
    return pg;
}

// A ledger of its own for each test, and a session outside the program's code.
class EngineTest : public ::testing::Test {
protected:
    std::unique_ptr<Session> raw;
    std::string name;

    void SetUp() override {
        static int serial = 0;
        raw = std::make_unique<Session>(server().uri());
        tsl::pg::ensureLayout(*raw);
        name = "engine/../" + std::to_string(++serial) + "\";'";
        const std::string schema = tsl::pg::createLedger(*raw, name);
        raw->exec("SELECT set_config('search_path', $1, false)", {tsl::pg::quoteIdent(schema)});
    }

    void connect(Connection& c) const {
        c.setServer(server().uri(), name);
        c.connect();
    }

    std::unique_ptr<Cursor> open(Connection& c, const std::string& table = "temp1") const {
        if (!c.connected())
            connect(c);
        auto cur = std::make_unique<Cursor>(c);
        cur->setTableName(table);
        cur->open();
        return cur;
    }

    [[nodiscard]] Strings stored(const std::string& table = "temp1") const {
        const tsl::pg::Result r = raw->exec("SELECT \"1\" FROM " + tsl::pg::quoteIdent(table) + " ORDER BY rowid");
        Strings out;
        for (int i = 0; i < r.rows(); ++i)
            out.push_back(r.text(i, 0));
        return out;
    }

    void seed(int n, const std::string& table = "temp1") const {
        raw->exec("INSERT INTO " + tsl::pg::quoteIdent(table) +
                  " (\"1\") SELECT CASE WHEN i % 3 = 0 THEN 'three' ELSE 'r' || i END FROM generate_series(1, $1) i",
                  {std::to_string(n)});
    }
};

std::string failureOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const tsl::Error& e) {
        return e.what();
    }
    return "done";
}

} // namespace

TEST(ServerDialect, ParametersAndByteOrderOutsideQuotes) {
    struct Case {
        const char* in;
        const char* out;
        int params;
    } const cases[] = {
        {"SELECT ? , ?", "SELECT $1 , $2", 2},
        {"UPDATE t SET \"a?\" = ?, b = '?' WHERE rowid = ?", "UPDATE t SET \"a?\" = $1, b = '?' WHERE rowid = $2", 2},
        {"SELECT ?3, ?", "SELECT $3, $4", 4},
        {"CAST(\"f\" AS TEXT) collate  Binary = ?1", "CAST(\"f\" AS TEXT) COLLATE \"C\" = $1", 1},
        {"SELECT 'collate binary', \"COLLATE BINARY\" FROM binary_t", "SELECT 'collate binary', \"COLLATE BINARY\" FROM binary_t", 0},
        {"SELECT 'it''s ?'", "SELECT 'it''s ?'", 0},
        {"substr(s, INSTR (s, ')')), instr, \"instr\"(x), 'instr('", "substr(s, strpos (s, ')')), instr, \"instr\"(x), 'instr('", 0},
    };
    for (const Case& c : cases) {
        int params = -1;
        EXPECT_EQ(tsl::serverDialect(c.in, params), c.out) << c.in;
        EXPECT_EQ(params, c.params) << c.in;
    }
}

TEST_F(EngineTest, OpeningALedgerNamesWhatIsWrong) {
    raw->exec("INSERT INTO tessolan.ledgers (name, schema_name) VALUES ('crafted', 'public')");
    raw->exec("INSERT INTO tessolan.ledgers (name, schema_name) VALUES ('crafted2', 'ledger_')");
    const struct {
        std::string ledger, said;
    } cases[] = {
        {"no such", "服务器上没有帐本\"no such\"!"},
        {"crafted", "服务器上的帐本目录已损坏!"},
        {"crafted2", "服务器上的帐本目录已损坏!"},
        {name, "done"},
    };
    for (const auto& c : cases) {
        Connection conn;
        conn.setServer(server().uri(), c.ledger);
        EXPECT_EQ(failureOf([&] { conn.connect(); }), c.said) << c.ledger;
        EXPECT_EQ(conn.connected(), c.said == "done");
        if (conn.connected()) { // code that speaks SQLite itself is told, not handed no handle
            EXPECT_EQ(failureOf([&] { (void)conn.handle(); }), "服务器上的帐本还不能做这件事!");
        }
    }
}

// Another program's commit moves the version (so a cursor reads its rows again);
// one's own writes do not.
TEST_F(EngineTest, OthersCommitsAreNoticedOwnAreNot) {
    Connection mine, theirs;
    auto c = open(mine);
    auto t = open(theirs);
    const auto before = mine.engine().fileVersion();
    c->append();
    c->setField("1", "own");
    c->post();
    EXPECT_EQ(mine.engine().fileVersion(), before);
    EXPECT_TRUE(c->restart());

    t->append();
    t->setField("1", "theirs");
    t->post();
    bool seen = false;
    for (int i = 0; i < 200 && !seen; ++i) {
        seen = mine.engine().fileVersion() != before;
        if (!seen)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_TRUE(seen) << "no notification within a second";
    EXPECT_FALSE(c->restart());
    c->close();
    c->open();
    EXPECT_EQ(c->recordCount(), 2);
    // A transaction notifies once it commits, not before: one that adds, and
    // one that only edits rows (as a renumbering does).
    for (const bool adds : {true, false}) {
        SCOPED_TRACE(adds);
        Connection::Transaction tx(theirs);
        if (adds) {
            t->append();
            t->setField("1", "later");
        } else {
            t->first();
            t->edit();
            t->setField("1", "edited");
        }
        t->post();
        const auto now = mine.engine().fileVersion();
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        EXPECT_EQ(mine.engine().fileVersion(), now);
        tx.commit();
        bool told = false;
        for (int i = 0; i < 200 && !told; ++i) {
            told = mine.engine().fileVersion() != now;
            if (!told)
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        EXPECT_TRUE(told) << "no notification within a second of the commit";
    }
    EXPECT_EQ(stored(), (Strings{"own", "edited", "later"}));
}

// A notice taken in by one's own statement (a scroll's block read, say) never
// reaches the socket: the engine tells whoever watches, once per piece of news.
TEST_F(EngineTest, NewsTakenInByOwnStatementsIsPassedOn) {
    Connection mine, theirs;
    auto c = open(mine);
    auto t = open(theirs);
    int told = 0;
    mine.engine().onChangedElsewhere([&] { ++told; });
    c->append();
    c->setField("1", "own");
    c->post();
    EXPECT_EQ(told, 0) << "one's own commit is no news";
    t->append();
    t->setField("1", "theirs");
    t->post();
    auto q = mine.engine().prepare("SELECT count(*) FROM temp1");
    for (int i = 0; i < 200 && told == 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        ASSERT_TRUE(q->step());
        q->reset();
    }
    EXPECT_EQ(told, 1) << "the news never reached the watcher";
    ASSERT_TRUE(q->step());
    q->reset();
    EXPECT_EQ(told, 1) << "told twice of one change";
}

// Whole-book passes read in blocks while other statements run between them:
// edits made while visiting matches, outside a transaction and inside one.
TEST_F(EngineTest, PassesLongerThanABlockWithWritesBetween) {
    constexpr int kRows = 100000; // half of them match: more than three blocks of a scan
    raw->exec("INSERT INTO temp1 (\"1\") SELECT CASE WHEN i % 2 = 0 THEN 'even' ELSE 'r' || i END"
              " FROM generate_series(1, $1) i",
              {std::to_string(kRows)});
    Connection conn;
    auto c = open(conn);
    ASSERT_EQ(c->recordCount(), kRows);
    const struct {
        bool inTransaction;
        const char* to;
        int every, visits;
    } passes[] = {{false, "x", 1000, kRows / 2}, {true, "done", 100, kRows / 2 - 50}};
    for (const auto& p : passes) {
        SCOPED_TRACE(p.inTransaction);
        std::unique_ptr<Connection::Transaction> tx;
        if (p.inTransaction)
            tx = std::make_unique<Connection::Transaction>(conn);
        int visits = 0;
        c->forEachMatch(0, "even", [&] {
            if (visits++ % p.every == 0) {
                c->edit();
                c->setField("1", p.to);
                c->post();
            }
            return true;
        });
        EXPECT_EQ(visits, p.visits);
        if (tx)
            tx->commit();
    }
    int n = 0, done = 0;
    c->scanColumn(0, [&](int row, std::string_view text) {
        EXPECT_EQ(row, n++);
        done += text == "done";
        return true;
    });
    EXPECT_EQ(n, kRows);
    EXPECT_EQ(done, 500);
    const Strings all = stored();
    EXPECT_EQ(all[1], "x");
    EXPECT_EQ(all[3], "done");
    EXPECT_EQ(all[kRows - 2], "r99999");
    EXPECT_EQ(all[kRows - 1], "even");
}

// A cursor makes the same statement for every row it writes (a renumbering
// edits each row): the server parses and plans it once, not per row.
TEST_F(EngineTest, ACursorsRepeatedStatementIsPreparedOnce) {
    seed(30);
    Connection conn;
    auto c = open(conn);
    for (c->first(); !c->eof(); c->next()) {
        c->edit();
        c->setField("1", "n" + std::to_string(c->currentRow()));
        c->post();
    }
    const tsl::QueryPtr q = conn.engine().prepare(
        "SELECT count(*), sum(generic_plans + custom_plans) FROM pg_prepared_statements WHERE statement LIKE '%UPDATE%'");
    ASSERT_TRUE(q->step());
    EXPECT_EQ(q->integer(0), 1);
    EXPECT_EQ(q->integer(1), 29); // the first run goes unprepared
    EXPECT_EQ(stored().back(), "n29");
}

// The server dooms a transaction at its first failed statement: the engine ends
// it at once, so the connection's transaction can begin anew, as after a
// transaction a file's engine ended by itself.
TEST_F(EngineTest, AFailedStatementEndsTheTransaction) {
    raw->exec("ALTER TABLE temp1 ADD CHECK (\"1\" <> 'bad')");
    Connection conn;
    auto c = open(conn);
    Connection::Transaction tx(conn);
    for (const char* v : {"undone", "bad"}) {
        c->append();
        c->setField("1", v);
        if (std::string(v) == "bad")
            EXPECT_THROW(c->post(), tsl::Error);
        else
            c->post();
    }
    EXPECT_FALSE(tx.active());
    c->cancel();
    tx.renew();
    EXPECT_TRUE(tx.active());
    EXPECT_EQ(c->recordCount(), 0) << "the undone row is dropped";
    c->append();
    c->setField("1", "kept");
    c->post();
    tx.commit();
    EXPECT_EQ(stored(), Strings{"kept"});
}

// A lost connection is said in the user's words, and a write it swallowed is
// never reported as done.
TEST_F(EngineTest, ALostConnectionIsSaidAndNoWriteCountsAsDone) {
    const std::string lost = "与服务器的连接已断开!";
    const struct {
        const char* what;
        bool inTransaction, post;
    } cases[] = {{"a post", false, true}, {"a commit", true, false}, {"a commit after a post met the loss", true, true}};
    for (const auto& k : cases) {
        SCOPED_TRACE(k.what);
        raw->exec("DELETE FROM temp1");
        Connection conn;
        auto c = open(conn);
        std::unique_ptr<Connection::Transaction> tx;
        if (k.inTransaction) {
            tx = std::make_unique<Connection::Transaction>(conn);
            c->append();
            c->setField("1", "unsaid");
            c->post();
        }
        const int pid = PQbackendPID(dynamic_cast<tsl::PgEngine&>(conn.engine()).handle());
        raw->exec("SELECT pg_terminate_backend($1::int)", {std::to_string(pid)});
        if (k.post) {
            c->append();
            c->setField("1", "unsaid too");
            EXPECT_EQ(failureOf([&] { c->post(); }), lost);
            EXPECT_TRUE(c->pending());
        }
        if (k.inTransaction) {
            EXPECT_EQ(failureOf([&] { tx->commit(); }), lost);
        }
        EXPECT_TRUE(stored().empty());
        tx.reset();
        c.reset();
    }
}
