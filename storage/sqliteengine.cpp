#include "storage/sqliteengine.h"

#include "storage/error.h"
#include "storage/failure.h"
#include "storage/prepared.h"

namespace tsl {

std::unique_ptr<SqliteEngine> SqliteEngine::open(const std::string& file) {
    DbCloser opened; // until the engine owns it
    // One thread at a time uses a connection, so SQLite's own per-call locking
    // is only cost (it shows in every column read of a scan).
    int rc = sqlite3_open_v2(file.c_str(), &opened.db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc != SQLITE_OK)
        throw sqliteError(opened.db, file, rc);
    sqlite3* const db = opened.db;
    // A misspelt name must be an error, not a string literal.
    sqlite3_db_config(db, SQLITE_DBCONFIG_DQS_DML, 0, nullptr);
    sqlite3_db_config(db, SQLITE_DBCONFIG_DQS_DDL, 0, nullptr);
    sqlite3_busy_timeout(db, 5000);
    // Reading the schema here makes a file that is no database fail now, not later.
    // EXTRA, not FULL: a commit is the journal's removal, and only EXTRA syncs the
    // folder after it; under FULL a power cut can bring the journal back and roll
    // back a row the user was told is saved.
    char* err = nullptr;
    rc = sqlite3_exec(db, "PRAGMA journal_mode=DELETE; PRAGMA synchronous=EXTRA;", nullptr, nullptr, &err);
    sqlite3_free(err);
    if (rc != SQLITE_OK)
        throw sqliteError(db, file, rc);
    return std::unique_ptr<SqliteEngine>(new SqliteEngine(opened.release(), file));
}

std::unique_ptr<SqliteEngine> SqliteEngine::borrow(sqlite3* db, std::string file) {
    return std::unique_ptr<SqliteEngine>(new SqliteEngine(db, std::move(file), false));
}

SqliteEngine::~SqliteEngine() {
    version_.reset();
    if (owned_)
        sqlite3_close_v2(db_);
}

QueryPtr SqliteEngine::prepare(std::string_view sql, bool kept) {
    sqlite3_stmt* raw = nullptr;
    const int rc =
        sqlite3_prepare_v3(db_, sql.data(), int(sql.size()), kept ? SQLITE_PREPARE_PERSISTENT : 0, &raw, nullptr);
    StmtOwner st(raw);
    if (rc != SQLITE_OK)
        throw sqliteError(db_);
    return std::make_unique<SqliteQuery>(db_, st.release());
}

void SqliteEngine::exec(const char* sql) {
    char* err = nullptr;
    if (sqlite3_exec(db_, sql, nullptr, nullptr, &err) != SQLITE_OK) {
        sqlite3_free(err);
        throw sqliteError(db_, file_);
    }
}

std::int64_t SqliteEngine::changes() const { return sqlite3_changes64(db_); }

std::int64_t SqliteEngine::totalChanges() const { return sqlite3_total_changes64(db_); }

std::int64_t SqliteEngine::lastRowid() const { return sqlite3_last_insert_rowid(db_); }

std::pair<std::int64_t, std::int64_t> SqliteEngine::fileVersion() {
    if (!version_)
        version_ = prepare("SELECT (SELECT data_version FROM pragma_data_version), "
                           "(SELECT schema_version FROM pragma_schema_version)",
                           true);
    const ResetQuery done(*version_);
    if (!version_->step())
        throw Error(Failure::Other, file_, "读不出数据库的版本");
    return {version_->integer(0), version_->integer(1)};
}

void SqliteEngine::begin() { exec("BEGIN IMMEDIATE"); }

void SqliteEngine::commit() { exec("COMMIT"); }

void SqliteEngine::rollback() noexcept { sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr); }

bool SqliteEngine::inTransaction() const { return !sqlite3_get_autocommit(db_); }

} // namespace tsl
