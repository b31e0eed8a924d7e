#include "storage/connection.h"

#include "storage/cursor.h"
#include "storage/error.h"
#include "storage/failure.h"
#include "storage/fileops.h"
#include "storage/prepared.h"

#include <sqlite3.h>

#include <algorithm>
#include <cerrno>
#include <sys/stat.h>

namespace tsl {

namespace {

bool iequalsAscii(char a, char b) {
    auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; };
    return lower(a) == lower(b);
}

} // namespace

Connection::~Connection() { disconnect(); }

void Connection::setConnectionString(std::string s) {
    if (db_)
        throw Error("连接已打开,不能更改连接字符串");
    connStr_ = std::move(s);
}

std::string Connection::dataSource(const std::string& connStr) {
    static constexpr std::string_view key = "Data Source=";
    auto it = std::search(connStr.begin(), connStr.end(), key.begin(), key.end(), iequalsAscii);
    if (it == connStr.end())
        throw Error("连接字符串中没有数据源");
    auto start = it + key.size();
    auto end = std::find(start, connStr.end(), ';');
    std::string file(start, end);
    if (file.empty())
        throw Error("连接字符串中没有数据源");
    return file;
}

void Connection::setExclusive(bool on) {
    if (db_)
        throw Error("连接已打开,不能更改");
    exclusive_ = on;
}

void Connection::connect() {
    if (db_)
        return;
    std::string file = dataSource(connStr_);
    // sqlite would create a missing file with SQLITE_OPEN_CREATE; we never pass it,
    // but check first too so the message names the file.
    struct stat st {};
    if (::stat(file.c_str(), &st) != 0)
        throw errnoError(errno, file);
    if (!S_ISREG(st.st_mode))
        throw Error(Failure::MissingFile, file);
    if (exclusive_) {
        errno = 0;
        switch (lock_.tryLock(file)) {
        case FileLock::Result::Locked: break;
        case FileLock::Result::Busy: throw InUseError(file);
        case FileLock::Result::Failed: throw errnoError(errno ? errno : EACCES, file);
        }
    }
    // A failure below closes SQLite's handle first, then the lock goes.
    struct Unlock {
        FileLock& lock;
        bool keep = false;
        ~Unlock() {
            if (!keep)
                lock.unlock();
        }
    } unlockOnFailure{lock_};
    (void)setAsideStaleJournal(file);
    DbCloser opened; // until the connection is set up
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
    db_ = opened.release();
    unlockOnFailure.keep = true;
}

void Connection::disconnect() noexcept {
    if (!db_)
        return;
    auto cursors = cursors_;
    for (Cursor* c : cursors)
        c->connectionClosing();
    sqlite3_close_v2(db_);
    db_ = nullptr;
    lock_.unlock(); // after SQLite let go of the file
}

void Connection::exec(const char* sql) {
    if (!db_)
        throw Error("数据库没有连接");
    char* err = nullptr;
    if (sqlite3_exec(db_, sql, nullptr, nullptr, &err) != SQLITE_OK) {
        sqlite3_free(err);
        throw sqliteError(db_, dataSource(connStr_));
    }
}

void Connection::attach(Cursor* c) { cursors_.push_back(c); }

void Connection::detach(Cursor* c) noexcept {
    cursors_.erase(std::remove(cursors_.begin(), cursors_.end(), c), cursors_.end());
}

Connection::Transaction::Transaction(Connection& c) : conn_(c) { conn_.exec("BEGIN IMMEDIATE"); }

void Connection::rolledBack() noexcept {
    auto cursors = cursors_;
    for (Cursor* c : cursors)
        c->reloadAfterRollback();
}

Connection::Transaction::~Transaction() {
    if (!done_ && conn_.db_) {
        // Even when ROLLBACK itself fails (SQLite may have rolled back already after
        // an I/O error), the cursors must drop what they hold of the undone work.
        sqlite3_exec(conn_.db_, "ROLLBACK", nullptr, nullptr, nullptr);
        conn_.rolledBack();
    }
}

bool Connection::Transaction::active() const { return conn_.db_ && !sqlite3_get_autocommit(conn_.db_); }

void Connection::Transaction::renew() {
    if (done_ || active())
        return;
    conn_.rolledBack();
    conn_.exec("BEGIN IMMEDIATE");
}

void Connection::Transaction::commit() {
    conn_.exec("COMMIT");
    done_ = true;
}

} // namespace tsl
