#pragma once
// The print preview the windows share: pages on A4, printed from the preview.
#include <QPageLayout>
#include <QString>

class QWidget;
namespace tsl::out {
struct PageDoc;
}

// Shows the pages in Qt's print preview (its own window, modal over `parent`)
// on A4 in the orientation given; the user prints from there.
void previewPages(QWidget* parent, const tsl::out::PageDoc& doc, QPageLayout::Orientation orientation,
                  const QString& caption, const QString& objectName);
