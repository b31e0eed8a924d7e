#include "storage/pgengine.h"

#include "storage/error.h"
#include "storage/pgsession.h"

#include <libpq-fe.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <utility>

namespace tsl {

namespace {

// Rows per round trip of a scan, doubled from block to block: each trip is a
// wait for the server (long on a busy machine), so a book of 100,000 rows takes
// three; two of the largest blocks (one read, one on its way) stay a few megabytes.
constexpr int kFirstBlock = 16384;
constexpr int kLargestBlock = 65536;
constexpr std::size_t kUnusedBeforeFree = 32;
constexpr int kAnyOk = -1;

bool wordChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || (c & 0x80); }

bool sameWord(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

// The SQL with quoted text and names taken out, lower case: what its words say.
std::string bareWords(std::string_view sql) {
    std::string out;
    char quote = 0;
    for (char c : sql) {
        if (quote) {
            if (c == quote)
                quote = 0;
            continue;
        }
        if (c == '\'' || c == '"') {
            quote = c;
            out += ' ';
            continue;
        }
        out += char(std::tolower(static_cast<unsigned char>(c)));
    }
    return " " + out + " ";
}

bool hasWord(const std::string& bare, std::string_view word) {
    for (std::size_t at = bare.find(word); at != std::string::npos; at = bare.find(word, at + 1))
        if (!wordChar(bare[at - 1]) && !wordChar(bare[at + word.size()]))
            return true;
    return false;
}

std::string trimmed(std::string m) {
    while (!m.empty() && (m.back() == '\n' || m.back() == ' '))
        m.pop_back();
    return m;
}

struct Clear {
    pg_result* r;
    ~Clear() { PQclear(r); }
};

} // namespace

std::string serverDialect(std::string_view sql, int& params) {
    std::string out;
    out.reserve(sql.size() + 16);
    params = 0;
    std::size_t i = 0;
    while (i < sql.size()) {
        const char c = sql[i];
        if (c == '\'' || c == '"') {
            const std::size_t end = sql.find(c, i + 1);
            const std::size_t stop = end == std::string_view::npos ? sql.size() : end + 1;
            out.append(sql.substr(i, stop - i));
            i = stop;
            continue;
        }
        if (c == '?') {
            std::size_t j = i + 1;
            int n = 0;
            while (j < sql.size() && std::isdigit(static_cast<unsigned char>(sql[j])))
                n = n * 10 + (sql[j++] - '0');
            if (j == i + 1)
                n = params + 1; // a bare "?" is one past the highest so far
            params = std::max(params, n);
            out += '$' + std::to_string(n);
            i = j;
            continue;
        }
        if (wordChar(c)) {
            std::size_t j = i;
            while (j < sql.size() && wordChar(sql[j]))
                ++j;
            const std::string_view word = sql.substr(i, j - i);
            std::size_t k = j;
            while (k < sql.size() && std::isspace(static_cast<unsigned char>(sql[k])))
                ++k;
            std::size_t e = k;
            while (e < sql.size() && wordChar(sql[e]))
                ++e;
            if (sameWord(word, "collate") && k > j && sameWord(sql.substr(k, e - k), "binary")) {
                out += "COLLATE \"C\"";
                i = e;
                continue;
            }
            // SQLite's instr(haystack, needle) is the server's strpos: both count characters from 1.
            if (sameWord(word, "instr") && k < sql.size() && sql[k] == '(') {
                out += "strpos";
                i = j;
                continue;
            }
            out.append(word);
            i = j;
            continue;
        }
        out += c;
        ++i;
    }
    return out;
}

// ---- queries

PgQuery::PgQuery(PgEngine& engine, std::string name, std::string sql, int params, Kind kind, Shared* shared,
                 std::string plain)
    : e_(engine), name_(std::move(name)), sql_(std::move(sql)), kind_(kind), values_(std::size_t(params)),
      given_(std::size_t(params), 0), plain_(std::move(plain)), shared_(shared) {
    if (!plain_.empty())
        plainName_ = name_ + "p";
}

PgQuery::~PgQuery() {
    reset();
    PQclear(desc_);
    if (shared_)
        return;
    if (own_.prepared[1])
        e_.release(std::move(plainName_));
    if (own_.prepared[0])
        e_.release(std::move(name_));
}

pg_result* PgQuery::execute(const char* const* values, int form) {
    const int n = int(values_.size());
    Shared& st = shared_ ? *shared_ : own_;
    // A statement run once is sent with its values; one run again is prepared.
    if (!st.prepared[form] && ++st.runs[form] < 2)
        return PQexecParams(e_.c_, (form ? plain_ : sql_).c_str(), n, nullptr, values, nullptr, nullptr, 0);
    prepareOnServer(form);
    return PQexecPrepared(e_.c_, (form ? plainName_ : name_).c_str(), n, values, nullptr, nullptr, 0);
}

void PgQuery::prepareOnServer(int form) {
    bool& prepared = (shared_ ? *shared_ : own_).prepared[form];
    if (prepared)
        return;
    e_.quiet();
    PQclear(e_.check(PQprepare(e_.c_, (form ? plainName_ : name_).c_str(), (form ? plain_ : sql_).c_str(),
                               int(values_.size()), nullptr),
                     PGRES_COMMAND_OK));
    prepared = true;
}

void PgQuery::run() {
    started_ = true;
    e_.quiet();
    std::vector<const char*> vals(values_.size());
    for (std::size_t i = 0; i < vals.size(); ++i)
        vals[i] = given_[i] ? values_[i].c_str() : nullptr;
    row_ = -1;
    rows_ = 0;
    switch (kind_) {
    case Kind::Read:
        res_ = e_.check(execute(vals.data()), PGRES_TUPLES_OK);
        rows_ = PQntuples(res_);
        return;
    case Kind::Write:
    case Kind::Counted:
        e_.write(*this, vals.data(), kind_ == Kind::Counted); // its rows are the engine's
        return;
    case Kind::Scan:
        asked_ = kFirstBlock / 2; // doubled as the first FETCH goes
        const bool begin = e_.openScan(name_);
        try {
            const std::string declare = "DECLARE " + name_ + " NO SCROLL CURSOR WITH HOLD FOR " + sql_;
            if (vals.empty()) {
                // One round trip: the transaction, the cursor and its first block.
                asked_ = kFirstBlock;
                const std::string first = "FETCH FORWARD " + std::to_string(asked_) + " FROM " + name_;
                next_ = PQexec(e_.c_, ((begin ? "BEGIN; " : "") + declare + "; " + first).c_str());
                fetched_ = true;
            } else {
                if (begin)
                    e_.simple("BEGIN", PGRES_COMMAND_OK);
                PQclear(e_.check(PQexecParams(e_.c_, declare.c_str(), int(vals.size()), nullptr, vals.data(), nullptr,
                                              nullptr, 0),
                                 PGRES_COMMAND_OK));
            }
            scanning_ = true;
            (void)fetch();
        } catch (...) {
            if (scanning_) {
                scanning_ = false;
                e_.closeScan(name_);
            } else {
                e_.scans_.erase(name_);
                e_.closeScan({});
            }
            throw;
        }
        row_ = -1;
        return;
    }
}

// The next block is asked for as soon as one arrives, so the server reads it
// while this side goes through the one before.
void PgQuery::sendFetch() {
    e_.quiet();
    asked_ = std::min(asked_ * 2, kLargestBlock);
    const std::string sql = "FETCH FORWARD " + std::to_string(asked_) + " FROM " + name_;
    if (!PQsendQuery(e_.c_, sql.c_str())) {
        next_ = nullptr; // fetch() meets the connection's failure
        return;
    }
    e_.inflight_ = this;
}

void PgQuery::collect() noexcept {
    e_.inflight_ = nullptr;
    PQclear(next_);
    next_ = nullptr;
    while (pg_result* r = PQgetResult(e_.c_)) {
        if (next_)
            PQclear(r);
        else
            next_ = r;
    }
    fetched_ = true;
}

bool PgQuery::fetch() {
    PQclear(res_);
    res_ = nullptr;
    rows_ = 0;
    if (!e_.scanAlive(name_)) {
        scanning_ = false;
        throw Error("读取中断:服务器撤销了这次的操作,请重新打开本表!");
    }
    if (!fetched_) {
        if (e_.inflight_ != this)
            sendFetch();
        collect();
    }
    fetched_ = false;
    res_ = e_.check(std::exchange(next_, nullptr), PGRES_TUPLES_OK);
    rows_ = PQntuples(res_);
    if (rows_ < asked_) {
        scanning_ = false;
        e_.closeScan(name_);
    } else {
        sendFetch();
    }
    return rows_ > 0;
}

bool PgQuery::step() {
    if (!started_)
        run();
    if (++row_ < rows_)
        return true;
    if (scanning_ && fetch()) {
        row_ = 0;
        return true;
    }
    row_ = rows_;
    return false;
}

bool PgQuery::nextIdText(std::int64_t& id, std::string_view& text) {
    if (!step())
        return false;
    id = integer(0);
    text = this->text(1);
    return true;
}

void PgQuery::reset() noexcept {
    if (e_.inflight_ == this)
        collect();
    PQclear(next_);
    next_ = nullptr;
    fetched_ = false;
    if (scanning_) {
        scanning_ = false;
        e_.closeScan(name_);
    }
    PQclear(res_);
    res_ = nullptr;
    started_ = false;
    row_ = -1;
    rows_ = 0;
    std::fill(given_.begin(), given_.end(), 0);
}

void PgQuery::bindText(int i, std::string_view text) {
    if (i < 1 || i > int(values_.size()))
        throw Error("服务器出错:参数" + std::to_string(i) + "不存在");
    // Texts go as C strings: one with a NUL would arrive cut short.
    if (text.find('\0') != std::string_view::npos)
        throw Error("服务器上的帐本不能保存含有空字符的文字!");
    values_[std::size_t(i - 1)].assign(text);
    given_[std::size_t(i - 1)] = 1;
}

void PgQuery::bindInt(int i, std::int64_t v) { bindText(i, std::to_string(v)); }

void PgQuery::bindNull(int i) {
    if (i < 1 || i > int(values_.size()))
        throw Error("服务器出错:参数" + std::to_string(i) + "不存在");
    given_[std::size_t(i - 1)] = 0;
}

pg_result* PgQuery::shape() const {
    if (res_ || desc_)
        return res_ ? res_ : desc_;
    // Asked before the first step: a query without parameters is started (its
    // result tells), another is described.
    auto* self = const_cast<PgQuery*>(this);
    if (values_.empty() && (kind_ == Kind::Read || kind_ == Kind::Scan) && !started_) {
        self->run();
        if (res_)
            return res_;
    }
    self->prepareOnServer();
    e_.quiet();
    desc_ = e_.check(PQdescribePrepared(e_.c_, name_.c_str()), PGRES_COMMAND_OK);
    return desc_;
}

int PgQuery::columnCount() const { return kind_ == Kind::Write || kind_ == Kind::Counted ? 0 : PQnfields(shape()); }

std::string PgQuery::columnName(int col) const {
    const char* n = PQfname(shape(), col);
    return n ? n : "";
}

bool PgQuery::isNull(int col) const { return !res_ || row_ >= rows_ || PQgetisnull(res_, row_, col); }

std::int64_t PgQuery::integer(int col) const {
    const std::string_view t = text(col);
    std::int64_t v = 0;
    (void)std::from_chars(t.data(), t.data() + t.size(), v);
    return v;
}

std::string_view PgQuery::text(int col) const {
    if (!res_ || row_ < 0 || row_ >= rows_)
        return {};
    return {PQgetvalue(res_, row_, col), std::size_t(PQgetlength(res_, row_, col))};
}

// ---- the engine

std::unique_ptr<PgEngine> PgEngine::open(const std::string& address, const std::string& ledger) {
    auto s = std::make_unique<pg::Session>(address);
    const int layout = pg::layoutVersion(*s);
    if (layout > pg::kLayoutVersion)
        throw Error("服务器上的帐本由较新版本的程序建立,请先升级本程序!");
    const std::optional<std::string> schema = layout ? pg::schemaOf(*s, ledger) : std::nullopt;
    if (!schema)
        throw Error("服务器上没有帐本\"" + ledger + "\"!");
    // Only a schema of the program's own making: a crafted index row leads nowhere else.
    if (schema->rfind("ledger_", 0) != 0 || schema->size() == 7 ||
        schema->find_first_not_of("0123456789", 7) != std::string::npos)
        throw Error("服务器上的帐本目录已损坏!");
    s->exec("SELECT set_config('search_path', $1, false)", {pg::quoteIdent(*schema)});
    return std::unique_ptr<PgEngine>(new PgEngine(std::move(s), *schema));
}

PgEngine::PgEngine(std::unique_ptr<pg::Session> s, std::string schema)
    : s_(std::move(s)), c_(s_->handle()), schema_(std::move(schema)), channel_("tessolan_" + schema_),
      notify_("SELECT pg_notify('" + channel_ + "', '')") {
    // A scan's cursor is read to its end: planned for all its rows, not the first ones.
    simple("LISTEN " + pg::quoteIdent(channel_) + "; SET cursor_tuple_fraction = 1", PGRES_COMMAND_OK);
}

PgEngine::~PgEngine() = default;

pg_conn* PgEngine::handle() const { return c_; }

void PgEngine::fail(pg_result* r) {
    std::string m = trimmed(r ? PQresultErrorMessage(r) : PQerrorMessage(c_));
    const char* code = r ? PQresultErrorField(r, PG_DIAG_SQLSTATE) : nullptr;
    const std::string state = code ? code : "";
    PQclear(r);
    if (PQstatus(c_) != CONNECTION_OK) {
        scans_.clear();
        scanTxn_ = false;
        throw Error(Failure::Disconnected, "");
    }
    // A failed statement dooms the server's transaction: end it now, as an
    // engine that ended it by itself (Connection::Transaction::renew).
    if (PQtransactionStatus(c_) == PQTRANS_INERROR) {
        PQclear(PQexec(c_, "ROLLBACK"));
        aborted();
    }
    if (state == "42P01")
        throw Error(Failure::MissingTable, "");
    if (state == "53100")
        throw Error(Failure::DiskFull, "");
    throw Error("服务器出错:" + m);
}

pg_result* PgEngine::check(pg_result* r, int want) {
    const int st = r ? int(PQresultStatus(r)) : int(PGRES_FATAL_ERROR);
    if (st == want || (want == kAnyOk && (st == PGRES_COMMAND_OK || st == PGRES_TUPLES_OK))) {
        if (takeNotices() && changedElsewhere_)
            changedElsewhere_();
        return r;
    }
    fail(r);
}

void PgEngine::simple(const std::string& sql, int want) {
    quiet();
    PQclear(check(PQexec(c_, sql.c_str()), want));
}

void PgEngine::quiet() noexcept {
    if (inflight_)
        inflight_->collect();
}

void PgEngine::aborted() noexcept {
    notifyAtCommit_ = false;
    for (auto it = scans_.begin(); it != scans_.end();)
        it = it->second ? scans_.erase(it) : std::next(it);
    scanTxn_ = false;
}

void PgEngine::commitWith(const std::string& sql) {
    quiet();
    const Clear r{check(PQexec(c_, sql.c_str()), PGRES_COMMAND_OK)};
    notifyAtCommit_ = false;
    // A transaction the server had doomed answers COMMIT with ROLLBACK.
    if (std::string_view(PQcmdStatus(r.r)) != "COMMIT") {
        aborted();
        throw Error("服务器没有保存这次的修改!");
    }
    for (auto& s : scans_)
        s.second = false; // held past the commit
    scanTxn_ = false;
}

bool PgEngine::openScan(const std::string& cursor) {
    quiet();
    const bool begin = PQtransactionStatus(c_) == PQTRANS_IDLE;
    if (begin)
        scanTxn_ = true;
    scans_[cursor] = true;
    return begin;
}

void PgEngine::closeScan(const std::string& cursor) noexcept {
    quiet();
    if (PQstatus(c_) != CONNECTION_OK) {
        scans_.clear();
        return;
    }
    try {
        const bool open = scans_.erase(cursor) != 0;
        const bool last = scanTxn_ && std::none_of(scans_.begin(), scans_.end(), [](const auto& s) { return s.second; });
        if (last)
            commitWith(open ? "CLOSE " + cursor + "; COMMIT" : "COMMIT");
        else if (open)
            simple("CLOSE " + cursor, PGRES_COMMAND_OK);
    } catch (...) {
        // Said by the next statement, which meets the same connection.
    }
}

void PgEngine::settle() {
    if (scanTxn_)
        commitWith("COMMIT");
}

bool PgEngine::inTransaction() const {
    return !scanTxn_ && PQstatus(c_) == CONNECTION_OK && PQtransactionStatus(c_) != PQTRANS_IDLE;
}

void PgEngine::begin() {
    settle();
    simple("BEGIN", PGRES_COMMAND_OK);
}

void PgEngine::commit() {
    if (PQstatus(c_) != CONNECTION_OK)
        throw Error(Failure::Disconnected, "");
    if (!inTransaction())
        throw Error("服务器出错:没有进行中的事务");
    // The writes' notifications go out with it.
    commitWith(notifyAtCommit_ ? notify_ + "; COMMIT" : "COMMIT");
}

void PgEngine::rollback() noexcept {
    quiet();
    if (inTransaction())
        PQclear(PQexec(c_, "ROLLBACK"));
    if (!scanTxn_)
        aborted();
}

void PgEngine::write(PgQuery& q, const char* const* values, bool counted) {
    quiet();
    settle();
    // A counted write is one statement that also notifies: atomic on its own.
    // Any other runs in a transaction with its notification.
    const bool own = !counted && PQtransactionStatus(c_) == PQTRANS_IDLE;
    // Inside a transaction a counted UPDATE or DELETE goes as it is (a renumbering
    // writes every row): the commit tells the others once, for all of them.
    const bool plain = counted && !q.plain_.empty() && PQtransactionStatus(c_) != PQTRANS_IDLE;
    if (own)
        simple("BEGIN", PGRES_COMMAND_OK);
    pg_result* r = nullptr;
    try {
        r = check(q.execute(values, plain ? 1 : 0), kAnyOk);
    } catch (const Error& e) {
        if (own && e.kind() != Failure::Disconnected && PQtransactionStatus(c_) != PQTRANS_IDLE)
            PQclear(PQexec(c_, "ROLLBACK"));
        throw;
    }
    const Clear owned{r};
    auto number = [](pg_result* res, int row, int col) {
        std::int64_t v = 0;
        const char* t = PQgetvalue(res, row, col);
        (void)std::from_chars(t, t + PQgetlength(res, row, col), v);
        return v;
    };
    std::int64_t changed = 0, rowid = lastRowid_;
    if (plain) {
        const std::string_view tuples = PQcmdTuples(r);
        (void)std::from_chars(tuples.data(), tuples.data() + tuples.size(), changed);
        notifyAtCommit_ = true;
    } else if (counted) {
        changed = number(r, 0, 0);
        if (changed > 0 && !PQgetisnull(r, 0, 1))
            rowid = number(r, 0, 1);
    } else {
        const std::string_view tuples = PQcmdTuples(r);
        (void)std::from_chars(tuples.data(), tuples.data() + tuples.size(), changed);
        if (PQntuples(r) > 0 && PQnfields(r) > 0)
            rowid = number(r, PQntuples(r) - 1, 0);
        // Done only once the server has it: a lost commit throws before anything counts.
        if (own)
            commitWith(notify_ + "; COMMIT");
        else
            simple(notify_, PGRES_TUPLES_OK);
    }
    changes_ = changed;
    total_ += changed;
    lastRowid_ = rowid;
}

QueryPtr PgEngine::prepare(std::string_view sql, bool kept) {
    quiet();
    if (kept) {
        if (const auto it = kept_.find(std::string(sql)); it != kept_.end()) {
            Kept& k = it->second;
            return std::make_unique<PgQuery>(*this, k.name, k.sql, k.params, k.kind, &k.shared, k.plain);
        }
    }
    if (unused_.size() >= kUnusedBeforeFree && PQtransactionStatus(c_) == PQTRANS_IDLE) {
        std::string free;
        for (const std::string& n : unused_)
            free += "DEALLOCATE " + n + ";";
        unused_.clear();
        simple(free, PGRES_COMMAND_OK);
    }
    int params = 0;
    std::string text = serverDialect(sql, params);
    const std::string bare = bareWords(text);
    const std::size_t first = bare.find_first_not_of(" \t\n(");
    const std::string_view verb = std::string_view(bare).substr(first, bare.find_first_of(" \t\n(", first) - first);
    PgQuery::Kind kind = PgQuery::Kind::Write;
    std::string plain;
    if (verb == "select" || verb == "with" || verb == "values") {
        // In an order of its own and without a limit it may be a whole book: read in blocks.
        kind = hasWord(bare, "order") && !hasWord(bare, "limit") ? PgQuery::Kind::Scan : PgQuery::Kind::Read;
    } else if ((verb == "insert" || verb == "update" || verb == "delete") && !hasWord(bare, "returning")) {
        if (verb != "insert")
            plain = text; // no row id to tell
        // One round trip: the rows written, the last row id, and the others told.
        text = "WITH w AS (" + text + " RETURNING rowid) SELECT count(*), max(rowid), " + notify_.substr(7) +
               " FROM w";
        kind = PgQuery::Kind::Counted;
    }
    std::string name = "tsl_q" + std::to_string(++serial_);
    // A scan's name is its server cursor's too: each scan keeps its own.
    if (kept && kind != PgQuery::Kind::Scan) {
        Kept& k = kept_[std::string(sql)];
        k = Kept{name, text, plain, params, kind, {}};
        return std::make_unique<PgQuery>(*this, std::move(name), std::move(text), params, kind, &k.shared,
                                         std::move(plain));
    }
    return std::make_unique<PgQuery>(*this, std::move(name), std::move(text), params, kind, nullptr, std::move(plain));
}

void PgEngine::release(std::string name) noexcept {
    try {
        unused_.push_back(std::move(name));
    } catch (...) {
    }
}

void PgEngine::exec(const char* sql) {
    int params = 0;
    const std::string text = serverDialect(sql, params);
    settle();
    // Several statements in one go are one transaction unless one is open.
    simple(text + "; " + notify_, PGRES_TUPLES_OK);
    // What they wrote is not counted here; that they may have written is told,
    // so what was read before (a cursor's cache, find's copy) is read again.
    ++total_;
}

std::pair<std::int64_t, std::int64_t> PgEngine::fileVersion() {
    quiet();
    if (!PQconsumeInput(c_) && PQstatus(c_) != CONNECTION_OK)
        throw Error(Failure::Disconnected, "");
    takeNotices();
    return {others_, 0};
}

bool PgEngine::takeNotices() noexcept {
    const int self = PQbackendPID(c_);
    const std::int64_t before = others_;
    while (PGnotify* n = PQnotifies(c_)) {
        if (n->be_pid != self)
            ++others_;
        PQfreemem(n);
    }
    return others_ != before;
}

} // namespace tsl
