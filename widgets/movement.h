#pragma once
#include <QString>

#include <initializer_list>
#include <string_view>

class AmountSpin;
class DropDown;
class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;
class Prompter;
class QWidget;

namespace tsl {
class Clock;
class Cursor;
} // namespace tsl

// What the three movement dialogs (shipment, purchase, worker delivery) do alike.
// Each dialog hands over its own lists, fields and orders.
namespace movement {

// A lookup list and the text to keep in it.
struct Lookup {
    std::string_view list;
    QString text;
};

// A field of the book and the text written to it.
struct Field {
    std::string_view name;
    QString text;
};

// What a confirm works on: the shown book, the scratch cursor for the lookup
// lists, the boxes that answer the user, and the clock of the serial stamp.
struct Books {
    tsl::Cursor& book;
    tsl::Cursor& scratch;
    Prompter& prompter;
    const tsl::Clock& clock;
};

// Where the serial stamp of a new row goes among the writes of its fields.
enum class StampAt { First, Last };

// Confirm: the amount check, the upkeep of the lookup lists in the given order,
// then the fields written in the given order into the shown book: a new row in
// add mode, the current row in edit mode. True when the row was written and the
// dialog may close.
[[nodiscard]] bool confirm(const Books& at, const QPushButton* btn, const QString& amount,
                           std::initializer_list<Lookup> lists, std::initializer_list<Field> fields, StampAt stamp);

// The reset on close, in this order: the drop-downs lose their text and entries,
// the quantity goes back to "0", the other boxes are emptied, the amount goes back to "0".
void reset(std::initializer_list<DropDown*> lists, QLineEdit* quantity, std::initializer_list<QLineEdit*> emptied,
           AmountSpin* amount);

// Left, top and, for the boxes, width.
struct Place {
    int x;
    int y;
    int w = 0;
};

// The places of the parts every movement dialog has.
struct Layout {
    Place name, kind, quantity, amount, image, confirm, cancel;
    int bevelTop;
};

// clang-format off
//                                     name          kind           quantity       amount     image       confirm     cancel      bevel
inline constexpr Layout kShipmentLayout{{64, 4, 105}, {64, 28, 121}, {64, 53, 89},  {64, 132}, {328, 120}, {248, 168}, {304, 168}, 160};
// The purchase and worker delivery dialogs have one shape.
inline constexpr Layout kSmallLayout   {{64, 4, 161}, {64, 28, 161}, {64, 52, 161}, {64, 76},  {232, 72},  {152, 112}, {208, 112}, 104};
// clang-format on

// Makes those parts at their places; each dialog calls them in its own order of creation.
class Parts {
public:
    Parts(QWidget* dialog, const Layout& at) : d_(dialog), at_(at) {}

    [[nodiscard]] DropDown* name(const char* objectName) const;
    [[nodiscard]] DropDown* kind() const;
    [[nodiscard]] QLineEdit* quantity() const; // "0" to begin with
    [[nodiscard]] AmountSpin* amount() const;
    [[nodiscard]] QFrame* bevel() const;
    [[nodiscard]] QLabel* image(const QString& picture) const;
    [[nodiscard]] QPushButton* confirm() const; // no caption until the workspace sets the mode
    [[nodiscard]] QPushButton* cancel() const;

private:
    QWidget* d_;
    Layout at_;
};

} // namespace movement
