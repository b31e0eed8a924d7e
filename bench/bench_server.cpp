// The cursor on a server ledger against raw libpq doing the same SQL on the same
// server (one of its own, started for the run): open and sum the shipment book,
// append one row, settle one customer, the overall report, and the delete of
// row 1 with the renumbering of every row after it. Raw reads a book in one
// result, as a plain program would; the cursor reads it in blocks, so its
// memory stays small.
#include "bench/benchutil.h"

#include "books/renumber.h"
#include "books/settlement.h"
#include "books/summary.h"
#include "storage/intconv.h"
#include "storage/pgsession.h"
#include "storage/undodelete.h"
#include "tests/support/pgserver.h"

#include <libpq-fe.h>

#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace tslbench {

namespace {

tsltest::PgServer& server() {
    static tsltest::PgServer pg;
    return pg;
}

std::string copyText(const std::string& v) {
    std::string out;
    for (char c : v) {
        if (c == '\\' || c == '\t' || c == '\n')
            out += '\\';
        out += c == '\t' ? 't' : c == '\n' ? 'n' : c;
    }
    return out;
}

std::string fieldList(std::string_view table = tsl::table::shipments) {
    std::string cols;
    for (std::string_view f : tsl::findTable(table)->fields)
        cols += (cols.empty() ? "" : ", ") + tsl::pg::quoteIdent(std::string(f));
    return cols;
}

// Rows 1..rows made by `row` into a book of the server (its name quoted, with schema).
void copyInto(tsl::pg::Session& s, const std::string& book, std::string_view table, int rows,
              std::vector<std::string> (*row)(long long)) {
    PGresult* r = PQexec(s.handle(), ("COPY " + book + " (" + fieldList(table) + ") FROM STDIN").c_str());
    const bool copying = PQresultStatus(r) == PGRES_COPY_IN;
    PQclear(r);
    if (!copying)
        throw std::runtime_error("COPY refused: " + std::string(PQerrorMessage(s.handle())));
    std::string buf;
    for (long long k = 1; k <= rows; ++k) {
        const std::vector<std::string> fields = row(k);
        for (std::size_t i = 0; i < fields.size(); ++i)
            buf += (i ? "\t" : "") + copyText(fields[i]);
        buf += '\n';
        if (buf.size() > (1 << 20) || k == rows) {
            if (PQputCopyData(s.handle(), buf.data(), int(buf.size())) != 1)
                throw std::runtime_error("COPY failed");
            buf.clear();
        }
    }
    PQputCopyEnd(s.handle(), nullptr);
    r = PQgetResult(s.handle());
    const bool done = PQresultStatus(r) == PGRES_COMMAND_OK;
    PQclear(r);
    while ((r = PQgetResult(s.handle())))
        PQclear(r);
    if (!done)
        throw std::runtime_error("COPY failed: " + std::string(PQerrorMessage(s.handle())));
    s.exec("VACUUM ANALYZE " + book);
}

std::string bookOf(tsl::pg::Session& s, const std::string& ledger, std::string_view table) {
    return tsl::pg::quoteIdent(*tsl::pg::schemaOf(s, ledger)) + "." + tsl::pg::quoteIdent(std::string(table));
}

// A server ledger with a shipment book of `rows` rows, made once per run under
// `kind`; a second kind copies the first on the server. Kind "report" holds
// the four books of rows / 4 rows each instead.
const std::string& serverLedger(int rows, const std::string& kind = "read") {
    static std::map<std::pair<std::string, int>, std::string> made;
    if (auto it = made.find({kind, rows}); it != made.end())
        return it->second;
    tsl::pg::Session s(server().uri());
    tsl::pg::ensureLayout(s);
    const std::string name = kind + " " + std::to_string(rows);
    const std::string book = tsl::pg::quoteIdent(tsl::pg::createLedger(s, name)) + ".\"2\"";
    if (kind == "report") {
        copyInto(s, bookOf(s, name, tsl::table::customers), tsl::table::customers, rows / 4, customerRow);
        copyInto(s, book, tsl::table::shipments, rows / 4, shipmentRow);
        copyInto(s, bookOf(s, name, tsl::table::purchases), tsl::table::purchases, rows / 4, purchaseRow);
        copyInto(s, bookOf(s, name, tsl::table::deliveries), tsl::table::deliveries, rows / 4, deliveryRow);
    } else if (kind != "read") {
        const std::string from = tsl::pg::quoteIdent(*tsl::pg::schemaOf(s, serverLedger(rows))) + ".\"2\"";
        s.exec("INSERT INTO " + book + " (" + fieldList() + ") SELECT " + fieldList() + " FROM " + from +
               " ORDER BY rowid");
        s.exec("VACUUM ANALYZE " + book);
    } else {
        copyInto(s, book, tsl::table::shipments, rows, shipmentRow);
    }
    return made[{kind, rows}] = name;
}

// The shipment book of a "renumber" ledger made whole again: the rows of the
// "read" one, as they were before a delete.
void refill(int rows) {
    tsl::pg::Session s(server().uri());
    const std::string book = bookOf(s, serverLedger(rows, "renumber"), tsl::table::shipments);
    s.exec("TRUNCATE " + book);
    s.exec("INSERT INTO " + book + " (" + fieldList() + ") SELECT " + fieldList() + " FROM " +
           bookOf(s, serverLedger(rows), tsl::table::shipments) + " ORDER BY rowid");
    s.exec("VACUUM ANALYZE " + book);
}

// The last stamp reads "(rows - 1)..." once the first row is gone and all are renumbered.
bool renumbered(int rows) {
    tsl::pg::Session s(server().uri());
    const tsl::pg::Result r = s.exec("SELECT \"日期\" FROM " + bookOf(s, serverLedger(rows, "renumber"), tsl::table::shipments) +
                                     " ORDER BY rowid DESC LIMIT 1");
    return r.rows() == 1 && r.text(0, 0) == stampOf(rows - 1);
}

struct ServerCursor {
    tsl::Connection conn;
    tsl::Cursor cur{conn};
    explicit ServerCursor(const std::string& ledger) {
        conn.setServer(server().uri(), ledger);
        conn.connect();
        cur.setTableName(std::string(tsl::table::shipments));
    }
};

// A plain libpq connection on the ledger's schema.
class RawPg {
public:
    explicit RawPg(const std::string& ledger) : c_(PQconnectdb(server().uri().c_str())) {
        if (PQstatus(c_) != CONNECTION_OK)
            throw std::runtime_error(PQerrorMessage(c_));
        tsl::pg::Session s(server().uri());
        run("SET search_path = " + tsl::pg::quoteIdent(*tsl::pg::schemaOf(s, ledger)), PGRES_COMMAND_OK);
    }
    ~RawPg() { PQfinish(c_); }
    RawPg(const RawPg&) = delete;
    RawPg& operator=(const RawPg&) = delete;

    PGresult* run(const std::string& sql, ExecStatusType want) {
        PGresult* r = PQexec(c_, sql.c_str());
        if (PQresultStatus(r) != want) {
            const std::string m = PQresultErrorMessage(r);
            PQclear(r);
            throw std::runtime_error(m);
        }
        if (want == PGRES_COMMAND_OK) {
            PQclear(r);
            return nullptr;
        }
        return r;
    }
    [[nodiscard]] PGconn* handle() const { return c_; }

private:
    PGconn* c_;
};

void sumCursor(benchmark::State& state, int rows) {
    ServerCursor on(serverLedger(rows));
    const long long expected = expectedSum(rows);
    for (auto _ : state) {
        long long sum = 0;
        on.cur.setOpenPass(tsl::amountPosition(2), [&sum](int, std::string_view text) { sum += tsl::strToInt(text); });
        record(state, Op::ServerOpenSum, rows, true, timed([&] {
                   on.cur.open();
                   on.cur.close();
               }));
        if (sum != expected)
            state.SkipWithError("wrong sum");
    }
}

// The cursor's own statements: the rowid span, then the rowids with the amounts.
void sumRaw(benchmark::State& state, int rows) {
    RawPg db(serverLedger(rows));
    const long long expected = expectedSum(rows);
    for (auto _ : state) {
        long long sum = 0;
        std::vector<std::int64_t> ids;
        record(state, Op::ServerOpenSum, rows, false, timed([&] {
                   PQclear(db.run("SELECT (SELECT min(rowid) FROM \"2\"), (SELECT max(rowid) FROM \"2\")",
                                  PGRES_TUPLES_OK));
                   PGresult* r = db.run("SELECT rowid, \"总金额\" FROM \"2\" ORDER BY rowid", PGRES_TUPLES_OK);
                   const int n = PQntuples(r);
                   ids.reserve(std::size_t(n));
                   for (int i = 0; i < n; ++i) {
                       ids.push_back(std::stoll(PQgetvalue(r, i, 0)));
                       sum += tsl::strToInt(std::string_view(PQgetvalue(r, i, 1), std::size_t(PQgetlength(r, i, 1))));
                   }
                   PQclear(r);
               }));
        if (sum != expected)
            state.SkipWithError("wrong sum");
    }
}

void postCursor(benchmark::State& state, int rows) {
    ServerCursor on(serverLedger(rows, "post"));
    on.cur.open();
    const auto* def = tsl::findTable(tsl::table::shipments);
    long long k = on.cur.recordCount();
    for (auto _ : state) {
        const std::vector<std::string> r = shipmentRow(++k);
        record(state, Op::ServerAppendPost, rows, true, timed([&] {
                   on.cur.append();
                   for (std::size_t i = 0; i < r.size(); ++i)
                       on.cur.setField(def->fields[i], r[i]);
                   on.cur.post();
               }));
    }
    if (on.cur.recordCount() != int(k))
        state.SkipWithError("rows missing");
}

void postRaw(benchmark::State& state, int rows) {
    RawPg db(serverLedger(rows, "post"));
    PQclear(db.run("PREPARE ins AS INSERT INTO \"2\" (" + fieldList() + ") VALUES ($1, $2, $3, $4, $5, $6, $7)",
                   PGRES_COMMAND_OK));
    long long k = rows;
    for (auto _ : state) {
        const std::vector<std::string> r = shipmentRow(++k);
        record(state, Op::ServerAppendPost, rows, false, timed([&] {
                   const char* values[7];
                   for (int i = 0; i < 7; ++i)
                       values[i] = r[std::size_t(i)].c_str();
                   PGresult* res = PQexecPrepared(db.handle(), "ins", 7, values, nullptr, nullptr, 0);
                   const bool ok = PQresultStatus(res) == PGRES_COMMAND_OK;
                   PQclear(res);
                   if (!ok)
                       throw std::runtime_error(PQerrorMessage(db.handle()));
               }));
    }
}

// ---- settlement: the book open, as the workspace has it ---------------------------------

void settleCursor(benchmark::State& state, int rows) {
    ServerCursor on(serverLedger(rows));
    on.cur.open();
    const long long expected = expectedSettled(rows);
    for (auto _ : state) {
        tsl::books::Settlement st;
        record(state, Op::ServerSettlement, rows, true, timed([&] { st = tsl::books::settle(on.cur, kSettled); }));
        if (st.total != expected || int(st.rows.size()) != rows / kMatchEvery)
            state.SkipWithError("wrong settlement");
    }
}

void settleRaw(benchmark::State& state, int rows) {
    RawPg db(serverLedger(rows));
    const long long expected = expectedSettled(rows);
    const std::string sql = "SELECT rowid, " + fieldList() +
                            " FROM \"2\" WHERE CAST(\"客户姓名\" AS TEXT) COLLATE \"C\" = $1 ORDER BY rowid";
    for (auto _ : state) {
        long long sum = 0;
        std::vector<std::vector<std::string>> found;
        record(state, Op::ServerSettlement, rows, false, timed([&] {
                   const char* name = kSettled.c_str();
                   PGresult* r = PQexecParams(db.handle(), sql.c_str(), 1, nullptr, &name, nullptr, nullptr, 0);
                   const int n = PQntuples(r), cols = PQnfields(r);
                   for (int i = 0; i < n; ++i) {
                       auto& row = found.emplace_back();
                       for (int c = 1; c < cols; ++c)
                           row.emplace_back(PQgetvalue(r, i, c), std::size_t(PQgetlength(r, i, c)));
                       sum += tsl::strToInt(row.back());
                   }
                   PQclear(r);
               }));
        if (sum != expected || int(found.size()) != rows / kMatchEvery)
            state.SkipWithError("wrong settlement");
    }
}

// ---- overall report: four books of rows / 4, counted and summed ----------------------------

void reportCursor(benchmark::State& state, int rows) {
    ServerCursor on(serverLedger(rows, "report"));
    const long long income = expectedSum(rows / 4) * -1;
    for (auto _ : state) {
        std::int64_t customers = 0;
        tsl::books::Summary b[3];
        record(state, Op::ServerOverallReport, rows, true, timed([&] {
                   customers = tsl::books::rowCountOf(on.conn, on.cur, tsl::table::customers);
                   b[0] = tsl::books::summaryOf(on.conn, on.cur, tsl::table::shipments);
                   b[1] = tsl::books::summaryOf(on.conn, on.cur, tsl::table::purchases);
                   b[2] = tsl::books::summaryOf(on.conn, on.cur, tsl::table::deliveries);
               }));
        if (customers != rows / 4 || b[0].total - b[1].total - b[2].total != income)
            state.SkipWithError("wrong report");
    }
}

void reportRaw(benchmark::State& state, int rows) {
    RawPg db(serverLedger(rows, "report"));
    const long long income = expectedSum(rows / 4) * -1;
    for (auto _ : state) {
        long long customers = 0, totals[3] = {0, 0, 0};
        record(state, Op::ServerOverallReport, rows, false, timed([&] {
                   PGresult* r = db.run("SELECT count(*) FROM \"1\"", PGRES_TUPLES_OK);
                   customers = std::stoll(PQgetvalue(r, 0, 0));
                   PQclear(r);
                   const char* books[] = {"2", "3", "4"};
                   for (int b = 0; b < 3; ++b) {
                       r = db.run("SELECT \"总金额\" FROM \"" + std::string(books[b]) + "\"", PGRES_TUPLES_OK);
                       for (int i = 0, n = PQntuples(r); i < n; ++i)
                           totals[b] += tsl::strToInt(std::string_view(PQgetvalue(r, i, 0), std::size_t(PQgetlength(r, i, 0))));
                       PQclear(r);
                   }
               }));
        if (customers != rows / 4 || totals[0] - totals[1] - totals[2] != income)
            state.SkipWithError("wrong report");
    }
}

// ---- delete row 1 and renumber every row after it, in one transaction ----------------------

void renumberCursor(benchmark::State& state, int rows) {
    for (auto _ : state) {
        refill(rows);
        {
            ServerCursor on(serverLedger(rows, "renumber"));
            on.cur.open();
            on.cur.first();
            // As the workspace deletes: 撤销删除 can put the row back.
            tsl::DeleteUndo undo{tsl::books::numberedStamp, tsl::books::numberedStampSql};
            record(state, Op::ServerDeleteRenumber, rows, true,
                   timed([&] { tsl::books::deleteRow(on.cur, {}, &undo); }));
        }
        if (!renumbered(rows))
            state.SkipWithError("stamps not renumbered");
    }
}

// The least raw SQL can do: the row removed and every stamp renumbered by one
// statement on the server, as the ledger-file bench does it.
void renumberRaw(benchmark::State& state, int rows) {
    for (auto _ : state) {
        refill(rows);
        {
            RawPg db(serverLedger(rows, "renumber"));
            record(state, Op::ServerDeleteRenumber, rows, false, timed([&] {
                       PQclear(db.run("BEGIN", PGRES_COMMAND_OK));
                       PQclear(db.run("DELETE FROM \"2\" WHERE rowid = (SELECT min(rowid) FROM \"2\")", PGRES_COMMAND_OK));
                       PQclear(db.run("UPDATE \"2\" SET \"日期\" = '(' || r.k || substr(\"日期\", strpos(\"日期\", ')')) "
                              "FROM (SELECT rowid AS id, row_number() OVER (ORDER BY rowid) AS k FROM \"2\") AS r "
                              "WHERE \"2\".rowid = r.id AND strpos(\"日期\", ')') > 0",
                              PGRES_COMMAND_OK));
                       PQclear(db.run("COMMIT", PGRES_COMMAND_OK));
                   }));
        }
        if (!renumbered(rows))
            state.SkipWithError("stamps not renumbered");
    }
}

} // namespace

void registerServer(int rows) {
    if (rows < 100'000)
        return;
    addPair("server", "open+sum", "cursor", sumCursor, sumRaw, rows, rows >= 1'000'000 ? 5 : 20);
    addPair("server", "append+post", "cursor", postCursor, postRaw, rows, 40);
    const bool large = rows >= 1'000'000;
    addPair("server", "settlement", "books", settleCursor, settleRaw, rows, large ? 5 : 20);
    addPair("server", "overall report", "books", reportCursor, reportRaw, rows, large ? 5 : 20);
    addPair("server", "delete+renumber", "books", renumberCursor, renumberRaw, rows, large ? 1 : 3);
}

} // namespace tslbench
