#include "widgets/columnsizer.h"

#include "widgets/gridmodel.h"

#include <QAbstractItemModel>
#include <QEvent>
#include <QHeaderView>
#include <QScrollBar>
#include <QTimer>
#include <QTableView>

#include <algorithm>
#include <utility>

ColumnSizer::ColumnSizer(QTableView* view, std::function<QString()> table)
    : QObject(view), view_(view), table_(std::move(table)) {
    QAbstractItemModel* m = view_->model();
    // A find or a sort shows other lines of the same book: the widths stay, and
    // only grow for longer texts in sight, as when rows are added.
    auto* cursorModel = qobject_cast<CursorModel*>(m);
    connect(m, &QAbstractItemModel::modelAboutToBeReset, this, [this, cursorModel] {
        ours_ = true;
        forget();
        if (!cursorModel || !cursorModel->remapping())
            kept_.clear();
        else if (kept_.empty()) // a second reset before the first is put right keeps the first widths
            for (int c = 0; c < view_->horizontalHeader()->count(); ++c)
                kept_.push_back(view_->horizontalHeader()->sectionSize(c));
    });
    connect(m, &QAbstractItemModel::modelReset, this, [this] {
        ours_ = false;
        if (kept_.empty()) {
            sizeColumns();
            return;
        }
        // Put back once the view is through with the reset.
        if (restoreQueued_)
            return;
        restoreQueued_ = true;
        QTimer::singleShot(0, this, [this] {
            restoreQueued_ = false;
            const std::vector<int> kept = std::exchange(kept_, {});
            if (int(kept.size()) != view_->horizontalHeader()->count())
                return;
            ours_ = true;
            for (int c = 0; c < int(kept.size()); ++c)
                view_->horizontalHeader()->resizeSection(c, kept[std::size_t(c)]);
            ours_ = false;
            growColumns();
        });
    });
    // The model tells of a change while the cursor is still at work: measure once it is done.
    connect(m, &QAbstractItemModel::rowsInserted, this, [this](const QModelIndex&, int first, int last) {
        rowsInserted(first, last);
        growLater();
    });
    connect(m, &QAbstractItemModel::dataChanged, this, [this](const QModelIndex& from, const QModelIndex& to) {
        rowsChanged(from.row(), to.row());
        growLater();
    });
    // Rows below a removed one move up: what was measured is no longer known.
    connect(m, &QAbstractItemModel::rowsRemoved, this, [this] { forget(); });
    connect(m, &QAbstractItemModel::layoutChanged, this, [this] { forget(); });
    connect(view_->verticalScrollBar(), &QScrollBar::valueChanged, this, &ColumnSizer::growColumns);
    connect(view_->horizontalHeader(), &QHeaderView::sectionResized, this, &ColumnSizer::sectionResized);
    view_->installEventFilter(this);
}

bool ColumnSizer::eventFilter(QObject* watched, QEvent* event) {
    if (watched == view_ && (event->type() == QEvent::Show || event->type() == QEvent::Resize) && view_->isVisible()) {
        forget(); // another cap, other rows in sight
        // Before the window first shows, the grid has no size of its own yet:
        // a cap taken then would cut every column to its title.
        if (pending_)
            fit(true);
        else
            growColumns();
    }
    return QObject::eventFilter(watched, event);
}

int ColumnSizer::widest() const {
    // The widget's own size: the viewport is only laid out once the grid shows.
    const QHeaderView* rows = view_->verticalHeader();
    const int rowHeader = rows->isHidden() ? 0 : std::max(rows->width(), rows->minimumWidth());
    return std::max(1, (view_->width() - 2 * view_->frameWidth() - rowHeader) / 3);
}

// One past the last row in sight: from the top row, as many as the grid is high.
int ColumnSizer::rowsInSight() const {
    const int rowHeight = std::max(1, view_->verticalHeader()->defaultSectionSize());
    const int titles = view_->horizontalHeader()->sizeHint().height();
    const int high = std::max(0, view_->height() - 2 * view_->frameWidth() - titles);
    const int top = std::max(0, view_->rowAt(0));
    return std::min(view_->model()->rowCount() - top, high / rowHeight + 1) + top;
}

void ColumnSizer::sizeColumns() {
    if (!view_->isVisible()) {
        pending_ = true;
        return;
    }
    fit(true);
}

void ColumnSizer::growColumns() {
    if (view_->isVisible() && !pending_)
        fit(false);
}

void ColumnSizer::growLater() {
    if (growQueued_)
        return;
    growQueued_ = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            growQueued_ = false;
            growColumns();
        },
        Qt::QueuedConnection);
}

void ColumnSizer::rowsInserted(int first, int last) {
    const int n = last - first + 1;
    if (first < knownBottom_) {
        if (first <= knownTop_)
            knownTop_ += n;
        knownBottom_ += n;
    }
    if (dirtyFirst_ >= first) {
        dirtyFirst_ += n;
        dirtyLast_ += n;
    } else if (dirtyLast_ >= first) {
        dirtyLast_ += n;
    }
    rowsChanged(first, last);
}

void ColumnSizer::rowsChanged(int first, int last) {
    if (first < 0 || last < first)
        return;
    dirtyFirst_ = dirtyFirst_ < 0 ? first : std::min(dirtyFirst_, first);
    dirtyLast_ = std::max(dirtyLast_, last);
}

void ColumnSizer::fit(bool fresh) {
    pending_ = false;
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
    const bool was = ours_;
    ours_ = true;
    for (int c = 0; c < columns; ++c) {
        if (kept.contains(c)) {
            if (fresh)
                cols->resizeSection(c, kept.value(c));
            continue;
        }
        int content = 0;
        bool measured = false;
        for (int r = top; r < bottom; ++r) {
            if (fresh || needsMeasure(r)) {
                content = std::max(content, view_->sizeHintForIndex(m->index(r, c)).width() + grid);
                measured = true;
            }
        }
        if (!fresh && !measured)
            continue; // every text in sight fits already
        const int wanted = std::max(cols->sectionSizeHint(c), std::min(content, cap));
        if (fresh || wanted > cols->sectionSize(c))
            cols->resizeSection(c, wanted);
    }
    ours_ = was;
    knownTop_ = top;
    knownBottom_ = bottom;
    dirtyFirst_ = dirtyLast_ = -1;
}

void ColumnSizer::sectionResized(int column, int, int newWidth) {
    if (ours_ || column >= view_->model()->columnCount())
        return;
    dragged_[table_()][column] = newWidth;
}
