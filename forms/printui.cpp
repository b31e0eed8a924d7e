#include "forms/printui.h"

#include "export/pages.h"
#include "widgets/waitcursor.h"

#include <QPrintPreviewDialog>
#include <QPrinter>

void previewPages(QWidget* parent, const tsl::out::PageDoc& doc, QPageLayout::Orientation orientation,
                  const QString& caption, const QString& objectName) {
    QPrinter printer(QPrinter::HighResolution);
    printer.setPageLayout(tsl::out::pageLayout(orientation));
    printer.setDocName(QString::fromStdString(doc.docName));
    QPrintPreviewDialog preview(&printer, parent);
    preview.setObjectName(objectName);
    preview.setWindowTitle(caption);
    // Above the report window, which stays on top of the others, as every box is.
    preview.setWindowFlag(Qt::WindowStaysOnTopHint);
    QObject::connect(&preview, &QPrintPreviewDialog::paintRequested, &preview, [&doc](QPrinter* p) {
        const WaitCursor wait; // a long book takes a while to lay out
        tsl::out::paintPages(*p, doc);
    });
    preview.exec();
}
