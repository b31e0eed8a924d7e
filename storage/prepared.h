#pragma once
#include "error.h"
#include "failure.h"

#include <sqlite3.h>

#include <string>
#include <string_view>

namespace tsl {

// A database handle of its own, closed when done (a null one too).
struct DbCloser {
    sqlite3* db = nullptr;
    ~DbCloser() { sqlite3_close_v2(db); }
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
        if (sqlite3_prepare_v2(db_, sql.c_str(), int(sql.size()), &st_, nullptr) != SQLITE_OK)
            fail();
    }
    ~Prepared() { sqlite3_finalize(st_); }
    Prepared(const Prepared&) = delete;
    Prepared& operator=(const Prepared&) = delete;

    [[nodiscard]] sqlite3_stmt* get() const { return st_; }
    // True with a row to read; false when done.
    bool step() {
        const int rc = sqlite3_step(st_);
        if (rc == SQLITE_ROW)
            return true;
        if (rc != SQLITE_DONE)
            fail();
        return false;
    }
    void reset() {
        sqlite3_reset(st_);
        sqlite3_clear_bindings(st_);
    }
    [[nodiscard]] std::string text(int col) const { return std::string(columnView(st_, col)); }
    void bindText(int i, const std::string& s) { sqlite3_bind_text(st_, i, s.data(), int(s.size()), SQLITE_TRANSIENT); }

private:
    [[noreturn]] void fail() const { throw Error(context_, sqliteError(db_)); }

    sqlite3* db_;
    std::string context_;
    sqlite3_stmt* st_ = nullptr;
};

} // namespace tsl
