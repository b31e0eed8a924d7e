#pragma once
// Reading a ledger for export: the file opened read-only, the books with what
// the exports need to know of them, and a book's rows streamed in stored order.
#include "export/table.h"
#include "storage/engine.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

struct sqlite3;

namespace tsl {
class SqliteEngine;
struct Period;
class StampDateReader;
} // namespace tsl

namespace tsl::books {
struct Settlement;
}

namespace tsl::out {

class ProtectedSource;

// A ledger file opened read-only: nothing done through it can change the file.
// A missing file, a file that is not a database and a database without the
// books of a ledger are refused with a one-line message, and so is the ledger
// index, which holds the books only as the template of new ledgers. While it is
// open, no export replaces the file.
class LedgerFile {
public:
    explicit LedgerFile(const std::string& path);
    ~LedgerFile();
    LedgerFile(const LedgerFile&) = delete;
    LedgerFile& operator=(const LedgerFile&) = delete;

    [[nodiscard]] Engine& engine() const;
    // The ledger's name: the file name without its folder and ".mdb".
    [[nodiscard]] const std::string& name() const { return name_; }

private:
    sqlite3* db_ = nullptr;
    std::unique_ptr<SqliteEngine> engine_; // over db_
    std::string name_;
    std::unique_ptr<ProtectedSource> protected_;
};

// The ledger name of a ledger file path.
[[nodiscard]] std::string ledgerNameOf(std::string_view path);

struct Book {
    int number;                 // 1..4, the table name
    std::string_view label;     // 客户, 发货, 进货, 职工交货
    std::string_view party;     // who a statement is for: 客户, 供货单位, 职工; empty for book 1
    std::span<const std::string_view> fields;
    int amountPos;              // the last field of books 2..4; -1 for book 1
    int quantityPos;            // -1 for book 1
    [[nodiscard]] std::string table() const { return std::to_string(number); }
    [[nodiscard]] Columns columns() const;
};

// Book 1..4; nullptr for any other number.
[[nodiscard]] const Book* findBook(int number);
// The book whose field names are exactly `header`, in order; nullptr when none.
[[nodiscard]] const Book* bookOfHeader(const std::vector<std::string>& header);

// The total row under an amount column: "合计", the total in capital numerals,
// and the total itself in the amount's column. A note says how many amounts
// were left out because they are not whole numbers.
[[nodiscard]] std::vector<std::string> totalRow(std::size_t columns, int amountPos, std::int64_t total,
                                                std::int64_t skipped = 0);

// The rows of a book in stored order, from a ledger file or a server ledger,
// every field as text (a missing value as ""). With a name, only the rows whose
// settlement name (position 1) is exactly that name. Amounts are summed in 64 bits through the whole-number
// conversion; an amount that does not convert is left out of the total and
// counted, or, when `strict`, ends the reading with the conversion's error.
class BookRows final : public RowSource {
public:
    BookRows(Engine& db, const Book& book, std::optional<std::string> name = {}, bool strict = false);
    ~BookRows() override;
    BookRows(const BookRows&) = delete;
    BookRows& operator=(const BookRows&) = delete;

    bool next(std::vector<std::string>& row) override;
    [[nodiscard]] std::int64_t size() const override { return size_; }
    [[nodiscard]] std::vector<std::string> totalRow() const override;

    [[nodiscard]] std::int64_t total() const { return total_; }
    [[nodiscard]] std::int64_t skipped() const { return skipped_; }

private:
    const Book& book_;
    bool strict_;
    std::optional<std::string> name_; // bound to st_
    QueryPtr st_;
    std::int64_t size_ = -1;
    std::int64_t total_ = 0;
    std::int64_t skipped_ = 0;
};

// A settlement as a customer is handed it.
struct Statement {
    std::string ledger;  // ledger name
    int book = 0;        // 2..4
    std::string name;    // the name settled
    std::string date;    // the day it is printed, e.g. 2026年12月8日
    Table table;         // the book's field names, the matching rows, the total row
    std::int64_t total = 0;
    std::string period;  // e.g. 2026年12月1日 至 2026年12月31日; empty for the whole ledger
    // Rows of the period whose date cannot be read, listed apart and left out of the total.
    std::vector<std::vector<std::string>> undated;
};

// The heading of the rows whose date cannot be read.
inline constexpr std::string_view kUndatedHeading = "日期无法识别的记录(未计入合计)";

// A period as a statement says it; empty for the whole ledger.
[[nodiscard]] std::string periodText(const Period& period);

// The statement as one sheet (csv, xlsx): its rows, the undated rows under their
// heading, then the total row, which names the period. The whole ledger's is its table.
[[nodiscard]] Table sheetOf(const Statement& s);

// From a settlement's rows (as the report window lists them): the total is
// worked out again from their amounts, which must all be whole numbers.
[[nodiscard]] Statement makeStatement(std::string ledger, const Book& book, std::string name, std::string date,
                                      std::vector<std::vector<std::string>> rows);

// The statement of a settlement (its rows and total as the settlement took
// them, cut to its period); one without rows is refused.
[[nodiscard]] Statement statementOf(std::string ledger, books::Settlement settlement, std::string date);

// Reads a name's rows of a book through the settlement, cut to the period with
// the dates read by `dates` (needed unless the period is the whole ledger). A
// name with no rows is refused, as the settlement refuses it, and so is a
// period that holds none of them.
[[nodiscard]] Statement readStatement(Engine& db, std::string ledger, const Book& book, const std::string& name,
                                      std::string date);
[[nodiscard]] Statement readStatement(Engine& db, std::string ledger, const Book& book, const std::string& name,
                                      std::string date, const Period& period, const StampDateReader* dates);

// A date as a statement shows it: 2026年12月8日; todayText() for today's.
[[nodiscard]] std::string dateText(int year, int month, int day);
[[nodiscard]] std::string todayText();

// A file name from its parts (ledger, book, name, date), joined by "-", with
// characters no file name may hold replaced.
[[nodiscard]] std::string fileNameOf(const std::vector<std::string>& parts, std::string_view extension);

} // namespace tsl::out
