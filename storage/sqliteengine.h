#pragma once
// The engine on SQLite: a ledger is one SQLite file.
#include "storage/engine.h"

#include <memory>
#include <string>

struct sqlite3;

namespace tsl {

class SqliteEngine final : public Engine {
public:
    // Opens an existing file for reading and writing (never creates one), with
    // the durability the program keeps its books with. `file` names it in messages.
    [[nodiscard]] static std::unique_ptr<SqliteEngine> open(const std::string& file);
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
    SqliteEngine(sqlite3* db, std::string file) : db_(db), file_(std::move(file)) {}

    sqlite3* db_;
    std::string file_;
    QueryPtr version_; // fileVersion's, prepared on first use
};

} // namespace tsl
