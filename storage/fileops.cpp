#include "storage/fileops.h"

#include "storage/error.h"
#include "storage/failure.h"
#include "storage/prepared.h"

#include <sqlite3.h>

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <optional>
#include <string_view>
#include <thread>
#include <utility>

namespace tsl {

namespace {

// The temporary copy is the target's name with this after it, and SQLite puts
// its journal beside it while the copy is written.
constexpr std::string_view kTempSuffix = ".tmp-XXXXXX";
constexpr std::string_view kJournalSuffix = "-journal";
constexpr std::size_t kRandomLength = 6;

std::atomic<SyncObserver> syncObserver{nullptr};

[[noreturn]] void throwErrno(const std::string& file, int err);

// Six letters and digits, as mkstemp would pick.
std::string randomTail() {
    static constexpr char kChars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    unsigned char bytes[kRandomLength];
    if (getrandom(bytes, sizeof bytes, 0) != ssize_t(sizeof bytes)) {
        // No entropy source: the clock and a counter still make clashes rare, and
        // a clash only costs another try.
        static std::atomic<unsigned long> counter{0};
        unsigned long v = static_cast<unsigned long>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
                          (counter++ * 0x9e3779b97f4a7c15UL) ^ static_cast<unsigned long>(getpid());
        for (unsigned char& b : bytes) {
            b = static_cast<unsigned char>(v);
            v = v * 6364136223846793005UL + 1442695040888963407UL;
            v ^= v >> 29;
        }
    }
    std::string out;
    for (unsigned char b : bytes)
        out += kChars[b % (sizeof kChars - 1)];
    return out;
}

// Tries fresh random names until `create` stops failing with EEXIST.
template <class Create>
std::string makeTemp(const std::string& prefix, Create create) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string name = prefix + randomTail();
        if (create(name))
            return name;
        if (errno != EEXIST) {
            const int err = errno;
            throwErrno(name, err);
        }
    }
    throwErrno(prefix, EEXIST);
}

// 0 on success, otherwise the errno of the failure; both names are left as they were.
int renameNoReplaceErrno(const char* from, const char* to) noexcept {
    if (renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0)
        return 0;
    int err = errno;
    if (err != EINVAL && err != ENOSYS)
        return err;

    // The file system cannot rename without replacing: a hard link fails on an
    // existing target just as well.
    if (link(from, to) == 0) {
        if (unlink(from) == 0)
            return 0;
        err = errno;
        unlink(to);
        return err;
    }
    err = errno;
    if (err != EPERM && err != EOPNOTSUPP && err != ENOSYS)
        return err;

    // No links either: check, then rename. Not atomic, but the best such a
    // file system allows.
    struct stat st;
    if (lstat(to, &st) == 0)
        return EEXIST;
    if (rename(from, to) == 0)
        return 0;
    return errno;
}

[[noreturn]] void throwErrno(const std::string& file, int err) { throw errnoError(err, file); }

std::string folderOf(const std::string& path) {
    auto slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    if (slash == 0)
        return "/";
    return path.substr(0, slash);
}

// 0 on success, otherwise the errno of the failure.
int syncPath(const std::string& path, int flags) noexcept {
    int fd = open(path.c_str(), flags | O_CLOEXEC);
    if (fd < 0)
        return errno;
    if (SyncObserver observer = syncObserver.load())
        observer((flags & O_DIRECTORY) ? Synced::Folder : Synced::File, path);
    int err = fsync(fd) == 0 ? 0 : errno;
    close(fd);
    return err;
}

// Removes the temporary copy and whatever SQLite may have put beside it,
// unless it was renamed into place.
class TempFile {
public:
    explicit TempFile(std::string name) : name_(std::move(name)) {}
    ~TempFile() {
        if (!keep_) {
            unlink(name_.c_str());
            for (const char* suffix : {kJournalSuffix.data(), "-wal", "-shm"})
                unlink((name_ + suffix).c_str());
        }
    }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;
    const std::string& name() const { return name_; }
    void keep() { keep_ = true; }

private:
    std::string name_;
    bool keep_ = false;
};

// `shown` is the name a failure gives: the target, not its temporary copy.
sqlite3* openDb(const std::string& file, int flags, const std::string& shown) {
    DbCloser opened;
    const int rc = sqlite3_open_v2(file.c_str(), &opened.db, flags, nullptr);
    if (rc != SQLITE_OK)
        throw sqliteError(opened.db, shown, rc);
    sqlite3_extended_result_codes(opened.db, 1);
    return opened.release();
}

// How long a copy waits for a writer on the source to finish.
constexpr auto kBusyLimit = std::chrono::seconds(5);
constexpr auto kBusyPause = std::chrono::milliseconds(20);

// Copies every page of src into dst; SQLITE_DONE or the code of the failure.
int runBackup(sqlite3* dst, sqlite3* src) {
    sqlite3_backup* backup = sqlite3_backup_init(dst, "main", src, "main");
    if (!backup)
        return sqlite3_extended_errcode(dst);

    const auto deadline = std::chrono::steady_clock::now() + kBusyLimit;
    int rc;
    for (;;) {
        rc = sqlite3_backup_step(backup, -1);
        const int primary = rc & 0xff;
        if (rc == SQLITE_DONE || (rc != SQLITE_OK && primary != SQLITE_BUSY && primary != SQLITE_LOCKED))
            break;
        if (rc != SQLITE_OK) {
            if (std::chrono::steady_clock::now() >= deadline)
                break;
            std::this_thread::sleep_for(kBusyPause);
        }
    }
    sqlite3_backup_finish(backup);
    return rc;
}

// A failed copy names the file it is about: the target when writing failed,
// the source when reading it did.
Error copyFailure(int rc, const std::string& from, const std::string& to) {
    const Failure kind = failureOfSqlite(rc, errno);
    const bool reading = rc == SQLITE_IOERR_READ || rc == SQLITE_IOERR_SHORT_READ;
    const bool writing = kind == Failure::DiskFull || kind == Failure::ReadOnly || kind == Failure::NoAccess ||
                         kind == Failure::NameTooLong || (kind == Failure::IoError && !reading);
    return Error(kind, writing ? to : from, kind == Failure::Other ? std::string(sqlite3_errstr(rc)) : std::string());
}

} // namespace

void renameNoReplace(const std::string& from, const std::string& to) {
    if (int err = renameNoReplaceErrno(from.c_str(), to.c_str()))
        throwErrno(err == ENOENT ? from : to, err);
}

bool tryRenameNoReplace(const std::string& from, const std::string& to) noexcept {
    return renameNoReplaceErrno(from.c_str(), to.c_str()) == 0;
}

std::size_t longestCopyTarget(const std::string& folder) noexcept {
    long limit = pathconf(folder.c_str(), _PC_NAME_MAX);
    if (limit <= 0)
        limit = 255;
    const std::size_t extra = kTempSuffix.size() + kJournalSuffix.size();
    return std::size_t(limit) > extra ? std::size_t(limit) - extra : 0;
}

void syncFolder(const std::string& folder) noexcept { (void)syncPath(folder, O_RDONLY | O_DIRECTORY); }

int syncFile(int fd, const std::string& path) noexcept {
    if (SyncObserver observer = syncObserver.load())
        observer(Synced::File, path);
    return fsync(fd) == 0 ? 0 : errno;
}

namespace {

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

} // namespace

JournalState settleJournal(const std::string& db) {
    const std::string journal = db + "-journal";
    if (!fileExists(journal))
        return JournalState::None;
    DbCloser h;
    if (sqlite3_open_v2(db.c_str(), &h.db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK)
        throw sqliteError(h.db, db);
    if (sqlite3_exec(h.db, "SELECT count(*) FROM sqlite_master", nullptr, nullptr, nullptr) != SQLITE_OK) {
        if ((sqlite3_errcode(h.db) & 0xff) == SQLITE_BUSY)
            return JournalState::InUse;
        throw sqliteError(h.db, db);
    }
    if (!fileExists(journal))
        return JournalState::Settled; // played back
    if (sqlite3_exec(h.db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) != SQLITE_OK)
        return JournalState::InUse;
    const bool gone = isDeadJournal(journal) && ::unlink(journal.c_str()) == 0;
    if (gone)
        syncFolder(folderOf(db));
    (void)sqlite3_exec(h.db, "ROLLBACK", nullptr, nullptr, nullptr);
    return gone ? JournalState::Settled : JournalState::InUse;
}

FdCloser::~FdCloser() {
    if (fd_ >= 0)
        ::close(fd_);
}

void setSyncObserver(SyncObserver observer) noexcept { syncObserver.store(observer); }

std::string makeTempFile(const std::string& prefix) {
    return makeTemp(prefix, [](const std::string& name) {
        // O_EXCL never follows a link at the name; 0666 lets the umask decide,
        // as for any file the user makes.
        const int fd = ::open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd < 0)
            return false;
        ::close(fd);
        return true;
    });
}

std::string makeTempFolder(const std::string& prefix) {
    return makeTemp(prefix, [](const std::string& name) { return ::mkdir(name.c_str(), 0777) == 0; });
}

bool isRealFolder(const std::string& path) noexcept {
    struct stat st;
    return lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

void makeOwnFolder(const std::string& path) {
    if (::mkdir(path.c_str(), 0777) == 0) {
        syncFolder(folderOf(path));
        return;
    }
    const int err = errno;
    if (err != EEXIST)
        throwErrno(path, err);
    if (!isRealFolder(path))
        throw ForeignEntryError(path);
}

bool removeOwnFile(const std::string& folder, const std::string& name) noexcept {
    if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos)
        return false;
    const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (dir < 0)
        return false;
    struct stat st;
    const bool gone = fstatat(dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode) &&
                      unlinkat(dir, name.c_str(), 0) == 0;
    ::close(dir);
    return gone;
}

std::vector<std::string> folderEntries(const std::string& folder) {
    std::vector<std::string> names;
    DIR* d = opendir(folder.c_str());
    if (!d)
        return names;
    while (dirent* e = readdir(d)) {
        const std::string n = e->d_name;
        if (n != "." && n != "..")
            names.push_back(n);
    }
    closedir(d);
    return names;
}

bool fileExists(const std::string& path) noexcept {
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

std::string setAsideStaleJournal(const std::string& db) noexcept {
    auto born = [](const std::string& path) -> std::optional<std::pair<long long, unsigned>> {
        // Only a plain file is SQLite's journal; a link or anything else under
        // that name is not the program's to move.
        struct statx sx {};
        if (statx(AT_FDCWD, path.c_str(), AT_SYMLINK_NOFOLLOW, STATX_BTIME | STATX_TYPE, &sx) != 0 ||
            !(sx.stx_mask & STATX_BTIME) || !S_ISREG(sx.stx_mode))
            return std::nullopt;
        return std::pair{static_cast<long long>(sx.stx_btime.tv_sec), sx.stx_btime.tv_nsec};
    };
    const std::string journal = db + "-journal";
    struct stat st;
    if (lstat(journal.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return {};
    // A journal beside no file belongs to none; one put there later would get it.
    const bool orphan = lstat(db.c_str(), &st) != 0 && errno == ENOENT;
    if (!orphan) {
        const auto journalBorn = born(journal);
        const auto dbBorn = journalBorn ? born(db) : std::nullopt;
        if (!journalBorn || !dbBorn || !(*journalBorn < *dbBorn))
            return {};
    }
    std::string aside = journal + ".stale";
    for (int n = 2; n < 1000; ++n) {
        if (tryRenameNoReplace(journal, aside)) {
            syncFolder(folderOf(journal));
            return aside;
        }
        if (!fileExists(aside))
            return {};
        aside = journal + ".stale" + std::to_string(n);
    }
    return {};
}

std::string copyDatabaseToTemp(const std::string& from, const std::string& near) {
    const std::string folder = folderOf(near);
    struct stat st;
    if (stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        throw Error(Failure::MissingFile, folder);
    // Checked up front so that a missing source never gets as far as a temp file.
    if (stat(from.c_str(), &st) != 0) {
        int err = errno;
        throwErrno(from, err);
    }
    if (!S_ISREG(st.st_mode))
        throw Error(Failure::MissingFile, from);

    std::string made;
    try {
        made = makeTempFile(near + std::string(kTempSuffix.substr(0, kTempSuffix.size() - kRandomLength)));
    } catch (const Error& e) {
        throw Error(e.kind(), near); // the user knows the file by the name it is to have
    }
    TempFile temp(made);

    {
        // The temp file exists (empty): SQLite treats it as an empty database.
        DbCloser dst{openDb(temp.name(), SQLITE_OPEN_READWRITE, near)};
        int rc;
        {
            DbCloser src{openDb(from, SQLITE_OPEN_READONLY, from)};
            rc = runBackup(dst.db, src.db);
        }
        if (rc == SQLITE_READONLY_ROLLBACK) {
            // A crash left a journal that must be rolled back before anyone can
            // read; only a writer may do that. Still without SQLITE_OPEN_CREATE.
            DbCloser src{openDb(from, SQLITE_OPEN_READWRITE, from)};
            rc = runBackup(dst.db, src.db);
        }
        if (rc != SQLITE_DONE)
            throw copyFailure(rc, from, near);
        rc = sqlite3_close(dst.db);
        dst.db = nullptr;
        if (rc != SQLITE_OK)
            throw copyFailure(rc, from, near);
    }

    if (int err = syncPath(temp.name(), O_RDONLY))
        throwErrno(near, err);
    temp.keep();
    return temp.name();
}

void copyDatabase(const std::string& from, const std::string& to) {
    if (fileExists(to))
        throw Error(Failure::Exists, to);
    TempFile temp(copyDatabaseToTemp(from, to));
    renameNoReplace(temp.name(), to);
    temp.keep();
    syncFolder(folderOf(to));
}

void replaceFile(const std::string& from, const std::string& to) {
    // Swapped in one step, the old contents land under the temporary name and
    // go from there; where the file system cannot swap, rename(2) replaces
    // just as atomically.
    if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_EXCHANGE) == 0) {
        syncFolder(folderOf(to));
        syncFolder(folderOf(from));
        unlink(from.c_str());
    } else {
        const int err = errno;
        if (err != EINVAL && err != ENOSYS && err != ENOENT)
            throwErrno(to, err);
        if (::rename(from.c_str(), to.c_str()) != 0) {
            const int err2 = errno;
            throwErrno(to, err2);
        }
    }
    syncFolder(folderOf(to));
    syncFolder(folderOf(from));
}

} // namespace tsl
