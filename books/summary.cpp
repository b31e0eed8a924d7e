#include "books/summary.h"

#include "storage/cursor.h"
#include "storage/error.h"
#include "storage/intconv.h"
#include "storage/scan.h"
#include "storage/schema.h"

namespace tsl::books {

namespace {

// Position of a book's amount field; -1 for a book without amounts.
int amountField(const Cursor& book) {
    const std::string& t = book.tableName();
    const int at = t.size() == 1 ? amountPosition(t[0] - '0') : -1;
    return at < book.fieldCount() ? at : -1;
}

// From the first row to the last, adding each amount; one that does not convert
// throws on its row. Back on the first row at the end.
Summary walk(Cursor& book, int at) {
    Summary s{book.recordCount(), 0};
    book.first();
    for (std::int64_t i = 0; i < s.rows; ++i) {
        s.total += strToInt(book.fieldText(at));
        book.next();
    }
    book.first();
    return s;
}

} // namespace

OpenSum::OpenSum(Cursor& book, std::string_view table) : book_(book), table_(table) {
    const int at = table.size() == 1 ? amountPosition(table[0] - '0') : -1;
    if (at < 0)
        return;
    armed_ = true;
    book_.setOpenPass(at, [this](int, std::string_view text) {
        if (!converted_)
            return;
        if (const auto v = tryStrToInt(text))
            sum_ += *v;
        else
            converted_ = false;
    });
}

OpenSum::~OpenSum() {
    if (armed_)
        book_.setOpenPass(-1, nullptr);
}

std::optional<Summary> OpenSum::summary() const {
    if (!armed_ || !converted_ || book_.tableName() != table_ || amountField(book_) < 0)
        return std::nullopt;
    return Summary{book_.recordCount(), sum_};
}

Summary summaryAfterOpen(Cursor& book, const OpenSum* pass, const std::function<void()>& beforeWalk) {
    const int at = amountField(book);
    if (at < 0)
        return {book.recordCount(), 0};
    if (pass)
        if (const auto s = pass->summary())
            return *s;
    if (beforeWalk)
        beforeWalk();
    return walk(book, at);
}

std::optional<Summary> summaryAfterPost(const Cursor& book) {
    const int at = amountField(book);
    Summary s{book.recordCount(), 0};
    if (at < 0)
        return s;
    bool converted = true;
    book.scanField(at, [&](int, std::string_view text) {
        const auto amount = tryStrToInt(text);
        converted = amount.has_value();
        s.total += amount.value_or(0);
        return converted;
    });
    if (!converted)
        return std::nullopt;
    return s;
}

RunningSummary::RunningSummary(Cursor& book) : book_(book) { book_.addObserver(this); }

RunningSummary::~RunningSummary() { book_.removeObserver(this); }

RunningSummary::Still::~Still() {
    if (--r_.still_ == 0)
        r_.remember(r_.book_.currentRow());
}

std::optional<std::int32_t> RunningSummary::amountOf(int row) const noexcept {
    try {
        return tryStrToInt(book_.rowText(row, at_));
    } catch (...) {
        return std::nullopt;
    }
}

void RunningSummary::remember(int row) noexcept {
    row_ = row;
    amount_ = row >= 0 && at_ >= 0 ? amountOf(row) : std::nullopt;
}

void RunningSummary::cursorReset() {
    kept_.reset();
    at_ = book_.isOpen() ? amountField(book_) : -1;
    remember(book_.isOpen() ? book_.currentRow() : -1);
}

void RunningSummary::currentChanged(int row) {
    if (still_ == 0)
        remember(row);
}

void RunningSummary::rowInserted(int row) {
    if (!kept_)
        return;
    ++kept_->rows;
    if (at_ < 0)
        return;
    if (const auto v = amountOf(row))
        kept_->total += *v;
    else
        kept_.reset();
}

void RunningSummary::rowUpdated(int row) {
    if (still_ > 0 || !kept_ || at_ < 0)
        return;
    const auto now = amountOf(row);
    if (row == row_ && amount_ && now)
        kept_->total += std::int64_t(*now) - *amount_;
    else
        kept_.reset();
    remember(row);
}

void RunningSummary::rowRemoved(int row) {
    if (kept_) {
        --kept_->rows;
        if (at_ >= 0) {
            if (row == row_ && amount_)
                kept_->total -= *amount_;
            else
                kept_.reset();
        }
    }
    row_ = -1; // the row that takes its place is told next
    amount_.reset();
}

std::optional<Summary> RunningSummary::current() {
    if (!kept_)
        kept_ = summaryAfterPost(book_);
    return kept_;
}

std::optional<Summary> RunningSummary::exact() const noexcept {
    try {
        if (kept_ && !book_.connection().onServer() && book_.inStepWithFile())
            return kept_;
    } catch (...) {
    }
    return std::nullopt;
}

namespace {

std::optional<Summary> keptFor(const RunningSummary* shown, std::string_view table) {
    if (!shown || shown->book().tableName() != table)
        return std::nullopt;
    return shown->exact();
}

} // namespace

Summary summaryOf(Connection& conn, Cursor& scratch, std::string_view table, const RunningSummary* shown) {
    if (const auto s = keptFor(shown, table))
        return *s;
    try {
        const TableTotal t = totalOfLastField(conn, table);
        if (t.converted)
            return {t.rows, t.sum};
    } catch (const Error&) {
    }
    reopen(scratch, table);
    return walk(scratch, scratch.fieldCount() - 1);
}

std::int64_t rowCountOf(Connection& conn, Cursor& scratch, std::string_view table, const RunningSummary* shown) {
    if (const auto s = keptFor(shown, table))
        return s->rows;
    try {
        return rowCount(conn, table);
    } catch (const Error&) {
    }
    reopen(scratch, table);
    return scratch.recordCount();
}

} // namespace tsl::books
