#include "tests/support/tempdir.h"

#include "storage/schema.h"

#include <sqlite3.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <unistd.h>

namespace fs = std::filesystem;

namespace tsltest {

std::string indexTemplate() { return TSL_INDEX_TEMPLATE; }

TempDir::TempDir() {
    oldCwd_ = fs::current_path().string();
    std::string tmpl = (fs::temp_directory_path() / "tsltest-XXXXXX").string();
    if (!mkdtemp(tmpl.data()))
        throw std::runtime_error("mkdtemp failed");
    path_ = tmpl;
    fs::current_path(path_);
}

TempDir::~TempDir() {
    std::error_code ec;
    fs::current_path(oldCwd_, ec);
    fs::remove_all(path_, ec);
}

void TempDir::seedIndex(const std::string& name) const { fs::copy_file(indexTemplate(), fs::path(path_) / name); }

std::string readFile(const std::string& name) {
    std::ifstream in(name, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void writeFile(const std::string& name, const std::string& content) {
    std::ofstream(name, std::ios::binary) << content;
}

static sqlite3* openDb(const std::string& file) {
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
        std::string msg = db ? sqlite3_errmsg(db) : "out of memory";
        sqlite3_close(db);
        throw std::runtime_error("cannot open " + file + ": " + msg);
    }
    sqlite3_busy_timeout(db, 5000);
    return db;
}

std::string sqlQuote(const std::string& text) {
    std::string out = "'";
    for (char c : text) {
        if (c == '\'')
            out += '\'';
        out += c;
    }
    return out + "'";
}

void sqlExec(const std::string& file, const std::string& sql) {
    sqlite3* db = openDb(file);
    char* err = nullptr;
    int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &err);
    std::string msg = err ? err : "";
    sqlite3_free(err);
    sqlite3_close(db);
    if (rc != SQLITE_OK)
        throw std::runtime_error("sql failed: " + msg + " in " + sql);
}

std::vector<std::string> sqlColumn(const std::string& file, const std::string& sql) {
    sqlite3* db = openDb(file);
    sqlite3_stmt* st = nullptr;
    std::vector<std::string> out;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) != SQLITE_OK) {
        std::string msg = sqlite3_errmsg(db);
        sqlite3_close(db);
        throw std::runtime_error("prepare failed: " + msg);
    }
    while (sqlite3_step(st) == SQLITE_ROW) {
        auto* t = sqlite3_column_text(st, 0);
        out.emplace_back(t ? reinterpret_cast<const char*>(t) : "");
    }
    sqlite3_finalize(st);
    sqlite3_close(db);
    return out;
}

std::vector<std::string> ledgerRows(const std::string& file) {
    std::vector<std::string> out;
    for (const tsl::TableDef& t : tsl::schema()) {
        if (t.name == tsl::table::ledgers)
            continue;
        std::string row;
        for (std::string_view f : t.fields)
            row += (row.empty() ? "" : "||'|'||") + std::string("quote(") + tsl::quoteIdent(f) + ")";
        for (std::string& r : sqlColumn(file, "SELECT " + row + " FROM " + tsl::quoteIdent(t.name) + " ORDER BY rowid"))
            out.push_back(std::string(t.name) + ":" + r);
    }
    return out;
}

} // namespace tsltest
