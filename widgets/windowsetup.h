#pragma once
#include <QWidget>

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
