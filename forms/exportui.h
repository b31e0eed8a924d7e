#pragma once
// What the windows' export commands share: the save box, the progress box with
// its cancel, the print preview. The exporting itself is the export layer's.
#include "export/ledger.h"
#include "export/table.h"

#include <QString>

#include <functional>
#include <string>
#include <vector>

class Prompter;
class QAbstractItemModel;
class QPainter;
class QRectF;
class QWidget;
namespace tsl {
struct Date;
}

enum class ExportKind { Pdf, Xlsx, Csv, Png };

// Asks where to save, starting in the user's documents folder with a file name
// made of `nameParts`; adds the kind's extension when the user typed none.
// "" when the user cancelled.
[[nodiscard]] QString askExportPath(Prompter& prompter, ExportKind kind, const std::vector<std::string>& nameParts);

// Runs an export on this thread under a progress box (shown when it takes a
// moment) whose cancel stops it; the wait cursor meanwhile. A failure goes to
// the default error box. True when the file was written.
bool runWithProgress(QWidget* parent, Prompter& prompter,
                     const std::function<tsl::out::Outcome(const tsl::out::Progress&)>& work);

// Writes a table (a book or a statement's) as csv or xlsx.
tsl::out::Outcome writeTableAs(ExportKind kind, const std::string& path, const std::string& sheet,
                               const tsl::out::Columns& cols, tsl::out::RowSource& rows,
                               const tsl::out::Progress& progress);

// The print preview of a statement, on A4 portrait; it prints from there.
void previewStatement(QWidget* parent, const tsl::out::Statement& s);

// A date in file names: 2026-12-08.
[[nodiscard]] std::string isoDate(const tsl::Date& d);

// What a window's table shows, as a table to export: the header and every
// cell's text; every column but the first holds numbers.
[[nodiscard]] tsl::out::Table tableOfModel(const QAbstractItemModel& m);

// A widget drawn into a PNG picture as it stands on the screen, written beside
// `path` and renamed into place. Throws ExportError, naming the file, when it
// cannot be written; an older file at `path` then stays as it was.
void saveWidgetPng(QWidget& w, const QString& path);

// An A4 landscape PDF page with 10 mm margins, painted by `paint` in pixels of
// the screen's resolution; `paint` is given the printable area. Written and
// refused as saveWidgetPng.
void savePdfPage(const QString& path, const std::function<void(QPainter&, const QRectF&)>& paint);
