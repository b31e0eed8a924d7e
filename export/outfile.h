#pragma once
#include <string>

namespace tsl::out {

// A file written under a temporary name beside its final path and renamed into
// place by commit(); dropped (removed) otherwise, so an existing file at the
// path stays as it was until the new one is whole and on disk.
class OutFile {
public:
    explicit OutFile(std::string path);
    ~OutFile();
    OutFile(const OutFile&) = delete;
    OutFile& operator=(const OutFile&) = delete;

    [[nodiscard]] const std::string& tempPath() const { return temp_; }
    [[nodiscard]] int fd() const { return fd_; }
    void write(const char* data, std::size_t n);
    // Closes our descriptor (for writers that open the temporary path themselves).
    void closeFd();
    void commit();

private:
    std::string path_;
    std::string temp_;
    int fd_ = -1;
    bool done_ = false;
};

// The message for a file that cannot be written: the path and the system's reason.
[[nodiscard]] std::string writeFailure(const std::string& path, int err);

} // namespace tsl::out
