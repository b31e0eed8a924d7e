#include "storage/ledgerops.h"

#include "storage/backup.h"
#include "storage/connection.h"
#include "storage/error.h"
#include "storage/failure.h"
#include "storage/filelock.h"
#include "storage/fileops.h"
#include "storage/indexfiles.h"
#include "storage/ledgerfolder.h"
#include "storage/prepared.h"
#include "storage/schema.h"

#include <sqlite3.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <map>
#include <utility>

namespace tsl {

namespace {

LedgerStepHook stepHook = nullptr;

// Where a test may end the process: after each change on disk.
void step(std::string_view what) {
    if (stepHook)
        stepHook(what);
}

std::string parkedOf(const std::string& file) { return file + std::string(kParkedSuffix); }

bool isPlain(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// A ledger name that stays a file name in this folder.
void checkName(const std::string& name) {
    if (name.empty() || name.find('/') != std::string::npos || name.find('\0') != std::string::npos)
        throw Error(Failure::MissingFile, ledgerFileOf(name));
}

bool isListed(Connection& index, const std::string& name) {
    Prepared q(index.handle(), "SELECT 1 FROM " + quoteIdent(table::ledgers) + " WHERE " +
                                   quoteIdent(field::ledgerName) + " = ?");
    q.bindText(1, name);
    return q.step();
}

// Removes a temporary copy unless it was handed on.
struct TempFile {
    std::string path;
    ~TempFile() {
        if (!path.empty())
            (void)unlink(path.c_str());
    }
};

void checkSound(const std::string& file, const std::string& source) {
    DbCloser h;
    if (sqlite3_open_v2(file.c_str(), &h.db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK)
        throw Error(Failure::Damaged, source);
    try {
        Prepared check(h.db, "PRAGMA quick_check");
        if (!check.step() || columnView(check.get(), 0) != "ok")
            throw Error(Failure::Damaged, source);
        // A ledger has its books.
        for (std::string_view book : {table::customers, table::shipments, table::purchases, table::deliveries})
            Prepared(h.db, "SELECT count(*) FROM " + quoteIdent(book)).step();
    } catch (const Error& e) {
        if (e.kind() == Failure::Damaged)
            throw;
        throw Error(Failure::Damaged, source);
    }
}

// A new ledger's finished file `temp` becomes the file of `name`: parked, then
// listed, then put in place. See the header for why in this order.
void publishParked(Connection& index, const std::string& name, TempFile& temp) {
    const std::string file = ledgerFileOf(name);
    const std::string parked = parkedOf(file);
    renameNoReplace(temp.path, parked);
    temp.path.clear();
    syncFolder(".");
    step("parked");
    try {
        Connection::Transaction tx(index);
        Prepared add(index.handle(), "INSERT INTO " + quoteIdent(table::ledgers) + " (" +
                                         quoteIdent(field::ledgerName) + ") VALUES (?)");
        add.bindText(1, name);
        add.step();
        tx.commit();
    } catch (...) {
        (void)removeOwnFile(".", parked);
        syncFolder(".");
        throw;
    }
    step("listed");
    (void)setAsideStaleJournal(file);
    renameNoReplace(parked, file);
    syncFolder(".");
    step("placed");
}

// Holds the ledger's file for the program: refused when another holds it, or
// writes to it (a journal in use). Settles a journal a crash left.
void holdFile(FileLock& lock, const std::string& file) {
    errno = 0;
    switch (lock.tryLock(file)) {
    case FileLock::Result::Locked: break;
    case FileLock::Result::Busy: throw InUseError(file);
    case FileLock::Result::Failed: throw errnoError(errno ? errno : EACCES, file);
    }
    if (settleJournal(file) == JournalState::InUse || fileExists(file + "-journal"))
        throw InUseError(file);
}

// A snapshot that holds the file as it is now: the newest, or a new one.
std::string keepContents(const std::string& file, std::time_t now) {
    const auto holding = snapshotHolding(file);
    return holding ? holding->path : takeSnapshot(file, now).path;
}

void copyRows(sqlite3* to, sqlite3* from, std::string_view table, const std::string& source) {
    Prepared read(from, "SELECT * FROM " + quoteIdent(table) + " ORDER BY rowid", source + ": ");
    const int columns = sqlite3_column_count(read.get());
    std::string sql = "INSERT INTO " + quoteIdent(table) + " VALUES (";
    for (int i = 0; i < columns; ++i)
        sql += i ? ",?" : "?";
    sql += ")";
    Prepared write(to, sql);
    while (read.step()) {
        write.reset();
        for (int i = 0; i < columns; ++i)
            write.bindText(i + 1, std::string(columnView(read.get(), i)));
        write.step();
    }
}

} // namespace

void setLedgerStepHook(LedgerStepHook hook) noexcept { stepHook = hook; }

std::string ledgerFileOf(const std::string& name) { return name + std::string(kLedgerSuffix); }

void createLedgerFrom(Connection& index, const std::string& indexFile, const std::string& name,
                      const std::string& source) {
    checkName(name);
    checkName(source);
    const std::string file = ledgerFileOf(name);
    const std::string from = ledgerFileOf(source);
    if (fileExists(file) || fileExists(parkedOf(file)))
        throw Error(Failure::Exists, file);
    if (isListed(index, name))
        throw Error(Failure::Exists, file);
    if (!isPlain(from))
        throw Error(Failure::MissingFile, from);

    TempFile temp{copyDatabaseToTemp(indexFile, file)};
    step("copied");
    {
        DbCloser src;
        int rc = sqlite3_open_v2(from.c_str(), &src.db, SQLITE_OPEN_READONLY, nullptr);
        if (rc != SQLITE_OK)
            throw sqliteError(src.db, from, rc);
        sqlite3_busy_timeout(src.db, 5000);
        DbCloser dst;
        rc = sqlite3_open_v2(temp.path.c_str(), &dst.db, SQLITE_OPEN_READWRITE, nullptr);
        if (rc != SQLITE_OK)
            throw sqliteError(dst.db, file, rc);
        auto exec = [&](const char* sql) {
            char* err = nullptr;
            const int r = sqlite3_exec(dst.db, sql, nullptr, nullptr, &err);
            sqlite3_free(err);
            if (r != SQLITE_OK)
                throw sqliteError(dst.db, file, r);
        };
        exec("PRAGMA journal_mode=DELETE; PRAGMA synchronous=EXTRA;");
        // One transaction over the source's read too: the lists and the book
        // come from one state of the old ledger.
        char* err = nullptr;
        rc = sqlite3_exec(src.db, "BEGIN", nullptr, nullptr, &err);
        sqlite3_free(err);
        if (rc != SQLITE_OK)
            throw sqliteError(src.db, from, rc);
        exec("BEGIN");
        for (std::string_view t : {table::customers, table::customerNames, table::workerNames, table::purchaseSources,
                                   table::purchaseKinds, table::garmentKinds, table::workKinds})
            copyRows(dst.db, src.db, t, from);
        exec("COMMIT");
        sqlite3_exec(src.db, "COMMIT", nullptr, nullptr, nullptr);
    }
    step("filled");
    publishParked(index, name, temp);
}

void renameLedger(Connection& index, const std::string& from, const std::string& to) {
    checkName(from);
    checkName(to);
    const std::string oldFile = ledgerFileOf(from);
    const std::string newFile = ledgerFileOf(to);
    if (!isPlain(oldFile))
        throw Error(Failure::MissingFile, oldFile);
    if (fileExists(newFile) || fileExists(parkedOf(newFile)) || isListed(index, to))
        throw Error(Failure::Exists, newFile);
    if (!isListed(index, from))
        throw Error(Failure::MissingFile, oldFile);
    FileLock lock;
    holdFile(lock, oldFile);
    // A journal left beside no file would be played into this one.
    (void)setAsideStaleJournal(newFile);

    // Both names, then the row, then only the new name.
    if (::link(oldFile.c_str(), newFile.c_str()) != 0) {
        const int err = errno;
        // Without a second name for the file a kill could leave neither name.
        if (err == EPERM || err == EOPNOTSUPP || err == EMLINK || err == EXDEV)
            throw Error("帐本所在的磁盘不支持给文件建立第二个名字(硬链接),无法安全改名");
        throw errnoError(err, newFile);
    }
    syncFolder(".");
    step("linked");
    try {
        Connection::Transaction tx(index);
        Prepared set(index.handle(), "UPDATE " + quoteIdent(table::ledgers) + " SET " +
                                         quoteIdent(field::ledgerName) + " = ? WHERE " +
                                         quoteIdent(field::ledgerName) + " = ?");
        set.bindText(1, to);
        set.bindText(2, from);
        set.step();
        tx.commit();
    } catch (...) {
        (void)removeOwnFile(".", newFile);
        syncFolder(".");
        throw;
    }
    step("renamed row");
    (void)removeOwnFile(".", oldFile);
    syncFolder(".");
    step("unlinked");
    // The snapshots follow the ledger where nothing holds the new name's place.
    const std::string oldBackups = std::string(kBackupFolder) + "/" + oldFile;
    const std::string newBackups = std::string(kBackupFolder) + "/" + newFile;
    if (isRealFolder(oldBackups) && !fileExists(newBackups) && tryRenameNoReplace(oldBackups, newBackups))
        syncFolder(std::string(kBackupFolder));
}

std::string deleteLedger(Connection& index, const std::string& name, std::time_t now) {
    checkName(name);
    const std::string file = ledgerFileOf(name);
    const std::string parked = parkedOf(file);
    if (!isListed(index, name))
        throw Error(Failure::MissingFile, file);
    if (fileExists(parked))
        throw Error(Failure::Exists, parked);
    FileLock lock;
    std::string kept;
    const bool hasFile = fileExists(file);
    if (hasFile) {
        holdFile(lock, file);
        kept = keepContents(file, now);
        step("snapshot");
        renameNoReplace(file, parked);
        syncFolder(".");
        step("parked");
    }
    try {
        Connection::Transaction tx(index);
        Prepared del(index.handle(), "DELETE FROM " + quoteIdent(table::ledgers) + " WHERE " +
                                         quoteIdent(field::ledgerName) + " = ?");
        del.bindText(1, name);
        del.step();
        tx.commit();
    } catch (...) {
        if (hasFile && tryRenameNoReplace(parked, file))
            syncFolder(".");
        throw;
    }
    step("unlisted");
    if (hasFile) {
        (void)removeOwnFile(".", parked);
        syncFolder(".");
        step("removed");
    }
    return kept;
}

std::vector<std::string> deletedLedgers(const std::vector<std::string>& listed) {
    std::vector<std::string> out;
    const std::string folder(kBackupFolder);
    if (!isRealFolder(folder))
        return out;
    for (const std::string& n : folderEntries(folder)) {
        if (!n.ends_with(kLedgerSuffix) || n == kIndexFile || n.size() == kLedgerSuffix.size())
            continue;
        const std::string ledger = n.substr(0, n.size() - kLedgerSuffix.size());
        if (std::find(listed.begin(), listed.end(), ledger) != listed.end())
            continue;
        try {
            if (!listSnapshots(n).empty())
                out.push_back(ledger);
        } catch (const Error&) {
        }
    }
    std::sort(out.begin(), out.end());
    return out;
}

void restoreDeletedLedger(Connection& index, const std::string& name, const Snapshot& snapshot) {
    checkName(name);
    const std::string file = ledgerFileOf(name);
    const std::string folder = snapshotFolder(file);
    if (snapshot.path != folder + "/" + snapshot.name || !isPlain(snapshot.path))
        throw Error(Failure::MissingFile, snapshot.path);
    if (isListed(index, name) || fileExists(file) || fileExists(parkedOf(file)))
        throw Error(Failure::Exists, file);
    TempFile temp{copyDatabaseToTemp(snapshot.path, file)};
    checkSound(temp.path, snapshot.path);
    // The snapshot's time: the file is that snapshot's state, no new one needed.
    struct stat st;
    if (stat(snapshot.path.c_str(), &st) == 0) {
        const struct timespec times[2] = {st.st_atim, st.st_mtim};
        (void)utimensat(AT_FDCWD, temp.path.c_str(), times, 0);
    }
    publishParked(index, name, temp);
}

std::vector<std::string> ledgersInBackupFolder(const std::string& folder) {
    const std::string idx = folder + "/" + std::string(kStoredIndexFile);
    const auto names = ledgerNamesIn(idx);
    if (!isRealFolder(folder) || !names)
        throw Error(Failure::MissingFile, idx);
    std::vector<std::string> out;
    for (const std::string& n : *names) {
        if (n.empty() || n.find('/') != std::string::npos || std::find(out.begin(), out.end(), n) != out.end())
            continue;
        if (isPlain(folder + "/" + ledgerFileOf(n)))
            out.push_back(n);
    }
    return out;
}

std::string restoreLedgerFromFolder(Connection& index, const std::string& folder, const std::string& name,
                                    std::time_t now) {
    checkName(name);
    const std::string file = ledgerFileOf(name);
    const std::string source = folder + "/" + file;
    if (!isPlain(source))
        throw Error(Failure::MissingFile, source);
    const bool listed = isListed(index, name);
    const bool hasFile = fileExists(file);
    if (!listed && (hasFile || fileExists(parkedOf(file))))
        throw Error(Failure::Exists, file);

    FileLock lock;
    if (listed && hasFile)
        holdFile(lock, file);
    TempFile temp{copyDatabaseToTemp(source, file)};
    checkSound(temp.path, source);
    if (!listed) {
        publishParked(index, name, temp);
        return {};
    }
    if (!hasFile) {
        (void)setAsideStaleJournal(file);
        renameNoReplace(temp.path, file);
        temp.path.clear();
        syncFolder(".");
        return {};
    }
    // Never replaced before a snapshot holds what it was.
    const std::string kept = keepContents(file, now);
    step("snapshot");
    struct stat old;
    if (lstat(file.c_str(), &old) == 0 && S_ISREG(old.st_mode))
        (void)chmod(temp.path.c_str(), old.st_mode & 07777);
    replaceFile(temp.path, file);
    temp.path.clear();
    step("replaced");
    pruneSnapshots(file, now);
    return kept;
}

std::vector<std::string> settleLedgerFiles(const std::vector<std::string>& listed) noexcept {
    std::vector<std::string> done;
    try {
        auto isListedName = [&](const std::string& n) {
            return std::find(listed.begin(), listed.end(), n) != listed.end();
        };
        std::vector<std::string> names = folderEntries(".");
        std::sort(names.begin(), names.end());

        // A rename cut short: one file under two names. The listed one is its name.
        std::map<std::pair<dev_t, ino_t>, std::vector<std::string>> files;
        for (const std::string& n : names) {
            if (!n.ends_with(kLedgerSuffix) || n == kIndexFile || isTempCopyName(n))
                continue;
            struct stat st;
            if (lstat(n.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_nlink > 1)
                files[{st.st_dev, st.st_ino}].push_back(n);
        }
        for (const auto& [id, group] : files) {
            if (group.size() < 2)
                continue;
            std::vector<std::string> kept, stray;
            for (const std::string& n : group)
                (isListedName(n.substr(0, n.size() - kLedgerSuffix.size())) ? kept : stray).push_back(n);
            if (kept.size() != 1)
                continue; // not the program's doing
            for (const std::string& n : stray) {
                if (!removeOwnFile(".", n))
                    continue;
                done.push_back("removed " + n);
                // The snapshots follow, as the rename would have moved them.
                const std::string from = std::string(kBackupFolder) + "/" + n;
                const std::string to = std::string(kBackupFolder) + "/" + kept.front();
                if (isRealFolder(from) && !fileExists(to))
                    (void)tryRenameNoReplace(from, to);
            }
        }

        // Parked files: their ledger's file when it is listed, nobody's when not.
        const std::string tail = std::string(kLedgerSuffix) + std::string(kParkedSuffix);
        for (const std::string& n : names) {
            if (!n.ends_with(tail) || n.size() == tail.size() || !isPlain(n))
                continue;
            const std::string file = n.substr(0, n.size() - kParkedSuffix.size());
            const std::string ledger = file.substr(0, file.size() - kLedgerSuffix.size());
            if (!isListedName(ledger)) {
                if (removeOwnFile(".", n))
                    done.push_back("removed " + n);
            } else if (!fileExists(file)) {
                (void)setAsideStaleJournal(file);
                if (tryRenameNoReplace(n, file))
                    done.push_back("restored " + file);
            }
        }
        if (!done.empty()) {
            syncFolder(".");
            syncFolder(std::string(kBackupFolder));
        }
    } catch (...) {
        // Whatever stays is put right at the next start.
    }
    return done;
}

} // namespace tsl
