#pragma once
// Ledgers managed as a whole: a new ledger that takes the customers and the
// lookup lists of an old one, renaming and deleting a ledger, bringing back a
// deleted one, and ledgers brought back from a folder of 备份全部帐本到….
//
// Each change touches a file and the index row that names it. A kill between
// the two leaves a state the next start-up puts right (settleLedgerFiles):
// - renaming gives the file its new name as a second hard link first, then
//   changes the row, then drops the old link. Two names of one file, one of
//   them listed: the unlisted one goes.
// - deleting, and every ledger that comes into the index with contents of its
//   own, passes through "<name>.mdb.parked": a parked file is its ledger's file
//   when the ledger is listed (it goes back in place) and nobody's when it is
//   not (it goes). The index row is the one step that decides.
// Every function here works in the current folder, with the index open on
// `index` (its ledger list, table "5") and the folder lock held.
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

namespace tsl {

class Connection;
struct Snapshot;

inline constexpr std::string_view kParkedSuffix = ".parked";

// name + ".mdb".
[[nodiscard]] std::string ledgerFileOf(const std::string& name);

// Creates the ledger `name` as a copy of the index, as a plain new ledger is,
// with the customer book and the six lookup lists of the ledger `source`
// copied in, in one transaction, and lists it. Throws Error; nothing is left
// then (no file, no row). Error(Exists) when the name's file is there.
void createLedgerFrom(Connection& index, const std::string& indexFile, const std::string& name,
                      const std::string& source);

// Renames a listed ledger's file and its index row. Error(Exists) when the new
// name's file is there, InUseError when another holds the file (the caller
// lets go of its own connection first). Throws Error; the old name stays then.
void renameLedger(Connection& index, const std::string& from, const std::string& to);

// Deletes a listed ledger: a snapshot holds its contents first (returned: its
// path, "" when the file was missing), then the file and the row go. Its
// snapshots stay, so that restoreDeletedLedger brings it back. Throws Error;
// the ledger stays then.
std::string deleteLedger(Connection& index, const std::string& name, std::time_t now);

// Ledgers that have snapshots but no row in the index (deleted ones), sorted.
[[nodiscard]] std::vector<std::string> deletedLedgers(const std::vector<std::string>& listed);

// Brings back an unlisted ledger from one of its snapshots, under its name, at
// the end of the list. Throws Error; nothing is left then.
void restoreDeletedLedger(Connection& index, const std::string& name, const Snapshot& snapshot);

// A folder written by 备份全部帐本到…: the ledgers its index ("run.dll") lists
// whose files are in it, in its order. Throws Error when it is no such folder.
[[nodiscard]] std::vector<std::string> ledgersInBackupFolder(const std::string& folder);

// Puts the ledger `name` of a backup folder in place. A listed ledger with a
// file is replaced in one step after a snapshot kept its contents (returned);
// an unlisted one is added at the end of the list. Throws Error; the ledger is
// as it was then.
std::string restoreLedgerFromFolder(Connection& index, const std::string& folder, const std::string& name,
                                    std::time_t now);

// At start-up, with the folder lock held and `listed` read from the index:
// finishes or undoes what a kill cut short above. Returns what it did, one
// line per file ("removed x", "restored x"), for tests.
std::vector<std::string> settleLedgerFiles(const std::vector<std::string>& listed) noexcept;

// Called with a step's name after each change on disk above; null for none.
// For tests that end the process there.
using LedgerStepHook = void (*)(std::string_view step);
void setLedgerStepHook(LedgerStepHook hook) noexcept;

} // namespace tsl
