// The chooser's commands on whole ledgers, reached by right-click on the
// ledger list: a new ledger that takes the customers and lookup lists of the
// chosen one, renaming and deleting a ledger, bringing back a deleted one, and
// ledgers from a folder of 备份全部帐本到…. The work is done in storage/ledgerops.
#include "forms/lb.h"
#include "forms/lbtexts.h"

#include "forms/Unit1.h"
#include "forms/roster.h"
#include "storage/backup.h"
#include "storage/connection.h"
#include "storage/error.h"
#include "storage/failure.h"
#include "storage/ledgerops.h"
#include "storage/schema.h"
#include "widgets/guard.h"
#include "widgets/menuitem.h"
#include "widgets/prompter.h"
#include "widgets/waitcursor.h"

#include <QAction>
#include <QKeySequence>
#include <QListWidget>
#include <QMouseEvent>

#include <algorithm>
#include <ctime>

namespace {

using namespace lbtexts;



// What went wrong, as far as the storage layer sorted it.
tsl::Failure kindOf(const std::exception& e) {
    const auto* error = dynamic_cast<const tsl::Error*>(&e);
    return error ? error->kind() : tsl::Failure::Other;
}

QString quoted(const QString& name) { return QLatin1Char('"') + name + QLatin1Char('"'); }

// A right-click on the list's empty part chooses no ledger, so that 从备份恢复…
// reaches the deleted ones.
class ClearOnEmptyClick final : public QObject {
public:
    explicit ClearOnEmptyClick(QListWidget* list) : QObject(list), list_(list) {}

protected:
    bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == QEvent::MouseButtonPress) {
            auto* m = static_cast<QMouseEvent*>(e);
            if (m->button() == Qt::RightButton && !list_->itemAt(m->position().toPoint())) {
                list_->clearSelection();
                list_->setCurrentItem(nullptr);
            }
        }
        return false;
    }

private:
    QListWidget* list_;
};

// The name of the snapshot at `path`, as the restore list shows it.
QString snapshotTime(const std::string& file, const std::string& path) {
    for (const tsl::Snapshot& s : tsl::listSnapshots(file))
        if (s.path == path)
            return fromStd(tsl::snapshotTimeText(s));
    return {};
}

QStringList bookCounts(const std::string& path) {
    QStringList row;
    const std::vector<long long> counts = tsl::snapshotRowCounts(path);
    if (counts.empty())
        row << QStringLiteral("无法读取");
    for (long long n : counts)
        row << QString::number(n);
    return row;
}

const QStringList kBookHeaders{QStringLiteral("客户"), QStringLiteral("发货"), QStringLiteral("进货"),
                               QStringLiteral("交货")};

} // namespace

void Tl::installLedgerMenu() {
    restoreFolderAction = menuItem(list1, "restoreFolderAction", QStringLiteral("从备份文件夹恢复(&F)…"), this,
                                   [this] { restoreFolderClick(); });
    restoreFolderAction->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_R));
    auto* gap = new QAction(list1);
    gap->setSeparator(true);
    list1->addAction(gap);
    newFromAction = menuItem(list1, "newFromAction", QStringLiteral("新建帐本(从旧帐本带入)(&N)…"), this,
                             [this] { newFromClick(); });
    newFromAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_N));
    renameAction = menuItem(list1, "renameAction", QStringLiteral("重命名帐本(&M)…"), this, [this] { renameClick(); });
    renameAction->setShortcut(QKeySequence(Qt::Key_F2));
    deleteAction = menuItem(list1, "deleteAction", QStringLiteral("删除帐本(&D)…"), this, [this] { deleteClick(); });
    deleteAction->setShortcut(QKeySequence(Qt::Key_Delete));
    list1->viewport()->installEventFilter(new ClearOnEmptyClick(list1));
    updateLedgerActions();
}

std::vector<std::string> Tl::listedNames() const {
    if (onServer())
        return localNames_;
    std::vector<std::string> names;
    for (int i = 0; i < list1->count(); ++i)
        names.push_back(list1->item(i)->text().toStdString());
    return names;
}

void Tl::updateLedgerActions() {
    if (!newFromAction)
        return; // still being built
    const bool chosen = !list1->selectedItems().isEmpty();
    const bool server = onServer();
    for (QAction* a : {renameAction, deleteAction})
        a->setEnabled(chosen);
    // Snapshots and folders are the local folder's: not on the server's list.
    newFromAction->setEnabled(chosen && !server);
    backupAllAction->setEnabled(!server);
    restoreFolderAction->setEnabled(!server);
    if (connectAction) {
        disconnectAction->setEnabled(server || !storedServerAddress().isEmpty());
        uploadAction->setEnabled(server ? !localNames_.empty() : chosen);
        downloadAction->setEnabled(server && chosen);
    }
    if (server) {
        restoreAction->setEnabled(chosen);
        return;
    }
    bool deleted = false;
    if (!chosen) {
        try {
            deleted = !tsl::deletedLedgers(listedNames()).empty();
        } catch (...) {
        }
    }
    restoreAction->setEnabled(chosen || deleted);
}

void Tl::relist(const QString& name) {
    if (onServer()) {
        try {
            listServer(name);
        } catch (const std::exception& e) {
            fallBackToLocal(fromStd(tsl::errorText(e)));
        }
        return;
    }
    try {
        openIndex();
    } catch (const std::exception& e) {
        r_.prompter.failure(windowTitle(), QStringLiteral("无法打开程序,") + fromStd(tsl::errorText(e)));
    }
    const auto found = list1->findItems(name, Qt::MatchExactly);
    if (!found.isEmpty())
        list1->setCurrentItem(found.front());
    updateLedgerActions();
}

bool Tl::refuseEntered(const QString& name, const QString& text) {
    TForm1& ws = *r_.Form1;
    const bool onFile = ws.ado1.connected() && !ws.ado1.onServer() && tsl::Connection::dataSource(ws.ado1.connectionString()) ==
                                                   ledgerFile(name);
    if (onFile && ws.isVisible()) {
        r_.prompter.notice(windowTitle(), text);
        return true;
    }
    // Left, but the workspace still holds the file: it lets go now.
    if (onFile)
        ws.ado1.disconnect();
    return false;
}

void Tl::newFromClick() {
    guarded(r_.prompter, [this] {
        const QList<QListWidgetItem*> chosen = list1->selectedItems();
        if (chosen.isEmpty() || chosen.front()->text().isEmpty()) {
            r_.prompter.notice(windowTitle(), kSelectLedger);
            return;
        }
        const QString source = chosen.front()->text();
        if (!isUsableLedgerName(source)) {
            r_.prompter.notice(windowTitle(), kCannotOpen);
            return;
        }
        const QString name = trimLedgerName(r_.prompter.askText(
            QStringLiteral("新建帐本(从旧帐本带入)!"),
            QStringLiteral("在下面输下你要的帐本名称,如:\"2004年的帐本\"\n帐本") + quoted(source) +
                QStringLiteral("的客户资料和下拉列表将带入新帐本."),
            {}, 255));
        if (name.isEmpty() || refuseNewName(name, false))
            return;
        try {
            WaitCursor wait;
            table1.close();
            tsl::createLedgerFrom(ado1, std::string(tsl::kIndexFile), name.toStdString(), source.toStdString());
        } catch (const std::exception& e) {
            relist(source);
            if (kindOf(e) == tsl::Failure::Exists)
                r_.prompter.notice(windowTitle(), kCopyFailed);
            else if (kindOf(e) == tsl::Failure::NameTooLong)
                r_.prompter.notice(windowTitle(), kNameTooLong);
            else
                r_.prompter.failure(windowTitle(), QStringLiteral("无法建立帐本,什么也没有改变!\n") +
                                                       fromStd(tsl::errorText(e)));
            return;
        }
        relist(name);
        r_.prompter.message(kCreated);
        try {
            enterLedger(name);
        } catch (...) {
            r_.prompter.message(kCannotOpen);
        }
    });
}

void Tl::renameClick() {
    guarded(r_.prompter, [this] {
        if (onServer()) {
            serverRename();
            return;
        }
        const QList<QListWidgetItem*> chosen = list1->selectedItems();
        if (chosen.isEmpty() || chosen.front()->text().isEmpty()) {
            r_.prompter.notice(windowTitle(), kSelectLedger);
            return;
        }
        const QString from = chosen.front()->text();
        if (!isUsableLedgerName(from)) {
            r_.prompter.notice(windowTitle(), kCannotOpen);
            return;
        }
        const QString to = trimLedgerName(r_.prompter.askText(
            QStringLiteral("重命名帐本!"),
            QStringLiteral("在下面输下帐本") + quoted(from) + QStringLiteral("的新名称:"), from, 255));
        if (to.isEmpty() || to == from)
            return;
        if (refuseNewName(to, false, QStringLiteral("这个名称不能用作帐本的文件名,请改名!")))
            return;
        if (refuseEntered(from, QStringLiteral("帐本正在使用,请先退出该帐本再改名!")))
            return;
        try {
            WaitCursor wait;
            table1.close();
            tsl::renameLedger(ado1, from.toStdString(), to.toStdString());
        } catch (const std::exception& e) {
            relist(from);
            if (kindOf(e) == tsl::Failure::Locked)
                r_.prompter.failure(windowTitle(), kInUse);
            else if (kindOf(e) == tsl::Failure::Exists)
                r_.prompter.notice(windowTitle(), QStringLiteral("文件") + quoted(fromStd(ledgerFile(to))) +
                                                      QStringLiteral("已经存在,请改名!"));
            else
                r_.prompter.failure(windowTitle(), QStringLiteral("改名失败,帐本没有改变!\n") +
                                                       fromStd(tsl::errorText(e)));
            return;
        }
        relist(to);
    });
}

void Tl::deleteClick() {
    guarded(r_.prompter, [this] {
        if (onServer()) {
            serverDelete();
            return;
        }
        const QList<QListWidgetItem*> chosen = list1->selectedItems();
        if (chosen.isEmpty() || chosen.front()->text().isEmpty()) {
            r_.prompter.notice(windowTitle(), kSelectLedger);
            return;
        }
        const QString name = chosen.front()->text();
        if (!isUsableLedgerName(name)) {
            r_.prompter.notice(windowTitle(), kCannotOpen);
            return;
        }
        if (refuseEntered(name, QStringLiteral("帐本正在使用,请先退出该帐本再删除!")))
            return;
        if (!r_.prompter.confirm(windowTitle(), QStringLiteral("要删除帐本") + quoted(name) +
                                                   QStringLiteral("吗!\n删除前会先备份,以后可以用\"从备份恢复\"找回.")))
            return;
        std::string kept;
        try {
            WaitCursor wait;
            table1.close();
            kept = tsl::deleteLedger(ado1, name.toStdString(), std::time(nullptr));
        } catch (const std::exception& e) {
            relist(name);
            if (kindOf(e) == tsl::Failure::Locked)
                r_.prompter.failure(windowTitle(), kInUse);
            else
                r_.prompter.failure(windowTitle(), QStringLiteral("删除失败,帐本没有改变!\n") +
                                                       fromStd(tsl::errorText(e)));
            return;
        }
        relist({});
        QString done = QStringLiteral("帐本") + quoted(name) + QStringLiteral("已删除!");
        if (!kept.empty())
            done += QStringLiteral("\n删除前的内容已备份为") + snapshotTime(ledgerFile(name), kept) +
                    QStringLiteral("的备份,可以在空白处右击,用\"从备份恢复\"找回.");
        r_.prompter.notice(windowTitle(), done);
    });
}

void Tl::restoreDeletedClick() {
    const std::vector<std::string> deleted = tsl::deletedLedgers(listedNames());
    if (deleted.empty()) {
        r_.prompter.notice(windowTitle(), kSelectLedger);
        return;
    }
    // Every snapshot of every deleted ledger, newest first within a ledger.
    std::vector<std::pair<std::string, tsl::Snapshot>> all;
    QList<QStringList> rows;
    for (const std::string& name : deleted) {
        const auto snapshots = tsl::listSnapshots(ledgerFile(fromStd(name)));
        for (auto it = snapshots.rbegin(); it != snapshots.rend(); ++it) {
            all.emplace_back(name, *it);
            rows << (QStringList{fromStd(name), fromStd(tsl::snapshotTimeText(*it))} + bookCounts(it->path));
        }
    }
    const int pick = r_.prompter.chooseRow(QStringLiteral("从备份恢复!"), QStringLiteral("已删除的帐本的备份:"),
                                           QStringList{QStringLiteral("帐本"), QStringLiteral("备份时间")} +
                                               kBookHeaders,
                                           rows);
    if (pick < 0 || pick >= int(all.size()))
        return;
    const auto& [name, snapshot] = all[std::size_t(pick)];
    const QString when = fromStd(tsl::snapshotTimeText(snapshot));
    const QString qname = fromStd(name);
    if (!r_.prompter.confirm(windowTitle(), QStringLiteral("要把已删除的帐本") + quoted(qname) +
                                               QStringLiteral("按") + when + QStringLiteral("的备份找回吗!")))
        return;
    try {
        WaitCursor wait;
        table1.close();
        tsl::restoreDeletedLedger(ado1, name, snapshot);
    } catch (const std::exception& e) {
        relist({});
        r_.prompter.failure(windowTitle(), QStringLiteral("恢复失败,什么也没有改变!\n") + fromStd(tsl::errorText(e)));
        return;
    }
    relist(qname);
    r_.prompter.notice(windowTitle(), QStringLiteral("帐本恢复成功!"));
}

void Tl::restoreFolderClick() {
    guarded(r_.prompter, [this] {
        const QString folder = r_.prompter.chooseFolder(QStringLiteral("从备份文件夹恢复"));
        if (folder.isEmpty())
            return;
        std::vector<std::string> names;
        try {
            names = tsl::ledgersInBackupFolder(folder.toStdString());
        } catch (const tsl::Error&) {
            r_.prompter.notice(windowTitle(), QStringLiteral("这个文件夹不是\"备份全部帐本到\"做的备份:\n") + folder);
            return;
        }
        if (names.empty()) {
            r_.prompter.notice(windowTitle(), QStringLiteral("这个备份文件夹里没有帐本:\n") + folder);
            return;
        }
        const std::vector<std::string> listed = listedNames();
        QList<QStringList> rows;
        rows << QStringList{QStringLiteral("(全部帐本)"), QStringLiteral("%1个").arg(names.size())};
        for (const std::string& n : names) {
            const bool isListed = std::find(listed.begin(), listed.end(), n) != listed.end();
            rows << (QStringList{fromStd(n)} +
                     bookCounts(folder.toStdString() + "/" + tsl::ledgerFileOf(n)) +
                     QStringList{isListed ? QStringLiteral("替换现有的帐本(先备份)") : QStringLiteral("加入帐本列表")});
        }
        const int pick = r_.prompter.chooseRow(
            QStringLiteral("从备份文件夹恢复!"), QStringLiteral("备份文件夹") + quoted(folder) + QStringLiteral("里的帐本:"),
            QStringList{QStringLiteral("帐本")} + kBookHeaders + QStringList{QStringLiteral("恢复后")}, rows);
        if (pick < 0 || pick > int(names.size()))
            return;
        std::vector<std::string> chosen =
            pick == 0 ? names : std::vector<std::string>{names[std::size_t(pick - 1)]};
        QString question = QStringLiteral("要从备份文件夹恢复这些帐本吗!");
        for (const std::string& n : chosen)
            question += QLatin1Char('\n') + fromStd(n);
        question += QStringLiteral("\n现有的帐本会先备份,可以再恢复回来.");
        if (!r_.prompter.confirm(windowTitle(), question))
            return;

        QStringList done, failed;
        bool replaced = false;
        {
            WaitCursor wait;
            table1.close();
            for (const std::string& n : chosen) {
                const QString qn = fromStd(n);
                if (!isUsableLedgerName(qn) || hasInvisibleCharacters(qn)) {
                    failed << qn + QStringLiteral(": 这个名称不能用作帐本的文件名");
                    continue;
                }
                if (refuseEntered(qn, QStringLiteral("帐本") + quoted(qn) +
                                          QStringLiteral("正在使用,请先退出该帐本再恢复!")))
                    continue;
                try {
                    if (!tsl::restoreLedgerFromFolder(ado1, folder.toStdString(), n, std::time(nullptr)).empty())
                        replaced = true;
                    done << qn;
                } catch (const std::exception& e) {
                    failed << qn + QStringLiteral(": ") +
                                  (kindOf(e) == tsl::Failure::Locked ? kInUse : fromStd(tsl::errorText(e)));
                }
            }
        }
        relist(done.isEmpty() ? QString() : done.back());
        QString text;
        if (!done.isEmpty())
            text = QStringLiteral("这些帐本已恢复:\n") + done.join(QLatin1Char('\n'));
        if (replaced)
            text += QStringLiteral("\n被替换的帐本原来的内容已备份,可以用\"从备份恢复\"找回.");
        if (!failed.isEmpty())
            text += (text.isEmpty() ? QString() : QStringLiteral("\n")) +
                    QStringLiteral("这些帐本没有恢复,保持原样:\n") + failed.join(QLatin1Char('\n'));
        if (failed.isEmpty())
            r_.prompter.notice(windowTitle(), text);
        else if (!text.isEmpty())
            r_.prompter.failure(windowTitle(), text);
    });
}
