#pragma once
#include "storage/error.h"
#include "storage/failure.h"
#include "storage/stmtowner.h"

#include <sqlite3.h>

#include <string>
#include <string_view>
#include <utility>

namespace tsl {

// A database handle of its own, closed when done (a null one too).
struct DbCloser {
    sqlite3* db = nullptr;
    ~DbCloser() { sqlite3_close_v2(db); }
    // Hands the handle on to an owner that closes it itself.
    sqlite3* release() noexcept { return std::exchange(db, nullptr); }
};

// Resets a statement and clears its bindings when leaving scope, so a throw
// never leaves it mid-step. A null statement is left alone.
class ResetOnExit {
public:
    explicit ResetOnExit(sqlite3_stmt* st) noexcept : st_(st) {}
    ~ResetOnExit() {
        if (st_) {
            sqlite3_reset(st_);
            sqlite3_clear_bindings(st_);
        }
    }
    ResetOnExit(const ResetOnExit&) = delete;
    ResetOnExit& operator=(const ResetOnExit&) = delete;

private:
    sqlite3_stmt* st_;
};

// A column of the current row as text, valid until the next step; "" for NULL.
inline std::string_view columnView(sqlite3_stmt* st, int col) {
    const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(st, col));
    return p ? std::string_view(p, std::size_t(sqlite3_column_bytes(st, col))) : std::string_view();
}

// A prepared statement of its own, finalized when done. A failure to prepare or
// to step throws Error with SQLite's message, after `context` when one is given.
class Prepared {
public:
    Prepared(sqlite3* db, const std::string& sql, std::string context = {}) : db_(db), context_(std::move(context)) {
        if (!db_)
            throw Error("数据库没有连接");
        sqlite3_stmt* st = nullptr;
        const int rc = sqlite3_prepare_v2(db_, sql.c_str(), int(sql.size()), &st, nullptr);
        st_.reset(st);
        if (rc != SQLITE_OK)
            fail();
    }
    Prepared(const Prepared&) = delete;
    Prepared& operator=(const Prepared&) = delete;

    [[nodiscard]] sqlite3_stmt* get() const { return st_.get(); }
    // True with a row to read; false when done.
    bool step() {
        const int rc = sqlite3_step(st_.get());
        if (rc == SQLITE_ROW)
            return true;
        if (rc != SQLITE_DONE)
            fail();
        return false;
    }
    void reset() {
        sqlite3_reset(st_.get());
        sqlite3_clear_bindings(st_.get());
    }
    [[nodiscard]] std::string text(int col) const { return std::string(columnView(st_.get(), col)); }
    void bindText(int i, const std::string& s) {
        sqlite3_bind_text(st_.get(), i, s.data(), int(s.size()), SQLITE_TRANSIENT);
    }

private:
    [[noreturn]] void fail() const { throw Error(context_, sqliteError(db_)); }

    sqlite3* db_;
    std::string context_;
    StmtOwner st_;
};

} // namespace tsl
