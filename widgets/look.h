#pragma once
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

// A top-level window of fixed client size with a single fixed border.
void setupWindow(QWidget& w, const QString& caption, int clientWidth, int clientHeight,
                 WindowButtons buttons = WindowButtons::MinimiseOnly, bool stayOnTop = false);

// Moves a window so that its frame is centred on the primary screen.
void centreOnScreen(QWidget& w);

// A label whose top left corner stands at x, y, sized to its text.
QLabel* textLabel(QWidget* parent, const char* name, const QString& text, int x, int y);

// The desktop's short date pattern, in the notation of the serial stamp:
// the locale's CLDR short format; m/d/yy for the C/POSIX locale.
[[nodiscard]] std::string desktopShortDatePattern();
