#pragma once
// A book's summary: how many rows it has and the total of their amounts, as the
// status bar and the overall report show them. Amounts go through the
// whole-number conversion and are added in 64 bits. An amount that does not
// convert is never quietly left out: opening a book (or the report) walks to its
// row and stops there with the conversion's error; a refresh after a post leaves
// the summary as it was.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace tsl {
class Connection;
class Cursor;
} // namespace tsl

namespace tsl::books {

struct Summary {
    std::int64_t rows = 0;
    std::int64_t total = 0; // the customer book has no amounts: 0
    friend bool operator==(const Summary&, const Summary&) = default;
};

// Sums a book's amounts in the pass that opens it (Cursor::setOpenPass), so a
// book of a million rows is read once. Set before `book` opens `table`, for the
// duration of the open.
class OpenSum {
public:
    OpenSum(Cursor& book, std::string_view table);
    ~OpenSum();
    OpenSum(const OpenSum&) = delete;
    OpenSum& operator=(const OpenSum&) = delete;

    // The summary the pass gathered; nullopt when it cannot tell (an amount did
    // not convert, or no pass ran over an amount field).
    [[nodiscard]] std::optional<Summary> summary() const;

private:
    Cursor& book_;
    std::string table_;
    bool armed_ = false;
    bool converted_ = true;
    std::int64_t sum_ = 0;
};

// The summary of the book just opened in `book`: from `pass` when it can tell,
// otherwise by walking from the first row (`beforeWalk` runs first), which stops
// on an amount that does not convert with its error, the cursor on that row;
// back on the first row when the walk ends.
[[nodiscard]] Summary summaryAfterOpen(Cursor& book, const OpenSum* pass,
                                       const std::function<void()>& beforeWalk = {});

// After an add, edit or delete: read again in one pass of the engine, without
// moving. nullopt when an amount does not convert (opening the book tells which).
[[nodiscard]] std::optional<Summary> summaryAfterPost(const Cursor& book);

// A book not shown (the overall report): the engine counts and sums it without a
// cursor; a book it cannot read, or an amount that does not convert, is opened in
// `scratch` and walked, which stops on the failing row with its error.
[[nodiscard]] Summary summaryOf(Connection& conn, Cursor& scratch, std::string_view table);
// Only the row count, the same way.
[[nodiscard]] std::int64_t rowCountOf(Connection& conn, Cursor& scratch, std::string_view table);

} // namespace tsl::books
