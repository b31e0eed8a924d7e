// Starts the program's own window code (crashdriver) on a ledger folder, makes it
// write, and kills it with SIGKILL at random moments. After every kill each
// database must pass integrity_check, every write the driver reported done must
// be there, no row may be half written, and the next start must find the index
// (under either name) and list every ledger.
// Nine kinds of round, each kill timed into its work: writes, 新建帐本, a leave (a backup)
// with a restore, exports of a book, 备份全部帐本到…, 重命名帐本…, 删除帐本… with the
// deleted ledger brought back by 从备份恢复…, the real tessolan's start-up and shut-down
// (renames of run.dll). A renamed ledger is found under one of its names, never both
// or neither; a deleted one is listed with its file or gone with a snapshot holding it. Exports and backups of everything go into a folder
// beside the data folder (a USB stick); what a kill leaves there must be gone after
// the next use of that folder.
// With --server-rounds the driver also works on a ledger on a server the test
// starts itself, killed mid-write or the server restarted under it.
#include "storage/backup.h"
#include "export/outfile.h"
#include "storage/pgsession.h"
#include "storage/schema.h"
#include "tests/support/pgserver.h"

#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <fcntl.h>
#include <limits>
#include <map>
#include <thread>
#include <optional>
#include <poll.h>
#include <random>
#include <set>
#include <string>
#include <sys/inotify.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

struct Options {
    std::string driver;
    std::string app; // the real program, for start-up and shut-down rounds
    std::string indexTemplate;
    int kills = 20;
    unsigned seed = 1;
    double minMidWrite = 0.8; // share of kills that must land while work is in flight
    int powerCuts = 0;
    int serverRounds = 0; // on a ledger on a server, killed or the server restarted
    bool keep = false;
    bool verbose = false;
};

pid_t running = -1; // the driver or program now started, ended on a failure too

[[noreturn]] void fail(const std::string& why) {
    std::fprintf(stderr, "crashtest: FAIL: %s\n", why.c_str());
    if (running > 0)
        ::kill(running, SIGKILL);
    std::exit(1);
}

// --- the model of what must be stored -------------------------------------

// A row is written from one token; every field carries it, so a half-written
// row cannot pass for a whole one.
std::vector<std::string> rowFor(int book, const std::string& tok) {
    switch (book) {
    case 1: return {"c" + tok, "a" + tok, "p" + tok, "t" + tok, "m" + tok};
    case 2: return {"c" + tok, "k" + tok, tok, "a" + tok, "p" + tok, tok};
    case 3: return {"s" + tok, "k" + tok, tok, tok};
    default: return {"w" + tok, "k" + tok, tok, tok};
    }
}

using Book = std::vector<std::string>; // tokens in stored order
struct Ledger {
    std::map<int, Book> books; // 1..4
    // The books when a leave last backed the ledger up: some snapshot must hold them.
    std::optional<std::map<int, Book>> backedUp;
};
using Model = std::map<std::string, Ledger>; // ledger name -> books

struct Op {
    std::string line; // what is sent
    // How the op changes the model (applied when done, or maybe applied when in flight).
    std::string kind, ledger, tok, tok2;
    int book = 0;
    std::size_t at = 0; // undo: where the row goes back
};

std::map<int, Book> readSnapshotBooks(const std::string& path, const std::string& name);

void applyOp(Model& m, const Op& op) {
    if (op.kind == "enter" || op.kind == "leave" || op.kind == "restore" || op.kind == "export" ||
        op.kind == "backupall" || op.kind == "quit")
        return; // a restore is read from the files when it is done
    if (op.kind == "rename") {
        Ledger l = m[op.ledger];
        l.backedUp.reset(); // its snapshots move with it, or stay under the old name
        m.erase(op.ledger);
        m[op.tok] = l;
        return;
    }
    if (op.kind == "delete") {
        m.erase(op.ledger);
        return;
    }
    if (op.kind == "undelete") { // tok: the snapshot it brings back, once known
        m[op.ledger] = Ledger{};
        for (int b = 1; b <= 4; ++b)
            m[op.ledger].books[b];
        if (!op.tok.empty())
            m[op.ledger].books = readSnapshotBooks(op.tok, op.ledger);
        return;
    }
    if (op.kind == "new") {
        m[op.ledger];
        for (int b = 1; b <= 4; ++b)
            m[op.ledger].books[b];
        return;
    }
    Book& bk = m[op.ledger].books[op.book];
    if (op.kind == "add") {
        bk.push_back(op.tok);
    } else if (op.kind == "edit") {
        for (auto& t : bk)
            if (t == op.tok)
                t = op.tok2;
    } else if (op.kind == "del") {
        std::erase(bk, op.tok);
    } else if (op.kind == "undo") {
        bk.insert(bk.begin() + std::ptrdiff_t(std::min(op.at, bk.size())), op.tok);
    }
}

// --- reading the files -----------------------------------------------------

sqlite3* openRead(const std::string& file) {
    sqlite3* db = nullptr;
    // Read-write so that a hot journal left by the kill is rolled back, as the
    // program's own next open would do.
    if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK)
        fail("cannot open " + file);
    sqlite3_busy_timeout(db, 5000);
    return db;
}

std::vector<std::vector<std::string>> query(sqlite3* db, const std::string& sql) {
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) != SQLITE_OK)
        fail(std::string("query failed: ") + sqlite3_errmsg(db) + " in " + sql);
    std::vector<std::vector<std::string>> rows;
    while (sqlite3_step(st) == SQLITE_ROW) {
        std::vector<std::string> r;
        for (int i = 0; i < sqlite3_column_count(st); ++i) {
            auto* t = sqlite3_column_text(st, i);
            r.emplace_back(t ? reinterpret_cast<const char*>(t) : "");
        }
        rows.push_back(std::move(r));
    }
    sqlite3_finalize(st);
    return rows;
}

void checkIntegrity(const std::string& file) {
    sqlite3* db = openRead(file);
    auto r = query(db, "PRAGMA integrity_check");
    sqlite3_close(db);
    if (r.size() != 1 || r[0][0] != "ok")
        fail("integrity_check of " + file + ": " + (r.empty() ? "no answer" : r[0][0]));
}

std::string indexFile(const fs::path& dir) {
    bool run = fs::exists(dir / "run.dll"), tsl = fs::exists(dir / "tsl.mdb");
    if (!run && !tsl)
        fail("neither run.dll nor tsl.mdb is left");
    return (dir / (tsl ? "tsl.mdb" : "run.dll")).string();
}

std::vector<std::string> listedLedgers(const fs::path& dir) {
    sqlite3* db = openRead(indexFile(dir));
    auto rows = query(db, "SELECT name FROM \"5\" ORDER BY rowid");
    sqlite3_close(db);
    std::vector<std::string> out;
    for (auto& r : rows)
        out.push_back(r[0]);
    return out;
}

// The tokens of a book in stored order; fails on a row that is not whole.
Book readBook(sqlite3* db, const std::string& ledger, int book) {
    auto rows = query(db, "SELECT * FROM \"" + std::to_string(book) + "\" ORDER BY rowid");
    Book out;
    int k = 0;
    for (auto& r : rows) {
        ++k;
        std::vector<std::string> fields = book == 1 ? r : std::vector<std::string>(r.begin() + 1, r.end());
        std::string tok = fields.empty() ? "" : fields[0].substr(1);
        if (fields != rowFor(book, tok))
            fail("half-written row " + std::to_string(k) + " in book " + std::to_string(book) + " of " + ledger);
        // A delete and its renumbering land together, so the numbers always run 1, 2, 3...
        if (book != 1 && !r[0].starts_with("(" + std::to_string(k) + ")"))
            fail("row " + std::to_string(k) + " of book " + std::to_string(book) + " of " + ledger +
                 " is stamped " + r[0]);
        out.push_back(tok);
    }
    return out;
}

Ledger readLedger(const std::string& file, const std::string& name) {
    sqlite3* db = openRead(file);
    Ledger l;
    for (int b = 1; b <= 4; ++b)
        l.books[b] = readBook(db, name, b);
    sqlite3_close(db);
    return l;
}

std::map<int, Book> readSnapshotBooks(const std::string& path, const std::string& name) {
    return readLedger(path, name).books;
}

// The books some snapshot of the ledger holds must include these.
bool snapshotHolds(const fs::path& dir, const std::string& name, const std::map<int, Book>& books) {
    std::error_code ec;
    for (const auto& snap : fs::directory_iterator(dir / "backups" / (name + ".mdb"), ec)) {
        const std::string n = snap.path().filename().string();
        if (n.ends_with(".mdb") && n.find(".tmp-") == std::string::npos &&
            readLedger(snap.path().string(), name).books == books)
            return true;
    }
    return false;
}

// --- the driver process ----------------------------------------------------

struct Driver {
    pid_t pid = -1;
    int in = -1;  // we write
    int out = -1; // we read
    std::string pending;

    std::string powerCut; // TSL_POWERCUT for the driver, when set
    std::string configHome; // the user's settings there, when set
    // The real program's start-up and shut-down last a few tens of milliseconds; run
    // at a lower priority, a busy machine slows it rather than this watcher, which
    // must see where it is in time to kill it there.
    bool lowPriority = false;

    void start(const Options& o, const fs::path& dir, const std::string& exe) {
        int toChild[2], fromChild[2];
        if (pipe(toChild) || pipe(fromChild))
            fail("pipe");
        pid = fork();
        if (pid < 0)
            fail("fork");
        if (pid == 0) {
            dup2(toChild[0], 0);
            dup2(fromChild[1], 1);
            close(toChild[1]);
            close(fromChild[0]);
            if (chdir(dir.c_str()) != 0)
                _exit(127);
            setenv("QT_QPA_PLATFORM", "offscreen", 1);
            if (!powerCut.empty())
                setenv("TSL_POWERCUT", powerCut.c_str(), 1);
            if (!configHome.empty())
                setenv("XDG_CONFIG_HOME", configHome.c_str(), 1);
            if (lowPriority)
                (void)setpriority(PRIO_PROCESS, 0, 10);
            if (!o.verbose) {
                int devnull = open("/dev/null", O_WRONLY);
                if (devnull >= 0)
                    dup2(devnull, 2);
            }
            execl(exe.c_str(), exe.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        running = pid;
        close(toChild[0]);
        close(fromChild[1]);
        in = toChild[1];
        out = fromChild[0];
        pending.clear();
    }

    // Next line from the driver, or nothing when it ended or the time ran out.
    std::optional<std::string> readLine(int timeoutMs) {
        for (;;) {
            auto nl = pending.find('\n');
            if (nl != std::string::npos) {
                std::string line = pending.substr(0, nl);
                pending.erase(0, nl + 1);
                return line;
            }
            pollfd p{out, POLLIN, 0};
            int r = poll(&p, 1, timeoutMs);
            if (r <= 0)
                return std::nullopt;
            char buf[4096];
            ssize_t n = read(out, buf, sizeof buf);
            if (n <= 0)
                return std::nullopt;
            pending.append(buf, std::size_t(n));
        }
    }

    void send(const std::string& line) {
        std::string s = line + "\n";
        if (write(in, s.data(), s.size()) != ssize_t(s.size()))
            fail("cannot write to the driver");
    }

    // Waits for the end of the process; its wait status.
    int reap() {
        int status = 0;
        if (pid > 0)
            waitpid(pid, &status, 0);
        pid = -1;
        return status;
    }

    void kill9() {
        if (pid > 0) {
            ::kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
        if (in >= 0)
            close(in);
        if (out >= 0)
            close(out);
        pid = -1;
        in = out = -1;
    }
};

std::vector<std::string> splitTabs(const std::string& s) {
    std::vector<std::string> out;
    std::size_t start = 0;
    for (;;) {
        auto t = s.find('\t', start);
        out.push_back(s.substr(start, t - start));
        if (t == std::string::npos)
            break;
        start = t + 1;
    }
    return out;
}

// The model matches the files, the one op in flight counted as done or not.
void verify(const fs::path& dir, Model& model, const std::optional<Op>& inflight,
            const std::map<int, Book>& deletedBooks = {}) {
    for (const auto& e : fs::recursive_directory_iterator(dir)) { // backups/ too
        auto name = e.path().filename().string();
        if (e.is_regular_file() && (name.ends_with(".mdb") || name == "run.dll"))
            checkIntegrity(e.path().string());
    }
    auto listed = listedLedgers(dir);
    std::vector<std::string> expected;
    for (auto& [name, l] : model)
        expected.push_back(name);
    std::vector<std::string> sortedListed = listed;
    std::sort(sortedListed.begin(), sortedListed.end());
    if (sortedListed != expected) {
        bool inflightNew = inflight && (inflight->kind == "new" || inflight->kind == "rename" ||
                                        inflight->kind == "delete" || inflight->kind == "undelete");
        Model with = model;
        if (inflightNew)
            applyOp(with, *inflight);
        std::vector<std::string> exp2;
        for (auto& [name, l] : with)
            exp2.push_back(name);
        if (!inflightNew || sortedListed != exp2)
            fail("the index lists " + std::to_string(listed.size()) + " ledgers, expected " +
                 std::to_string(expected.size()));
        model = with;
    }
    // A deleted ledger's contents are in a snapshot.
    if (inflight && inflight->kind == "delete" && !model.contains(inflight->ledger) &&
        !snapshotHolds(dir, inflight->ledger, deletedBooks))
        fail("no snapshot holds the deleted ledger " + inflight->ledger);
    for (auto& [name, ledger] : model) {
        auto file = dir / (name + ".mdb");
        // Listed, with its file set aside by a delete or a bring-back cut short:
        // the next start puts it back (checked then).
        const bool parkedByKill = inflight && inflight->ledger == name &&
                                  (inflight->kind == "delete" || inflight->kind == "undelete") &&
                                  !fs::exists(file) && fs::exists(dir / (name + ".mdb.parked"));
        if (parkedByKill)
            file = dir / (name + ".mdb.parked");
        if (!fs::exists(file))
            fail("ledger file missing: " + file.string());
        if (inflight && inflight->kind == "restore" && inflight->ledger == name) {
            // The old contents or one snapshot's, never neither.
            const Ledger actual = readLedger(file.string(), name);
            bool known = actual.books == ledger.books;
            for (const auto& snap : fs::directory_iterator(dir / "backups" / (name + ".mdb")))
                if (!known && snap.path().extension() == ".mdb")
                    known = readLedger(snap.path().string(), name).books == actual.books;
            if (!known)
                fail("the restore left " + name + " holding neither its old contents nor a snapshot's");
            ledger.books = actual.books;
            continue;
        }
        if (ledger.backedUp) {
            bool kept = false;
            std::error_code ec;
            for (const auto& snap : fs::directory_iterator(dir / "backups" / (name + ".mdb"), ec)) {
                const std::string n = snap.path().filename().string();
                if (!kept && n.ends_with(".mdb") && n.find(".tmp-") == std::string::npos)
                    kept = readLedger(snap.path().string(), name).books == *ledger.backedUp;
            }
            if (!kept)
                fail("no snapshot of " + name + " holds what its last backup wrote");
        }
        sqlite3* db = openRead(file.string());
        for (int b = 1; b <= 4; ++b) {
            Book actual = readBook(db, name, b);
            if (actual == ledger.books[b])
                continue;
            if (inflight && inflight->ledger == name && inflight->book == b) {
                Model with = model;
                applyOp(with, *inflight);
                if (actual == with[name].books[b]) {
                    ledger.books[b] = actual;
                    continue;
                }
            }
            sqlite3_close(db);
            fail("book " + std::to_string(b) + " of " + name + " holds " + std::to_string(actual.size()) +
                 " rows that differ from the " + std::to_string(ledger.books[b].size()) + " written");
        }
        sqlite3_close(db);
    }
}

using Clock = std::chrono::steady_clock;

// The driver's exit code when the power went (tests/support/powercutvfs.h).
constexpr int kPowerCutExit = 99;

double msSince(Clock::time_point t) {
    return std::chrono::duration<double, std::milli>(Clock::now() - t).count();
}

// What each kind of work (an op of the driver, a start-up, a shut-down) took on
// this machine lately. A kill aims inside the shorter ones seen, so it lands
// while the work runs on an idle machine as on a busy one.
struct Durations {
    std::map<std::string, std::vector<double>> seen;

    void add(const std::string& kind, double ms) {
        auto& v = seen[kind];
        v.push_back(ms);
        if (v.size() > 40)
            v.erase(v.begin());
    }
    // A low quantile of the recent ones: most runs of this kind last at least so long.
    [[nodiscard]] std::optional<double> low(const std::string& kind) const {
        auto it = seen.find(kind);
        if (it == seen.end() || it->second.empty())
            return std::nullopt;
        std::vector<double> v = it->second;
        std::sort(v.begin(), v.end());
        return v[v.size() / 4];
    }
};

// File events in the ledger folder, to see where the program is.
struct FolderWatch {
    int fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    Clock::time_point start = Clock::now();

    explicit FolderWatch(const fs::path& dir) {
        if (fd < 0 || inotify_add_watch(fd, dir.c_str(), IN_OPEN | IN_MOVED_TO) < 0)
            fail("inotify");
    }
    ~FolderWatch() { close(fd); }

    // When (from `start`) an event `want` matches came, waiting until `untilMs`; after it, one queued.
    template <class F>
    std::optional<double> waitFor(F want, double untilMs) {
        alignas(inotify_event) char buf[8192];
        for (;;) {
            pollfd p{fd, POLLIN, 0};
            if (poll(&p, 1, std::max(0, int(untilMs - msSince(start)))) <= 0)
                return std::nullopt;
            const ssize_t n = ::read(fd, buf, sizeof buf);
            const double at = msSince(start);
            for (char* q = buf; n > 0 && q < buf + n; q += sizeof(inotify_event) + reinterpret_cast<inotify_event*>(q)->len)
                if (want(*reinterpret_cast<inotify_event*>(q)))
                    return at;
        }
    }
};

// Waits until the process catches the signal (its handler is installed).
bool waitCatching(pid_t pid, int sig, int timeoutMs) {
    const auto until = Clock::now() + std::chrono::milliseconds(timeoutMs);
    do {
        std::ifstream status("/proc/" + std::to_string(pid) + "/status");
        for (std::string line; std::getline(status, line);)
            if (line.starts_with("SigCgt:") && (std::stoull(line.substr(7), nullptr, 16) >> (sig - 1) & 1))
                return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    } while (Clock::now() < until);
    return false;
}

bool isLock(const inotify_event& e) { return (e.mask & IN_OPEN) && (e.mask & IN_ISDIR) && !e.len; }
bool opensIndex(const inotify_event& e) { return (e.mask & IN_OPEN) && e.len && std::string(e.name) == "tsl.mdb"; }
bool storesIndex(const inotify_event& e) { return (e.mask & IN_MOVED_TO) && e.len && std::string(e.name) == "run.dll"; }

// No temporary copy is left, backups included, no journal without a writer (the
// program has started and writes nothing now), no export's or backup-all's
// unfinished file, and every ledger file in the folder is listed.
void checkNothingLeftBehind(const fs::path& dir, const Model& model, const std::string& when) {
    for (const auto& e : fs::recursive_directory_iterator(dir)) {
        const std::string name = e.path().filename().string();
        // The program's own patterns: what it would clear is what must not be left.
        if (tsl::isBackupAllTempName(name))
            fail(when + ": unfinished backup folder left behind: " + e.path().string());
        if (name.find(".tmp-") != std::string::npos)
            fail(when + ": temporary file left behind: " + e.path().string());
        if (name.ends_with("-journal"))
            fail(when + ": journal without a writer left behind: " + e.path().string());
        if (name.ends_with(".parked"))
            fail(when + ": set-aside ledger file left behind: " + e.path().string());
        if (tsl::out::isExportLeftoverName(name))
            fail(when + ": unfinished export left behind: " + e.path().string());
        if (e.path().parent_path() == dir && name.ends_with(".mdb") && name != "tsl.mdb" &&
            !model.contains(name.substr(0, name.size() - 4)))
            fail(when + ": ledger file in no index: " + name);
    }
}

// The exports' and backups-of-everything's unfinished leftovers in a folder.
struct Leftovers {
    std::vector<fs::path> exports, backups;
};
Leftovers leftoversIn(const fs::path& folder) {
    Leftovers n;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(folder, ec)) {
        const std::string name = e.path().filename().string();
        if (tsl::out::isExportLeftoverName(name))
            n.exports.push_back(e.path());
        if (tsl::isBackupAllTempName(name))
            n.backups.push_back(e.path());
    }
    return n;
}

// Fails when one of `stale` is still there.
void checkCleared(const std::vector<fs::path>& stale, const std::string& what) {
    for (const fs::path& p : stale)
        if (fs::symlink_status(p).type() != fs::file_type::not_found)
            fail(what + " left " + p.string() + " there");
}

// Every finished backup of everything is whole (each copy passes its check and the
// index lists only ledgers that are there); checked ones go, to keep the folder small.
void checkFinishedBackups(const fs::path& folder) {
    std::error_code ec;
    std::vector<fs::path> done;
    for (const auto& e : fs::directory_iterator(folder, ec)) {
        const std::string name = e.path().filename().string();
        if (e.is_directory() && name.starts_with("tessolan-备份-") && !tsl::isBackupAllTempName(name))
            done.push_back(e.path());
    }
    for (const fs::path& b : done) {
        for (const auto& f : fs::directory_iterator(b)) {
            const std::string name = f.path().filename().string();
            if (name != "run.dll" && !name.ends_with(".mdb"))
                fail("a finished backup of everything holds " + f.path().string());
            checkIntegrity(f.path().string());
        }
        for (const std::string& ledger : listedLedgers(b))
            if (!fs::exists(b / (ledger + ".mdb")))
                fail("a finished backup of everything lacks " + ledger + ".mdb: " + b.string());
        fs::remove_all(b);
    }
}

// --- rounds on a server ledger ----------------------------------------------

// The books of a server ledger as tokens in stored order; fails on a row that
// is not whole, a serial out of its place, or a token stored twice.
std::map<int, Book> readServerBooks(const std::string& address, const std::string& ledger) {
    tsl::pg::Session s(address);
    const std::string schema = tsl::pg::quoteIdent(tsl::pg::ownSchemaOf(s, ledger));
    std::map<int, Book> out;
    for (int b = 1; b <= 4; ++b) {
        const auto& fields = tsl::findTable(std::to_string(b))->fields;
        std::string cols;
        for (std::string_view f : fields)
            cols += (cols.empty() ? "" : ", ") + tsl::pg::quoteIdent(std::string(f));
        const tsl::pg::Result r =
            s.exec("SELECT " + cols + " FROM " + schema + "." + tsl::pg::quoteIdent(std::to_string(b)) + " ORDER BY rowid");
        std::set<std::string> seen;
        for (int k = 0; k < r.rows(); ++k) {
            std::vector<std::string> row;
            for (std::size_t c = b == 1 ? 0 : 1; c < fields.size(); ++c)
                row.push_back(r.text(k, int(c)));
            const std::string tok = row.empty() || row[0].empty() ? "" : row[0].substr(1);
            const std::string where = " of book " + std::to_string(b) + " on the server";
            if (row != rowFor(b, tok))
                fail("half-written row " + std::to_string(k + 1) + where);
            if (b != 1 && !r.text(k, 0).starts_with("(" + std::to_string(k + 1) + ")"))
                fail("row " + std::to_string(k + 1) + where + " is stamped " + r.text(k, 0));
            if (!seen.insert(tok).second)
                fail("row " + tok + where + " stored twice");
            out[b].push_back(tok);
        }
    }
    return out;
}

// What the driver was told of its writes: the rows surely stored, in order, and
// those whose add or delete was cut short or failed (either way is right).
struct ServerModel {
    std::map<int, Book> books;
    std::map<int, std::set<std::string>> mayBeAdded, mayBeGone;

    // The server's books must be these; they are what the model knows from now on.
    void check(const std::map<int, Book>& got, const std::string& when) {
        for (int b = 1; b <= 4; ++b) {
            const Book& stored = got.count(b) ? got.at(b) : Book{};
            Book sure, found;
            for (const std::string& t : books[b])
                if (!mayBeGone[b].contains(t))
                    sure.push_back(t);
            for (const std::string& t : stored) {
                const bool known = std::find(books[b].begin(), books[b].end(), t) != books[b].end();
                if (!known && !mayBeAdded[b].contains(t))
                    fail(when + ": row " + t + " of book " + std::to_string(b) + " on the server was deleted or never written");
                if (known && !mayBeGone[b].contains(t))
                    found.push_back(t);
            }
            if (found != sure)
                fail(when + ": book " + std::to_string(b) + " on the server lost rows the program had shown as saved (" +
                     std::to_string(sure.size()) + " saved, " + std::to_string(found.size()) + " found)");
        }
        books = got;
        mayBeAdded.clear();
        mayBeGone.clear();
    }
};

// Rounds of the driver on a ledger on a server of the test's own: killed at
// random mid-write, or the server stopped (at once, or in order) and started
// again while the driver writes, the driver going on after it. After each
// round the server holds every row the driver saw saved, whole and numbered.
void serverRounds(const Options& o, std::mt19937& rng) {
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    // Static: a failure ends the test with exit(), which stops the server too.
    static std::optional<tsltest::PgServer> server;
    try {
        server.emplace();
    } catch (const std::exception& e) {
        fail(std::string("no server for the server rounds: ") + e.what());
    }
    const std::string address = server->uri();
    const std::string ledger = "服务器帐本_" + std::to_string(o.seed);
    {
        tsl::pg::Session s(address);
        tsl::pg::ensureLayout(s);
        (void)tsl::pg::createLedger(s, ledger);
    }
    char tmpl[] = "/tmp/tslcrash-server-XXXXXX";
    if (!mkdtemp(tmpl))
        fail("mkdtemp");
    const fs::path dir = tmpl;
    fs::copy_file(o.indexTemplate, dir / "run.dll");

    ServerModel model;
    int seq = 0, tok = 0, kills = 0, midWrite = 0, restarts = 0, immediate = 0, inFlight = 0;
    std::vector<double> opMs; // acknowledged writes, for timing the kills into one
    // Most writes last at least this long (a low quantile of the recent ones).
    auto typicalMs = [&] {
        if (opMs.empty())
            return 20.0;
        std::vector<double> v(opMs.end() - std::ptrdiff_t(std::min<std::size_t>(opMs.size(), 40)), opMs.end());
        std::nth_element(v.begin(), v.begin() + std::ptrdiff_t(v.size() / 4), v.end());
        return v[v.size() / 4];
    };

    for (int round = 0; round < o.serverRounds; ++round) {
        const bool restart = round % 2 == 1;
        const std::string when = "server round " + std::to_string(round) + (restart ? " (restart)" : " (kill)");
        Driver d;
        bool recovering = false; // the server restarted, the program not yet back on it
        d.configHome = (dir / ".config").string(); // the address it keeps stays in the test's folder
        d.start(o, dir, o.driver);
        std::optional<std::string> line = d.readLine(30000);
        if (!line || !line->starts_with("ready"))
            fail(when + ": the driver did not start");
        // Sends a command and waits for its end: nullopt when it ran out of time,
        // else whether an error was shown meanwhile.
        auto await = [&](int s, int timeoutMs) -> std::optional<bool> {
            bool err = false;
            const auto until = Clock::now() + std::chrono::milliseconds(timeoutMs);
            for (;;) {
                const int left = int(std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count());
                const std::optional<std::string> l = d.readLine(std::max(left, 0));
                if (!l)
                    return std::nullopt;
                if (o.verbose)
                    std::fprintf(stderr, "crashtest: %s: %s\n", when.c_str(), l->c_str());
                err = err || l->starts_with("err\t");
                // Until it has its connection again the program says so and does nothing.
                if (l->starts_with("msg\t") && !recovering)
                    fail(when + ": the program refused a write: " + l->substr(4));
                err = err || l->starts_with("msg\t");
                if (l->starts_with("ok\t" + std::to_string(s) + "\t"))
                    return err;
            }
        };
        auto command = [&](const std::string& c) {
            d.send(std::to_string(++seq) + "\t" + c);
            const std::optional<bool> err = await(seq, 30000);
            if (!err || *err)
                fail(when + ": " + c.substr(0, c.find('\t')) + " did not work");
        };
        command("server\t" + address);
        command("enter\t" + ledger);

        // The next write: an add to any book, or the delete of a row surely stored.
        struct Write {
            std::string line, kind, tok;
            int book = 0;
        };
        auto next = [&](bool addsOnly) {
            Write w;
            w.book = pick(1, 4);
            Book sure;
            for (const std::string& t : model.books[w.book])
                if (!model.mayBeGone[w.book].contains(t))
                    sure.push_back(t);
            if (!addsOnly && !sure.empty() && pick(0, 2) == 0) {
                w.kind = "del";
                w.tok = sure[std::size_t(pick(0, int(sure.size()) - 1))];
            } else {
                w.kind = "add";
                w.tok = std::to_string(++tok); // a number: it is the row's amount too
            }
            w.line = w.kind + "\t" + std::to_string(w.book) + "\t" + w.tok;
            return w;
        };
        // Its outcome: saved as shown, or unknown.
        auto settle = [&](const Write& w, bool sure) {
            Book& bk = model.books[w.book];
            if (w.kind == "add") {
                if (sure)
                    bk.push_back(w.tok);
                else
                    model.mayBeAdded[w.book].insert(w.tok);
            } else if (sure) {
                std::erase(bk, w.tok);
            } else {
                model.mayBeGone[w.book].insert(w.tok);
            }
        };
        auto write = [&](const Write& w, int timeoutMs) {
            const auto t0 = Clock::now();
            if (o.verbose)
                std::fprintf(stderr, "crashtest: %s: sent %d %s\n", when.c_str(), seq + 1, w.line.c_str());
            d.send(std::to_string(++seq) + "\t" + w.line);
            const std::optional<bool> err = await(seq, timeoutMs);
            if (!err)
                fail(when + ": " + w.line + " did not end");
            settle(w, !*err);
            if (!*err)
                opMs.push_back(msSince(t0));
            return !*err;
        };

        if (!restart) {
            const int n = pick(3, 10), target = pick(0, n - 1);
            for (int i = 0; i < target; ++i)
                (void)write(next(false), 30000);
            const Write w = next(false);
            d.send(std::to_string(++seq) + "\t" + w.line);
            std::this_thread::sleep_for(std::chrono::duration<double, std::milli>(
                std::uniform_real_distribution(0.05, 0.95)(rng) * typicalMs()));
            const std::optional<bool> done = await(seq, 0);
            d.kill9();
            running = -1;
            ++kills;
            midWrite += !done;
            settle(w, done && !*done);
        } else {
            for (int i = pick(1, 4); i > 0; --i)
                (void)write(next(false), 30000);
            // An add on its way when the server goes.
            const Write w = next(true);
            d.send(std::to_string(++seq) + "\t" + w.line);
            std::this_thread::sleep_for(std::chrono::duration<double, std::milli>(
                std::uniform_real_distribution(0.0, 1.0)(rng) * typicalMs()));
            const bool now = restarts % 2 == 0; // at once, then in order, in turn
            recovering = true;
            server->stop(now);
            server->start();
            ++restarts;
            immediate += now;
            const std::optional<bool> err = await(seq, 60000);
            if (!err)
                fail(when + ": " + w.line + " did not end after the server came back");
            inFlight += *err;
            settle(w, !*err);
            // The program goes on by itself once it has its connection again.
            bool back = false;
            for (int tries = 0; !back && tries < 60; ++tries) {
                back = write(next(true), 30000);
                if (!back)
                    std::this_thread::sleep_for(std::chrono::milliseconds(500));
            }
            if (!back)
                fail(when + ": the program did not write again after the server came back");
            recovering = false;
            for (int i = pick(1, 3); i > 0; --i)
                if (!write(next(false), 30000))
                    fail(when + ": a write failed with the server back");
            d.send(std::to_string(++seq) + "\tquit");
            (void)await(seq, 30000);
            for (int waited = 0; d.pid > 0 && waited < 3000; ++waited) {
                if (waitpid(d.pid, nullptr, WNOHANG) == d.pid)
                    d.pid = -1;
                else
                    std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
            if (d.pid > 0)
                fail(when + ": the program did not end after 退出");
            d.kill9(); // its pipes
            running = -1;
        }
        model.check(readServerBooks(address, ledger), when);
    }
    // The program starts and writes after the last round.
    {
        Driver d;
        d.configHome = (dir / ".config").string();
        d.start(o, dir, o.driver);
        if (const auto l = d.readLine(30000); !l || !l->starts_with("ready"))
            fail("after the last server round: the driver did not start");
        const std::string lines[] = {"server\t" + address, "enter\t" + ledger, "add\t2\t" + std::to_string(++tok)};
        for (const std::string& l : lines) {
            d.send(std::to_string(++seq) + "\t" + l);
            bool err = false;
            for (std::optional<std::string> r; (r = d.readLine(30000)) && !r->starts_with("ok\t" + std::to_string(seq) + "\t");)
                err = err || r->starts_with("err\t");
            if (err)
                fail("after the last server round: " + l + " failed");
        }
        d.kill9();
        running = -1;
        model.books[2].push_back(std::to_string(tok));
        model.check(readServerBooks(address, ledger), "after the last server round");
    }
    if (!o.keep)
        fs::remove_all(dir);
    std::size_t rows = 0;
    for (const auto& [b, bk] : model.books)
        rows += bk.size();
    std::printf("crashtest: %d server rounds survived: %d kills (%d mid-write), %d server restarts (%d immediate, "
                "%d with a write cut off), 0 lost or half rows, %zu rows numbered in order (seed %u)\n",
                o.serverRounds, kills, midWrite, restarts, immediate, inFlight, rows, o.seed);
    // A short run has too few kills to judge their timing by.
    if (kills >= 10 && midWrite < o.minMidWrite * kills)
        fail("only " + std::to_string(midWrite) + " of " + std::to_string(kills) + " server kills landed mid-write");
}

Options parse(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto next = [&]() -> std::string {
            if (i + 1 >= argc)
                fail("missing value after " + a);
            return argv[++i];
        };
        if (a == "--driver")
            o.driver = next();
        else if (a == "--template")
            o.indexTemplate = next();
        else if (a == "--app")
            o.app = next();
        else if (a == "--min-mid-write")
            o.minMidWrite = std::stod(next());
        else if (a == "--power-cuts")
            o.powerCuts = std::stoi(next());
        else if (a == "--server-rounds")
            o.serverRounds = std::stoi(next());
        else if (a == "--kills")
            o.kills = std::stoi(next());
        else if (a == "--seed")
            o.seed = unsigned(std::stoul(next()));
        else if (a == "--keep")
            o.keep = true;
        else if (a == "-v")
            o.verbose = true;
        else
            fail("unknown option " + a);
    }
    if (o.driver.empty() || o.indexTemplate.empty() || o.app.empty())
        fail("usage: crashtest --driver PATH --app PATH --template run.dll [--kills N] [--power-cuts N] [--server-rounds N] [--seed S] "
             "[--min-mid-write F] [--keep] [-v]");
    // The driver starts in the ledger folder.
    o.driver = fs::absolute(o.driver).string();
    o.indexTemplate = fs::absolute(o.indexTemplate).string();
    o.app = fs::absolute(o.app).string();
    return o;
}

} // namespace

int main(int argc, char** argv) {
    Options o = parse(argc, argv);
    std::mt19937 rng(o.seed);
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };

    char tmpl[] = "/tmp/tslcrash-XXXXXX";
    if (!mkdtemp(tmpl))
        fail("mkdtemp");
    fs::path dir = tmpl;
    fs::copy_file(o.indexTemplate, dir / "run.dll");
    // Where exports and backups of everything go: another folder, as a USB stick.
    const fs::path outDir = dir.string() + ".out";
    fs::create_directory(outDir);
    std::set<fs::path> leftByKills; // found after a kill, before the next use of the folder cleared them

    Model model;
    int seq = 0, tokCounter = 0, survived = 0, ledgerCounter = 0;
    int midWrite = 0;
    std::map<std::string, int> finished; // ops acknowledged, by kind
    Durations durations;
    // The power-cut rounds: file events per kind of op, as the driver counts them.
    struct {
        bool on = false;
        bool landed = false; // the last round ended in a power cut
        fs::path stash;
        long startEvents = 0;
        std::map<std::string, std::vector<long>> seen;
        void add(const std::string& kind, long n) {
            auto& v = seen[kind];
            v.push_back(n);
            if (v.size() > 40)
                v.erase(v.begin());
        }
        [[nodiscard]] double mean(const std::string& kind) const {
            auto it = seen.find(kind);
            if (it == seen.end() || it->second.empty())
                return 20;
            double sum = 0;
            for (long n : it->second)
                sum += double(n);
            return sum / double(it->second.size());
        }
    } power;
    power.stash = dir.string() + ".stash";

    // A new ledger with a few rows, 40 writes, or a few writes, a leave and a restore,
    // killed `killFraction` into one op of it (without one: run to the end and
    // measure). True when the kill landed mid-write.
    auto driverRound = [&](const std::string& when, const std::string& asked, std::optional<double> killFraction) {
        // A delete cut short before its ledger came back may have left no ledger to work on.
        const std::string kind = model.empty() ? std::string("new") : asked;
        std::vector<Op> ops;
        std::string ledger;
        if (kind == "new") {
            ledger = "帐本" + std::to_string(++ledgerCounter) + "_" + std::to_string(o.seed);
            Op op{"new\t" + ledger, "new", ledger, "", "", 0};
            ops.push_back(op);
        } else {
            auto it = model.begin();
            std::advance(it, pick(0, int(model.size()) - 1));
            ledger = it->first;
            ops.push_back(Op{"enter\t" + ledger, "enter", ledger, "", "", 0});
        }
        Model shadow = model;
        if (ops[0].kind == "new")
            applyOp(shadow, ops[0]);
        const bool restoreRound = kind == "restore";
        // The kind of op a round is about, when it is not writes.
        const bool renameRound = kind == "rename", deleteRound = kind == "delete";
        const std::set<std::string> focus = kind == "export"       ? std::set<std::string>{"export"}
                                            : kind == "backup-all" ? std::set<std::string>{"backupall"}
                                            : renameRound          ? std::set<std::string>{"rename"}
                                            : deleteRound          ? std::set<std::string>{"delete", "undelete"}
                                                                   : std::set<std::string>{};
        const int writes = kind == "new"                                ? 3
                           : restoreRound || renameRound || deleteRound ? pick(2, 8)
                           : !focus.empty() || kind == "quit"           ? 2
                                                                        : 40;
        for (int k = 0, n = writes; k < n; ++k) {
            int book = pick(1, 4);
            Book& bk = shadow[ledger].books[book];
            int what = bk.empty() ? 0 : pick(0, 5);
            Op op;
            op.ledger = ledger;
            op.book = book;
            if (what <= 2) {
                op.kind = "add";
                op.tok = std::to_string(++tokCounter);
                op.line = "add\t" + std::to_string(book) + "\t" + op.tok;
            } else if (what <= 3) {
                op.kind = "edit";
                op.tok = bk[std::size_t(pick(0, int(bk.size()) - 1))];
                op.tok2 = std::to_string(++tokCounter);
                op.line = "edit\t" + std::to_string(book) + "\t" + op.tok + "\t" + op.tok2;
            } else {
                op.kind = "del";
                op.at = std::size_t(pick(0, int(bk.size()) - 1));
                op.tok = bk[op.at];
                op.line = "del\t" + std::to_string(book) + "\t" + op.tok;
            }
            applyOp(shadow, op);
            ops.push_back(op);
            if (op.kind == "del" && pick(0, 2) == 0) { // put back at once
                Op undo = op;
                undo.kind = "undo";
                undo.line = "undo\t" + std::to_string(book);
                applyOp(shadow, undo);
                ops.push_back(undo);
            }
        }
        // What a restore brings back is known only from the files: after it, only adds.
        if (restoreRound) {
            ops.push_back(Op{"leave", "leave", ledger, "", "", 0});
            ops.push_back(Op{"restore\t" + ledger + "\t" + std::to_string(pick(0, 1)), "restore", ledger, "", "", 0});
            ops.push_back(Op{"enter\t" + ledger, "enter", ledger, "", "", 0});
            for (int k = 0; k < 8; ++k) {
                const int book = pick(1, 4);
                const std::string tok = std::to_string(++tokCounter);
                ops.push_back(Op{"add\t" + std::to_string(book) + "\t" + tok, "add", ledger, tok, "", book});
            }
        }

        // Renamed or deleted and brought back, then written to under the name it has.
        if (renameRound || deleteRound) {
            std::string now = ledger;
            ops.push_back(Op{"leave", "leave", ledger, "", "", 0});
            if (renameRound) {
                now = "改名" + std::to_string(++ledgerCounter) + "_" + std::to_string(o.seed);
                ops.push_back(Op{"rename\t" + ledger + "\t" + now, "rename", ledger, now, "", 0});
            } else {
                ops.push_back(Op{"delete\t" + ledger, "delete", ledger, "", "", 0});
                ops.push_back(Op{"undelete\t" + ledger + "\t0", "undelete", ledger, "", "", 0});
            }
            ops.push_back(Op{"enter\t" + now, "enter", now, "", "", 0});
            for (int k = 0; k < 4; ++k) {
                const int book = pick(1, 4);
                const std::string tok = std::to_string(++tokCounter);
                ops.push_back(Op{"add\t" + std::to_string(book) + "\t" + tok, "add", now, tok, "", book});
            }
        }
        if (kind == "export") {
            for (int k = 0; k < 4; ++k) {
                const std::string book = std::to_string(pick(1, 4));
                const char* ext = pick(0, 1) ? "xlsx" : "csv";
                ops.push_back(Op{"export\t" + book + "\t" + ext + "\t" + (outDir / ("book" + book + "." + ext)).string(),
                                 "export", ledger, "", "", 0});
            }
        } else if (kind == "quit") {
            // The program ends (the index gets its stored name back), then the power goes.
            ops.push_back(Op{"leave", "leave", ledger, "", "", 0});
            ops.push_back(Op{"quit", "quit", ledger, "", "", 0});
        } else if (kind == "backup-all") {
            ops.push_back(Op{"leave", "leave", ledger, "", "", 0});
            for (int k = 0; k < 3; ++k)
                ops.push_back(Op{"backupall\t" + outDir.string(), "backupall", ledger, "", "", 0});
        }
        // The ops a kill may aim at: work, and in an export's or backup's round that work.
        std::vector<std::size_t> counted;
        for (std::size_t i = 0; i < ops.size(); ++i)
            if (ops[i].kind != "enter" && (focus.empty() || focus.contains(ops[i].kind)))
                counted.push_back(i);

        // Under a power cut the driver counts its file events and the power goes
        // at one of them: a random share into the events one op of the round
        // takes (learned from the rounds before), or never.
        Driver d;
        if (power.on) {
            long cutAt = std::numeric_limits<long>::max() / 2;
            if (killFraction && pick(0, 9) == 0) {
                // One in ten while the program starts (renames the index, tidies),
                // or at the first event after it: what the start did must be on disk.
                cutAt = 1 + long(*killFraction * double(power.startEvents + 1));
            } else if (killFraction) {
                const std::size_t k = counted[std::size_t(pick(0, int(counted.size()) - 1))];
                double at = double(power.startEvents);
                for (std::size_t i = 0; i < k; ++i)
                    at += power.mean(ops[i].kind);
                cutAt = long(at + 1 + *killFraction * power.mean(ops[k].kind));
            }
            fs::remove_all(power.stash);
            fs::create_directory(power.stash);
            d.powerCut = std::to_string(cutAt) + " " + std::to_string(rng()) + " " + power.stash.string();
            if (kind == "quit")
                d.powerCut = std::to_string(std::numeric_limits<long>::max() / 2) + " " + std::to_string(rng()) + " " +
                             power.stash.string() + " exit";
        }
        power.landed = false;
        d.start(o, dir, o.driver);
        auto ready = d.readLine(20000);
        if (power.on && (!ready || !ready->starts_with("ready"))) {
            // The power went while the program started.
            const int status = d.reap();
            if (!WIFEXITED(status) || WEXITSTATUS(status) != kPowerCutExit)
                fail(when + ": the program did not start (" + ready.value_or("no output") + ")");
            d.kill9();
            verify(dir, model, std::nullopt);
            power.landed = true;
            return false;
        }
        if (!ready || !ready->starts_with("ready"))
            fail(when + ": the program did not start (" + ready.value_or("no output") + ")");
        // The chooser lists every ledger of the index.
        auto listed = splitTabs(*ready);
        listed.erase(listed.begin());
        if (listed.size() == 1 && listed[0].empty())
            listed.clear();
        std::sort(listed.begin(), listed.end());
        std::vector<std::string> expected;
        for (auto& [name, l] : model)
            expected.push_back(name);
        if (listed != expected)
            fail(when + ": the chooser lists " + std::to_string(listed.size()) + " ledgers, expected " +
                 std::to_string(expected.size()));
        checkNothingLeftBehind(dir, model, when);
        // What the last kill left in the folder of exports; the next use must clear it.
        const Leftovers stale = leftoversIn(outDir);
        leftByKills.insert(stale.exports.begin(), stale.exports.end());
        leftByKills.insert(stale.backups.begin(), stale.backups.end());
        // The kill aims at one op that counts as work in flight: a random share
        // into the time that kind of op took at least lately, counted from the
        // end of the op before it, so a slow or quick machine moves the aim along.
        std::optional<std::size_t> target;
        double aimMs = 0;
        if (killFraction && !power.on) {
            target = counted[std::size_t(pick(0, int(counted.size()) - 1))];
            aimMs = *killFraction * durations.low(ops[*target].kind).value_or(20.0);
        }
        const auto t0 = Clock::now();
        for (auto& op : ops)
            d.send(std::to_string(++seq) + "\t" + op.line);
        const int firstSeq = seq - int(ops.size()) + 1;
        std::size_t done = 0;
        bool created = false; // the new ledger listed
        std::string restoring; // the snapshot the restore in progress puts in place
        double opStart = 0;    // when the op in flight began: the ack before it
        long eventsBefore = 0; // the driver's file events when it began
        auto take = [&](const std::string& line) {
            auto parts = splitTabs(line);
            if (parts[0] == "ok") {
                int s = std::stoi(parts.at(1));
                if (s != firstSeq + int(done))
                    fail("acknowledgements out of order");
                // A deleted ledger is in a snapshot once the delete is done.
                std::optional<std::map<int, Book>> deleting;
                if (ops[done].kind == "delete")
                    deleting = model[ops[done].ledger].books;
                applyOp(model, ops[done]);
                ++finished[ops[done].kind];
                if (deleting && !snapshotHolds(dir, ops[done].ledger, *deleting))
                    fail(when + ": no snapshot holds the deleted ledger " + ops[done].ledger);
                if (ops[done].kind == "restore" && !restoring.empty())
                    model[ops[done].ledger].books = readLedger((dir / restoring).string(), ops[done].ledger).books;
                if (ops[done].kind == "leave")
                    model[ops[done].ledger].backedUp = model[ops[done].ledger].books;
                // The next use of the folder clears what a kill left there.
                if (ops[done].kind == "export")
                    checkCleared(stale.exports, when + ": the next export into the folder");
                if (ops[done].kind == "backupall")
                    checkCleared(stale.backups, when + ": the next backup of everything into the folder");
                restoring.clear();
                const double now = msSince(t0);
                // A new ledger counts until it is listed; the rest of its op is entering it.
                if (ops[done].kind != "new")
                    durations.add(ops[done].kind, now - opStart);
                opStart = now;
                if (power.on && parts.size() > 2) {
                    const long ev = std::stol(parts[2]);
                    power.add(ops[done].kind, ev - eventsBefore);
                    eventsBefore = ev;
                }
                ++done;
            } else if (parts[0] == "msg" && parts.size() > 1 && parts[1] == "帐本创建成功!") {
                created = true;
                durations.add("new", msSince(t0) - opStart);
            } else if (parts[0] == "events" && parts.size() > 1) {
                power.startEvents = eventsBefore = std::stol(parts[1]);
            } else if (parts[0] == "restoring" && parts.size() > 1) {
                restoring = parts[1];
                if (done < ops.size() && ops[done].kind == "undelete")
                    ops[done].tok = (dir / parts[1]).string();
            } else if (parts[0] == "err" ||
                       (parts[0] == "msg" && !line.starts_with("msg\t帐本恢复成功!") &&
                        !line.starts_with("msg\t全部帐本已备份到:") &&
                        !(line.starts_with("msg\t帐本\"") && line.find("\"已删除!") != std::string::npos))) {
                fail(when + ": the program said: " + line);
            }
        };
        std::optional<Clock::time_point> deadline;
        auto aim = [&] {
            if (target && !deadline && done == *target)
                deadline = Clock::now() + std::chrono::microseconds(long(aimMs * 1000));
        };
        aim();
        for (;;) {
            int timeout = 60000;
            if (deadline) {
                auto left = std::chrono::duration_cast<std::chrono::milliseconds>(*deadline - Clock::now()).count();
                if (left <= 0)
                    break;
                timeout = int(left);
            }
            auto line = d.readLine(timeout);
            if (!line)
                break;
            take(*line);
            aim();
            if (done == ops.size())
                break;
        }
        if (deadline)
            std::this_thread::sleep_until(*deadline);
        else if (killFraction && !power.on)
            fail(when + ": the driver stopped before the op to kill in");
        const bool cutAtExit = power.on && kind == "quit";
        if ((power.on && done < ops.size()) || cutAtExit) {
            const int status = d.reap(); // the lines it wrote before the power went come after
            if (!WIFEXITED(status) || WEXITSTATUS(status) != kPowerCutExit)
                fail(when + ": the driver ended without a power cut (status " + std::to_string(status) + ")");
            power.landed = !cutAtExit;
        } else {
            ::kill(d.pid, SIGKILL); // and then the lines it wrote before it died
            (void)d.reap();
        }
        while (auto line = d.readLine(0))
            take(*line);
        d.kill9();
        std::optional<Op> inflight;
        if (done < ops.size())
            inflight = ops[done];
        verify(dir, model, inflight,
               inflight && model.contains(inflight->ledger) ? model[inflight->ledger].books : std::map<int, Book>{});
        checkFinishedBackups(outDir);
        // The index keeps the name the program gave it last, the power gone or not.
        if (power.on && (power.landed || cutAtExit)) {
            const char* want = cutAtExit ? "run.dll" : "tsl.mdb";
            if (!fs::exists(dir / want) || fs::exists(dir / (cutAtExit ? "tsl.mdb" : "run.dll")))
                fail(when + ": after the power cut the index is not \"" + want + "\" as the program left it");
        }
        // In flight: a write, or a new ledger not yet listed.
        return inflight && inflight->kind != "enter" && !(inflight->kind == "new" && created);
    };

    // The real program killed in its start-up (from the folder lock to the index
    // opened) or its orderly end (from a terminate signal to run.dll put back).
    auto appRound = [&](const std::string& when, const std::string& kind, std::optional<double> killFraction) {
        FolderWatch watch(dir);
        Driver app;
        app.lowPriority = true;
        app.start(o, dir, o.app);
        auto from = watch.waitFor(isLock, 20000);
        if (!from)
            fail(when + ": tessolan took no folder lock");
        auto ends = opensIndex;
        if (kind == "shut-down") {
            if (!watch.waitFor(opensIndex, 20000))
                fail(when + ": tessolan did not open the index");
            std::this_thread::sleep_for(std::chrono::milliseconds(200)); // the list is read
            // An orderly end needs the terminate handler, which a slow start may not have yet.
            if (!waitCatching(app.pid, SIGTERM, 20000))
                fail(when + ": tessolan does not catch SIGTERM");
            from = msSince(watch.start);
            ::kill(app.pid, SIGTERM);
            ends = storesIndex;
        }
        const double killAt = *from + (killFraction ? *killFraction * durations.low(kind).value_or(20.0) : 20000.0);
        const auto to = watch.waitFor(ends, killAt);
        if (killFraction)
            std::this_thread::sleep_until(watch.start + std::chrono::microseconds(long(killAt * 1000)));
        app.kill9();
        if (!to && !killFraction)
            fail(when + ": tessolan's " + kind + " did not end");
        if (to)
            durations.add(kind, *to - *from);
        const bool mid = !to && !watch.waitFor(ends, 0);
        if (o.verbose)
            std::fprintf(stderr, "crashtest: %s: %s from %.1f ms, kill at %.1f, ended %.1f%s\n", when.c_str(),
                         kind.c_str(), *from, killAt, to.value_or(-1), mid ? ", mid-write" : "");
        verify(dir, model, std::nullopt);
        return mid;
    };
    auto runRound = [&](const std::string& when, const std::string& kind, std::optional<double> killFraction) {
        return kind == "start-up" || kind == "shut-down" ? appRound(when, kind, killFraction)
                                                         : driverRound(when, kind, killFraction);
    };

    // First the time each kind of work takes, measured without a kill.
    if (o.kills > 0)
        for (const char* kind :
             {"new", "write", "restore", "export", "backup-all", "rename", "delete", "start-up", "shut-down"})
            for (int i = 0; i < 2; ++i)
                runRound(std::string("measuring ") + kind, kind, std::nullopt);

    std::map<std::string, std::pair<int, int>> byKind; // kills mid-write, kills
    // A fixed mix, so that a short run meets every kind too.
    const char* const mix[] = {"start-up", "write", "new",   "rename", "write", "restore", "export",
                               "shut-down", "write", "new", "delete", "write", "restore", "backup-all"};
    for (int round = 0; round < o.kills; ++round) {
        const std::string kind = mix[round % std::size(mix)];
        const bool mid = runRound("round " + std::to_string(round), kind, std::uniform_real_distribution(0.05, 0.95)(rng));
        midWrite += mid;
        byKind[kind].first += mid;
        ++byKind[kind].second;
        ++survived;
    }

    // The last start after the last kill.
    if (o.kills > 0) {
        driverRound("after the last kill", "write", std::nullopt);
        // The folder of exports and backups: the next use of each kind clears all.
        driverRound("export after the last kill", "export", std::nullopt);
        driverRound("backup after the last kill", "backup-all", std::nullopt);
        if (const Leftovers left = leftoversIn(outDir); !left.exports.empty() || !left.backups.empty())
            fail("unfinished exports or backups left in " + outDir.string());
        std::printf("crashtest: %d kills survived, 0 integrity failures, 0 lost rows (seed %u)\n", survived, o.seed);
        std::printf("mid-write kills: %d of %d (", midWrite, o.kills);
        for (const auto& [kind, n] : byKind)
            std::printf("%s%s %d/%d", kind == byKind.begin()->first ? "" : ", ", kind.c_str(), n.first, n.second);
        std::printf(")\n");
        std::printf("crashtest: acknowledged before a kill: %d leaves with a backup, %d undos, %d restores, "
                    "%d exports, %d backups of everything, %d renames, %d deletes, %d deleted ledgers brought back\n",
                    finished["leave"], finished["undo"], finished["restore"], finished["export"], finished["backupall"],
                    finished["rename"], finished["delete"], finished["undelete"]);
        std::printf("crashtest: left by kills and cleared by the next use of the folder: %d unfinished exports, "
                    "%d unfinished backup folders\n",
                    int(std::count_if(leftByKills.begin(), leftByKills.end(),
                                      [](const fs::path& p) {
                                          return tsl::out::isExportLeftoverName(p.filename().string());
                                      })),
                    int(std::count_if(leftByKills.begin(), leftByKills.end(), [](const fs::path& p) {
                        return tsl::isBackupAllTempName(p.filename().string());
                    })));
    }

    // Power cuts: the driver's writes, 新建帐本, leaves with a backup and restores,
    // exports and backups of everything, renamed and deleted ledgers; and after the program's orderly end.
    int cuts = 0, cutsMidWrite = 0, cutsAtExit = 0;
    if (o.powerCuts > 0) {
        power.on = true;
        finished.clear();
        for (const char* kind : {"new", "write", "restore", "export", "backup-all", "rename", "delete"})
            for (int i = 0; i < 2; ++i)
                driverRound(std::string("measuring events of ") + kind, kind, std::nullopt);
        const char* const powerMix[] = {"write",      "new",    "export", "rename", "write",
                                        "restore", "backup-all", "delete", "quit"};
        for (int round = 0; cuts < o.powerCuts; ++round) {
            if (round > 2 * o.powerCuts + 20)
                fail("only " + std::to_string(cuts) + " of " + std::to_string(round) + " power cuts landed");
            const std::string kind = powerMix[round % std::size(powerMix)];
            const bool mid = driverRound("power cut " + std::to_string(round), kind,
                                         std::uniform_real_distribution(0.0, 1.0)(rng));
            cutsAtExit += kind == "quit";
            if (power.landed) {
                ++cuts;
                cutsMidWrite += mid;
            }
        }
        power.on = false;
        driverRound("after the last power cut", "write", std::nullopt);
        fs::remove_all(power.stash);
        std::printf("crashtest: %d power cuts survived (%d while work was in flight, and %d more after the "
                    "program ended), 0 integrity failures, 0 lost rows (seed %u)\n",
                    cuts, cutsMidWrite, cutsAtExit, o.seed);
        std::printf("crashtest: acknowledged before a power cut: %d new ledgers, %d leaves with a backup, "
                    "%d deletes, %d undos, %d restores, %d exports, %d backups of everything, %d renamed ledgers, "
                    "%d deleted ledgers, %d brought back\n",
                    finished["new"], finished["leave"], finished["del"], finished["undo"], finished["restore"],
                    finished["export"], finished["backupall"], finished["rename"], finished["delete"],
                    finished["undelete"]);
    }
    if (o.serverRounds > 0)
        serverRounds(o, rng);
    if (!o.keep) {
        fs::remove_all(dir);
        fs::remove_all(outDir);
    }
    else
        std::printf("crashtest: folder kept at %s\n", dir.c_str());
    if (cutsMidWrite < o.minMidWrite * o.powerCuts) {
        std::fprintf(stderr, "crashtest: FAIL: only %d of %d power cuts came while work was in flight (at least %.0f%% must)\n",
                     cutsMidWrite, o.powerCuts, o.minMidWrite * 100);
        return 1;
    }
    if (midWrite < o.minMidWrite * o.kills) {
        std::fprintf(stderr, "crashtest: FAIL: only %d of %d kills landed while work was in flight (at least %.0f%% must)\n",
                     midWrite, o.kills, o.minMidWrite * 100);
        return 1;
    }
    return 0;
}
