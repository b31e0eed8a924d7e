#include "folderlock.h"
#include "tempdir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// Asks a child process (which does not share our lock) whether it can take the lock.
bool otherProcessCanLock() {
    pid_t pid = fork();
    if (pid == 0) {
        tsl::FolderLock lock;
        _exit(lock.tryLock() ? 0 : 1);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

} // namespace

TEST(FolderLock, KeepsASecondProcessOutUntilReleased) {
    tsltest::TempDir dir;
    {
        tsl::FolderLock lock;
        ASSERT_TRUE(lock.tryLock());
        EXPECT_TRUE(lock.tryLock()); // taking it again is harmless
        EXPECT_FALSE(otherProcessCanLock());
        EXPECT_TRUE(std::filesystem::is_empty(dir.path())); // no lock file
    }
    EXPECT_TRUE(otherProcessCanLock());
}

TEST(FolderLock, OtherFoldersAreFree) {
    tsltest::TempDir a;
    tsl::FolderLock lock;
    ASSERT_TRUE(lock.tryLock());
    tsltest::TempDir b; // now the current folder
    EXPECT_TRUE(otherProcessCanLock());
}
