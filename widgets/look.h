#pragma once
#include <QAction>
#include <QRect>
#include <QString>
#include <QWidget>

#include <string>
#include <utility>

class QApplication;
class QLabel;

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
// workspace, or above the report that stays on top) while both are shown; the
// owner does not own it. A window already shown under another owner is shown
// anew where it stands, as the window manager reads the owner only then.
void present(QWidget& w, Placement place, QWidget* owner = nullptr);

// When `leaving` hides, the windows shown above it (their owner) go over to
// its own owner, so they stay above what is left on the screen.
void handOverOwned(QWidget& leaving);

// A label whose top left corner stands at x, y, sized to its text.
QLabel* textLabel(QWidget* parent, const char* name, const QString& text, int x, int y);
// A label of a fixed place and size.
QLabel* textLabel(QWidget* parent, const char* name, const QString& text, const QRect& place);

// The desktop's short date pattern, in the notation of the serial stamp:
// the locale's CLDR short format; m/d/yy for the C/POSIX locale.
[[nodiscard]] std::string desktopShortDatePattern();

// An item of a widget's right-click menu (the widget's list of actions), named
// so tests and tools find it; `run` is called in `context` when it is chosen.
template <class F>
QAction* menuItem(QWidget* owner, const char* name, const QString& text, QObject* context, F&& run) {
    owner->setContextMenuPolicy(Qt::ActionsContextMenu);
    auto* a = new QAction(text, owner);
    a->setObjectName(QLatin1String(name));
    owner->addAction(a);
    QObject::connect(a, &QAction::triggered, context, std::forward<F>(run));
    return a;
}
