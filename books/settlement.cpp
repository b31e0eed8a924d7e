#include "books/settlement.h"

#include "storage/cursor.h"
#include "storage/error.h"
#include "storage/exactmatch.h"
#include "storage/intconv.h"
#include "storage/schema.h"
#include "storage/undodelete.h"

namespace tsl::books {

namespace {

// The one rule of a row: its amount converts, or the settlement stops there.
class Taker {
public:
    Taker(Settlement& s, const Listed& listed) : s_(s), listed_(listed) {}

    void take(std::vector<std::string>&& row) {
        s_.total += strToInt(row.back()); // throws on the row, before it is listed
        if (listed_)
            listed_(row);
        s_.rows.push_back(std::move(row));
    }

private:
    Settlement& s_;
    const Listed& listed_;
};

Settlement start(std::string_view table, std::string_view name) {
    if (!isSettled(table))
        throw Error("帐簿\"" + std::string(table) + "\"不结帐");
    Settlement s;
    s.table = std::string(table);
    s.name = std::string(name);
    return s;
}

} // namespace

// The money books, the same that are numbered.
bool isSettled(std::string_view table) { return bookIsNumbered(table); }

Settlement settle(Cursor& book, std::string_view name, const Listed& listed) {
    Settlement s = start(book.tableName(), name);
    const int n = book.fieldCount();
    for (int p = 0; p < n; ++p)
        s.fields.push_back(book.fieldName(p));
    Taker taker(s, listed);
    (void)book.forEachMatch(pos::settleName, name, [&] {
        std::vector<std::string> row;
        row.reserve(std::size_t(n));
        for (int p = 0; p < n; ++p)
            row.push_back(book.fieldText(p));
        taker.take(std::move(row));
        return true;
    });
    return s;
}

Settlement settle(Engine& db, std::string_view table, std::string_view name, const std::string& context) {
    Settlement s = start(table, name);
    for (auto f : findTable(table)->fields)
        s.fields.emplace_back(f);
    const Listed none;
    Taker taker(s, none);
    forEachExact(
        db, table, pos::settleName, name,
        [&](std::span<const std::string_view> fields) {
            taker.take(std::vector<std::string>(fields.begin(), fields.end()));
            return true;
        },
        context);
    return s;
}

Settlement inPeriod(Settlement whole, const Period& period, const StampDateReader& dates) {
    whole.period = period;
    if (period.whole())
        return whole;
    std::vector<std::vector<std::string>> inside;
    whole.total = 0;
    for (auto& row : whole.rows) {
        switch (placeInPeriod(period, dates, row[std::size_t(pos::stamp)])) {
        case InPeriod::Inside:
            whole.total += strToInt(row.back());
            inside.push_back(std::move(row));
            break;
        case InPeriod::Undated:
            whole.undated.push_back(std::move(row));
            break;
        case InPeriod::Outside:
            break;
        }
    }
    whole.rows = std::move(inside);
    return whole;
}

} // namespace tsl::books
