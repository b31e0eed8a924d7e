#pragma once
#include <string>

namespace tsl {

// An exclusive lock on one file, held for the life of the object or until
// unlock(). The lock is on the file itself, not on its name: a second path to the
// same file (a symbolic link, the folder mounted twice) meets the same lock. The
// system drops it when the process ends in any way.
//
// Keep the lock until every SQLite connection to the file has finished its
// transactions: closing any descriptor of a file drops the process's POSIX
// record locks on it, and SQLite uses those.
class FileLock {
public:
    FileLock() = default;
    ~FileLock();
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

    enum class Result { Locked, Busy, Failed };
    // Busy: another open of the file holds the lock. Failed: the file cannot be opened.
    [[nodiscard]] Result tryLock(const std::string& path) noexcept;
    [[nodiscard]] bool locked() const { return fd_ >= 0; }
    void unlock() noexcept;

private:
    int fd_ = -1;
};

} // namespace tsl
