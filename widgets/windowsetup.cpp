#include "widgets/windowsetup.h"

#include <QApplication>
#include <QGuiApplication>
#include <QScreen>
#include <QWindow>

void setupWindow(QWidget& w, const QString& caption, int clientWidth, int clientHeight, WindowButtons buttons,
                 Stacking stacking) {
    // Only a dialog-type window tells the window manager whose it is (WM_TRANSIENT_FOR).
    const bool owned = stacking == Stacking::Owned || stacking == Stacking::OwnedOnTop;
    Qt::WindowFlags f = (owned ? Qt::Dialog : Qt::Window) | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                        Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint;
    if (buttons == WindowButtons::MinimiseMaximise)
        f |= Qt::WindowMaximizeButtonHint;
    else
        f |= Qt::MSWindowsFixedSizeDialogHint;
    if (stacking == Stacking::OnTop || stacking == Stacking::OwnedOnTop)
        f |= Qt::WindowStaysOnTopHint;
    w.setWindowFlags(f);
    w.setWindowTitle(caption);
    w.resize(clientWidth, clientHeight);
    if (buttons != WindowButtons::MinimiseMaximise)
        w.setFixedSize(clientWidth, clientHeight);
}

void centreOnScreen(QWidget& w) {
    QScreen* s = w.screen() ? w.screen() : QGuiApplication::primaryScreen();
    if (!s)
        return;
    QRect frame = w.frameGeometry();
    frame.moveCenter(s->availableGeometry().center());
    w.move(frame.topLeft());
}

namespace {

// A transient window: the window manager keeps it above its owner (in the
// owner's layer: above a window that stays on top, too) and minimises it with
// it. Set before every show, as Qt may drop it on hide.
void setOwner(QWidget& w, QWidget& owner) {
    w.winId();
    owner.winId();
    QWindow* h = w.windowHandle();
    if (!h || h->transientParent() == owner.windowHandle())
        return;
    if (w.isVisible()) {
        // Shown under another owner: the window manager reads the owner when the window maps.
        const QPoint at = w.pos();
        w.hide();
        w.move(at);
    }
    h->setTransientParent(owner.windowHandle());
}

} // namespace

void handOverOwned(QWidget& leaving) {
    QWindow* gone = leaving.windowHandle();
    QWindow* next = gone ? gone->transientParent() : nullptr;
    if (!gone)
        return;
    for (QWidget* top : QApplication::topLevelWidgets()) {
        QWindow* h = top->windowHandle();
        if (top == &leaving || !top->isVisible() || !h || h->transientParent() != gone)
            continue;
        QWidget* heir = nullptr;
        for (QWidget* candidate : QApplication::topLevelWidgets())
            if (next && candidate->windowHandle() == next)
                heir = candidate;
        if (heir)
            present(*top, Placement::AsItStands, heir);
        else
            h->setTransientParent(nullptr);
    }
}

void present(QWidget& w, Placement place, QWidget* owner) {
    if (owner)
        setOwner(w, *owner);
    if (place == Placement::Centred)
        centreOnScreen(w);
    w.show();
    w.raise();
    w.activateWindow();
}
