// Writes the empty ledger index (every table, no rows) to the file named on the
// command line. The program itself never creates tables; this is the only place.
#include "storage/schema.h"

#include <sqlite3.h>

#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: mkindex FILE\n");
        return 2;
    }
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(argv[1], &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE,
                        nullptr) != SQLITE_OK) {
        std::fprintf(stderr, "mkindex: cannot create %s: %s\n", argv[1], db ? sqlite3_errmsg(db) : "");
        sqlite3_close(db);
        return 1;
    }
    std::string sql = "PRAGMA journal_mode=DELETE; BEGIN;\n" + tsl::schemaSql() + "COMMIT;";
    char* err = nullptr;
    int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &err);
    if (rc != SQLITE_OK) {
        std::fprintf(stderr, "mkindex: %s\n", err ? err : "failed");
        sqlite3_free(err);
        sqlite3_close(db);
        std::remove(argv[1]);
        return 1;
    }
    sqlite3_close(db);
    return 0;
}
