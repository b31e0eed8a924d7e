#include "forms/shownrows.h"

#include "export/collate.h"
#include "storage/sortrows.h"
#include "widgets/gridmodel.h"
#include "widgets/guard.h"
#include "widgets/waitcursor.h"

#include <QHeaderView>
#include <QTimer>

ShownRows::ShownRows(CursorModel& model, Prompter& prompter, QObject* parent)
    : QObject(parent), model_(&model), cursor_(&model.cursor()), prompter_(prompter) {
    setObjectName(QStringLiteral("shownRows"));
    cursor_->addObserver(this);
    connect(&model, &CursorModel::mappedBookChanged, this, [this] { bookChanged(); });
    connect(&model, &QObject::destroyed, this, [this] {
        if (cursor_)
            cursor_->removeObserver(this);
        cursor_ = nullptr;
        model_ = nullptr;
    });
}

ShownRows::~ShownRows() {
    if (cursor_)
        cursor_->removeObserver(this);
}

void ShownRows::attachHeader(QHeaderView* header) {
    header_ = header;
    header->setSectionsClickable(true);
    header->setSortIndicatorShown(true);
    header->setSortIndicator(-1, Qt::AscendingOrder);
    // The header flips its arrow itself before telling: showOrder puts ours back.
    connect(header, &QHeaderView::sectionClicked, this, [this](int section) { cycle(section); });
}

void ShownRows::setFound(std::vector<int> rows) {
    found_ = std::move(rows);
    apply();
}

void ShownRows::clearFound() {
    if (!found_)
        return; // every row is shown already: no keystroke re-maps a big book
    found_.reset();
    apply();
}

void ShownRows::sortBy(int field, Order order) {
    if (field != field_ || order != order_)
        sortedValid_ = false;
    field_ = field;
    order_ = order;
    book_ = model_->cursor().tableName();
    apply();
}

void ShownRows::cycle(int field) {
    Order next = Order::Up;
    if (field == field_ && order_ == Order::Up)
        next = Order::Down;
    else if (field == field_ && order_ == Order::Down)
        next = Order::Stored;
    sortBy(field, next);
}

void ShownRows::cursorReset() {
    sortedValid_ = false;
    // Another book (or none) is shown whole and in its own order; the same book
    // read again (after an undo, say) keeps its order.
    const tsl::Cursor& c = model_->cursor();
    if (!c.isOpen() || c.tableName() != book_) {
        order_ = Order::Stored;
        field_ = -1;
        showOrder();
    }
}

void ShownRows::rowUpdated(int) {
    if (order_ == Order::Stored)
        return;
    sortedValid_ = false; // the edit may have changed the sorted field
    queueAgain();
}

void ShownRows::bookChanged() {
    sortedValid_ = false;
    queueAgain();
}

// Once the command is over: the finder finds again, then the order is made again.
void ShownRows::queueAgain() {
    if (queued_)
        return;
    queued_ = true;
    QTimer::singleShot(0, this, [this] {
        queued_ = false;
        applied_ = false;
        if (found_)
            emit rowsChanged();
        if (!applied_)
            apply();
    });
}

const std::vector<int>& ShownRows::sorted() {
    if (sortedValid_)
        return sorted_;
    tsl::Cursor& book = model_->cursor();
    const bool down = order_ == Order::Down;
    const WaitCursor wait;
    switch (tsl::sortKindOf(book.fieldName(field_))) {
    case tsl::SortKind::Number:
        sorted_ = tsl::sortedRows(book, field_, tsl::SortKind::Number, down);
        break;
    case tsl::SortKind::Serial:
        sorted_ = tsl::sortedRows(book, field_, tsl::SortKind::Serial, down);
        break;
    case tsl::SortKind::Text:
        sorted_ = tsl::out::collatedRows(book, field_, down);
        break;
    }
    sortedValid_ = true;
    return sorted_;
}

void ShownRows::apply() {
    applied_ = true;
    if (!model_)
        return;
    guarded(prompter_, [this] {
        tsl::Cursor& book = model_->cursor();
        if (!book.isOpen() || field_ >= book.fieldCount()) {
            order_ = Order::Stored;
            field_ = -1;
        }
        showOrder();
        if (!book.isOpen() || book.recordCount() == 0) {
            model_->clearRowMap(); // an empty book keeps its blank line to click on
            return;
        }
        if (order_ == Order::Stored) {
            if (found_)
                model_->setRowMap(*found_);
            else
                model_->clearRowMap();
            return;
        }
        const std::vector<int>& all = sorted();
        if (!found_) {
            model_->setRowMap(all);
            return;
        }
        std::vector<char> keep(std::size_t(book.recordCount()), 0);
        for (int p : *found_)
            if (p >= 0 && p < int(keep.size()))
                keep[std::size_t(p)] = 1;
        std::vector<int> rows;
        rows.reserve(found_->size());
        for (int p : all)
            if (p < int(keep.size()) && keep[std::size_t(p)])
                rows.push_back(p);
        model_->setRowMap(std::move(rows));
    });
}

void ShownRows::showOrder() {
    if (!header_)
        return;
    if (order_ == Order::Stored)
        header_->setSortIndicator(-1, Qt::AscendingOrder);
    else
        header_->setSortIndicator(field_, order_ == Order::Up ? Qt::AscendingOrder : Qt::DescendingOrder);
}
