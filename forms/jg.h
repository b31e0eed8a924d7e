#pragma once
#include "forms/exportui.h"
#include "books/settlement.h"
#include "export/ledger.h"
#include "storage/period.h"

#include <optional>

#include <QTableView>
#include <QWidget>

class QAction;
class QLabel;
class QMenu;
class QPushButton;
class Roster;
class GridCells;

// A string grid: cells addressed (column, row), row 0 being the fixed header
// row, which stays in place while the rows below it scroll.
class StringGrid final : public QTableView {
    Q_OBJECT
public:
    explicit StringGrid(QWidget* parent);

    [[nodiscard]] int rowCount() const;
    void setRowCount(int n);
    [[nodiscard]] int colCount() const;
    void setColCount(int n);
    [[nodiscard]] QString cell(int col, int row) const;
    void setCell(int col, int row, const QString& text);
    void clearCells();

    // Many changes, one repaint: the view hears of them once, at the end.
    class Batch {
    public:
        explicit Batch(StringGrid& g);
        ~Batch();
        Batch(const Batch&) = delete;
        Batch& operator=(const Batch&) = delete;

    private:
        StringGrid& g_;
    };

    // The row (counting the header row as 0) of the selected cell; -1 when none.
    [[nodiscard]] int selectedRow() const;
    // Selects a cell by program, as a keyboard move would.
    void selectCell(int col, int row);

signals:
    // The user selected a cell: mouse released over the data cells, or a keyboard move.
    void cellSelected();

protected:
    void mouseReleaseEvent(QMouseEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    bool viewportEvent(QEvent* e) override;

private:
    GridCells* cells_;
};

// The settlement report window.
class Tj : public QWidget {
    Q_OBJECT
public:
    explicit Tj(Roster& roster);

    StringGrid* grid1 = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* laje = nullptr;
    QPushButton* Button1 = nullptr;

    // The settlement name, kept as the (never shown) hint of the close button.
    void keepName(const QString& name);
    [[nodiscard]] QString keptName() const;

    // Shows the window without blocking, or brings it to the front.
    void showReport(QWidget* workspace);

    // The ledger a settlement was made in, kept for its statement.
    void keepLedger(const QString& name) { ledger_ = name; }
    // The settlement the report shows, kept for its statement.
    void keepSettlement(tsl::books::Settlement s) { settlement_ = std::move(s); }
    // The statement of the report shown: the settlement's rows under the book's
    // field names, their total, the ledger, the name and today's date.
    [[nodiscard]] tsl::out::Statement statement() const;
    // The same cut to a period, the rows placed by their stamp's date as 年度统计
    // reads it. A period holding none of the rows is refused.
    [[nodiscard]] tsl::out::Statement statement(const tsl::Period& period) const;

    // Right-click menu of the report grid: print, PDF, Excel, CSV (Ctrl+P prints).
    QMenu* grid1Menu = nullptr;
    QAction* printAction = nullptr;
    QAction* pdfAction = nullptr;
    QAction* xlsxAction = nullptr;
    QAction* csvAction = nullptr;
    // The same for a period asked in a small box (PeriodBox) first.
    QAction* periodPrintAction = nullptr;
    QMenu* periodExportMenu = nullptr;
    QAction* periodPdfAction = nullptr;
    QAction* periodXlsxAction = nullptr;
    QAction* periodCsvAction = nullptr;

protected:
    void closeEvent(QCloseEvent* e) override;
    void hideEvent(QHideEvent* e) override;
    bool eventFilter(QObject* o, QEvent* e) override;

private:
    void Button1Click();
    void FormCloseQuery();
    void grid1Click();

    void buildGrid1Menu();
    void printClick();
    void exportClick(ExportKind kind);
    void periodPrintClick();
    void periodExportClick(ExportKind kind);
    // The period the user picks; none when the box is cancelled.
    std::optional<tsl::Period> askPeriod();
    void exportStatement(ExportKind kind, const tsl::out::Statement& s);

    Roster& r_;
    QString ledger_;
    tsl::books::Settlement settlement_;
    std::optional<tsl::Period> lastPeriod_; // offered again the next time
};
