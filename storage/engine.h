#pragma once
// What the cursor and the scans need of a database engine: prepared queries,
// their rows, and a few facts about the connection. The SQLite side is in
// sqliteengine.h; a second engine is a second implementation of these two classes.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

namespace tsl {

// A prepared query. Failures throw Error with the engine's words.
class Query {
public:
    virtual ~Query() = default;
    Query(const Query&) = delete;
    Query& operator=(const Query&) = delete;

    // True with a row to read; false when done.
    virtual bool step() = 0;
    // Steps and reads the row's first column as an integer and its second as text
    // (valid until the next step; "" for NULL): the one call per row of a scan.
    virtual bool nextIdText(std::int64_t& id, std::string_view& text) = 0;
    // Back to before the first step, bindings cleared.
    virtual void reset() noexcept = 0;

    // Parameters count from 1. Bound text is not copied: it must live until the
    // query is reset.
    virtual void bindText(int i, std::string_view text) = 0;
    virtual void bindInt(int i, std::int64_t v) = 0;
    virtual void bindNull(int i) = 0;

    [[nodiscard]] virtual int columnCount() const = 0;
    [[nodiscard]] virtual std::string columnName(int col) const = 0;
    [[nodiscard]] virtual bool isNull(int col) const = 0;
    [[nodiscard]] virtual std::int64_t integer(int col) const = 0;
    // Valid until the next step or reset; "" for NULL.
    [[nodiscard]] virtual std::string_view text(int col) const = 0;

protected:
    Query() = default;
};

using QueryPtr = std::unique_ptr<Query>;

// Resets a query when leaving scope, so a throw never leaves it mid-step.
class ResetQuery {
public:
    explicit ResetQuery(Query& q) noexcept : q_(q) {}
    ~ResetQuery() { q_.reset(); }
    ResetQuery(const ResetQuery&) = delete;
    ResetQuery& operator=(const ResetQuery&) = delete;

private:
    Query& q_;
};

// One open database. Used from one thread at a time.
class Engine {
public:
    virtual ~Engine() = default;
    Engine(const Engine&) = delete;
    Engine& operator=(const Engine&) = delete;

    // `kept`: the query is reused many times (a cursor's own), so the engine may
    // spend more on preparing it.
    [[nodiscard]] virtual QueryPtr prepare(std::string_view sql, bool kept = false) = 0;
    // Runs SQL without results.
    virtual void exec(const char* sql) = 0;

    // Rows changed by the last write, and by every write of this connection so far.
    [[nodiscard]] virtual std::int64_t changes() const = 0;
    [[nodiscard]] virtual std::int64_t totalChanges() const = 0;
    // The rowid the last insert gave its row.
    [[nodiscard]] virtual std::int64_t lastRowid() const = 0;
    // Moves when another connection writes the file (first) or anyone changes
    // its schema (second): what was read before may be stale.
    [[nodiscard]] virtual std::pair<std::int64_t, std::int64_t> fileVersion() = 0;

    // One transaction at a time; rollback() also when the engine ended it by itself.
    virtual void begin() = 0;
    virtual void commit() = 0;
    virtual void rollback() noexcept = 0;
    [[nodiscard]] virtual bool inTransaction() const = 0;

    // A store that several programs share at once (a ledger on a server): no file
    // lock guards it, and what others change reaches this one only through it.
    [[nodiscard]] virtual bool isServer() const { return false; }
    // Called after one of this connection's own statements took in news of
    // another program's change, which then no longer wakes a watcher of its socket.
    // It runs mid-statement: it may only note the news, not use the connection.
    virtual void onChangedElsewhere(std::function<void()> f) { (void)f; }

protected:
    Engine() = default;
};

} // namespace tsl
