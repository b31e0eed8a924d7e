#pragma once
// A table painted on A4 pages the way the statements are printed: a title and
// a few lines on the first page, the rows under their column titles (repeated
// on every page), closing lines under the last row, "第 i 页 / 共 N 页" under
// every page, the Song face embedded in a PDF. The same painting serves the
// printer, its preview and the PDF file.
#include "export/table.h"

#include <QPageLayout>
#include <QString>

#include <string>
#include <vector>

class QPagedPaintDevice;

namespace tsl::out {

// The Song face of printed pages; it is embedded in the PDF.
inline constexpr char kStatementFace[] = "AR PL UMing CN";

// A cell wraps onto at most this many lines; a longer text is cut and ends in "…",
// so one row never takes more than a part of a page.
inline constexpr int kMaxCellLines = 6;

struct PageDoc {
    std::string title;              // page 1, large and centred
    std::vector<std::string> lines; // under the title, page 1
    std::string continued;          // the small line heading pages 2 on
    const Table* table = nullptr;   // its header and rows; numeric columns stand at the right
    // A second lot of rows under the same columns, after the table's rows under
    // its own heading (rows kept apart); none when null or empty.
    std::string apartHeading;
    const std::vector<std::vector<std::string>>* apart = nullptr;
    std::vector<std::string> closing; // under the last row, on the last page
    std::string docName;            // the PDF's title, the print job's name
};

// Up to five columns stand on an A4 page upright; six or more turn it on its side.
[[nodiscard]] QPageLayout::Orientation orientationFor(std::size_t columns);
// A4 in that orientation, 15 mm margins all round.
[[nodiscard]] QPageLayout pageLayout(QPageLayout::Orientation orientation);

// Paints the document on the device's pages, starting on its current page.
// Returns the number of pages, 0 when cancelled.
int paintPages(QPagedPaintDevice& device, const PageDoc& doc, const Progress& progress = {});

// The document as a PDF file, written beside `path` and renamed into place.
Outcome writePagesPdf(const std::string& path, const PageDoc& doc, QPageLayout::Orientation orientation,
                      const Progress& progress = {});

} // namespace tsl::out
