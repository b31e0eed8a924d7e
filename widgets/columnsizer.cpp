#include "columnsizer.h"

#include <QAbstractItemModel>
#include <QHeaderView>
#include <QTableView>

#include <algorithm>

ColumnSizer::ColumnSizer(QTableView* view, std::function<QString()> table)
    : QObject(view), view_(view), table_(std::move(table)) {
    QAbstractItemModel* m = view_->model();
    connect(m, &QAbstractItemModel::modelAboutToBeReset, this, [this] { ours_ = true; });
    connect(m, &QAbstractItemModel::modelReset, this, [this] {
        ours_ = false;
        sizeColumns();
    });
    connect(view_->horizontalHeader(), &QHeaderView::sectionResized, this, &ColumnSizer::sectionResized);
}

int ColumnSizer::widest() const {
    // The widget's own size: the viewport is only laid out once the grid shows.
    const QHeaderView* rows = view_->verticalHeader();
    const int rowHeader = rows->isHidden() ? 0 : std::max(rows->width(), rows->minimumWidth());
    return std::max(1, (view_->width() - 2 * view_->frameWidth() - rowHeader) / 3);
}

// The rows a freshly opened table shows: from the top, as many as the grid is high.
int ColumnSizer::rowsInSight() const {
    const int rowHeight = std::max(1, view_->verticalHeader()->defaultSectionSize());
    const int titles = view_->horizontalHeader()->sizeHint().height();
    const int high = std::max(0, view_->height() - 2 * view_->frameWidth() - titles);
    const int top = std::max(0, view_->rowAt(0));
    return std::min(view_->model()->rowCount() - top, high / rowHeight + 1) + top;
}

void ColumnSizer::sizeColumns() {
    QAbstractItemModel* m = view_->model();
    QHeaderView* cols = view_->horizontalHeader();
    const int columns = m->columnCount();
    if (columns == 0)
        return;
    const QHash<int, int> kept = dragged_.value(table_());
    const int top = std::max(0, view_->rowAt(0));
    const int bottom = rowsInSight();
    const int cap = widest();
    const int grid = view_->showGrid() ? 1 : 0; // the line between cells comes off the cell's width
    ours_ = true;
    for (int c = 0; c < columns; ++c) {
        if (kept.contains(c)) {
            cols->resizeSection(c, kept.value(c));
            continue;
        }
        const int title = cols->sectionSizeHint(c);
        int content = 0;
        for (int r = top; r < bottom; ++r)
            content = std::max(content, view_->sizeHintForIndex(m->index(r, c)).width() + grid);
        cols->resizeSection(c, std::max(title, std::min(content, cap)));
    }
    ours_ = false;
}

void ColumnSizer::sectionResized(int column, int, int newWidth) {
    if (ours_ || column >= view_->model()->columnCount())
        return;
    dragged_[table_()][column] = newWidth;
}
