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
    return rows_ > 0 ? rows_ : 1; // the blank line of an empty table
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
    if (role != Qt::DisplayRole || !index.isValid() || index.row() >= rows_)
        return {};
    try {
        return QString::fromStdString(cursor_.rowText(index.row(), index.column()));
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

void CursorModel::rowUpdated(int row) {
    if (row < 0 || row >= rows_)
        return;
    if (holds_ > 0) {
        updatedFirst_ = updatedFirst_ < 0 ? row : std::min(updatedFirst_, row);
        updatedLast_ = std::max(updatedLast_, row);
        return;
    }
    emit dataChanged(index(row, 0), index(row, columns_ - 1));
}

void CursorModel::rowRemoved(int row) {
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
    if (old >= 0)
        emit headerDataChanged(Qt::Vertical, old, old);
    if (row >= 0)
        emit headerDataChanged(Qt::Vertical, row, row);
}

void CursorModel::syncView() {
    dirty_ = false;
    const int row = cursor_.currentRow();
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
    if (syncing_ || !current.isValid() || current.row() >= rows_ || current.row() == cursor_.currentRow())
        return;
    const int row = current.row();
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
        const int last = std::min(m_.updatedLast_, m_.rows_ - 1);
        if (m_.updatedFirst_ <= last && m_.columns_ > 0)
            emit m_.dataChanged(m_.index(m_.updatedFirst_, 0), m_.index(last, m_.columns_ - 1));
        m_.updatedFirst_ = m_.updatedLast_ = -1;
    }
    if (m_.dirty_)
        m_.syncView();
}
