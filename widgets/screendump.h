#pragma once

class QObject;

// For the desktop checks only: what the screen shows, as the program itself
// knows it. When the environment names a file in TSL_SCREEN_DUMP, the signal
// SIGUSR1 writes into it the active window, the focused control and, for every
// grid in sight, its column widths, the widest a sized column may be and each
// cell in sight with the width its text needs. Without the variable nothing
// is installed.
void dumpScreenOnSignal(QObject* owner);
