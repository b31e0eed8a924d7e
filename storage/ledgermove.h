#pragma once
// Copies a whole ledger between a ledger file and the server: a local ledger
// up to a new server ledger, a server ledger down to a new ledger file. Each
// copy lands whole or not at all (one server transaction; one no-replace
// rename of a synced file), keeps the rows' stored order and checks every
// book's row count before it is kept. Rows are streamed, never held all at
// once, so a book of a million rows takes little memory.
#include <string>

namespace tsl {

namespace pg {
class Session;
}

// Copies the books and lookup lists of the ledger file `localFile` to a new
// server ledger `name`. A name already on the server is refused; nothing is
// left on the server when any step fails. Throws Error with a Chinese text.
void upload(const std::string& localFile, pg::Session& s, const std::string& name);

// Puts the rows of the ledger file `localFile` in place of the books' rows of
// the server ledger `name`, in one transaction under the books' locks, and
// tells the programs in it. Nothing changes when any step fails. Throws Error.
void replaceRows(const std::string& localFile, pg::Session& s, const std::string& name);

// In the open transaction: the books of the server ledger `name` locked so
// that writers wait until it ends (readers see the rows as they were). Returns
// the ledger's schema.
std::string lockServerBooks(pg::Session& s, const std::string& name);

// Writes the server ledger `name` as a new ledger file localName + ".mdb" in
// `folder`: a copy of the ledger index `indexFile` (as every new ledger is)
// with the server's rows in it. An existing file is never replaced (Error of
// kind Exists); nothing is left in the folder when any step fails. Throws Error.
void download(pg::Session& s, const std::string& name, const std::string& folder, const std::string& localName,
              const std::string& indexFile);

} // namespace tsl
