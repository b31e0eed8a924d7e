// The chooser's backup commands, reached by right-click on the ledger list:
// restore a ledger from one of its snapshots, copy every ledger to a folder of
// the user's choice; and the automatic backup when a ledger is left and when
// the program ends. The work itself is done in storage/backup.
#include "forms/lb.h"
#include "forms/lbtexts.h"
#include "widgets/menuitem.h"

#include "forms/Unit1.h"
#include "storage/backup.h"
#include "storage/connection.h"
#include "storage/failure.h"
#include "widgets/guard.h"
#include "forms/help.h"
#include "widgets/prompter.h"
#include "forms/roster.h"
#include "storage/pgsession.h"
#include "storage/schema.h"
#include "storage/serverbackup.h"
#include "widgets/waitcursor.h"

#include <QAction>
#include <QKeySequence>
#include <QListWidget>

#include <ctime>

namespace {

using namespace lbtexts;


} // namespace

void Tl::installBackupMenu() {
    // A right-click selects the line under the pointer, then shows these.
    restoreAction = menuItem(list1, "restoreAction", QStringLiteral("从备份恢复…"), this, [this] { restoreClick(); });
    backupAllAction =
        menuItem(list1, "backupAllAction", QStringLiteral("备份全部帐本到…"), this, [this] { backupAllClick(); });
    restoreAction->setEnabled(false);
    connect(list1, &QListWidget::itemSelectionChanged, this, [this] { updateLedgerActions(); });

    // Keys for them, and the help (F1): the chooser's layout has no room for a menu.
    restoreAction->setText(QStringLiteral("从备份恢复(&R)…"));
    restoreAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_R));
    backupAllAction->setText(QStringLiteral("备份全部帐本到(&B)…"));
    backupAllAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_B));
    installLedgerMenu();
    installServerMenu();
    auto* gap = new QAction(list1);
    gap->setSeparator(true);
    list1->addAction(gap);
    helpAction = menuItem(list1, "helpAction", QStringLiteral("使用帮助(&H)"), this,
                          [this] { guarded(r_.prompter, [this] { r_.prompter.notice(windowTitle(), helpText(r_)); }); });
    helpAction->setShortcut(QKeySequence(Qt::Key_F1));
    for (QAction* a : {restoreAction, backupAllAction, restoreFolderAction, newFromAction, renameAction, deleteAction,
                       helpAction})
        a->setShortcutContext(Qt::WindowShortcut);
}

std::vector<std::string> Tl::listedLedgerFiles() const {
    std::vector<std::string> files;
    for (const std::string& n : listedNames()) {
        const QString name = fromStd(n);
        if (isUsableLedgerName(name))
            files.push_back(ledgerFile(name));
    }
    return files;
}

std::vector<std::string> Tl::serverBackupFailures(const std::string& ledger) noexcept {
    std::vector<std::string> failures;
    if (ledger.empty() || !server_ || !server_->alive())
        return failures;
    try {
        WaitCursor wait;
        (void)tsl::backupServerLedger(*server_, ledger, std::string(tsl::kIndexFile), std::time(nullptr));
    } catch (const std::exception& e) {
        failures.push_back(ledger + ": " + tsl::errorText(e));
    } catch (...) {
        failures.push_back(ledger + ": ?");
    }
    return failures;
}

void Tl::autoBackup(const std::vector<std::string>& files, const std::string& serverLedger) noexcept {
    std::vector<std::string> failures = serverBackupFailures(serverLedger);
    for (std::string& f : backupFailures(files))
        failures.push_back(std::move(f));
    reportBackupFailures(failures);
}

std::vector<std::string> Tl::backupFailures(const std::vector<std::string>& files) noexcept {
    try {
        WaitCursor wait;
        return tsl::backupChanged(files, std::time(nullptr));
    } catch (const std::exception& e) {
        return {tsl::errorText(e)};
    } catch (...) {
        return {"?"};
    }
}

void Tl::reportBackupFailures(const std::vector<std::string>& failures) noexcept {
    guarded(r_.prompter, [&] {
        if (failures.empty()) {
            backupFailureShown_ = false;
            return;
        }
        // Once: a full disk would otherwise be announced on every leave.
        if (backupFailureShown_)
            return;
        backupFailureShown_ = true;
        QString text = QStringLiteral("自动备份失败,帐本本身没有受影响!");
        for (const std::string& f : failures)
            text += QLatin1Char('\n') + fromStd(f);
        r_.prompter.notice(windowTitle(), text);
    });
}

const tsl::Snapshot* Tl::chooseSnapshot(const QString& name, const std::vector<tsl::Snapshot>& snapshots) {
    // Newest first, with the size of each book, so the right one can be told apart.
    QList<QStringList> rows;
    for (auto it = snapshots.rbegin(); it != snapshots.rend(); ++it) {
        QStringList row{fromStd(tsl::snapshotTimeText(*it))};
        const std::vector<long long> counts = tsl::snapshotRowCounts(it->path);
        if (counts.empty())
            row << QStringLiteral("无法读取");
        for (long long n : counts)
            row << QString::number(n);
        rows << row;
    }
    const int pick = r_.prompter.chooseRow(
        QStringLiteral("从备份恢复!"), QStringLiteral("帐本\"") + name + QStringLiteral("\"的备份:"),
        {QStringLiteral("备份时间"), QStringLiteral("客户"), QStringLiteral("发货"), QStringLiteral("进货"),
         QStringLiteral("交货")},
        rows);
    if (pick < 0 || pick >= int(snapshots.size()))
        return nullptr;
    return &snapshots[snapshots.size() - 1 - std::size_t(pick)];
}

void Tl::serverRestoreClick() {
    const QString name = chosenName();
    if (name.isEmpty())
        return;
    TForm1& ws = *r_.Form1;
    if (ws.ado1.onServer() && ws.ado1.serverLedger() == name.toStdString() && ws.isVisible()) {
        r_.prompter.notice(windowTitle(), QStringLiteral("帐本正在使用,请先退出该帐本再恢复!"));
        return;
    }
    tsl::pg::Session& session = serverSession();
    const std::string key = tsl::serverSnapshotKey(session, name.toStdString());
    const std::vector<tsl::Snapshot> snapshots = tsl::listSnapshots(key);
    if (snapshots.empty()) {
        r_.prompter.notice(windowTitle(), QStringLiteral("该帐本还没有备份!"));
        return;
    }
    const tsl::Snapshot* snapshot = chooseSnapshot(name, snapshots);
    if (!snapshot)
        return;
    const QString when = fromStd(tsl::snapshotTimeText(*snapshot));
    if (!r_.prompter.confirm(windowTitle(), QStringLiteral("要把帐本\"") + name + QStringLiteral("\"恢复到") + when +
                                              QStringLiteral("的备份吗!\n现在的内容会先备份,可以再恢复回来.")))
        return;
    std::string kept;
    try {
        WaitCursor wait;
        kept = tsl::restoreServerLedger(session, name.toStdString(), *snapshot, std::string(tsl::kIndexFile),
                                        std::time(nullptr));
    } catch (const std::exception& e) {
        serverFailure(QStringLiteral("恢复失败,帐本没有改变!"), e);
        return;
    }
    QString done = QStringLiteral("帐本恢复成功!");
    for (const tsl::Snapshot& s : tsl::listSnapshots(key)) {
        if (s.path == kept)
            done += QStringLiteral("\n恢复前的内容已备份为") + fromStd(tsl::snapshotTimeText(s)) +
                    QStringLiteral("的备份.");
    }
    r_.prompter.notice(windowTitle(), done);
}

void Tl::restoreClick() {
    guarded(r_.prompter, [this] {
        if (onServer()) {
            serverRestoreClick();
            return;
        }
        const QList<QListWidgetItem*> chosen = list1->selectedItems();
        if (chosen.isEmpty() || chosen.front()->text().isEmpty()) {
            restoreDeletedClick(); // the snapshots of a deleted ledger, if any
            return;
        }
        const QString name = chosen.front()->text();
        if (!isUsableLedgerName(name)) {
            r_.prompter.notice(windowTitle(), QStringLiteral("无法打开帐本!"));
            return;
        }
        const std::string file = ledgerFile(name);
        TForm1& ws = *r_.Form1;
        const bool wsOnFile =
            ws.ado1.connected() && !ws.ado1.onServer() && tsl::Connection::dataSource(ws.ado1.connectionString()) == file;
        if (wsOnFile && ws.isVisible()) {
            r_.prompter.notice(windowTitle(), QStringLiteral("帐本正在使用,请先退出该帐本再恢复!"));
            return;
        }
        const std::vector<tsl::Snapshot> snapshots = tsl::listSnapshots(file);
        if (snapshots.empty()) {
            r_.prompter.notice(windowTitle(), QStringLiteral("该帐本还没有备份!"));
            return;
        }

        const tsl::Snapshot* chosenSnapshot = chooseSnapshot(name, snapshots);
        if (!chosenSnapshot)
            return;
        const tsl::Snapshot& snapshot = *chosenSnapshot;
        const QString when = fromStd(tsl::snapshotTimeText(snapshot));
        if (!r_.prompter.confirm(windowTitle(), QStringLiteral("要把帐本\"") + name + QStringLiteral("\"恢复到") + when +
                                  QStringLiteral("的备份吗!\n现在的内容会先备份,可以再恢复回来.")))
            return;

        // Left, but the workspace still holds the file open: it lets go now and
        // opens the restored file on the next entry.
        if (wsOnFile)
            ws.ado1.disconnect();
        std::string kept;
        try {
            WaitCursor wait;
            kept = tsl::restoreSnapshot(file, snapshot, std::time(nullptr));
        } catch (const std::exception& e) {
            r_.prompter.failure(windowTitle(), QStringLiteral("恢复失败,帐本没有改变!\n") + QString::fromUtf8(e.what()));
            return;
        }
        QString done = QStringLiteral("帐本恢复成功!");
        for (const tsl::Snapshot& s : tsl::listSnapshots(file)) {
            if (s.path == kept)
                done += QStringLiteral("\n恢复前的内容已备份为") + fromStd(tsl::snapshotTimeText(s)) +
                        QStringLiteral("的备份.");
        }
        r_.prompter.notice(windowTitle(), done);
    });
}

void Tl::backupAllClick() {
    guarded(r_.prompter, [this] {
        const QString folder = r_.prompter.chooseFolder(QStringLiteral("备份全部帐本到"));
        if (folder.isEmpty())
            return;
        std::vector<std::string> skipped;
        std::string written;
        try {
            WaitCursor wait;
            written = tsl::backupAllTo(folder.toStdString(), std::string(tsl::kIndexFile), listedLedgerFiles(),
                                       std::time(nullptr), &skipped);
        } catch (const std::exception& e) {
            r_.prompter.failure(windowTitle(), QStringLiteral("备份失败!\n") + QString::fromUtf8(e.what()));
            return;
        }
        QString done = QStringLiteral("全部帐本已备份到:\n") + fromStd(written);
        if (!skipped.empty()) {
            done += QStringLiteral("\n找不到这些帐本的文件:");
            for (const std::string& f : skipped)
                done += QLatin1Char('\n') + fromStd(f);
        }
        r_.prompter.notice(windowTitle(), done);
    });
}
