#pragma once
#include <cstddef>
#include <string>
#include <vector>

namespace tsl {

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
// would play the old journal into the new file. Such a journal is renamed aside
// (to name + "-journal.stale", numbered when that is taken), never deleted. Where
// the file system does not record creation times nothing is moved. Returns the
// journal's new name, or "" when nothing was moved.
std::string setAsideStaleJournal(const std::string& db) noexcept;

// Puts a folder's new and renamed names on disk; failures are ignored.
void syncFolder(const std::string& folder) noexcept;

// The names in a folder but "." and ".."; empty when it cannot be listed.
[[nodiscard]] std::vector<std::string> folderEntries(const std::string& folder);

// True when the name names an existing file (or anything else) in the file system.
[[nodiscard]] bool fileExists(const std::string& path) noexcept;

} // namespace tsl
