#include "ledgerfolder.h"

#include "fileops.h"
#include "prepared.h"
#include "schema.h"

#include <sqlite3.h>

#include <algorithm>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tsl {

namespace {

constexpr std::string_view kTempMark = ".mdb.tmp-";
constexpr std::size_t kTempTail = 6; // mkstemp's XXXXXX

// 1 when the table has a row, 0 when it is empty, -1 when it cannot be read.
int hasRows(sqlite3* db, std::string_view table) {
    try {
        Statement q(db, "SELECT EXISTS (SELECT 1 FROM " + quoteIdent(table) + ")");
        return q.step() ? sqlite3_column_int(q.get(), 0) : -1;
    } catch (const Error&) {
        return -1;
    }
}

// A journal SQLite never plays back: a crash cut its writing short before its
// header was on disk, so it is empty or starts with a zero byte. Plain files only.
bool isDeadJournal(const std::string& journal) {
    const int fd = ::open(journal.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat st {};
    unsigned char first = 1;
    const bool dead = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
                      (st.st_size == 0 || (::pread(fd, &first, 1, 0) == 1 && first == 0));
    ::close(fd);
    return dead;
}

// Plays back a journal a crash left beside `file` (SQLite does so on the first
// read with write access) and removes one it would never play back, which would
// otherwise stay until the next row is written. True when a journal went.
bool settleJournal(const std::string& file) {
    const std::string journal = file + "-journal";
    if (!fileExists(journal))
        return false;
    DbCloser h;
    if (sqlite3_open_v2(file.c_str(), &h.db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK ||
        sqlite3_exec(h.db, "SELECT count(*) FROM sqlite_master", nullptr, nullptr, nullptr) != SQLITE_OK)
        return false;
    if (!fileExists(journal))
        return true;
    // The write lock proves no one writes with this journal now.
    if (sqlite3_exec(h.db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) != SQLITE_OK)
        return false;
    const bool gone = isDeadJournal(journal) && ::unlink(journal.c_str()) == 0;
    if (gone)
        syncFolder(".");
    (void)sqlite3_exec(h.db, "ROLLBACK", nullptr, nullptr, nullptr);
    return gone;
}

} // namespace

bool isTempCopyName(const std::string& name) {
    std::string base = name;
    for (std::string_view suffix : {"-journal", "-wal", "-shm"})
        if (base.ends_with(suffix)) {
            base.resize(base.size() - suffix.size());
            break;
        }
    const auto mark = base.rfind(kTempMark);
    if (mark == std::string::npos || mark == 0 || base.size() != mark + kTempMark.size() + kTempTail)
        return false;
    return std::all_of(base.begin() + std::ptrdiff_t(mark + kTempMark.size()), base.end(), [](char c) {
        return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    });
}

bool isUntouchedCopy(const std::string& file) noexcept {
    try {
        struct stat st {};
        if (lstat(file.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
            return false;
        // A journal means someone wrote to it, and opening would play it back.
        for (const char* suffix : {"-journal", "-wal"})
            if (fileExists(file + suffix))
                return false;
        DbCloser h;
        if (sqlite3_open_v2(file.c_str(), &h.db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK)
            return false;
        for (const TableDef& t : schema()) {
            if (t.name != table::ledgers && hasRows(h.db, t.name) != 0)
                return false;
        }
        return true;
    } catch (...) {
        return false;
    }
}

bool removeUntouchedCopy(const std::string& file) noexcept {
    return isUntouchedCopy(file) && ::unlink(file.c_str()) == 0;
}

std::vector<std::string> tidyLedgerFolder(const std::vector<std::string>& listed) noexcept {
    std::vector<std::string> removed;
    try {
        std::vector<std::string> names = folderEntries(".");
        std::sort(names.begin(), names.end());

        for (const std::string& name : names) {
            if (isTempCopyName(name) && ::unlink(name.c_str()) == 0)
                removed.push_back(name);
        }
        for (const std::string& name : names) {
            if (!name.ends_with(kLedgerSuffix) || name == kIndexFile || isTempCopyName(name))
                continue;
            const std::string ledger = name.substr(0, name.size() - kLedgerSuffix.size());
            if (std::find(listed.begin(), listed.end(), ledger) != listed.end())
                continue;
            if (isUntouchedCopy(name) && ::unlink(name.c_str()) == 0)
                removed.push_back(name);
        }
        for (const std::string& name : names) {
            if (name.ends_with(kLedgerSuffix) && !isTempCopyName(name) && settleJournal(name))
                removed.push_back(name + "-journal");
        }
    } catch (...) {
        // Tidying is a courtesy: whatever stays is harmless.
    }
    return removed;
}

} // namespace tsl
