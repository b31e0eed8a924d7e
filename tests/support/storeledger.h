#pragma once
// A ledger for a storage test that runs on both stores: a file of the test's
// folder, or a ledger on the test program's server.
#include "storage/connection.h"

#include <memory>
#include <string>
#include <vector>

namespace tsl::pg {
class Session;
}

namespace tsltest {

enum class Store { File, Server };

// "File" / "Server", for the names of parameterised tests.
[[nodiscard]] std::string storeName(Store store);

// Runs SQL (several statements) on a server session, outside the program's code;
// throws saying what failed.
void execOnServer(tsl::pg::Session& s, const std::string& text);

class StoreLedger {
public:
    // On a file: the built empty index copied into the current folder. On a
    // server: a new ledger (its name hostile to SQL and paths) on the shared
    // server, created by a session of the test's own. Throws saying why.
    explicit StoreLedger(Store store);
    ~StoreLedger();
    StoreLedger(const StoreLedger&) = delete;
    StoreLedger& operator=(const StoreLedger&) = delete;

    [[nodiscard]] Store store() const { return store_; }
    // Points a disconnected connection at the ledger and connects it.
    void connect(tsl::Connection& conn) const;
    // Runs SQL (several statements) outside the program's code, as another
    // program would. Rows are inserted naming their columns (a server's row id
    // comes first).
    void sql(const std::string& text) const;
    // Every column of every row a query gives, as text (NULL as "").
    [[nodiscard]] std::vector<std::vector<std::string>> rows(const std::string& query) const;
    // On a server, after sql(): the ledger's channel told as a committing
    // program tells it, and waited for until `conn` has seen it (Engine::fileVersion
    // moved). Nothing to do on a file, whose version moves by itself.
    void announce(tsl::Connection& conn) const;

private:
    Store store_;
    std::string file_ = "tsl.mdb";
    std::string address_, name_;
    std::unique_ptr<tsl::pg::Session> raw_;
};

} // namespace tsltest
