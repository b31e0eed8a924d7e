#include "tests/support/storeledger.h"

#include "storage/engine.h"
#include "storage/pgengine.h"
#include "storage/pgsession.h"
#include "storage/schema.h"
#include "tests/support/pgserver.h"
#include "tests/support/tempdir.h"

#include <libpq-fe.h>
#include <sqlite3.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <stdexcept>
#include <thread>

namespace tsltest {

std::string storeName(Store store) { return store == Store::File ? "File" : "Server"; }

StoreLedger::StoreLedger(Store store) : store_(store) {
    if (store_ == Store::File) {
        std::filesystem::copy_file(indexTemplate(), file_, std::filesystem::copy_options::overwrite_existing);
        return;
    }
    static int serial = 0;
    address_ = sharedServer().uri();
    raw_ = std::make_unique<tsl::pg::Session>(address_);
    tsl::pg::ensureLayout(*raw_);
    name_ = "帐本 \"x\"'; DROP SCHEMA tessolan CASCADE; --/../" + std::to_string(::getpid()) + "-" + std::to_string(++serial);
    const std::string schema = tsl::pg::createLedger(*raw_, name_);
    raw_->exec("SELECT set_config('search_path', $1, false)", {tsl::pg::quoteIdent(schema)});
}

StoreLedger::~StoreLedger() = default;

void StoreLedger::connect(tsl::Connection& conn) const {
    if (store_ == Store::File)
        conn.setConnectionString(tsl::connectionString(file_));
    else
        conn.setServer(address_, name_);
    conn.connect();
}

void StoreLedger::sql(const std::string& text) const {
    if (store_ == Store::File)
        return sqlExec(file_, text);
    execOnServer(*raw_, text);
}

void execOnServer(tsl::pg::Session& s, const std::string& text) {
    PGresult* r = PQexec(s.handle(), text.c_str());
    const bool ok = PQresultStatus(r) == PGRES_COMMAND_OK || PQresultStatus(r) == PGRES_TUPLES_OK;
    const std::string why = PQresultErrorMessage(r);
    PQclear(r);
    if (!ok)
        throw std::runtime_error(text + ": " + why);
}

std::vector<std::vector<std::string>> StoreLedger::rows(const std::string& query) const {
    std::vector<std::vector<std::string>> out;
    if (store_ == Store::Server) {
        PGresult* r = PQexec(raw_->handle(), query.c_str());
        const bool ok = PQresultStatus(r) == PGRES_TUPLES_OK;
        for (int i = 0; ok && i < PQntuples(r); ++i) {
            out.emplace_back();
            for (int c = 0; c < PQnfields(r); ++c)
                out.back().emplace_back(PQgetvalue(r, i, c), std::size_t(PQgetlength(r, i, c)));
        }
        const std::string why = PQresultErrorMessage(r);
        PQclear(r);
        if (!ok)
            throw std::runtime_error(query + ": " + why);
        return out;
    }
    sqlite3* db = nullptr;
    sqlite3_stmt* st = nullptr;
    if (sqlite3_open_v2(file_.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK ||
        sqlite3_prepare_v2(db, query.c_str(), -1, &st, nullptr) != SQLITE_OK) {
        const std::string why = sqlite3_errmsg(db);
        sqlite3_close(db);
        throw std::runtime_error(query + ": " + why);
    }
    while (sqlite3_step(st) == SQLITE_ROW) {
        out.emplace_back();
        for (int c = 0; c < sqlite3_column_count(st); ++c) {
            const auto* t = reinterpret_cast<const char*>(sqlite3_column_text(st, c));
            out.back().emplace_back(t ? std::string(t, std::size_t(sqlite3_column_bytes(st, c))) : std::string());
        }
    }
    sqlite3_finalize(st);
    sqlite3_close(db);
    return out;
}

void StoreLedger::announce(tsl::Connection& conn) const {
    if (store_ == Store::File)
        return;
    auto& engine = dynamic_cast<tsl::PgEngine&>(conn.engine());
    const auto before = engine.fileVersion();
    raw_->exec("SELECT pg_notify($1, '')", {engine.channel()});
    for (int i = 0; i < 500; ++i) {
        if (engine.fileVersion() != before)
            return;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    throw std::runtime_error("the server's notice did not reach the program within 5 s");
}

} // namespace tsltest
