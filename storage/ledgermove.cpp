#include "storage/ledgermove.h"

#include "storage/error.h"
#include "storage/failure.h"
#include "storage/fileops.h"
#include "storage/ledgerops.h"
#include "storage/pgsession.h"
#include "storage/schema.h"

#include <sqlite3.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <optional>
#include <vector>

namespace tsl {
namespace {

using Params = std::vector<std::optional<std::string>>;

// Rows per INSERT on the server: few round trips, parameters well under the limit.
constexpr std::size_t kUploadBatch = 1000;
// Rows per FETCH from the server.
constexpr int kDownloadBatch = 2000;

struct Db {
    sqlite3* db = nullptr;
    ~Db() { sqlite3_close(db); }
};

struct Stmt {
    sqlite3_stmt* st = nullptr;
    ~Stmt() { sqlite3_finalize(st); }
};

void openDb(Db& d, const std::string& file, int flags) {
    const int rc = sqlite3_open_v2(file.c_str(), &d.db, flags, nullptr);
    if (rc != SQLITE_OK)
        throw sqliteError(d.db, file, rc);
    sqlite3_extended_result_codes(d.db, 1);
    sqlite3_busy_timeout(d.db, 5000);
    sqlite3_db_config(d.db, SQLITE_DBCONFIG_DQS_DML, 0, nullptr);
    sqlite3_db_config(d.db, SQLITE_DBCONFIG_DQS_DDL, 0, nullptr);
}

void prepare(Stmt& s, Db& d, const std::string& sql, const std::string& file) {
    if (sqlite3_prepare_v2(d.db, sql.c_str(), int(sql.size()), &s.st, nullptr) != SQLITE_OK)
        throw sqliteError(d.db, file);
}

void execDb(Db& d, const char* sql, const std::string& file) {
    if (sqlite3_exec(d.db, sql, nullptr, nullptr, nullptr) != SQLITE_OK)
        throw sqliteError(d.db, file);
}

long long localCount(Db& d, const TableDef& t, const std::string& file) {
    Stmt s;
    prepare(s, d, "SELECT count(*) FROM " + quoteIdent(t.name), file);
    if (sqlite3_step(s.st) != SQLITE_ROW)
        throw sqliteError(d.db, file);
    return sqlite3_column_int64(s.st, 0);
}

long long serverCount(pg::Session& s, const std::string& table) {
    return std::atoll(s.exec("SELECT count(*) FROM " + table).text(0, 0).c_str());
}

std::string columnList(const TableDef& t) {
    std::string cols;
    for (std::string_view f : t.fields)
        cols += (cols.empty() ? "" : ", ") + quoteIdent(f);
    return cols;
}

// The tables a ledger's contents live in: all but the index's own.
template <class F> void forEachBook(F f) {
    for (const TableDef& t : schema())
        if (t.name != table::ledgers)
            f(t);
}

std::string nameTakenText(const std::string& name) {
    return "服务器上已有名为\"" + name + "\"的帐本,请改名!";
}

[[noreturn]] void countMismatch(std::string_view table, long long want, long long got) {
    throw Error("帐本复制出错:表\"" + std::string(table) + "\"应有" + std::to_string(want) + "行,复制后有" +
                std::to_string(got) + "行,什么也没有改变!");
}

void uploadTable(Db& d, const std::string& file, pg::Session& s, const std::string& schemaName, const TableDef& t) {
    const long long want = localCount(d, t, file);
    const std::string cols = columnList(t);
    const std::string target = pg::quoteIdent(schemaName) + "." + pg::quoteIdent(std::string(t.name));
    const std::size_t width = t.fields.size();

    Stmt read;
    prepare(read, d, "SELECT " + cols + " FROM " + quoteIdent(t.name) + " ORDER BY rowid", file);
    // One statement per batch size: a full batch again and again, a shorter one at the end.
    bool prepared = false;
    auto insertSql = [&](std::size_t rows) {
        std::string sql = "INSERT INTO " + target + " (" + cols + ") VALUES ";
        int n = 0;
        for (std::size_t r = 0; r < rows; ++r) {
            sql += r ? ",(" : "(";
            for (std::size_t c = 0; c < width; ++c)
                sql += (c ? ",$" : "$") + std::to_string(++n);
            sql += ")";
        }
        return sql;
    };
    Params batch;
    batch.reserve(kUploadBatch * width);
    long long sent = 0;
    auto flush = [&] {
        const std::size_t rows = batch.size() / width;
        if (!rows)
            return;
        // Rows take their row ids in the order of the VALUES list: the stored order is kept.
        if (rows < kUploadBatch) {
            s.exec(insertSql(rows), batch);
        } else {
            // Parsed and planned once per book, not once per batch.
            if (!prepared) {
                // A statement outlives the transaction: one left by a copy
                // that failed halfway goes first.
                if (s.exec("SELECT 1 FROM pg_catalog.pg_prepared_statements WHERE name = 'tsl_upload'").rows())
                    s.exec("DEALLOCATE tsl_upload");
                s.prepare("tsl_upload", insertSql(kUploadBatch), int(kUploadBatch * width));
            }
            prepared = true;
            s.execPrepared("tsl_upload", batch);
        }
        sent += static_cast<long long>(rows);
        batch.clear();
    };
    for (;;) {
        const int rc = sqlite3_step(read.st);
        if (rc == SQLITE_DONE)
            break;
        if (rc != SQLITE_ROW)
            throw sqliteError(d.db, file, rc);
        for (int c = 0; c < int(width); ++c) {
            if (sqlite3_column_type(read.st, c) == SQLITE_NULL) {
                batch.emplace_back(std::nullopt);
            } else {
                const auto* v = reinterpret_cast<const char*>(sqlite3_column_text(read.st, c));
                const auto size = std::size_t(sqlite3_column_bytes(read.st, c));
                // The server's texts cannot hold a zero byte: it would cut the value short unseen.
                if (std::memchr(v, 0, size))
                    throw Error("帐本的表\"" + std::string(t.name) + "\"中有服务器不能保存的字符,什么也没有改变!");
                batch.emplace_back(std::string(v, size));
            }
        }
        if (batch.size() == kUploadBatch * width)
            flush();
    }
    flush();
    if (prepared)
        s.exec("DEALLOCATE tsl_upload");
    const long long got = serverCount(s, target);
    if (sent != want || got != want)
        countMismatch(t.name, want, sent != want ? sent : got);
}

// A file this copy made; removed (with a journal beside it) unless kept.
class OwnTemp {
public:
    explicit OwnTemp(std::string name) : name_(std::move(name)) {}
    ~OwnTemp() {
        if (!kept_) {
            ::unlink(name_.c_str());
            ::unlink((name_ + "-journal").c_str());
        }
    }
    OwnTemp(const OwnTemp&) = delete;
    OwnTemp& operator=(const OwnTemp&) = delete;
    [[nodiscard]] const std::string& name() const { return name_; }
    void keep() { kept_ = true; }

private:
    std::string name_;
    bool kept_ = false;
};

void downloadTable(pg::Session& s, const std::string& schemaName, Db& d, const std::string& file, const TableDef& t) {
    const std::string cols = columnList(t);
    const std::string source = pg::quoteIdent(schemaName) + "." + pg::quoteIdent(std::string(t.name));
    const long long want = serverCount(s, source);

    execDb(d, ("DELETE FROM " + quoteIdent(t.name)).c_str(), file);
    std::string params;
    for (std::size_t c = 0; c < t.fields.size(); ++c)
        params += c ? ",?" : "?";
    Stmt insert;
    prepare(insert, d, "INSERT INTO " + quoteIdent(t.name) + " (" + cols + ") VALUES (" + params + ")", file);

    s.exec("DECLARE tsl_rows NO SCROLL CURSOR FOR SELECT " + cols + " FROM " + source + " ORDER BY rowid");
    const std::string fetch = "FETCH " + std::to_string(kDownloadBatch) + " FROM tsl_rows";
    for (;;) {
        const pg::Result r = s.exec(fetch);
        for (int i = 0; i < r.rows(); ++i) {
            sqlite3_reset(insert.st);
            for (int c = 0; c < int(t.fields.size()); ++c) {
                if (r.isNull(i, c)) {
                    sqlite3_bind_null(insert.st, c + 1);
                } else {
                    const std::string v = r.text(i, c);
                    sqlite3_bind_text(insert.st, c + 1, v.data(), int(v.size()), SQLITE_TRANSIENT);
                }
            }
            if (sqlite3_step(insert.st) != SQLITE_DONE)
                throw sqliteError(d.db, file);
        }
        if (r.rows() < kDownloadBatch)
            break;
    }
    s.exec("CLOSE tsl_rows");
    const long long got = localCount(d, t, file);
    if (got != want)
        countMismatch(t.name, want, got);
}

} // namespace

void upload(const std::string& localFile, pg::Session& s, const std::string& name) {
    if (pg::schemaOf(s, name))
        throw Error(nameTakenText(name));
    Db d;
    openDb(d, localFile, SQLITE_OPEN_READONLY);
    // One read transaction: every book as it stood at one moment.
    execDb(d, "BEGIN", localFile);
    pg::Session::Transaction t(s);
    std::string schemaName;
    try {
        schemaName = pg::createLedgerInTransaction(s, name);
    } catch (const Error& e) {
        // Another program took the name a moment ago.
        if (std::string_view(e.what()) == "帐本已存在!")
            throw Error(nameTakenText(name));
        throw;
    }
    forEachBook([&](const TableDef& table) { uploadTable(d, localFile, s, schemaName, table); });
    t.commit();
    execDb(d, "COMMIT", localFile);
}

std::string lockServerBooks(pg::Session& s, const std::string& name) {
    const std::string schemaName = pg::ownSchemaOf(s, name);
    forEachBook([&](const TableDef& table) {
        s.exec("LOCK TABLE " + pg::quoteIdent(schemaName) + "." + pg::quoteIdent(std::string(table.name)) +
               " IN EXCLUSIVE MODE");
    });
    return schemaName;
}

void replaceRows(const std::string& localFile, pg::Session& s, const std::string& name) {
    Db d;
    openDb(d, localFile, SQLITE_OPEN_READONLY);
    execDb(d, "BEGIN", localFile);
    pg::Session::Transaction t(s);
    const std::string schemaName = lockServerBooks(s, name);
    forEachBook([&](const TableDef& table) {
        s.exec("DELETE FROM " + pg::quoteIdent(schemaName) + "." + pg::quoteIdent(std::string(table.name)));
        uploadTable(d, localFile, s, schemaName, table);
    });
    // The programs in the ledger read their books again when this commits.
    s.exec("SELECT pg_notify($1, '')", {"tessolan_" + schemaName});
    t.commit();
    execDb(d, "COMMIT", localFile);
}

void download(pg::Session& s, const std::string& name, const std::string& folder, const std::string& localName,
              const std::string& indexFile) {
    if (localName.empty() || localName.find('/') != std::string::npos || localName.find('\0') != std::string::npos)
        throw Error("这个名称不能用作帐本的文件名,请改名!");
    const std::string target = (folder.empty() ? std::string(".") : folder) + "/" + ledgerFileOf(localName);
    if (fileExists(target))
        throw Error(Failure::Exists, target);
    // The server's books as they stood at one moment, read in the order they are stored.
    pg::Session::Transaction t(s, "ISOLATION LEVEL REPEATABLE READ, READ ONLY");
    const std::string schemaName = pg::ownSchemaOf(s, name);

    OwnTemp temp(copyDatabaseToTemp(indexFile, target));
    {
        Db d;
        openDb(d, temp.name(), SQLITE_OPEN_READWRITE);
        execDb(d, "PRAGMA synchronous = FULL", target);
        execDb(d, "BEGIN IMMEDIATE", target);
        forEachBook([&](const TableDef& table) { downloadTable(s, schemaName, d, target, table); });
        execDb(d, "COMMIT", target);
        const int rc = sqlite3_close(d.db);
        d.db = nullptr;
        if (rc != SQLITE_OK)
            throw Error(failureOfSqlite(rc), target);
    }
    const int fd = ::open(temp.name().c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        throw errnoError(errno, target);
    {
        FdCloser closer(fd);
        if (const int err = syncFile(fd, temp.name()))
            throw errnoError(err, target);
    }
    renameNoReplace(temp.name(), target);
    temp.keep();
    syncFolder(folder.empty() ? std::string(".") : folder);
}

} // namespace tsl
