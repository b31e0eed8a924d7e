#include "storage/backup.h"

#include "storage/error.h"
#include "storage/failure.h"
#include "storage/filelock.h"
#include "storage/fileops.h"
#include "storage/prepared.h"
#include "storage/schema.h"

#include <sqlite3.h>

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <future>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <set>

namespace tsl {

namespace {

constexpr std::string_view kSnapshotSuffix = ".mdb";
constexpr std::string_view kTempMark = ".tmp-";
constexpr std::string_view kBackupAllPrefix = "tessolan-备份-";

std::tm localTime(std::time_t t) {
    std::tm tm{};
    localtime_r(&t, &tm);
    return tm;
}

std::string stampName(std::time_t now, int seq) {
    const std::tm tm = localTime(now);
    char buf[40];
    std::snprintf(buf, sizeof buf, "%04d%02d%02d-%02d%02d%02d", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
                  tm.tm_hour, tm.tm_min, tm.tm_sec);
    std::string s = buf;
    if (seq > 0)
        s += "-" + std::to_string(seq);
    return s;
}

// The six letters or digits a temporary name ends in.
bool isRandomTail(std::string_view s) {
    return s.size() == 6 && std::all_of(s.begin(), s.end(), [](char c) {
               return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
           });
}

bool allDigits(std::string_view s) {
    return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

int num(std::string_view s) {
    int v = 0;
    for (char c : s)
        v = v * 10 + (c - '0');
    return v;
}

// "YYYYMMDD-HHMMSS[-N].mdb"; false for anything else.
bool parseName(const std::string& name, Snapshot& out) {
    std::string_view n = name;
    if (!n.ends_with(kSnapshotSuffix))
        return false;
    n.remove_suffix(kSnapshotSuffix.size());
    if (n.size() < 15 || n[8] != '-' || !allDigits(n.substr(0, 8)) || !allDigits(n.substr(9, 6)))
        return false;
    int seq = 0;
    if (n.size() > 15) {
        if (n[15] != '-' || !allDigits(n.substr(16)) || n.size() > 20)
            return false;
        seq = num(n.substr(16));
        if (seq < 2)
            return false;
    }
    std::tm tm{};
    tm.tm_year = num(n.substr(0, 4)) - 1900;
    tm.tm_mon = num(n.substr(4, 2)) - 1;
    tm.tm_mday = num(n.substr(6, 2));
    tm.tm_hour = num(n.substr(9, 2));
    tm.tm_min = num(n.substr(11, 2));
    tm.tm_sec = num(n.substr(13, 2));
    tm.tm_isdst = -1;
    if (tm.tm_mon < 0 || tm.tm_mon > 11 || tm.tm_mday < 1 || tm.tm_mday > 31 || tm.tm_hour > 23 ||
        tm.tm_min > 59 || tm.tm_sec > 60)
        return false;
    const std::time_t t = mktime(&tm);
    if (t == static_cast<std::time_t>(-1))
        return false;
    out.name = name;
    out.time = t;
    out.seq = seq;
    return true;
}

bool isDirectory(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// A plain file, not a link to one.
bool isPlainFile(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// The snapshot folder of a file, as the program made it: "backups" and the
// folder in it are folders themselves, never links to another place.
bool snapshotFolderIsOwn(const std::string& folder) {
    return isRealFolder(std::string(kBackupFolder)) && isRealFolder(folder);
}

bool sameMtime(const struct stat& a, const struct stat& b) {
    return a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec && a.st_size == b.st_size;
}

// Day and month numbers that grow by one from one local day (month) to the next.
long dayNumber(std::time_t t) {
    const std::tm tm = localTime(t);
    // Days since a fixed epoch, from the civil date (no time zone arithmetic).
    int y = tm.tm_year + 1900;
    const int m = tm.tm_mon + 1;
    y -= m <= 2;
    const long era = (y >= 0 ? y : y - 399) / 400;
    const long yoe = y - era * 400;
    const long doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + tm.tm_mday - 1;
    const long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe;
}

long monthNumber(std::time_t t) {
    const std::tm tm = localTime(t);
    return (tm.tm_year + 1900L) * 12 + tm.tm_mon;
}

bool olderThan(const Snapshot& a, const Snapshot& b) {
    return a.time != b.time ? a.time < b.time : a.seq < b.seq;
}

// True when the copy is a sound database.
bool passesCheck(const std::string& file) {
    DbCloser h;
    if (sqlite3_open_v2(file.c_str(), &h.db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK)
        return false;
    try {
        Prepared check(h.db, "PRAGMA quick_check");
        return check.step() && columnView(check.get(), 0) == "ok";
    } catch (const Error&) {
        return false;
    }
}

// "<snapshot name>.tmp-XXXXXX" or "restore.tmp-XXXXXX", with or without
// SQLite's "-journal" beside it: the copies a crash cut short in a snapshot folder.
bool isSnapshotTempName(const std::string& name) {
    std::string_view n = name;
    if (n.ends_with("-journal"))
        n.remove_suffix(std::string_view("-journal").size());
    if (n.size() < kTempMark.size() + 6)
        return false;
    const std::string_view tail = n.substr(n.size() - 6);
    n.remove_suffix(6);
    if (!n.ends_with(kTempMark) || !isRandomTail(tail))
        return false;
    n.remove_suffix(kTempMark.size());
    Snapshot ignored;
    return n == "restore" || parseName(std::string(n), ignored);
}

// Removes what this program wrote in a snapshot folder and a crash left: its
// temporary copies, plain files only.
void removeTemps(const std::string& folder) {
    for (const std::string& n : folderEntries(folder)) {
        if (isSnapshotTempName(n))
            (void)removeOwnFile(folder, n);
    }
}

} // namespace

std::string snapshotFolder(const std::string& file) {
    if (file.empty() || file == "." || file == ".." || file.find('/') != std::string::npos)
        throw Error(Failure::MissingFile, file);
    return std::string(kBackupFolder) + "/" + file;
}

std::vector<Snapshot> listSnapshots(const std::string& file) {
    const std::string folder = snapshotFolder(file);
    std::vector<Snapshot> out;
    if (!snapshotFolderIsOwn(folder))
        return out;
    for (const std::string& n : folderEntries(folder)) {
        Snapshot s;
        if (parseName(n, s) && isPlainFile(folder + "/" + n)) {
            s.path = folder + "/" + n;
            out.push_back(std::move(s));
        }
    }
    std::sort(out.begin(), out.end(), olderThan);
    return out;
}

std::optional<Snapshot> snapshotHolding(const std::string& file) {
    struct stat a;
    if (stat(file.c_str(), &a) != 0)
        return std::nullopt;
    const auto all = listSnapshots(file);
    for (auto it = all.rbegin(); it != all.rend(); ++it) {
        struct stat b;
        if (lstat(it->path.c_str(), &b) == 0 && sameMtime(a, b))
            return *it;
    }
    return std::nullopt;
}

bool changedSinceSnapshot(const std::string& file) { return !snapshotHolding(file); }

Snapshot nextSnapshot(const std::string& file, std::time_t now) {
    const std::string folder = snapshotFolder(file);
    makeOwnFolder(std::string(kBackupFolder));
    makeOwnFolder(folder);

    // A later second than any snapshot there, so the newest by name is the newest taken.
    const auto existing = listSnapshots(file);
    int seq = 0;
    if (!existing.empty() && existing.back().time >= now) {
        now = existing.back().time;
        seq = std::max(existing.back().seq, 1) + 1;
    }
    Snapshot s;
    for (;; ++seq) {
        if (seq == 1)
            continue;
        s.name = stampName(now, seq) + std::string(kSnapshotSuffix);
        s.path = folder + "/" + s.name;
        if (!fileExists(s.path))
            break;
    }
    s.time = now;
    s.seq = seq;
    return s;
}

Snapshot takeSnapshot(const std::string& file, std::time_t now) {
    const std::string folder = snapshotFolder(file);
    struct stat before;
    if (stat(file.c_str(), &before) != 0) {
        const int err = errno;
        throw errnoError(err, file);
    }
    const Snapshot s = nextSnapshot(file, now);

    const std::string temp = copyDatabaseToTemp(file, s.path);
    // The snapshot carries its source's time, so an unchanged file needs no new one.
    const struct timespec times[2] = {before.st_atim, before.st_mtim};
    struct stat copied;
    if (utimensat(AT_FDCWD, temp.c_str(), times, 0) != 0 || stat(temp.c_str(), &copied) != 0) {
        (void)unlink(temp.c_str());
        throw errnoError(errno, file);
    }
    if (copied.st_size != before.st_size) {
        // The copy holds another state than the one whose time it would carry:
        // keep it, but as a state the next backup must not count as current.
        const struct timespec epoch[2] = {{0, 0}, {0, 0}};
        (void)utimensat(AT_FDCWD, temp.c_str(), epoch, 0);
    }
    try {
        renameNoReplace(temp, s.path);
    } catch (...) {
        (void)unlink(temp.c_str());
        throw;
    }
    syncFolder(folder);
    return s;
}

std::vector<Snapshot> snapshotsToDrop(const std::vector<Snapshot>& all, std::time_t now) {
    std::vector<Snapshot> sorted = all;
    std::sort(sorted.begin(), sorted.end(), olderThan);
    std::set<std::size_t> keep;
    const std::size_t n = sorted.size();
    for (std::size_t i = n > std::size_t(kKeepNewest) ? n - kKeepNewest : 0; i < n; ++i)
        keep.insert(i);
    const long today = dayNumber(now);
    const long thisMonth = monthNumber(now);
    std::set<long> daysSeen, monthsSeen;
    for (std::size_t i = n; i-- > 0;) { // newest first: the first of a day is its newest
        const long day = dayNumber(sorted[i].time);
        const long month = monthNumber(sorted[i].time);
        if (day > today - kKeepDays && day <= today && daysSeen.insert(day).second)
            keep.insert(i);
        if (month > thisMonth - kKeepMonths && month <= thisMonth && monthsSeen.insert(month).second)
            keep.insert(i);
    }
    std::vector<Snapshot> drop;
    for (std::size_t i = 0; i < n; ++i)
        if (!keep.count(i))
            drop.push_back(sorted[i]);
    return drop;
}

void pruneSnapshots(const std::string& file, std::time_t now) noexcept {
    try {
        const std::string folder = snapshotFolder(file);
        for (const Snapshot& s : snapshotsToDrop(listSnapshots(file), now))
            (void)removeOwnFile(folder, s.name);
    } catch (...) {
        // A history that cannot be tidied now is tidied after the next backup.
    }
}

std::vector<std::string> backupChanged(const std::vector<std::string>& files, std::time_t now) {
    std::vector<std::string> failures;
    for (const std::string& f : files) {
        try {
            if (!fileExists(f) || !changedSinceSnapshot(f))
                continue;
            (void)takeSnapshot(f, now);
            pruneSnapshots(f, now);
        } catch (const std::exception& e) {
            failures.push_back(f + ": " + e.what());
        }
    }
    return failures;
}

std::vector<long long> snapshotRowCounts(const std::string& path) noexcept {
    DbCloser h;
    if (sqlite3_open_v2(path.c_str(), &h.db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK)
        return {};
    try {
        std::vector<long long> counts;
        for (std::string_view book : {table::customers, table::shipments, table::purchases, table::deliveries}) {
            Prepared count(h.db, "SELECT count(*) FROM " + quoteIdent(book));
            if (!count.step())
                return {};
            counts.push_back(sqlite3_column_int64(count.get(), 0));
        }
        return counts;
    } catch (...) {
        return {};
    }
}

std::string restoreSnapshot(const std::string& file, const Snapshot& snapshot, std::time_t now) {
    const std::string folder = snapshotFolder(file);
    if (snapshot.path != folder + "/" + snapshot.name || !fileExists(snapshot.path))
        throw Error(Failure::MissingFile, snapshot.path);
    if (!snapshotFolderIsOwn(folder) || !isPlainFile(snapshot.path))
        throw ForeignEntryError(snapshot.path);
    // The program's own lock on the file: held, it is open in the program.
    FileLock lock;
    if (fileExists(file) && lock.tryLock(file) == FileLock::Result::Busy)
        throw InUseError(file);

    // The snapshot is copied and checked before anything of the file changes.
    // The check reads every page of the snapshot; meanwhile, on the other core,
    // it is copied (page for page, so the copy is as sound as what was checked)
    // and the file's present state is kept. However this ends, the check ends first.
    auto check = std::async(std::launch::async, [&snapshot] { return passesCheck(snapshot.path); });
    const std::string temp = copyDatabaseToTemp(snapshot.path, folder + "/restore");
    struct Remove {
        std::string path;
        ~Remove() {
            if (!path.empty())
                (void)unlink(path.c_str());
        }
    } cleanup{temp};
    std::optional<bool> sound;
    const auto passed = [&] {
        if (!sound)
            sound = check.get();
        return *sound;
    };
    std::string kept;
    bool keptNow = false;
    // A crash's journal is played back into the file: only once the snapshot is known sound.
    if (fileExists(file) && (!fileExists(file + "-journal") || passed())) {
        if (settleJournal(file) == JournalState::InUse) // a crash's journal goes; a writer's blocks
            throw InUseError(file);
        const auto holding = snapshotHolding(file);
        keptNow = !holding;
        kept = holding ? holding->path : takeSnapshot(file, now).path;
    }
    if (!passed()) {
        if (keptNow) { // a damaged snapshot changes nothing, not even the list of snapshots
            (void)unlink(kept.c_str());
            syncFolder(folder);
        }
        throw Error(Failure::Damaged, snapshot.path);
    }
    if (!fileExists(file))
        (void)setAsideStaleJournal(file); // the deleted file's, not the restored one's
    // The restored file carries the snapshot's time: it is that snapshot's state,
    // and leaving it unchanged needs no new one.
    struct stat from;
    if (stat(snapshot.path.c_str(), &from) == 0) {
        const struct timespec times[2] = {from.st_atim, from.st_mtim};
        (void)utimensat(AT_FDCWD, temp.c_str(), times, 0);
    }
    if (fileExists(file + "-journal"))
        throw InUseError(file);
    // The file keeps the permissions it had; a new one gets what any file gets.
    struct stat old;
    if (lstat(file.c_str(), &old) == 0 && S_ISREG(old.st_mode))
        (void)chmod(temp.c_str(), old.st_mode & 07777);
    replaceFile(temp, file);
    cleanup.path.clear();
    pruneSnapshots(file, now);
    return kept;
}

bool isBackupAllTempName(const std::string& name) {
    std::string_view n = name;
    if (!n.starts_with(kBackupAllPrefix))
        return false;
    n.remove_prefix(kBackupAllPrefix.size());
    // YYYYMMDD-HHMMSS.tmp-XXXXXX
    if (n.size() != 15 + kTempMark.size() + 6 || n[8] != '-' || !allDigits(n.substr(0, 8)) ||
        !allDigits(n.substr(9, 6)) || n.substr(15, kTempMark.size()) != kTempMark)
        return false;
    return isRandomTail(n.substr(15 + kTempMark.size()));
}

namespace {

// What backupAllTo writes into its folder: the index as "run.dll", ledger files,
// and the temporary copies (with SQLite's journal) they are made under.
bool isBackupAllContentName(std::string_view n) {
    for (std::string_view suffix : {"-journal", "-wal", "-shm"})
        if (n.ends_with(suffix)) {
            n.remove_suffix(suffix.size());
            break;
        }
    const auto mark = n.rfind(kTempMark);
    if (mark != std::string_view::npos && n.size() == mark + kTempMark.size() + 6 &&
        isRandomTail(n.substr(n.size() - 6)))
        n = n.substr(0, mark);
    return n == kStoredIndexFile || (n.size() > kSnapshotSuffix.size() && n.ends_with(kSnapshotSuffix));
}

// Opens a folder of `parent` without following a link, or -1.
int openOwnFolder(int parent, const std::string& name) {
    return openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
}

// Removes one folder a backup cut short left, when it holds nothing but plain
// files of the names such a backup writes and no backup is writing it now.
bool removeBackupAllLeftover(int parent, const std::string& name) {
    struct stat st;
    if (fstatat(parent, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISDIR(st.st_mode))
        return false;
    const int dir = openOwnFolder(parent, name);
    if (dir < 0)
        return false;
    const FdCloser closeDir(dir);
    // A backup at work holds this lock on its folder.
    if (flock(dir, LOCK_EX | LOCK_NB) != 0)
        return false;
    std::vector<std::string> names;
    const int listFd = dup(dir);
    if (listFd < 0)
        return false;
    DIR* d = fdopendir(listFd);
    if (!d) {
        ::close(listFd);
        return false;
    }
    bool own = true;
    while (dirent* e = readdir(d)) {
        const std::string n = e->d_name;
        if (n == "." || n == "..")
            continue;
        struct stat f;
        if (!isBackupAllContentName(n) || fstatat(dir, n.c_str(), &f, AT_SYMLINK_NOFOLLOW) != 0 ||
            !S_ISREG(f.st_mode)) {
            own = false;
            break;
        }
        names.push_back(n);
    }
    closedir(d);
    if (!own)
        return false;
    for (const std::string& n : names)
        if (unlinkat(dir, n.c_str(), 0) != 0)
            return false;
    return unlinkat(parent, name.c_str(), AT_REMOVEDIR) == 0;
}

} // namespace

std::vector<std::string> tidyBackupAllLeftovers(const std::string& parent) noexcept {
    std::vector<std::string> removed;
    try {
        const int dir = ::open(parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (dir < 0)
            return removed;
        const FdCloser closeDir(dir);
        for (const std::string& n : folderEntries(parent))
            if (isBackupAllTempName(n) && removeBackupAllLeftover(dir, n))
                removed.push_back(n);
        if (!removed.empty())
            syncFolder(parent);
    } catch (...) {
        // What stays is tried again at the next backup into the folder.
    }
    return removed;
}

std::string backupAllTo(const std::string& parent, const std::string& indexFile,
                        const std::vector<std::string>& ledgerFiles, std::time_t now,
                        std::vector<std::string>* skipped) {
    if (!isDirectory(parent))
        throw Error(Failure::MissingFile, parent);
    (void)tidyBackupAllLeftovers(parent);
    const std::string base = parent + "/" + std::string(kBackupAllPrefix) + stampName(now, 0);
    const std::string work = makeTempFolder(base + std::string(kTempMark));
    std::vector<std::string> written;
    auto discard = [&] {
        for (const std::string& w : written)
            (void)unlink(w.c_str());
        (void)rmdir(work.c_str());
    };
    try {
        // Tells a tidy in another program that this folder is at work.
        const int lockFd = ::open(work.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        const FdCloser unlockWork(lockFd);
        if (lockFd < 0 || flock(lockFd, LOCK_EX | LOCK_NB) != 0) {
            const int err = errno;
            throw errnoError(err, work);
        }

        std::set<std::string> seen;
        auto copyOne = [&](const std::string& from, const std::string& name) {
            if (name.empty() || name.find('/') != std::string::npos || !seen.insert(name).second)
                return;
            const std::string to = work + "/" + name;
            copyDatabase(from, to);
            written.push_back(to);
        };
        copyOne(indexFile, std::string(kStoredIndexFile));
        for (const std::string& f : ledgerFiles) {
            if (!fileExists(f)) {
                if (skipped)
                    skipped->push_back(f);
                continue;
            }
            copyOne(f, f);
        }
        syncFolder(work);
        std::string final = base;
        for (int n = 2; !tryRenameNoReplace(work, final); ++n) {
            if (!fileExists(final) || n > 999)
                throw Error(Failure::Exists, final);
            final = base + "-" + std::to_string(n);
        }
        syncFolder(parent);
        return final;
    } catch (...) {
        discard();
        throw;
    }
}

void tidyBackups() noexcept {
    try {
        const std::string root(kBackupFolder);
        if (!isRealFolder(root))
            return;
        for (const std::string& n : folderEntries(root)) {
            const std::string sub = root + "/" + n;
            if (isRealFolder(sub))
                removeTemps(sub);
        }
    } catch (...) {
        // Left for the next start.
    }
}

std::string snapshotTimeText(const Snapshot& s) {
    const std::tm tm = localTime(s.time);
    char buf[40];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
                  tm.tm_hour, tm.tm_min, tm.tm_sec);
    std::string out = buf;
    if (s.seq > 0)
        out += " (" + std::to_string(s.seq) + ")";
    return out;
}

} // namespace tsl
