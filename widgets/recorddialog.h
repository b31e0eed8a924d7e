#pragma once
#include "storage/cursor.h"

#include <QString>

#include <initializer_list>
#include <string>
#include <utility>

class AmountSpin;
class DropDown;
class Prompter;
class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;
class QWidget;

// What the record dialogs (customer contact, shipment, purchase, worker delivery) share.
namespace record {

// The confirm button's caption is the dialog's mode.
inline const QString kAdd = QStringLiteral("添加");
inline const QString kEdit = QStringLiteral("修改");

[[nodiscard]] inline std::string utf8(const QString& s) { return s.toStdString(); }

// Edit mode needs a current row; false (after telling the user) when there is none.
[[nodiscard]] bool hasRowToEdit(Prompter& prompter, const tsl::Cursor& book);

// Runs the writes of one row; on any failure the pending row is dropped, so a
// half-filled row never reaches the book, and the error goes on.
template <class F>
void writeRow(tsl::Cursor& book, F&& writes) {
    try {
        std::forward<F>(writes)();
    } catch (...) {
        book.cancel();
        throw;
    }
}

// Name, caption, fixed client size, the dialog's picture as its icon; Escape closes it.
void setupDialog(QWidget& w, const char* name, const QString& caption, int clientWidth, int clientHeight);

// Enter confirms: `btn` is the default button. Enter on another focused button
// presses that one; the amount box keeps Enter to itself (it refuses it).
void confirmOnEnter(QWidget& dialog, QPushButton* btn);

// Tab order along the list, pair by pair.
void chainTabOrder(std::initializer_list<QWidget*> chain);

// The fixed look of a record dialog's parts.
QLineEdit* edit(QWidget* parent, const char* name, int x, int y, int w);
DropDown* dropDown(QWidget* parent, const char* name, int x, int y, int w);
AmountSpin* amount(QWidget* parent, const char* name, int x, int y);
QFrame* bevel(QWidget* parent, int top);
QLabel* image(QWidget* parent, const QString& picture, int x, int y);
QPushButton* button(QWidget* parent, const char* name, const QString& caption, int x, int y);

} // namespace record
