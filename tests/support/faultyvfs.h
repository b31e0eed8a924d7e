#pragma once
#include <string>

namespace tsltest {

// SQLite's default file system with write faults on request (full disk, I/O error);
// while the object lives it is the default, for every connection opened meanwhile.
class FaultyVfs {
public:
    FaultyVfs();
    ~FaultyVfs();
    FaultyVfs(const FaultyVfs&) = delete;
    FaultyVfs& operator=(const FaultyVfs&) = delete;

    // The next write to a file opened from now on whose name ends in `suffix`
    // fails with `code` (for example SQLITE_FULL), once.
    void failNextWrite(const std::string& suffix, int code);
    [[nodiscard]] int failures() const; // writes failed so far
};

} // namespace tsltest
