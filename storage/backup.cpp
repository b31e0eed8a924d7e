#include "backup.h"

#include "error.h"
#include "fileops.h"
#include "prepared.h"
#include "schema.h"

#include <sqlite3.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <set>

namespace tsl {

namespace {

constexpr std::string_view kSnapshotSuffix = ".mdb";
constexpr std::string_view kTempMark = ".tmp-";

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

void makeFolder(const std::string& path) {
    if (mkdir(path.c_str(), 0777) == 0) {
        // A new folder is lost with a power cut until its parent is synced, and
        // every snapshot in it with it.
        const auto slash = path.find_last_of('/');
        syncFolder(slash == std::string::npos ? "." : path.substr(0, slash));
        return;
    }
    if (errno != EEXIST) {
        const int err = errno;
        throw Error("Cannot create the folder '" + path + "': " + std::strerror(err));
    }
    if (!isDirectory(path))
        throw Error("Cannot create the folder '" + path + "': a file of that name is in the way");
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

// Opens and reads the file once with write access, so that a journal a crash
// left beside it is played back now rather than into another file later.
void settleJournal(const std::string& file) {
    DbCloser h;
    if (sqlite3_open_v2(file.c_str(), &h.db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK)
        throw Error("Cannot open '" + file + "': " + (h.db ? sqlite3_errmsg(h.db) : "out of memory"));
    if (sqlite3_exec(h.db, "SELECT count(*) FROM sqlite_master", nullptr, nullptr, nullptr) != SQLITE_OK)
        throw Error("Cannot read '" + file + "': " + sqlite3_errmsg(h.db));
}

// True when the copy is a sound database.
bool passesCheck(const std::string& file) {
    DbCloser h;
    if (sqlite3_open_v2(file.c_str(), &h.db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK)
        return false;
    try {
        Statement check(h.db, "PRAGMA quick_check");
        return check.step() && columnView(check.get(), 0) == "ok";
    } catch (const Error&) {
        return false;
    }
}

// Everything in a folder this program wrote and a crash left: temp copies.
void removeTemps(const std::string& folder) {
    for (const std::string& n : folderEntries(folder)) {
        if (n.find(kTempMark) != std::string::npos)
            (void)unlink((folder + "/" + n).c_str());
    }
}

} // namespace

std::string snapshotFolder(const std::string& file) {
    if (file.empty() || file == "." || file == ".." || file.find('/') != std::string::npos)
        throw Error("'" + file + "' is not a file of the data folder");
    return std::string(kBackupFolder) + "/" + file;
}

std::vector<Snapshot> listSnapshots(const std::string& file) {
    const std::string folder = snapshotFolder(file);
    std::vector<Snapshot> out;
    for (const std::string& n : folderEntries(folder)) {
        Snapshot s;
        if (parseName(n, s)) {
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
        if (stat(it->path.c_str(), &b) == 0 && sameMtime(a, b))
            return *it;
    }
    return std::nullopt;
}

bool changedSinceSnapshot(const std::string& file) { return !snapshotHolding(file); }

Snapshot takeSnapshot(const std::string& file, std::time_t now) {
    const std::string folder = snapshotFolder(file);
    struct stat before;
    if (stat(file.c_str(), &before) != 0) {
        const int err = errno;
        throw Error("Cannot back up '" + file + "': " + std::strerror(err));
    }
    makeFolder(std::string(kBackupFolder));
    makeFolder(folder);

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

    const std::string temp = copyDatabaseToTemp(file, s.path);
    // The snapshot carries its source's time, so an unchanged file needs no new one.
    const struct timespec times[2] = {before.st_atim, before.st_mtim};
    struct stat copied;
    if (utimensat(AT_FDCWD, temp.c_str(), times, 0) != 0 || stat(temp.c_str(), &copied) != 0) {
        (void)unlink(temp.c_str());
        throw Error("Cannot back up '" + file + "': " + std::strerror(errno));
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
        for (const Snapshot& s : snapshotsToDrop(listSnapshots(file), now))
            (void)unlink(s.path.c_str());
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
            Statement count(h.db, "SELECT count(*) FROM " + quoteIdent(book));
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
        throw Error("'" + snapshot.path + "' is not a snapshot of '" + file + "'");

    // The snapshot is copied and checked before anything of the file changes.
    const std::string temp = copyDatabaseToTemp(snapshot.path, folder + "/restore");
    struct Remove {
        std::string path;
        ~Remove() {
            if (!path.empty())
                (void)unlink(path.c_str());
        }
    } cleanup{temp};
    if (!passesCheck(temp))
        throw Error("The snapshot '" + snapshot.name + "' is damaged");

    std::string kept;
    if (fileExists(file)) {
        settleJournal(file);
        const auto holding = snapshotHolding(file);
        kept = holding ? holding->path : takeSnapshot(file, now).path;
    }
    // The restored file carries the snapshot's time: it is that snapshot's state,
    // and leaving it unchanged needs no new one.
    struct stat from;
    if (stat(snapshot.path.c_str(), &from) == 0) {
        const struct timespec times[2] = {from.st_atim, from.st_mtim};
        (void)utimensat(AT_FDCWD, temp.c_str(), times, 0);
    }
    if (fileExists(file + "-journal"))
        throw Error("'" + file + "' is being written to");
    replaceFile(temp, file);
    cleanup.path.clear();
    pruneSnapshots(file, now);
    return kept;
}

std::string backupAllTo(const std::string& parent, const std::string& indexFile,
                        const std::vector<std::string>& ledgerFiles, std::time_t now,
                        std::vector<std::string>* skipped) {
    if (!isDirectory(parent))
        throw Error("'" + parent + "' is not a folder");
    const std::string base = parent + "/tessolan-备份-" + stampName(now, 0);
    std::string work = base + std::string(kTempMark) + "XXXXXX";
    if (!mkdtemp(work.data())) {
        const int err = errno;
        throw Error("Cannot create a folder in '" + parent + "': " + std::strerror(err));
    }
    std::vector<std::string> written;
    auto discard = [&] {
        for (const std::string& w : written)
            (void)unlink(w.c_str());
        (void)rmdir(work.c_str());
    };
    try {
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
                throw Error("Cannot name the folder '" + final + "'");
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
        for (const std::string& n : folderEntries(root)) {
            const std::string sub = root + "/" + n;
            if (isDirectory(sub))
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
