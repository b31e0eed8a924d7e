#pragma once
#include "books/renumber.h"
#include "storage/connection.h"
#include "storage/cursor.h"
#include "storage/undodelete.h"

#include <QList>
#include <QMainWindow>

#include <cstdint>
#include <memory>
#include <utility>

struct BoxCommand;
class ColumnSizer;
class FindBar;
namespace tsl::books {
class OpenSum;
class RunningSummary;
}
class CursorModel;
enum class ExportKind;
class QAction;
class QFrame;
class QLabel;
class QLineEdit;
class QMenu;
class QStatusBar;
class QSocketNotifier;
class QTableView;
class QTimer;
class QToolButton;
class Roster;
class Tndtj;


// The workspace: one open ledger, its four books.
class TForm1 : public QMainWindow {
    Q_OBJECT
public:
    explicit TForm1(Roster& roster);
    ~TForm1() override;

    // The open ledger and its two cursors; declared in this order so the
    // cursors go before their connection.
    tsl::Connection ado1;
    tsl::Cursor table1{ado1};
    tsl::Cursor table2{ado1};

    // The view number: table1's table name, "1".."4".
    [[nodiscard]] QString viewNumber() const;

    // Record commands (add, edit, delete of the shown book); the menu items click the buttons.
    void btnaddClick();
    void btneditClick();
    void btndelClick();

    // Tool strip.
    QFrame* CoolBar1 = nullptr;
    QToolButton* btnadd = nullptr;
    QToolButton* btndel = nullptr;
    QToolButton* btnedit = nullptr;
    QToolButton* SpeedButton7 = nullptr;
    QToolButton* SpeedButton6 = nullptr;
    QLabel* Label6 = nullptr;
    QLineEdit* edjz = nullptr;
    QFrame* Shape1 = nullptr;
    QToolButton* btnjz = nullptr;
    // Left panel: the four books and the overall report.
    QFrame* Panel1 = nullptr;
    QToolButton* SpeedButton1 = nullptr;
    QToolButton* SpeedButton2 = nullptr;
    QToolButton* SpeedButton3 = nullptr;
    QToolButton* SpeedButton4 = nullptr;
    QToolButton* SpeedButton5 = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* Label3 = nullptr;
    QLabel* Label4 = nullptr;
    QLabel* Label5 = nullptr;
    // The shown book.
    CursorModel* data1 = nullptr;
    QTableView* grid1 = nullptr;
    QStatusBar* bar = nullptr;
    QLabel* barPanel = nullptr; // the status bar's only panel
    // Main menu.
    QMenu* F1 = nullptr;
    QAction* A1 = nullptr;
    QAction* D1 = nullptr;
    QAction* E1 = nullptr;
    QAction* N1 = nullptr;
    QAction* X1 = nullptr;
    QMenu* A2 = nullptr;
    QAction* Z1 = nullptr;
    // 工具, after 文件 (Unit1_tools.cpp): the grid's right-click commands and the help (F1).
    QMenu* T1 = nullptr;
    QAction* helpAction = nullptr;
    // 查找 (Ctrl+F, F3, Shift+F3): the find bar under the grid (forms/findbar.h).
    QAction* findAction = nullptr;
    QAction* findNextAction = nullptr;
    QAction* findPreviousAction = nullptr;
    FindBar* findBar = nullptr;

    // The status summary (the panel's text).
    [[nodiscard]] QString statusSummary() const;

    // The open ledger's name: its file name without ".mdb".
    [[nodiscard]] QString ledgerName() const;

    // Right-click menu of grid1 (its actions): export of the shown book.
    QAction* exportXlsxAction = nullptr; // 导出本表为Excel…
    QAction* exportCsvAction = nullptr;  // 导出本表为CSV…
    // Right-click on grid1 (Unit1_safety.cpp): put back the last deleted row,
    // change the date of a row's serial stamp.
    QAction* undoDeleteAction = nullptr; // 撤销删除
    QAction* changeDateAction = nullptr; // 修改日期…
    tsl::DeleteUndo lastDelete{tsl::books::numberedStamp, tsl::books::numberedStampSql};
    // Brings their enabling up to date; done whenever the menu is about to show.
    void refreshSafetyMenu();
    // ---- 年度统计: right-click menu of grid1 (Unit1_yearglance.cpp) ----
    QAction* yearGlanceItem = nullptr; // "年度统计…"
    // ---- printing (Unit1_print.cpp): the shown book on the grid's right-click menu ----
    QAction* printBookAction = nullptr; // 打印本表… (Ctrl+P)
    QAction* pdfBookAction = nullptr;   // 导出本表为PDF… (Ctrl+Shift+P)
    [[nodiscard]] Tndtj* yearGlance() const { return ndt_.get(); } // null until first opened

    // ---- a ledger on a server (Unit1_server.cpp) ----
    // Follows other programs' commits: the shown book is read again (grid and
    // status summary), keeping the current row. Started on entering, stopped
    // on leaving and before the connection closes.
    void watchServer();
    void stopWatching() noexcept;
    // Reads the shown book again now, keeping the current row.
    void reloadShown();

protected:
    void closeEvent(QCloseEvent* e) override;
    bool eventFilter(QObject* o, QEvent* e) override;

private:
    void buildToolStrip(QWidget* client);
    void buildPanel(QWidget* client);
    void buildMenu();
    void buildGrid1Menu();
    void layoutClient();

    void openBook(const char* view);
    // Opens a book in table1; the status summary's total is summed in the same pass.
    void openSummed(std::string_view book);
    void SpeedButton1Click();
    void SpeedButton2Click();
    void SpeedButton3Click();
    void SpeedButton4Click();
    void SpeedButton5Click();
    void btnjzClick();
    bool edjzKeyPress(QKeyEvent* e);
    void A1Click();
    void D1Click();
    void E1Click();
    void X1Click();
    void SpeedButton7Click();
    void Z1Click();
    void SpeedButton6Click();
    void FormCloseQuery();
    void grid1CellClick();
    void table1AfterOpen();
    void table1AfterPost();
    void enableCommands();
    void exportBookClick(ExportKind kind);

    void buildToolsMenu();
    void helpActionClick();
    // A key of the 工具 menu that the settlement box would take for itself.
    [[nodiscard]] bool isToolKey(const QKeyEvent* e) const;

    void installSafetyMenu();
    void undoDeleteClick();
    void changeDateClick();
    void ledgerLeft();
    // The status summary again after an add, edit or delete, moved by the posted
    // row alone (books::RunningSummary), without moving the shown book's current
    // row. An amount that does not convert leaves the text as it was: opening the
    // book reports it.
    void refreshStatus() noexcept;
    // While a command writes many rows (a delete's renumbering), the posts do not
    // each refresh the summary; it is refreshed once when the command ends.
    class StatusBatch {
    public:
        explicit StatusBatch(TForm1& f) : f_(f) { ++f_.statusBatch_; }
        ~StatusBatch() {
            if (--f_.statusBatch_ == 0)
                f_.refreshStatus();
        }
        StatusBatch(const StatusBatch&) = delete;
        StatusBatch& operator=(const StatusBatch&) = delete;

    private:
        TForm1& f_;
    };
    int statusBatch_ = 0;

    // ---- printing ----
    void buildPrintItems();
    void printBookClick();
    void pdfBookClick();
    // What the overall report's box offers: 打印… (Ctrl+P) and 导出PDF… of its text.
    [[nodiscard]] QList<BoxCommand> reportCommands(const QString& text);

    // ---- 年度统计 ----
    void buildYearGlanceItem();
    void yearGlanceItemClick();
    std::unique_ptr<Tndtj> ndt_;

    void serverNotified();
    void recheckServer() noexcept;
    [[nodiscard]] bool recordDialogOpen() const;
    // The connection dropped: said once, then made again every few seconds.
    void serverLost(const std::exception& e);
    void tryReconnect();
    QTimer* reconnect_ = nullptr;
    QSocketNotifier* watch_ = nullptr;
    QTimer* retry_ = nullptr; // a reload put off while a row is being entered
    std::pair<std::int64_t, std::int64_t> seenVersion_{-1, -1};

    Roster& r_;
    QWidget* client_ = nullptr;
    ColumnSizer* sizer_ = nullptr; // sizes grid1's columns when a book opens
    // The status summary's total, summed while openBook loads the book's rows.
    tsl::books::OpenSum* openSum_ = nullptr;
    // The status summary kept from the open pass and moved by each post.
    std::unique_ptr<tsl::books::RunningSummary> running_;
};
