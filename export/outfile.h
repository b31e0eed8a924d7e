#pragma once
#include <cstddef>
#include <string>
#include <string_view>
#include <sys/types.h>

namespace tsl::out {

// A file written under a temporary name beside its final path and renamed into
// place by commit(); dropped (removed) otherwise, so an existing file at the
// path stays as it was until the new one is whole and on disk.
//
// A symbolic link at the path is followed: the file it points to is replaced
// and the link stays. A character device or a pipe is written straight into.
// The program's own files are never replaced: the constructor refuses, with a
// message for the user, a ledger or the ledger index of a data folder, anything
// in its backups folder, any other database file, and the file an export is
// reading (see ProtectedSource).
class OutFile {
public:
    explicit OutFile(std::string path);
    ~OutFile();
    OutFile(const OutFile&) = delete;
    OutFile& operator=(const OutFile&) = delete;

    void write(const char* data, std::size_t n);
    // For writers that open a file by name themselves: the name they write to.
    // Nothing goes through write() afterwards.
    [[nodiscard]] std::string writerPath();
    void commit();

private:
    std::string path_;    // as the user gave it, for messages
    std::string target_;  // where the file lands, links followed
    std::string temp_;    // the temporary beside target_, or a scratch file for a device
    int fd_ = -1;         // the temporary (locked while we live), or the device
    bool device_ = false;
    bool done_ = false;
};

// While one lives, exports refuse to replace this file (the same device and
// inode, whatever the name) and treat its folder as a data folder.
class ProtectedSource {
public:
    explicit ProtectedSource(const std::string& file);
    ~ProtectedSource();
    ProtectedSource(const ProtectedSource&) = delete;
    ProtectedSource& operator=(const ProtectedSource&) = delete;

private:
    dev_t dev_ = 0;
    ino_t ino_ = 0;
    std::string folder_;
};

// Throws ExportError when an export must not replace `path` (see OutFile).
void checkTarget(const std::string& path);

// True for the name of an export's temporary file: "." + the file's name (cut
// to fit) + "." + eight hex digits + ".part". One left behind by an export that
// was killed is removed by the next export into its folder.
[[nodiscard]] bool isExportLeftoverName(std::string_view name) noexcept;

// Removes the exports' leftovers in `folder`: regular files of that name that no
// live export holds. Returns how many were removed; never throws.
std::size_t removeExportLeftovers(const std::string& folder) noexcept;

// The message for a file that cannot be written: the path and the reason, in Chinese.
[[nodiscard]] std::string writeFailure(const std::string& path, int err);
// The reason alone, for an errno value.
[[nodiscard]] std::string reasonText(int err);

} // namespace tsl::out
