#include "faultyvfs.h"

#include <sqlite3.h>

#include <cstring>
#include <stdexcept>

namespace tsltest {

namespace {

sqlite3_vfs* real = nullptr;
sqlite3_vfs shim;
std::string armedSuffix;
int armedCode = 0;
int failed = 0;

// The real file lies right behind ours, in the room SQLite allots per file.
struct File {
    sqlite3_file base;
    bool watched;
    sqlite3_file* inner() { return reinterpret_cast<sqlite3_file*>(this + 1); }
};

File* self(sqlite3_file* f) { return reinterpret_cast<File*>(f); }

int xClose(sqlite3_file* f) { return self(f)->inner()->pMethods->xClose(self(f)->inner()); }
int xRead(sqlite3_file* f, void* p, int n, sqlite3_int64 off) {
    return self(f)->inner()->pMethods->xRead(self(f)->inner(), p, n, off);
}
int xWrite(sqlite3_file* f, const void* p, int n, sqlite3_int64 off) {
    if (self(f)->watched && armedCode) {
        const int code = armedCode;
        armedCode = 0;
        ++failed;
        return code;
    }
    return self(f)->inner()->pMethods->xWrite(self(f)->inner(), p, n, off);
}
int xTruncate(sqlite3_file* f, sqlite3_int64 size) {
    return self(f)->inner()->pMethods->xTruncate(self(f)->inner(), size);
}
int xSync(sqlite3_file* f, int flags) { return self(f)->inner()->pMethods->xSync(self(f)->inner(), flags); }
int xFileSize(sqlite3_file* f, sqlite3_int64* size) {
    return self(f)->inner()->pMethods->xFileSize(self(f)->inner(), size);
}
int xLock(sqlite3_file* f, int l) { return self(f)->inner()->pMethods->xLock(self(f)->inner(), l); }
int xUnlock(sqlite3_file* f, int l) { return self(f)->inner()->pMethods->xUnlock(self(f)->inner(), l); }
int xCheckReservedLock(sqlite3_file* f, int* out) {
    return self(f)->inner()->pMethods->xCheckReservedLock(self(f)->inner(), out);
}
int xFileControl(sqlite3_file* f, int op, void* arg) {
    return self(f)->inner()->pMethods->xFileControl(self(f)->inner(), op, arg);
}
int xSectorSize(sqlite3_file* f) { return self(f)->inner()->pMethods->xSectorSize(self(f)->inner()); }
int xDeviceCharacteristics(sqlite3_file* f) {
    return self(f)->inner()->pMethods->xDeviceCharacteristics(self(f)->inner());
}

// Version 1: no shared memory and no memory mapping, which rollback journals do not need.
const sqlite3_io_methods methods = {1,     xClose,    xRead,        xWrite,
                                    xTruncate, xSync, xFileSize,    xLock,
                                    xUnlock,   xCheckReservedLock, xFileControl, xSectorSize,
                                    xDeviceCharacteristics, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr};

int xOpen(sqlite3_vfs*, sqlite3_filename name, sqlite3_file* f, int flags, int* outFlags) {
    File* file = self(f);
    file->base.pMethods = nullptr;
    const int rc = real->xOpen(real, name, file->inner(), flags, outFlags);
    if (file->inner()->pMethods) {
        file->base.pMethods = &methods;
        const std::string n = name ? name : "";
        file->watched = !armedSuffix.empty() && n.size() >= armedSuffix.size() &&
                        n.compare(n.size() - armedSuffix.size(), armedSuffix.size(), armedSuffix) == 0;
    }
    return rc;
}

int xDelete(sqlite3_vfs*, const char* name, int syncDir) { return real->xDelete(real, name, syncDir); }
int xAccess(sqlite3_vfs*, const char* name, int flags, int* out) { return real->xAccess(real, name, flags, out); }
int xFullPathname(sqlite3_vfs*, const char* name, int n, char* out) {
    return real->xFullPathname(real, name, n, out);
}
int xRandomness(sqlite3_vfs*, int n, char* out) { return real->xRandomness(real, n, out); }
int xSleep(sqlite3_vfs*, int us) { return real->xSleep(real, us); }
int xCurrentTime(sqlite3_vfs*, double* t) { return real->xCurrentTime(real, t); }
int xGetLastError(sqlite3_vfs*, int n, char* out) { return real->xGetLastError(real, n, out); }

} // namespace

FaultyVfs::FaultyVfs() {
    sqlite3_initialize();
    real = sqlite3_vfs_find(nullptr);
    if (!real)
        throw std::runtime_error("no default file system in SQLite");
    std::memset(&shim, 0, sizeof shim);
    shim.iVersion = 1;
    shim.szOsFile = int(sizeof(File)) + real->szOsFile;
    shim.mxPathname = real->mxPathname;
    shim.zName = "tsltest-faulty";
    shim.xOpen = xOpen;
    shim.xDelete = xDelete;
    shim.xAccess = xAccess;
    shim.xFullPathname = xFullPathname;
    shim.xRandomness = xRandomness;
    shim.xSleep = xSleep;
    shim.xCurrentTime = xCurrentTime;
    shim.xGetLastError = xGetLastError;
    armedSuffix.clear();
    armedCode = 0;
    failed = 0;
    sqlite3_vfs_register(&shim, 1);
}

FaultyVfs::~FaultyVfs() {
    sqlite3_vfs_unregister(&shim);
    sqlite3_vfs_register(real, 1);
}

void FaultyVfs::failNextWrite(const std::string& suffix, int code) {
    armedSuffix = suffix;
    armedCode = code;
}

int FaultyVfs::failures() const { return failed; }

} // namespace tsltest
