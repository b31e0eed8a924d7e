#pragma once
#include "storage/cursor.h"

#include <QAbstractTableModel>
#include <QHeaderView>
#include <QPointer>

#include <functional>
#include <vector>

class QTableView;

// A read-only table model over a cursor: one column per field, headed by the
// field name; row texts are read on demand, so a huge table costs nothing until
// its rows are painted. An open but empty table shows one blank line, as a
// data grid does, so a click on it still lands on a cell.
class CursorModel final : public QAbstractTableModel, public tsl::CursorObserver {
    Q_OBJECT
public:
    explicit CursorModel(tsl::Cursor& cursor, QObject* parent = nullptr);
    ~CursorModel() override;

    [[nodiscard]] int rowCount(const QModelIndex& parent = {}) const override;
    [[nodiscard]] int columnCount(const QModelIndex& parent = {}) const override;
    [[nodiscard]] QVariant data(const QModelIndex& index, int role) const override;
    [[nodiscard]] QVariant headerData(int section, Qt::Orientation o, int role) const override;
    [[nodiscard]] Qt::ItemFlags flags(const QModelIndex& index) const override;

    [[nodiscard]] tsl::Cursor& cursor() const { return cursor_; }

    // Fields whose texts (and titles) stand at the right: amounts and quantities.
    void setRightAligned(const QStringList& fieldNames) { rightAligned_ = fieldNames; }

    // Keeps a view's current line and the cursor's current row the same, both ways.
    void bindView(QTableView* view);
    // Runs a move asked for by the view; the owner shows its errors.
    void setGuard(std::function<void(const std::function<void()>&)> g) { guard_ = std::move(g); }

    // Shows only the rows at these positions of the book, in this order (what a
    // find or a sort leaves); the book itself and the cursor's row are untouched,
    // and the current row may be one not shown. A new or removed row keeps the
    // others in place; reopening the book shows it whole again.
    void setRowMap(std::vector<int> positions);
    void clearRowMap();
    [[nodiscard]] bool mapped() const { return mapped_; }
    // True while a new map resets the model: the same book, only other lines.
    [[nodiscard]] bool remapping() const { return remapping_; }
    [[nodiscard]] const std::vector<int>& rowMap() const { return map_; }
    // The book's position of a line of the view, and the line of a position (-1: not shown).
    [[nodiscard]] int positionOf(int line) const;
    [[nodiscard]] int lineOf(int position) const;

    // While held, cursor moves and row updates are not passed to the view; the
    // view catches up once when the last hold ends. Loops over every row use it.
    class Hold {
    public:
        explicit Hold(CursorModel& m);
        ~Hold();
        Hold(const Hold&) = delete;
        Hold& operator=(const Hold&) = delete;

    private:
        CursorModel& m_;
    };

    // CursorObserver
    void cursorReset() override;
    void rowInserted(int row) override;
    void rowUpdated(int row) override;
    void rowsUpdated(int from, int to) override;
    void rowRemoved(int row) override;
    void currentChanged(int row) override;

signals:
    // Rows came, went or changed, or the book was opened again, while rows were
    // mapped: the owner may work the map out anew.
    void mappedBookChanged();

private:
    void setMap(bool on, std::vector<int> positions);
    void shiftMap(int position, int by);
    void syncView();
    void viewMoved(const QModelIndex& current);
    void setMarker(int row);

    tsl::Cursor& cursor_;
    QPointer<QTableView> view_;
    std::function<void(const std::function<void()>&)> guard_;
    int rows_ = 0;     // stored rows as last told by the cursor
    int columns_ = 0;
    QStringList names_;
    QStringList rightAligned_;
    int marker_ = -1;  // the row whose indicator is drawn
    int holds_ = 0;
    bool dirty_ = false;
    int updatedFirst_ = -1; // rows updated while held
    int updatedLast_ = -1;
    bool syncing_ = false;
    bool mapped_ = false;
    bool remapping_ = false;
    std::vector<int> map_;     // line -> position
    std::vector<int> inverse_; // position -> line, -1 when not shown
};

// The row marker's column: a header of fixed width whose size hint is that
// width. The stock header measures the texts of up to 200 rows for its hint
// again after every row added, only for the view to clamp it to the fixed width.
class MarkerHeader final : public QHeaderView {
public:
    explicit MarkerHeader(QWidget* parent) : QHeaderView(Qt::Vertical, parent) {
        setSectionsClickable(true); // as the view's own: a click on the marker picks the row
    }
    [[nodiscard]] QSize sizeHint() const override { return {minimumWidth(), defaultSectionSize()}; }
};
