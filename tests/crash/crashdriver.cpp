// The program's own windows, driven from standard input for the crash test.
// One command a line: "<seq>\t<command>\t<args...>"; after each finished
// command it prints "ok\t<seq>". Boxes never wait: questions are answered Yes,
// messages are printed ("msg\t..."), errors too ("err\t...").
#include "forms/Unit1.h"
#include "widgets/amountspin.h"
#include "storage/backup.h"
#include "forms/fhbd.h"
#include "storage/folderlock.h"
#include "storage/ledgerops.h"
#include "forms/jhbd.h"
#include "forms/khlx.h"
#include "forms/lb.h"
#include "widgets/look.h"
#include "tests/support/powercutvfs.h"
#include "widgets/prompter.h"
#include "forms/roster.h"
#include "storage/stamp.h"
#include "forms/zgjh.h"

#include <QApplication>
#include <QAction>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSocketNotifier>
#include <QToolButton>

#include <cstdlib>
#include <deque>
#include <sstream>
#include <string>
#include <unistd.h>

namespace {

void say(const QString& line) {
    QByteArray b = (line + "\n").toUtf8();
    // Unbuffered: the line must be out before the next write starts.
    (void)!::write(1, b.constData(), size_t(b.size()));
}

// A finished command, with the file events counted so far under a power cut.
void ack(const QString& seq) { say("ok\t" + seq + "\t" + QString::number(tsltest::PowerCut::events())); }

class AutoPrompter final : public Prompter {
public:
    void message(const QString& text) override { say("msg\t" + QString(text).replace('\n', ' ')); }
    bool askYesNo(const QString&) override { return true; }
    QString inputText(const QString&, const QString&, int maxLength) override {
        if (inputs.empty())
            return {};
        QString s = inputs.front().left(maxLength);
        inputs.pop_front();
        return s;
    }
    void error(const QString& message) override { say("err\t" + errorBoxText(message)); }
    QString savePath(const QString&, const QString&, const QString&) override { return savePathAnswer; }
    QString chooseFolder(const QString&) override { return folderAnswer; }
    int chooseRow(const QString&, const QString&, const QStringList&, const QList<QStringList>& rows) override {
        const int want = rowChoice;
        rowChoice = -1;
        return want < rows.size() ? want : -1;
    }
    std::deque<QString> inputs;
    int rowChoice = -1;
    QString savePathAnswer; // where an export goes
    QString folderAnswer;   // where 备份全部帐本到… goes
};

template <class W>
W* child(QWidget* parent, const char* name) {
    W* w = parent->findChild<W*>(QString::fromLatin1(name));
    if (!w) {
        say(QStringLiteral("err\tno control %1").arg(QString::fromLatin1(name)));
        ::_exit(3);
    }
    return w;
}

void setText(QWidget* dlg, const char* name, const QString& text) {
    QWidget* w = child<QWidget>(dlg, name);
    if (auto* e = qobject_cast<QLineEdit*>(w))
        e->setText(text);
    else if (auto* c = qobject_cast<QComboBox*>(w))
        c->setEditText(text);
    else if (auto* a = qobject_cast<AmountSpin*>(w))
        a->setText(text);
}

class Driver : public QObject {
public:
    Driver(Roster& r, AutoPrompter& p) : r_(r), p_(p) {
        auto* n = new QSocketNotifier(0, QSocketNotifier::Read, this);
        connect(n, &QSocketNotifier::activated, this, [this, n] {
            char buf[4096];
            ssize_t got = ::read(0, buf, sizeof buf);
            if (got <= 0) {
                n->setEnabled(false);
                return;
            }
            pending_.append(buf, size_t(got));
            // An export's progress box lets events through: the lines that come
            // meanwhile wait for the command at work, as a user's clicks would.
            if (busy_)
                return;
            busy_ = true;
            for (auto nl = pending_.find('\n'); nl != std::string::npos; nl = pending_.find('\n')) {
                QString line = QString::fromUtf8(pending_.data(), qsizetype(nl));
                pending_.erase(0, nl + 1);
                run(line.split('\t'));
            }
            busy_ = false;
        });
    }

private:
    void openBook(int b) {
        QToolButton* btns[] = {r_.Form1->SpeedButton1, r_.Form1->SpeedButton2, r_.Form1->SpeedButton3,
                               r_.Form1->SpeedButton4};
        btns[b - 1]->click();
    }

    QWidget* dialog(int b) {
        switch (b) {
        case 1: return r_.khl.get();
        case 2: return r_.fhb.get();
        case 3: return r_.jhb.get();
        default: return r_.zgj.get();
        }
    }

    void fill(int b, const QString& t) {
        QWidget* d = dialog(b);
        switch (b) {
        case 1:
            setText(d, "edname", "c" + t);
            setText(d, "edadd", "a" + t);
            setText(d, "edyb", "p" + t);
            setText(d, "eddh", "t" + t);
            setText(d, "edsj", "m" + t);
            break;
        case 2:
            setText(d, "edname", "c" + t);
            setText(d, "edzl", "k" + t);
            setText(d, "edsm", t);
            setText(d, "edadd", "a" + t);
            setText(d, "edyb", "p" + t);
            setText(d, "edje", t);
            break;
        case 3:
            setText(d, "edly", "s" + t);
            setText(d, "edzl", "k" + t);
            setText(d, "edsm", t);
            setText(d, "edje", t);
            break;
        default:
            setText(d, "edname", "w" + t);
            setText(d, "edzl", "k" + t);
            setText(d, "edsm", t);
            setText(d, "edje", t);
            break;
        }
    }

    // Makes the row that carries the token current, as a click on the grid would.
    void selectRow(int b, const QString& t) {
        static const char* prefix[] = {"c", "c", "s", "w"};
        const std::string want = (prefix[b - 1] + t).toStdString();
        auto& c = r_.Form1->table1;
        const int pos = b == 1 ? 0 : 1;
        for (int row = 0; row < c.recordCount(); ++row) {
            if (c.rowText(row, pos) == want) {
                c.moveTo(row);
                return;
            }
        }
        say("err\tno row " + t);
        ::_exit(3);
    }

    void select(const QString& name) {
        auto items = r_.l->list1->findItems(name, Qt::MatchExactly);
        if (items.isEmpty()) {
            say("err\tno ledger " + name);
            ::_exit(3);
        }
        r_.l->list1->setCurrentItem(items.first());
    }

    void run(const QStringList& f) {
        const QString& seq = f.value(0);
        const QString& cmd = f.value(1);
        if (cmd == "enter") {
            // A server's list may show a count after the name: its item keeps the name too.
            for (int i = 0; i < r_.l->list1->count(); ++i) {
                QListWidgetItem* item = r_.l->list1->item(i);
                if (item->text() == f.value(2) || item->data(Qt::UserRole).toString() == f.value(2))
                    r_.l->list1->setCurrentItem(item);
            }
            r_.l->BitBtn1->click();
        } else if (cmd == "server") {
            // 连接服务器… with the address typed.
            p_.inputs.push_back(f.value(2));
            r_.l->connectAction->trigger();
        } else if (cmd == "new") {
            p_.inputs.push_back(f.value(2));
            r_.l->BitBtn2->click();
        } else if (cmd == "add" || cmd == "edit" || cmd == "del") {
            const int b = f.value(2).toInt();
            openBook(b);
            if (cmd == "add") {
                r_.Form1->btnadd->click();
                fill(b, f.value(3));
            } else {
                selectRow(b, f.value(3));
                if (cmd == "del") {
                    r_.Form1->btndel->click();
                    ack(seq);
                    return;
                }
                r_.Form1->btnedit->click();
                fill(b, f.value(4));
            }
            child<QPushButton>(dialog(b), "btn")->click();
        } else if (cmd == "export") {
            // A book into a file, as its right-click menu does it.
            openBook(f.value(2).toInt());
            p_.savePathAnswer = f.value(4);
            (f.value(3) == "xlsx" ? r_.Form1->exportXlsxAction : r_.Form1->exportCsvAction)->trigger();
        } else if (cmd == "backupall") {
            // The chooser's 备份全部帐本到… into a folder.
            p_.folderAnswer = f.value(2);
            r_.l->backupAllAction->trigger();
        } else if (cmd == "leave") {
            r_.Form1->close(); // backs the ledger up
        } else if (cmd == "undo") {
            openBook(f.value(2).toInt());
            r_.Form1->refreshSafetyMenu(); // as the right-click does
            r_.Form1->undoDeleteAction->trigger();
        } else if (cmd == "restore") {
            // The snapshot at this place of the list (newest first); says which it was.
            auto items = r_.l->list1->findItems(f.value(2), Qt::MatchExactly);
            if (!items.isEmpty())
                r_.l->list1->setCurrentItem(items.first());
            const auto snapshots = tsl::listSnapshots(ledgerFile(f.value(2)));
            const int k = f.value(3).toInt();
            if (k < int(snapshots.size())) {
                p_.rowChoice = k;
                say("restoring\t" + QString::fromStdString(snapshots[snapshots.size() - 1 - std::size_t(k)].path));
                r_.l->restoreAction->trigger();
            }
        } else if (cmd == "rename") {
            // 重命名帐本… on a ledger of the list, the new name typed.
            select(f.value(2));
            p_.inputs.push_back(f.value(3));
            r_.l->renameAction->trigger();
        } else if (cmd == "delete") {
            select(f.value(2)); // the question is answered 是
            r_.l->deleteAction->trigger();
        } else if (cmd == "undelete") {
            // 从备份恢复… on the list's empty part: the deleted ledger's snapshot
            // at this place of its own (newest first); says which it was.
            std::vector<std::string> listed;
            for (int i = 0; i < r_.l->list1->count(); ++i)
                listed.push_back(r_.l->list1->item(i)->text().toStdString());
            int row = 0, want = -1;
            for (const std::string& n : tsl::deletedLedgers(listed)) {
                const auto snapshots = tsl::listSnapshots(n + ".mdb");
                for (std::size_t k = 0; k < snapshots.size(); ++k, ++row)
                    if (n == f.value(2).toStdString() && int(k) == f.value(3).toInt()) {
                        want = row;
                        say("restoring\t" + QString::fromStdString(snapshots[snapshots.size() - 1 - k].path));
                    }
            }
            if (want >= 0) {
                r_.l->list1->clearSelection();
                r_.l->list1->setCurrentItem(nullptr);
                p_.rowChoice = want;
                r_.l->restoreAction->trigger();
            }
        } else if (cmd == "quit") {
            r_.l->close();
            QCoreApplication::exit(0);
        }
        ack(seq);
    }

    Roster& r_;
    AutoPrompter& p_;
    std::string pending_;
    bool busy_ = false;
};

} // namespace

int main(int argc, char** argv) {
    // TSL_POWERCUT="<event> <seed> <stash folder> [exit]": the power goes at that
    // event, or with "exit" once the program has ended.
    bool cutAtExit = false;
    if (const char* cut = std::getenv("TSL_POWERCUT")) {
        std::istringstream in(cut);
        long at = 0;
        unsigned seed = 0;
        std::string stash, when;
        in >> at >> seed >> stash >> when;
        cutAtExit = when == "exit";
        tsltest::PowerCut::start(stash, at, seed);
    }
    QApplication app(argc, argv);
    applyAppLook(app);
    app.setQuitOnLastWindowClosed(false);
    AutoPrompter prompter;
    tsl::FolderLock lock;
    if (!lock.tryLock()) {
        say("locked");
        return 2;
    }
    tsl::SystemClock clock(tsl::systemShortDatePattern());
    Roster roster(prompter, clock);
    roster.create();
    roster.l->show();
    QStringList names;
    for (int i = 0; i < roster.l->list1->count(); ++i)
        names << roster.l->list1->item(i)->text();
    say("ready\t" + names.join('\t'));
    say("events\t" + QString::number(tsltest::PowerCut::events()));
    Driver driver(roster, prompter);
    const int rc = app.exec();
    if (cutAtExit)
        tsltest::PowerCut::cutNow();
    return rc;
}
