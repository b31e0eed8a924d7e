#include "storage/serverbackup.h"
#include "storage/connection.h"

#include "storage/error.h"
#include "storage/failure.h"
#include "storage/fileops.h"
#include "storage/ledgermove.h"
#include "storage/pgengine.h"
#include "storage/pgsession.h"
#include "storage/schema.h"

#include <libpq-fe.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <sstream>

namespace tsl {
namespace {

// The folder's note of which snapshot holds which state: "<snapshot name>\n<state>".
constexpr const char* kStateFile = "last-state";
// Longer keys are cut short: the name of a snapshot's temporary copy and its
// journal must fit the file system's 255 bytes.
constexpr std::size_t kLongestKey = 160;

std::string escaped(const std::string& part) {
    std::string out;
    for (unsigned char c : part) {
        if (c == '/' || c == '%' || c == '@' || c < 0x20 || c == 0x7f) {
            char buf[4];
            std::snprintf(buf, sizeof buf, "%%%02X", c);
            out += buf;
        } else {
            out += char(c);
        }
    }
    return out;
}

// FNV-1a: the same on every build, unlike std::hash.
std::uint64_t checksum(const std::string& s) {
    std::uint64_t h = 14695981039346656037ull;
    for (unsigned char c : s) {
        h ^= c;
        h *= 1099511628211ull;
    }
    return h;
}

std::string stateFileOf(const std::string& key) { return snapshotFolder(key) + "/" + kStateFile; }

// The snapshot name and state the folder's note holds; empty when none.
std::pair<std::string, std::string> readNote(const std::string& key) {
    std::ifstream in(stateFileOf(key), std::ios::binary);
    std::string name, state;
    if (!in || !std::getline(in, name) || !std::getline(in, state))
        return {};
    return {name, state};
}

void writeNote(const std::string& key, const std::string& snapshotName, const std::string& state) {
    const std::string target = stateFileOf(key);
    const std::string temp = makeTempFile(target + ".tmp-");
    try {
        {
            std::ofstream out(temp, std::ios::binary | std::ios::trunc);
            out << snapshotName << '\n' << state << '\n';
            out.flush();
            if (!out)
                throw Error(Failure::IoError, target);
        }
        const int fd = ::open(temp.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            throw errnoError(errno, target);
        FdCloser closer(fd);
        if (const int err = syncFile(fd, temp))
            throw errnoError(err, target);
        replaceFile(temp, target);
    } catch (...) {
        (void)::unlink(temp.c_str());
        throw;
    }
}

// The newest snapshot when the note says it holds `state`.
std::optional<Snapshot> holding(const std::string& key, const std::string& state) {
    const auto all = listSnapshots(key);
    const auto [name, noted] = readNote(key);
    if (all.empty() || name != all.back().name || noted != state)
        return std::nullopt;
    return all.back();
}

} // namespace

std::string serverSnapshotKey(const std::string& host, const std::string& port, const std::string& database,
                              const std::string& ledger) {
    std::string key = escaped(ledger) + "@" + escaped(host) + ":" + escaped(port) + "@" + escaped(database);
    if (key.size() > kLongestKey) {
        const std::uint64_t sum = checksum(key);
        std::size_t cut = kLongestKey - 20;
        while (cut > 0 && (static_cast<unsigned char>(key[cut]) & 0xC0) == 0x80)
            --cut; // not inside a character
        char buf[24];
        std::snprintf(buf, sizeof buf, "~%016llx", static_cast<unsigned long long>(sum));
        key = key.substr(0, cut) + buf;
    }
    return key + ".pg";
}

std::string serverSnapshotKey(pg::Session& s, const std::string& ledger) {
    auto text = [](const char* p) { return std::string(p ? p : ""); };
    return serverSnapshotKey(text(PQhost(s.handle())), text(PQport(s.handle())), text(PQdb(s.handle())), ledger);
}

std::string serverSnapshotKey(const Connection& ledger) {
    const auto* e = dynamic_cast<const PgEngine*>(&ledger.engine());
    if (!e)
        throw Error("帐本不在服务器上");
    auto text = [](const char* p) { return std::string(p ? p : ""); };
    pg_conn* c = e->handle();
    return serverSnapshotKey(text(PQhost(c)), text(PQport(c)), text(PQdb(c)), ledger.serverLedger());
}

std::string serverLedgerState(pg::Session& s, const std::string& ledger) {
    pg::Session::Transaction t(s, "ISOLATION LEVEL REPEATABLE READ, READ ONLY");
    const std::string schemaName = pg::ownSchemaOf(s, ledger);
    std::string state;
    for (const TableDef& table : schema()) {
        if (table.name == table::ledgers)
            continue;
        // The whole row's text, its row id included: a move is a change too.
        const pg::Result r = s.exec("SELECT count(*), coalesce(sum(('x' || left(md5(t::text), 16))::bit(64)::bigint), 0)"
                                    " FROM " + pg::quoteIdent(schemaName) + "." + pg::quoteIdent(std::string(table.name)) +
                                    " AS t");
        state += std::string(table.name) + ":" + r.text(0, 0) + ":" + r.text(0, 1) + ";";
    }
    t.commit();
    return state;
}

bool serverLedgerChanged(pg::Session& s, const std::string& ledger) {
    return !holding(serverSnapshotKey(s, ledger), serverLedgerState(s, ledger));
}

std::optional<Snapshot> backupServerLedger(pg::Session& s, const std::string& ledger, const std::string& indexFile,
                                           std::time_t now) {
    const std::string key = serverSnapshotKey(s, ledger);
    // Read before the copy: a write in between makes the note older than the
    // snapshot, and the next backup takes one more, never one too few.
    const std::string state = serverLedgerState(s, ledger);
    if (auto held = holding(key, state))
        return held;
    const Snapshot next = nextSnapshot(key, now);
    const std::string stem = next.name.substr(0, next.name.size() - std::string_view(".mdb").size());
    download(s, ledger, snapshotFolder(key), stem, indexFile);
    writeNote(key, next.name, state);
    pruneSnapshots(key, now);
    return next;
}

std::string restoreServerLedger(pg::Session& s, const std::string& ledger, const Snapshot& snapshot,
                                const std::string& indexFile, std::time_t now) {
    // No other program's write may fall between the snapshot of what is
    // replaced and the replacing: it would be in neither.
    pg::Session::Transaction t(s);
    (void)lockServerBooks(s, ledger);
    const std::optional<Snapshot> kept = backupServerLedger(s, ledger, indexFile, now);
    replaceRows(snapshot.path, s, ledger);
    t.commit();
    return kept ? kept->path : std::string();
}

} // namespace tsl
