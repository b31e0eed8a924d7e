// Every connection a test program opens returns the rows of a query without ORDER BY in
// the reverse of SQLite's usual order, so code that leans on an order nobody asked for
// fails in the tests instead of after an engine upgrade or a new index.
// Linked into each test program as an object file (not an archive member), so no
// linker can drop it for being unreferenced.
#include <sqlite3.h>

namespace {

int reverseUnorderedSelects(sqlite3* db, char** /*error*/, const sqlite3_api_routines* /*api*/) {
    return sqlite3_exec(db, "PRAGMA reverse_unordered_selects=1", nullptr, nullptr, nullptr);
}

[[maybe_unused]] const int registered =
    sqlite3_auto_extension(reinterpret_cast<void (*)()>(reverseUnorderedSelects));

} // namespace
