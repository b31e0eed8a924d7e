#include "widgets/amountspin.h"

#include "storage/intconv.h"

#include <QApplication>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QAbstractItemView>
#include <QLineEdit>
#include <QStyle>
#include <QStyledItemDelegate>
#include <QWheelEvent>

#include <algorithm>
#include <cstdint>
#include <limits>

AmountSpin::AmountSpin(QWidget* parent) : QAbstractSpinBox(parent) {
    setButtonSymbols(QAbstractSpinBox::UpDownArrows);
    setCorrectionMode(QAbstractSpinBox::CorrectToPreviousValue);
    setKeyboardTracking(true);
    unlimitLength(lineEdit());
}

void AmountSpin::setText(const QString& text) { lineEdit()->setText(text); }

void AmountSpin::setRange(int minimum, int maximum) {
    min_ = minimum;
    max_ = std::max(minimum, maximum);
}

bool AmountSpin::acceptsTyped(QChar c) const {
    if (c >= u'0' && c <= u'9')
        return true;
    if (c == u'+' || c == u'-')
        return true;
    const QString sep = locale().decimalPoint();
    return sep.size() == 1 && c == sep.front();
}

// Every text is acceptable: typing is filtered key by key below, while pasted
// text goes in as it is. The dialogs judge the amount when the user confirms.
QValidator::State AmountSpin::validate(QString&, int&) const { return QValidator::Acceptable; }

// Never rewrite what the user left in the box.
void AmountSpin::fixup(QString&) const {}

void AmountSpin::stepBy(int steps) {
    const QString t = text();
    std::int64_t v = 0;
    if (!t.isEmpty()) {
        const auto n = tsl::tryStrToInt(t.toStdString());
        if (!n) {
            // Not a whole number: leave the user's text alone.
            QApplication::beep();
            return;
        }
        v = *n;
    }
    v += steps;
    if (bounded())
        v = std::clamp<std::int64_t>(v, min_, max_);
    v = std::clamp<std::int64_t>(v, std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max());
    setText(QString::number(v));
}

QAbstractSpinBox::StepEnabled AmountSpin::stepEnabled() const {
    if (isReadOnly())
        return StepNone;
    return StepUpEnabled | StepDownEnabled;
}

void AmountSpin::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        QApplication::beep();
        event->accept();
        return;
    }
    if (event->key() == Qt::Key_PageUp || event->key() == Qt::Key_PageDown) {
        event->ignore(); // a spin box would step by ten
        return;
    }
    const QString typed = event->text();
    if (!(event->modifiers() & (Qt::ControlModifier | Qt::MetaModifier | Qt::AltModifier))) {
        for (QChar c : typed) {
            if (c.unicode() >= 32 && c.unicode() != 127 && !acceptsTyped(c)) {
                QApplication::beep();
                event->accept();
                return;
            }
        }
    }
    QAbstractSpinBox::keyPressEvent(event);
}

// The wheel belongs to whatever lies under the box; it never changes an amount.
void AmountSpin::wheelEvent(QWheelEvent* event) { event->ignore(); }

void AmountSpin::inputMethodEvent(QInputMethodEvent* event) {
    for (QChar c : event->commitString()) {
        if (!acceptsTyped(c)) {
            QApplication::beep();
            event->accept();
            return;
        }
    }
    QAbstractSpinBox::inputMethodEvent(event);
}

namespace {

// The Song face draws above the ascent it states: a list row only as tall as
// its font cuts the tops of the characters off.
class RoomyRows final : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        QSize s = QStyledItemDelegate::sizeHint(option, index);
        s.setHeight(std::max(s.height(), option.fontMetrics.height() + 6));
        return s;
    }
};

} // namespace

DropDown::DropDown(QWidget* parent) : QComboBox(parent), entries_(new QStringListModel(this)) {
    setModel(entries_);
    setItemDelegate(new RoomyRows(this));
    setEditable(true);
    setCompleter(nullptr); // the default one completes inline and ignores case
    setInsertPolicy(QComboBox::NoInsert);
    setDuplicatesEnabled(true);
    // Measuring every entry for the size hint is slow with long lists; the size is fixed anyway.
    setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    unlimitLength(lineEdit());
    lineEdit()->installEventFilter(this);
    connect(lineEdit(), &QLineEdit::textEdited, this, &DropDown::userChanged);
    connect(this, &QComboBox::textActivated, this, &DropDown::userChanged);
}

void DropDown::setText(const QString& text) { setEditText(text); }

void DropDown::selectFirst() {
    if (count() == 0)
        return;
    setCurrentIndex(0);
    // Already on entry 0 with other text typed: the index alone would not bring the text back.
    setEditText(itemText(0));
}

void DropDown::reset() {
    clear();
    clearEditText();
}

void DropDown::addEntries(const QStringList& entries) {
    if (entries.isEmpty())
        return; // the text stays as it is
    if (count() == 0)
        entries_->setStringList(entries);
    else
        addItems(entries);
}

void DropDown::showPopup() {
    QAbstractItemView* list = view();
    const QFontMetrics fm(list->font());
    int widest = 0;
    for (int i = 0; i < count(); ++i)
        widest = std::max(widest, fm.horizontalAdvance(itemText(i)));
    // Room for the entry's own margins and the scroll bar a long list shows.
    const int margins = 4 * fm.averageCharWidth() + list->style()->pixelMetric(QStyle::PM_ScrollBarExtent);
    list->setMinimumWidth(widest + margins);
    QComboBox::showPopup();
}

// Enter would otherwise pick a list entry that matches the text regardless of
// case. The box leaves it unused, so it reaches the window (a dialog confirms).
void DropDown::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        event->ignore();
        return;
    }
    QComboBox::keyPressEvent(event);
}

bool DropDown::eventFilter(QObject* watched, QEvent* event) {
    if (watched == lineEdit() && event->type() == QEvent::KeyPress) {
        auto* k = static_cast<QKeyEvent*>(event);
        if (k->key() == Qt::Key_Return || k->key() == Qt::Key_Enter) {
            k->ignore(); // past the box's own handling, on to the window
            return true;
        }
    }
    return QComboBox::eventFilter(watched, event);
}

void unlimitLength(QLineEdit* edit) { edit->setMaxLength(std::numeric_limits<int>::max()); }

static void initDialogResources() { Q_INIT_RESOURCE(dialogs); }

QPixmap dialogPicture(const QString& name) {
    static const bool loaded = (initDialogResources(), true);
    (void)loaded;
    return QPixmap(QStringLiteral(":/dialogs/%1.png").arg(name));
}
