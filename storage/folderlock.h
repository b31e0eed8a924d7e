#pragma once

namespace tsl {

// An exclusive lock on the current folder for the life of the object, so that a
// second copy of the program started in the same folder can tell and keep off
// the index and the ledgers. It creates no file: the lock is on the folder
// itself, and the system drops it when the process ends in any way.
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

private:
    int fd_ = -1;
};

} // namespace tsl
