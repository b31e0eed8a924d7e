#include "tests/support/pgserver.h"

#include <gtest/gtest.h>
#include <libpq-fe.h>

#include <filesystem>
#include <memory>

namespace {

using Conn = std::unique_ptr<PGconn, decltype(&PQfinish)>;

Conn connect(const std::string& uri) { return Conn(PQconnectdb(uri.c_str()), &PQfinish); }

std::string one(PGconn* c, const char* sql) {
    std::unique_ptr<PGresult, decltype(&PQclear)> r(PQexec(c, sql), &PQclear);
    if (PQresultStatus(r.get()) != PGRES_TUPLES_OK)
        return std::string("error: ") + PQerrorMessage(c);
    return PQgetvalue(r.get(), 0, 0);
}

} // namespace

// The server the tests start for themselves: reached on its socket and on
// loopback, restarted at the same address, gone without a trace at the end.
TEST(TestServer, StartsAnswersRestartsAndLeavesNothing) {
    std::string folder;
    {
        tsltest::PgServer pg;
        folder = pg.folder();
        for (const std::string& uri : {pg.uri(), pg.tcpUri()}) {
            SCOPED_TRACE(uri);
            Conn c = connect(uri);
            ASSERT_EQ(PQstatus(c.get()), CONNECTION_OK) << PQerrorMessage(c.get());
            EXPECT_EQ(one(c.get(), "SELECT current_user"), "tessolan");
            EXPECT_EQ(one(c.get(), "SHOW server_encoding"), "UTF8");
        }
        pg.stop();
        EXPECT_NE(PQstatus(connect(pg.uri()).get()), CONNECTION_OK);
        pg.start();
        Conn again = connect(pg.tcpUri());
        EXPECT_EQ(PQstatus(again.get()), CONNECTION_OK) << PQerrorMessage(again.get());
    }
    EXPECT_FALSE(std::filesystem::exists(folder));
}
