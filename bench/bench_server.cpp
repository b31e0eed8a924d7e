// The cursor on a server ledger against raw libpq doing the same SQL on the same
// server (one of its own, started for the run): open and sum the shipment book,
// and append one row. Raw reads the book in one result, as a plain program
// would; the cursor reads it in blocks, so its memory stays small.
#include "bench/benchutil.h"

#include "storage/intconv.h"
#include "storage/pgsession.h"
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

std::string fieldList() {
    std::string cols;
    for (std::string_view f : tsl::findTable(tsl::table::shipments)->fields)
        cols += (cols.empty() ? "" : ", ") + tsl::pg::quoteIdent(std::string(f));
    return cols;
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

// A server ledger with a shipment book of `rows` rows, made once per run under
// `kind`; a second kind copies the first on the server.
const std::string& serverLedger(int rows, const std::string& kind = "read") {
    static std::map<std::pair<std::string, int>, std::string> made;
    if (auto it = made.find({kind, rows}); it != made.end())
        return it->second;
    tsl::pg::Session s(server().uri());
    tsl::pg::ensureLayout(s);
    const std::string name = kind + " " + std::to_string(rows);
    const std::string book = tsl::pg::quoteIdent(tsl::pg::createLedger(s, name)) + ".\"2\"";
    if (kind != "read") {
        const std::string from = tsl::pg::quoteIdent(*tsl::pg::schemaOf(s, serverLedger(rows))) + ".\"2\"";
        s.exec("INSERT INTO " + book + " (" + fieldList() + ") SELECT " + fieldList() + " FROM " + from +
               " ORDER BY rowid");
    } else {
        PGresult* r = PQexec(s.handle(), ("COPY " + book + " (" + fieldList() + ") FROM STDIN").c_str());
        const bool copying = PQresultStatus(r) == PGRES_COPY_IN;
        PQclear(r);
        if (!copying)
            throw std::runtime_error("COPY refused: " + std::string(PQerrorMessage(s.handle())));
        std::string buf;
        for (long long k = 1; k <= rows; ++k) {
            const std::vector<std::string> row = shipmentRow(k);
            for (std::size_t i = 0; i < row.size(); ++i)
                buf += (i ? "\t" : "") + copyText(row[i]);
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
    }
    s.exec("VACUUM ANALYZE " + book);
    return made[{kind, rows}] = name;
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

} // namespace

void registerServer(int rows) {
    if (rows < 100'000)
        return;
    addPair("server", "open+sum", "cursor", sumCursor, sumRaw, rows, rows >= 1'000'000 ? 5 : 20);
    addPair("server", "append+post", "cursor", postCursor, postRaw, rows, 40);
}

} // namespace tslbench
