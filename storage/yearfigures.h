#pragma once
// The year of a ledger in figures: per month and per name, for each of the
// three books that carry amounts. One pass over one SELECT per book; the month
// is read from the serial stamp's date, amounts go through the whole-number
// conversion and are added in 64 bits, so the totals are those of the status
// summaries and the overall report.
#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tsl {

class Connection;
class Engine;

// The books with amounts, in the order of the figures.
enum class Movement { Shipments = 0, Purchases = 1, Deliveries = 2 };
inline constexpr int kMovements = 3;
// Lines of a month table: January..December, then the rows whose date no pattern reads.
inline constexpr int kMonthLines = 13;
inline constexpr int kUndated = 12;
// How many rows with an amount that does not convert are kept by name (all are counted).
inline constexpr std::size_t kNamedBadAmounts = 50;

[[nodiscard]] std::string_view movementTable(Movement m);  // "2", "3", "4"
[[nodiscard]] std::string_view movementLabel(Movement m);  // 发货, 进货, 交货
[[nodiscard]] std::string_view movementParty(Movement m);  // 客户, 供货单位, 职工
[[nodiscard]] std::string_view monthLabel(int line);       // 1月..12月, 日期不明

struct Tally {
    std::int64_t count = 0;
    std::int64_t total = 0;
    void add(std::int64_t amount) {
        ++count;
        total += amount;
    }
    friend bool operator==(const Tally&, const Tally&) = default;
};

struct NameTally {
    std::string name;
    Tally tally;
};

// A row left out of the figures because its amount is no whole number.
struct BadAmount {
    std::int64_t row = 0; // 1-based position in the book
    std::string stamp;
    std::string name;
    std::string amount;
};

struct BookFigures {
    std::array<Tally, kMonthLines> months{};
    Tally all; // every row whose amount converts
    // Every name (position 1) with its rows, the largest total first, then by name.
    std::vector<NameTally> names;
    std::int64_t badCount = 0;
    std::vector<BadAmount> bad; // the first kNamedBadAmounts of them, in stored order
};

struct YearFigures {
    std::int64_t customers = 0; // rows of the customer book
    std::array<BookFigures, kMovements> books;

    [[nodiscard]] const BookFigures& book(Movement m) const { return books[std::size_t(m)]; }
    // The income is the books' rule: books/income.h.
    [[nodiscard]] std::int64_t badCount() const;
};

// Reads the figures of the ledger open on `db` (a file or a server's); the dates are read with the first
// of `patterns` that reads them (see stampDatePatterns), two-digit years around
// referenceYear (see DateReader). Engine failures throw Error.
[[nodiscard]] YearFigures readYearFigures(Engine& db, const std::vector<std::string>& patterns, int referenceYear);
[[nodiscard]] YearFigures readYearFigures(const Connection& ledger, const std::vector<std::string>& patterns,
                                          int referenceYear);
// The figures of another ledger file, opened read-only for the reading alone:
// nothing is written to it, not even a journal.
[[nodiscard]] YearFigures readYearFiguresOfFile(const std::string& file, const std::vector<std::string>& patterns,
                                                int referenceYear);

} // namespace tsl
