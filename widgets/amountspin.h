#pragma once
#include <QStringListModel>
#include <QAbstractSpinBox>
#include <QComboBox>
#include <QPixmap>

class QLineEdit;

// Entry widgets and pictures shared by the record dialogs.

// The amount box of the movement dialogs. It holds text, not a number: the text
// may be empty or hold whatever was typed or pasted, and the dialogs write it as
// it stands. Typing is limited to digits, "+", "-" and the decimal separator;
// pasting is not filtered. The arrow buttons and keys step a whole number by one;
// nothing else steps it (no page keys, no mouse wheel).
class AmountSpin : public QAbstractSpinBox {
    Q_OBJECT
public:
    explicit AmountSpin(QWidget* parent = nullptr);

    void setText(const QString& text);

    // Equal bounds (the default, 0 and 0) mean no bounds at all.
    void setRange(int minimum, int maximum);
    [[nodiscard]] int minimum() const { return min_; }
    [[nodiscard]] int maximum() const { return max_; }

    // Whether a typed character may go into the box.
    [[nodiscard]] bool acceptsTyped(QChar c) const;

    QValidator::State validate(QString& input, int& pos) const override;
    void fixup(QString& input) const override;
    void stepBy(int steps) override;

protected:
    StepEnabled stepEnabled() const override;
    void keyPressEvent(QKeyEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void inputMethodEvent(QInputMethodEvent* event) override;

private:
    [[nodiscard]] bool bounded() const { return min_ != max_; }

    int min_ = 0;
    int max_ = 0;
};

// An editable drop-down whose text is exactly what the user typed or picked:
// no completion, nothing inserted into the list, Enter does nothing.
// userChanged() fires on every edit and pick by the user, never on the
// program's own changes.
class DropDown : public QComboBox {
    Q_OBJECT
public:
    explicit DropDown(QWidget* parent = nullptr);

    [[nodiscard]] QString text() const { return currentText(); }
    // Sets only the text; the entries stay as they are.
    void setText(const QString& text);
    // Makes entry 0 the selected one and its text the box's text (no entries: nothing).
    void selectFirst();
    // Drops the entries and the text.
    void reset();
    // Appends entries after those there (duplicates kept). Into an empty box
    // they go in one step, so lists of thousands come and go without delay.
    void addEntries(const QStringList& entries);

    // The list opens as wide as its longest entry: the box is narrower than
    // most firms' names, and a name cut in the middle cannot be told apart.
    void showPopup() override;

signals:
    void userChanged();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // A plain list: the default model keeps an object per entry and signals
    // each one's removal, which made emptying a long list take milliseconds.
    QStringListModel* entries_;
};

// Lifts Qt's default limit of 32767 characters from a line edit.
void unlimitLength(QLineEdit* edit);

// A picture of the record dialogs' resources (":/dialogs/<name>.png").
[[nodiscard]] QPixmap dialogPicture(const QString& name);
