#pragma once
#include "forms/exportui.h"
// 年度统计: the year of the open ledger by month and by name, as tables and a
// chart, optionally beside another ledger. Opened from the workspace grid's
// right-click menu; the figures are read by storage (yearfigures), made tables by books.
#include "books/income.h"
#include "books/yeartables.h"
#include "storage/yearfigures.h"

#include <QAbstractTableModel>
#include <QStringList>
#include <QWidget>

#include <optional>
#include <string>
#include <vector>

class QChart;
class QChartView;
class QComboBox;
class QLabel;
class QTabWidget;
class QTableView;
class Roster;

namespace tsl {
class Connection;
}

// A table of text over tsl::books::TextTable. Sorting (when the view allows it) goes by
// number in the numeric columns and in percentages, by text elsewhere.
class TextTableModel final : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit TextTableModel(QObject* parent = nullptr) : QAbstractTableModel(parent) {}

    void setTable(tsl::books::TextTable t, bool boldLastRow = false);
    [[nodiscard]] const tsl::books::TextTable& table() const { return t_; }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation o, int role) const override;
    void sort(int column, Qt::SortOrder order) override;

private:
    tsl::books::TextTable t_;
    bool boldLastRow_ = false;
};

// A ledger the year may be compared with: as the list names it, and the file read.
struct YearSource {
    QString label;
    std::string file;
};

class Tndtj : public QWidget {
    Q_OBJECT
public:
    explicit Tndtj(Roster& roster);
    ~Tndtj() override;

    // Reads the open ledger and shows it; `others` are the ledgers it may be compared with.
    void showLedger(const tsl::Connection& ledger, const QString& name, const std::vector<YearSource>& others);

    // Hides along with `workspace`: the figures are of the ledger it shows.
    void follow(QWidget* workspace);

    [[nodiscard]] const tsl::YearFigures& figures() const { return mine_; }
    [[nodiscard]] const std::optional<tsl::YearFigures>& otherFigures() const { return other_; }

    QLabel* laname = nullptr;      // ledger name and customer count
    QComboBox* cbcompare = nullptr; // (不对比) or another ledger
    QTabWidget* tabs = nullptr;
    QWidget* tabmonth = nullptr;
    QTableView* gridmonth = nullptr;
    QChartView* chart1 = nullptr;
    QWidget* tabname = nullptr;
    QTableView* gridnames[tsl::kMovements] = {}; // customers, suppliers, workers
    QWidget* tabcompare = nullptr;
    QTableView* gridcompare = nullptr;
    QLabel* labad = nullptr; // rows left out for their amounts

    TextTableModel monthModel;
    TextTableModel nameModels[tsl::kMovements];
    TextTableModel compareModel;

protected:
    bool eventFilter(QObject* o, QEvent* e) override;

private:
    void cbcompareChange(int index);
    // Right-click on the tables and the chart: to a spreadsheet, a picture or a PDF.
    void addExports();
    void exportTable(QTableView* view, ExportKind kind);
    void exportChart(ExportKind kind);
    void fill();
    void fillChart();
    // Shows the window in front of every other window of the program.
    void presentInFront();
    [[nodiscard]] QChart* makeChart() const; // a new chart of the figures shown
    [[nodiscard]] std::vector<QTableView*> tables() const;

    Roster& r_;
    QWidget* workspace_ = nullptr;
    bool placed_ = false; // centred on the first showing only
    QString name_;
    std::vector<std::string> patterns_;
    tsl::YearFigures mine_;
    std::optional<tsl::YearFigures> other_;
    std::vector<YearSource> others_;
    QString otherName_;
};
