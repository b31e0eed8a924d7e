#include "forms/Unit1.h"

#include "forms/findbar.h"

#include "forms/about.h"
#include "books/income.h"
#include "books/settlement.h"
#include "books/summary.h"
#include "widgets/columnsizer.h"
#include "widgets/desktop.h"
#include "storage/error.h"
#include "forms/exportui.h"
#include "widgets/gridmodel.h"
#include "widgets/guard.h"
#include "storage/intconv.h"
#include "forms/jg.h"
#include "forms/lb.h"
#include "widgets/look.h"
#include "widgets/menuitem.h"
#include "widgets/windowsetup.h"
#include "forms/ndtj.h"
#include "forms/roster.h"
#include "storage/scan.h"
#include "storage/schema.h"
#include "storage/stamp.h"
#include "widgets/waitcursor.h"

#include <QAction>
#include <QCloseEvent>
#include <QFrame>
#include <QHeaderView>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QStatusBar>
#include <QTableView>
#include <QToolButton>

#include <cstdint>
#include <optional>

static void initWorkspaceResources() {
    // The pictures live in a static library; nothing pulls their registration
    // in unless asked for.
    Q_INIT_RESOURCE(workspace);
}

namespace {

constexpr int kClientWidth = 691;
constexpr int kClientHeight = 465;
constexpr int kStripHeight = 37;
constexpr int kPanelWidth = 89;
constexpr int kBarHeight = 19;

QString num(std::int64_t v) { return QString::fromStdString(tsl::intToStr(v)); }

QToolButton* flatButton(QWidget* parent, const char* name, const QString& picture, const QRect& place,
                        const QString& hint) {
    auto* b = new QToolButton(parent);
    b->setObjectName(QLatin1String(name));
    b->setAutoRaise(true);
    b->setFocusPolicy(Qt::NoFocus);
    b->setGeometry(place);
    if (!picture.isEmpty()) {
        b->setIcon(QIcon(QStringLiteral(":/workspace/") + picture));
        b->setIconSize(QSize(32, 32));
    }
    b->setToolTip(hint);
    return b;
}

} // namespace

TForm1::TForm1(Roster& roster) : QMainWindow(nullptr), r_(roster) {
    initWorkspaceResources();
    setObjectName(QStringLiteral("Form1"));
    // One program per ledger file: another one writing behind our cursors would
    // lose rows without a word.
    ado1.setExclusive(true);
    setupWindow(*this, QStringLiteral("Tessolan!"), kClientWidth, kClientHeight, WindowButtons::MinimiseMaximise);
    setWindowIcon(QIcon(QStringLiteral(":/workspace/form1.png")));

    client_ = new QWidget(this);
    client_->setObjectName(QStringLiteral("client"));
    setCentralWidget(client_);
    client_->installEventFilter(this);

    buildToolStrip(client_);
    buildPanel(client_);

    grid1 = new QTableView(client_);
    grid1->setObjectName(QStringLiteral("grid1"));
    grid1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    grid1->setSelectionBehavior(QAbstractItemView::SelectRows);
    grid1->setSelectionMode(QAbstractItemView::SingleSelection);
    grid1->setWordWrap(false);
    grid1->setCornerButtonEnabled(false);
    // Fixed heights: sizing a million rows to their contents would take seconds.
    grid1->setVerticalHeader(new MarkerHeader(grid1));
    QHeaderView* rows = grid1->verticalHeader();
    rows->setSectionResizeMode(QHeaderView::Fixed);
    rows->setMinimumSectionSize(1);
    rows->setDefaultSectionSize(18);
    rows->setFixedWidth(12);
    rows->setDefaultAlignment(Qt::AlignCenter);
    rows->setHighlightSections(false);
    QHeaderView* cols = grid1->horizontalHeader();
    cols->setSectionResizeMode(QHeaderView::Interactive);
    cols->setDefaultSectionSize(96);
    cols->setHighlightSections(false);
    cols->setSectionsClickable(false);
    cols->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    for (QWidget* w : {grid1->viewport(), static_cast<QWidget*>(cols), static_cast<QWidget*>(rows)})
        w->installEventFilter(this); // the record hint shows over the whole grid

    data1 = new CursorModel(table1, this);
    data1->setObjectName(QStringLiteral("data1"));
    data1->setGuard([this](const std::function<void()>& f) { guarded(r_.prompter, f); });
    data1->bindView(grid1);
    // Amounts and quantities read best at the right, digit under digit.
    QStringList numbers;
    for (std::string_view f : {tsl::field::shipQuantity, tsl::field::buyQuantity, tsl::field::delQuantity,
                               tsl::field::amount})
        numbers << QString::fromUtf8(f.data(), qsizetype(f.size()));
    data1->setRightAligned(numbers);
    sizer_ = new ColumnSizer(grid1, [this] { return viewNumber(); });
    connect(grid1, &QTableView::clicked, this, [this](const QModelIndex&) { grid1CellClick(); });
    buildGrid1Menu();
    buildYearGlanceItem();

    bar = new QStatusBar(client_);
    bar->setObjectName(QStringLiteral("bar"));
    bar->setSizeGripEnabled(false);
    // The one panel spans the bar; placed by hand, as the bar's own item frame
    // would not fit in its 19 pixels.
    barPanel = new QLabel(bar);
    barPanel->setObjectName(QStringLiteral("barPanel"));
    barPanel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    barPanel->setContentsMargins(2, 0, 2, 0);

    buildMenu();
    installSafetyMenu();
    buildToolsMenu();

    const int menuHeight = menuBar()->sizeHint().height();
    setMinimumSize(kClientWidth, kClientHeight + menuHeight);
    resize(kClientWidth, kClientHeight + menuHeight);
    layoutClient();

    running_ = std::make_unique<tsl::books::RunningSummary>(table1);
    table1.afterOpen = [this] { table1AfterOpen(); };
    table1.afterPost = [this] { table1AfterPost(); };
}

TForm1::~TForm1() {
    table1.afterOpen = nullptr;
    table1.afterPost = nullptr;
    delete data1; // before the cursor it watches
    data1 = nullptr;
    running_.reset();
}

void TForm1::buildToolStrip(QWidget* client) {
    CoolBar1 = new QFrame(client);
    CoolBar1->setObjectName(QStringLiteral("CoolBar1"));
    CoolBar1->setFrameShape(QFrame::NoFrame);

    btnadd = flatButton(CoolBar1, "btnadd", QStringLiteral("add.png"), {0, 1, 32, 32}, QStringLiteral("添加资料!"));
    btndel = flatButton(CoolBar1, "btndel", QStringLiteral("del.png"), {32, 1, 32, 32}, QStringLiteral("删除资料!"));
    btnedit =
        flatButton(CoolBar1, "btnedit", QStringLiteral("edit.png"), {65, 1, 32, 32}, QStringLiteral("修改资料!"));
    SpeedButton7 = flatButton(CoolBar1, "SpeedButton7", QStringLiteral("change.png"), {97, 1, 32, 32},
                              QStringLiteral("更换帐本!"));
    SpeedButton6 = flatButton(CoolBar1, "SpeedButton6", QStringLiteral("author.png"), {129, 1, 32, 32},
                              QStringLiteral("关于作者!"));
    Label6 = textLabel(CoolBar1, "Label6", QStringLiteral("结帐条件:"), {176, 16, 54, 12});

    edjz = new QLineEdit(CoolBar1);
    edjz->setObjectName(QStringLiteral("edjz"));
    edjz->setGeometry(232, 12, 121, 20);
    edjz->setToolTip(QStringLiteral("请输入您要结帐的人或厂家!"));
    edjz->installEventFilter(this);

    Shape1 = new QFrame(CoolBar1);
    Shape1->setObjectName(QStringLiteral("Shape1"));
    Shape1->setGeometry(353, 10, 49, 20);
    Shape1->setFrameStyle(QFrame::Box | QFrame::Plain);
    Shape1->setLineWidth(1);
    QPalette white = Shape1->palette();
    white.setColor(QPalette::Window, Qt::white);
    white.setColor(QPalette::WindowText, Qt::black);
    Shape1->setPalette(white);
    Shape1->setAutoFillBackground(true);

    btnjz = flatButton(CoolBar1, "btnjz", QString(), {353, 10, 49, 20}, QStringLiteral("自动结帐!"));
    btnjz->setText(QStringLiteral("结帐"));
    btnjz->raise(); // in front of its frame

    connect(btnadd, &QToolButton::clicked, this, [this] { guarded(r_.prompter, [this] { btnaddClick(); }); });
    connect(btndel, &QToolButton::clicked, this, [this] { guarded(r_.prompter, [this] { btndelClick(); }); });
    connect(btnedit, &QToolButton::clicked, this, [this] { guarded(r_.prompter, [this] { btneditClick(); }); });
    connect(SpeedButton7, &QToolButton::clicked, this, [this] { SpeedButton7Click(); });
    connect(SpeedButton6, &QToolButton::clicked, this, [this] { SpeedButton6Click(); });
    connect(btnjz, &QToolButton::clicked, this, [this] { btnjzClick(); });
}

void TForm1::buildPanel(QWidget* client) {
    Panel1 = new QFrame(client);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    Panel1->setLineWidth(1);

    auto book = [this](const char* name, const char* picture, int top, const QString& hint) {
        return flatButton(Panel1, name, QLatin1String(picture), {24, top, 41, 41}, hint);
    };
    SpeedButton1 = book("SpeedButton1", "customers.png", 16, QStringLiteral("客户联系地址,邮编,电话..."));
    SpeedButton2 = book("SpeedButton2", "shipments.png", 88, QStringLiteral("发给客户的货物数目,日期,金额..."));
    SpeedButton3 = book("SpeedButton3", "purchases.png", 160, QStringLiteral("已经购买了的毛沙,辅料,商标..."));
    SpeedButton4 = book("SpeedButton4", "deliveries.png", 232, QStringLiteral("已经上交的整烫,套口,横机,印染..."));
    SpeedButton5 = book("SpeedButton5", "report.png", 304, QStringLiteral("总体的情况!"));
    Label1 = textLabel(Panel1, "Label1", QStringLiteral("客户联系"), {21, 64, 48, 12});
    Label2 = textLabel(Panel1, "Label2", QStringLiteral("发货表单"), {21, 136, 48, 12});
    Label3 = textLabel(Panel1, "Label3", QStringLiteral("进货表单"), {21, 208, 48, 12});
    Label4 = textLabel(Panel1, "Label4", QStringLiteral("职工交货"), {21, 280, 48, 12});
    Label5 = textLabel(Panel1, "Label5", QStringLiteral("总体报表"), {21, 352, 48, 12});

    connect(SpeedButton1, &QToolButton::clicked, this, [this] { SpeedButton1Click(); });
    connect(SpeedButton2, &QToolButton::clicked, this, [this] { SpeedButton2Click(); });
    connect(SpeedButton3, &QToolButton::clicked, this, [this] { SpeedButton3Click(); });
    connect(SpeedButton4, &QToolButton::clicked, this, [this] { SpeedButton4Click(); });
    connect(SpeedButton5, &QToolButton::clicked, this, [this] { SpeedButton5Click(); });
}

void TForm1::buildMenu() {
    QMenuBar* mb = menuBar();
    mb->setObjectName(QStringLiteral("MainMenu1"));
    F1 = mb->addMenu(QStringLiteral("文件(&F)"));
    F1->setObjectName(QStringLiteral("F1"));
    A1 = F1->addAction(QStringLiteral("添加资料(&A)"));
    A1->setObjectName(QStringLiteral("A1"));
    D1 = F1->addAction(QStringLiteral("删除资料(&D)"));
    D1->setObjectName(QStringLiteral("D1"));
    E1 = F1->addAction(QStringLiteral("修改资料(&E)"));
    E1->setObjectName(QStringLiteral("E1"));
    N1 = F1->addSeparator();
    N1->setObjectName(QStringLiteral("N1"));
    X1 = F1->addAction(QStringLiteral("退出(&X)"));
    X1->setObjectName(QStringLiteral("X1"));
    A2 = mb->addMenu(QStringLiteral("关于(&A)"));
    A2->setObjectName(QStringLiteral("A2"));
    Z1 = A2->addAction(QStringLiteral("关于作者(&Z)"));
    Z1->setObjectName(QStringLiteral("Z1"));

    connect(A1, &QAction::triggered, this, [this] { A1Click(); });
    connect(D1, &QAction::triggered, this, [this] { D1Click(); });
    connect(E1, &QAction::triggered, this, [this] { E1Click(); });
    connect(X1, &QAction::triggered, this, [this] { X1Click(); });
    connect(Z1, &QAction::triggered, this, [this] { Z1Click(); });
}

// Tool strip on top, panel on the left, status bar at the bottom, the grid
// takes the rest (and grows when the window is maximised).
void TForm1::layoutClient() {
    const int w = client_->width();
    const int h = client_->height();
    CoolBar1->setGeometry(0, 0, w, kStripHeight);
    Panel1->setGeometry(0, kStripHeight, kPanelWidth, h - kStripHeight - kBarHeight);
    const int find = findBar && findBar->isVisible() ? FindBar::kHeight : 0;
    grid1->setGeometry(kPanelWidth, kStripHeight, w - kPanelWidth, h - kStripHeight - kBarHeight - find);
    if (find)
        findBar->setGeometry(kPanelWidth, h - kBarHeight - find, w - kPanelWidth, find);
    bar->setGeometry(0, h - kBarHeight, w, kBarHeight);
    barPanel->setGeometry(0, 2, w, kBarHeight - 2);
}

bool TForm1::eventFilter(QObject* o, QEvent* e) {
    if (o == client_ && e->type() == QEvent::Resize) {
        layoutClient();
    } else if (o == edjz && e->type() == QEvent::ShortcutOverride && isToolKey(static_cast<QKeyEvent*>(e))) {
        e->ignore(); // the export keys, not the line edit's Ctrl+E (end of line)
        return true;
    } else if (o == edjz && e->type() == QEvent::KeyPress) {
        return edjzKeyPress(static_cast<QKeyEvent*>(e));
    } else if (e->type() == QEvent::ToolTip && grid1 &&
               (o == grid1->viewport() || o == grid1->horizontalHeader() || o == grid1->verticalHeader())) {
        showPlainToolTip(static_cast<QHelpEvent*>(e)->globalPos(), grid1->toolTip(), grid1);
        return true;
    } else if (e->type() == QEvent::ContextMenu && grid1 && (o == grid1 || o == grid1->viewport())) {
        refreshSafetyMenu(); // the right-click menu shows with its enabling up to date
    }
    return QMainWindow::eventFilter(o, e);
}

QString TForm1::viewNumber() const { return QString::fromStdString(table1.tableName()); }

QString TForm1::statusSummary() const { return barPanel->text(); }

// The amounts of the status summary are read in the same pass as the rows.
void TForm1::openSummed(std::string_view book) {
    tsl::books::OpenSum pass(table1, book);
    openSum_ = &pass;
    struct Disarm {
        TForm1& f;
        ~Disarm() { f.openSum_ = nullptr; }
    } disarm{*this};
    tsl::reopen(table1, book);
}

void TForm1::openBook(const char* view) {
    guarded(r_.prompter, [this, view] {
        WaitCursor wait;
        openSummed(view);
    });
}

void TForm1::SpeedButton1Click() { openBook("1"); }
void TForm1::SpeedButton2Click() { openBook("2"); }
void TForm1::SpeedButton3Click() { openBook("3"); }
void TForm1::SpeedButton4Click() { openBook("4"); }

void TForm1::enableCommands() {
    const bool any = table1.recordCount() != 0;
    btnedit->setEnabled(any);
    D1->setEnabled(any);
    E1->setEnabled(any);
    btndel->setEnabled(any);
    refreshSafetyMenu(); // their keys work only while they are enabled
}

namespace {

QString summaryText(int view, int count, std::int64_t sum) {
    switch (view) {
    case 1:
        return QStringLiteral("总共有") + num(count) + QStringLiteral("个客户!");
    case 2:
        return QStringLiteral("总共已经发了") + num(count) + QStringLiteral("次货!总的金额为:") + num(sum) +
               QStringLiteral("元人民币! 恭喜发财!!");
    case 3:
        return QStringLiteral("总共已经进了") + num(count) + QStringLiteral("次货!应付金额为:") + num(sum) +
               QStringLiteral("元人民币!");
    default:
        return QStringLiteral("所有人总共交了") + num(count) + QStringLiteral("次货!总的金额为:") + num(sum) +
               QStringLiteral("元人民币!");
    }
}

} // namespace

void TForm1::table1AfterOpen() {
    guarded(r_.prompter, [this] {
        enableCommands();
        const int view = tsl::strToInt(viewNumber().toStdString());
        // A value that does not convert: the walk stops on its row with its message,
        // the grid catching up once, on the row where it stops.
        std::optional<CursorModel::Hold> hold;
        const tsl::books::Summary s =
            tsl::books::summaryAfterOpen(table1, openSum_, [&] { hold.emplace(*data1); });
        running_->opened(s);
        barPanel->setText(summaryText(view, int(s.rows), s.total));
    });
}

void TForm1::table1AfterPost() {
    lastDelete.bookChanged(table1.tableName());
    recheckServer();
    guarded(r_.prompter, [this] { enableCommands(); });
    if (statusBatch_ == 0)
        refreshStatus();
}

void TForm1::refreshStatus() noexcept {
    try {
        if (!table1.isOpen())
            return;
        if (const auto s = running_->current())
            barPanel->setText(summaryText(tsl::strToInt(viewNumber().toStdString()), int(s->rows), s->total));
    } catch (...) {
        // The summary is only a summary: a read that fails leaves it as it was.
    }
}

void TForm1::grid1CellClick() {
    guarded(r_.prompter, [this] {
        if (!table1.isOpen())
            return;
        QString hint;
        for (int c = 0, n = table1.fieldCount(); c < n; ++c)
            hint += QString::fromStdString(table1.fieldName(c)) + QLatin1Char(':') +
                    QString::fromStdString(table1.fieldText(c)) + QLatin1Char('\n');
        grid1->setToolTip(hint);
    });
}

// ---- grid1's right-click menu -------------------------------------------------------
// Commands beyond the main menu, which keeps its items. Each addition adds its
// actions here; their logic lives below the windows.
void TForm1::buildGrid1Menu() {
    // Export of the shown book.
    exportXlsxAction = menuItem(grid1, "exportXlsxAction", QStringLiteral("导出本表为Excel…"), this,
                                [this] { exportBookClick(ExportKind::Xlsx); });
    exportCsvAction = menuItem(grid1, "exportCsvAction", QStringLiteral("导出本表为CSV…"), this,
                               [this] { exportBookClick(ExportKind::Csv); });
}

QString TForm1::ledgerName() const {
    if (ado1.onServer())
        return QString::fromStdString(ado1.serverLedger());
    return QString::fromStdString(tsl::out::ledgerNameOf(tsl::Connection::dataSource(ado1.connectionString())));
}

// The whole shown book, read straight from the ledger in stored order.
void TForm1::exportBookClick(ExportKind kind) {
    guarded(r_.prompter, [this, kind] {
        if (!table1.isOpen())
            return;
        const tsl::out::Book* book = tsl::out::findBook(viewNumber().toInt());
        if (!book)
            return;
        const std::string label(book->label);
        const QString path =
            askExportPath(r_.prompter, kind, {ledgerName().toStdString(), label, isoDate(r_.clock.today())});
        if (path.isEmpty())
            return;
        const std::string file = path.toStdString();
        runWithProgress(this, r_.prompter, [&](const tsl::out::Progress& progress) {
            tsl::out::BookRows rows(ado1.engine(), *book);
            return writeTableAs(kind, file, label, book->columns(), rows, progress);
        });
    });
}
// ---- end of grid1's right-click menu ---------------------------------------------------

bool TForm1::edjzKeyPress(QKeyEvent* e) {
    if (e->text() == QLatin1String("\r") || e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter) {
        btnjz->click();
        return true;
    }
    return false;
}

void TForm1::A1Click() { btnadd->click(); }
void TForm1::D1Click() { btndel->click(); }
void TForm1::E1Click() { btnedit->click(); }
void TForm1::X1Click() { close(); }
void TForm1::SpeedButton7Click() { close(); }

void TForm1::Z1Click() {
    guarded(r_.prompter, [this] {
        present(*r_.abou, Placement::AsItStands, r_.frontOwner());
    });
}

void TForm1::SpeedButton6Click() { Z1->trigger(); }

void TForm1::closeEvent(QCloseEvent* e) {
    FormCloseQuery();
    e->accept();
}

void TForm1::FormCloseQuery() {
    guarded(r_.prompter, [this] {
        if (r_.l)
            present(*r_.l, Placement::Centred);
    });
    ledgerLeft();
}

// Settlement: every row of the shown book whose name (position 1) is exactly
// the text of edjz, listed in the report window under their total.
void TForm1::btnjzClick() {
    guarded(r_.prompter, [this] {
        const QString name = edjz->text();
        if (name.isEmpty()) {
            r_.prompter.message(QString::fromUtf8(tsl::books::kNameMissing.data(),
                                                  qsizetype(tsl::books::kNameMissing.size())));
            return;
        }
        if (viewNumber() == QLatin1String("1"))
            return; // the customer book is not settled

        Tj& j = *r_.j;
        StringGrid& g = *j.grid1;
        // Each settlement starts from the reset grid, so a report never mixes in
        // rows of an earlier one. A report left open from before is rewritten by
        // this scan; if the scan shows nothing, it must not stay up half-rewritten.
        struct Finish {
            TForm1& f;
            Tj& j;
            bool wasShown;
            bool reported = false;
            ~Finish() {
                f.grid1->setEnabled(true);
                if (wasShown && !reported)
                    j.hide();
            }
        } finish{*this, j, j.isVisible()};

        g.setRowCount(2);
        g.setColCount(1);
        g.clearCells();
        j.keepSettlement({});
        const int fields = table1.fieldCount();
        g.setColCount(fields);
        j.keepName(name);
        j.keepLedger(ledgerName());
        const std::string kept = j.keptName().toStdString();
        for (int p = 0; p < fields; ++p)
            g.setCell(p, 0, QString::fromStdString(table1.fieldName(p)));
        grid1->setEnabled(false);

        tsl::books::Settlement settled;
        {
            WaitCursor wait;
            CursorModel::Hold hold(*data1);
            StringGrid::Batch batch(g);
            const tsl::books::RunningSummary::Still still(*running_); // a settlement changes no amount
            // A bad amount stops on its row, the earlier ones listed.
            settled = tsl::books::settle(table1, kept, [&](const std::vector<std::string>& row) {
                const int r = g.rowCount() - 1;
                for (int p = 0; p < fields; ++p)
                    g.setCell(p, r, QString::fromStdString(row[std::size_t(p)]));
                g.setRowCount(g.rowCount() + 1);
            });
        }
        grid1->setEnabled(true);

        if (g.rowCount() == 2) {
            j.hide(); // not left showing the rewritten header behind the message
            r_.prompter.message(QString::fromUtf8(tsl::books::kNoMatch.data(), qsizetype(tsl::books::kNoMatch.size())));
            return;
        }
        g.setRowCount(g.rowCount() - 1);
        j.laje->setText(num(settled.total) + QStringLiteral("元"));
        j.keepSettlement(std::move(settled));
        finish.reported = true;
        j.showReport(this);
    });
}

// Overall report: counts and totals of the four books. The shown book's kept
// summary serves while it is exact; the engine counts and sums each other book
// in one pass, without a list of its rows; only a book it cannot
// read, or an amount that does not convert, is walked through table2, which
// stops on the failing row with its message.
void TForm1::SpeedButton5Click() {
    guarded(r_.prompter, [this] {
        const QString gap = QStringLiteral("\n\n");

        std::int64_t customers = 0;
        tsl::books::Summary shipments, purchases, deliveries;
        {
            WaitCursor wait;
            const tsl::books::RunningSummary* shown = running_.get();
            customers = tsl::books::rowCountOf(ado1, table2, tsl::table::customers, shown);
            shipments = tsl::books::summaryOf(ado1, table2, tsl::table::shipments, shown);
            purchases = tsl::books::summaryOf(ado1, table2, tsl::table::purchases, shown);
            deliveries = tsl::books::summaryOf(ado1, table2, tsl::table::deliveries, shown);
        }
        QString text = QString(9, QLatin1Char(' ')) + QStringLiteral("总体报表");
        text += gap + QStringLiteral("现在总有客户:") + num(customers) + QStringLiteral("个");

        text += gap + QStringLiteral("现在总共发货次数为:") + num(shipments.rows) + QStringLiteral("次");
        const std::int64_t shipped = shipments.total;
        text += gap + QStringLiteral("发货总收为:") + num(shipped) + QStringLiteral("元");

        text += gap + QStringLiteral("现在总共进货次数为:") + num(purchases.rows) + QStringLiteral("次");
        const std::int64_t bought = purchases.total;
        text += gap + QStringLiteral("进货总付出:") + num(bought) + QStringLiteral("元");

        text += gap + QStringLiteral("现在职工总共交货次数为:") + num(deliveries.rows) + QStringLiteral("次");
        const std::int64_t owed = deliveries.total;
        text += gap + QStringLiteral("应付职工的钱为:") + num(owed) + QStringLiteral("元");

        const std::int64_t income = tsl::books::income(shipped, bought, owed);
        text += gap + QStringLiteral("今年的总收入为:") + num(income) + QStringLiteral("元");

        QString verdict;
        if (income == 0)
            verdict = QStringLiteral("看样子今年是白忙了一年了!");
        else if (income < 0)
            verdict = QStringLiteral("今年真倒霉,忙了一年,还要赔钱!");
        else if (income < 40000)
            verdict = QStringLiteral("虽然赚得不多,但也是辛苦钱吗!");
        else
            verdict = QStringLiteral("今年是个丰收年,发了!");
        text += gap + QStringLiteral("★") + verdict + QStringLiteral("☆");

        r_.prompter.messageWithCommands(text, reportCommands(text)); // the box as it is, printable by key and menu
    });
}
