#pragma once
#include <string>

struct sqlite3_vfs;

namespace tsltest {

// SQLite's default file system with faults on request, for the failures a real
// disk gives (full, I/O error). While the object lives it is the default, so
// every connection opened meanwhile goes through it.
class FaultyVfs {
public:
    FaultyVfs();
    ~FaultyVfs();
    FaultyVfs(const FaultyVfs&) = delete;
    FaultyVfs& operator=(const FaultyVfs&) = delete;

    // The next write to a file whose name ends in `suffix` fails with `code`
    // (for example SQLITE_FULL), once.
    void failNextWrite(const std::string& suffix, int code);
    // Writes failed so far.
    [[nodiscard]] int failures() const;
};

} // namespace tsltest
