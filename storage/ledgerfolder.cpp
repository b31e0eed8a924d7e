#include "storage/ledgerfolder.h"

#include "storage/fileops.h"
#include "storage/prepared.h"
#include "storage/schema.h"

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
        Prepared q(db, "SELECT EXISTS (SELECT 1 FROM " + quoteIdent(table) + ")");
        return q.step() ? sqlite3_column_int(q.get(), 0) : -1;
    } catch (const Error&) {
        return -1;
    }
}

// True when a journal a crash left beside `file` went.
bool settlesJournal(const std::string& file) noexcept {
    try {
        return settleJournal(file) == JournalState::Settled;
    } catch (...) {
        return false; // a file that cannot be read is not the tidy's to mend
    }
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
    if (!isUntouchedCopy(file))
        return false;
    const auto slash = file.find_last_of('/');
    return slash == std::string::npos ? removeOwnFile(".", file)
                                      : removeOwnFile(slash == 0 ? "/" : file.substr(0, slash), file.substr(slash + 1));
}

std::vector<std::string> tidyLedgerFolder(const std::vector<std::string>& listed) noexcept {
    std::vector<std::string> removed;
    try {
        std::vector<std::string> names = folderEntries(".");
        std::sort(names.begin(), names.end());

        for (const std::string& name : names) {
            // Plain files only: a link or a folder of such a name is not the program's.
            if (isTempCopyName(name) && removeOwnFile(".", name))
                removed.push_back(name);
        }
        for (const std::string& name : names) {
            if (!name.ends_with(kLedgerSuffix) || name == kIndexFile || isTempCopyName(name))
                continue;
            const std::string ledger = name.substr(0, name.size() - kLedgerSuffix.size());
            if (std::find(listed.begin(), listed.end(), ledger) != listed.end())
                continue;
            if (removeUntouchedCopy(name))
                removed.push_back(name);
        }
        for (const std::string& name : names) {
            if (name.ends_with(kLedgerSuffix) && !isTempCopyName(name) && settlesJournal(name))
                removed.push_back(name + "-journal");
        }
    } catch (...) {
        // Tidying is a courtesy: whatever stays is harmless.
    }
    return removed;
}

} // namespace tsl
