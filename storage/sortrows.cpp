#include "storage/sortrows.h"

#include "storage/connection.h"
#include "storage/engine.h"
#include "storage/error.h"
#include "storage/intconv.h"
#include "storage/schema.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tsl {
namespace {

const std::string kSortFailed = "排序失败: ";

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
    // One scan of the field in stored order through the book's engine (a ledger
    // file or a server alike); the keys are read here, so both order alike.
    const QueryPtr scan = book.connection().engine().prepare(
        "SELECT rowid, " + quoteIdent(book.fieldName(pos)) + " FROM " + quoteIdent(book.tableName()) + " ORDER BY rowid");
    const ResetQuery done(*scan);

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
    struct Keyed {
        std::int64_t key;
        int row;
    };
    std::vector<Keyed> keyed; // rows whose text reads as a key, in stored order
    keyed.reserve(std::size_t(n));
    std::vector<int> keyless; // rows whose text reads as no key, in stored order
    std::vector<char> seen(static_cast<std::size_t>(n), 0);
    std::int64_t id = 0;
    std::string_view text;
    while (scan->nextIdText(id, text)) {
        const int p = positionOf(id);
        if (p < 0)
            continue; // written by another program since the book was read
        seen[std::size_t(p)] = 1;
        std::optional<std::int64_t> key;
        if (kind == SortKind::Serial)
            key = stampSerial(text);
        else if (const auto number = tryStrToInt(text))
            key = *number;
        if (key)
            keyed.push_back({*key, p});
        else
            keyless.push_back(p);
    }
    // Stable: equal keys keep their stored order, either way.
    if (descending)
        std::stable_sort(keyed.begin(), keyed.end(), [](const Keyed& a, const Keyed& b) { return a.key > b.key; });
    else
        std::stable_sort(keyed.begin(), keyed.end(), [](const Keyed& a, const Keyed& b) { return a.key < b.key; });
    std::vector<int> rows;
    rows.reserve(std::size_t(n));
    for (const Keyed& k : keyed)
        rows.push_back(k.row);
    // Texts that read as no key after the others, both ways.
    rows.insert(rows.end(), keyless.begin(), keyless.end());
    // Rows gone from the book since stay shown, last, as the grid still has them.
    for (std::size_t p = 0; p < seen.size(); ++p)
        if (!seen[p])
            rows.push_back(int(p));
    return rows;
}

} // namespace tsl
