#pragma once
// A table of text cells written to a spreadsheet file (csv or xlsx). The rows
// come from a source one at a time, so a book of a million rows is written in
// bounded memory; a small table in memory is a source too.
#include "storage/error.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tsl::out {

// A file could not be written or read; the message is for the user, in Chinese.
class ExportError : public tsl::Error {
public:
    using tsl::Error::Error;
};

// The columns of a table: header texts, and which columns hold numbers
// (amounts, quantities, shares). A cell of a numeric column is written as a
// number when its text converts without loss (a share as a percentage), as
// text otherwise.
struct Columns {
    std::vector<std::string> header;
    std::vector<bool> numeric; // per column; missing entries count as text
    [[nodiscard]] bool isNumeric(std::size_t col) const { return col < numeric.size() && numeric[col]; }
};

// Rows one at a time, in order.
class RowSource {
public:
    virtual ~RowSource() = default;
    // Fills `row` with the next row's cells; false after the last row.
    virtual bool next(std::vector<std::string>& row) = 0;
    // Rows expected in all, for progress; -1 when unknown.
    [[nodiscard]] virtual std::int64_t size() const { return -1; }
    // The total row, asked for once after the last row; empty for none.
    [[nodiscard]] virtual std::vector<std::string> totalRow() const { return {}; }
};

// A table held in memory.
struct Table {
    Columns columns;
    std::vector<std::vector<std::string>> rows;
    std::vector<std::string> total; // empty: no total row
};

class TableSource final : public RowSource {
public:
    explicit TableSource(const Table& t) : t_(t) {}
    bool next(std::vector<std::string>& row) override;
    [[nodiscard]] std::int64_t size() const override { return std::int64_t(t_.rows.size()); }
    [[nodiscard]] std::vector<std::string> totalRow() const override { return t_.total; }

private:
    const Table& t_;
    std::size_t at_ = 0;
};

// Told how many rows are written (of `total`, -1 when unknown) every few
// thousand rows; answering false cancels the export.
using Progress = std::function<bool(std::int64_t done, std::int64_t total)>;

enum class Outcome { Written, Cancelled };

// Both writers write to a temporary file beside `path` and rename it into place
// at the end, so a failure or a cancel leaves an existing file as it was.
// Failures throw ExportError.

// UTF-8 with a byte-order mark, every field quoted, CRLF line ends.
Outcome writeCsv(const std::string& path, const Columns& cols, RowSource& rows, const Progress& progress = {});

// One worksheet named `sheet`: the header row bold and frozen, numbers as
// numbers where they convert, the total row bold, columns as wide as their text.
// A text longer than a cell holds is cut, and a note says where (takeExportNotes).
Outcome writeXlsx(const std::string& path, const std::string& sheet, const Columns& cols, RowSource& rows,
                  const Progress& progress = {});

inline Outcome writeCsv(const std::string& path, const Table& t, const Progress& progress = {}) {
    TableSource s(t);
    return writeCsv(path, t.columns, s, progress);
}
inline Outcome writeXlsx(const std::string& path, const std::string& sheet, const Table& t,
                         const Progress& progress = {}) {
    TableSource s(t);
    return writeXlsx(path, sheet, t.columns, s, progress);
}

// What the last export on this thread has to tell the user beyond its success
// (a cell cut to what a spreadsheet holds); empty afterwards.
[[nodiscard]] std::vector<std::string> takeExportNotes();

// The number a cell's text stands for, when writing it as a number loses
// nothing: an optional "-", digits without leading zeros, an optional fraction
// without trailing zeros, at most 15 significant digits. "007", " 12", "1e3",
// "$10" and "" stay text.
[[nodiscard]] std::optional<double> exactNumber(std::string_view text) noexcept;

// A share such as "29.8%" in a numeric column: the number 0.298, shown with as
// many decimals as the text had. "-" and "1e3%" stay text.
struct Percentage {
    double value;
    int decimals;
};
[[nodiscard]] std::optional<Percentage> percentage(std::string_view text) noexcept;

// Columns a text takes in a fixed-width view: wide (CJK, full-width) characters count two.
[[nodiscard]] int displayWidth(std::string_view utf8) noexcept;

} // namespace tsl::out
