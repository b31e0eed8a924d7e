#include "folderlock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace tsl {

FolderLock::~FolderLock() { unlock(); }

bool FolderLock::tryLock() noexcept {
    if (fd_ >= 0)
        return true;
    int fd = ::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return false;
    }
    fd_ = fd;
    return true;
}

void FolderLock::unlock() noexcept {
    if (fd_ < 0)
        return;
    ::flock(fd_, LOCK_UN);
    ::close(fd_);
    fd_ = -1;
}

} // namespace tsl
