#pragma once
#include "storage/connection.h"
#include "storage/cursor.h"

#include <QPoint>
#include <QString>
#include <QWidget>

#include <memory>
#include <string>
#include <vector>

class QAction;
class QLabel;
class QListWidget;
class QPushButton;
class Roster;
namespace tsl {
struct Snapshot;
}
namespace tsl::pg {
class Session;
}

// The ledger chooser, the application's main window. Creating it brings the
// ledger index into place and lists the ledgers; closing it puts the index back.
class Tl : public QWidget {
    Q_OBJECT
public:
    explicit Tl(Roster& roster);
    ~Tl() override;

    // The ledger index ("tsl.mdb") and its ledger list, table "5".
    tsl::Connection ado1;
    tsl::Cursor table1{ado1};

    QLabel* Image1 = nullptr;
    QLabel* Label1 = nullptr;
    QWidget* Shape1 = nullptr;
    QListWidget* list1 = nullptr;
    QPushButton* BitBtn1 = nullptr; // enter; the default button
    QPushButton* BitBtn2 = nullptr; // create
    QPushButton* BitBtn3 = nullptr; // quit

    // Backups (lb_backup.cpp), reached by right-click on list1.
    QAction* restoreAction = nullptr;   // 从备份恢复…
    QAction* backupAllAction = nullptr; // 备份全部帐本到…
    QAction* helpAction = nullptr;      // 使用帮助 (F1)
    // Ledgers managed as a whole (lb_manage.cpp), on the same menu.
    QAction* restoreFolderAction = nullptr; // 从备份文件夹恢复…
    QAction* newFromAction = nullptr;       // 新建帐本(从旧帐本带入)…
    QAction* renameAction = nullptr;        // 重命名帐本… (F2)
    QAction* deleteAction = nullptr;        // 删除帐本… (Delete)
    // The server store (lb_server.cpp), on the same menu.
    QAction* connectAction = nullptr;    // 连接服务器… (Ctrl+K)
    QAction* disconnectAction = nullptr; // 断开服务器
    QAction* uploadAction = nullptr;     // 上传到服务器… (Ctrl+U)
    QAction* downloadAction = nullptr;   // 下载到本机… (Ctrl+D)
    QAction* refreshAction = nullptr;    // 刷新列表 (F5)
    // Which store the list shows (本机 or the server's host); shown once a
    // server is in play, so the plain chooser looks as it always did.
    QLabel* storeLabel = nullptr;
    // True while the list shows the ledgers on a server.
    [[nodiscard]] bool onServer() const { return server_ != nullptr; }
    // Snapshots of every file given that changed since its last one; a failure
    // is shown once, in a plain box, and never stops leaving or ending.
    // A server ledger's name: it is backed up too, when it changed.
    void autoBackup(const std::vector<std::string>& files, const std::string& serverLedger = {}) noexcept;
    // The workspace left a ledger: one on a server is no longer held by this program.
    void serverLedgerLeft() noexcept;
    // The workspace reconnected: the entered ledger is held again if the hold was lost.
    void keepServerHold() noexcept;
    // The same in two steps: the snapshots, then the box (if any failed).
    [[nodiscard]] std::vector<std::string> backupFailures(const std::vector<std::string>& files) noexcept;
    // A server ledger's snapshot when it changed, through the chooser's session.
    [[nodiscard]] std::vector<std::string> serverBackupFailures(const std::string& ledger) noexcept;
    void reportBackupFailures(const std::vector<std::string>& failures) noexcept;

signals:
    void closed(); // the program ends when the chooser closes

protected:
    void closeEvent(QCloseEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;

private:
    void FormCreate();
    void BitBtn1Click();
    void BitBtn2Click();
    void FormCloseQuery();
    void FormMouseMove(QMouseEvent* e);

    // Connects to "tsl.mdb" and lists its ledgers; throws, disconnected, on failure.
    void openIndex();
    // Start-up found both "run.dll" and "tsl.mdb": uses one, keeps the other,
    // and returns the box's text (`trouble`: why "tsl.mdb" did not open, if it did not).
    QString settleTwoIndexes(const QString& trouble);

    // Points the workspace at a ledger file and shows it; throws on any failure.
    void enterLedger(const QString& name);

    void installBackupMenu();
    void installServerMenu();
    void connectClick();
    void disconnectClick();
    void uploadClick();
    void downloadClick();
    // Connects to `address`, makes the layout and lists the server's ledgers;
    // false (the chooser staying on the local folder) after saying why not.
    bool useServer(const QString& address);
    // The server's ledgers, with the programs that have each open; selects `name`.
    void listServer(const QString& name);
    // The session, reconnected if the connection was lost; throws when it cannot be.
    tsl::pg::Session& serverSession();
    // Back to the local folder after the server could not be reached: says `why`.
    void fallBackToLocal(const QString& why);
    // A failed command on the server: a lost connection goes back to the local
    // folder; anything else is said under `what`.
    void serverFailure(const QString& what, const std::exception& e);
    void showStore();
    // The chooser's own commands on the server store.
    void serverEnter();
    void serverCreate();
    void serverRename();
    void serverDelete();
    // The name of the chosen ledger (without the count of programs); "" for none.
    [[nodiscard]] QString chosenName() const;
    void installLedgerMenu();
    void newFromClick();
    void renameClick();
    void deleteClick();
    void restoreFolderClick();
    // 从备份恢复… with no ledger chosen: a deleted ledger's snapshots.
    void restoreDeletedClick();
    // The box a new name gets when it cannot be a ledger's (as 新建帐本 words
    // it), or none; `plainBoxes`: the old kind of box, as 新建帐本 shows them.
    bool refuseNewName(const QString& name, bool plainBoxes, const QString& unusable = {});
    // True (and says so) when the ledger is open in the workspace; a ledger
    // left but still held by the workspace is let go.
    bool refuseEntered(const QString& name, const QString& text);
    // Reads the list again from the index and selects `name` (if listed).
    void relist(const QString& name);
    // Enables the items that need a chosen ledger (or, to restore, a deleted one).
    void updateLedgerActions();
    [[nodiscard]] std::vector<std::string> listedNames() const;
    void restoreClick();
    void serverRestoreClick();
    // The snapshot the user picks from a list of them, newest first; null for none.
    const tsl::Snapshot* chooseSnapshot(const QString& name, const std::vector<tsl::Snapshot>& snapshots);
    void backupAllClick();
    // Ledger files of every listed name the file system can hold.
    [[nodiscard]] std::vector<std::string> listedLedgerFiles() const;
    bool backupFailureShown_ = false;

    std::unique_ptr<tsl::pg::Session> server_;
    QString serverAddress_;                // as given this run, for reconnecting
    QString heldLedger_;                   // entered on the server, held for the counts
    std::vector<std::string> localNames_; // the local list while the server's is shown
    bool serverInPlay_ = false;            // a server was named: the store is shown

    Roster& r_;

    // Where a drag by the client area started, for moving the window ourselves
    // when the window system cannot.
    QPoint dragStartMouse_;
    QPoint dragStartWindow_;
    bool dragging_ = false;
    bool systemMoveRefused_ = false;
};

// A ledger name the file system can hold in the current folder: no path
// separators, control characters or ";" (it would end the connection string's
// data source), and short enough for every file that creating the ledger makes.
[[nodiscard]] bool isUsableLedgerName(const QString& name);

// Invisible characters and those that turn text around: a name holding them
// looks like another name, in the list and in the folder.
[[nodiscard]] bool hasInvisibleCharacters(const QString& name);

// Codes up to the space (blanks and control characters) go from both ends.
[[nodiscard]] QString trimLedgerName(const QString& s);

// True when name + ".mdb" is longer than the folder can hold while it is copied.
[[nodiscard]] bool isLedgerNameTooLong(const QString& name);

// The server address kept in the user's settings ("" for none). No password is
// ever kept: libpq's password file or service file gives it.
[[nodiscard]] QString storedServerAddress();
void storeServerAddress(const QString& address); // "" forgets it

// The file of a ledger: name + ".mdb".
[[nodiscard]] std::string ledgerFile(const QString& name);
