#include "folderlock.h"
#include "lb.h"
#include "look.h"
#include "prompter.h"
#include "roster.h"
#include "stamp.h"

#include <QApplication>
#include <QSocketNotifier>
#include <QTimer>

#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int signalPipe[2] = {-1, -1};

void onTerminate(int) {
    const char c = 1;
    (void)!::write(signalPipe[1], &c, 1);
}

// Dismisses open boxes one at a time, then closes the chooser.
void closeAfterBoxes(Tl* chooser, int triesLeft) {
    if (QWidget* box = QApplication::activeModalWidget(); box && triesLeft > 0) {
        box->close();
        QTimer::singleShot(50, chooser, [chooser, triesLeft] { closeAfterBoxes(chooser, triesLeft - 1); });
        return;
    }
    chooser->close();
}

// A terminate signal (kill, logout, Ctrl+C in the launcher's terminal) closes
// the chooser the orderly way, so the ledger index goes back to "run.dll".
void closeWhenSignalled(Tl& chooser) {
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPipe) != 0)
        return;
    struct sigaction sa {};
    sa.sa_handler = onTerminate;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    for (int sig : {SIGTERM, SIGINT, SIGHUP})
        ::sigaction(sig, &sa, nullptr);

    auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, &chooser);
    QObject::connect(notifier, &QSocketNotifier::activated, &chooser, [&chooser] {
        char buf[16];
        (void)!::read(signalPipe[0], buf, sizeof buf);
        closeAfterBoxes(&chooser, 100);
    });
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    applyAppLook(app); // title "tessolan" and the Song face at 9 points
    // The chooser alone decides the end: hiding it to show the workspace must not quit.
    app.setQuitOnLastWindowClosed(false);

    DialogPrompter prompter;

    // A second copy in the same folder would rename the index under the first
    // one's feet; it says so and ends before it touches any file.
    tsl::FolderLock lock;
    if (!lock.tryLock()) {
        prompter.notice(QString::fromLatin1(kAppTitle), QStringLiteral("程序已经在运行,不能重复打开!"));
        return 0;
    }

    tsl::SystemClock clock(desktopShortDatePattern());
    Roster roster(prompter, clock);
    roster.create(); // the chooser first: the index is in place before any other window exists
    // exit(), not quit(): quit() would close every other window first and run
    // their close handlers after the chooser's shut-down steps.
    QObject::connect(roster.l.get(), &Tl::closed, &app, [] { QCoreApplication::exit(0); }, Qt::QueuedConnection);
    closeWhenSignalled(*roster.l);
    roster.l->show();
    return app.exec();
}
