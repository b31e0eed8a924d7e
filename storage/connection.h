#pragma once
#include "storage/filelock.h"

#include <memory>
#include <string>
#include <vector>

struct sqlite3;

namespace tsl {

class Cursor;
class Engine;
class SqliteEngine;

// One database file, named by the "Data Source=" part of its connection string
// (relative to the current directory). A missing file is an error; connecting
// never creates a database. Used from one thread at a time.
class Connection {
public:
    Connection();
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    void setConnectionString(std::string s); // only while disconnected
    // A ledger on a server instead of a file: `address` in libpq's URI or
    // key=value form, `ledger` its name in the server's index. No file lock
    // applies there (several programs share it). Only while disconnected; an
    // empty address goes back to the file.
    void setServer(std::string address, std::string ledger);
    [[nodiscard]] bool onServer() const { return !address_.empty(); }
    [[nodiscard]] const std::string& serverLedger() const { return ledger_; }
    [[nodiscard]] const std::string& serverAddress() const { return address_; }
    // On a server, connected: the socket that becomes readable when another
    // program's commit is announced (Engine::fileVersion then moves); -1 otherwise.
    [[nodiscard]] int notificationSocket() const;
    [[nodiscard]] const std::string& connectionString() const { return connStr_; }
    // The file named by the "Data Source=" part; throws when there is none.
    [[nodiscard]] static std::string dataSource(const std::string& connStr);

    // While connected, hold an exclusive lock on the file, so that a second
    // program (or a second path to the same file) cannot write to it behind our
    // back. connect() then throws InUseError when another holds it. Only while
    // disconnected.
    void setExclusive(bool on);

    void connect();
    void disconnect() noexcept; // closes every cursor on this connection first
    [[nodiscard]] bool connected() const { return engine_ != nullptr; }

    // The SQLite handle of a ledger file (null while disconnected). Code that
    // speaks SQLite itself cannot serve a ledger on a server: it is told so
    // there, in words the user can read, rather than handed no handle.
    [[nodiscard]] sqlite3* handle() const;
    // The engine behind it; throws while disconnected.
    [[nodiscard]] Engine& engine() const;

    // Runs SQL without results (used for transactions and tools).
    void exec(const char* sql);

    // Bulk work in one transaction: commit() keeps it, destruction without commit rolls back.
    class Transaction {
    public:
        explicit Transaction(Connection& c);
        ~Transaction();
        Transaction(const Transaction&) = delete;
        Transaction& operator=(const Transaction&) = delete;
        void commit();
        // True while the transaction is open. After an I/O error or a full disk
        // SQLite may have rolled it back by itself.
        [[nodiscard]] bool active() const;
        // When SQLite ended the transaction by itself: the cursors drop what it
        // undid and a new transaction begins, so the work that follows still
        // lands in one piece.
        void renew();

    private:
        Connection& conn_;
        bool done_ = false;
    };

private:
    friend class Cursor;
    void attach(Cursor* c);
    void detach(Cursor* c) noexcept;
    void rolledBack() noexcept;

    std::string connStr_;
    std::string address_, ledger_; // a server's, when set
    std::unique_ptr<Engine> engine_;
    sqlite3* db_ = nullptr; // engine_'s
    std::vector<Cursor*> cursors_;
    bool exclusive_ = false;
    FileLock lock_;
};

} // namespace tsl
