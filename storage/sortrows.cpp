#include "storage/sortrows.h"

#include "storage/connection.h"
#include "storage/error.h"
#include "storage/intconv.h"
#include "storage/prepared.h"
#include "storage/schema.h"

#include <sqlite3.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdint>
#include <string>

namespace tsl {
namespace {

const std::string kSortFailed = "排序失败: ";

std::string_view argText(sqlite3_value* v) {
    const auto* p = reinterpret_cast<const char*>(sqlite3_value_text(v));
    return p ? std::string_view(p, std::size_t(sqlite3_value_bytes(v))) : std::string_view();
}

void sqlNumber(sqlite3_context* ctx, int, sqlite3_value** argv) {
    if (const auto v = tryStrToInt(argText(argv[0])))
        sqlite3_result_int64(ctx, *v);
    else
        sqlite3_result_null(ctx);
}

void sqlSerial(sqlite3_context* ctx, int, sqlite3_value** argv) {
    if (const auto v = stampSerial(argText(argv[0])))
        sqlite3_result_int64(ctx, *v);
    else
        sqlite3_result_null(ctx);
}

// The keys as SQL functions of the book's own connection (made again each time:
// a connection may have been opened anew since).
void addFunctions(sqlite3* db) {
    constexpr int flags = SQLITE_UTF8 | SQLITE_DETERMINISTIC | SQLITE_INNOCUOUS;
    if (sqlite3_create_function_v2(db, "tsl_number", 1, flags, nullptr, sqlNumber, nullptr, nullptr, nullptr) !=
            SQLITE_OK ||
        sqlite3_create_function_v2(db, "tsl_serial", 1, flags, nullptr, sqlSerial, nullptr, nullptr, nullptr) !=
            SQLITE_OK)
        throw Error(kSortFailed, sqliteError(db));
}

} // namespace

SortKind sortKindOf(std::string_view name) {
    for (std::string_view f : {field::amount, field::shipQuantity, field::buyQuantity, field::delQuantity})
        if (name == f)
            return SortKind::Number;
    return name == field::stamp ? SortKind::Serial : SortKind::Text;
}

std::optional<long long> stampSerial(std::string_view s) {
    const std::size_t close = s.find(')');
    if (s.size() < 3 || s[0] != '(' || close == std::string_view::npos || close < 2)
        return std::nullopt;
    long long n = 0;
    const char* first = s.data() + 1;
    const char* last = s.data() + close;
    if (*first == '-' || *first == '+')
        return std::nullopt;
    const auto [end, ec] = std::from_chars(first, last, n);
    if (ec != std::errc() || end != last)
        return std::nullopt;
    return n;
}

std::vector<int> sortedRows(Cursor& book, int pos, SortKind kind, bool descending) {
    const int n = book.recordCount();
    if (pos < 0 || pos >= book.fieldCount())
        throw Error(kSortFailed + "没有第" + std::to_string(pos + 1) + "列");
    sqlite3* db = book.connection().handle();
    addFunctions(db);
    const std::string key = std::string(kind == SortKind::Serial ? "tsl_serial(" : "tsl_number(") +
                            quoteIdent(book.fieldName(pos)) + ")";
    // NULLS LAST: texts that read as no key after the others, both ways; rowid
    // keeps equal keys in stored order (the engine's sort is not stable).
    Prepared st(db,
                "SELECT rowid FROM " + quoteIdent(book.tableName()) + " ORDER BY " + key +
                    (descending ? " DESC" : "") + " NULLS LAST, rowid",
                kSortFailed);

    // Stored order is rowid order: a position is where its rowid stands among
    // them. Rowids without many gaps (the usual case) are looked up directly.
    std::vector<std::int64_t> ids(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i)
        ids[std::size_t(i)] = book.rowidAt(i);
    const std::int64_t low = n ? ids.front() : 0;
    const std::int64_t span = n ? ids.back() - low + 1 : 0;
    std::vector<int> direct;
    if (n && span <= 4 * std::int64_t(n)) {
        direct.assign(std::size_t(span), -1);
        for (int i = 0; i < n; ++i)
            direct[std::size_t(ids[std::size_t(i)] - low)] = i;
    }
    auto positionOf = [&](std::int64_t id) -> int {
        if (!direct.empty())
            return id >= low && id - low < span ? direct[std::size_t(id - low)] : -1;
        const auto it = std::lower_bound(ids.begin(), ids.end(), id);
        return it == ids.end() || *it != id ? -1 : int(it - ids.begin());
    };
    std::vector<int> rows;
    rows.reserve(std::size_t(n));
    std::vector<char> seen(static_cast<std::size_t>(n), 0);
    while (st.step()) {
        const int p = positionOf(sqlite3_column_int64(st.get(), 0));
        if (p < 0)
            continue; // written by another program since the book was read
        seen[std::size_t(p)] = 1;
        rows.push_back(p);
    }
    // Rows gone from the file since stay shown, last, as the grid still has them.
    for (std::size_t p = 0; p < seen.size(); ++p)
        if (!seen[p])
            rows.push_back(int(p));
    return rows;
}

} // namespace tsl
