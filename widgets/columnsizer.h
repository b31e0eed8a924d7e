#pragma once
#include <QHash>
#include <QObject>
#include <QString>

#include <functional>
#include <vector>

class QTableView;

// Sizes a grid's columns to their contents each time its model is reset (a
// table opened): from the column titles and the rows in sight only, so a table
// of a million rows is never read through. A column is never narrower than its
// title nor wider than a third of the grid, so one long text cannot push the
// others out of sight. Widths the user drags are kept, per table, while the
// program runs, and win over the sizing.
//
// A table opened while the grid is hidden is sized when the grid shows, laid
// out at its real size. Afterwards a column only grows, when a longer text
// comes into sight: a row added, changed or renumbered, a scroll, a bigger
// window, a find or a sort showing other rows. It never narrows under the
// reader's eyes.
class ColumnSizer final : public QObject {
    Q_OBJECT
public:
    // `table` names the table the grid shows; dragged widths are kept under it.
    ColumnSizer(QTableView* view, std::function<QString()> table);

    // Sizes every column afresh (or as soon as the grid shows, if it is hidden).
    void sizeColumns();
    // Widens the columns whose texts in sight do not fit; narrows none.
    void growColumns();
    // The widest a sized column may be.
    [[nodiscard]] int widest() const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void fit(bool fresh);
    void growLater();
    void sectionResized(int column, int oldWidth, int newWidth);
    [[nodiscard]] int rowsInSight() const;
    void forget() { knownTop_ = knownBottom_ = 0; dirtyFirst_ = dirtyLast_ = -1; }
    void rowsInserted(int first, int last);
    void rowsChanged(int first, int last);
    [[nodiscard]] bool needsMeasure(int row) const {
        return row < knownTop_ || row >= knownBottom_ || (row >= dirtyFirst_ && row <= dirtyLast_);
    }

    QTableView* view_;
    std::function<QString()> table_;
    QHash<QString, QHash<int, int>> dragged_;
    bool ours_ = false;      // the sizing or the model's reset is resizing, not the user
    bool pending_ = false;   // a table opened while the grid was hidden
    bool growQueued_ = false;
    std::vector<int> kept_; // the widths before a find or a sort reset the model
    // Rows whose texts the columns already fit (measured since the last reset,
    // resize or removal), less those changed since: a scroll by one row or an
    // added row measures only what is new in sight.
    int knownTop_ = 0, knownBottom_ = 0;
    int dirtyFirst_ = -1, dirtyLast_ = -1;
    bool restoreQueued_ = false;
};
