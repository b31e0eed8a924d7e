#include "forms/lb.h"
#include "forms/lbtexts.h"

#include "forms/Unit1.h"
#include "storage/backup.h"
#include "storage/error.h"
#include "storage/failure.h"
#include "storage/fileops.h"
#include "widgets/guard.h"
#include "storage/indexfiles.h"
#include "storage/ledgerfolder.h"
#include "storage/ledgerops.h"
#include "storage/pgsession.h"
#include "widgets/windowsetup.h"
#include "widgets/prompter.h"
#include "forms/roster.h"
#include "storage/scan.h"
#include "storage/schema.h"
#include "widgets/waitcursor.h"

#include <QCloseEvent>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QStyledItemDelegate>
#include <QWindow>

#include <algorithm>
#include <ctime>

#include <string>
#include <vector>

static void initChooserResources() {
    // The pictures live in a static library; its resource registration is not
    // pulled in by the linker unless something asks for it.
    static bool done = false;
    if (!done) {
        Q_INIT_RESOURCE(chooser);
        done = true;
    }
}

namespace {

using namespace lbtexts;

const QColor kBackground(143, 183, 207);
const QColor kListText(255, 248, 179);
constexpr int kLineHeight = 16;

const QString kIndexMissing = QStringLiteral("无法打开程序,找不到\"Run.dll\"文件!");
const QString kNameTaken = QStringLiteral("帐本名称已存在,请改名!");
const QString kCannotCreate = QStringLiteral("无法建立帐本!");
const QString kIndexFolderReadOnly = QStringLiteral("无法打开程序,\"run.dll\"所在的文件夹是只读的!");
const QString kTwoIndexes = QStringLiteral("同时找到\"run.dll\"和\"tsl.mdb\"两个帐本索引文件!\n");


// Why the index did not open. Only a missing index gets the old words; a
// read-only folder, a damaged file or a missing table say what they are.
QString indexFailureText(const std::exception& e, tsl::Failure renameFailure) {
    const auto* failure = dynamic_cast<const tsl::Error*>(&e);
    if (!failure || failure->kind() == tsl::Failure::Other)
        return kIndexMissing;
    if (failure->kind() == tsl::Failure::MissingFile) {
        const bool folderReadOnly =
            renameFailure == tsl::Failure::ReadOnly || renameFailure == tsl::Failure::NoAccess;
        return folderReadOnly ? kIndexFolderReadOnly : kIndexMissing;
    }
    return QStringLiteral("无法打开程序,") + fromStd(tsl::errorText(e));
}

// A copy refused because the file is there, the index is missing or the name
// is no file name keeps the old words; a disk that is full, read-only or
// failing says so.
QString copyFailureText(const std::exception& e) {
    const auto* failure = dynamic_cast<const tsl::Error*>(&e);
    switch (failure ? failure->kind() : tsl::Failure::Other) {
    case tsl::Failure::Other:
    case tsl::Failure::Exists:
    case tsl::Failure::MissingFile: return kCopyFailed;
    case tsl::Failure::NameTooLong: return kNameTooLong;
    default: return QStringLiteral("文件创建失败,") + fromStd(tsl::errorText(e));
    }
}

// Each line as one line of plain text: "&" is no mnemonic here.
class LedgerLineDelegate final : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* p, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        const QPalette& pal = option.palette;
        const bool selected = option.state & QStyle::State_Selected;
        // The selected line keeps the highlight even when the list loses focus.
        const QColor bg = selected ? pal.color(QPalette::Active, QPalette::Highlight) : kBackground;
        const QColor fg = selected ? pal.color(QPalette::Active, QPalette::HighlightedText) : kListText;
        p->save();
        p->fillRect(option.rect, bg);
        p->setPen(fg);
        p->setFont(option.font);
        const QRect textRect = option.rect.adjusted(2, 0, 0, 0);
        p->drawText(textRect, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                    index.data(Qt::DisplayRole).toString());
        if (option.state & QStyle::State_HasFocus) {
            QPen pen(fg, 1, Qt::DotLine);
            p->setPen(pen);
            p->setBrush(Qt::NoBrush);
            p->drawRect(option.rect.adjusted(0, 0, -1, -1));
        }
        p->restore();
    }

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex&) const override {
        return {option.rect.width(), kLineHeight};
    }
};

// The outline around the list.
class ShapeOutline final : public QWidget {
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.fillRect(rect(), Qt::white);
        p.setPen(Qt::black);
        p.drawRect(rect().adjusted(0, 0, -1, -1));
    }
};

QPushButton* makeButton(QWidget* parent, const char* name, const QString& text, const char* glyph, int x) {
    auto* b = new QPushButton(QIcon(QString::fromLatin1(glyph)), text, parent);
    b->setObjectName(QString::fromLatin1(name));
    b->setGeometry(x, 272, 81, 25);
    return b;
}

} // namespace

bool hasInvisibleCharacters(const QString& name) {
    for (char32_t c : name.toUcs4()) {
        switch (QChar::category(c)) {
        case QChar::Other_Format:       // U+00AD, U+200B-U+200F, U+202A-U+202E, U+2066-U+2069, U+FEFF...
        case QChar::Separator_Line:     // U+2028
        case QChar::Separator_Paragraph: // U+2029
            return true;
        default: break;
        }
    }
    return false;
}

QString trimLedgerName(const QString& s) {
    qsizetype from = 0;
    qsizetype to = s.size();
    while (from < to && s.at(from).unicode() <= u' ')
        ++from;
    while (to > from && s.at(to - 1).unicode() <= u' ')
        --to;
    return s.mid(from, to - from);
}

std::string ledgerFile(const QString& name) { return name.toStdString() + std::string(tsl::kLedgerSuffix); }

bool isUsableLedgerName(const QString& name) {
    // "." and ".." are fine: their files are "..mdb" and "...mdb".
    if (name.isEmpty())
        return false;
    for (QChar c : name) {
        // "\" separates folders where these files may travel to.
        if (c == u'/' || c == u'\\' || c == u';' || c.category() == QChar::Other_Control)
            return false;
    }
    const QByteArray utf8 = name.toUtf8();
    // A lone surrogate would reach the disk as another name than the one listed.
    if (QString::fromUtf8(utf8) != name)
        return false;
    return !isLedgerNameTooLong(name);
}

bool isLedgerNameTooLong(const QString& name) {
    return std::size_t(name.toUtf8().size()) + tsl::kLedgerSuffix.size() > tsl::longestCopyTarget();
}

Tl::Tl(Roster& roster) : QWidget(nullptr), r_(roster) {
    initChooserResources();
    setObjectName(QStringLiteral("l"));
    setupWindow(*this, QStringLiteral("帐本选择!"), 258, 307, WindowButtons::MinimiseOnly, Stacking::OnTop);

    QPalette pal = palette();
    pal.setColor(QPalette::Window, kBackground);
    setPalette(pal);
    setAutoFillBackground(true);

    // The picture, the caption and the frame count as the window's surface for dragging.
    Image1 = new QLabel(this);
    Image1->setObjectName(QStringLiteral("Image1"));
    const QPixmap picture(QStringLiteral(":/chooser/image1.png"));
    Image1->setPixmap(picture);
    Image1->setGeometry(8, 8, picture.width(), picture.height());
    Image1->setAttribute(Qt::WA_TransparentForMouseEvents);

    Label1 = new QLabel(QStringLiteral("请选择要进入的帐本:"), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setTextFormat(Qt::PlainText);
    Label1->move(48, 8);
    Label1->adjustSize();
    Label1->setAttribute(Qt::WA_TransparentForMouseEvents);

    Shape1 = new ShapeOutline(this); // before list1, so the list lies above it
    Shape1->setObjectName(QStringLiteral("Shape1"));
    Shape1->setGeometry(8, 23, 243, 243);
    Shape1->setAttribute(Qt::WA_TransparentForMouseEvents);

    list1 = new QListWidget(this);
    list1->setObjectName(QStringLiteral("list1"));
    list1->setGeometry(9, 24, 241, 241);
    list1->setFrameShape(QFrame::NoFrame);
    list1->setSelectionMode(QAbstractItemView::SingleSelection);
    list1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    list1->setUniformItemSizes(true);
    list1->setSortingEnabled(false);
    list1->setItemDelegate(new LedgerLineDelegate(list1));
    QPalette lp = list1->palette();
    lp.setColor(QPalette::Base, kBackground);
    lp.setColor(QPalette::Text, kListText);
    list1->setPalette(lp);

    BitBtn1 = makeButton(this, "BitBtn1", QStringLiteral("进入帐本"), ":/chooser/ok.png", 8);
    BitBtn1->setDefault(true);
    BitBtn2 = makeButton(this, "BitBtn2", QStringLiteral("新建帐本"), ":/chooser/new.png", 88);
    BitBtn3 = makeButton(this, "BitBtn3", QStringLiteral("退出程序"), ":/chooser/close.png", 168);

    connect(BitBtn1, &QPushButton::clicked, this, [this] { BitBtn1Click(); });
    connect(BitBtn2, &QPushButton::clicked, this, [this] { BitBtn2Click(); });
    connect(BitBtn3, &QPushButton::clicked, this, [this] { close(); });
    // A double-click on a ledger enters it, as the enter button does.
    connect(list1, &QListWidget::itemDoubleClicked, BitBtn1, &QPushButton::click);

    installBackupMenu();
    centreOnScreen(*this);
    FormCreate();
}

Tl::~Tl() = default;

void Tl::FormCreate() {
    guarded(r_.prompter, [&] {
        const std::string stored(tsl::kStoredIndexFile);
        const std::string running(tsl::kIndexFile);
        // A failed rename is fine: the index may already be open under its
        // running name, left there by a killed run. Never replaces that file.
        tsl::Failure renameFailure = tsl::Failure::Other;
        bool renamed = false;
        try {
            tsl::renameIndex(stored, running);
            renamed = true;
        } catch (const tsl::Error& e) {
            renameFailure = e.kind();
        }
        const bool both = !renamed && renameFailure == tsl::Failure::Exists && tsl::fileExists(stored);
        tsl::tidyBackups();

        QString trouble;
        try {
            openIndex();
        } catch (const std::exception& e) {
            trouble = indexFailureText(e, renameFailure);
        }
        if (both)
            trouble = settleTwoIndexes(trouble);
        // Only a missing index has a box of the old kind; what the program says
        // beyond it speaks in its own boxes under the chooser's caption.
        if (trouble == kIndexMissing)
            r_.prompter.message(trouble);
        else if (trouble.startsWith(kTwoIndexes))
            r_.prompter.notice(windowTitle(), trouble);
        else if (!trouble.isEmpty())
            r_.prompter.failure(windowTitle(), trouble);

        // What a creation cut short left behind goes now; nothing anyone entered does.
        if (ado1.connected() && table1.isOpen()) {
            std::vector<std::string> names;
            for (int i = 0; i < list1->count(); ++i)
                names.push_back(list1->item(i)->text().toStdString());
            // A rename, delete or new ledger a kill cut short is finished or undone first.
            (void)tsl::settleLedgerFiles(names);
            (void)tsl::tidyLedgerFolder(names);
        }
        updateLedgerActions();
        // The server of the last run, if one was chosen; when it cannot be
        // reached the chooser says why and stays on the local folder.
        const QString address = storedServerAddress();
        if (!address.isEmpty())
            (void)useServer(address);
        showStore();
    });
}

void Tl::openIndex() {
    ado1.disconnect();
    list1->clear();
    try {
        ado1.setConnectionString(tsl::connectionString(tsl::kIndexFile));
        ado1.connect();
        table1.setTableName(std::string(tsl::table::ledgers));
        table1.open();
        table1.first();
        const int count = table1.recordCount();
        for (int i = 0; i < count; ++i) {
            list1->addItem(QString::fromStdString(table1.fieldText(tsl::pos::ledgerName)));
            table1.next();
        }
    } catch (...) {
        // Nothing may hold a file that is about to be moved aside.
        ado1.disconnect();
        throw;
    }
}

QString Tl::settleTwoIndexes(const QString& trouble) {
    // Both names at once: a killed run left "tsl.mdb" and "run.dll" came back
    // (from a backup, say). The running one holds what was done last, so it is
    // used; the other is kept under a name of its own, so that the next end can
    // put the index back and the next start is a plain one. The ledgers only the
    // other one lists join the list: no ledger stays hidden.
    const std::string stored(tsl::kStoredIndexFile);
    const std::string running(tsl::kIndexFile);
    const QString& head = kTwoIndexes;
    const std::time_t now = std::time(nullptr);
    if (!trouble.isEmpty()) {
        // "tsl.mdb" does not open: "run.dll" does the work, if it can.
        if (!tsl::ledgerNamesIn(stored))
            return trouble;
        const std::string aside = tsl::setAside(running, now);
        if (aside.empty() || !tsl::tryRenameNoReplace(stored, running))
            return trouble;
        try {
            openIndex();
        } catch (const std::exception& e) {
            return indexFailureText(e, tsl::Failure::Other);
        }
        return head + QStringLiteral("\"tsl.mdb\"无法打开,已改名为\"") + fromStd(aside) +
               QStringLiteral("\"保存;\n程序使用\"run.dll\".");
    }
    std::vector<std::string> listed;
    for (int i = 0; i < list1->count(); ++i)
        listed.push_back(list1->item(i)->text().toStdString());
    QStringList joined;
    for (const std::string& n : tsl::ledgerNamesIn(stored).value_or(std::vector<std::string>{})) {
        if (std::find(listed.begin(), listed.end(), n) != listed.end())
            continue;
        try {
            table1.append();
            table1.setField(tsl::field::ledgerName, n);
            table1.post();
        } catch (...) {
            table1.cancel();
            break; // the rest stay in the kept file
        }
        listed.push_back(n);
        list1->addItem(fromStd(n));
        joined << fromStd(n);
    }
    const std::string aside = tsl::setAside(stored, now);
    QString text = head + QStringLiteral("程序使用上次运行留下的\"tsl.mdb\",\n");
    text += aside.empty() ? QStringLiteral("\"run.dll\"保持原样.")
                          : QStringLiteral("\"run.dll\"已改名为\"") + fromStd(aside) + QStringLiteral("\"保存.");
    if (!joined.isEmpty())
        text += QStringLiteral("\n\"run.dll\"中的这些帐本已加入列表:\n") + joined.join(QLatin1Char('\n'));
    return text;
}

void Tl::enterLedger(const QString& name) {
    // A listed name with a path in it would open some other file (a snapshot, say).
    if (!isUsableLedgerName(name))
        throw tsl::Error("unusable ledger name");
    TForm1& ws = *r_.Form1;
    WaitCursor wait; // a big book takes a while to open
    ws.stopWatching();
    ws.ado1.disconnect();
    try {
        ws.ado1.setServer({}, {});
        ws.ado1.setConnectionString(tsl::connectionString(ledgerFile(name)));
        ws.ado1.connect();
        tsl::reopen(ws.table1, tsl::table::customers);
    } catch (...) {
        // A file that opened but is no ledger (an empty one, say) is let go
        // again, lock and all, so that it can be replaced or restored.
        ws.ado1.disconnect();
        throw;
    }
    present(ws, Placement::Centred);
    hide();
    ws.setWindowTitle(QStringLiteral("帐本名称:") + name);
}

void Tl::BitBtn1Click() {
    guarded(r_.prompter, [&] {
        if (onServer()) {
            serverEnter();
            return;
        }
        const QList<QListWidgetItem*> chosen = list1->selectedItems();
        if (chosen.isEmpty() || chosen.front()->text().isEmpty()) {
            r_.prompter.message(kSelectLedger);
            return;
        }
        const QString name = chosen.front()->text();
        try {
            enterLedger(name);
        } catch (const tsl::Error& e) {
            if (e.kind() == tsl::Failure::Locked)
                r_.prompter.failure(windowTitle(), kInUse);
            else
                r_.prompter.message(kCannotOpen);
        } catch (...) {
            r_.prompter.message(kCannotOpen);
        }
    });
}

void Tl::BitBtn2Click() {
    guarded(r_.prompter, [&] {
        if (onServer()) {
            serverCreate();
            return;
        }
        const QString name = trimLedgerName(r_.prompter.inputText(
            QStringLiteral("新建帐本!"), QStringLiteral("在下面输下你要的帐本名称,如:\"2004年的帐本\""), 255));
        if (name.isEmpty())
            return;
        try {
            if (refuseNewName(name, true))
                return;
            try {
                tsl::copyDatabase(std::string(tsl::kIndexFile), ledgerFile(name));
            } catch (const std::exception& e) {
                const QString why = copyFailureText(e);
                if (why == kCopyFailed)
                    r_.prompter.message(why);
                else if (why == kNameTooLong)
                    r_.prompter.notice(windowTitle(), why);
                else
                    r_.prompter.failure(windowTitle(), why);
                return;
            }
            try {
                table1.append();
                table1.setField(tsl::field::ledgerName, name.toStdString());
                table1.post();
            } catch (...) {
                // Unlisted, the copy would block its name for ever.
                table1.cancel();
                (void)tsl::removeUntouchedCopy(ledgerFile(name));
                throw;
            }
            list1->addItem(name);
            r_.prompter.message(kCreated);
            enterLedger(name);
        } catch (...) {
            r_.prompter.message(kCannotCreate);
        }
    });
}

bool Tl::refuseNewName(const QString& name, bool plainBoxes, const QString& unusable) {
    const auto say = [&](const QString& text) {
        if (plainBoxes)
            r_.prompter.message(text);
        else
            r_.prompter.notice(windowTitle(), text);
    };
    for (int i = 0; i < list1->count(); ++i) {
        if (list1->item(i)->text() == name) {
            say(kNameTaken);
            return true;
        }
    }
    // A name that would leave this folder, or that the disk cannot
    // hold, fails here as a copy would, before anything is written.
    if (isLedgerNameTooLong(name)) {
        r_.prompter.notice(windowTitle(), kNameTooLong);
        return true;
    }
    if (!isUsableLedgerName(name) || hasInvisibleCharacters(name)) {
        say(unusable.isEmpty() ? kCopyFailed : unusable);
        return true;
    }
    return false;
}

void Tl::FormCloseQuery() {
    guarded(r_.prompter, [&] {
        // A server ledger the program ends in is backed up as on leaving it
        // (nothing is copied when that was done already).
        std::vector<std::string> failures;
        if (r_.Form1 && r_.Form1->ado1.onServer())
            failures = serverBackupFailures(r_.Form1->ado1.serverLedger());
        if (r_.Form1) {
            r_.Form1->stopWatching();
            r_.Form1->ado1.disconnect();
        }
        ado1.disconnect();
        // The index goes back to "run.dll" before anything can wait for the
        // user: a logout ends the program while a box is up. Its snapshot is
        // taken first (it is small), under the name it runs as.
        for (std::string& f : backupFailures({std::string(tsl::kIndexFile)}))
            failures.push_back(std::move(f));
        // Both connections are closed now. If a "run.dll" is already there
        // (it could not be set aside at start), the index stays as "tsl.mdb".
        (void)tsl::tryRenameIndex(std::string(tsl::kIndexFile), std::string(tsl::kStoredIndexFile));
        // The local ledgers, whichever store the list shows.
        for (std::string& f : backupFailures(listedLedgerFiles()))
            failures.push_back(std::move(f));
        server_.reset();
        reportBackupFailures(failures);
    });
}

void Tl::closeEvent(QCloseEvent* e) {
    FormCloseQuery();
    e->accept();
    emit closed();
}

void Tl::keyPressEvent(QKeyEvent* e) {
    // Enter reaches the window when the focused control leaves it alone (the
    // list does): a focused button takes it, otherwise the default button does.
    if (e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter) {
        auto* focused = qobject_cast<QPushButton*>(focusWidget());
        if (focused == BitBtn2 || focused == BitBtn3)
            focused->click();
        else
            BitBtn1->click();
        e->accept();
        return;
    }
    QWidget::keyPressEvent(e);
}

void Tl::mousePressEvent(QMouseEvent* e) {
    if (e->button() == Qt::LeftButton) {
        dragStartMouse_ = e->globalPosition().toPoint();
        dragStartWindow_ = pos();
        dragging_ = true;
        systemMoveRefused_ = false;
        e->accept();
        return;
    }
    QWidget::mousePressEvent(e);
}

void Tl::mouseMoveEvent(QMouseEvent* e) { FormMouseMove(e); }

void Tl::FormMouseMove(QMouseEvent* e) {
    guarded(r_.prompter, [&] {
        if (!(e->buttons() & Qt::LeftButton))
            return;
        if (!dragging_) { // the press happened before we could see it
            dragStartMouse_ = e->globalPosition().toPoint();
            dragStartWindow_ = pos();
            dragging_ = true;
            systemMoveRefused_ = false;
        }
        // The window manager moves the window as if its title bar were held.
        if (!systemMoveRefused_) {
            QWindow* w = windowHandle();
            if (w && w->startSystemMove()) {
                dragging_ = false;
                return;
            }
            systemMoveRefused_ = true;
        }
        // No window manager to do it (or the platform has no such move): follow the mouse ourselves.
        move(dragStartWindow_ + (e->globalPosition().toPoint() - dragStartMouse_));
    });
}
