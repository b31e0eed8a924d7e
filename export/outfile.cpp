#include "outfile.h"

#include "table.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

namespace tsl::out {

std::string writeFailure(const std::string& path, int err) {
    return "不能写入文件 \"" + path + "\": " + std::strerror(err);
}

OutFile::OutFile(std::string path) : path_(std::move(path)) {
    const auto slash = path_.rfind('/');
    const std::string dir = slash == std::string::npos ? std::string() : path_.substr(0, slash + 1);
    const std::string base = slash == std::string::npos ? path_ : path_.substr(slash + 1);
    std::random_device rd;
    for (int attempt = 0; attempt < 16 && fd_ < 0; ++attempt) {
        char suffix[16];
        std::snprintf(suffix, sizeof suffix, "%08x", unsigned(rd()));
        temp_ = dir + "." + base + "." + suffix + ".part";
        fd_ = ::open(temp_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd_ < 0 && errno != EEXIST)
            break;
    }
    if (fd_ < 0)
        throw ExportError(writeFailure(path_, errno));
}

OutFile::~OutFile() {
    closeFd();
    if (!done_)
        ::unlink(temp_.c_str());
}

void OutFile::write(const char* data, std::size_t n) {
    while (n > 0) {
        const ssize_t w = ::write(fd_, data, n);
        if (w < 0) {
            if (errno == EINTR)
                continue;
            throw ExportError(writeFailure(path_, errno));
        }
        data += w;
        n -= std::size_t(w);
    }
}

void OutFile::closeFd() {
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}

void OutFile::commit() {
    // What another writer wrote to the temporary path is synced too.
    const int fd = fd_ >= 0 ? fd_ : ::open(temp_.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0 || ::fsync(fd) != 0) {
        const int err = errno;
        if (fd >= 0 && fd != fd_)
            ::close(fd);
        throw ExportError(writeFailure(path_, err));
    }
    if (fd != fd_)
        ::close(fd);
    closeFd();
    if (::rename(temp_.c_str(), path_.c_str()) != 0)
        throw ExportError(writeFailure(path_, errno));
    done_ = true;
}

} // namespace tsl::out
