// The ledger chooser driven as a user would: start-up, create, enter, close.
#include "formsfixture.h"

#include "Unit1.h"
#include "fileops.h"
#include "lb.h"
#include "schema.h"

#include <QDir>
#include <QLabel>
#include <QListWidget>
#include <QMouseEvent>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include <string>

using tsltest::sqlColumn;
using tsltest::sqlExec;

namespace {

const QString kIndexMissing = QStringLiteral("无法打开程序,找不到\"Run.dll\"文件!");
const QString kSelectLedger = QStringLiteral("请选择帐本!");
const QString kCannotOpen = QStringLiteral("无法打开帐本!");
const QString kNameTaken = QStringLiteral("帐本名称已存在,请改名!");
const QString kCopyFailed = QStringLiteral("文件创建失败,文件可能已经存在!");
const QString kCreated = QStringLiteral("帐本创建成功!");
const QString kCannotCreate = QStringLiteral("无法建立帐本!");
const QString kNewCaption = QStringLiteral("新建帐本!");
const QString kNewPrompt = QStringLiteral("在下面输下你要的帐本名称,如:\"2004年的帐本\"");

QStringList listed(const Tl& l) {
    QStringList out;
    for (int i = 0; i < l.list1->count(); ++i)
        out << l.list1->item(i)->text();
    return out;
}

// The ledger list table of a database file, read behind the program's back.
QStringList ledgerRows(const std::string& file) {
    QStringList out;
    for (const auto& s : sqlColumn(file, "SELECT \"name\" FROM \"5\" ORDER BY rowid"))
        out << QString::fromStdString(s);
    return out;
}

void addLedgerRows(const std::string& file, const QStringList& names) {
    for (const QString& n : names) {
        QString quoted = n;
        quoted.replace(u'\'', QStringLiteral("''"));
        sqlExec(file, "INSERT INTO \"5\"(\"name\") VALUES('" + quoted.toStdString() + "')");
    }
}

QStringList folderEntries(const QString& path = QStringLiteral(".")) {
    return QDir(path).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                                QDir::Name);
}

bool exists(const QString& name) { return tsl::fileExists(name.toStdString()); }

Tl& chooser(FormsFixture& f) { return *f.roster->l; }
TForm1& workspace(FormsFixture& f) { return *f.roster->Form1; }

// Creates a ledger through the button, answering the text box with `typed`.
void createLedger(FormsFixture& f, const QString& typed) {
    f.prompter.inputAnswers.push_back(typed);
    QTest::mouseClick(chooser(f).BitBtn2, Qt::LeftButton);
}

void select(Tl& l, const QString& name) {
    const auto found = l.list1->findItems(name, Qt::MatchExactly);
    QVERIFY2(found.size() == 1, qPrintable(name));
    l.list1->setCurrentItem(found.front());
}

void sendMouse(QWidget* w, QEvent::Type type, QPoint global, Qt::MouseButton button, Qt::MouseButtons buttons) {
    const QPointF local = w->mapFromGlobal(QPointF(global));
    QMouseEvent e(type, local, QPointF(global), button, buttons, Qt::NoModifier);
    QApplication::sendEvent(w, &e);
}

} // namespace

class TestChooser : public QObject {
    Q_OBJECT

private slots:
    void startUpRenamesIndexAndListsLedgers();
    void startUpWithoutIndex();
    void startUpAfterKilledRun();
    void startUpWithBothIndexFilesOverwritesNothing();

    void createTrimsNameAndEntersLedger();
    void createWithNothingTypedDoesNothing();
    void createRefusesListedNameExactly();
    void createRefusesExistingUnlistedFile();
    void createRefusesHostileNames_data();
    void createRefusesHostileNames();
    void createCopiesIndexAsPosted();
    void createFailureAfterCopyKeepsWhatWasDone();

    void enterNeedsSelectedLedger();
    void enterMissingLedgerFile();
    void enterShowsWorkspace();
    void enterKeyEnters();

    void closeRestoresIndexAndRestartKeepsList();
    void dragByClientAreaMovesWindow();
};

void TestChooser::startUpRenamesIndexAndListsLedgers() {
    FormsFixture f;
    f.seedIndex();
    addLedgerRows("run.dll", {QStringLiteral("2004年的帐本"), QStringLiteral("a&b"), QStringLiteral("Zeta"),
                              QStringLiteral("alpha")});
    f.create();
    Tl& l = chooser(f);

    QCOMPARE(f.prompter.texts(), QStringList());
    // In stored order, not sorted; "&" kept as a character.
    QCOMPARE(listed(l), QStringList({QStringLiteral("2004年的帐本"), QStringLiteral("a&b"),
                                     QStringLiteral("Zeta"), QStringLiteral("alpha")}));
    QVERIFY(l.list1->selectedItems().isEmpty());
    QVERIFY(!exists(QStringLiteral("run.dll")));
    QVERIFY(exists(QStringLiteral("tsl.mdb")));
    QVERIFY(l.ado1.connected());
    QVERIFY(l.table1.isOpen());
    QCOMPARE(l.table1.tableName(), std::string("5"));
    QVERIFY(!workspace(f).isVisible());

    // The fixed layout.
    QCOMPARE(l.windowTitle(), QStringLiteral("帐本选择!"));
    QCOMPARE(l.size(), QSize(258, 307));
    QCOMPARE(l.Image1->geometry(), QRect(8, 8, 35, 13));
    QCOMPARE(l.Label1->text(), QStringLiteral("请选择要进入的帐本:"));
    QCOMPARE(l.Label1->pos(), QPoint(48, 8));
    QCOMPARE(l.Shape1->geometry(), QRect(8, 23, 243, 243));
    QCOMPARE(l.list1->geometry(), QRect(9, 24, 241, 241));
    QCOMPARE(l.list1->visualItemRect(l.list1->item(1)).height(), 16);
    QCOMPARE(l.BitBtn1->geometry(), QRect(8, 272, 81, 25));
    QCOMPARE(l.BitBtn2->geometry(), QRect(88, 272, 81, 25));
    QCOMPARE(l.BitBtn3->geometry(), QRect(168, 272, 81, 25));
    QCOMPARE(l.BitBtn1->text(), QStringLiteral("进入帐本"));
    QCOMPARE(l.BitBtn2->text(), QStringLiteral("新建帐本"));
    QCOMPARE(l.BitBtn3->text(), QStringLiteral("退出程序"));
    QVERIFY(l.BitBtn1->isDefault());
    QVERIFY(l.windowFlags() & Qt::WindowStaysOnTopHint);
    QVERIFY(!(l.windowFlags() & Qt::WindowMaximizeButtonHint));
    QCOMPARE(l.palette().color(QPalette::Window), QColor(143, 183, 207));
    for (const char* name : {"Image1", "Label1", "Shape1", "list1", "BitBtn1", "BitBtn2", "BitBtn3"})
        QVERIFY2(l.findChild<QWidget*>(QString::fromLatin1(name)), name);

    f.shutDown();
    QVERIFY(exists(QStringLiteral("run.dll")));
    QVERIFY(!exists(QStringLiteral("tsl.mdb")));
}

void TestChooser::startUpWithoutIndex() {
    FormsFixture f;
    f.create();
    Tl& l = chooser(f);
    QCOMPARE(f.prompter.take(), QStringList({kIndexMissing}));
    QCOMPARE(l.list1->count(), 0);

    // Entering and creating then fail with their own messages.
    QTest::mouseClick(l.BitBtn1, Qt::LeftButton);
    QCOMPARE(f.prompter.take(), QStringList({kSelectLedger}));
    createLedger(f, QStringLiteral("2005"));
    QCOMPARE(f.prompter.take(), QStringList({kNewPrompt, kCopyFailed}));
    QCOMPARE(folderEntries(), QStringList());

    f.shutDown();
    QCOMPARE(folderEntries(), QStringList());
}

void TestChooser::startUpAfterKilledRun() {
    FormsFixture f;
    f.seedIndex("tsl.mdb");
    addLedgerRows("tsl.mdb", {QStringLiteral("2004")});
    f.create();
    QCOMPARE(f.prompter.texts(), QStringList());
    QCOMPARE(listed(chooser(f)), QStringList({QStringLiteral("2004")}));

    f.shutDown();
    QVERIFY(!exists(QStringLiteral("tsl.mdb")));
    QCOMPARE(ledgerRows("run.dll"), QStringList({QStringLiteral("2004")}));
}

void TestChooser::startUpWithBothIndexFilesOverwritesNothing() {
    FormsFixture f;
    f.seedIndex("run.dll");
    f.seedIndex("tsl.mdb");
    addLedgerRows("run.dll", {QStringLiteral("stored")});
    addLedgerRows("tsl.mdb", {QStringLiteral("running")});
    f.create();
    QCOMPARE(f.prompter.texts(), QStringList());
    QCOMPARE(listed(chooser(f)), QStringList({QStringLiteral("running")}));
    QCOMPARE(ledgerRows("run.dll"), QStringList({QStringLiteral("stored")}));

    f.shutDown();
    QCOMPARE(f.prompter.texts(), QStringList());
    QCOMPARE(ledgerRows("run.dll"), QStringList({QStringLiteral("stored")}));
    QCOMPARE(ledgerRows("tsl.mdb"), QStringList({QStringLiteral("running")}));
}

void TestChooser::createTrimsNameAndEntersLedger() {
    FormsFixture f;
    f.seedIndex();
    f.create();
    Tl& l = chooser(f);
    l.show();

    createLedger(f, QStringLiteral("  2005  "));
    QCOMPARE(f.prompter.boxes.size(), size_t(2));
    const auto& ask = f.prompter.boxes[0];
    QCOMPARE(ask.kind, ScriptedPrompter::Kind::Input);
    QCOMPARE(ask.caption, kNewCaption);
    QCOMPARE(ask.text, kNewPrompt);
    QCOMPARE(ask.maxLength, 255);
    QCOMPARE(f.prompter.boxes[1].kind, ScriptedPrompter::Kind::Message);
    QCOMPARE(f.prompter.take(), QStringList({kNewPrompt, kCreated}));

    QVERIFY(exists(QStringLiteral("2005.mdb")));
    QCOMPARE(listed(l), QStringList({QStringLiteral("2005")}));
    QCOMPARE(ledgerRows("tsl.mdb"), QStringList({QStringLiteral("2005")}));
    QVERIFY(workspace(f).isVisible());
    QVERIFY(!l.isVisible());
    QCOMPARE(workspace(f).windowTitle(), QStringLiteral("帐本名称:2005"));
    QVERIFY(workspace(f).table1.isOpen());
    QCOMPARE(workspace(f).table1.tableName(), std::string("1"));

    // Control characters go with the blanks, but only at the ends.
    l.show();
    createLedger(f, QStringLiteral("\t\r\n 毛衫 2006\x1f "));
    QCOMPARE(f.prompter.take(), QStringList({kNewPrompt, kCreated}));
    QVERIFY(exists(QStringLiteral("毛衫 2006.mdb")));
    QCOMPARE(listed(l), QStringList({QStringLiteral("2005"), QStringLiteral("毛衫 2006")}));
    QCOMPARE(workspace(f).windowTitle(), QStringLiteral("帐本名称:毛衫 2006"));
}

void TestChooser::createWithNothingTypedDoesNothing() {
    FormsFixture f;
    f.seedIndex();
    f.create();
    const QStringList before = folderEntries();
    for (const QString& typed : {QString(), QStringLiteral("   "), QStringLiteral(" \t\x01 ")}) {
        createLedger(f, typed);
        QCOMPARE(f.prompter.take(), QStringList({kNewPrompt}));
    }
    QCOMPARE(folderEntries(), before);
    QCOMPARE(ledgerRows("tsl.mdb"), QStringList());
    QVERIFY(!workspace(f).isVisible());
}

void TestChooser::createRefusesListedNameExactly() {
    FormsFixture f;
    f.seedIndex();
    addLedgerRows("run.dll", {QStringLiteral("abc")});
    f.create();
    Tl& l = chooser(f);

    createLedger(f, QStringLiteral(" abc "));
    QCOMPARE(f.prompter.take(), QStringList({kNewPrompt, kNameTaken}));
    QVERIFY(!exists(QStringLiteral("abc.mdb")));

    // Case counts: ABC is another ledger.
    createLedger(f, QStringLiteral("ABC"));
    QCOMPARE(f.prompter.take(), QStringList({kNewPrompt, kCreated}));
    QVERIFY(exists(QStringLiteral("ABC.mdb")));
    QCOMPARE(listed(l), QStringList({QStringLiteral("abc"), QStringLiteral("ABC")}));

    l.show();
    createLedger(f, QStringLiteral("ABC"));
    QCOMPARE(f.prompter.take(), QStringList({kNewPrompt, kNameTaken}));
    QCOMPARE(ledgerRows("tsl.mdb"), QStringList({QStringLiteral("abc"), QStringLiteral("ABC")}));
}

void TestChooser::createRefusesExistingUnlistedFile() {
    FormsFixture f;
    f.seedIndex();
    f.seedIndex("lost.mdb"); // a ledger whose list row was lost
    f.create();
    // Not a database at all: must come through untouched.
    {
        QFile file(QStringLiteral("kept.mdb"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("not to be overwritten");
    }
    const QStringList before = folderEntries();
    for (const QString& name : {QStringLiteral("kept"), QStringLiteral("lost")}) {
        createLedger(f, name);
        QCOMPARE(f.prompter.take(), QStringList({kNewPrompt, kCopyFailed}));
    }
    QCOMPARE(folderEntries(), before);
    QFile file(QStringLiteral("kept.mdb"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("not to be overwritten"));
    QCOMPARE(chooser(f).list1->count(), 0);
    QCOMPARE(ledgerRows("tsl.mdb"), QStringList());
    QVERIFY(!workspace(f).isVisible());
}

void TestChooser::createRefusesHostileNames_data() {
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("probe"); // a path where a careless program would have written
    const QString probe = QDir::tempPath() + QStringLiteral("/tessolan-probe");
    QTest::newRow("slash") << QStringLiteral("a/b") << QStringLiteral("a");
    QTest::newRow("parent") << QStringLiteral("../escaped") << QStringLiteral("../escaped.mdb");
    QTest::newRow("absolute") << probe << probe + QStringLiteral(".mdb");
    QTest::newRow("backslash") << QStringLiteral("a\\b") << QStringLiteral("a\\b.mdb");
    QTest::newRow("dot") << QStringLiteral(" . ") << QStringLiteral("..mdb");
    QTest::newRow("dotdot") << QStringLiteral("..") << QStringLiteral("...mdb");
    QTest::newRow("nul") << (QStringLiteral("a") + QChar(0) + QStringLiteral("b")) << QStringLiteral("a.mdb");
    QTest::newRow("control") << QStringLiteral("a\nb") << QStringLiteral("a\nb.mdb");
    QTest::newRow("delete") << QStringLiteral("a\x7f" "b") << QStringLiteral("a\x7f" "b.mdb");
    QTest::newRow("semicolon") << QStringLiteral("a;b") << QStringLiteral("a;b.mdb");
    QTest::newRow("lone surrogate") << (QStringLiteral("a") + QChar(0xD800)) << QString();
    // 82 x 3 bytes + ".mdb-journal" passes 255; so does the longest typeable ASCII name.
    QTest::newRow("long chinese") << QString(82, QChar(u'帐')) << QString();
    QTest::newRow("long ascii") << QString(255, QChar(u'a')) << QString();
}

void TestChooser::createRefusesHostileNames() {
    QFETCH(QString, typed);
    QFETCH(QString, probe);
    FormsFixture f;
    f.seedIndex();
    f.create();
    const QStringList before = folderEntries();
    const QStringList parentBefore = folderEntries(QStringLiteral(".."));

    createLedger(f, typed);
    QCOMPARE(f.prompter.take(), QStringList({kNewPrompt, kCopyFailed}));
    QCOMPARE(folderEntries(), before);
    QCOMPARE(folderEntries(QStringLiteral("..")), parentBefore);
    if (!probe.isEmpty())
        QVERIFY(!exists(probe));
    QCOMPARE(chooser(f).list1->count(), 0);
    QCOMPARE(ledgerRows("tsl.mdb"), QStringList());
    QVERIFY(!workspace(f).isVisible());
}

void TestChooser::createCopiesIndexAsPosted() {
    FormsFixture f;
    f.seedIndex();
    addLedgerRows("run.dll", {QStringLiteral("2003")});
    f.create();

    createLedger(f, QStringLiteral("2004"));
    createLedger(f, QStringLiteral("2005"));
    // A long name still fits.
    const QString longName(70, QChar(u'帐'));
    createLedger(f, longName);
    QCOMPARE(f.prompter.take(),
             QStringList({kNewPrompt, kCreated, kNewPrompt, kCreated, kNewPrompt, kCreated}));

    // Each copy holds the list as it stood: the row of the ledger before it, not its own.
    QCOMPARE(ledgerRows("2004.mdb"), QStringList({QStringLiteral("2003")}));
    QCOMPARE(ledgerRows("2005.mdb"), QStringList({QStringLiteral("2003"), QStringLiteral("2004")}));
    QCOMPARE(ledgerRows((longName + QStringLiteral(".mdb")).toStdString()),
             QStringList({QStringLiteral("2003"), QStringLiteral("2004"), QStringLiteral("2005")}));
    QCOMPARE(ledgerRows("tsl.mdb"),
             QStringList({QStringLiteral("2003"), QStringLiteral("2004"), QStringLiteral("2005"), longName}));
    QCOMPARE(workspace(f).windowTitle(), QStringLiteral("帐本名称:") + longName);
    // No temporary copies left lying about.
    QCOMPARE(folderEntries().filter(QStringLiteral(".tmp-")), QStringList());
}

void TestChooser::createFailureAfterCopyKeepsWhatWasDone() {
    FormsFixture f;
    f.seedIndex();
    f.create();
    Tl& l = chooser(f);
    l.show();
    // Copies of this index cannot open their customer book.
    sqlExec("tsl.mdb", "DROP TABLE \"1\"");

    createLedger(f, QStringLiteral("broken"));
    QCOMPARE(f.prompter.take(), QStringList({kNewPrompt, kCreated, kCannotCreate}));
    QVERIFY(exists(QStringLiteral("broken.mdb")));
    QCOMPARE(listed(l), QStringList({QStringLiteral("broken")}));
    QCOMPARE(ledgerRows("tsl.mdb"), QStringList({QStringLiteral("broken")}));
    QVERIFY(!workspace(f).isVisible());
    QVERIFY(l.isVisible());
}

void TestChooser::enterNeedsSelectedLedger() {
    FormsFixture f;
    f.seedIndex();
    addLedgerRows("run.dll", {QStringLiteral("2004"), QString()});
    f.seedIndex("2004.mdb");
    f.seedIndex(".mdb");
    f.create();
    Tl& l = chooser(f);
    l.show();

    QTest::mouseClick(l.BitBtn1, Qt::LeftButton);
    QCOMPARE(f.prompter.take(), QStringList({kSelectLedger}));

    // A line with no text counts as no choice.
    l.list1->setCurrentRow(1);
    QTest::mouseClick(l.BitBtn1, Qt::LeftButton);
    QCOMPARE(f.prompter.take(), QStringList({kSelectLedger}));
    QVERIFY(!workspace(f).isVisible());
    QVERIFY(l.isVisible());
    QVERIFY(!workspace(f).ado1.connected());
}

void TestChooser::enterMissingLedgerFile() {
    FormsFixture f;
    f.seedIndex();
    addLedgerRows("run.dll", {QStringLiteral("2004"), QStringLiteral("gone")});
    f.seedIndex("2004.mdb");
    f.create();
    Tl& l = chooser(f);
    l.show();

    // First a good one, so there is a connection to lose.
    select(l, QStringLiteral("2004"));
    QTest::mouseClick(l.BitBtn1, Qt::LeftButton);
    QCOMPARE(f.prompter.take(), QStringList());
    workspace(f).hide();
    l.show();

    select(l, QStringLiteral("gone"));
    QTest::mouseClick(l.BitBtn1, Qt::LeftButton);
    QCOMPARE(f.prompter.take(), QStringList({kCannotOpen}));
    QVERIFY(!workspace(f).isVisible());
    QVERIFY(l.isVisible());
    QVERIFY(!workspace(f).ado1.connected());
    QVERIFY(!exists(QStringLiteral("gone.mdb"))); // never created by trying
}

void TestChooser::enterShowsWorkspace() {
    FormsFixture f;
    f.seedIndex();
    addLedgerRows("run.dll", {QStringLiteral("2003"), QStringLiteral("2004年的帐本")});
    f.seedIndex("2003.mdb");
    f.seedIndex("2004年的帐本.mdb");
    sqlExec("2004年的帐本.mdb", "INSERT INTO \"1\"(\"姓名\") VALUES('张三')");
    f.create();
    Tl& l = chooser(f);
    l.show();

    select(l, QStringLiteral("2003"));
    QTest::mouseClick(l.BitBtn1, Qt::LeftButton);
    workspace(f).hide();
    l.show();

    select(l, QStringLiteral("2004年的帐本"));
    QTest::mouseClick(l.BitBtn1, Qt::LeftButton);
    QCOMPARE(f.prompter.take(), QStringList());
    TForm1& ws = workspace(f);
    QVERIFY(ws.isVisible());
    QVERIFY(!l.isVisible());
    QCOMPARE(ws.windowTitle(), QStringLiteral("帐本名称:2004年的帐本"));
    QVERIFY(ws.table1.isOpen());
    QCOMPARE(ws.table1.tableName(), std::string("1"));
    // On the entered ledger, not the one before.
    QCOMPARE(ws.table1.recordCount(), 1);
    QCOMPARE(ws.ado1.connectionString(), tsl::connectionString("2004年的帐本.mdb"));
    // The chooser keeps the index open while hidden.
    QVERIFY(l.ado1.connected());
    QVERIFY(l.table1.isOpen());
}

void TestChooser::enterKeyEnters() {
    FormsFixture f;
    f.seedIndex();
    addLedgerRows("run.dll", {QStringLiteral("2004")});
    f.seedIndex("2004.mdb");
    f.create();
    Tl& l = chooser(f);
    l.show();
    QVERIFY(QTest::qWaitForWindowExposed(&l));

    l.list1->setFocus();
    QTest::keyClick(l.list1, Qt::Key_Return);
    QCOMPARE(f.prompter.take(), QStringList({kSelectLedger}));

    l.list1->setCurrentRow(0);
    QTest::keyClick(l.list1, Qt::Key_Return);
    QCOMPARE(f.prompter.take(), QStringList());
    QVERIFY(workspace(f).isVisible());
    QVERIFY(!l.isVisible());
}

void TestChooser::closeRestoresIndexAndRestartKeepsList() {
    FormsFixture f;
    f.seedIndex();
    addLedgerRows("run.dll", {QStringLiteral("2004")});
    f.create();
    createLedger(f, QStringLiteral("2005"));
    QCOMPARE(f.prompter.take(), QStringList({kNewPrompt, kCreated}));

    // The quit button, with a ledger open.
    Tl& l = chooser(f);
    QSignalSpy closedSpy(&l, &Tl::closed);
    QTest::mouseClick(l.BitBtn3, Qt::LeftButton);
    QCOMPARE(closedSpy.count(), 1);
    QVERIFY(!workspace(f).ado1.connected());
    QVERIFY(!l.ado1.connected());
    QVERIFY(exists(QStringLiteral("run.dll")));
    QVERIFY(!exists(QStringLiteral("tsl.mdb")));
    QVERIFY(exists(QStringLiteral("2005.mdb")));
    QCOMPARE(f.prompter.take(), QStringList());
    f.roster.reset();

    f.create();
    QCOMPARE(f.prompter.take(), QStringList());
    QCOMPARE(listed(chooser(f)), QStringList({QStringLiteral("2004"), QStringLiteral("2005")}));
    select(chooser(f), QStringLiteral("2005"));
    QTest::mouseClick(chooser(f).BitBtn1, Qt::LeftButton);
    QCOMPARE(f.prompter.take(), QStringList());
    QCOMPARE(workspace(f).windowTitle(), QStringLiteral("帐本名称:2005"));

    // The title bar's close: same steps.
    f.shutDown();
    QCOMPARE(folderEntries(), QStringList({QStringLiteral("2005.mdb"), QStringLiteral("run.dll")}));
}

void TestChooser::dragByClientAreaMovesWindow() {
    FormsFixture f;
    f.seedIndex();
    f.create();
    Tl& l = chooser(f);
    l.show();
    QVERIFY(QTest::qWaitForWindowExposed(&l));
    const QPoint start = l.pos();

    // Between the frame and the buttons: the window's own surface.
    const QPoint grip(130, 268);
    QCOMPARE(l.childAt(grip), nullptr);
    const QPoint down = l.mapToGlobal(grip);
    sendMouse(&l, QEvent::MouseButtonPress, down, Qt::LeftButton, Qt::LeftButton);
    sendMouse(&l, QEvent::MouseMove, down + QPoint(5, 3), Qt::NoButton, Qt::LeftButton);
    sendMouse(&l, QEvent::MouseMove, down + QPoint(30, 20), Qt::NoButton, Qt::LeftButton);
    sendMouse(&l, QEvent::MouseButtonRelease, down + QPoint(30, 20), Qt::LeftButton, Qt::NoButton);
    QCOMPARE(l.pos(), start + QPoint(30, 20));

    // Without the button held, nothing moves.
    sendMouse(&l, QEvent::MouseMove, down + QPoint(80, 80), Qt::NoButton, Qt::NoButton);
    QCOMPARE(l.pos(), start + QPoint(30, 20));

    // Over the list the mouse belongs to the list.
    QWidget* vp = l.list1->viewport();
    const QPoint inList = vp->mapToGlobal(QPoint(100, 100));
    sendMouse(vp, QEvent::MouseButtonPress, inList, Qt::LeftButton, Qt::LeftButton);
    sendMouse(vp, QEvent::MouseMove, inList + QPoint(30, 20), Qt::NoButton, Qt::LeftButton);
    sendMouse(vp, QEvent::MouseButtonRelease, inList + QPoint(30, 20), Qt::LeftButton, Qt::NoButton);
    QCOMPARE(l.pos(), start + QPoint(30, 20));
}

QTEST_MAIN(TestChooser)
#include "tst_chooser.moc"
