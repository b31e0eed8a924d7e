#pragma once
#include <QString>

class QPoint;
class QWidget;

// What a user of a desktop program expects of its windows, where the windows
// themselves say nothing.

// Escape closes the window, as the close box does (its close handling runs).
void closeOnEscape(QWidget& window);

// The first control of the window's tab order, or nullptr.
[[nodiscard]] QWidget* firstInTabOrder(QWidget& window);

// Gives the focus to the first control of the tab order, as on a fresh window.
void focusFirst(QWidget& window);

// Shows a hint exactly as its text stands: tags stay tags, line feeds break lines.
void showPlainToolTip(const QPoint& globalPos, const QString& text, QWidget* owner);

// The rich text that shows `plain` as it stands.
[[nodiscard]] QString plainTipText(const QString& plain);
