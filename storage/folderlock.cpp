#include "storage/folderlock.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tsl {

FolderLock::~FolderLock() { unlock(); }

bool FolderLock::tryLock() noexcept {
    if (fd_ >= 0)
        return true;
    int fd = ::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return errno == EACCES && tryLockFile();
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return false;
    }
    fd_ = fd;
    byFile_ = false;
    return true;
}

// The holder removes the file when it lets go, so a lock taken on a file that
// was removed meanwhile is no lock: check that the name still leads to it.
bool FolderLock::tryLockFile() noexcept {
    for (int attempt = 0; attempt < 3; ++attempt) {
        int fd = ::open(kLockFile, O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd < 0)
            return false;
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            ::close(fd);
            return false;
        }
        struct stat held {}, named {};
        if (::fstat(fd, &held) == 0 && ::stat(kLockFile, &named) == 0 && held.st_dev == named.st_dev &&
            held.st_ino == named.st_ino) {
            fd_ = fd;
            byFile_ = true;
            return true;
        }
        ::close(fd);
    }
    return false;
}

void FolderLock::unlock() noexcept {
    if (fd_ < 0)
        return;
    if (byFile_)
        ::unlink(kLockFile); // while still locked, so no one else can hold it now
    ::flock(fd_, LOCK_UN);
    ::close(fd_);
    fd_ = -1;
    byFile_ = false;
}

} // namespace tsl
