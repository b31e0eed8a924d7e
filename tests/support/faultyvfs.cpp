#include "tests/support/faultyvfs.h"

#include <sqlite3.h>

#include <utility>

namespace tsltest {

namespace {

sqlite3_vfs* real = nullptr;
sqlite3_vfs shim;
// A watched file is the real one, its methods a copy with our xWrite.
const sqlite3_io_methods* realMethods = nullptr;
sqlite3_io_methods faultyMethods;
std::string armedSuffix;
int armedCode = 0;
int failed = 0;

int xWrite(sqlite3_file* f, const void* p, int n, sqlite3_int64 off) {
    if (!armedCode)
        return realMethods->xWrite(f, p, n, off);
    ++failed;
    return std::exchange(armedCode, 0);
}

int xOpen(sqlite3_vfs*, sqlite3_filename name, sqlite3_file* f, int flags, int* outFlags) {
    const int rc = real->xOpen(real, name, f, flags, outFlags);
    if (f->pMethods && name && !armedSuffix.empty() && std::string(name).ends_with(armedSuffix)) {
        realMethods = f->pMethods;
        faultyMethods = *realMethods;
        faultyMethods.xWrite = xWrite;
        f->pMethods = &faultyMethods;
    }
    return rc;
}

} // namespace

FaultyVfs::FaultyVfs() {
    real = sqlite3_vfs_find(nullptr);
    // Its other calls take no notice of the object they come through.
    shim = *real;
    shim.zName = "tsltest-faulty";
    shim.xOpen = xOpen;
    armedSuffix.clear();
    armedCode = failed = 0;
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
