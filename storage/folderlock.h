#pragma once

namespace tsl {

// An exclusive lock on the current folder for the life of the object, so that a
// second copy of the program started in the same folder can tell and keep off
// the index and the ledgers. Where the folder can be opened, the lock is on the
// folder itself and no file is created. A folder the program may write but not
// list cannot be opened: there the lock is on a small lock file, which an
// orderly unlock removes again. Either way the system drops the lock when the
// process ends in any way.
class FolderLock {
public:
    FolderLock() = default;
    ~FolderLock();
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;

    // True when this process now holds the lock (or already did).
    [[nodiscard]] bool tryLock() noexcept;
    [[nodiscard]] bool locked() const { return fd_ >= 0; }
    void unlock() noexcept;

    static constexpr const char* kLockFile = ".tessolan.lock";

private:
    bool tryLockFile() noexcept;

    int fd_ = -1;
    bool byFile_ = false;
};

} // namespace tsl
