#pragma once
#include "cursor.h"

#include <QWidget>

#include <string>
#include <string_view>
#include <utility>

class AmountSpin;
class DropDown;
class Prompter;
class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;
class Roster;

// What the three movement dialogs (shipment, purchase, worker delivery) do alike.
namespace movement {

// The confirm caption that means add mode; any other caption means edit mode.
[[nodiscard]] bool isAddMode(const QPushButton* btn);

// Refuses an amount that cannot be stored (telling the user why); true when it may be written.
[[nodiscard]] bool amountAccepted(Prompter& prompter, const QString& amount);

// Edit mode needs a current row; false (after telling the user) when there is none.
[[nodiscard]] bool hasRowToEdit(Prompter& prompter, const tsl::Cursor& book);

// Appends text to a lookup list unless some entry already equals it exactly.
void keepInList(tsl::Cursor& scratch, std::string_view list, const std::string& text);

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

[[nodiscard]] inline std::string utf8(const QString& s) { return s.toStdString(); }

// The fixed look of a movement dialog's parts.
QLabel* makeLabel(QWidget* parent, const char* name, const QString& text, int x, int y);
QLineEdit* makeEdit(QWidget* parent, const char* name, int x, int y, int w);
DropDown* makeDropDown(QWidget* parent, const char* name, int x, int y, int w);
AmountSpin* makeAmount(QWidget* parent, const char* name, int x, int y);
QFrame* makeBevel(QWidget* parent, int top);
QLabel* makeImage(QWidget* parent, const QString& picture, int x, int y);
QPushButton* makeButton(QWidget* parent, const char* name, const QString& caption, int x, int y);

} // namespace movement

// Shipment dialog: adds a row to the shipment book with a fresh serial stamp, or
// changes the workspace's current row. Fills the address and postcode from the
// customer book when the user changes the customer name.
class Tfhb : public QWidget {
    Q_OBJECT
public:
    explicit Tfhb(Roster& roster);

    QLabel* Label1;
    QLabel* Label2;
    QLabel* Label3;
    QLabel* Label4;
    QLabel* Label5;
    QLabel* Label6;
    DropDown* edname;
    DropDown* edzl;
    QLineEdit* edsm;
    QLineEdit* edadd;
    QLineEdit* edyb;
    AmountSpin* edje;
    QFrame* Bevel1;
    QLabel* Image1;
    QPushButton* btn;
    QPushButton* btncancel;

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void btnClick();
    void btncancelClick();
    void FormCloseQuery();
    void ednameChange();

    Roster& r_;
};

