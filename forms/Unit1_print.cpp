// Printing from the workspace: the shown book whole (打印本表…, Ctrl+P) and as
// a PDF file (导出本表为PDF…), and the overall report from its own box. The
// pages are the statements' (export/pages.h); the book's comes from the ledger
// in stored order, as its exports do.
#include "forms/Unit1.h"

#include "export/bookprint.h"
#include "forms/exportui.h"
#include "forms/printui.h"
#include "forms/roster.h"
#include "storage/stamp.h"
#include "widgets/guard.h"
#include "widgets/menuitem.h"
#include "widgets/prompter.h"
#include "widgets/waitcursor.h"

#include <QAction>
#include <QApplication>
#include <QKeySequence>
#include <QTableView>

#include <memory>

namespace {

std::string todayOf(const tsl::Clock& clock) {
    const tsl::Date d = clock.today();
    return tsl::out::dateText(d.year, d.month, d.day);
}

// The window a command runs over: the box it came from, else the workspace.
QWidget* over(QWidget* fallback) {
    QWidget* modal = QApplication::activeModalWidget();
    return modal ? modal : fallback;
}

} // namespace

void TForm1::buildPrintItems() {
    printBookAction = menuItem(grid1, "printBookAction", QStringLiteral("打印本表(&P)…"), this, [this] { printBookClick(); });
    printBookAction->setShortcut(QKeySequence::Print);
    pdfBookAction = menuItem(grid1, "pdfBookAction", QStringLiteral("导出本表为PDF(&F)…"), this, [this] { pdfBookClick(); });
    pdfBookAction->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_P));
}

void TForm1::printBookClick() {
    guarded(r_.prompter, [this] {
        const tsl::out::Book* book = table1.isOpen() ? tsl::out::findBook(viewNumber().toInt()) : nullptr;
        if (!book)
            return;
        tsl::out::BookPrint b;
        {
            WaitCursor wait;
            tsl::out::BookRows rows(ado1.engine(), *book);
            b = tsl::out::bookPrintOf(ledgerName().toStdString(), *book, todayOf(r_.clock), rows);
        }
        previewPages(this, tsl::out::bookPages(b), tsl::out::bookOrientation(b), QStringLiteral("打印本表"),
                     QStringLiteral("bookPreview"));
    });
}

void TForm1::pdfBookClick() {
    guarded(r_.prompter, [this] {
        const tsl::out::Book* book = table1.isOpen() ? tsl::out::findBook(viewNumber().toInt()) : nullptr;
        if (!book)
            return;
        const QString path = askExportPath(r_.prompter, ExportKind::Pdf,
                                           {ledgerName().toStdString(), std::string(book->label), isoDate(r_.clock.today())});
        if (path.isEmpty())
            return;
        const std::string file = path.toStdString();
        runWithProgress(this, r_.prompter, [&](const tsl::out::Progress& progress) {
            tsl::out::BookRows rows(ado1.engine(), *book);
            const tsl::out::BookPrint b = tsl::out::bookPrintOf(ledgerName().toStdString(), *book, todayOf(r_.clock), rows);
            return tsl::out::writeBookPdf(file, b, progress);
        });
    });
}

QList<BoxCommand> TForm1::reportCommands(const QString& text) {
    // The report as it was shown, kept for as long as its box offers it.
    const auto report = std::make_shared<const tsl::out::ReportPrint>(
        tsl::out::reportPrintOf(ledgerName().toStdString(), todayOf(r_.clock), text.toStdString()));
    auto print = [this, report] {
        guarded(r_.prompter, [&] {
            previewPages(over(this), tsl::out::reportPages(*report), tsl::out::reportOrientation(*report),
                         QStringLiteral("打印总体报表"), QStringLiteral("reportPreview"));
        });
    };
    auto pdf = [this, report] {
        guarded(r_.prompter, [&] {
            const QString path = askExportPath(r_.prompter, ExportKind::Pdf,
                                               {report->ledger, "总体报表", isoDate(r_.clock.today())});
            if (path.isEmpty())
                return;
            const std::string file = path.toStdString();
            runWithProgress(over(this), r_.prompter, [&](const tsl::out::Progress& progress) {
                return tsl::out::writeReportPdf(file, *report, progress);
            });
        });
    };
    return {{QStringLiteral("打印…"), QKeySequence::Print, print},
            {QStringLiteral("导出PDF…"), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_P), pdf}};
}
