#pragma once
// The statement (对帐单) of a settlement painted on pages: the same painting
// serves the PDF file and the printer.
#include "export/ledger.h"
#include "export/pages.h"

#include <QString>

class QPagedPaintDevice;

namespace tsl::out {

// The statement's title line: 对帐单 and who it is for.
[[nodiscard]] QString statementTitle(const Statement& s);

// The statement as pages: title, ledger, book and name, the date, its period
// (when not the whole ledger), the rows under the book's field names, the rows
// whose date cannot be read under their own heading, the total in figures and
// in capital numerals.
// It refers to the statement's rows, so `s` must outlive it.
[[nodiscard]] PageDoc statementPages(const Statement& s);

// Paints the statement on the device's pages, starting on its current page:
// title, ledger, book and name, the date, the rows under the book's field names
// (repeated on every page), the total in figures and in capital numerals, and
// "第 i 页 / 共 N 页" under every page. Returns the number of pages, 0 when cancelled.
int paintStatement(QPagedPaintDevice& device, const Statement& s, const Progress& progress = {});

// The statement as a PDF file on A4 portrait.
Outcome writeStatementPdf(const std::string& path, const Statement& s, const Progress& progress = {});

} // namespace tsl::out
