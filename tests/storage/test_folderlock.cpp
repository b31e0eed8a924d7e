#include "storage/folderlock.h"
#include "tests/support/tempdir.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <filesystem>
#include <sys/stat.h>
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

// A folder its user may write but not list (mode 0333): the lock still works,
// keeps a second process out, and an orderly release leaves no file.
TEST(FolderLock, WorksInAFolderThatCannotBeListed) {
    tsltest::TempDir dir;
    ASSERT_EQ(chmod(dir.path().c_str(), 0711), 0);
    ASSERT_EQ(mkdir("box", 0333), 0);
    ASSERT_EQ(chmod("box", 0333), 0);
    // The superuser reads every folder: the check runs as a user the mode binds.
    const bool root = geteuid() == 0;
    ASSERT_TRUE(!root || chown("box", 65534, 65534) == 0);
    const int code = tsltest::inChild([root] {
        if (root && (setgid(65534) != 0 || setuid(65534) != 0))
            return 10;
        if (chdir("box") != 0 || opendir(".")) // the folder must really be unlistable here
            return 11;
        tsl::FolderLock lock;
        if (!lock.tryLock() || otherProcessCanLock())
            return 1;
        lock.unlock();
        if (access(tsl::FolderLock::kLockFile, F_OK) == 0 || !otherProcessCanLock())
            return 2;
        return 0;
    });
    chmod("box", 0755);
    EXPECT_EQ(code, 0) << "1: not locked or a second process got in, 2: lock file left or not released";
}
