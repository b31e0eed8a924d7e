#pragma once
// The engine on SQLite: a ledger is one SQLite file.
#include "storage/engine.h"
#include "storage/failure.h"
#include "storage/prepared.h"

#include <sqlite3.h>

#include <memory>
#include <string>

namespace tsl {

// Defined here, final and inline, so that a pass that knows it holds one of
// these (rowscan.h) calls SQLite directly, without a virtual call per row.
class SqliteQuery final : public Query {
public:
    SqliteQuery(sqlite3* db, sqlite3_stmt* st) : db_(db), st_(st) {}

    bool step() override {
        const int rc = sqlite3_step(st_.get());
        if (rc == SQLITE_ROW)
            return true;
        if (rc != SQLITE_DONE)
            throw sqliteError(db_);
        return false;
    }
    bool nextIdText(std::int64_t& id, std::string_view& text) override {
        sqlite3_stmt* const st = st_.get();
        const int rc = sqlite3_step(st);
        if (rc != SQLITE_ROW) {
            if (rc != SQLITE_DONE)
                throw sqliteError(db_);
            return false;
        }
        id = sqlite3_column_int64(st, 0);
        text = columnView(st, 1);
        return true;
    }
    void reset() noexcept override {
        sqlite3_reset(st_.get());
        sqlite3_clear_bindings(st_.get());
    }
    void bindText(int i, std::string_view text) override {
        sqlite3_bind_text(st_.get(), i, text.data(), int(text.size()), SQLITE_STATIC);
    }
    void bindInt(int i, std::int64_t v) override { sqlite3_bind_int64(st_.get(), i, v); }
    void bindNull(int i) override { sqlite3_bind_null(st_.get(), i); }
    [[nodiscard]] int columnCount() const override { return sqlite3_column_count(st_.get()); }
    [[nodiscard]] std::string columnName(int col) const override {
        const char* name = sqlite3_column_name(st_.get(), col);
        return name ? name : "";
    }
    [[nodiscard]] bool isNull(int col) const override { return sqlite3_column_type(st_.get(), col) == SQLITE_NULL; }
    [[nodiscard]] std::int64_t integer(int col) const override { return sqlite3_column_int64(st_.get(), col); }
    [[nodiscard]] std::string_view text(int col) const override { return columnView(st_.get(), col); }

private:
    sqlite3* db_;
    StmtOwner st_;
};

class SqliteEngine final : public Engine {
public:
    // Opens an existing file for reading and writing (never creates one), with
    // the durability the program keeps its books with. `file` names it in messages.
    [[nodiscard]] static std::unique_ptr<SqliteEngine> open(const std::string& file);
    // An engine over a handle opened elsewhere (a ledger opened read-only for an
    // export), which stays open when the engine goes.
    [[nodiscard]] static std::unique_ptr<SqliteEngine> borrow(sqlite3* db, std::string file = {});
    ~SqliteEngine() override;

    [[nodiscard]] QueryPtr prepare(std::string_view sql, bool kept = false) override;
    void exec(const char* sql) override;
    [[nodiscard]] std::int64_t changes() const override;
    [[nodiscard]] std::int64_t totalChanges() const override;
    [[nodiscard]] std::int64_t lastRowid() const override;
    [[nodiscard]] std::pair<std::int64_t, std::int64_t> fileVersion() override;
    void begin() override;
    void commit() override;
    void rollback() noexcept override;
    [[nodiscard]] bool inTransaction() const override;

    // For the code that still speaks SQLite itself (backups, tools).
    [[nodiscard]] sqlite3* handle() const { return db_; }

private:
    SqliteEngine(sqlite3* db, std::string file, bool owned = true) : db_(db), file_(std::move(file)), owned_(owned) {}

    sqlite3* db_;
    std::string file_;
    bool owned_ = true; // closed with the engine; a borrowed handle is not
    QueryPtr version_;  // fileVersion's, prepared on first use
};

} // namespace tsl
