#pragma once
#include <QCursor>
#include <QGuiApplication>

// Shows the wait cursor while a long operation runs in the event handler; put it
// after any question to the user and let it end before the result is shown.
class WaitCursor {
public:
    WaitCursor() { QGuiApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitCursor() { QGuiApplication::restoreOverrideCursor(); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;
};

// A box asked or shown while a WaitCursor is up gets the arrow back for as long
// as it is open; with no wait cursor it changes nothing.
class ArrowWhileAsking {
public:
    ArrowWhileAsking() : pushed_(QGuiApplication::overrideCursor() != nullptr) {
        if (pushed_)
            QGuiApplication::setOverrideCursor(Qt::ArrowCursor);
    }
    ~ArrowWhileAsking() {
        if (pushed_)
            QGuiApplication::restoreOverrideCursor();
    }
    ArrowWhileAsking(const ArrowWhileAsking&) = delete;
    ArrowWhileAsking& operator=(const ArrowWhileAsking&) = delete;

private:
    bool pushed_;
};
