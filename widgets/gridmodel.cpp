#include "widgets/gridmodel.h"

#include <algorithm>

#include <QHeaderView>
#include <QItemSelectionModel>
#include <QTableView>

CursorModel::CursorModel(tsl::Cursor& cursor, QObject* parent) : QAbstractTableModel(parent), cursor_(cursor) {
    cursor_.addObserver(this);
    cursorReset();
}

CursorModel::~CursorModel() { cursor_.removeObserver(this); }

int CursorModel::rowCount(const QModelIndex& parent) const {
    if (parent.isValid() || columns_ == 0)
        return 0;
    if (mapped_)
        return int(map_.size());
    return rows_ > 0 ? rows_ : 1; // the blank line of an empty table
}

int CursorModel::positionOf(int line) const {
    if (!mapped_)
        return line < rows_ ? line : -1;
    return line >= 0 && line < int(map_.size()) ? map_[std::size_t(line)] : -1;
}

int CursorModel::lineOf(int position) const {
    if (position < 0 || position >= rows_)
        return -1;
    return mapped_ ? inverse_[std::size_t(position)] : position;
}

void CursorModel::setRowMap(std::vector<int> positions) { setMap(true, std::move(positions)); }

void CursorModel::clearRowMap() {
    if (mapped_)
        setMap(false, {});
}

void CursorModel::setMap(bool on, std::vector<int> positions) {
    const bool was = syncing_;
    syncing_ = true;
    remapping_ = true;
    beginResetModel();
    mapped_ = on;
    map_ = std::move(positions);
    inverse_.assign(on ? std::size_t(rows_) : 0, -1);
    std::erase_if(map_, [this](int p) { return p < 0 || p >= rows_; });
    for (std::size_t line = 0; line < map_.size(); ++line)
        inverse_[std::size_t(map_[line])] = int(line);
    marker_ = -1;
    endResetModel();
    remapping_ = false;
    syncing_ = was;
    syncView();
}

// Positions from `position` on move by `by` (a row came or went there).
void CursorModel::shiftMap(int position, int by) {
    for (int& p : map_)
        if (p >= position)
            p += by;
    inverse_.assign(std::size_t(rows_), -1);
    for (std::size_t line = 0; line < map_.size(); ++line)
        inverse_[std::size_t(map_[line])] = int(line);
}

int CursorModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : columns_; }

namespace {

QVariant alignment(const QStringList& right, const QString& name) {
    return QVariant::fromValue(Qt::Alignment((right.contains(name) ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter));
}

} // namespace

QVariant CursorModel::data(const QModelIndex& index, int role) const {
    if (role == Qt::TextAlignmentRole && index.isValid() && index.column() < names_.size())
        return alignment(rightAligned_, names_[index.column()]);
    const int position = index.isValid() ? positionOf(index.row()) : -1;
    if (role != Qt::DisplayRole || position < 0)
        return {};
    try {
        return QString::fromStdString(cursor_.rowText(position, index.column()));
    } catch (...) {
        return {}; // painting must not throw; the cursor reports its errors on its own actions
    }
}

QVariant CursorModel::headerData(int section, Qt::Orientation o, int role) const {
    if (role == Qt::TextAlignmentRole && o == Qt::Horizontal && section >= 0 && section < names_.size())
        return alignment(rightAligned_, names_[section]);
    if (role != Qt::DisplayRole)
        return {};
    if (o == Qt::Horizontal)
        return section >= 0 && section < names_.size() ? QVariant(names_[section]) : QVariant();
    return section == marker_ ? QVariant(QStringLiteral("▶")) : QVariant();
}

Qt::ItemFlags CursorModel::flags(const QModelIndex& index) const {
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable;
}

void CursorModel::bindView(QTableView* view) {
    view_ = view;
    view->setModel(this);
    connect(view->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this](const QModelIndex& current, const QModelIndex&) { viewMoved(current); });
    syncView();
}

void CursorModel::cursorReset() {
    const bool was = syncing_;
    syncing_ = true;
    beginResetModel();
    if (mapped_) {
        mapped_ = false;
        map_.clear();
        inverse_.clear();
        emit mappedBookChanged();
    }
    names_.clear();
    if (cursor_.isOpen()) {
        columns_ = cursor_.fieldCount();
        rows_ = cursor_.recordCount();
        for (int i = 0; i < columns_; ++i)
            names_ << QString::fromStdString(cursor_.fieldName(i));
    } else {
        columns_ = 0;
        rows_ = 0;
    }
    marker_ = -1;
    endResetModel();
    syncing_ = was;
    if (holds_ > 0)
        dirty_ = true;
    else
        syncView();
}

void CursorModel::rowInserted(int row) {
    if (mapped_) {
        ++rows_;
        shiftMap(row, 1); // not shown until the owner maps again
        emit mappedBookChanged();
        return;
    }
    if (rows_ == 0) {
        // the blank line becomes the first row
        rows_ = 1;
        emit dataChanged(index(0, 0), index(0, columns_ - 1));
        return;
    }
    const bool was = syncing_;
    syncing_ = true; // the view may move its current line while rows change: not a user move
    beginInsertRows({}, row, row);
    ++rows_;
    endInsertRows();
    syncing_ = was;
}

void CursorModel::rowUpdated(int position) {
    if (mapped_)
        emit mappedBookChanged(); // the row may now belong in the map, or no more
    const int row = lineOf(position);
    if (row < 0)
        return;
    if (holds_ > 0) {
        updatedFirst_ = updatedFirst_ < 0 ? row : std::min(updatedFirst_, row);
        updatedLast_ = std::max(updatedLast_, row);
        return;
    }
    emit dataChanged(index(row, 0), index(row, columns_ - 1));
}

void CursorModel::rowsUpdated(int from, int to) {
    if (from >= to)
        return;
    if (mapped_)
        emit mappedBookChanged();
    // Shown in another order, the rows may be on any line.
    int first = mapped_ ? 0 : from, last = mapped_ ? rowCount() - 1 : to - 1;
    if (holds_ > 0) {
        updatedFirst_ = updatedFirst_ < 0 ? first : std::min(updatedFirst_, first);
        updatedLast_ = std::max(updatedLast_, last);
        return;
    }
    last = std::min(last, rowCount() - 1);
    if (first <= last && columns_ > 0)
        emit dataChanged(index(first, 0), index(last, columns_ - 1));
}

void CursorModel::rowRemoved(int position) {
    if (mapped_ && position >= 0 && position < rows_) {
        const int line = inverse_[std::size_t(position)];
        const bool was = syncing_;
        syncing_ = true;
        if (line >= 0) {
            if (marker_ == line)
                setMarker(-1);
            beginRemoveRows({}, line, line);
            map_.erase(map_.begin() + line);
        }
        --rows_;
        shiftMap(position + 1, -1);
        if (line >= 0) {
            endRemoveRows();
            if (marker_ > line)
                --marker_;
        }
        syncing_ = was;
        emit mappedBookChanged();
        return;
    }
    const int row = position;
    if (row < 0 || row >= rows_)
        return;
    if (marker_ == row)
        setMarker(-1);
    if (rows_ == 1) {
        rows_ = 0; // the blank line stays
        emit dataChanged(index(0, 0), index(0, columns_ - 1));
        return;
    }
    const bool was = syncing_;
    syncing_ = true;
    beginRemoveRows({}, row, row);
    --rows_;
    endRemoveRows();
    syncing_ = was;
    if (marker_ > row)
        --marker_;
}

void CursorModel::currentChanged(int) {
    if (holds_ > 0) {
        dirty_ = true;
        return;
    }
    syncView();
}

void CursorModel::setMarker(int row) {
    if (row == marker_)
        return;
    const int old = marker_;
    marker_ = row;
    // The row titles are repainted where they show. Telling the view of changed
    // header data instead makes it find the rows' places and measure its titles
    // afresh, which takes longer the longer the book.
    if (view_ && view_->verticalHeader()) {
        view_->verticalHeader()->viewport()->update();
        return;
    }
    if (old >= 0)
        emit headerDataChanged(Qt::Vertical, old, old);
    if (row >= 0)
        emit headerDataChanged(Qt::Vertical, row, row);
}

void CursorModel::syncView() {
    dirty_ = false;
    const int row = lineOf(cursor_.currentRow());
    setMarker(row);
    if (!view_)
        return;
    QItemSelectionModel* sel = view_->selectionModel();
    if (!sel)
        return;
    const bool was = syncing_;
    syncing_ = true;
    if (row < 0) {
        sel->clear();
    } else if (sel->currentIndex().row() != row) {
        const int col = sel->currentIndex().isValid() ? sel->currentIndex().column() : 0;
        view_->setCurrentIndex(index(row, col));
    }
    syncing_ = was;
}

void CursorModel::viewMoved(const QModelIndex& current) {
    const int row = current.isValid() ? positionOf(current.row()) : -1;
    if (syncing_ || row < 0 || row == cursor_.currentRow())
        return;
    auto move = [this, row] { cursor_.moveTo(row); };
    syncing_ = true;
    try {
        if (guard_)
            guard_(move);
        else
            move();
    } catch (...) {
        // nothing may leave a slot; without a guard a failed move is simply not made
    }
    syncing_ = false;
    syncView(); // a failed move puts the view back on the cursor's row
}

CursorModel::Hold::Hold(CursorModel& m) : m_(m) { ++m_.holds_; }

CursorModel::Hold::~Hold() {
    if (--m_.holds_ != 0)
        return;
    if (m_.updatedFirst_ >= 0) {
        // Rows may have gone meanwhile: the range is cut to what is left.
        const int last = std::min(m_.updatedLast_, m_.rowCount() - 1);
        if (m_.updatedFirst_ <= last && m_.columns_ > 0)
            emit m_.dataChanged(m_.index(m_.updatedFirst_, 0), m_.index(last, m_.columns_ - 1));
        m_.updatedFirst_ = m_.updatedLast_ = -1;
    }
    if (m_.dirty_)
        m_.syncView();
}
