#pragma once
// A connection to a PostgreSQL server (libpq) and the program's layout on it:
// one database holds the ledger index and every ledger, each ledger a schema of
// its own with the books' tables and a hidden row id. A ledger's name is only
// ever a parameter: the schema's name is made by the program.
#include "storage/error.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

struct pg_conn;
struct pg_result;

namespace tsl::pg {

// The version of the layout this program makes and reads.
inline constexpr int kLayoutVersion = 1;

// The result of a statement; rows of texts (NULL as "").
class Result {
public:
    explicit Result(pg_result* r = nullptr);
    [[nodiscard]] int rows() const;
    [[nodiscard]] std::string text(int row, int col) const;
    [[nodiscard]] bool isNull(int row, int col) const;

private:
    std::shared_ptr<pg_result> r_;
};

class Session {
public:
    // Connects to a server address in libpq's URI or key=value form. A failure
    // throws Error with a Chinese text naming the cause (no such server, wrong
    // password, no such database, the server not running).
    explicit Session(const std::string& address);
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // Runs one statement with text parameters ($1, $2...); throws Error.
    Result exec(const std::string& sql, const std::vector<std::optional<std::string>>& params = {});
    // A statement prepared once under `name` and run many times with text parameters.
    void prepare(const std::string& name, const std::string& sql, int params);
    Result execPrepared(const std::string& name, const std::vector<std::optional<std::string>>& params);
    // The host the session reached, for the chooser ("本机" for a local socket).
    [[nodiscard]] std::string hostLabel() const;
    [[nodiscard]] pg_conn* handle() const { return conn_; }
    // False once the connection is lost (the server stopped, the network dropped).
    [[nodiscard]] bool alive() const;

    // BEGIN..COMMIT; rolled back when left by an exception. Begun inside an open
    // transaction it is part of that one: it neither commits nor rolls back.
    // `mode` (e.g. "ISOLATION LEVEL REPEATABLE READ, READ ONLY") only for a transaction of its own.
    class Transaction {
    public:
        explicit Transaction(Session& s, const char* mode = nullptr);
        ~Transaction();
        void commit();
        Transaction(const Transaction&) = delete;
        Transaction& operator=(const Transaction&) = delete;

    private:
        Session& s_;
        bool done_ = false;
    };

private:
    pg_conn* conn_ = nullptr;
};

// The text of a failed connection attempt or a lost connection, in Chinese.
[[nodiscard]] std::string connectionFailureText(const std::string& libpqMessage);

// An identifier in double quotes, quotes inside doubled.
[[nodiscard]] std::string quoteIdent(const std::string& name);

// Makes the layout on an empty database, or upgrades an older one, in one
// transaction. A layout newer than this program's is refused.
void ensureLayout(Session& s);
[[nodiscard]] int layoutVersion(Session& s); // 0: none yet

// The ledgers in the order the chooser lists them.
[[nodiscard]] std::vector<std::string> listLedgers(Session& s);
// The schema of a ledger; none when no ledger has that name.
[[nodiscard]] std::optional<std::string> schemaOf(Session& s, const std::string& name);
// Makes a ledger with empty books in one transaction; an existing name is
// refused. Returns its schema.
std::string createLedger(Session& s, const std::string& name);
// The same inside a transaction the caller holds (BEGIN done), so that the
// books can be filled before anyone sees the ledger.
std::string createLedgerInTransaction(Session& s, const std::string& name);
// Removes a ledger and its books in one transaction.
void dropLedger(Session& s, const std::string& name);
// Gives a ledger another name (one statement). A name in use or a missing
// ledger is refused.
void renameLedger(Session& s, const std::string& from, const std::string& to);
// The schema of a listed ledger, only when it is one of the program's own
// making (ledger_<digits>): a crafted index row names nothing else. Throws.
[[nodiscard]] std::string ownSchemaOf(Session& s, const std::string& name);

// A program that opens a ledger holds it (a shared lock of the session, let go
// when the session ends or by releaseLedger), so that others can count it.
// Holding it again in the same session changes nothing.
void holdLedger(Session& s, const std::string& name);
void releaseLedger(Session& s, const std::string& name);
struct LedgerUse {
    std::string name;
    long long programs = 0; // sessions holding it
};
// Every ledger, in the list's order, with how many programs hold it.
[[nodiscard]] std::vector<LedgerUse> openCounts(Session& s);

// The address with any password taken out (key=value form then), for keeping
// in the user's settings; the address as it is when it holds none. Throws
// Error when it is no address libpq understands.
[[nodiscard]] std::string addressWithoutPassword(const std::string& address);

} // namespace tsl::pg
