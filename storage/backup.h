#pragma once
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tsl {

// Snapshots of the ledger files and of the index, kept in the data folder under
// backups/<file name>/<local time>.mdb. A snapshot is a consistent copy made
// through SQLite's backup API; it is never opened by the program as a ledger.
inline constexpr std::string_view kBackupFolder = "backups";

struct Snapshot {
    std::string path;     // backups/<file>/<name>
    std::string name;     // "20261208-213510.mdb", "-2" etc. before ".mdb" when the second is taken
    std::time_t time = 0; // from the name, local time
    int seq = 0;          // 0, then 2, 3, ... for snapshots in the same second
};

// Where the snapshots of a database file ("x.mdb", "tsl.mdb") live. Throws Error
// for a file name that would reach another folder.
[[nodiscard]] std::string snapshotFolder(const std::string& file);

// Snapshots of a file, oldest first. Files in the folder that are not snapshots
// are left out (and never touched).
[[nodiscard]] std::vector<Snapshot> listSnapshots(const std::string& file);

// The snapshot that holds the file as it is now, if any. A snapshot carries the
// modification time (and has the size) its source had when it was taken.
[[nodiscard]] std::optional<Snapshot> snapshotHolding(const std::string& file);

// True when no snapshot holds the file as it is now.
[[nodiscard]] bool changedSinceSnapshot(const std::string& file);

// The name and path the next snapshot of `file` takes (nothing there yet), its
// folder made. Throws Error.
[[nodiscard]] Snapshot nextSnapshot(const std::string& file, std::time_t now);

// Takes a snapshot of `file` as of `now`. Throws Error on failure; nothing but
// the snapshot folder is left then.
Snapshot takeSnapshot(const std::string& file, std::time_t now);

// Which snapshots the history keeps: the newest kKeepNewest, the newest of each
// of the last kKeepDays days and the newest of each of the last kKeepMonths
// months (counting the day and month of `now`). Returns the ones to drop.
inline constexpr int kKeepNewest = 10;
inline constexpr int kKeepDays = 30;
inline constexpr int kKeepMonths = 12;
[[nodiscard]] std::vector<Snapshot> snapshotsToDrop(const std::vector<Snapshot>& all, std::time_t now);

// Deletes the snapshots the history no longer keeps; failures are ignored.
void pruneSnapshots(const std::string& file, std::time_t now) noexcept;

// A snapshot of every file that changed since its last one, then the history
// pruned. A missing file is skipped. Returns one line per failure ("file: why");
// a failure never stops the others and never touches the file itself.
[[nodiscard]] std::vector<std::string> backupChanged(const std::vector<std::string>& files, std::time_t now);

// Book sizes of a snapshot (customers, shipments, purchases, deliveries);
// empty when it cannot be read as a ledger.
[[nodiscard]] std::vector<long long> snapshotRowCounts(const std::string& path) noexcept;

// Puts a snapshot of `file` in place of the file. The current contents are
// kept as a snapshot first (unless the newest one already holds them); returns
// the snapshot that holds them ("" when there was no file). The replacement is
// atomic: at any moment the file holds its old contents or the snapshot's.
// The caller makes sure no connection is open on the file. Throws Error.
std::string restoreSnapshot(const std::string& file, const Snapshot& snapshot, std::time_t now);

// Copies the index (as "run.dll", so the folder works as a data folder) and
// every ledger file into a new folder "tessolan-备份-<time>" under `parent`,
// never overwriting anything. The folder appears only when complete; what
// earlier backups cut short left in `parent` goes first.
// Returns its path; missing ledger files are listed in `skipped`. Throws Error.
std::string backupAllTo(const std::string& parent, const std::string& indexFile,
                        const std::vector<std::string>& ledgerFiles, std::time_t now,
                        std::vector<std::string>* skipped = nullptr);

// True when `name` is a folder name backupAllTo works under before the folder
// is complete: "tessolan-备份-YYYYMMDD-HHMMSS.tmp-" and six letters or digits.
[[nodiscard]] bool isBackupAllTempName(const std::string& name);

// Removes from `parent` the folders backups cut short left there: names for
// which isBackupAllTempName holds, folders themselves (not links) holding only
// plain files of the names a backup writes, and no backup at work in them.
// backupAllTo does this first. Returns the names removed. Never fails.
std::vector<std::string> tidyBackupAllLeftovers(const std::string& parent) noexcept;

// Removes what a copy cut short left in the snapshot folders (plain files of
// the program's temporary names only). Never fails.
void tidyBackups() noexcept;

// "2026-12-08 21:35:10" for a snapshot's time.
[[nodiscard]] std::string snapshotTimeText(const Snapshot& s);

} // namespace tsl
