#include "forms/jg.h"

#include "widgets/desktop.h"
#include "widgets/guard.h"
#include "widgets/look.h"
#include "widgets/windowsetup.h"
#include "forms/roster.h"
#include "storage/stamp.h"
#include "export/statement.h"
#include "forms/periodbox.h"

#include <QAbstractTableModel>
#include <QCloseEvent>
#include <QHideEvent>
#include <QHeaderView>
#include <QIcon>
#include <QKeyEvent>
#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QPushButton>

#include <vector>

static void initReportResources() { Q_INIT_RESOURCE(workspace); }

// The cells of a string grid. Row 0 is served as the horizontal header, the
// other rows as the model's rows.
class GridCells final : public QAbstractTableModel {
public:
    using QAbstractTableModel::QAbstractTableModel;

    int rows() const { return rows_; }
    int cols() const { return cols_; }

    int rowCount(const QModelIndex& parent = {}) const override {
        return parent.isValid() ? 0 : std::max(0, rows() - 1);
    }
    int columnCount(const QModelIndex& parent = {}) const override { return parent.isValid() ? 0 : cols_; }

    QVariant data(const QModelIndex& index, int role) const override {
        if (role != Qt::DisplayRole || !index.isValid())
            return {};
        return at(index.column(), index.row() + 1);
    }

    QVariant headerData(int section, Qt::Orientation o, int role) const override {
        if (role != Qt::DisplayRole || o != Qt::Horizontal || section >= cols_)
            return {};
        return at(section, 0);
    }

    Qt::ItemFlags flags(const QModelIndex& index) const override {
        return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable : Qt::NoItemFlags;
    }

    void setRows(int n) {
        n = std::max(1, n);
        const int old = rows();
        if (n == old)
            return;
        if (batch_ == 0) {
            if (n > old)
                beginInsertRows({}, old - 1, n - 2);
            else
                beginRemoveRows({}, n - 1, old - 2);
        }
        rows_ = n;
        cells_.resize(std::size_t(n) * std::size_t(cols_));
        if (batch_ == 0)
            n > old ? endInsertRows() : endRemoveRows();
    }

    void setCols(int n) {
        n = std::max(1, n);
        if (n == cols_)
            return;
        if (batch_ == 0)
            beginResetModel();
        std::vector<QString> wider(std::size_t(rows_) * std::size_t(n));
        for (int r = 0; r < rows_; ++r)
            for (int c = 0; c < std::min(n, cols_); ++c)
                wider[std::size_t(r) * std::size_t(n) + std::size_t(c)] = std::move(cells_[slot(c, r)]);
        cells_ = std::move(wider);
        cols_ = n;
        if (batch_ == 0)
            endResetModel();
    }

    QString cell(int col, int row) const {
        if (row < 0 || row >= rows() || col < 0 || col >= cols_)
            return {};
        return at(col, row);
    }

    void setCell(int col, int row, const QString& text) {
        if (row < 0 || row >= rows() || col < 0 || col >= cols_)
            return;
        // A statement repeats a column's text row after row (the name, a kind, a
        // place): the row above's copy is shared rather than held again.
        const QString* above = row > 1 ? &cells_[slot(col, row - 1)] : nullptr;
        cells_[slot(col, row)] = above && *above == text ? *above : text;
        if (batch_ > 0)
            return;
        if (row == 0)
            emit headerDataChanged(Qt::Horizontal, col, col);
        else
            emit dataChanged(index(row - 1, col), index(row - 1, col));
    }

    void clear() {
        for (auto& c : cells_)
            c.clear();
        if (batch_ == 0) {
            beginResetModel();
            endResetModel();
        }
    }

    void beginBatch() {
        if (batch_++ == 0)
            beginResetModel();
    }
    void endBatch() {
        if (--batch_ == 0)
            endResetModel();
    }

private:
    // Row by row in one block: a row of its own would cost an allocation per row.
    std::size_t slot(int col, int row) const { return std::size_t(row) * std::size_t(cols_) + std::size_t(col); }
    const QString& at(int col, int row) const { return cells_[slot(col, row)]; }

    std::vector<QString> cells_ = std::vector<QString>(2);
    int rows_ = 2;
    int cols_ = 1;
    int batch_ = 0;
};

StringGrid::StringGrid(QWidget* parent) : QTableView(parent), cells_(new GridCells(this)) {
    setModel(cells_);
    setEditTriggers(NoEditTriggers);
    setSelectionMode(SingleSelection);
    setSelectionBehavior(SelectItems);
    setWordWrap(false);
    setCornerButtonEnabled(false);
    verticalHeader()->hide(); // no fixed column
    for (QHeaderView* h : {horizontalHeader(), verticalHeader()}) {
        h->setMinimumSectionSize(1);
        h->setSectionResizeMode(QHeaderView::Fixed);
        h->setHighlightSections(false);
        h->setSectionsClickable(false);
    }
    horizontalHeader()->setDefaultSectionSize(90);
    horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    horizontalHeader()->setFixedHeight(15);
    verticalHeader()->setDefaultSectionSize(15);
}

int StringGrid::rowCount() const { return cells_->rows(); }
void StringGrid::setRowCount(int n) { cells_->setRows(n); }
int StringGrid::colCount() const { return cells_->cols(); }
void StringGrid::setColCount(int n) { cells_->setCols(n); }
QString StringGrid::cell(int col, int row) const { return cells_->cell(col, row); }
void StringGrid::setCell(int col, int row, const QString& text) { cells_->setCell(col, row, text); }
void StringGrid::clearCells() { cells_->clear(); }

StringGrid::Batch::Batch(StringGrid& g) : g_(g) { g_.cells_->beginBatch(); }
StringGrid::Batch::~Batch() { g_.cells_->endBatch(); }

int StringGrid::selectedRow() const {
    const QModelIndex i = currentIndex();
    return i.isValid() ? i.row() + 1 : -1;
}

void StringGrid::selectCell(int col, int row) {
    setCurrentIndex(cells_->index(row - 1, col));
    emit cellSelected();
}

void StringGrid::mouseReleaseEvent(QMouseEvent* e) {
    QTableView::mouseReleaseEvent(e);
    if (e->button() == Qt::LeftButton && currentIndex().isValid())
        emit cellSelected();
}

void StringGrid::keyPressEvent(QKeyEvent* e) {
    const QModelIndex before = currentIndex();
    QTableView::keyPressEvent(e);
    if (currentIndex() != before && currentIndex().isValid())
        emit cellSelected();
}

bool StringGrid::viewportEvent(QEvent* e) {
    // The grid's own hint, wherever the pointer rests on it.
    if (e->type() == QEvent::ToolTip) {
        showPlainToolTip(static_cast<QHelpEvent*>(e)->globalPos(), toolTip(), this);
        return true;
    }
    return QTableView::viewportEvent(e);
}

Tj::Tj(Roster& roster) : QWidget(nullptr), r_(roster) {
    initReportResources();
    setObjectName(QStringLiteral("j"));
    setupWindow(*this, QStringLiteral("报表!"), 443, 221, WindowButtons::MinimiseOnly, Stacking::OwnedOnTop);
    setWindowIcon(QIcon(QStringLiteral(":/workspace/report.png")));

    grid1 = new StringGrid(this);
    grid1->setObjectName(QStringLiteral("grid1"));
    grid1->setGeometry(0, 0, 441, 185);
    grid1->setColCount(6);
    grid1->setRowCount(2);

    Label1 = textLabel(this, "Label1", QStringLiteral("总金额:"), 8, 192);

    laje = new QLabel(QStringLiteral("0元"), this);
    laje->setObjectName(QStringLiteral("laje"));
    laje->move(56, 192);
    QPalette p = laje->palette();
    p.setColor(QPalette::WindowText, QColor(48, 144, 207));
    laje->setPalette(p);
    laje->setMinimumWidth(290);
    laje->adjustSize();

    Button1 = new QPushButton(QStringLiteral("关闭"), this);
    Button1->setObjectName(QStringLiteral("Button1"));
    Button1->setGeometry(352, 192, 89, 25);
    Button1->installEventFilter(this);
    // Tab leaves the grid for 关闭 rather than walking its cells: the window's
    // two stops take turns. The arrow keys move between cells.
    grid1->setTabKeyNavigation(false);
    setTabOrder(Button1, grid1);

    connect(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });
    closeOnEscape(*this);
    connect(grid1, &StringGrid::cellSelected, this, [this] { grid1Click(); });
    buildGrid1Menu();
}

// The statement's commands, on the report grid's right-click menu; the window
// itself keeps its layout. Ctrl+P prints and Ctrl+E writes the spreadsheet from
// anywhere in the window.
void Tj::buildGrid1Menu() {
    grid1Menu = new QMenu(grid1);
    grid1Menu->setObjectName(QStringLiteral("grid1Menu"));
    printAction = grid1Menu->addAction(QStringLiteral("打印对帐单…"), this, [this] { printClick(); });
    printAction->setShortcut(QKeySequence::Print);
    printAction->setShortcutContext(Qt::WindowShortcut);
    addAction(printAction);
    pdfAction = grid1Menu->addAction(QStringLiteral("导出PDF…"), this, [this] { exportClick(ExportKind::Pdf); });
    xlsxAction = grid1Menu->addAction(QStringLiteral("导出Excel…"), this, [this] { exportClick(ExportKind::Xlsx); });
    xlsxAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_E)); // as the workspace's export of its book
    xlsxAction->setShortcutContext(Qt::WindowShortcut);
    addAction(xlsxAction);
    csvAction = grid1Menu->addAction(QStringLiteral("导出CSV…"), this, [this] { exportClick(ExportKind::Csv); });
    // A period is asked only here, so the commands above stay as they were: the
    // whole settlement, no box in between.
    grid1Menu->addSeparator();
    periodPrintAction = grid1Menu->addAction(QStringLiteral("按期间打印对帐单…"), this, [this] { periodPrintClick(); });
    periodExportMenu = grid1Menu->addMenu(QStringLiteral("按期间导出对帐单"));
    periodExportMenu->setObjectName(QStringLiteral("periodExportMenu"));
    periodPdfAction = periodExportMenu->addAction(QStringLiteral("PDF…"), this, [this] { periodExportClick(ExportKind::Pdf); });
    periodXlsxAction =
        periodExportMenu->addAction(QStringLiteral("Excel…"), this, [this] { periodExportClick(ExportKind::Xlsx); });
    periodCsvAction = periodExportMenu->addAction(QStringLiteral("CSV…"), this, [this] { periodExportClick(ExportKind::Csv); });
    grid1->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(grid1, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& at) { grid1Menu->popup(grid1->viewport()->mapToGlobal(at)); });
}

tsl::out::Statement Tj::statement() const {
    const tsl::Date d = r_.clock.today();
    return tsl::out::statementOf(ledger_.toStdString(), settlement_, tsl::out::dateText(d.year, d.month, d.day));
}

void Tj::printClick() {
    guarded(r_.prompter, [this] {
        if (isVisible())
            previewStatement(this, statement());
    });
}

tsl::out::Statement Tj::statement(const tsl::Period& period) const {
    if (period.whole())
        return statement();
    const tsl::Date d = r_.clock.today();
    const tsl::StampDateReader dates(tsl::stampDatePatterns(r_.clock.shortDatePattern()), d.year);
    tsl::books::Settlement cut = tsl::books::inPeriod(settlement_, period, dates);
    if (!settlement_.empty() && cut.empty())
        throw tsl::Error(std::string(tsl::books::kNothingInPeriod));
    return tsl::out::statementOf(ledger_.toStdString(), std::move(cut), tsl::out::dateText(d.year, d.month, d.day));
}

std::optional<tsl::Period> Tj::askPeriod() {
    const tsl::Date today = r_.clock.today();
    PeriodBox box(this, today, lastPeriod_.value_or(tsl::quickPeriod(tsl::QuickPeriod::ThisMonth, today)));
    if (box.exec() != QDialog::Accepted)
        return std::nullopt;
    lastPeriod_ = box.period();
    return lastPeriod_;
}

void Tj::periodPrintClick() {
    guarded(r_.prompter, [this] {
        if (!isVisible())
            return;
        if (const auto period = askPeriod())
            previewStatement(this, statement(*period));
    });
}

void Tj::periodExportClick(ExportKind kind) {
    guarded(r_.prompter, [this, kind] {
        if (const auto period = askPeriod())
            exportStatement(kind, statement(*period));
    });
}

void Tj::exportClick(ExportKind kind) {
    guarded(r_.prompter, [this, kind] { exportStatement(kind, statement()); });
}

void Tj::exportStatement(ExportKind kind, const tsl::out::Statement& s) {
    const std::string label(tsl::out::findBook(s.book)->label);
    std::vector<std::string> parts{s.ledger, label, s.name, "对帐单"};
    if (!s.period.empty())
        parts.push_back(s.period);
    parts.push_back(isoDate(r_.clock.today()));
    const QString path = askExportPath(r_.prompter, kind, parts);
    if (path.isEmpty())
        return;
    const std::string file = path.toStdString();
    runWithProgress(this, r_.prompter, [&](const tsl::out::Progress& progress) {
        if (kind == ExportKind::Pdf)
            return tsl::out::writeStatementPdf(file, s, progress);
        const tsl::out::Table sheet = tsl::out::sheetOf(s);
        tsl::out::TableSource rows(sheet);
        return writeTableAs(kind, file, s.name, sheet.columns, rows, progress);
    });
}

void Tj::keepName(const QString& name) { Button1->setToolTip(name); }
QString Tj::keptName() const { return Button1->toolTip(); }

void Tj::showReport(QWidget* workspace) {
    // Centred when it appears; a report already up stays where the user put it.
    present(*this, isVisible() ? Placement::AsItStands : Placement::Centred, workspace);
    Button1->setFocus();
}

bool Tj::eventFilter(QObject* o, QEvent* e) {
    // The kept name rides on the close button's hint, which this window never shows.
    if (o == Button1 && e->type() == QEvent::ToolTip)
        return true;
    return QWidget::eventFilter(o, e);
}

void Tj::Button1Click() { close(); }

void Tj::closeEvent(QCloseEvent* e) {
    FormCloseQuery();
    e->accept();
}

void Tj::hideEvent(QHideEvent* e) {
    // A record dialog opened above the report stays above the workspace.
    if (!e->spontaneous())
        handOverOwned(*this);
    QWidget::hideEvent(e);
}

void Tj::FormCloseQuery() {
    guarded(r_.prompter, [this] {
        grid1->setRowCount(2);
        grid1->setColCount(1);
        settlement_ = {};
    });
}

void Tj::grid1Click() {
    guarded(r_.prompter, [this] {
        const int r = grid1->selectedRow();
        QString hint;
        for (int c = 0; c < grid1->colCount(); ++c)
            hint += grid1->cell(c, 0) + QLatin1Char(':') + grid1->cell(c, r) + QLatin1Char('\n');
        grid1->setToolTip(hint);
    });
}
