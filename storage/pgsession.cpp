#include "storage/pgsession.h"

#include "storage/schema.h"

#include <libpq-fe.h>

#include <clocale>
#include <cstdlib>
#include <locale.h>

namespace tsl::pg {
namespace {

const char kSchema[] = "tessolan"; // the index and the layout's version

[[noreturn]] void fail(const std::string& text) { throw Error(text); }

// libpq and the C library word their messages in the desktop's language; they
// are told apart by their English words, so this thread speaks English to them
// while a guard lives. The server's own words come in its language (below).
class EnglishMessages {
public:
    EnglishMessages() {
        static const locale_t english = newlocale(LC_MESSAGES_MASK, "C", duplocale(LC_GLOBAL_LOCALE));
        if (english)
            old_ = uselocale(english);
    }
    ~EnglishMessages() {
        if (old_)
            uselocale(old_);
    }
    EnglishMessages(const EnglishMessages&) = delete;
    EnglishMessages& operator=(const EnglishMessages&) = delete;

private:
    locale_t old_ = nullptr;
};

std::string serverText(pg_conn* c) {
    std::string m = PQerrorMessage(c);
    while (!m.empty() && (m.back() == '\n' || m.back() == ' '))
        m.pop_back();
    return m;
}

} // namespace

Result::Result(pg_result* r) : r_(r, [](pg_result* p) { PQclear(p); }) {}
int Result::rows() const { return r_ ? PQntuples(r_.get()) : 0; }
std::string Result::text(int row, int col) const {
    const char* v = PQgetvalue(r_.get(), row, col);
    return v ? std::string(v, std::size_t(PQgetlength(r_.get(), row, col))) : std::string();
}
bool Result::isNull(int row, int col) const { return PQgetisnull(r_.get(), row, col) != 0; }

std::string connectionFailureText(const std::string& m) {
    auto has = [&m](const char* s) { return m.find(s) != std::string::npos; };
    // The server's words in English, or as a server set up in Chinese says them.
    if (has("password authentication failed") || has("no password supplied") || has("password must be") ||
        has("Password 认证失败"))
        return "服务器拒绝了登录:用户名或密码不对!";
    if (has("could not translate host name") || has("Name or service not known"))
        return "找不到服务器:主机名不对,或网络不通!";
    if ((has("database \"") && has("does not exist")) || (has("数据库 \"") && has("不存在")))
        return "服务器上没有这个数据库!";
    if ((has("role \"") && has("does not exist")) || (has("角色 \"") && has("不存在")))
        return "服务器上没有这个用户!";
    if (has("Connection refused") || has("No such file or directory") || has("timeout expired") ||
        has("is the server running") || has("database system is shutting down") ||
        has("database system is starting up") || has("数据库系统停止中") || has("数据库系统启动中"))
        return "连接不上服务器:服务器没有运行,或不接受连接!";
    if (has("server closed the connection") || has("terminating connection") || has("no connection to the server") ||
        has("connection to server") || has("SSL SYSCALL") || has("由于管理员命令中断联接"))
        return "与服务器的连接已断开!";
    return "服务器出错:" + m;
}

std::string quoteIdent(const std::string& name) {
    std::string q = "\"";
    for (char c : name)
        q += c == '"' ? std::string("\"\"") : std::string(1, c);
    return q + "\"";
}

Session::Session(const std::string& address) {
    const EnglishMessages english;
    conn_ = PQconnectdb(address.c_str());
    if (!conn_)
        fail("连接不上服务器:内存不足!");
    if (PQstatus(conn_) != CONNECTION_OK) {
        const std::string m = serverText(conn_);
        PQfinish(conn_);
        conn_ = nullptr;
        fail(connectionFailureText(m));
    }
    // Texts go both ways in UTF-8, whatever the server's own setting.
    PQsetClientEncoding(conn_, "UTF8");
    exec("SET client_min_messages = warning");
}

Session::~Session() {
    if (conn_)
        PQfinish(conn_);
}

namespace {

// The result of a statement, or Error with the server's words.
Result checked(pg_conn* conn, pg_result* raw) {
    const ExecStatusType st = raw ? PQresultStatus(raw) : PGRES_FATAL_ERROR;
    if (st == PGRES_COMMAND_OK || st == PGRES_TUPLES_OK)
        return Result(raw);
    std::string m = raw ? PQresultErrorMessage(raw) : serverText(conn);
    PQclear(raw);
    while (!m.empty() && (m.back() == '\n' || m.back() == ' '))
        m.pop_back();
    if (PQstatus(conn) != CONNECTION_OK)
        fail("与服务器的连接已断开!");
    fail("服务器出错:" + m);
}

std::vector<const char*> values(const std::vector<std::optional<std::string>>& params) {
    std::vector<const char*> out;
    out.reserve(params.size());
    for (const auto& p : params)
        out.push_back(p ? p->c_str() : nullptr);
    return out;
}

} // namespace

Result Session::exec(const std::string& sql, const std::vector<std::optional<std::string>>& params) {
    const EnglishMessages english;
    const std::vector<const char*> v = values(params);
    return checked(conn_, PQexecParams(conn_, sql.c_str(), int(v.size()), nullptr, v.data(), nullptr, nullptr, 0));
}

void Session::prepare(const std::string& name, const std::string& sql, int params) {
    const EnglishMessages english;
    (void)checked(conn_, PQprepare(conn_, name.c_str(), sql.c_str(), params, nullptr));
}

Result Session::execPrepared(const std::string& name, const std::vector<std::optional<std::string>>& params) {
    const EnglishMessages english;
    const std::vector<const char*> v = values(params);
    return checked(conn_, PQexecPrepared(conn_, name.c_str(), int(v.size()), v.data(), nullptr, nullptr, 0));
}

bool Session::alive() const { return conn_ && PQstatus(conn_) == CONNECTION_OK; }

std::string Session::hostLabel() const {
    const char* h = PQhost(conn_);
    if (!h || !*h || *h == '/')
        return "本机";
    return h;
}

Session::Transaction::Transaction(Session& s, const char* mode) : s_(s) {
    if (PQtransactionStatus(s_.handle()) != PQTRANS_IDLE) {
        done_ = true; // the open one's
        return;
    }
    s_.exec(mode ? std::string("BEGIN ") + mode : std::string("BEGIN"));
}
Session::Transaction::~Transaction() {
    if (!done_) {
        try {
            s_.exec("ROLLBACK");
        } catch (...) {
        }
    }
}
void Session::Transaction::commit() {
    if (done_)
        return;
    s_.exec("COMMIT");
    done_ = true;
}

namespace {

// Only a schema of the program's own making: ledger_ and digits.
bool isOwnSchema(const std::string& schema) {
    return schema.size() > 7 && schema.rfind("ledger_", 0) == 0 &&
           schema.find_first_not_of("0123456789", 7) == std::string::npos;
}

bool hasLayoutTables(Session& s) {
    return s.exec("SELECT 1 FROM pg_catalog.pg_tables WHERE schemaname = $1 AND tablename = 'meta'", {kSchema}).rows() > 0;
}

// The books of a ledger: every table of a ledger file but the index's own.
std::vector<std::string> ledgerTablesSql(const std::string& schema) {
    std::vector<std::string> out;
    for (const TableDef& t : tsl::schema()) {
        if (t.name == table::ledgers)
            continue;
        std::string sql = "CREATE TABLE " + quoteIdent(schema) + "." + quoteIdent(std::string(t.name)) +
               " (rowid bigint GENERATED ALWAYS AS IDENTITY PRIMARY KEY";
        for (std::string_view f : t.fields)
            sql += ", " + quoteIdent(std::string(f)) + " text";
        out.push_back(sql + ")");
    }
    return out;
}

} // namespace

int layoutVersion(Session& s) {
    if (!hasLayoutTables(s))
        return 0;
    const Result r = s.exec("SELECT value FROM tessolan.meta WHERE key = 'layout'");
    return r.rows() ? std::atoi(r.text(0, 0).c_str()) : 0;
}

void ensureLayout(Session& s) {
    Session::Transaction t(s);
    // One program at a time makes or upgrades the layout; the others wait and find it made.
    s.exec("SELECT pg_advisory_xact_lock(hashtext('tessolan layout'))");
    const int have = layoutVersion(s);
    if (have > kLayoutVersion)
        fail("服务器上的帐本由较新版本的程序建立,请先升级本程序!");
    if (have == kLayoutVersion)
        return;
    if (have == 0) {
        s.exec("CREATE SCHEMA IF NOT EXISTS tessolan");
        s.exec("CREATE TABLE tessolan.meta (key text PRIMARY KEY, value text NOT NULL)");
        s.exec("CREATE TABLE tessolan.ledgers (id bigint GENERATED ALWAYS AS IDENTITY PRIMARY KEY,"
               " name text NOT NULL UNIQUE, schema_name text NOT NULL UNIQUE)");
        s.exec("INSERT INTO tessolan.meta VALUES ('layout', $1)", {std::to_string(kLayoutVersion)});
    }
    // Later versions upgrade here, step by step, in this same transaction.
    s.exec("UPDATE tessolan.meta SET value = $1 WHERE key = 'layout'", {std::to_string(kLayoutVersion)});
    t.commit();
}

std::vector<std::string> listLedgers(Session& s) {
    const Result r = s.exec("SELECT name FROM tessolan.ledgers ORDER BY id");
    std::vector<std::string> names;
    for (int i = 0; i < r.rows(); ++i)
        names.push_back(r.text(i, 0));
    return names;
}

std::optional<std::string> schemaOf(Session& s, const std::string& name) {
    const Result r = s.exec("SELECT schema_name FROM tessolan.ledgers WHERE name = $1", {name});
    if (!r.rows())
        return std::nullopt;
    return r.text(0, 0);
}

std::string createLedger(Session& s, const std::string& name) {
    Session::Transaction t(s);
    std::string schema = createLedgerInTransaction(s, name);
    t.commit();
    return schema;
}

std::string createLedgerInTransaction(Session& s, const std::string& name) {
    s.exec("LOCK TABLE tessolan.ledgers IN SHARE ROW EXCLUSIVE MODE");
    if (schemaOf(s, name))
        fail("帐本已存在!");
    const Result id = s.exec("INSERT INTO tessolan.ledgers (name, schema_name) VALUES ($1, '') RETURNING id", {name});
    // The schema's name is the program's own, never the ledger's name.
    const std::string schema = "ledger_" + id.text(0, 0);
    s.exec("UPDATE tessolan.ledgers SET schema_name = $1 WHERE id = $2", {schema, id.text(0, 0)});
    s.exec("CREATE SCHEMA " + quoteIdent(schema));
    for (const std::string& sql : ledgerTablesSql(schema))
        s.exec(sql);
    return schema;
}

void dropLedger(Session& s, const std::string& name) {
    Session::Transaction t(s);
    const Result r = s.exec("DELETE FROM tessolan.ledgers WHERE name = $1 RETURNING schema_name", {name});
    if (!r.rows())
        fail("帐本不存在!");
    const std::string schema = r.text(0, 0);
    if (!isOwnSchema(schema))
        fail("服务器上的帐本目录已损坏!");
    s.exec("DROP SCHEMA " + quoteIdent(schema) + " CASCADE");
    t.commit();
}

std::string ownSchemaOf(Session& s, const std::string& name) {
    const std::optional<std::string> schema = schemaOf(s, name);
    if (!schema)
        fail("帐本不存在!");
    if (!isOwnSchema(*schema))
        fail("服务器上的帐本目录已损坏!");
    return *schema;
}

void renameLedger(Session& s, const std::string& from, const std::string& to) {
    // The unique name stands guard against a program renaming at the same moment.
    const Result r = s.exec("UPDATE tessolan.ledgers SET name = $2 WHERE name = $1"
                            " AND NOT EXISTS (SELECT 1 FROM tessolan.ledgers WHERE name = $2) RETURNING id",
                            {from, to});
    if (r.rows())
        return;
    if (!schemaOf(s, from))
        fail("帐本不存在!");
    fail("帐本已存在!");
}

namespace {

// The first key of the program's advisory locks on ledgers; the second is the ledger's id.
constexpr int kLedgerLockClass = 0x54534c; // "TSL"

std::string ledgerId(Session& s, const std::string& name) {
    const Result r = s.exec("SELECT id FROM tessolan.ledgers WHERE name = $1", {name});
    if (!r.rows())
        fail("帐本不存在!");
    return r.text(0, 0);
}

} // namespace

void holdLedger(Session& s, const std::string& name) {
    // Once per session: a hold taken again (after a reconnect that found the
    // session still alive) would need two releases.
    s.exec("SELECT pg_advisory_lock_shared($1::int, $2::int) WHERE NOT EXISTS (SELECT 1 FROM pg_catalog.pg_locks"
           " WHERE locktype = 'advisory' AND pid = pg_backend_pid() AND objsubid = 2"
           " AND classid = $1::int::oid AND objid = $2::int::oid)",
           {std::to_string(kLedgerLockClass), ledgerId(s, name)});
}

void releaseLedger(Session& s, const std::string& name) {
    s.exec("SELECT pg_advisory_unlock_shared($1::int, $2::int)", {std::to_string(kLedgerLockClass), ledgerId(s, name)});
}

std::vector<LedgerUse> openCounts(Session& s) {
    // A lock of two int4 keys shows in pg_locks as classid, objid and objsubid 2.
    const Result r = s.exec("SELECT l.name, count(DISTINCT k.pid) FROM tessolan.ledgers l"
                            " LEFT JOIN pg_catalog.pg_locks k ON k.locktype = 'advisory' AND k.granted"
                            " AND k.objsubid = 2 AND k.classid = $1::int::oid AND k.objid::bigint = l.id"
                            " GROUP BY l.id, l.name ORDER BY l.id",
                            {std::to_string(kLedgerLockClass)});
    std::vector<LedgerUse> out;
    for (int i = 0; i < r.rows(); ++i)
        out.push_back({r.text(i, 0), std::atoll(r.text(i, 1).c_str())});
    return out;
}

std::string addressWithoutPassword(const std::string& address) {
    char* err = nullptr;
    const EnglishMessages english;
    PQconninfoOption* opts = PQconninfoParse(address.c_str(), &err);
    if (!opts) {
        std::string m = err ? err : "";
        PQfreemem(err);
        while (!m.empty() && (m.back() == '\n' || m.back() == ' '))
            m.pop_back();
        fail("服务器地址写得不对:" + m);
    }
    bool hasPassword = false;
    std::string kept;
    for (PQconninfoOption* o = opts; o->keyword; ++o) {
        if (!o->val)
            continue;
        if (std::string(o->keyword) == "password") {
            hasPassword = true;
            continue;
        }
        std::string v;
        for (const char* c = o->val; *c; ++c) {
            if (*c == '\\' || *c == '\'')
                v += '\\';
            v += *c;
        }
        kept += (kept.empty() ? "" : " ") + std::string(o->keyword) + "='" + v + "'";
    }
    PQconninfoFree(opts);
    return hasPassword ? kept : address;
}

} // namespace tsl::pg
