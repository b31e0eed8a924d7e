#include "forms/ndtj.h"

#include "widgets/guard.h"
#include "widgets/menuitem.h"
#include "widgets/windowsetup.h"
#include "forms/roster.h"
#include "storage/schema.h"
#include "storage/stamp.h"
#include "widgets/waitcursor.h"

#include <QAction>
#include <QApplication>
#include <QBarCategoryAxis>
#include <QBarSeries>
#include <QBarSet>
#include <QChart>
#include <QChartView>
#include <QComboBox>
#include <QCursor>
#include <QFont>
#include <QGraphicsScene>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineSeries>
#include <QScreen>
#include <QSplitter>
#include <QTabWidget>
#include <QTableView>
#include <QProxyStyle>
#include <QStyleOptionHeader>
#include <QVBoxLayout>
#include <QWindow>
#include <QValueAxis>

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <numeric>

namespace {

QString qs(std::string_view s) { return QString::fromUtf8(s.data(), qsizetype(s.size())); }

// The sort key of a cell: a number where there is one, else none.
std::optional<double> numberOf(const std::string& s) {
    std::int64_t v = 0;
    auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    if (ec == std::errc() && end == s.data() + s.size())
        return double(v);
    if (!s.empty() && s.back() == '%')
        return std::strtod(s.c_str(), nullptr);
    return std::nullopt;
}

// Draws the sort arrow the way round a reader takes it: pointing down for the
// largest first (the style's own arrow points up for a descending order).
class SortArrowStyle final : public QProxyStyle {
public:
    void drawPrimitive(PrimitiveElement pe, const QStyleOption* opt, QPainter* p, const QWidget* w) const override {
        const auto* h = qstyleoption_cast<const QStyleOptionHeader*>(opt);
        if (pe != PE_IndicatorHeaderArrow || !h || h->sortIndicator == QStyleOptionHeader::None)
            return QProxyStyle::drawPrimitive(pe, opt, p, w);
        QStyleOptionHeader flipped(*h);
        flipped.sortIndicator =
            h->sortIndicator == QStyleOptionHeader::SortUp ? QStyleOptionHeader::SortDown : QStyleOptionHeader::SortUp;
        QProxyStyle::drawPrimitive(pe, &flipped, p, w);
    }
};

QTableView* tableView(QWidget* parent, const char* name, QAbstractItemModel* model, bool sortable) {
    auto* v = new QTableView(parent);
    v->setObjectName(QLatin1String(name));
    v->setModel(model);
    v->setEditTriggers(QAbstractItemView::NoEditTriggers);
    v->setSelectionBehavior(QAbstractItemView::SelectRows);
    v->setWordWrap(false);
    v->verticalHeader()->setVisible(false);
    v->verticalHeader()->setDefaultSectionSize(18);
    v->horizontalHeader()->setDefaultAlignment(Qt::AlignCenter);
    v->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    v->setSortingEnabled(sortable);
    if (sortable) {
        auto* arrows = new SortArrowStyle;
        arrows->setParent(v->horizontalHeader());
        v->horizontalHeader()->setStyle(arrows);
    }
    return v;
}

// Every column as wide as its title and its texts, the room left over shared
// out, so names and titles are shown whole where the window has room for them.
void fitColumns(QTableView* v) {
    QHeaderView* h = v->horizontalHeader();
    const int n = h->count();
    if (n == 0)
        return;
    const QAbstractItemView* cells = v; // the view's own measure is protected in QTableView
    std::vector<int> widths(static_cast<std::size_t>(n));
    int sum = 0;
    for (int c = 0; c < n; ++c) {
        widths[std::size_t(c)] = std::max(h->sectionSizeHint(c), cells->sizeHintForColumn(c));
        sum += widths[std::size_t(c)];
    }
    const int spare = v->viewport()->width() - sum;
    for (int c = 0; c < n; ++c) {
        int w = widths[std::size_t(c)];
        if (spare > 0)
            w += spare / n + (c < spare % n ? 1 : 0);
        h->resizeSection(c, w);
    }
}

} // namespace

// ---- TextTableModel -------------------------------------------------------------------------

void TextTableModel::setTable(tsl::books::TextTable t, bool boldLastRow) {
    beginResetModel();
    t_ = std::move(t);
    boldLastRow_ = boldLastRow;
    endResetModel();
}

int TextTableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(t_.rows.size());
}

int TextTableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(t_.header.size());
}

QVariant TextTableModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || std::size_t(index.row()) >= t_.rows.size())
        return {};
    const auto& row = t_.rows[std::size_t(index.row())];
    const auto col = std::size_t(index.column());
    switch (role) {
    case Qt::DisplayRole:
        return col < row.size() ? qs(row[col]) : QString();
    case Qt::TextAlignmentRole:
        return col == 0 ? QVariant(Qt::AlignLeft | Qt::AlignVCenter) : QVariant(Qt::AlignRight | Qt::AlignVCenter);
    case Qt::FontRole:
        if (boldLastRow_ && std::size_t(index.row()) + 1 == t_.rows.size()) {
            QFont f;
            f.setBold(true);
            return f;
        }
        return {};
    default:
        return {};
    }
}

QVariant TextTableModel::headerData(int section, Qt::Orientation o, int role) const {
    if (o != Qt::Horizontal || role != Qt::DisplayRole || section < 0 || std::size_t(section) >= t_.header.size())
        return QAbstractTableModel::headerData(section, o, role);
    // A ledger's name in brackets goes on a second line: "发货" stays in sight above it.
    QString title = qs(t_.header[std::size_t(section)]);
    if (const qsizetype open = title.indexOf(QLatin1Char('(')); open > 0)
        title.insert(open, QLatin1Char('\n'));
    return title;
}

void TextTableModel::sort(int column, Qt::SortOrder order) {
    if (column < 0 || std::size_t(column) >= t_.header.size())
        return;
    const auto c = std::size_t(column);
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    const QModelIndexList before = persistentIndexList();
    std::vector<std::size_t> order_(t_.rows.size());
    std::iota(order_.begin(), order_.end(), 0);
    std::vector<std::optional<double>> keys;
    keys.reserve(t_.rows.size());
    for (const auto& r : t_.rows)
        keys.push_back(numberOf(r[c]));
    auto less = [&](std::size_t a, std::size_t b) {
        const auto& ka = keys[a];
        const auto& kb = keys[b];
        if (ka && kb)
            return *ka < *kb;
        if (ka != kb)
            return bool(ka); // numbers before text
        return QString::compare(qs(t_.rows[a][c]), qs(t_.rows[b][c])) < 0;
    };
    std::stable_sort(order_.begin(), order_.end(), [&](std::size_t a, std::size_t b) {
        return order == Qt::AscendingOrder ? less(a, b) : less(b, a);
    });
    std::vector<std::vector<std::string>> rows;
    rows.reserve(t_.rows.size());
    std::vector<int> newRowOf(t_.rows.size());
    for (std::size_t i = 0; i < order_.size(); ++i) {
        newRowOf[order_[i]] = int(i);
        rows.push_back(std::move(t_.rows[order_[i]]));
    }
    t_.rows = std::move(rows);
    QModelIndexList after;
    for (const QModelIndex& i : before)
        after << index(newRowOf[std::size_t(i.row())], i.column());
    changePersistentIndexList(before, after);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

// ---- the window ------------------------------------------------------------------------------

Tndtj::Tndtj(Roster& roster) : QWidget(nullptr), r_(roster) {
    setObjectName(QStringLiteral("ndtj"));
    setWindowTitle(QStringLiteral("年度统计!"));
    setAttribute(Qt::WA_QuitOnClose, false);
    // Wide enough for the comparison's thirteen columns on a 1366 x 768 desktop, within a smaller one.
    const QRect room = screen()->availableGeometry();
    resize(std::min(1080, room.width() - 40), std::min(680, room.height() - 40));

    auto* top = new QHBoxLayout;
    laname = new QLabel(this);
    laname->setObjectName(QStringLiteral("laname"));
    auto* lacompare = new QLabel(QStringLiteral("对比帐本:"), this);
    lacompare->setObjectName(QStringLiteral("lacompare"));
    cbcompare = new QComboBox(this);
    cbcompare->setObjectName(QStringLiteral("cbcompare"));
    cbcompare->setMinimumContentsLength(16);
    cbcompare->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    lacompare->setBuddy(cbcompare);
    top->addWidget(laname, 1);
    top->addWidget(lacompare);
    top->addWidget(cbcompare);

    tabs = new QTabWidget(this);
    tabs->setObjectName(QStringLiteral("tabs"));

    tabmonth = new QWidget;
    tabmonth->setObjectName(QStringLiteral("tabmonth"));
    auto* split = new QSplitter(Qt::Vertical, tabmonth);
    gridmonth = tableView(split, "gridmonth", &monthModel, false);
    chart1 = new QChartView(split);
    chart1->setObjectName(QStringLiteral("chart1"));
    chart1->setRenderHint(QPainter::Antialiasing);
    split->setStretchFactor(0, 2);
    split->setStretchFactor(1, 3);
    auto* monthLayout = new QVBoxLayout(tabmonth);
    monthLayout->addWidget(split);
    tabs->addTab(tabmonth, QStringLiteral("按月份"));

    tabname = new QWidget;
    tabname->setObjectName(QStringLiteral("tabname"));
    auto* names = new QHBoxLayout(tabname);
    static const char* gridNames[] = {"gridcust", "gridsupp", "gridwork"};
    for (int m = 0; m < tsl::kMovements; ++m) {
        auto* col = new QVBoxLayout;
        const auto mv = tsl::Movement(m);
        col->addWidget(new QLabel(qs(tsl::movementParty(mv)) + QStringLiteral("(按") + qs(tsl::movementLabel(mv)) +
                                      QStringLiteral("金额)"),
                                  tabname));
        gridnames[m] = tableView(tabname, gridNames[m], &nameModels[m], true);
        col->addWidget(gridnames[m]);
        names->addLayout(col);
    }
    tabs->addTab(tabname, QStringLiteral("按名字"));

    tabcompare = new QWidget;
    tabcompare->setObjectName(QStringLiteral("tabcompare"));
    auto* compareLayout = new QVBoxLayout(tabcompare);
    gridcompare = tableView(tabcompare, "gridcompare", &compareModel, false);
    compareLayout->addWidget(gridcompare);
    tabs->addTab(tabcompare, QStringLiteral("对比"));

    labad = new QLabel(this);
    labad->setObjectName(QStringLiteral("labad"));
    labad->setWordWrap(true);
    labad->setTextFormat(Qt::PlainText);
    QPalette red = labad->palette();
    red.setColor(QPalette::WindowText, Qt::darkRed);
    labad->setPalette(red);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(tabs, 1);
    layout->addWidget(labad);

    connect(cbcompare, &QComboBox::activated, this, [this](int i) { cbcompareChange(i); });
    addExports();
    for (QTableView* v : tables())
        v->viewport()->installEventFilter(this); // columns fitted again to the room they get
}

void Tndtj::addExports() {
    for (QTableView* v : tables()) {
        menuItem(v, "exportXlsx", QStringLiteral("导出Excel…"), this, [this, v] { exportTable(v, ExportKind::Xlsx); });
        menuItem(v, "exportCsv", QStringLiteral("导出CSV…"), this, [this, v] { exportTable(v, ExportKind::Csv); });
    }
    menuItem(chart1, "exportPng", QStringLiteral("导出图片…"), this, [this] { exportChart(ExportKind::Png); });
    menuItem(chart1, "exportPdf", QStringLiteral("导出PDF…"), this, [this] { exportChart(ExportKind::Pdf); });
}

void Tndtj::exportTable(QTableView* view, ExportKind kind) {
    guarded(r_.prompter, [&] {
        const std::string what = tabs->tabText(tabs->currentIndex()).toStdString();
        const QString path =
            askExportPath(r_.prompter, kind, {name_.toStdString(), "年度统计", what, isoDate(r_.clock.today())});
        if (path.isEmpty())
            return;
        const tsl::out::Table t = tableOfModel(*view->model());
        runWithProgress(this, r_.prompter, [&](const tsl::out::Progress& progress) {
            tsl::out::TableSource rows(t);
            return writeTableAs(kind, path.toStdString(), what, t.columns, rows, progress);
        });
    });
}

void Tndtj::exportChart(ExportKind kind) {
    guarded(r_.prompter, [&] {
        const QString path =
            askExportPath(r_.prompter, kind, {name_.toStdString(), "年度统计", "图表", isoDate(r_.clock.today())});
        if (path.isEmpty())
            return;
        try {
            if (kind != ExportKind::Pdf) {
                saveWidgetPng(*chart1, path);
                return;
            }
            // The page gets a chart of its own, laid out to the page's shape: the
            // window's wide chart would fill only a strip of it.
            QGraphicsScene scene;
            QChart* chart = makeChart();
            scene.addItem(chart);
            savePdfPage(path, [&](QPainter& p, const QRectF& area) {
                chart->setGeometry(QRectF(QPointF(0, 0), area.size()));
                QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
                scene.render(&p, area, chart->geometry());
            });
        } catch (const std::exception& e) {
            r_.prompter.failure(windowTitle(), QString::fromUtf8(e.what())); // a box of this window
        }
    });
}

Tndtj::~Tndtj() = default;

void Tndtj::follow(QWidget* workspace) {
    workspace_ = workspace;
    workspace->installEventFilter(this);
}

bool Tndtj::eventFilter(QObject* o, QEvent* e) {
    if (o == workspace_ && e->type() == QEvent::Hide)
        hide();
    if (e->type() == QEvent::Resize)
        for (QTableView* v : tables())
            if (o == v->viewport())
                fitColumns(v);
    return QWidget::eventFilter(o, e);
}

void Tndtj::showLedger(const tsl::Connection& ledger, const QString& name, const std::vector<YearSource>& others) {
    WaitCursor wait;
    patterns_ = tsl::stampDatePatterns(r_.clock.shortDatePattern());
    // A ledger keeps no year of its own: two-digit years are placed around today's.
    mine_ = tsl::readYearFigures(ledger, patterns_, r_.clock.today().year);
    name_ = name;
    other_.reset();
    otherName_.clear();
    others_ = others;
    cbcompare->clear();
    cbcompare->addItem(QStringLiteral("(不对比)"));
    for (const YearSource& o : others_)
        cbcompare->addItem(o.label);
    cbcompare->setEnabled(!others_.empty());
    fill();
    presentInFront();
}

// A window of its own beside the workspace; while the report is up, which stays
// on top of the rest, only a dialog-type window owned by the report stands in
// front of it (the window manager keeps an owned window above its owner).
void Tndtj::presentInFront() {
    QWidget* owner = r_.frontOwner();
    const bool overReport = owner && owner != workspace_;
    const Qt::WindowType type = overReport ? Qt::Dialog : Qt::Window;
    if (windowType() != type) {
        const QPoint at = pos();
        setWindowFlags(type | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinMaxButtonsHint |
                       Qt::WindowCloseButtonHint);
        move(at);
    }
    if (!overReport && windowHandle())
        windowHandle()->setTransientParent(nullptr);
    present(*this, placed_ ? Placement::AsItStands : Placement::Centred, overReport ? owner : nullptr);
    placed_ = true;
}

void Tndtj::cbcompareChange(int index) {
    guarded(r_.prompter, [this, index] {
        other_.reset();
        otherName_.clear();
        if (index > 0 && std::size_t(index) <= others_.size()) {
            const YearSource& source = others_[std::size_t(index - 1)];
            WaitCursor wait;
            try {
                other_ = tsl::readYearFiguresOfFile(source.file, patterns_, r_.clock.today().year);
                otherName_ = source.label;
            } catch (...) {
                cbcompare->setCurrentIndex(0);
                fill();
                throw;
            }
        }
        fill();
        if (other_)
            tabs->setCurrentWidget(tabcompare);
    });
}

void Tndtj::fill() {
    laname->setText(QStringLiteral("帐本:") + name_ + QStringLiteral("    客户:") +
                    QString::number(mine_.customers) + QStringLiteral("个"));
    monthModel.setTable(tsl::books::monthTable(mine_), true);
    for (int m = 0; m < tsl::kMovements; ++m) {
        nameModels[m].setTable(tsl::books::nameTable(mine_, tsl::Movement(m)));
        gridnames[m]->horizontalHeader()->setSortIndicator(2, Qt::DescendingOrder);
    }
    if (other_)
        compareModel.setTable(
            tsl::books::comparisonTable(mine_, name_.toStdString(), *other_, otherName_.toStdString()), true);
    else
        compareModel.setTable({});
    tabs->setTabEnabled(tabs->indexOf(tabcompare), other_.has_value());

    const std::string notice = tsl::books::badAmountNotice(mine_);
    labad->setText(qs(notice));
    labad->setVisible(!notice.empty());

    for (QTableView* v : tables())
        fitColumns(v);
    fillChart();
}

std::vector<QTableView*> Tndtj::tables() const {
    std::vector<QTableView*> views{gridmonth, gridcompare};
    views.insert(views.end(), std::begin(gridnames), std::end(gridnames));
    return views;
}

void Tndtj::fillChart() {
    QChart* old = chart1->chart();
    chart1->setChart(makeChart());
    delete old;
}

// Grouped bars of the three books per month, the income as a line over them
// (and the other ledger's income as a second line when comparing).
QChart* Tndtj::makeChart() const {
    auto* chart = new QChart;
    chart->setTitle(QStringLiteral("每月金额(元)"));
    chart->setAnimationOptions(QChart::NoAnimation);

    int lines = 12;
    const auto undated = std::size_t(tsl::kUndated);
    std::int64_t undatedRows = 0;
    for (const auto& b : mine_.books)
        undatedRows += b.months[undated].count;
    if (other_)
        for (const auto& b : other_->books)
            undatedRows += b.months[undated].count;
    if (undatedRows > 0)
        lines = tsl::kMonthLines;

    QStringList categories;
    for (int l = 0; l < lines; ++l)
        categories << qs(tsl::monthLabel(l));

    auto* bars = new QBarSeries;
    double low = 0, high = 0;
    auto track = [&](double v) {
        low = std::min(low, v);
        high = std::max(high, v);
    };
    static const QColor barColours[] = {QColor(0x3a, 0x7b, 0xc8), QColor(0x8c, 0xb8, 0x4a), QColor(0xe0, 0x9a, 0x2e)};
    for (int m = 0; m < tsl::kMovements; ++m) {
        auto* set = new QBarSet(qs(tsl::movementLabel(tsl::Movement(m))));
        set->setColor(barColours[m]);
        set->setBorderColor(barColours[m].darker(120));
        for (int l = 0; l < lines; ++l) {
            const double v = double(mine_.books[std::size_t(m)].months[std::size_t(l)].total);
            *set << v;
            track(v);
        }
        bars->append(set);
    }
    chart->addSeries(bars);

    auto incomeLine = [&](const tsl::YearFigures& f, const QString& title, const QPen& pen) {
        auto* line = new QLineSeries;
        line->setName(title);
        line->setPen(pen);
        line->setPointsVisible(true);
        for (int l = 0; l < lines; ++l) {
            const double v = double(tsl::books::income(f, l));
            line->append(l, v);
            track(v);
        }
        chart->addSeries(line);
        return line;
    };
    std::vector<QLineSeries*> incomeLines{incomeLine(mine_, QStringLiteral("收入"), QPen(QColor(0xb0, 0x20, 0x20), 2.5))};
    if (other_)
        incomeLines.push_back(incomeLine(*other_, QStringLiteral("收入(") + otherName_ + QStringLiteral(")"),
                                         QPen(QColor(0x60, 0x60, 0x60), 2, Qt::DashLine)));

    auto* x = new QBarCategoryAxis;
    x->append(categories);
    // The axis cuts a label by a measure of its own, "日期不明" to "日期..."
    // where its category has room for it.
    x->setTruncateLabels(false);
    auto* y = new QValueAxis;
    y->setLabelFormat(QStringLiteral("%.0f"));
    y->setRange(low, high > low ? high : low + 1);
    y->applyNiceNumbers();
    chart->addAxis(x, Qt::AlignBottom);
    chart->addAxis(y, Qt::AlignLeft);
    bars->attachAxis(x);
    bars->attachAxis(y);
    for (auto* line : incomeLines) {
        line->attachAxis(x);
        line->attachAxis(y);
    }
    chart->legend()->setAlignment(Qt::AlignBottom);
    return chart;
}
