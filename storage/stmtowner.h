#pragma once
// An owner for a statement kept by pointer, without SQLite's header.
#include <memory>

struct sqlite3_stmt;

namespace tsl {

// Finalizes a statement held by pointer (a member, a cache entry) when let go.
struct StmtFinalizer {
    void operator()(sqlite3_stmt* st) const noexcept;
};
using StmtOwner = std::unique_ptr<sqlite3_stmt, StmtFinalizer>;

} // namespace tsl
