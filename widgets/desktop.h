#pragma once
#include <QString>

class QPoint;
class QWidget;

// What a user of a desktop program expects of its windows, where the windows
// themselves say nothing.

// Escape closes the window, as the close box does (its close handling runs).
void closeOnEscape(QWidget& window);

// The first control of the window's tab order, or nullptr; with `inputOnly`,
// the first that takes input (buttons are passed over).
[[nodiscard]] QWidget* firstInTabOrder(QWidget& window, bool inputOnly = false);

// Gives the focus to the first input field of the tab order (to its first
// control when it has none), so what the user types first lands in a field
// and a stray Space never presses a button.
void focusFirstInput(QWidget& window);

// Shows a hint exactly as its text stands: tags stay tags, line feeds break lines.
void showPlainToolTip(const QPoint& globalPos, const QString& text, QWidget* owner);

// The rich text that shows `plain` as it stands.
[[nodiscard]] QString plainTipText(const QString& plain);
