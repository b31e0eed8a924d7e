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
