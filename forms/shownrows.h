#pragma once
#include "storage/cursor.h"

#include <QObject>
#include <QPointer>

#include <optional>
#include <vector>

class CursorModel;
class Prompter;
class QHeaderView;

// What the workspace's grid shows of its book: the rows a find left (or all of
// them) in the order of a clicked column (or the stored order). The one owner of
// the grid model's row map, so the find bar and the column titles never undo
// each other. A title clicked once sorts up, twice down, a third time goes back
// to the stored order; the title shows the direction. Rows that come or go, or
// an edited row while sorted, are put in order again after the command, on the
// same current row. Another book shows whole and unsorted.
class ShownRows final : public QObject, public tsl::CursorObserver {
    Q_OBJECT
public:
    ShownRows(CursorModel& model, Prompter& prompter, QObject* parent = nullptr);
    ~ShownRows() override;

    enum class Order { Stored, Up, Down };

    [[nodiscard]] CursorModel& model() const { return *model_; }

    // The column titles of `header` sort when clicked and show the order.
    void attachHeader(QHeaderView* header);

    // Only these rows (positions in stored order), or every row again.
    void setFound(std::vector<int> rows);
    void clearFound();
    [[nodiscard]] bool filtered() const { return found_.has_value(); }

    void sortBy(int field, Order order);
    // A click on a column title: up, down, stored, up...
    void cycle(int field);
    [[nodiscard]] int sortField() const { return order_ == Order::Stored ? -1 : field_; }
    [[nodiscard]] Order order() const { return order_; }

signals:
    // Rows came or went: whoever set the found rows may find them anew (setFound).
    void rowsChanged();

private:
    void cursorReset() override;
    void rowUpdated(int row) override;
    void bookChanged();
    void queueAgain();
    void apply();
    void showOrder();
    [[nodiscard]] const std::vector<int>& sorted();

    // The window deletes the model before its cursor, and both before its
    // children: the model's end is the moment to stop watching the cursor.
    CursorModel* model_;
    tsl::Cursor* cursor_;
    Prompter& prompter_;
    QPointer<QHeaderView> header_;
    std::optional<std::vector<int>> found_;
    int field_ = -1;
    Order order_ = Order::Stored;
    std::string book_;        // the book the order belongs to
    std::vector<int> sorted_; // every row in the chosen order, while valid
    bool sortedValid_ = false;
    bool queued_ = false;
    bool applied_ = false; // set by apply(), to see whether a finder answered rowsChanged
};
