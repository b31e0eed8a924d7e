#pragma once
// What the workspace prints: the shown book whole, and the overall report, on
// the pages the statements are printed on.
#include "export/ledger.h"
#include "export/pages.h"

#include <string>
#include <string_view>
#include <vector>

namespace tsl::out {

// A book as printed: its rows in the order given, and the total of its amounts.
struct BookPrint {
    std::string ledger; // ledger name
    int book = 0;       // 1..4
    std::string date;   // the day it is printed, e.g. 2026年12月8日
    Table table;        // the book's field names and its rows
    std::int64_t total = 0;   // of the amounts that are whole numbers
    std::int64_t skipped = 0; // amounts that are not, left out of the total
};

// Takes every row of `rows` (a book read in stored order, or the rows a view
// shows). An amount that is not a whole number is printed as it stands and
// counted apart, never stops the printing.
[[nodiscard]] BookPrint bookPrintOf(std::string ledger, const Book& book, std::string date, RowSource& rows);

// The title a book goes by on the workspace's panel: 客户联系, 发货表单, 进货表单, 职工交货.
[[nodiscard]] std::string bookTitle(const Book& book);

// The book as pages: the book's title, the ledger, how many rows and the date;
// the rows under the field names; the total in figures and in capital numerals
// under a money book. Refers to `b`'s rows, so `b` must outlive it.
[[nodiscard]] PageDoc bookPages(const BookPrint& b);
// Upright or on its side, by the book's number of fields.
[[nodiscard]] QPageLayout::Orientation bookOrientation(const BookPrint& b);
Outcome writeBookPdf(const std::string& path, const BookPrint& b, const Progress& progress = {});

// The overall report as printed: the lines of its message.
struct ReportPrint {
    std::string ledger, date;
    std::string title;                // the message's first line
    Table table;                      // every "what:figure" line, as 项目 and 数值
    std::vector<std::string> closing; // the other lines (the verdict)
};
// Reads the overall report's message: empty lines are left out, the first line
// is the title, a line with ":" is a row split at its first ":".
[[nodiscard]] ReportPrint reportPrintOf(std::string ledger, std::string date, std::string_view message);
[[nodiscard]] PageDoc reportPages(const ReportPrint& r);
[[nodiscard]] QPageLayout::Orientation reportOrientation(const ReportPrint& r);
Outcome writeReportPdf(const std::string& path, const ReportPrint& r, const Progress& progress = {});

} // namespace tsl::out
