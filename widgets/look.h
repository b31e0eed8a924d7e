#pragma once
#include <QRect>
#include <QString>

#include <string>

class QApplication;
class QLabel;
class QWidget;

// Font substitution and the application font: 宋体 9 pt mapped to an installed Song face.
void applyAppLook(QApplication& app);

enum class WindowButtons {
    MinimiseOnly,     // system menu, minimise, close
    MinimiseMaximise, // the workspace
};

// How the window manager stacks a window.
enum class Stacking {
    Normal,     // a window of its own (the workspace)
    OnTop,      // above every other window (the chooser)
    Owned,      // above the window that shows it (see present): dialogs, About
    OwnedOnTop, // both: the report window
};

// A top-level window of fixed client size with a single fixed border.
void setupWindow(QWidget& w, const QString& caption, int clientWidth, int clientHeight,
                 WindowButtons buttons = WindowButtons::MinimiseOnly, Stacking stacking = Stacking::Normal);

// Moves a window so that its frame is centred on its screen.
void centreOnScreen(QWidget& w);

enum class Placement { AsItStands, Centred };

// Shows a window the program brings up, in front and with the focus; centred
// on the screen each time when asked (not when the window manager restores it).
// With an owner, the window stays above the owner (a dialog above the
// workspace) while both are shown; the owner does not own it.
void present(QWidget& w, Placement place, QWidget* owner = nullptr);

// A label whose top left corner stands at x, y, sized to its text.
QLabel* textLabel(QWidget* parent, const char* name, const QString& text, int x, int y);
// A label of a fixed place and size.
QLabel* textLabel(QWidget* parent, const char* name, const QString& text, const QRect& place);

// The desktop's short date pattern, in the notation of the serial stamp:
// the locale's CLDR short format; m/d/yy for the C/POSIX locale.
[[nodiscard]] std::string desktopShortDatePattern();
