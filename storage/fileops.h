#pragma once
#include <cstddef>
#include <string>
#include <vector>

namespace tsl {

// Closes a file descriptor when it goes out of scope (-1: nothing to close).
class FdCloser {
public:
    explicit FdCloser(int fd) noexcept : fd_(fd) {}
    ~FdCloser();
    FdCloser(const FdCloser&) = delete;
    FdCloser& operator=(const FdCloser&) = delete;

private:
    int fd_;
};

// Renames a file; never replaces an existing target. Throws Error on failure
// (target exists, source missing, ...), leaving both names as they were.
void renameNoReplace(const std::string& from, const std::string& to);

// Non-throwing form for steps whose failure is ignored.
[[nodiscard]] bool tryRenameNoReplace(const std::string& from, const std::string& to) noexcept;

// Writes a consistent copy of the SQLite database `from` (which may be open in
// this or another process) to `to`, which must not exist. The copy goes to a
// temporary file in the target's folder, is synced and then renamed into place
// without replacing. Throws Error on failure; nothing is left under `to` then.
void copyDatabase(const std::string& from, const std::string& to);

// Writes a consistent, synced copy of the database `from` into a new temporary
// file beside `near` (named near + ".tmp-XXXXXX") and returns its name; the
// caller renames it into place or removes it. Throws Error; nothing is left then.
[[nodiscard]] std::string copyDatabaseToTemp(const std::string& from, const std::string& near);

// Puts the file `from` in place of `to` in one step, replacing `to` when it
// exists (both on the same file system); `from` is gone afterwards. At every
// moment `to` names either its old file or the new one. Throws Error.
void replaceFile(const std::string& from, const std::string& to);

// The longest file name, in bytes, that copyDatabase can create in `folder`: the
// temporary copy's journal beside it is the longest name the copy makes, and
// every name in the folder must fit the file system's limit.
[[nodiscard]] std::size_t longestCopyTarget(const std::string& folder = ".") noexcept;

// A rollback journal created before the database file beside it cannot belong
// to that file: the file was replaced after a crash left the journal, and SQLite
// would play the old journal into the new file. So can a journal beside no file
// at all. Such a journal (a plain file only) is renamed aside (to name +
// "-journal.stale", numbered when that is taken), never deleted. Where the file
// system does not record creation times only the latter is moved. Returns the
// journal's new name, or "" when nothing was moved.
std::string setAsideStaleJournal(const std::string& db) noexcept;

// What settleJournal found beside a database.
enum class JournalState { None, Settled, InUse };
// Brings a journal a crash left beside `db` to rest. Opening and reading the
// file with write access plays back a journal SQLite would play back; one it
// never plays back (empty, or its header cut short to zeros) would stay until
// the next write, so it is removed as SQLite would, under the write lock that
// proves no one writes. InUse: someone holds the file. Throws Error when the
// file cannot be opened or read for another reason.
[[nodiscard]] JournalState settleJournal(const std::string& db);

// Puts a folder's new and renamed names on disk; failures are ignored.
void syncFolder(const std::string& folder) noexcept;

// Puts an open file's contents on disk: 0, or the errno of the failure.
[[nodiscard]] int syncFile(int fd, const std::string& path) noexcept;

// Called before every sync of a file or a folder with its name; null for none.
// For tests that check a published file is on disk before its name, and its
// name after.
enum class Synced { File, Folder };
using SyncObserver = void (*)(Synced what, const std::string& path);
void setSyncObserver(SyncObserver observer) noexcept;

// Creates a new, empty file `prefix` + six random letters and digits, with the
// permissions any new file of the user gets (0666 less the umask), never
// through a symbolic link; returns its name. Throws Error.
[[nodiscard]] std::string makeTempFile(const std::string& prefix);

// The same for a folder (0777 less the umask).
[[nodiscard]] std::string makeTempFolder(const std::string& prefix);

// True when the name is a folder itself, not a symbolic link to one.
[[nodiscard]] bool isRealFolder(const std::string& path) noexcept;

// Creates `path` as a folder unless it is one already, and puts its name on
// disk. Throws ForeignEntryError when a file or a symbolic link holds the
// name, Error when the folder cannot be made.
void makeOwnFolder(const std::string& path);

// Deletes `name` in `folder` only when it is a plain file (never a link, a
// folder or anything else), and never through a link to the folder's place.
// True when it is gone.
bool removeOwnFile(const std::string& folder, const std::string& name) noexcept;

// The names in a folder but "." and ".."; empty when it cannot be listed.
[[nodiscard]] std::vector<std::string> folderEntries(const std::string& folder);

// True when the name names an existing file (or anything else) in the file system.
[[nodiscard]] bool fileExists(const std::string& path) noexcept;

} // namespace tsl
