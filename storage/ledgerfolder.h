#pragma once
#include <string>
#include <vector>

namespace tsl {

// What a ledger creation that did not finish can leave in the current folder,
// and how it goes again. A new ledger is a copy of the index made under a
// temporary name, renamed into place and then listed in the index; a program
// that dies between those steps leaves a temporary copy, or a ledger file that
// no index row names.

// True when the name is one of the temporary files of a copy ("x.mdb.tmp-XXXXXX",
// with or without SQLite's journal beside it).
[[nodiscard]] bool isTempCopyName(const std::string& name);

// True when `file` is a ledger file no one has written to: a database with every
// table of a ledger, each book and lookup list empty, and no journal beside it.
// Its ledger list (copied from the index) does not count. False when unsure.
[[nodiscard]] bool isUntouchedCopy(const std::string& file) noexcept;

// Removes `file` when it is an untouched copy; true when it is gone.
// A file that holds anything someone entered is never removed.
bool removeUntouchedCopy(const std::string& file) noexcept;

// At start-up, with the folder lock held: removes every temporary copy, and every
// untouched ledger file that is not among `listed` (ledger names from the index);
// settles the journals beside ledger files (and the index): one a crash left hot
// is played back, one SQLite would never play back is removed. Returns the names
// removed. A folder that cannot be listed is left as it is.
std::vector<std::string> tidyLedgerFolder(const std::vector<std::string>& listed) noexcept;

} // namespace tsl
