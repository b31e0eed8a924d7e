// Several programs on one server ledger: serial numbers taken under the book's
// lock, edits of rows changed elsewhere refused, others' commits announced.
#include "books/renumber.h"
#include "storage/connection.h"
#include "storage/cursor.h"
#include "storage/error.h"
#include "storage/pgsession.h"
#include "storage/scan.h"
#include "storage/schema.h"
#include "storage/stamp.h"
#include "tests/support/pgserver.h"

#include <gtest/gtest.h>
#include <poll.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

using tsl::Connection;
using tsl::Cursor;
using Strings = std::vector<std::string>;

namespace {

tsltest::PgServer& server() {
    static tsltest::PgServer pg;
    return pg;
}

const std::string kBook(tsl::table::shipments);
const std::string kStamp(tsl::field::stamp);
const std::string kName(tsl::field::shipCustomer);

// A program of its own: its connection and its cursor on the book.
struct Desk {
    Connection conn;
    Cursor book{conn};
};

class SharedLedgerTest : public ::testing::Test {
protected:
    std::unique_ptr<tsl::pg::Session> raw;
    std::string name;

    void SetUp() override {
        static int serial = 0;
        raw = std::make_unique<tsl::pg::Session>(server().uri());
        tsl::pg::ensureLayout(*raw);
        name = "desk " + std::to_string(++serial);
        const std::string schema = tsl::pg::createLedger(*raw, name);
        raw->exec("SELECT set_config('search_path', $1, false)", {tsl::pg::quoteIdent(schema)});
    }

    std::unique_ptr<Desk> desk() const {
        auto d = std::make_unique<Desk>();
        d->conn.setServer(server().uri(), name);
        d->conn.connect();
        d->book.setTableName(kBook);
        d->book.open();
        return d;
    }

    // What a desk's add does: the number taken in the append's transaction.
    static void add(Desk& d, const std::string& who) {
        static const tsl::FixedClock clock({2026, 12, 9}, "yyyy-m-d");
        Connection::Transaction tx(d.conn);
        d.book.append();
        d.book.setField(kName, who);
        d.book.setField(kStamp, tsl::serialStamp(d.book.appendPosition(), clock));
        d.book.post();
        tx.commit();
    }

    Strings column(const std::string& field) const {
        const tsl::pg::Result r =
            raw->exec("SELECT " + tsl::pg::quoteIdent(field) + " FROM " + tsl::pg::quoteIdent(kBook) + " ORDER BY rowid");
        Strings out;
        for (int i = 0; i < r.rows(); ++i)
            out.push_back(r.text(i, 0));
        return out;
    }

    static Strings numbered(int from, int to) {
        Strings out;
        for (int k = from; k <= to; ++k)
            out.push_back("(" + std::to_string(k) + ")2026-12-9");
        return out;
    }
};

std::string failureOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const std::exception& e) {
        return e.what();
    }
    return "no failure";
}

// Whether the desk hears of another's commit since `seen` within a second,
// waiting on its socket as the workspace does.
bool heard(Desk& d, std::pair<std::int64_t, std::int64_t> seen) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(1);
    while (d.conn.engine().fileVersion() == seen) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
        pollfd p{d.conn.notificationSocket(), POLLIN, 0};
        if (left.count() <= 0 || ::poll(&p, 1, int(left.count())) != 1)
            return false;
    }
    return true;
}

TEST_F(SharedLedgerTest, TwoDesksAddingAtOnceNeverTakeTheSameNumber) {
    constexpr int kEach = 200;
    auto a = desk();
    auto b = desk();
    std::string failure;
    auto run = [&](Desk& d, const std::string& who) {
        try {
            for (int i = 0; i < kEach; ++i)
                add(d, who);
        } catch (const std::exception& e) {
            failure = e.what();
        }
    };
    std::thread ta(run, std::ref(*a), "a");
    std::thread tb(run, std::ref(*b), "b");
    ta.join();
    tb.join();
    ASSERT_EQ(failure, "");
    EXPECT_EQ(column(kStamp), numbered(1, 2 * kEach)); // in the order the rows went in
    const Strings who = column(kName);
    EXPECT_EQ(std::count(who.begin(), who.end(), "a"), kEach);
}

TEST_F(SharedLedgerTest, AnEditOfARowChangedElsewhereIsRefused) {
    struct Case {
        const char* what;
        const char* other; // the other desk's statement on row 1, run after the row was shown
        bool shownFirst;   // the dialog was filled before the other desk wrote
        const char* said;
        const char* stored; // row 1's customer afterwards
    };
    const Case cases[] = {
        {"nobody else wrote", nullptr, true, "no failure", "mine"},
        {"changed after shown", "UPDATE \"2\" SET \"客户姓名\" = 'theirs' WHERE rowid = 1", true,
         tsl::kRowChangedText, "theirs"},
        {"another field changed", "UPDATE \"2\" SET \"数量\" = '9' WHERE rowid = 1", true, tsl::kRowChangedText,
         "first"},
        {"removed after shown", "DELETE FROM \"2\" WHERE rowid = 1", true, tsl::kRowGoneText, ""},
        {"changed before the edit began", "UPDATE \"2\" SET \"客户姓名\" = 'theirs' WHERE rowid = 1", false,
         "no failure", "mine"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SetUp();
        raw->exec("INSERT INTO \"2\" (\"日期\", \"客户姓名\") VALUES ('(1)x', 'first'), ('(2)x', 'second')");
        auto d = desk();
        d->book.first();
        if (c.shownFirst)
            d->book.keepShown();
        if (c.other)
            raw->exec(c.other);
        if (!c.shownFirst)
            (void)d->book.refresh(); // what the desk shows is read after the change
        EXPECT_EQ(failureOf([&] {
                      d->book.edit();
                      d->book.setField(kName, "mine");
                      d->book.post();
                  }),
                  c.said);
        d->book.cancel();
        const Strings names = column(kName);
        EXPECT_EQ(names.size() == 2 ? names[0] : std::string(), c.stored);
    }
}

TEST_F(SharedLedgerTest, ADeleteRenumbersEveryRowAndIsAnnouncedToTheOthers) {
    auto a = desk();
    auto b = desk();
    for (int i = 0; i < 5; ++i)
        add(*a, "a");
    ASSERT_TRUE(b->book.refresh());
    add(*a, "late"); // (6): not among b's rows yet

    // b deletes (2) with its rows out of date: the numbering still covers (6).
    const auto seen = a->conn.engine().fileVersion();
    b->book.moveTo(1);
    tsl::books::deleteRow(b->book);
    EXPECT_EQ(column(kStamp), numbered(1, 5));

    // a hears of it within a second and, reading again, keeps its current row.
    a->book.moveTo(3);
    const std::int64_t current = a->book.rowidAt(3);
    ASSERT_TRUE(heard(*a, seen));
    EXPECT_TRUE(a->book.refresh());
    EXPECT_EQ(a->book.recordCount(), 5);
    EXPECT_EQ(a->book.rowidAt(a->book.currentRow()), current);
    EXPECT_EQ(a->book.fieldText(tsl::pos::stamp), "(3)2026-12-9");

    // a deleting the row b removed is told so, and nothing moves.
    a->book.moveTo(0);
    raw->exec("DELETE FROM \"2\" WHERE rowid = (SELECT min(rowid) FROM \"2\")");
    EXPECT_EQ(failureOf([&] { tsl::books::deleteRow(a->book); }), tsl::kRowGoneText);
    EXPECT_EQ(column(kStamp), numbered(2, 5));
}

// Another desk's edit of a stamp while a delete renumbers is numbered with the
// rest, never overwritten by what this desk read before it, and leaves no gap.
TEST_F(SharedLedgerTest, AStampEditedDuringTheRenumberingIsNumberedNotOverwritten) {
    auto a = desk();
    for (int i = 0; i < 4; ++i)
        add(*a, "a");
    a->book.moveTo(0);
    const auto editElsewhere = [&] {
        a->book.first();
        (void)a->book.fieldText(tsl::pos::stamp); // the rows read before the edit
        raw->exec("UPDATE \"2\" SET " + tsl::pg::quoteIdent(kStamp) + " = '(4)手改' WHERE rowid = (SELECT max(rowid) FROM \"2\")");
    };
    tsl::books::deleteRow(a->book, editElsewhere);
    Strings kept = numbered(1, 2);
    kept.push_back("(3)手改");
    EXPECT_EQ(column(kStamp), kept);
    EXPECT_EQ(a->book.recordCount(), 3);
    a->book.moveTo(2);
    EXPECT_EQ(a->book.fieldText(tsl::pos::stamp), "(3)手改") << "the desk shows what it wrote";
}

// The record dialogs' lists read a field by its place; the hidden row id is no field.
TEST_F(SharedLedgerTest, AListReadsItsTextsNotTheRowIds) {
    auto d = desk();
    const std::string list(tsl::table::garmentKinds);
    raw->exec("INSERT INTO " + tsl::pg::quoteIdent(list) + " (" + tsl::pg::quoteIdent(std::string(tsl::field::lookup)) +
              ") VALUES ('毛衣'), ('开衫')");
    const tsl::QueryPtr q = tsl::columnOf(d->conn, list, tsl::pos::lookupText);
    Strings texts;
    while (q->step())
        texts.emplace_back(q->text(0));
    EXPECT_EQ(texts, (Strings{"毛衣", "开衫"}));
    EXPECT_THROW((void)tsl::columnOf(d->conn, list, 1), tsl::Error);
}

} // namespace
