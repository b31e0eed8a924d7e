#include "tests/support/powercutvfs.h"

#include <sqlite3.h>

#include <fcntl.h>
#include <limits.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

// The real calls, for the model's own work (the linker's --wrap names them so).
extern "C" {
int __real_renameat2(int, const char*, int, const char*, unsigned);
int __real_rename(const char*, const char*);
int __real_link(const char*, const char*);
int __real_unlink(const char*);
int __real_mkdir(const char*, mode_t);
int __real_rmdir(const char*);
int __real_open(const char*, int, ...);
int __real_openat(int, const char*, int, ...);
int __real_fsync(int);
}

namespace tsltest {

namespace {

namespace fs = std::filesystem;

bool active = false;
long eventCount = 0;
long cutAt = 0;
unsigned cutSeed = 0;
std::string stashFolder;
int stashSeq = 0;

// Unsynced writes of a file: its contents at the last sync and what came since.
struct Pending {
    std::string durable;
    struct Write {
        bool truncate = false;
        sqlite3_int64 offset = 0;
        std::string bytes;
    };
    std::vector<Write> writes;
};
std::map<std::string, Pending> pending; // by absolute path

// A change of names in one or two folders, with what it takes to undo it.
struct NameChange {
    enum Kind { Made, MadeFolder, Removed, RemovedFolder, Renamed, Exchanged, Linked } kind;
    std::string a, b, stash; // Renamed: a -> b, the replaced b kept as stash
    std::vector<std::string> folders;
};
std::vector<NameChange> changes;
std::vector<bool> durable; // beside each change: on disk

std::string absolute(const std::string& p) {
    fs::path path = p.empty() || p[0] != '/' ? fs::current_path() / p : fs::path(p);
    std::string s = path.lexically_normal().string();
    while (s.size() > 1 && s.back() == '/')
        s.pop_back();
    return s;
}

std::string folderOf(const std::string& abs) {
    auto slash = abs.find_last_of('/');
    return slash == 0 ? "/" : abs.substr(0, slash);
}

std::string readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void powerCut();

// Counts an event; at the chosen one the power goes before it happens.
void event() {
    if (active && ++eventCount == cutAt)
        powerCut();
}

void note(NameChange c) {
    changes.push_back(std::move(c));
    durable.push_back(false);
}

bool touches(const NameChange& c, const std::string& folder) {
    return std::find(c.folders.begin(), c.folders.end(), folder) != c.folders.end();
}

// A synced folder: every change of its names so far is on disk (and only those:
// a folder made inside another counts once that other one is synced).
void folderSynced(const std::string& folder) {
    for (std::size_t i = 0; i < changes.size(); ++i)
        if (touches(changes[i], folder))
            durable[i] = true;
}

void fileSynced(const std::string& abs) { pending.erase(abs); }

void rekey(const std::string& from, const std::string& to) {
    auto it = pending.find(from);
    if (it == pending.end())
        return;
    Pending p = std::move(it->second);
    pending.erase(it);
    pending[to] = std::move(p);
}

// A file about to lose its name keeps its inode under the stash, for an undo.
std::string stash(const std::string& abs) {
    const std::string s = stashFolder + "/" + std::to_string(++stashSeq);
    if (__real_link(abs.c_str(), s.c_str()) != 0)
        return {};
    rekey(abs, s);
    return s;
}

bool isFolder(const std::string& abs) {
    struct stat st;
    return lstat(abs.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

void writeFile(const std::string& path, const std::string& bytes) {
    int fd = open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (fd < 0)
        return;
    std::size_t off = 0;
    while (off < bytes.size()) {
        ssize_t n = ::write(fd, bytes.data() + off, bytes.size() - off);
        if (n <= 0)
            break;
        off += std::size_t(n);
    }
    close(fd);
}

void powerCut() {
    active = false;
    std::mt19937 rng(cutSeed);
    // What reached the platters of each file: any of its unsynced writes, whole or a prefix.
    for (auto& [path, p] : pending) {
        std::string bytes = p.durable;
        for (const auto& w : p.writes) {
            const unsigned how = rng() % 3;
            if (how == 0)
                continue;
            if (w.truncate) {
                bytes.resize(std::size_t(w.offset));
                continue;
            }
            const std::size_t n = how == 1 ? w.bytes.size() : rng() % (w.bytes.size() + 1);
            const std::size_t off = std::size_t(w.offset);
            if (bytes.size() < off + n)
                bytes.resize(std::max(bytes.size(), off + n), '\0');
            std::memcpy(bytes.data() + off, w.bytes.data(), n);
        }
        writeFile(path, bytes);
    }
    // Each folder's log: the synced changes stay, of the rest only a random first
    // part; the lost ones are undone, the last first.
    std::vector<bool> lost(changes.size(), false);
    std::vector<std::string> folders;
    for (const auto& c : changes)
        for (const auto& f : c.folders)
            if (std::find(folders.begin(), folders.end(), f) == folders.end())
                folders.push_back(f);
    for (const auto& f : folders) {
        std::vector<std::size_t> open;
        for (std::size_t i = 0; i < changes.size(); ++i)
            if (!durable[i] && touches(changes[i], f))
                open.push_back(i);
        for (std::size_t k = rng() % (open.size() + 1); k < open.size(); ++k)
            lost[open[k]] = true;
    }
    for (std::size_t i = changes.size(); i-- > 0;) {
        if (!lost[i])
            continue;
        const NameChange& c = changes[i];
        std::error_code ec;
        switch (c.kind) {
        case NameChange::Made:
        case NameChange::MadeFolder: fs::remove_all(c.a, ec); break;
        case NameChange::Removed:
            if (!c.stash.empty())
                (void)__real_rename(c.stash.c_str(), c.a.c_str());
            break;
        case NameChange::RemovedFolder: (void)__real_mkdir(c.a.c_str(), 0777); break;
        case NameChange::Renamed:
            (void)__real_rename(c.b.c_str(), c.a.c_str());
            if (!c.stash.empty())
                (void)__real_rename(c.stash.c_str(), c.b.c_str());
            break;
        case NameChange::Exchanged:
            (void)__real_renameat2(AT_FDCWD, c.a.c_str(), AT_FDCWD, c.b.c_str(), RENAME_EXCHANGE);
            break;
        case NameChange::Linked: (void)__real_unlink(c.b.c_str()); break;
        }
    }
    _exit(PowerCut::kExitCode);
}

// --- SQLite's side ---------------------------------------------------------

sqlite3_vfs* real = nullptr;
sqlite3_vfs shim;

struct File {
    sqlite3_file base;
    sqlite3_file* inner;
    std::string* path; // absolute
    bool syncFolderOnSync; // a journal it made: SQLite's unix layer syncs its folder then
};

sqlite3_file* inner(sqlite3_file* f) { return reinterpret_cast<File*>(f)->inner; }
const std::string& pathOf(sqlite3_file* f) { return *reinterpret_cast<File*>(f)->path; }

Pending& pendingOf(const std::string& path) {
    auto it = pending.find(path);
    if (it == pending.end())
        it = pending.emplace(path, Pending{readAll(path), {}}).first;
    return it->second;
}

int xClose(sqlite3_file* f) {
    File* pf = reinterpret_cast<File*>(f);
    const int rc = pf->inner->pMethods ? pf->inner->pMethods->xClose(pf->inner) : SQLITE_OK;
    delete pf->path;
    pf->path = nullptr;
    return rc;
}

int xRead(sqlite3_file* f, void* p, int n, sqlite3_int64 off) { return inner(f)->pMethods->xRead(inner(f), p, n, off); }

int xWrite(sqlite3_file* f, const void* p, int n, sqlite3_int64 off) {
    if (active) {
        event();
        // A nameless temporary file is gone after a cut anyway.
        if (!pathOf(f).empty())
            pendingOf(pathOf(f)).writes.push_back({false, off, std::string(static_cast<const char*>(p), std::size_t(n))});
    }
    return inner(f)->pMethods->xWrite(inner(f), p, n, off);
}

int xTruncate(sqlite3_file* f, sqlite3_int64 size) {
    if (active) {
        event();
        if (!pathOf(f).empty())
            pendingOf(pathOf(f)).writes.push_back({true, size, {}});
    }
    return inner(f)->pMethods->xTruncate(inner(f), size);
}

int xSync(sqlite3_file* f, int flags) {
    if (!active)
        return inner(f)->pMethods->xSync(inner(f), flags);
    // The model keeps what a power cut loses; the real disk need not wait.
    event();
    fileSynced(pathOf(f));
    File* pf = reinterpret_cast<File*>(f);
    if (pf->syncFolderOnSync) {
        pf->syncFolderOnSync = false;
        folderSynced(folderOf(pathOf(f)));
    }
    return SQLITE_OK;
}

int xFileSize(sqlite3_file* f, sqlite3_int64* size) { return inner(f)->pMethods->xFileSize(inner(f), size); }
int xLock(sqlite3_file* f, int l) { return inner(f)->pMethods->xLock(inner(f), l); }
int xUnlock(sqlite3_file* f, int l) { return inner(f)->pMethods->xUnlock(inner(f), l); }
int xCheckReservedLock(sqlite3_file* f, int* out) { return inner(f)->pMethods->xCheckReservedLock(inner(f), out); }
int xFileControl(sqlite3_file* f, int op, void* arg) { return inner(f)->pMethods->xFileControl(inner(f), op, arg); }
int xSectorSize(sqlite3_file* f) { return inner(f)->pMethods->xSectorSize(inner(f)); }
int xDeviceCharacteristics(sqlite3_file* f) { return inner(f)->pMethods->xDeviceCharacteristics(inner(f)); }

// Version 1: no shared memory or mapping, which a rollback journal never needs.
const sqlite3_io_methods methods = [] {
    sqlite3_io_methods m{};
    m.iVersion = 1;
    m.xClose = xClose;
    m.xRead = xRead;
    m.xWrite = xWrite;
    m.xTruncate = xTruncate;
    m.xSync = xSync;
    m.xFileSize = xFileSize;
    m.xLock = xLock;
    m.xUnlock = xUnlock;
    m.xCheckReservedLock = xCheckReservedLock;
    m.xFileControl = xFileControl;
    m.xSectorSize = xSectorSize;
    m.xDeviceCharacteristics = xDeviceCharacteristics;
    return m;
}();

constexpr int headerSize = int((sizeof(File) + 15) / 16 * 16);

int xOpen(sqlite3_vfs*, sqlite3_filename name, sqlite3_file* f, int flags, int* outFlags) {
    File* pf = reinterpret_cast<File*>(f);
    pf->base.pMethods = nullptr;
    pf->inner = reinterpret_cast<sqlite3_file*>(reinterpret_cast<char*>(f) + headerSize);
    pf->path = nullptr;
    const std::string path = name ? absolute(name) : std::string();
    const bool makes = active && name && (flags & SQLITE_OPEN_CREATE) && access(path.c_str(), F_OK) != 0;
    if (makes)
        event();
    const int rc = real->xOpen(real, name, pf->inner, flags, outFlags);
    if (rc != SQLITE_OK || !pf->inner->pMethods)
        return rc;
    if (makes && access(path.c_str(), F_OK) == 0)
        note({NameChange::Made, path, {}, {}, {folderOf(path)}});
    pf->path = new std::string(path);
    pf->syncFolderOnSync =
        makes && (flags & (SQLITE_OPEN_MAIN_JOURNAL | SQLITE_OPEN_SUPER_JOURNAL | SQLITE_OPEN_WAL));
    pf->base.pMethods = &methods;
    return rc;
}

int xDelete(sqlite3_vfs*, const char* name, int syncFolder) {
    if (!active)
        return real->xDelete(real, name, syncFolder);
    const std::string path = absolute(name);
    event();
    const std::string kept = stash(path);
    const int rc = real->xDelete(real, name, 0);
    if (rc == SQLITE_OK && !kept.empty()) {
        note({NameChange::Removed, path, {}, kept, {folderOf(path)}});
        if (syncFolder)
            folderSynced(folderOf(path));
    }
    return rc;
}

} // namespace

void PowerCut::start(const std::string& stashPath, long at, unsigned seed) {
    stashFolder = absolute(stashPath);
    cutAt = at;
    cutSeed = seed;
    real = sqlite3_vfs_find(nullptr);
    shim = *real;
    shim.zName = "tsltest-powercut";
    shim.szOsFile = headerSize + real->szOsFile;
    shim.xOpen = xOpen;
    shim.xDelete = xDelete;
    sqlite3_vfs_register(&shim, 1);
    active = true;
}

long PowerCut::events() { return eventCount; }

void PowerCut::cutNow() {
    if (active)
        powerCut();
}

} // namespace tsltest

using tsltest::NameChange;
using namespace tsltest;

// --- the program's own folder calls ------------------------------------------

extern "C" {

int __wrap_renameat2(int fromDir, const char* from, int toDir, const char* to, unsigned flags) {
    if (!active || fromDir != AT_FDCWD || toDir != AT_FDCWD)
        return __real_renameat2(fromDir, from, toDir, to, flags);
    event();
    const std::string a = absolute(from), b = absolute(to);
    const bool exchange = flags & RENAME_EXCHANGE;
    const bool replaces = !exchange && !(flags & RENAME_NOREPLACE) && access(b.c_str(), F_OK) == 0 && !isFolder(b);
    const std::string kept = replaces ? stash(b) : std::string();
    const int rc = __real_renameat2(fromDir, from, toDir, to, flags);
    if (rc != 0) {
        const int err = errno;
        if (!kept.empty()) {
            rekey(kept, b);
            (void)__real_unlink(kept.c_str());
        }
        errno = err;
        return rc;
    }
    if (exchange) {
        rekey(a, a + "\n");
        rekey(b, a);
        rekey(a + "\n", b);
        note({NameChange::Exchanged, a, b, {}, {folderOf(a), folderOf(b)}});
    } else {
        rekey(a, b);
        // The new name is what counts, and the target's folder holds it.
        note({NameChange::Renamed, a, b, kept, {folderOf(b)}});
    }
    return rc;
}

int __wrap_rename(const char* from, const char* to) { return __wrap_renameat2(AT_FDCWD, from, AT_FDCWD, to, 0); }

int __wrap_link(const char* from, const char* to) {
    if (!active)
        return __real_link(from, to);
    event();
    const int rc = __real_link(from, to);
    if (rc == 0) {
        const std::string b = absolute(to);
        note({NameChange::Linked, absolute(from), b, {}, {folderOf(b)}});
    }
    return rc;
}

int __wrap_unlink(const char* name) {
    if (!active)
        return __real_unlink(name);
    event();
    const std::string path = absolute(name);
    const std::string kept = isFolder(path) ? std::string() : stash(path);
    const int rc = __real_unlink(name);
    const int err = errno;
    if (rc == 0 && !kept.empty())
        note({NameChange::Removed, path, {}, kept, {folderOf(path)}});
    else if (!kept.empty()) {
        rekey(kept, path);
        (void)__real_unlink(kept.c_str());
    }
    errno = err;
    return rc;
}

int __wrap_mkdir(const char* name, mode_t mode) {
    if (!active)
        return __real_mkdir(name, mode);
    event();
    const int rc = __real_mkdir(name, mode);
    if (rc == 0) {
        const std::string path = absolute(name);
        note({NameChange::MadeFolder, path, {}, {}, {folderOf(path)}});
    }
    return rc;
}

int __wrap_rmdir(const char* name) {
    if (!active)
        return __real_rmdir(name);
    event();
    const int rc = __real_rmdir(name);
    if (rc == 0) {
        const std::string path = absolute(name);
        note({NameChange::RemovedFolder, path, {}, {}, {folderOf(path)}});
    }
    return rc;
}

// A file made by open(O_CREAT) (temporary files, an export's unfinished file) is
// a new name like any other: gone at a cut unless its folder was synced.
int __wrap_openat(int dir, const char* name, int flags, ...) {
    mode_t mode = 0;
    if ((flags & O_CREAT) || (flags & O_TMPFILE) == O_TMPFILE) {
        va_list ap;
        va_start(ap, flags);
        mode = mode_t(va_arg(ap, int));
        va_end(ap);
    }
    if (!active || !(flags & O_CREAT))
        return __real_openat(dir, name, flags, mode);
    std::string path = name;
    if (path.empty() || path[0] != '/') {
        std::string base = ".";
        if (dir != AT_FDCWD) {
            char buf[PATH_MAX];
            const ssize_t n = readlink(("/proc/self/fd/" + std::to_string(dir)).c_str(), buf, sizeof buf - 1);
            if (n > 0)
                base.assign(buf, std::size_t(n));
        }
        path = base + "/" + path;
    }
    path = absolute(path);
    struct stat st;
    const bool makes = lstat(path.c_str(), &st) != 0;
    if (makes)
        event();
    const int fd = __real_openat(dir, name, flags, mode);
    if (fd >= 0 && makes)
        note({NameChange::Made, path, {}, {}, {folderOf(path)}});
    return fd;
}

int __wrap_open(const char* name, int flags, ...) {
    mode_t mode = 0;
    if ((flags & O_CREAT) || (flags & O_TMPFILE) == O_TMPFILE) {
        va_list ap;
        va_start(ap, flags);
        mode = mode_t(va_arg(ap, int));
        va_end(ap);
    }
    return __wrap_openat(AT_FDCWD, name, flags, mode);
}

int __wrap_fsync(int fd) {
    if (!active)
        return __real_fsync(fd);
    event();
    char buf[PATH_MAX];
    const ssize_t n = readlink(("/proc/self/fd/" + std::to_string(fd)).c_str(), buf, sizeof buf - 1);
    if (n <= 0)
        return __real_fsync(fd);
    const std::string path(buf, std::size_t(n));
    if (isFolder(path))
        folderSynced(path);
    else
        fileSynced(path);
    return 0;
}

} // extern "C"
