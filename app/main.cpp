#include "lb.h"
#include "look.h"
#include "prompter.h"
#include "roster.h"
#include "stamp.h"

#include <QApplication>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    applyAppLook(app);
    app.setQuitOnLastWindowClosed(false);

    DialogPrompter prompter;
    tsl::SystemClock clock;
    Roster roster(prompter, clock);
    roster.create();
    QObject::connect(roster.l.get(), &Tl::closed, &app, &QApplication::quit);
    roster.l->show();
    return app.exec();
}
