#include "widgets/screendump.h"

#include "widgets/columnsizer.h"

#include <QApplication>
#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QSocketNotifier>
#include <QStatusBar>
#include <QTableView>
#include <QTextStream>
#include <QWidget>

#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int dumpPipe[2] = {-1, -1};

void onDumpSignal(int) {
    const char c = 1;
    (void)!::write(dumpPipe[1], &c, 1);
}

QString oneLine(QString s) { return s.replace('\t', ' ').replace('\n', ' '); }

// grid TITLE NAME cap=N widths=A,B,...
// cell ROW COLUMN COLUMN_WIDTH CELL_WIDTH NEEDED TEXT
void dumpGrid(QTextStream& out, QTableView* g) {
    const QAbstractItemModel* m = g->model();
    if (!m)
        return;
    const auto* sizer = g->findChild<ColumnSizer*>();
    QStringList widths;
    for (int c = 0; c < m->columnCount(); ++c)
        widths << QString::number(g->columnWidth(c));
    out << "grid\t" << oneLine(g->window()->windowTitle()) << '\t' << g->objectName() << "\tcap=" << (sizer ? sizer->widest() : 0)
        << "\twidths=" << widths.join(',') << '\n';
    const QRect seen = g->viewport()->rect();
    const int top = std::max(0, g->rowAt(seen.top()));
    const int bottom = g->rowAt(seen.bottom()) < 0 ? m->rowCount() - 1 : g->rowAt(seen.bottom());
    const int left = std::max(0, g->columnAt(seen.left()));
    const int right = g->columnAt(seen.right()) < 0 ? m->columnCount() - 1 : g->columnAt(seen.right());
    for (int r = top; r <= bottom; ++r)
        for (int c = left; c <= right; ++c) {
            const QModelIndex i = m->index(r, c);
            out << "cell\t" << r << '\t' << c << '\t' << g->columnWidth(c) << '\t' << g->visualRect(i).width() << '\t'
                << g->sizeHintForIndex(i).width() << '\t' << oneLine(i.data().toString()) << '\n';
        }
}

void dump(const QString& path) {
    QFile f(path + QStringLiteral(".part"));
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return;
    QTextStream out(&f);
    const QWidget* active = QApplication::activeWindow();
    const QWidget* focus = QApplication::focusWidget();
    out << "active\t" << (active ? oneLine(active->windowTitle()) : QString()) << '\t'
        << (focus ? focus->objectName() : QString()) << '\n';
    for (QWidget* top : QApplication::topLevelWidgets()) {
        if (!top->isVisible())
            continue;
        out << "window\t" << oneLine(top->windowTitle()) << '\t' << top->objectName() << '\n';
        for (QTableView* g : top->findChildren<QTableView*>())
            if (g->isVisible())
                dumpGrid(out, g);
        // status TITLE TEXT: what the window's status bar says
        for (const QStatusBar* bar : top->findChildren<QStatusBar*>())
            for (const QLabel* l : bar->findChildren<QLabel*>())
                if (l->isVisible())
                    out << "status\t" << oneLine(top->windowTitle()) << '\t' << oneLine(l->text()) << '\n';
        // box TITLE TEXT: a message box and what it says
        if (const auto* box = qobject_cast<const QMessageBox*>(top))
            out << "box\t" << oneLine(top->windowTitle()) << '\t' << oneLine(box->text()) << '\n';
    }
    out.flush();
    f.close();
    // Whole or not at all: the reader waits for the file to appear.
    QFile::remove(path);
    f.rename(path);
}

} // namespace

void dumpScreenOnSignal(QObject* owner) {
    const QString path = qEnvironmentVariable("TSL_SCREEN_DUMP");
    if (path.isEmpty() || ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, dumpPipe) != 0)
        return;
    struct sigaction sa {};
    sa.sa_handler = onDumpSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    ::sigaction(SIGUSR1, &sa, nullptr);
    auto* notifier = new QSocketNotifier(dumpPipe[0], QSocketNotifier::Read, owner);
    QObject::connect(notifier, &QSocketNotifier::activated, owner, [path] {
        char buf[16];
        (void)!::read(dumpPipe[0], buf, sizeof buf);
        dump(path);
    });
}
