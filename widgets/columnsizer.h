#pragma once
#include <QHash>
#include <QObject>
#include <QString>

#include <functional>

class QTableView;

// Sizes a grid's columns to their contents each time its model is reset (a
// table opened): from the column titles and the rows in sight only, so a table
// of a million rows is never read through. A column is never narrower than its
// title nor wider than a third of the grid, so one long text cannot push the
// others out of sight. Widths the user drags are kept, per table, while the
// program runs, and win over the sizing.
class ColumnSizer final : public QObject {
    Q_OBJECT
public:
    // `table` names the table the grid shows; dragged widths are kept under it.
    ColumnSizer(QTableView* view, std::function<QString()> table);

    void sizeColumns();
    // The widest a sized column may be.
    [[nodiscard]] int widest() const;

private:
    void sectionResized(int column, int oldWidth, int newWidth);
    [[nodiscard]] int rowsInSight() const;

    QTableView* view_;
    std::function<QString()> table_;
    QHash<QString, QHash<int, int>> dragged_;
    bool ours_ = false; // the sizing or the model's reset is resizing, not the user
};
