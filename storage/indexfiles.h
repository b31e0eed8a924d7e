#pragma once
// The two names of the ledger index ("run.dll" at rest, "tsl.mdb" while the
// program runs) and what to do when a start finds both.
#include <ctime>
#include <optional>
#include <string>
#include <vector>

namespace tsl {

// The ledger names an index file lists, in stored order, read without changing
// the file; nothing when it cannot be read.
[[nodiscard]] std::optional<std::vector<std::string>> ledgerNamesIn(const std::string& indexFile) noexcept;

// Renames the index between its two names (`from` to `to`, both in the current
// folder), never replacing a file, and puts the new name on disk: after a power
// cut the index is found under the name it was given last. renameIndex throws
// Error as renameNoReplace does; tryRenameIndex says whether it was renamed.
void renameIndex(const std::string& from, const std::string& to);
[[nodiscard]] bool tryRenameIndex(const std::string& from, const std::string& to) noexcept;

// Moves `file` out of the way under file + "." + its local time (such as
// "run.dll.20261209-053000", numbered "-2", "-3"... when taken), never replacing
// anything. Returns the new name, or "" when it could not be moved.
[[nodiscard]] std::string setAside(const std::string& file, std::time_t now) noexcept;

} // namespace tsl
