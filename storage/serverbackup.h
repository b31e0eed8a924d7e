#pragma once
// Snapshots of server ledgers: local ledger files in the data folder's
// backups/, one folder per server ledger, kept by the same history as the
// ledger files' snapshots. They are read (counted, restored, exported) as
// any snapshot is.
#include "storage/backup.h"

#include <ctime>
#include <optional>
#include <string>

namespace tsl {

class Connection;

namespace pg {
class Session;
}

// The name under backups/ of a server ledger's snapshots, from the server's
// host, port and database and the ledger's name: "<ledger>@<host>:<port>@<database>.pg",
// with '/', '%', '@' and control bytes written as %XX, and a long name cut short
// with a checksum of the whole. It never ends in ".mdb", so no ledger file
// shares it.
[[nodiscard]] std::string serverSnapshotKey(const std::string& host, const std::string& port,
                                            const std::string& database, const std::string& ledger);
[[nodiscard]] std::string serverSnapshotKey(pg::Session& s, const std::string& ledger);
// The same for the server ledger `ledger` is connected to; throws Error on a ledger file.
[[nodiscard]] std::string serverSnapshotKey(const Connection& ledger);

// The state of a server ledger's books, read in one read-only transaction:
// each book's row count and a sum of its rows' checksums (row ids included),
// so that any insert, change, delete or move changes it.
[[nodiscard]] std::string serverLedgerState(pg::Session& s, const std::string& ledger);

// True when no snapshot holds the server ledger as it is now.
[[nodiscard]] bool serverLedgerChanged(pg::Session& s, const std::string& ledger);

// A snapshot of the server ledger when it changed since its last one, then
// the history pruned. Returns the snapshot that holds it now (none when there
// is no such snapshot and none could be taken). `indexFile` is the ledger
// index a new ledger file is copied from. Throws Error.
std::optional<Snapshot> backupServerLedger(pg::Session& s, const std::string& ledger,
                                           const std::string& indexFile, std::time_t now);

// Puts a snapshot's rows in place of the server ledger's, in one transaction,
// after a snapshot of the current contents (returned: its path). Throws Error;
// the server ledger is as it was then.
std::string restoreServerLedger(pg::Session& s, const std::string& ledger, const Snapshot& snapshot,
                                const std::string& indexFile, std::time_t now);

} // namespace tsl
