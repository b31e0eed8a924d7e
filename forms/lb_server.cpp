// The chooser on a server store, reached by right-click on the ledger list:
// connecting to a server (its address kept in the user's settings, never a
// password), going back to the local folder, ledgers copied up and down, and
// the chooser's own commands on the server's ledgers. The work is done in
// storage/pgsession and storage/ledgermove.
#include "forms/lb.h"
#include "forms/lbtexts.h"

#include "forms/Unit1.h"
#include "forms/roster.h"
#include "storage/error.h"
#include "storage/failure.h"
#include "storage/fileops.h"
#include "storage/ledgermove.h"
#include "storage/pgsession.h"
#include "storage/scan.h"
#include "storage/schema.h"
#include "widgets/guard.h"
#include "widgets/menuitem.h"
#include "widgets/prompter.h"
#include "widgets/windowsetup.h"
#include "widgets/waitcursor.h"

#include <QAction>
#include <QFontMetrics>
#include <QKeySequence>
#include <QLabel>
#include <QListWidget>
#include <QSettings>

#include <algorithm>
#include <utility>

namespace {

using namespace lbtexts;

const QString kSettingsKey = QStringLiteral("store/server");
constexpr int kNameRole = Qt::UserRole;

const QString kNameTaken = QStringLiteral("帐本名称已存在,请改名!");
const QString kUnusableName = QStringLiteral("这个名称不能用作帐本的名称,请改名!");
const QString kStillLocal = QStringLiteral("\n现在列出的是本机的帐本.");

QString quoted(const QString& name) { return QLatin1Char('"') + name + QLatin1Char('"'); }

QString textOf(const std::exception& e) { return fromStd(tsl::errorText(e)); }

} // namespace

QString storedServerAddress() {
    return QSettings(QStringLiteral("tessolan"), QStringLiteral("tessolan")).value(kSettingsKey).toString();
}

void storeServerAddress(const QString& address) {
    QSettings settings(QStringLiteral("tessolan"), QStringLiteral("tessolan"));
    if (address.isEmpty())
        settings.remove(kSettingsKey);
    else
        settings.setValue(kSettingsKey, address);
    settings.sync();
}

void Tl::installServerMenu() {
    auto* gap = new QAction(list1);
    gap->setSeparator(true);
    list1->addAction(gap);
    connectAction =
        menuItem(list1, "connectAction", QStringLiteral("连接服务器(&S)…"), this, [this] { connectClick(); });
    connectAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_K));
    disconnectAction =
        menuItem(list1, "disconnectAction", QStringLiteral("断开服务器(&X)"), this, [this] { disconnectClick(); });
    uploadAction = menuItem(list1, "uploadAction", QStringLiteral("上传到服务器(&U)…"), this, [this] { uploadClick(); });
    uploadAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_U));
    downloadAction =
        menuItem(list1, "downloadAction", QStringLiteral("下载到本机(&L)…"), this, [this] { downloadClick(); });
    downloadAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_D));
    refreshAction = menuItem(list1, "refreshAction", QStringLiteral("刷新列表(&E)"), this,
                             [this] { guarded(r_.prompter, [this] { relist(chosenName()); }); });
    refreshAction->setShortcut(QKeySequence(Qt::Key_F5));
    for (QAction* a : {connectAction, disconnectAction, uploadAction, downloadAction, refreshAction})
        a->setShortcutContext(Qt::WindowShortcut);

    // In the free space right of the caption above the list.
    storeLabel = new QLabel(this);
    storeLabel->setObjectName(QStringLiteral("storeLabel"));
    storeLabel->setTextFormat(Qt::PlainText);
    storeLabel->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    const int left = Label1->geometry().right() + 6;
    storeLabel->setGeometry(left, Label1->y(), 251 - left, Label1->height());
    storeLabel->setAttribute(Qt::WA_TransparentForMouseEvents);
    storeLabel->hide();
}

void Tl::showStore() {
    if (!storeLabel)
        return;
    serverInPlay_ = serverInPlay_ || onServer();
    storeLabel->setVisible(serverInPlay_);
    // The host alone fits beside the caption; a server on this computer is
    // told from the local folder.
    QString text = QStringLiteral("本机");
    if (onServer()) {
        const QString host = fromStd(server_->hostLabel());
        text = host == text ? QStringLiteral("本机服务器") : host;
    }
    storeLabel->setText(QFontMetrics(storeLabel->font()).elidedText(text, Qt::ElideMiddle, storeLabel->width()));
    storeLabel->setToolTip(onServer() ? QStringLiteral("列出的是服务器") + quoted(storedServerAddress()) +
                                            QStringLiteral("上的帐本")
                                      : QStringLiteral("列出的是本机文件夹中的帐本"));
}

QString Tl::chosenName() const {
    const QList<QListWidgetItem*> chosen = list1->selectedItems();
    if (chosen.isEmpty())
        return {};
    const QVariant name = chosen.front()->data(kNameRole);
    return name.isValid() ? name.toString() : chosen.front()->text();
}

tsl::pg::Session& Tl::serverSession() {
    if (!server_)
        throw tsl::Error("没有连接服务器!");
    // A connection lost since the last command is made again, once. The
    // chooser's commands come at a person's pace: a round trip to find out is cheap.
    if (server_->alive()) {
        try {
            (void)server_->exec("SELECT 1");
        } catch (const tsl::Error&) {
        }
    }
    if (!server_->alive()) {
        server_ = std::make_unique<tsl::pg::Session>(serverAddress_.toStdString());
        // The hold of the entered ledger ended with the old session.
        if (!heldLedger_.isEmpty())
            tsl::pg::holdLedger(*server_, heldLedger_.toStdString());
    }
    return *server_;
}

void Tl::keepServerHold() noexcept {
    if (heldLedger_.isEmpty())
        return;
    try {
        tsl::pg::holdLedger(serverSession(), heldLedger_.toStdString());
    } catch (...) {
        // Taken again the next time the workspace reconnects.
    }
}

void Tl::fallBackToLocal(const QString& why) {
    server_.reset();
    relist({});
    showStore();
    r_.prompter.failure(windowTitle(), why + kStillLocal);
}

bool Tl::useServer(const QString& address) {
    // An unknown or silent host would otherwise hold the window for minutes.
    if (qEnvironmentVariableIsEmpty("PGCONNECT_TIMEOUT"))
        qputenv("PGCONNECT_TIMEOUT", "10");
    serverInPlay_ = true;
    std::unique_ptr<tsl::pg::Session> session;
    try {
        WaitCursor wait;
        session = std::make_unique<tsl::pg::Session>(address.toStdString());
        tsl::pg::ensureLayout(*session);
    } catch (const std::exception& e) {
        showStore();
        r_.prompter.failure(windowTitle(), QStringLiteral("无法连接服务器!\n") + textOf(e) + kStillLocal);
        return false;
    }
    if (!onServer())
        localNames_ = listedNames();
    server_ = std::move(session);
    serverAddress_ = address;
    try {
        listServer({});
    } catch (const std::exception& e) {
        fallBackToLocal(textOf(e));
        return false;
    }
    return true;
}

void Tl::listServer(const QString& name) {
    const std::vector<tsl::pg::LedgerUse> uses = tsl::pg::openCounts(serverSession());
    list1->clear();
    for (const tsl::pg::LedgerUse& u : uses) {
        const QString n = fromStd(u.name);
        auto* item = new QListWidgetItem(u.programs ? n + QStringLiteral(" (%1台电脑)").arg(u.programs) : n);
        item->setData(kNameRole, n);
        list1->addItem(item);
        if (n == name && !name.isEmpty())
            list1->setCurrentItem(item);
    }
    updateLedgerActions();
    showStore();
}

void Tl::connectClick() {
    guarded(r_.prompter, [this] {
        const QString stored = storedServerAddress();
        const QString address =
            r_.prompter
                .askText(QStringLiteral("连接服务器!"),
                         QStringLiteral("在下面输下服务器的地址,如:\npostgresql://tessolan@office-pc/workshop?sslmode=prefer\n"
                                        "密码不会被保存,请写在~/.pgpass文件中."),
                         stored.isEmpty() ? QStringLiteral("postgresql://") : stored, 1024)
                .trimmed();
        if (address.isEmpty() || address == QStringLiteral("postgresql://"))
            return;
        QString kept;
        try {
            kept = fromStd(tsl::pg::addressWithoutPassword(address.toStdString()));
        } catch (const std::exception& e) {
            r_.prompter.notice(windowTitle(), textOf(e));
            return;
        }
        if (useServer(address)) {
            storeServerAddress(kept);
            showStore();
        }
    });
}

void Tl::disconnectClick() {
    guarded(r_.prompter, [this] {
        server_.reset();
        serverAddress_.clear();
        storeServerAddress({});
        relist({});
        showStore();
    });
}

void Tl::serverFailure(const QString& what, const std::exception& e) {
    if (server_ && !server_->alive())
        fallBackToLocal(textOf(e));
    else
        r_.prompter.failure(windowTitle(), what + QStringLiteral("\n") + textOf(e));
}

void Tl::serverEnter() {
    const QString name = chosenName();
    if (name.isEmpty()) {
        r_.prompter.message(kSelectLedger);
        return;
    }
    TForm1& ws = *r_.Form1;
    try {
        WaitCursor wait; // a big book takes a while to open
        tsl::pg::Session& session = serverSession();
        ws.stopWatching();
        ws.ado1.disconnect();
        ws.ado1.setServer(serverAddress_.toStdString(), name.toStdString());
        try {
            ws.ado1.connect();
            tsl::reopen(ws.table1, tsl::table::customers);
        } catch (...) {
            ws.ado1.disconnect();
            ws.ado1.setServer({}, {});
            throw;
        }
        // Held while entered, so that the others' lists count this program.
        serverLedgerLeft();
        tsl::pg::holdLedger(session, name.toStdString());
        heldLedger_ = name;
    } catch (const std::exception& e) {
        serverFailure(QStringLiteral("无法打开帐本!"), e);
        return;
    }
    present(ws, Placement::Centred);
    hide();
    ws.setWindowTitle(QStringLiteral("帐本名称:") + name);
    ws.watchServer();
}

void Tl::serverLedgerLeft() noexcept {
    if (heldLedger_.isEmpty())
        return;
    const QString name = std::exchange(heldLedger_, QString());
    try {
        if (server_ && server_->alive()) {
            tsl::pg::releaseLedger(*server_, name.toStdString());
            listServer(name);
        }
    } catch (...) {
        // The hold ends with the session anyway.
    }
}

void Tl::serverCreate() {
    const QString name = trimLedgerName(r_.prompter.inputText(
        QStringLiteral("新建帐本!"), QStringLiteral("在下面输下你要的帐本名称,如:\"2004年的帐本\""), 255));
    if (name.isEmpty())
        return;
    for (int i = 0; i < list1->count(); ++i) {
        if (list1->item(i)->data(kNameRole).toString() == name) {
            r_.prompter.message(kNameTaken);
            return;
        }
    }
    // The same names as in the folder: each can come down into a ledger file.
    if (!isUsableLedgerName(name) || hasInvisibleCharacters(name)) {
        r_.prompter.notice(windowTitle(), kUnusableName);
        return;
    }
    try {
        WaitCursor wait;
        (void)tsl::pg::createLedger(serverSession(), name.toStdString());
        listServer(name);
    }
    catch (const std::exception& e) {
        serverFailure(QStringLiteral("无法建立帐本!"), e);
        return;
    }
    r_.prompter.message(kCreated);
}

void Tl::serverRename() {
    const QString from = chosenName();
    if (from.isEmpty()) {
        r_.prompter.notice(windowTitle(), kSelectLedger);
        return;
    }
    const QString to = trimLedgerName(r_.prompter.askText(
        QStringLiteral("重命名帐本!"), QStringLiteral("在下面输下帐本") + quoted(from) + QStringLiteral("的新名称:"),
        from, 255));
    if (to.isEmpty() || to == from)
        return;
    if (!isUsableLedgerName(to) || hasInvisibleCharacters(to)) {
        r_.prompter.notice(windowTitle(), kUnusableName);
        return;
    }
    try {
        tsl::pg::renameLedger(serverSession(), from.toStdString(), to.toStdString());
        listServer(to);
    } catch (const tsl::Error& e) {
        if (std::string_view(e.what()) == "帐本已存在!" && server_ && server_->alive()) {
            r_.prompter.notice(windowTitle(), kNameTaken);
            return;
        }
        if (server_ && !server_->alive())
            fallBackToLocal(textOf(e));
        else
            r_.prompter.failure(windowTitle(), QStringLiteral("改名失败,帐本没有改变!\n") + textOf(e));
    }
}

void Tl::serverDelete() {
    const QString name = chosenName();
    if (name.isEmpty()) {
        r_.prompter.notice(windowTitle(), kSelectLedger);
        return;
    }
    try {
        long long programs = 0;
        for (const tsl::pg::LedgerUse& u : tsl::pg::openCounts(serverSession()))
            if (fromStd(u.name) == name)
                programs = u.programs;
        if (programs > 0) {
            r_.prompter.notice(windowTitle(), QStringLiteral("帐本") + quoted(name) +
                                                  QStringLiteral("正在被%1台电脑使用,不能删除!").arg(programs));
            return;
        }
        if (!r_.prompter.confirm(windowTitle(), QStringLiteral("要删除服务器上的帐本") + quoted(name) +
                                                   QStringLiteral("吗!\n删除后不能找回,需要时请先用\"下载到本机\"留一份.")))
            return;
        WaitCursor wait;
        tsl::pg::dropLedger(serverSession(), name.toStdString());
        listServer({});
    }
    catch (const std::exception& e) {
        serverFailure(QStringLiteral("删除失败,帐本没有改变!"), e);
        return;
    }
    r_.prompter.notice(windowTitle(), QStringLiteral("帐本") + quoted(name) + QStringLiteral("已删除!"));
}

void Tl::uploadClick() {
    guarded(r_.prompter, [this] {
        QString local;
        if (onServer()) {
            QList<QStringList> rows;
            for (const std::string& n : localNames_)
                rows << QStringList{fromStd(n)};
            const int pick = r_.prompter.chooseRow(QStringLiteral("上传到服务器!"), QStringLiteral("本机的帐本:"),
                                                   {QStringLiteral("帐本")}, rows);
            if (pick < 0 || pick >= int(localNames_.size()))
                return;
            local = fromStd(localNames_[std::size_t(pick)]);
        } else {
            local = chosenName();
        }
        if (local.isEmpty()) {
            r_.prompter.notice(windowTitle(), kSelectLedger);
            return;
        }
        if (!isUsableLedgerName(local)) {
            r_.prompter.notice(windowTitle(), kCannotOpen);
            return;
        }
        // A server to send it to: the one listed, else the one last used.
        std::unique_ptr<tsl::pg::Session> own;
        tsl::pg::Session* session = nullptr;
        if (onServer()) {
            try {
                session = &serverSession();
            }
            catch (const std::exception& e) {
        serverFailure(QStringLiteral("上传失败,服务器上什么也没有改变!"), e);
        return;
    }
        } else {
            const QString address = serverAddress_.isEmpty() ? storedServerAddress() : serverAddress_;
            if (address.isEmpty()) {
                r_.prompter.notice(windowTitle(), QStringLiteral("请先用\"连接服务器\"指定服务器!"));
                return;
            }
            try {
                WaitCursor wait;
                own = std::make_unique<tsl::pg::Session>(address.toStdString());
                tsl::pg::ensureLayout(*own);
            } catch (const std::exception& e) {
                r_.prompter.failure(windowTitle(), QStringLiteral("无法连接服务器!\n") + textOf(e));
                return;
            }
            session = own.get();
        }
        const QString name = trimLedgerName(r_.prompter.askText(
            QStringLiteral("上传到服务器!"),
            QStringLiteral("帐本") + quoted(local) + QStringLiteral("在服务器上的名称:"), local, 255));
        if (name.isEmpty())
            return;
        if (!isUsableLedgerName(name) || hasInvisibleCharacters(name)) {
            r_.prompter.notice(windowTitle(), kUnusableName);
            return;
        }
        if (!onServer() && refuseEntered(local, QStringLiteral("帐本正在使用,请先退出该帐本再上传!")))
            return;
        try {
            WaitCursor wait;
            tsl::upload(ledgerFile(local), *session, name.toStdString());
            if (onServer())
                listServer(name);
        }
        catch (const std::exception& e) {
        serverFailure(QStringLiteral("上传失败,服务器上什么也没有改变!"), e);
        return;
    }
        r_.prompter.notice(windowTitle(), QStringLiteral("帐本") + quoted(local) +
                                              QStringLiteral("已上传到服务器,名称为") + quoted(name) +
                                              QStringLiteral("!"));
    });
}

void Tl::downloadClick() {
    guarded(r_.prompter, [this] {
        const QString name = chosenName();
        if (!onServer() || name.isEmpty()) {
            r_.prompter.notice(windowTitle(), kSelectLedger);
            return;
        }
        const QString local = trimLedgerName(r_.prompter.askText(
            QStringLiteral("下载到本机!"),
            QStringLiteral("帐本") + quoted(name) + QStringLiteral("在本机的名称:"), name, 255));
        if (local.isEmpty())
            return;
        if (std::find(localNames_.begin(), localNames_.end(), local.toStdString()) != localNames_.end()) {
            r_.prompter.notice(windowTitle(), kNameTaken);
            return;
        }
        if (!isUsableLedgerName(local) || hasInvisibleCharacters(local)) {
            r_.prompter.notice(windowTitle(), QStringLiteral("这个名称不能用作帐本的文件名,请改名!"));
            return;
        }
        const std::string file = ledgerFile(local);
        try {
            WaitCursor wait;
            tsl::download(serverSession(), name.toStdString(), ".", local.toStdString(), std::string(tsl::kIndexFile));
        } catch (const tsl::Error& e) {
            if (e.kind() == tsl::Failure::Exists) {
                r_.prompter.notice(windowTitle(), QStringLiteral("文件") + quoted(fromStd(file)) +
                                                      QStringLiteral("已经存在,请改名!"));
                return;
            }
            if (server_ && !server_->alive())
                fallBackToLocal(textOf(e));
            else
                r_.prompter.failure(windowTitle(), QStringLiteral("下载失败,本机什么也没有改变!\n") + textOf(e));
            return;
        }
        // Listed in the local index; unlisted, the file would block its name.
        try {
            if (!table1.isOpen())
                tsl::reopen(table1, tsl::table::ledgers);
            table1.append();
            table1.setField(tsl::field::ledgerName, local.toStdString());
            table1.post();
        } catch (const std::exception& e) {
            table1.cancel();
            (void)tsl::removeOwnFile(".", file);
            r_.prompter.failure(windowTitle(), QStringLiteral("下载失败,本机什么也没有改变!\n") + textOf(e));
            return;
        }
        localNames_.push_back(local.toStdString());
        updateLedgerActions();
        r_.prompter.notice(windowTitle(), QStringLiteral("帐本") + quoted(name) + QStringLiteral("已下载到本机,名称为") +
                                              quoted(local) + QStringLiteral("!\n断开服务器后可以在本机的帐本中进入."));
    });
}
