// A server for tests that drive the real program, and a look at its rows:
//   pgdesk serve LEDGER ADDRESS_FILE
//       starts a PostgreSQL server with the ledger LEDGER on it, writes the
//       server's address to ADDRESS_FILE and runs until SIGTERM or SIGINT (or
//       its input ends); SIGHUP restarts the server. Stops the server on the way out.
//   pgdesk numbered ADDRESS LEDGER BOOK
//       prints the book's rows count; fails saying why unless its serial numbers
//       are (1)..(N) in order, with no gap or repeat.
//   pgdesk field ADDRESS LEDGER BOOK N FIELD
//       prints field FIELD of the row numbered (N).
#include "storage/pgsession.h"
#include "storage/schema.h"
#include "tests/support/pgserver.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <fstream>
#include <iostream>
#include <string>
#include <utility>

#include <poll.h>
#include <unistd.h>

namespace {

using tsl::pg::quoteIdent;

volatile std::sig_atomic_t lastSignal = 0;
void onSignal(int s) { lastSignal = s; }

int serve(const std::string& ledger, const std::string& addressFile) {
    // Handlers, not a blocked mask: the server's programs inherit a mask.
    for (int s : {SIGTERM, SIGINT, SIGHUP})
        std::signal(s, onSignal);
    tsltest::PgServer server;
    {
        tsl::pg::Session s(server.tcpUri());
        tsl::pg::ensureLayout(s);
        (void)tsl::pg::createLedger(s, ledger);
    }
    {
        std::ofstream out(addressFile + ".part");
        out << server.tcpUri() << '\n';
    }
    std::rename((addressFile + ".part").c_str(), addressFile.c_str());
    for (;;) {
        const int s = lastSignal;
        lastSignal = 0;
        if (s == SIGHUP) {
            server.stop();
            server.start();
            continue;
        }
        if (s == SIGTERM || s == SIGINT)
            break;
        pollfd in{STDIN_FILENO, POLLIN, 0};
        char c;
        if (poll(&in, 1, 200) > 0 && read(STDIN_FILENO, &c, 1) <= 0)
            break; // the test that started this is gone
    }
    return 0;
}

std::string bookOf(tsl::pg::Session& s, const std::string& ledger, const std::string& book) {
    const auto schema = tsl::pg::schemaOf(s, ledger);
    if (!schema)
        throw std::runtime_error("no ledger " + ledger);
    return quoteIdent(*schema) + "." + quoteIdent(book);
}

// The n of a stamp "(n)date"; 0 when it has none.
long serialOf(const std::string& stamp) {
    if (stamp.size() < 3 || stamp[0] != '(')
        return 0;
    char* end = nullptr;
    const long n = std::strtol(stamp.c_str() + 1, &end, 10);
    return end && *end == ')' ? n : 0;
}

int numbered(const std::string& address, const std::string& ledger, const std::string& book) {
    tsl::pg::Session s(address);
    const tsl::pg::Result r =
        s.exec("SELECT " + quoteIdent(std::string(tsl::field::stamp)) + " FROM " + bookOf(s, ledger, book) + " ORDER BY rowid");
    std::cout << r.rows() << '\n';
    for (int i = 0; i < r.rows(); ++i) {
        if (serialOf(r.text(i, 0)) != i + 1) {
            std::cerr << "row " << i + 1 << " of " << r.rows() << " is numbered \"" << r.text(i, 0) << "\"\n";
            return 1;
        }
    }
    return 0;
}

int field(const std::string& address, const std::string& ledger, const std::string& book, long n,
          const std::string& name) {
    tsl::pg::Session s(address);
    const tsl::pg::Result r = s.exec("SELECT " + quoteIdent(std::string(tsl::field::stamp)) + ", " + quoteIdent(name) +
                                     " FROM " + bookOf(s, ledger, book));
    for (int i = 0; i < r.rows(); ++i)
        if (serialOf(r.text(i, 0)) == n)
            std::cout << r.text(i, 1) << '\n';
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    const std::string command = argc > 1 ? argv[1] : "";
    try {
        if (command == "serve" && argc == 4)
            return serve(argv[2], argv[3]);
        if (command == "numbered" && argc == 5)
            return numbered(argv[2], argv[3], argv[4]);
        if (command == "field" && argc == 7)
            return field(argv[2], argv[3], argv[4], std::atol(argv[5]), argv[6]);
    } catch (const std::exception& e) {
        std::cerr << "pgdesk: " << e.what() << '\n';
        return 1;
    }
    std::cerr << "usage: pgdesk serve LEDGER ADDRESS_FILE | numbered ADDRESS LEDGER BOOK"
                 " | field ADDRESS LEDGER BOOK N FIELD\n";
    return 2;
}
