#pragma once
// The engine on a PostgreSQL server (libpq): a ledger is a schema of one database
// (see pgsession.h). SQL comes in the program's dialect ("?" and "?N" parameters,
// rowid, quoted names) and is made the server's once, when prepared.
#include "storage/engine.h"

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

struct pg_conn;
struct pg_result;

namespace tsl {

namespace pg {
class Session;
}

// The program's SQL in the server's words: "?" numbered in order and "?N" kept
// as $N, "COLLATE BINARY" as the byte order "C", instr() as strpos(); quoted
// text is left alone.
// `params` gets the number of parameters.
[[nodiscard]] std::string serverDialect(std::string_view sql, int& params);

class PgEngine;

class PgQuery final : public Query {
public:
    enum class Kind { Read, Scan, Counted, Write };
    // A statement the engine keeps for every query of the same text: prepared
    // on the server once, however many queries come and go.
    // [0] the statement, [1] its plain form (below).
    struct Shared {
        bool prepared[2] = {false, false};
        int runs[2] = {0, 0};
    };
    // `plain`: a counted UPDATE or DELETE as it is, without counting and notifying
    // in the same statement, for inside a transaction (which notifies once, at its commit).
    PgQuery(PgEngine& engine, std::string name, std::string sql, int params, Kind kind, Shared* shared = nullptr,
            std::string plain = {});
    ~PgQuery() override;

    bool step() override;
    bool nextIdText(std::int64_t& id, std::string_view& text) override;
    void reset() noexcept override;
    void bindText(int i, std::string_view text) override;
    void bindInt(int i, std::int64_t v) override;
    void bindNull(int i) override;
    [[nodiscard]] int columnCount() const override;
    [[nodiscard]] std::string columnName(int col) const override;
    [[nodiscard]] bool isNull(int col) const override;
    [[nodiscard]] std::int64_t integer(int col) const override;
    [[nodiscard]] std::string_view text(int col) const override;

private:
    friend class PgEngine;
    void run();
    pg_result* execute(const char* const* values, int form = 0);
    void prepareOnServer(int form = 0);
    bool fetch();
    void sendFetch();
    void collect() noexcept; // the block asked for, into next_
    [[nodiscard]] pg_result* shape() const;

    PgEngine& e_;
    std::string name_; // the prepared statement's, and its scan cursor's
    std::string sql_;  // in the server's words
    Kind kind_;
    std::vector<std::string> values_;
    std::vector<char> given_; // per parameter: bound to a value (else NULL)
    pg_result* res_ = nullptr;
    pg_result* next_ = nullptr; // a block fetched ahead
    bool fetched_ = false;      // next_ holds the answer to the last FETCH sent
    int asked_ = 0;             // rows the last FETCH asked for
    mutable pg_result* desc_ = nullptr; // the columns, before the first step
    int row_ = -1;
    int rows_ = 0;
    bool started_ = false;
    std::string plain_, plainName_; // the plain form, when it has one
    Shared own_;
    Shared* shared_ = nullptr; // the engine's, when the statement is one it keeps
    bool scanning_ = false; // a server cursor is open and may have more rows
};

class PgEngine final : public Engine {
public:
    // Connects to `address` (libpq's URI or key=value form) and opens the
    // ledger called `ledger` there. Throws Error naming the cause.
    [[nodiscard]] static std::unique_ptr<PgEngine> open(const std::string& address, const std::string& ledger);
    ~PgEngine() override;

    [[nodiscard]] QueryPtr prepare(std::string_view sql, bool kept = false) override;
    void exec(const char* sql) override;
    [[nodiscard]] std::int64_t changes() const override { return changes_; }
    [[nodiscard]] std::int64_t totalChanges() const override { return total_; }
    [[nodiscard]] std::int64_t lastRowid() const override { return lastRowid_; }
    // First: notifications of other programs' commits on this ledger seen so far;
    // second: 0, as no program changes a server book's columns while it is open.
    [[nodiscard]] std::pair<std::int64_t, std::int64_t> fileVersion() override;
    void begin() override;
    void commit() override;
    void rollback() noexcept override;
    [[nodiscard]] bool inTransaction() const override;
    [[nodiscard]] bool isServer() const override { return true; }
    void onChangedElsewhere(std::function<void()> f) override { changedElsewhere_ = std::move(f); }

    [[nodiscard]] const std::string& schema() const { return schema_; }
    // The channel every committing write of this ledger notifies.
    [[nodiscard]] const std::string& channel() const { return channel_; }
    [[nodiscard]] pg_conn* handle() const;

private:
    friend class PgQuery;
    PgEngine(std::unique_ptr<pg::Session> s, std::string schema);

    // A result that is not `want` (or a lost connection) throws, after putting
    // the transaction state right; otherwise the result, owned by the caller.
    pg_result* check(pg_result* r, int want);
    [[noreturn]] void fail(pg_result* r);
    void simple(const std::string& sql, int want);
    void commitWith(const std::string& sql);
    // Scans run in a transaction of their own unless one is open; a write, or
    // begin(), commits it first (the scans' cursors are held over commits).
    // True when the scan's transaction is to begin with it.
    bool openScan(const std::string& cursor);
    void closeScan(const std::string& cursor) noexcept;
    void settle();
    void aborted() noexcept; // the server undid the open transaction
    bool scanAlive(const std::string& cursor) const { return scans_.count(cursor) != 0; }
    void write(PgQuery& q, const char* const* values, bool counted);
    void release(std::string name) noexcept;
    // Takes in a scan's block fetched ahead, so the connection is free for another statement.
    void quiet() noexcept;
    // Counts the notices of others' commits that arrived; true when there were any.
    bool takeNotices() noexcept;

    std::unique_ptr<pg::Session> s_;
    pg_conn* c_;
    std::string schema_;
    std::string channel_;
    std::string notify_; // the statement that tells the channel (the schema's name is the program's own)
    int serial_ = 0;
    std::vector<std::string> unused_; // prepared statements to deallocate
    // The statements of kept queries by their text as given: a cursor makes the
    // same few again and again (an edit per row of a renumbering), and each
    // would otherwise be parsed and planned by the server anew.
    struct Kept {
        std::string name, sql, plain;
        int params = 0;
        PgQuery::Kind kind = PgQuery::Kind::Read;
        PgQuery::Shared shared;
    };
    bool notifyAtCommit_ = false; // the open transaction wrote in plain form
    std::unordered_map<std::string, Kept> kept_;
    std::map<std::string, bool> scans_; // open scan cursors: declared in the open transaction
    bool scanTxn_ = false; // the open transaction is the scans' own
    PgQuery* inflight_ = nullptr; // the scan whose next block is on its way
    std::int64_t changes_ = 0, total_ = 0, lastRowid_ = 0;
    std::int64_t others_ = 0; // others' commits seen
    std::function<void()> changedElsewhere_;
};

} // namespace tsl
