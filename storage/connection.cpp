#include "storage/connection.h"

#include "storage/cursor.h"
#include "storage/error.h"
#include "storage/failure.h"
#include "storage/fileops.h"
#include "storage/pgengine.h"
#include "storage/sqliteengine.h"

#include <libpq-fe.h>

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

Connection::Connection() = default;

Connection::~Connection() { disconnect(); }

void Connection::setConnectionString(std::string s) {
    if (engine_)
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

void Connection::setServer(std::string address, std::string ledger) {
    if (engine_)
        throw Error("连接已打开,不能更改连接字符串");
    address_ = std::move(address);
    ledger_ = std::move(ledger);
}

void Connection::setExclusive(bool on) {
    if (engine_)
        throw Error("连接已打开,不能更改");
    exclusive_ = on;
}

void Connection::connect() {
    if (engine_)
        return;
    if (onServer()) {
        engine_ = PgEngine::open(address_, ledger_);
        return;
    }
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
    auto engine = SqliteEngine::open(file);
    db_ = engine->handle();
    engine_ = std::move(engine);
    unlockOnFailure.keep = true;
}

void Connection::disconnect() noexcept {
    if (!engine_)
        return;
    auto cursors = cursors_;
    for (Cursor* c : cursors)
        c->connectionClosing();
    engine_.reset();
    db_ = nullptr;
    lock_.unlock(); // after SQLite let go of the file
}

void Connection::exec(const char* sql) {
    engine().exec(sql);
}

void Connection::attach(Cursor* c) { cursors_.push_back(c); }

void Connection::detach(Cursor* c) noexcept {
    cursors_.erase(std::remove(cursors_.begin(), cursors_.end(), c), cursors_.end());
}

sqlite3* Connection::handle() const {
    if (engine_ && !db_)
        throw Error("服务器上的帐本还不能做这件事!");
    return db_;
}

int Connection::notificationSocket() const {
    const auto* pg = dynamic_cast<const PgEngine*>(engine_.get());
    return pg ? PQsocket(pg->handle()) : -1;
}

Engine& Connection::engine() const {
    if (!engine_)
        throw Error("数据库没有连接");
    return *engine_;
}

Connection::Transaction::Transaction(Connection& c) : conn_(c) { conn_.engine().begin(); }

void Connection::rolledBack() noexcept {
    auto cursors = cursors_;
    for (Cursor* c : cursors)
        c->reloadAfterRollback();
}

Connection::Transaction::~Transaction() {
    if (!done_ && conn_.engine_) {
        // Even when ROLLBACK itself fails (SQLite may have rolled back already after
        // an I/O error), the cursors must drop what they hold of the undone work.
        conn_.engine_->rollback();
        conn_.rolledBack();
    }
}

bool Connection::Transaction::active() const { return conn_.engine_ && conn_.engine_->inTransaction(); }

void Connection::Transaction::renew() {
    if (done_ || active())
        return;
    conn_.rolledBack();
    conn_.engine().begin();
}

void Connection::Transaction::commit() {
    conn_.engine().commit();
    done_ = true;
}

} // namespace tsl
