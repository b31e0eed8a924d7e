#include "export/outfile.h"

#include "storage/fileops.h"
#include "storage/ledgerfolder.h"
#include "storage/schema.h"
#include "export/table.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <mutex>
#include <pthread.h>
#include <random>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace tsl::out {

namespace {

constexpr std::string_view kPartSuffix = ".part";
constexpr std::size_t kHexDigits = 8;
// "." + stem + "." + hex + ".part"
constexpr std::size_t kTempExtra = 1 + 1 + kHexDigits + kPartSuffix.size();

std::string folderOf(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string baseOf(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string join(const std::string& folder, const std::string& name) {
    return folder == "/" ? "/" + name : folder + "/" + name;
}

std::string lower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
    return s;
}

// ---- what an export must not replace --------------------------------------------------

struct Source {
    dev_t dev;
    ino_t ino;
    std::string folder;
};

std::mutex sourcesMutex;
std::vector<Source>& sources() {
    static std::vector<Source> all;
    return all;
}

ExportError refusal(const std::string& path, std::string_view why) {
    return ExportError("不能导出到 \"" + path + "\": " + std::string(why) + "!");
}

bool exists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

// A folder the program keeps its ledgers in: one that holds the ledger index
// (under either name), or the folder of a ledger being read.
bool isDataFolder(const std::string& folder) {
    {
        std::lock_guard lock(sourcesMutex);
        for (const Source& s : sources())
            if (s.folder == folder)
                return true;
    }
    return exists(join(folder, std::string(kIndexFile))) || exists(join(folder, std::string(kStoredIndexFile)));
}

bool isDatabaseFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return false;
    char head[16] = {};
    const ssize_t n = ::read(fd, head, sizeof head);
    ::close(fd);
    return n == ssize_t(sizeof head) && std::memcmp(head, "SQLite format 3", 16) == 0;
}

// `target` is absolute with its folder's links resolved; `st` is its stat when it exists.
void checkResolved(const std::string& path, const std::string& target, const struct stat* st) {
    if (st) {
        std::lock_guard lock(sourcesMutex);
        for (const Source& s : sources())
            if (s.dev == st->st_dev && s.ino == st->st_ino)
                throw refusal(path, "这就是正在导出的帐本");
    }
    const std::string folder = folderOf(target);
    const std::string name = lower(baseOf(target));
    if (isDataFolder(folder)) {
        for (std::string_view index : {kIndexFile, kStoredIndexFile})
            if (name == index || name.starts_with(std::string(index) + "-"))
                throw refusal(path, "这是帐本列表文件");
        if (name.ends_with(kLedgerSuffix) || name.find(std::string(kLedgerSuffix) + "-") != std::string::npos)
            throw refusal(path, "这是帐本文件");
        if (name == ".tessolan.lock" || isTempCopyName(baseOf(target)))
            throw refusal(path, "这是程序自己的文件");
    }
    for (std::string f = folder; f != "/" && !f.empty(); f = folderOf(f))
        if (baseOf(f) == "backups" && isDataFolder(folderOf(f)))
            throw refusal(path, "这是帐本的备份");
    if (st && isDatabaseFile(target))
        throw refusal(path, "这是一个数据库文件");
}

// Where a file at `path` lands. `device` when it is a character device or a pipe.
struct Resolved {
    std::string target;
    bool exists = false;
    bool device = false;
    struct stat st {};
};

std::string realFolder(const std::string& path, const std::string& forMessage) {
    char* real = ::realpath(folderOf(path).c_str(), nullptr);
    if (!real)
        throw ExportError(writeFailure(forMessage, errno));
    std::string folder = real;
    std::free(real);
    return folder;
}

Resolved resolve(const std::string& path) {
    if (path.empty() || path.back() == '/')
        throw ExportError(writeFailure(path, EISDIR));
    Resolved r;
    if (::stat(path.c_str(), &r.st) == 0) {
        r.exists = true;
        if (S_ISCHR(r.st.st_mode) || S_ISFIFO(r.st.st_mode)) {
            r.device = true;
            r.target = path;
            return r;
        }
        if (S_ISDIR(r.st.st_mode))
            throw refusal(path, "这是一个文件夹");
        if (!S_ISREG(r.st.st_mode))
            throw refusal(path, "这不是普通文件");
        char* real = ::realpath(path.c_str(), nullptr);
        if (!real)
            throw ExportError(writeFailure(path, errno));
        r.target = real;
        std::free(real);
        return r;
    }
    if (errno != ENOENT)
        throw ExportError(writeFailure(path, errno));
    // Nothing there yet, or a link to a file not made yet: the file goes where the links lead.
    std::string at = path;
    for (int hop = 0;; ++hop) {
        struct stat ls {};
        if (::lstat(at.c_str(), &ls) != 0) {
            if (errno != ENOENT)
                throw ExportError(writeFailure(path, errno));
            break;
        }
        if (!S_ISLNK(ls.st_mode)) // made meanwhile: refused or replaced as any file is
            return resolve(at);
        if (hop >= 40)
            throw ExportError(writeFailure(path, ELOOP));
        std::vector<char> buf(std::size_t(ls.st_size > 0 ? ls.st_size : 255) + 1);
        const ssize_t n = ::readlink(at.c_str(), buf.data(), buf.size());
        if (n < 0 || std::size_t(n) >= buf.size())
            throw ExportError(writeFailure(path, n < 0 ? errno : ELOOP));
        const std::string link(buf.data(), std::size_t(n));
        at = link.starts_with('/') ? link : join(folderOf(at), link);
    }
    r.target = join(realFolder(at, path), baseOf(at));
    return r;
}

// Writes all of `n` bytes; a reader that went away is an error, not a signal
// that ends the program.
int writeAll(int fd, const char* data, std::size_t n) {
    sigset_t pipe, old;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe, &old);
    int err = 0;
    while (n > 0) {
        const ssize_t w = ::write(fd, data, n);
        if (w < 0) {
            if (errno == EINTR)
                continue;
            err = errno;
            break;
        }
        data += w;
        n -= std::size_t(w);
    }
    if (err == EPIPE && !sigismember(&old, SIGPIPE)) {
        const timespec none{0, 0};
        while (sigtimedwait(&pipe, nullptr, &none) > 0) {
        }
    }
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
    return err;
}

// The file's name cut, on a character boundary, so that the temporary name fits the folder.
std::string tempStem(const std::string& folder, const std::string& name) {
    long max = ::pathconf(folder.c_str(), _PC_NAME_MAX);
    if (max <= long(kTempExtra))
        max = 255;
    const std::size_t room = std::size_t(max) - kTempExtra;
    if (name.size() <= room)
        return name;
    std::size_t cut = room;
    while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80)
        --cut;
    return name.substr(0, std::max<std::size_t>(cut, 1));
}

} // namespace

std::string reasonText(int err) {
    switch (err) {
    case ENOSPC: return "磁盘空间已满";
    case EDQUOT: return "超出了磁盘配额";
    case EROFS: return "磁盘是只读的";
    case EACCES:
    case EPERM: return "没有写入的权限";
    case EIO: return "磁盘读写出错";
    case ENOENT: return "文件夹不存在";
    case ENOTDIR: return "路径中有一项不是文件夹";
    case ENAMETOOLONG: return "文件名太长";
    case EISDIR: return "这是一个文件夹";
    case EFBIG: return "文件超出了允许的大小";
    case ELOOP: return "符号链接太多或者绕成了圈";
    case EMFILE:
    case ENFILE: return "打开的文件太多";
    case EPIPE: return "读取的一方已经关闭";
    case EEXIST: return "文件已经存在";
    case EBUSY:
    case ETXTBSY: return "文件正在使用中";
    case ENOMEM: return "内存不足";
    case ENXIO:
    case ENODEV: return "设备不存在";
    case ESTALE:
    case ENOTCONN:
    case EHOSTDOWN:
    case EHOSTUNREACH:
    case ETIMEDOUT: return "网络文件夹无法访问";
    default: return "系统错误 " + std::to_string(err);
    }
}

std::string writeFailure(const std::string& path, int err) {
    return "不能写入文件 \"" + path + "\": " + reasonText(err) + "!";
}

void checkTarget(const std::string& path) {
    const Resolved r = resolve(path);
    if (!r.device)
        checkResolved(path, r.target, r.exists ? &r.st : nullptr);
}

ProtectedSource::ProtectedSource(const std::string& file) {
    struct stat st {};
    if (::stat(file.c_str(), &st) != 0)
        return;
    dev_ = st.st_dev;
    ino_ = st.st_ino;
    char* real = ::realpath(folderOf(file).c_str(), nullptr);
    if (real) {
        folder_ = real;
        std::free(real);
    }
    std::lock_guard lock(sourcesMutex);
    sources().push_back({dev_, ino_, folder_});
}

ProtectedSource::~ProtectedSource() {
    std::lock_guard lock(sourcesMutex);
    auto& all = sources();
    const auto it = std::find_if(all.begin(), all.end(), [this](const Source& s) {
        return s.dev == dev_ && s.ino == ino_ && s.folder == folder_;
    });
    if (it != all.end())
        all.erase(it);
}

bool isExportLeftoverName(std::string_view name) noexcept {
    if (name.size() < kTempExtra + 1 || name[0] != '.' || !name.ends_with(kPartSuffix))
        return false;
    const std::size_t hex = name.size() - kPartSuffix.size() - kHexDigits;
    if (name[hex - 1] != '.')
        return false;
    for (std::size_t i = hex; i < hex + kHexDigits; ++i)
        if (!((name[i] >= '0' && name[i] <= '9') || (name[i] >= 'a' && name[i] <= 'f')))
            return false;
    return true;
}

std::size_t removeExportLeftovers(const std::string& folder) noexcept {
    const int dfd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd < 0)
        return 0;
    DIR* dir = ::fdopendir(::dup(dfd));
    if (!dir) {
        ::close(dfd);
        return 0;
    }
    std::vector<std::string> names;
    while (const dirent* e = ::readdir(dir))
        if (isExportLeftoverName(e->d_name))
            names.emplace_back(e->d_name);
    ::closedir(dir);
    std::size_t removed = 0;
    for (const std::string& name : names) {
        const int fd = ::openat(dfd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
        if (fd < 0)
            continue;
        struct stat held {}, now {};
        // A live export holds a lock on its temporary file for as long as it writes.
        if (::fstat(fd, &held) == 0 && S_ISREG(held.st_mode) && ::flock(fd, LOCK_EX | LOCK_NB) == 0 &&
            ::fstatat(dfd, name.c_str(), &now, AT_SYMLINK_NOFOLLOW) == 0 && now.st_dev == held.st_dev &&
            now.st_ino == held.st_ino && ::unlinkat(dfd, name.c_str(), 0) == 0)
            ++removed;
        ::close(fd);
    }
    ::close(dfd);
    return removed;
}

OutFile::OutFile(std::string path) : path_(std::move(path)) {
    const Resolved r = resolve(path_);
    target_ = r.target;
    if (r.device) {
        // Written straight into: a device or a pipe has no folder to put a file beside it.
        device_ = true;
        fd_ = ::open(target_.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY);
        if (fd_ < 0)
            throw ExportError(writeFailure(path_, errno));
        return;
    }
    checkResolved(path_, target_, r.exists ? &r.st : nullptr);

    const std::string folder = folderOf(target_);
    removeExportLeftovers(folder);
    const std::string stem = tempStem(folder, baseOf(target_));
    std::random_device rd;
    for (int attempt = 0; attempt < 16 && fd_ < 0; ++attempt) {
        char suffix[16];
        std::snprintf(suffix, sizeof suffix, "%08x", unsigned(rd()));
        temp_ = join(folder, "." + stem + "." + suffix + std::string(kPartSuffix));
        const int fd = ::open(temp_.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0) {
            if (errno == EEXIST)
                continue;
            throw ExportError(writeFailure(path_, errno));
        }
        // Locked so that another export's tidying leaves it alone; one that
        // tidied it away before we locked it made it useless.
        // Where the file system has no such locks the file goes unlocked; its
        // leftovers then stay, as nobody can tell them from a live export's.
        struct stat st {};
        const bool taken = ::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
        if (taken || ::fstat(fd, &st) != 0 || st.st_nlink == 0) {
            ::close(fd);
            continue;
        }
        fd_ = fd;
    }
    if (fd_ < 0)
        throw ExportError(writeFailure(path_, EEXIST));
    if (r.exists)
        (void)::fchmod(fd_, r.st.st_mode & 07777); // the new file keeps the old one's permissions
}

OutFile::~OutFile() {
    if (device_) {
        if (!temp_.empty())
            ::unlink(temp_.c_str());
    } else if (!done_ && fd_ >= 0) {
        ::unlink(temp_.c_str());
    }
    if (fd_ >= 0)
        ::close(fd_);
}

void OutFile::write(const char* data, std::size_t n) {
    if (const int err = writeAll(fd_, data, n))
        throw ExportError(writeFailure(path_, err));
}

std::string OutFile::writerPath() {
    if (!device_ || !temp_.empty())
        return temp_;
    // The writer needs a file it can seek in; its bytes go into the device at commit().
    const char* tmp = std::getenv("TMPDIR");
    std::string name = std::string(tmp && *tmp ? tmp : "/tmp") + "/.tessolan-export-XXXXXX";
    const int fd = ::mkstemp(name.data());
    if (fd < 0)
        throw ExportError(writeFailure(path_, errno));
    ::close(fd);
    temp_ = name;
    return temp_;
}

void OutFile::commit() {
    if (device_) {
        if (!temp_.empty()) {
            const int in = ::open(temp_.c_str(), O_RDONLY | O_CLOEXEC);
            if (in < 0)
                throw ExportError(writeFailure(path_, errno));
            std::vector<char> buf(1 << 16);
            int err = 0;
            for (;;) {
                const ssize_t n = ::read(in, buf.data(), buf.size());
                if (n < 0 && errno == EINTR)
                    continue;
                if (n <= 0) {
                    err = n < 0 ? errno : 0;
                    break;
                }
                if ((err = writeAll(fd_, buf.data(), std::size_t(n))) != 0)
                    break;
            }
            ::close(in);
            if (err)
                throw ExportError(writeFailure(path_, err));
        }
        done_ = true;
        return;
    }
    // A writer that opened the temporary path by name wrote the same file,
    // unless it put a new one in its place.
    struct stat mine {}, named {};
    int syncFd = fd_;
    if (::fstat(fd_, &mine) == 0 && ::stat(temp_.c_str(), &named) == 0 &&
        (mine.st_ino != named.st_ino || mine.st_dev != named.st_dev))
        syncFd = ::open(temp_.c_str(), O_RDONLY | O_CLOEXEC);
    if (const int err = syncFd < 0 ? errno : syncFile(syncFd, temp_)) {
        if (syncFd >= 0 && syncFd != fd_)
            ::close(syncFd);
        throw ExportError(writeFailure(path_, err));
    }
    if (syncFd != fd_)
        ::close(syncFd);
    if (::rename(temp_.c_str(), target_.c_str()) != 0)
        throw ExportError(writeFailure(path_, errno));
    done_ = true;
    syncFolder(folderOf(target_)); // the new name is on disk too
}

} // namespace tsl::out
