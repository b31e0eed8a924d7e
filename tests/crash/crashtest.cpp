// Kills the program with SIGKILL while it works on a ledger folder, and checks
// what is left. Four kinds of round: writes (the program's own window code,
// crashdriver, driven from a pipe: adds, edits, deletes with renumbering),
// 新建帐本 (the copy and the index row), and the real tessolan binary's start-up
// (the rename of "run.dll") and shut-down (the rename back). Each kill time is
// drawn from the window in which that work runs, measured as the test goes.
// After every kill each database must pass integrity_check, every write the
// driver reported done must be there, no row may be half written, serial
// numbers run 1..n; after the next start no temporary file is left and every
// ledger file in the folder is listed in the index.
#include <sqlite3.h>

#include <algorithm>
#include <cstdint>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fcntl.h>
#include <map>
#include <thread>
#include <optional>
#include <poll.h>
#include <random>
#include <string>
#include <sys/inotify.h>
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
    bool keep = false;
    bool verbose = false;
};

[[noreturn]] void fail(const std::string& why) {
    std::fprintf(stderr, "crashtest: FAIL: %s\n", why.c_str());
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
};
using Model = std::map<std::string, Ledger>; // ledger name -> books

struct Op {
    std::string line; // what is sent
    // How the op changes the model (applied when done, or maybe applied when in flight).
    std::string kind, ledger, tok, tok2;
    int book = 0;
    std::size_t at = 0; // undo: where the row goes back
};

void applyOp(Model& m, const Op& op) {
    if (op.kind == "enter" || op.kind == "leave" || op.kind == "restore")
        return; // a restore is read from the files when it is done
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

// Snapshots are whole databases, and a cut-short copy leaves nothing a start does not tidy.
std::vector<fs::path> checkBackups(const fs::path& dir, bool afterStart) {
    std::vector<fs::path> snapshots;
    const fs::path root = dir / "backups";
    if (!fs::exists(root))
        return snapshots;
    for (const auto& folder : fs::directory_iterator(root)) {
        for (const auto& e : fs::directory_iterator(folder.path())) {
            const std::string name = e.path().filename().string();
            if (name.find(".tmp-") != std::string::npos) {
                if (afterStart)
                    fail("a temporary file is left after the start: " + e.path().string());
                continue;
            }
            checkIntegrity(e.path().string());
            snapshots.push_back(e.path());
        }
    }
    return snapshots;
}

// --- the driver process ----------------------------------------------------

struct Driver {
    pid_t pid = -1;
    int in = -1;  // we write
    int out = -1; // we read
    std::string pending;

    void start(const Options& o, const fs::path& dir) {
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
            if (!o.verbose) {
                int devnull = open("/dev/null", O_WRONLY);
                if (devnull >= 0)
                    dup2(devnull, 2);
            }
            execl(o.driver.c_str(), o.driver.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
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

    // Kills the driver and returns every line it wrote before it died, unread so far.
    std::vector<std::string> killAndDrain() {
        if (pid > 0) {
            ::kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
            pid = -1;
        }
        std::vector<std::string> lines;
        while (auto line = readLine(0))
            lines.push_back(*line);
        if (!pending.empty())
            lines.push_back(pending); // a line cut by the kill
        pending.clear();
        kill9();
        return lines;
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
void verify(const fs::path& dir, Model& model, const std::optional<Op>& inflight) {
    for (const auto& e : fs::directory_iterator(dir)) {
        auto name = e.path().filename().string();
        if (name.ends_with(".mdb") || name == "run.dll")
            checkIntegrity(e.path().string());
    }
    auto listed = listedLedgers(dir);
    std::vector<std::string> expected;
    for (auto& [name, l] : model)
        expected.push_back(name);
    std::vector<std::string> sortedListed = listed;
    std::sort(sortedListed.begin(), sortedListed.end());
    if (sortedListed != expected) {
        bool inflightNew = inflight && inflight->kind == "new";
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
    const auto snapshots = checkBackups(dir, false);
    for (auto& [name, ledger] : model) {
        auto file = dir / (name + ".mdb");
        if (!fs::exists(file))
            fail("ledger file missing: " + file.string());
        if (inflight && inflight->kind == "restore" && inflight->ledger == name) {
            // The old contents or one snapshot's, never neither.
            const Ledger actual = readLedger(file.string(), name);
            bool known = actual.books == ledger.books;
            for (const auto& snap : snapshots)
                if (!known && snap.parent_path().filename() == name + ".mdb")
                    known = readLedger(snap.string(), name).books == actual.books;
            if (!known)
                fail("the restore left " + name + " holding neither its old contents nor a snapshot's");
            ledger = actual;
            continue;
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

// --- the real program and what it does in the folder -------------------------

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point t) {
    return std::chrono::duration<double, std::milli>(Clock::now() - t).count();
}

pid_t spawnApp(const Options& o, const fs::path& dir) {
    pid_t pid = fork();
    if (pid < 0)
        fail("fork");
    if (pid == 0) {
        if (chdir(dir.c_str()) != 0)
            _exit(127);
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
        int devnull = open("/dev/null", O_RDWR);
        if (devnull >= 0) {
            dup2(devnull, 0);
            dup2(devnull, 1);
            if (!o.verbose)
                dup2(devnull, 2);
        }
        execl(o.app.c_str(), o.app.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    return pid;
}

// File events in the ledger folder, to see where the program is.
struct FolderWatch {
    struct Event {
        std::uint32_t mask;
        std::string name; // "" for the folder itself
        double atMs;      // when we read it, from the round's start
    };
    int fd = -1;
    Clock::time_point start;

    explicit FolderWatch(const fs::path& dir) {
        fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (fd < 0 || inotify_add_watch(fd, dir.c_str(), IN_OPEN | IN_MOVED_TO | IN_MOVED_FROM | IN_CLOSE) < 0)
            fail("inotify");
    }
    ~FolderWatch() { close(fd); }

    // Forgets what happened so far; times count from now.
    void restart() {
        while (!read(0).empty()) {
        }
        start = Clock::now();
    }

    // Events that arrive within the time given (none: those already queued).
    std::vector<Event> read(int timeoutMs) {
        std::vector<Event> out;
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, timeoutMs) <= 0)
            return out;
        alignas(inotify_event) char buf[8192];
        ssize_t n = ::read(fd, buf, sizeof buf);
        const double at = msSince(start);
        for (char* q = buf; n > 0 && q < buf + n;) {
            auto* e = reinterpret_cast<inotify_event*>(q);
            out.push_back({e->mask, e->len ? std::string(e->name) : std::string(), at});
            q += sizeof(inotify_event) + e->len;
        }
        return out;
    }

    // True when `want` matches an event already queued (they all happened before now).
    template <class F>
    bool queued(F want) {
        for (auto events = read(0); !events.empty(); events = read(0))
            for (const Event& e : events)
                if (want(e))
                    return true;
        return false;
    }

    // Waits until `want` matches an event, up to the time given; its time, or nothing.
    template <class F>
    std::optional<double> waitFor(F want, double untilMs) {
        for (;;) {
            const double left = untilMs - msSince(start);
            if (left <= 0)
                return std::nullopt;
            for (const Event& e : read(int(left)))
                if (want(e))
                    return e.atMs;
        }
    }
};

bool isLock(const FolderWatch::Event& e) { return (e.mask & IN_OPEN) && (e.mask & IN_ISDIR) && e.name.empty(); }
bool opensIndex(const FolderWatch::Event& e) { return (e.mask & IN_OPEN) && e.name == "tsl.mdb"; }
bool storesIndex(const FolderWatch::Event& e) { return (e.mask & IN_MOVED_TO) && e.name == "run.dll"; }

void sleepUntil(Clock::time_point t) { std::this_thread::sleep_until(t); }

// Running means of how long each kind of work takes, from what was seen.
struct Timing {
    double perWriteMs = 8;  // one add, edit or delete, acknowledged
    double listingMs = 60;  // from "new" sent to the new ledger listed
    double startUpMs = 40;  // from the folder lock to the index opened
    double shutDownMs = 40; // from the terminate signal to "run.dll" back
    double restoreMs = 200; // a leave with its backup and a restore, acknowledged
    static void learn(double& mean, double sample) { mean = 0.7 * mean + 0.3 * sample; }
};

// No temporary copy is left, and every ledger file in the folder is listed.
void checkNothingLeftBehind(const fs::path& dir, const Model& model, const std::string& when) {
    for (const auto& e : fs::directory_iterator(dir)) {
        const std::string name = e.path().filename().string();
        if (name.find(".tmp-") != std::string::npos)
            fail(when + ": temporary file left behind: " + name);
        if (name.ends_with(".mdb") && name != "tsl.mdb" &&
            !model.contains(name.substr(0, name.size() - std::string_view(".mdb").size())))
            fail(when + ": ledger file in no index: " + name);
    }
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
    if (o.driver.empty() || o.indexTemplate.empty())
        fail("usage: crashtest --driver PATH --template run.dll [--app PATH] [--kills N] [--seed S] "
             "[--min-mid-write F] [--keep] [-v]");
    // The driver starts in the ledger folder.
    o.driver = fs::absolute(o.driver).string();
    o.indexTemplate = fs::absolute(o.indexTemplate).string();
    if (!o.app.empty())
        o.app = fs::absolute(o.app).string();
    return o;
}

} // namespace

int main(int argc, char** argv) {
    Options o = parse(argc, argv);
    std::mt19937 rng(o.seed);
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    auto between = [&](double lo, double hi) { return std::uniform_real_distribution<double>(lo, hi)(rng); };

    char tmpl[] = "/tmp/tslcrash-XXXXXX";
    if (!mkdtemp(tmpl))
        fail("mkdtemp");
    fs::path dir = tmpl;
    fs::copy_file(o.indexTemplate, dir / "run.dll");
    FolderWatch watch(dir);

    Model model;
    Timing timing;
    int seq = 0, tokCounter = 0, ledgerCounter = 0, midWrite = 0;
    std::map<std::string, int> kinds, kindsMid;
    const auto started = Clock::now();
    std::map<std::string, int> finished; // leaves (a backup each), undos and restores acknowledged

    // Starts the driver and checks what the start found and left.
    auto startDriver = [&](Driver& d, const std::string& when) {
        d.start(o, dir);
        auto ready = d.readLine(20000);
        if (!ready || !ready->starts_with("ready"))
            fail(when + ": the program did not start (" + ready.value_or("no output") + ")");
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
        (void)checkBackups(dir, true);
    };

    // One round of the program's own window code: a new ledger with a few rows,
    // or 40 writes to a ledger. `killFraction` places the kill inside the time
    // the work is expected to take; without one the round runs to its end and
    // only teaches the timing. True when the kill landed mid-write.
    auto driverRound = [&](const std::string& when, const std::string& kind,
                           std::optional<double> killFraction, std::string& detail) {
        Driver d;
        startDriver(d, when);
        std::vector<Op> ops;
        std::string ledger;
        if (kind == "new") {
            ledger = "帐本" + std::to_string(++ledgerCounter) + "_" + std::to_string(o.seed);
            ops.push_back(Op{"new\t" + ledger, "new", ledger, "", "", 0});
        } else {
            auto it = model.begin();
            std::advance(it, pick(0, int(model.size()) - 1));
            ledger = it->first;
            ops.push_back(Op{"enter\t" + ledger, "enter", ledger, "", "", 0});
        }
        Model shadow = model;
        if (kind == "new")
            applyOp(shadow, ops[0]);
        // A restore round: a few writes, a leave (a backup), a restore of one of the
        // two newest snapshots, a new entry and only adds after it, as what the
        // restore brings back is known only from the files.
        const bool restoreRound = kind == "restore";
        for (int k = 0, n = kind == "new" ? 3 : restoreRound ? pick(2, 10) : 40; k < n; ++k) {
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
        if (restoreRound) {
            ops.push_back(Op{"leave", "leave", ledger, "", "", 0});
            ops.push_back(Op{"restore\t" + ledger + "\t" + std::to_string(pick(0, 1)), "restore", ledger, "", "", 0});
            ops.push_back(Op{"enter\t" + ledger, "enter", ledger, "", "", 0});
            for (int k = 0; k < 8; ++k) {
                Op op;
                op.ledger = ledger;
                op.book = pick(1, 4);
                op.kind = "add";
                op.tok = std::to_string(++tokCounter);
                op.line = "add\t" + std::to_string(op.book) + "\t" + op.tok;
                ops.push_back(op);
            }
        }

        const double windowMs = kind == "new" ? timing.listingMs
                                : timing.perWriteMs * double(ops.size()) + (restoreRound ? timing.restoreMs : 0.0);
        const double killAt = killFraction ? *killFraction * windowMs : 60000.0;
        const auto t0 = Clock::now();
        for (auto& op : ops)
            d.send(std::to_string(++seq) + "\t" + op.line);
        const int firstSeq = seq - int(ops.size()) + 1;
        std::size_t done = 0, firstWrite = 0;
        bool listed = false;
        std::string restoring; // the snapshot the restore in progress puts in place
        bool restored = false;  // and it said it did
        std::vector<double> ackMs; // live acknowledgements
        double firstWriteMs = 0, lastAckMs = 0;
        auto take = [&](const std::string& line, bool live) {
            auto parts = splitTabs(line);
            if (parts[0] == "ok") {
                if (parts.size() < 2 || std::stoi(parts[1]) != firstSeq + int(done))
                    fail(when + ": acknowledgements out of order");
                applyOp(model, ops[done]);
                ++finished[ops[done].kind];
                if (ops[done].kind == "restore" && !restoring.empty() && restored)
                    model[ops[done].ledger] = readLedger((dir / restoring).string(), ops[done].ledger);
                restoring.clear();
                restored = false;
                if (live)
                    ackMs.push_back(msSince(t0));
                ++done;
                if (live && done == 1) {
                    firstWriteMs = msSince(t0); // entering is no write
                    firstWrite = 1;
                }
                if (live)
                    lastAckMs = msSince(t0);
            } else if (parts[0] == "msg" && parts.size() > 1 && parts[1] == "帐本创建成功!") {
                listed = true;
                if (live)
                    Timing::learn(timing.listingMs, msSince(t0));
            } else if (parts[0] == "restoring" && parts.size() > 1) {
                restoring = parts[1];
            } else if (parts[0] == "msg" && parts.size() > 1 && parts[1].starts_with("帐本恢复成功!")) {
                restored = true;
            } else if (parts[0] == "err" || parts[0] == "msg") {
                fail(when + ": the program said: " + line);
            }
        };
        const auto deadline = t0 + std::chrono::microseconds(long(killAt * 1000));
        while (done < ops.size()) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
            if (left <= 0)
                break;
            auto line = d.readLine(int(left));
            if (!line)
                break;
            take(*line, true);
        }
        if (killFraction)
            sleepUntil(deadline);
        const std::size_t seenLive = done;
        for (const auto& line : d.killAndDrain())
            take(line, false);
        // The leave and the restore: from the write before them to the restore's acknowledgement.
        const std::size_t leaveAt = std::size_t(std::find_if(ops.begin(), ops.end(), [](const Op& op) {
                                                    return op.kind == "leave";
                                                }) - ops.begin());
        if (restoreRound && leaveAt >= 1 && ackMs.size() > leaveAt + 1)
            Timing::learn(timing.restoreMs, ackMs[leaveAt + 1] - ackMs[leaveAt - 1]);
        if (kind == "write" && seenLive >= firstWrite + 3)
            Timing::learn(timing.perWriteMs, (lastAckMs - firstWriteMs) / double(seenLive - firstWrite));
        std::optional<Op> inflight;
        if (done < ops.size())
            inflight = ops[done];
        detail = std::to_string(done) + " of " + std::to_string(ops.size()) + " done at " +
                 std::to_string(int(killAt)) + " ms";
        verify(dir, model, inflight);
        // In flight: a write, or a new ledger not yet listed.
        return inflight && inflight->kind != "enter" && !(inflight->kind == "new" && listed);
    };

    // One round of the real program: killed during its start-up, or during its
    // orderly end after a terminate signal; without a kill it only teaches the timing.
    auto appRound = [&](const std::string& when, const std::string& kind, std::optional<double> killFraction,
                        std::string& detail) {
        watch.restart();
        const pid_t pid = spawnApp(o, dir);
        const auto lock = watch.waitFor(isLock, 20000);
        if (!lock)
            fail(when + ": tessolan took no folder lock");
        bool mid = false;
        if (kind == "start-up" && killFraction) {
            // Around the rename of "run.dll" and the opening of the index.
            const double killAt = *lock + *killFraction * timing.startUpMs;
            const auto opened = watch.waitFor(opensIndex, killAt);
            sleepUntil(watch.start + std::chrono::microseconds(long(killAt * 1000)));
            ::kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
            if (opened)
                Timing::learn(timing.startUpMs, *opened - *lock);
            mid = !opened && !watch.queued(opensIndex);
            detail = "killed " + std::to_string(int(killAt - *lock)) + " ms after the lock";
        } else {
            const auto opened = watch.waitFor(opensIndex, 20000);
            if (!opened)
                fail(when + ": tessolan did not open the index");
            if (!killFraction) // the quickest seen: a kill too early still lands in the work
                timing.startUpMs = std::min(timing.startUpMs, *opened - *lock);
            std::this_thread::sleep_for(std::chrono::milliseconds(200)); // the list is read
            watch.restart();
            ::kill(pid, SIGTERM);
            const double killAt = killFraction ? *killFraction * timing.shutDownMs : 20000.0;
            const auto stored = watch.waitFor(storesIndex, killAt);
            if (killFraction)
                sleepUntil(watch.start + std::chrono::microseconds(long(killAt * 1000)));
            ::kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
            if (stored && !killFraction)
                timing.shutDownMs = std::min(timing.shutDownMs, *stored);
            else if (stored)
                Timing::learn(timing.shutDownMs, *stored);
            else if (!killFraction)
                fail(when + ": tessolan did not put run.dll back");
            mid = !stored && !watch.queued(storesIndex);
            detail = "killed " + std::to_string(int(killAt)) + " ms after the terminate signal";
        }
        verify(dir, model, std::nullopt);
        return mid;
    };

    // First the timing of each kind of work, measured without a kill.
    {
        std::string detail;
        for (const char* kind : {"new", "write", "restore"})
            for (int i = 0; i < 2; ++i)
                driverRound(std::string("measuring ") + kind, kind, std::nullopt, detail);
        if (!o.app.empty()) {
            timing.startUpMs = timing.shutDownMs = 1e9;
            for (int i = 0; i < 3; ++i)
                appRound("measuring start-up and shut-down", "shut-down", std::nullopt, detail);
        }
        if (o.verbose)
            std::fprintf(stderr, "timing: write %.1f ms, listing %.1f ms, start-up %.1f ms, shut-down %.1f ms\n",
                         timing.perWriteMs, timing.listingMs, timing.startUpMs, timing.shutDownMs);
    }

    for (int round = 0; round < o.kills; ++round) {
        const std::string when = "round " + std::to_string(round);
        // A fixed mix, so that a short run meets every kind too.
        std::string kind = "write";
        if (!o.app.empty() && round % 10 == 0)
            kind = "start-up";
        else if (!o.app.empty() && round % 10 == 5)
            kind = "shut-down";
        else if (round % 10 == 2 || round % 10 == 7)
            kind = "new";
        else if (round % 10 == 4 || round % 10 == 9)
            kind = "restore";
        std::string detail;
        const bool app = kind == "start-up" || kind == "shut-down";
        const bool mid = app ? appRound(when, kind, between(0.1, 1.05), detail)
                             : driverRound(when, kind, between(0.02, 0.95), detail);
        ++kinds[kind];
        if (mid) {
            ++midWrite;
            ++kindsMid[kind];
        }
        if (o.verbose)
            std::fprintf(stderr, "%s: %s, %s%s\n", when.c_str(), kind.c_str(), detail.c_str(),
                         mid ? ", mid-write" : "");
    }

    // The last start after the last kill.
    {
        Driver d;
        startDriver(d, "after the last kill");
        d.send(std::to_string(++seq) + "\tquit");
        d.readLine(5000);
        d.kill9();
    }

    std::string mix;
    for (auto& [k, n] : kinds)
        mix += (mix.empty() ? "" : ", ") + k + " " + std::to_string(kindsMid[k]) + "/" + std::to_string(n);
    std::printf("crashtest: %d kills survived, 0 integrity failures, 0 lost rows, nothing left behind (seed %u, %.0f s)\n",
                o.kills, o.seed, msSince(started) / 1000.0);
    std::printf("crashtest: mid-write by kind: %s\n", mix.c_str());
    std::printf("mid-write kills: %d of %d\n", midWrite, o.kills);
    std::printf("crashtest: acknowledged before a kill: %d leaves with a backup, %d undos, %d restores\n",
                finished["leave"], finished["undo"], finished["restore"]);
    if (!o.keep)
        fs::remove_all(dir);
    else
        std::printf("crashtest: folder kept at %s\n", dir.c_str());
    if (midWrite < o.minMidWrite * o.kills) {
        std::fprintf(stderr, "crashtest: FAIL: only %d of %d kills landed while work was in flight (at least %.0f%% must)\n",
                     midWrite, o.kills, o.minMidWrite * 100);
        return 1;
    }
    return 0;
}
