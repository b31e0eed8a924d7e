#include "forms/exportui.h"
#include "forms/printui.h"
#include <QPageSize>
#include <QPdfWriter>
#include <QPainter>
#include <QAbstractItemModel>

#include "export/outfile.h"
#include "widgets/prompter.h"
#include "storage/stamp.h"
#include "export/statement.h"
#include "widgets/waitcursor.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QScreen>
#include <QPageLayout>
#include <QProgressBar>
#include <QProgressDialog>
#include <QStandardPaths>

#include <cerrno>
#include <cstdio>
#include <sys/statvfs.h>

namespace {

struct KindInfo {
    const char* extension;
    const char* caption;
    const char* filter;
};

KindInfo info(ExportKind k) {
    switch (k) {
    case ExportKind::Pdf: return {".pdf", "导出PDF", "PDF 文件 (*.pdf)"};
    case ExportKind::Xlsx: return {".xlsx", "导出Excel", "Excel 工作簿 (*.xlsx)"};
    case ExportKind::Png: return {".png", "导出图片", "PNG 图片 (*.png)"};
    case ExportKind::Csv: break;
    }
    return {".csv", "导出CSV", "CSV 文件 (*.csv)"};
}

} // namespace

std::string isoDate(const tsl::Date& d) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", d.year, d.month, d.day);
    return buf;
}

QString askExportPath(Prompter& prompter, ExportKind kind, const std::vector<std::string>& nameParts) {
    const KindInfo k = info(kind);
    QString folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (folder.isEmpty() || !QDir(folder).exists())
        folder = QDir::homePath();
    const QString suggested =
        QDir(folder).filePath(QString::fromStdString(tsl::out::fileNameOf(nameParts, k.extension)));
    QString path = prompter.savePath(QString::fromUtf8(k.caption), suggested, QString::fromUtf8(k.filter));
    if (!path.isEmpty() && QFileInfo(path).suffix().isEmpty())
        path += QLatin1String(k.extension);
    return path;
}

bool runWithProgress(QWidget* parent, Prompter& prompter,
                     const std::function<tsl::out::Outcome(const tsl::out::Progress&)>& work) {
    QProgressDialog box(QStringLiteral("正在导出…"), QStringLiteral("取消"), 0, 1000, parent);
    box.setObjectName(QStringLiteral("exportProgress"));
    // A box of the window whose command it runs.
    const QString caption = parent ? parent->window()->windowTitle() : QString::fromLatin1(kAppTitle);
    box.setWindowTitle(caption);
    box.setWindowModality(Qt::ApplicationModal);
    box.setMinimumDuration(500);
    box.setAutoClose(false);
    box.setAutoReset(false);
    // The percentage stands beside the words, not inside the bar, where the
    // growing bar would cover it.
    auto* bar = new QProgressBar(&box);
    bar->setTextVisible(false);
    box.setBar(bar);
    box.setRange(0, 1000); // the range is the bar's
    box.setValue(0);
    const QString working = box.labelText();
    const tsl::out::Progress progress = [&box, &working](std::int64_t done, std::int64_t total) {
        if (total > 0) {
            const int value = int(std::min<std::int64_t>(999, done * 1000 / total));
            if (value / 10 != box.value() / 10 || box.labelText() == working)
                box.setLabelText(working + QStringLiteral(" %1%").arg(value / 10));
            box.setValue(value);
        } else {
            box.setValue((box.value() + 1) % 1000);
        }
        QCoreApplication::processEvents();
        return !box.wasCanceled();
    };
    QString failure;
    bool written = false;
    {
        WaitCursor wait;
        try {
            written = work(progress) == tsl::out::Outcome::Written;
        } catch (const std::exception& e) {
            failure = QString::fromUtf8(e.what());
        }
    }
    box.hide();
    // What the writer had to leave out is told, once the file is there.
    for (const std::string& note : tsl::out::takeExportNotes())
        if (written)
            prompter.notice(caption, QString::fromStdString(note));
    if (!failure.isEmpty())
        prompter.failure(caption, failure);
    return written;
}

tsl::out::Outcome writeTableAs(ExportKind kind, const std::string& path, const std::string& sheet,
                               const tsl::out::Columns& cols, tsl::out::RowSource& rows,
                               const tsl::out::Progress& progress) {
    if (kind == ExportKind::Xlsx)
        return tsl::out::writeXlsx(path, sheet, cols, rows, progress);
    return tsl::out::writeCsv(path, cols, rows, progress);
}

void previewStatement(QWidget* parent, const tsl::out::Statement& s) {
    previewPages(parent, tsl::out::statementPages(s), QPageLayout::Portrait, QStringLiteral("打印对帐单"),
                 QStringLiteral("statementPreview"));
}

tsl::out::Table tableOfModel(const QAbstractItemModel& m) {
    tsl::out::Table t;
    for (int c = 0; c < m.columnCount(); ++c) {
        // A title wrapped for the screen is one line in a file.
        t.columns.header.push_back(m.headerData(c, Qt::Horizontal).toString().remove(QLatin1Char('\n')).toStdString());
        t.columns.numeric.push_back(c > 0);
    }
    for (int r = 0; r < m.rowCount(); ++r) {
        std::vector<std::string> row;
        for (int c = 0; c < m.columnCount(); ++c)
            row.push_back(m.index(r, c).data().toString().toStdString());
        t.rows.push_back(std::move(row));
    }
    return t;
}

namespace {

// Writes a file through `write` (given the temporary path; false when it failed)
// and puts it in place of `path`.
void writeInPlace(const QString& path, const std::function<bool(const QString&)>& write) {
    tsl::out::OutFile out(path.toStdString());
    const QString temp = QString::fromStdString(out.writerPath()); // Qt's writers open it by name
    if (!write(temp)) { // Qt's writers keep the reason to themselves; a full disk is the likely one
        struct statvfs fs {};
        const bool full = ::statvfs(QFileInfo(temp).absolutePath().toLocal8Bit().constData(), &fs) == 0 &&
                          fs.f_bavail == 0;
        throw tsl::out::ExportError(full ? tsl::out::writeFailure(path.toStdString(), ENOSPC)
                                         : "不能写入文件 \"" + path.toStdString() + "\"!");
    }
    out.commit(); // replaces an older file in one step, and only when the new one is whole
}

} // namespace

void saveWidgetPng(QWidget& w, const QString& path) {
    writeInPlace(path, [&w](const QString& temp) { return w.grab().save(temp, "PNG"); });
}

void savePdfPage(const QString& path, const std::function<void(QPainter&, const QRectF&)>& paint) {
    writeInPlace(path, [&paint](const QString& temp) {
        QPdfWriter pdf(temp);
        pdf.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Landscape, QMarginsF(10, 10, 10, 10),
                                      QPageLayout::Millimeter));
        // At the screen's resolution fonts and pens come out as they do on the screen.
        pdf.setResolution(QGuiApplication::primaryScreen() ? int(QGuiApplication::primaryScreen()->logicalDotsPerInch())
                                                           : 96);
        QPainter p;
        if (!p.begin(&pdf))
            return false;
        paint(p, QRectF(p.viewport()));
        return p.end();
    });
}
