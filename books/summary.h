#pragma once
// A book's summary: how many rows it has and the total of their amounts, as the
// status bar and the overall report show them. Amounts go through the
// whole-number conversion and are added in 64 bits. An amount that does not
// convert is never quietly left out: opening a book (or the report) walks to its
// row and stops there with the conversion's error; a refresh after a post leaves
// the summary as it was.
#include "storage/cursor.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace tsl {
class Connection;
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

// The summary of the book open in a cursor, kept up to date by each post from
// the posted row alone: add on insert, old -> new on edit, subtract on delete.
// So a confirm costs the same whatever the book's size. It starts from the
// opening's summary; where a posted row's amount (before or after) is no whole
// number, or nothing is kept, current() reads the book again as
// summaryAfterPost does and keeps that.
class RunningSummary final : public CursorObserver {
public:
    explicit RunningSummary(Cursor& book);
    ~RunningSummary() override;
    RunningSummary(const RunningSummary&) = delete;
    RunningSummary& operator=(const RunningSummary&) = delete;

    // The book was opened and its summary is this.
    void opened(const Summary& s) { kept_ = s; }
    // After a post: the summary; nullopt when an amount does not convert.
    [[nodiscard]] std::optional<Summary> current();
    // The summary kept, only while it is surely what a reading of the whole book
    // would give: a file whose only writes since the rows were loaded are the
    // cursor's own. nullopt otherwise, and always on a server, where another
    // program's write is heard of late.
    [[nodiscard]] std::optional<Summary> exact() const noexcept;
    [[nodiscard]] const Cursor& book() const { return book_; }

    // While it lives, the rows are walked and written without their amounts
    // changing (a settlement, the renumbering after a delete): nothing is read.
    class Still {
    public:
        explicit Still(RunningSummary& r) : r_(r) { ++r_.still_; }
        ~Still();
        Still(const Still&) = delete;
        Still& operator=(const Still&) = delete;

    private:
        RunningSummary& r_;
    };

    void cursorReset() override;
    void rowInserted(int row) override;
    void rowUpdated(int row) override;
    void rowRemoved(int row) override;
    void currentChanged(int row) override;

private:
    [[nodiscard]] std::optional<std::int32_t> amountOf(int row) const noexcept;
    void remember(int row) noexcept;

    Cursor& book_;
    int at_ = -1; // the amount field; -1: a book without amounts
    std::optional<Summary> kept_;
    int still_ = 0;
    // The stored amount of the current row, read when it became current: what an
    // edit or a delete of it takes away.
    int row_ = -1;
    std::optional<std::int32_t> amount_;
};

// A book not shown (the overall report): the engine counts and sums it without a
// cursor; a book it cannot read, or an amount that does not convert, is opened in
// `scratch` and walked, which stops on the failing row with its error.
// `shown`, when it keeps the summary of `table` exactly, answers without a pass.
[[nodiscard]] Summary summaryOf(Connection& conn, Cursor& scratch, std::string_view table,
                                const RunningSummary* shown = nullptr);
// Only the row count, the same way.
[[nodiscard]] std::int64_t rowCountOf(Connection& conn, Cursor& scratch, std::string_view table,
                                      const RunningSummary* shown = nullptr);

} // namespace tsl::books
