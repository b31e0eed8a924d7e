#include "storage/folderlock.h"
#include "forms/lb.h"
#include "widgets/datepattern.h"
#include "widgets/look.h"
#include "widgets/prompter.h"
#include "forms/roster.h"
#include "widgets/screendump.h"
#include "storage/stamp.h"

#include <QApplication>
#include <QPointer>
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

// A terminate signal (kill, logout, Ctrl+C in the launcher's terminal) ends the
// program the orderly way, so the ledger index goes back to "run.dll". It is
// caught from the first moment on: the start-up steps may already wait in a box.
// Every box that is up, or comes up, is dismissed; then the chooser closes.
class Terminator final : public QObject {
public:
    void install() {
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPipe) != 0)
            return;
        struct sigaction sa {};
        sa.sa_handler = onTerminate;
        sigemptyset(&sa.sa_mask);
        sa.sa_flags = SA_RESTART;
        for (int sig : {SIGTERM, SIGINT, SIGHUP})
            ::sigaction(sig, &sa, nullptr);
        auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, this);
        connect(notifier, &QSocketNotifier::activated, this, [this] {
            char buf[16];
            (void)!::read(signalPipe[0], buf, sizeof buf);
            if (!requested_) {
                requested_ = true;
                step(kTries);
            }
        });
    }

    // The chooser, once it exists; a signal that came before it closes it now.
    void watch(Tl* chooser) {
        chooser_ = chooser;
        connect(chooser, &Tl::closed, this, [this] { done_ = true; });
        if (requested_)
            QTimer::singleShot(0, this, [this] { step(kTries); });
    }

    [[nodiscard]] bool requested() const { return requested_; }

private:
    static constexpr int kTries = 200; // 10 seconds of boxes at most

    void step(int triesLeft) {
        if (done_ || triesLeft <= 0)
            return;
        // The next look is due while a box (or the chooser's close) waits.
        QTimer::singleShot(50, this, [this, triesLeft] { step(triesLeft - 1); });
        if (QWidget* box = QApplication::activeModalWidget()) {
            box->close();
            return;
        }
        if (chooser_ && !closing_) {
            closing_ = true;
            chooser_->close();
        }
    }

    bool requested_ = false;
    bool closing_ = false;
    bool done_ = false;
    QPointer<Tl> chooser_;
};

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    applyAppLook(app); // title "tessolan" and the Song face at 9 points
    // The chooser alone decides the end: hiding it to show the workspace must not quit.
    app.setQuitOnLastWindowClosed(false);

    Terminator terminator;
    terminator.install(); // before the first box and before the index is renamed

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
    terminator.watch(roster.l.get());
    dumpScreenOnSignal(&app); // the desktop checks read the screen through it
    if (!terminator.requested())
        roster.l->show();
    return app.exec();
}
