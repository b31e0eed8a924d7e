// The ledger chooser driven as a user would: start-up, create, enter, close.
#include "tests/forms/formsfixture.h"

#include "forms/Unit1.h"
#include "tests/support/faultyvfs.h"
#include "storage/fileops.h"
#include "storage/filelock.h"
#include "forms/lb.h"
#include "storage/schema.h"

#include <QDir>
#include <QLabel>
#include <QListWidget>
#include <QMouseEvent>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <optional>
#include <string>

using tsltest::sqlColumn;
using tsltest::sqlExec;

namespace {

const QString kIndexMissing = "无法打开程序,找不到\"Run.dll\"文件!";
const QString kSelectLedger = "请选择帐本!";
const QString kCannotOpen = "无法打开帐本!";
const QString kNameTaken = "帐本名称已存在,请改名!";
const QString kCopyFailed = "文件创建失败,文件可能已经存在!";
const QString kCreated = "帐本创建成功!";
const QString kCannotCreate = "无法建立帐本!";
const QString kInUse = "帐本正在被另一个程序使用!";
const QString kNewPrompt = "在下面输下你要的帐本名称,如:\"2004年的帐本\"";
const QString kNameTooLong = "帐本名称太长,请改短一些!";
const QString kTwoIndexes = "同时找到\"run.dll\"和\"tsl.mdb\"两个帐本索引文件!\n";
const QStringList kNoFile{"<no file>"};

QStringList listed(const Tl& l) {
    QStringList out;
    for (int i = 0; i < l.list1->count(); ++i)
        out << l.list1->item(i)->text();
    return out;
}

bool exists(const QString& name) { return tsl::fileExists(name.toStdString()); }

// The ledger list table of a database file, read behind the program's back.
QStringList ledgerRows(const QString& file) {
    if (!exists(file))
        return kNoFile;
    QStringList out;
    for (const auto& s : sqlColumn(file.toStdString(), "SELECT \"name\" FROM \"5\" ORDER BY rowid"))
        out << QString::fromStdString(s);
    return out;
}

void addLedgerRows(const std::string& file, const QStringList& names) {
    for (QString n : names)
        sqlExec(file, "INSERT INTO \"5\"(\"name\") VALUES('" + n.replace(u'\'', "''").toStdString() + "')");
}

// The index's name whenever the data folder is synced: what a power cut keeps.
QStringList indexNamesSynced;
void recordIndexName(tsl::Synced what, const std::string& folder) {
    if (what == tsl::Synced::Folder && folder == ".")
        indexNamesSynced << (exists("tsl.mdb") ? "tsl.mdb" : exists("run.dll") ? "run.dll" : "none");
}

QStringList folderEntries(const QString& path = ".") {
    return QDir(path).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

Tl& chooser(FormsFixture& f) { return *f.roster->l; }

// The last box was one of the program's own words, a Chinese box under the
// chooser's caption, or the old kind of box.
void checkLastBox(const FormsFixture& f, bool own, ScriptedPrompter::Kind kind) {
    QVERIFY(!f.prompter.boxes.empty());
    const ScriptedPrompter::Box& b = f.prompter.boxes.back();
    QCOMPARE(b.chinese, own);
    QCOMPARE(int(b.kind), int(kind));
    if (own)
        QCOMPARE(b.caption, QStringLiteral("帐本选择!"));
}
TForm1& workspace(FormsFixture& f) { return *f.roster->Form1; }

// Creates a ledger through the button, answering the text box with `typed`.
void createLedger(FormsFixture& f, const QString& typed) {
    f.prompter.inputAnswers.push_back(typed);
    QTest::mouseClick(chooser(f).BitBtn2, Qt::LeftButton);
}

// Selects a ledger (none for an empty name) and presses the enter button.
void enterLedger(FormsFixture& f, const QString& name) {
    Tl& l = chooser(f);
    l.list1->setCurrentRow(int(listed(l).indexOf(name)));
    QTest::mouseClick(l.BitBtn1, Qt::LeftButton);
}

void sendMouse(QWidget* w, QEvent::Type type, QPoint global, Qt::MouseButton button, Qt::MouseButtons buttons) {
    QMouseEvent e(type, w->mapFromGlobal(QPointF(global)), QPointF(global), button, buttons, Qt::NoModifier);
    QApplication::sendEvent(w, &e);
}

} // namespace

class TestChooser : public QObject {
    Q_OBJECT

private slots:
    // The index is "run.dll" while the program is off and "tsl.mdb" while it runs;
    // start-up renames it, shut-down names it back, and neither overwrites a file.
    void startUpAndShutDownRenameTheIndex_data() {
        QTest::addColumn<QStringList>("run");
        QTest::addColumn<QStringList>("tsl");
        QTest::addColumn<QStringList>("listed");
        QTest::addColumn<QStringList>("runAfter");
        QTest::addColumn<QStringList>("tslAfter");
        // In stored order, not sorted; "&" kept as a character.
        const QStringList names{"2004年的帐本", "a&b", "Zeta", "alpha"};
        QTest::newRow("normal") << names << kNoFile << names << names << kNoFile;
        QTest::newRow("after a killed run")
            << kNoFile << QStringList{"2004"} << QStringList{"2004"} << QStringList{"2004"} << kNoFile;
    }
    void startUpAndShutDownRenameTheIndex() {
        QFETCH(QStringList, run);
        QFETCH(QStringList, tsl);
        QFETCH(QStringList, listed);
        QFETCH(QStringList, runAfter);
        QFETCH(QStringList, tslAfter);
        FormsFixture f;
        for (const auto& [file, rows] : {std::pair{"run.dll", run}, std::pair{"tsl.mdb", tsl}})
            if (rows != kNoFile) {
                f.seedIndex(file);
                addLedgerRows(file, rows);
            }
        // Each rename of the index is put on disk before the work goes on.
        indexNamesSynced.clear();
        tsl::setSyncObserver(recordIndexName);
        f.create();
        tsl::setSyncObserver(nullptr);
        if (run != kNoFile) // renamed
            QVERIFY(!indexNamesSynced.isEmpty() && indexNamesSynced.last() == "tsl.mdb");
        Tl& l = chooser(f);
        QCOMPARE(::listed(l), listed);
        QCOMPARE(ledgerRows("tsl.mdb"), listed);
        QCOMPARE(ledgerRows("run.dll"), kNoFile);
        QVERIFY(l.list1->selectedItems().isEmpty());
        QVERIFY(l.ado1.connected() && l.table1.isOpen());
        QCOMPARE(l.table1.tableName(), std::string("5"));
        QVERIFY(!workspace(f).isVisible());
        indexNamesSynced.clear();
        tsl::setSyncObserver(recordIndexName);
        f.shutDown();
        tsl::setSyncObserver(nullptr);
        QVERIFY(indexNamesSynced.contains("run.dll"));
        QCOMPARE(f.prompter.texts(), QStringList());
        QCOMPARE(ledgerRows("run.dll"), runAfter);
        QCOMPARE(ledgerRows("tsl.mdb"), tslAfter);
    }

    // Both names at start: the running one (what the last, killed run did) is
    // used while it opens, the other is kept under a name of its own, the
    // ledgers only it lists join the list, and the box says all of it once.
    void startUpWithBothIndexes_data() {
        QTest::addColumn<bool>("runningOpens");
        QTest::newRow("the running one opens") << true;
        QTest::newRow("the running one is damaged") << false;
    }
    void startUpWithBothIndexes() {
        QFETCH(bool, runningOpens);
        FormsFixture f;
        f.seedIndex("run.dll");
        addLedgerRows("run.dll", {"both", "stored only"});
        const std::string garbage(4096, 'x');
        if (runningOpens) {
            f.seedIndex("tsl.mdb");
            addLedgerRows("tsl.mdb", {"running only", "both"});
        } else {
            tsltest::writeFile("tsl.mdb", garbage);
        }
        const std::string stored = tsltest::readFile("run.dll");
        f.create();
        checkLastBox(f, true, ScriptedPrompter::Kind::Message);
        const QStringList shown = f.prompter.take();
        QCOMPARE(shown.size(), 1);
        const QStringList kept = folderEntries().filter(runningOpens ? "run.dll." : "tsl.mdb.");
        QCOMPARE(kept.size(), 1);
        if (runningOpens) {
            QCOMPARE(shown[0], kTwoIndexes + "程序使用上次运行留下的\"tsl.mdb\",\n\"run.dll\"已改名为\"" + kept[0] +
                                   "\"保存.\n\"run.dll\"中的这些帐本已加入列表:\nstored only");
            QCOMPARE(listed(chooser(f)), QStringList({"running only", "both", "stored only"}));
            QCOMPARE(tsltest::readFile(kept[0].toStdString()), stored); // kept as it was
        } else {
            QCOMPARE(shown[0], kTwoIndexes + "\"tsl.mdb\"无法打开,已改名为\"" + kept[0] + "\"保存;\n程序使用\"run.dll\".");
            QCOMPARE(listed(chooser(f)), QStringList({"both", "stored only"}));
            QCOMPARE(tsltest::readFile(kept[0].toStdString()), garbage);
        }
        f.shutDown();
        QCOMPARE(ledgerRows("tsl.mdb"), kNoFile);
        QCOMPARE(ledgerRows("run.dll"), runningOpens ? QStringList({"running only", "both", "stored only"})
                                                     : QStringList({"both", "stored only"}));
        // The next start is a plain one.
        f.create();
        QCOMPARE(f.prompter.take(), QStringList());
        QCOMPARE(listed(chooser(f)).size(), runningOpens ? 3 : 2);
    }

    // An index that is there but does not open says what is wrong with it; only
    // a missing one is "not found".
    void startUpNamesWhatIsWrongWithTheIndex_data() {
        QTest::addColumn<QString>("setup");
        QTest::addColumn<QString>("shown");
        QTest::newRow("garbage") << "garbage"
                                 << "无法打开程序,文件\"tsl.mdb\"已经损坏,或者不是本程序的文件!";
        QTest::newRow("empty file") << "empty"
                                    << "无法打开程序,文件\"tsl.mdb\"中找不到表\"5\"!";
        QTest::newRow("no ledger list") << "no list"
                                        << "无法打开程序,文件\"tsl.mdb\"中找不到表\"5\"!";
        QTest::newRow("read-only folder") << "read-only"
                                          << "无法打开程序,\"run.dll\"所在的文件夹是只读的!";
    }
    void startUpNamesWhatIsWrongWithTheIndex() {
        QFETCH(QString, setup);
        QFETCH(QString, shown);
        FormsFixture f;
        if (setup == "garbage")
            tsltest::writeFile("run.dll", std::string(4096, 'x'));
        if (setup == "empty")
            tsltest::writeFile("run.dll", "");
        if (setup == "no list" || setup == "read-only")
            f.seedIndex();
        if (setup == "no list")
            sqlExec("run.dll", "DROP TABLE \"5\"");
        if (setup != "read-only") {
            f.create();
            QCOMPARE(f.prompter.take(), QStringList{shown});
            f.shutDown();
            QCOMPARE(exists("tsl.mdb"), false);
            return;
        }
        // A folder this user may not write to (root may write anywhere: the
        // start runs as nobody in a child).
        std::filesystem::create_directory("ro");
        std::filesystem::rename("run.dll", "ro/run.dll");
        ::chmod("ro/run.dll", 0644);
        ::chmod("ro", 0555);
        ::chmod(".", 0755);
        const int result = tsltest::inChild([&] {
            if (::getuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0))
                return 2;
            if (::chdir("ro") != 0)
                return 3;
            ScriptedPrompter p;
            Roster r(p, f.clock);
            r.create();
            return p.texts() == QStringList{shown} && r.l->list1->count() == 0 ? 0 : 1;
        });
        ::chmod("ro", 0755);
        QCOMPARE(result, 0);
        QVERIFY(exists("ro/run.dll"));
    }

    void looks() {
        FormsFixture f;
        f.seedIndex();
        f.create();
        Tl& l = chooser(f);
        QCOMPARE(l.windowTitle(), "帐本选择!");
        QCOMPARE((QStringList{l.Label1->text(), l.BitBtn1->text(), l.BitBtn2->text(), l.BitBtn3->text()}),
                 (QStringList{"请选择要进入的帐本:", "进入帐本", "新建帐本", "退出程序"}));
        QVERIFY(l.BitBtn1->isDefault());
        QVERIFY(l.windowFlags() & Qt::WindowStaysOnTopHint);
        QVERIFY(!(l.windowFlags() & Qt::WindowMaximizeButtonHint));
        QCOMPARE(l.palette().color(QPalette::Window), QColor(143, 183, 207));
    }

    void startUpWithoutIndex() {
        FormsFixture f;
        f.create();
        QCOMPARE(f.prompter.take(), QStringList({kIndexMissing}));
        QCOMPARE(chooser(f).list1->count(), 0);
        // Entering and creating then fail with their own messages.
        QTest::mouseClick(chooser(f).BitBtn1, Qt::LeftButton);
        QCOMPARE(f.prompter.take(), QStringList({kSelectLedger}));
        createLedger(f, "2005");
        QCOMPARE(f.prompter.take(), QStringList({kNewPrompt, kCopyFailed}));
        f.shutDown();
        QCOMPARE(folderEntries(), QStringList());
    }

    void createTrimsNameAndEntersLedger() {
        FormsFixture f;
        f.seedIndex();
        f.create();
        Tl& l = chooser(f);
        l.show();
        createLedger(f, "  2005  ");
        QCOMPARE(f.prompter.boxes.size(), size_t(2));
        const auto& ask = f.prompter.boxes[0];
        QCOMPARE(ask.kind, ScriptedPrompter::Kind::Input);
        QCOMPARE(ask.caption, "新建帐本!");
        QCOMPARE(ask.maxLength, 255);
        QCOMPARE(f.prompter.boxes[1].kind, ScriptedPrompter::Kind::Message);
        QCOMPARE(f.prompter.take(), QStringList({kNewPrompt, kCreated}));
        QVERIFY(exists("2005.mdb"));
        QCOMPARE(listed(l), QStringList({"2005"}));
        QCOMPARE(ledgerRows("tsl.mdb"), QStringList({"2005"}));
        QVERIFY(workspace(f).isVisible());
        QVERIFY(!l.isVisible());
        QCOMPARE(workspace(f).windowTitle(), "帐本名称:2005");
        QCOMPARE(workspace(f).table1.tableName(), std::string("1"));

        // Control characters go with the blanks, but only at the ends.
        l.show();
        createLedger(f, "\t\r\n 毛衫 2006\x1f ");
        QCOMPARE(f.prompter.take(), QStringList({kNewPrompt, kCreated}));
        QVERIFY(exists("毛衫 2006.mdb"));
        QCOMPARE(listed(l), QStringList({"2005", "毛衫 2006"}));
        QCOMPARE(workspace(f).windowTitle(), "帐本名称:毛衫 2006");
    }

    void createRefusesListedNameExactly() {
        FormsFixture f;
        f.seedIndex();
        addLedgerRows("run.dll", {"abc"});
        f.create();
        createLedger(f, " abc ");
        QCOMPARE(f.prompter.take(), QStringList({kNewPrompt, kNameTaken}));
        QVERIFY(!exists("abc.mdb"));
        // Case counts: ABC is another ledger.
        createLedger(f, "ABC");
        QCOMPARE(f.prompter.take(), QStringList({kNewPrompt, kCreated}));
        QVERIFY(exists("ABC.mdb"));
        chooser(f).show();
        createLedger(f, "ABC");
        QCOMPARE(f.prompter.take(), QStringList({kNewPrompt, kNameTaken}));
        QCOMPARE(listed(chooser(f)), QStringList({"abc", "ABC"}));
        QCOMPARE(ledgerRows("tsl.mdb"), QStringList({"abc", "ABC"}));
    }

    // Nothing typed, a name whose file exists, or a name that is no plain file
    // name in this folder: no file is written or replaced and nothing is listed.
    void createRefusesNames_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("probe"); // a path where a careless program would have written
        QTest::addColumn<QString>("shown"); // the box after the prompt (none for an empty name)
        const auto row = [](const char* why, const QString& typed, const QString& probe = {},
                            const QString& shown = kCopyFailed) { QTest::newRow(why) << typed << probe << shown; };
        row("nothing", QString());
        row("blanks", "   ");
        row("blanks and controls", " \t\x01 ");
        row("existing file", "kept");
        row("unlisted ledger", "lost");
        const QString probe = QDir::tempPath() + "/tessolan-probe";
        row("slash", "a/b", "a");
        row("parent", "../escaped", "../escaped.mdb");
        row("absolute", probe, probe + ".mdb");
        row("backslash", "a\\b", "a\\b.mdb");
        row("nul", QString("a") + QChar(0) + "b", "a.mdb");
        row("control", "a\nb", "a\nb.mdb");
        row("delete", "a\x7f" "b", "a\x7f" "b.mdb");
        row("semicolon", "a;b", "a;b.mdb");
        row("lone surrogate", QString("a") + QChar(0xD800));
        // One byte past the longest name whose copy can be made, and far past it.
        const int longest = int(tsl::longestCopyTarget()) - 4;
        row("one byte too long", QString(longest + 1, QChar(u'a')), {}, kNameTooLong);
        row("long chinese", QString(longest / 3 + 1, QChar(u'帐')), {}, kNameTooLong);
        row("long ascii", QString(255, QChar(u'a')), {}, kNameTooLong);
        // Invisible and text-turning characters: the name would look like another.
        for (const auto& [what, c] : {std::pair{"right-to-left mark", char32_t(0x200F)},
                                    std::pair{"right-to-left override", char32_t(0x202E)},
                                    std::pair{"soft hyphen", char32_t(0x00AD)},
                                    std::pair{"zero width space", char32_t(0x200B)},
                                    std::pair{"first strong isolate", char32_t(0x2068)},
                                    std::pair{"byte order mark", char32_t(0xFEFF)},
                                    std::pair{"line separator", char32_t(0x2028)},
                                    std::pair{"tag letter", char32_t(0xE0041)}}) {
            // (fromUcs4 would take a lone U+FEFF for a byte order mark and drop it)
            const QString ch = c > 0xFFFF ? QString::fromUcs4(&c, 1) : QString(QChar(char16_t(c)));
            const QString name = "2005" + ch + "年";
            row(what, name, name + ".mdb");
        }
    }
    void createRefusesNames() {
        QFETCH(QString, typed);
        QFETCH(QString, probe);
        QFETCH(QString, shown);
        FormsFixture f;
        f.seedIndex();
        f.seedIndex("lost.mdb"); // a ledger whose list row was lost, with a row someone entered
        sqlExec("lost.mdb", "INSERT INTO \"1\" VALUES ('张三','','','','')");
        tsltest::writeFile("kept.mdb", "not to be overwritten");
        f.create();
        const QStringList before = folderEntries();
        // Other programs use the parent folder too: only ledger-like names count there.
        const QStringList parentBefore = folderEntries("..").filter(".mdb");
        createLedger(f, typed);
        const bool empty = typed.trimmed().isEmpty() || typed == " \t\x01 ";
        if (!empty)
            checkLastBox(f, shown == kNameTooLong, ScriptedPrompter::Kind::Message);
        QCOMPARE(f.prompter.take(), (empty ? QStringList{kNewPrompt} : QStringList{kNewPrompt, shown}));
        QCOMPARE(tsltest::readFile("kept.mdb"), std::string("not to be overwritten"));
        QCOMPARE(folderEntries(), before);
        QCOMPARE(folderEntries("..").filter(".mdb"), parentBefore);
        if (!probe.isEmpty())
            QVERIFY(!exists(probe));
        QCOMPARE(chooser(f).list1->count(), 0);
        QCOMPARE(ledgerRows("tsl.mdb"), QStringList());
        QVERIFY(!workspace(f).isVisible());
    }

    // "." and ".." are ordinary file names once ".mdb" follows; the longest
    // names whose copy and its temporary journal fit the folder are taken too.
    void createTakesEveryNameThatWorks_data() {
        QTest::addColumn<QString>("typed");
        const int longest = int(tsl::longestCopyTarget()) - 4;
        QTest::newRow("dot") << " . ";
        QTest::newRow("dotdot") << "..";
        QTest::newRow("longest ascii") << QString(longest, QChar(u'a'));
        QTest::newRow("longest chinese") << QString(longest / 3, QChar(u'帐'));
    }
    void createTakesEveryNameThatWorks() {
        QFETCH(QString, typed);
        const QString name = typed.trimmed();
        FormsFixture f;
        f.seedIndex();
        f.create();
        createLedger(f, typed);
        QCOMPARE(f.prompter.take(), QStringList({kNewPrompt, kCreated}));
        QVERIFY(exists(name + ".mdb"));
        QCOMPARE(listed(chooser(f)), QStringList{name});
        QCOMPARE(workspace(f).windowTitle(), "帐本名称:" + name);
        QVERIFY(workspace(f).isVisible());
        QCOMPARE(folderEntries().filter(".tmp-"), QStringList());
        // And it opens again from the list.
        workspace(f).close();
        enterLedger(f, name);
        QCOMPARE(f.prompter.take(), QStringList());
        QVERIFY(workspace(f).isVisible());
    }

    void createCopiesIndexAsPosted() {
        FormsFixture f;
        f.seedIndex();
        addLedgerRows("run.dll", {"2003"});
        f.create();
        const QString longName(70, QChar(u'帐')); // a long name still fits
        for (const QString& name : {QString("2004"), QString("2005"), longName})
            createLedger(f, name);
        QCOMPARE(f.prompter.take(), QStringList({kNewPrompt, kCreated, kNewPrompt, kCreated, kNewPrompt, kCreated}));
        // Each copy holds the list as it stood: the row of the ledger before it, not its own.
        QCOMPARE(ledgerRows("2004.mdb"), QStringList({"2003"}));
        QCOMPARE(ledgerRows("2005.mdb"), QStringList({"2003", "2004"}));
        QCOMPARE(ledgerRows(longName + ".mdb"), QStringList({"2003", "2004", "2005"}));
        QCOMPARE(ledgerRows("tsl.mdb"), QStringList({"2003", "2004", "2005", longName}));
        QCOMPARE(workspace(f).windowTitle(), "帐本名称:" + longName);
        QCOMPARE(folderEntries().filter(".tmp-"), QStringList()); // no temporary copies left lying about
    }

    void createFailureAfterCopyKeepsWhatWasDone() {
        FormsFixture f;
        f.seedIndex();
        f.create();
        Tl& l = chooser(f);
        l.show();
        sqlExec("tsl.mdb", "DROP TABLE \"1\""); // copies of this index cannot open their customer book
        createLedger(f, "broken");
        QCOMPARE(f.prompter.take(), QStringList({kNewPrompt, kCreated, kCannotCreate}));
        QVERIFY(exists("broken.mdb"));
        QCOMPARE(listed(l), QStringList({"broken"}));
        QCOMPARE(ledgerRows("tsl.mdb"), QStringList({"broken"}));
        QVERIFY(!workspace(f).isVisible());
        QVERIFY(l.isVisible());
    }

    // A disk that refuses the copy says why; the old words are for a name
    // that is taken or no file name.
    void createSaysWhyTheDiskRefusedTheCopy_data() {
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("shown");
        QTest::newRow("full disk") << SQLITE_FULL << "文件创建失败,磁盘已满,无法写入文件\"2005.mdb\"!";
        QTest::newRow("I/O error") << SQLITE_IOERR_WRITE << "文件创建失败,读写文件\"2005.mdb\"时磁盘出错!";
    }
    void createSaysWhyTheDiskRefusedTheCopy() {
        QFETCH(int, code);
        QFETCH(QString, shown);
        tsltest::FaultyVfs disk;
        FormsFixture f;
        f.seedIndex();
        f.create();
        const QStringList before = folderEntries();
        disk.failNextWrite("-journal", code); // the copy's journal: the index is only read
        createLedger(f, "2005");
        QCOMPARE(disk.failures(), 1);
        QCOMPARE(f.prompter.take(), QStringList({kNewPrompt, shown}));
        QCOMPARE(folderEntries(), before);
        QCOMPARE(listed(chooser(f)), QStringList());
    }

    // When the index cannot take the new name, the copy goes again: no file that
    // no index lists is left to block the name, and the same name works later.
    void createListingFailureLeavesNoTrace_data() {
        QTest::addColumn<bool>("fullDisk");
        QTest::newRow("index refuses the row") << false;
        QTest::newRow("full disk") << true;
    }
    void createListingFailureLeavesNoTrace() {
        QFETCH(bool, fullDisk);
        std::optional<tsltest::FaultyVfs> disk;
        if (fullDisk)
            disk.emplace();
        FormsFixture f;
        f.seedIndex();
        f.create();
        Tl& l = chooser(f);
        l.show();
        if (fullDisk)
            disk->failNextWrite("tsl.mdb-journal", SQLITE_FULL);
        else
            sqlExec("tsl.mdb", "CREATE TRIGGER refuse BEFORE INSERT ON \"5\" BEGIN SELECT RAISE(ABORT, 'no'); END");
        const QStringList before = folderEntries();
        createLedger(f, "2005");
        QCOMPARE(f.prompter.take(), QStringList({kNewPrompt, kCannotCreate}));
        QCOMPARE(folderEntries(), before);
        QCOMPARE(listed(l), QStringList());
        QCOMPARE(ledgerRows("tsl.mdb"), QStringList());
        QVERIFY(l.isVisible());

        if (!fullDisk)
            sqlExec("tsl.mdb", "DROP TRIGGER refuse");
        createLedger(f, "2005");
        QCOMPARE(f.prompter.take(), QStringList({kNewPrompt, kCreated}));
        QCOMPARE(ledgerRows("tsl.mdb"), QStringList({"2005"}));
        QVERIFY(workspace(f).isVisible());
    }

    // A program that died in the middle of a creation left a temporary copy, or a
    // copy no index lists. The next start removes them, but never a file that
    // holds rows someone entered, and nothing at all when it cannot read the index.
    void startUpRemovesLeftoversOfACreation() {
        FormsFixture f;
        f.seedIndex();
        addLedgerRows("run.dll", {"a"});
        f.seedIndex("a.mdb");
        f.seedIndex("b.mdb"); // copied, never listed
        f.seedIndex("c.mdb"); // not listed, but someone entered a customer
        sqlExec("c.mdb", "INSERT INTO \"1\" VALUES ('张三','','','','')");
        f.seedIndex("d.mdb.tmp-Ab12Cd");
        tsltest::writeFile("d.mdb.tmp-Ab12Cd-journal", "");
        f.create();
        QCOMPARE(f.prompter.take(), QStringList());
        QCOMPARE(folderEntries(), QStringList({"a.mdb", "c.mdb", "tsl.mdb"}));
        createLedger(f, "b");
        QCOMPARE(f.prompter.take(), QStringList({kNewPrompt, kCreated}));
        f.roster->Form1->close();
        createLedger(f, "c");
        QCOMPARE(f.prompter.take(), QStringList({kNewPrompt, kCopyFailed}));
        QCOMPARE(sqlColumn("c.mdb", "SELECT \"姓名\" FROM \"1\""), std::vector<std::string>{"张三"});

        FormsFixture g; // no index to read: whatever is there stays
        g.seedIndex("b.mdb");
        g.seedIndex("x.mdb.tmp-Ab12Cd");
        g.create();
        QCOMPARE(g.prompter.take(), QStringList({kIndexMissing}));
        QVERIFY(exists("b.mdb"));
    }

    // Another program holds the ledger file, by this name or another path to the
    // same file: entering is refused with a plain message and nothing is written.
    void enterLedgerHeldByAnotherProgram_data() {
        QTest::addColumn<QString>("heldAs");
        QTest::newRow("same name") << "2004.mdb";
        QTest::newRow("through a link") << "elsewhere/linked.mdb";
    }
    void enterLedgerHeldByAnotherProgram() {
        QFETCH(QString, heldAs);
        FormsFixture f;
        f.seedIndex();
        addLedgerRows("run.dll", {"2004"});
        f.seedIndex("2004.mdb");
        std::filesystem::create_directory("elsewhere");
        std::filesystem::create_symlink(std::filesystem::absolute("2004.mdb"), "elsewhere/linked.mdb");
        f.create();
        Tl& l = chooser(f);
        l.show();
        tsl::FileLock other; // a lock of its own open of the file, as another program's
        QCOMPARE(other.tryLock(heldAs.toStdString()), tsl::FileLock::Result::Locked);
        const std::string before = tsltest::readFile("2004.mdb");
        enterLedger(f, "2004");
        checkLastBox(f, true, ScriptedPrompter::Kind::Error);
        QCOMPARE(f.prompter.take(), QStringList({kInUse}));
        QVERIFY(!workspace(f).isVisible());
        QVERIFY(!workspace(f).ado1.connected());
        QVERIFY(l.isVisible());
        QCOMPARE(tsltest::readFile("2004.mdb"), before);
        QVERIFY(!exists("2004.mdb-journal"));

        other.unlock();
        enterLedger(f, "2004");
        QCOMPARE(f.prompter.take(), QStringList());
        QVERIFY(workspace(f).isVisible());
        // Now this program holds it.
        QCOMPARE(other.tryLock(heldAs.toStdString()), tsl::FileLock::Result::Busy);
    }

    // A ledger file that opens but is no ledger (an empty file): entering fails
    // and the workspace lets go of it, lock and all.
    void enterFailureLetsGoOfTheFile() {
        FormsFixture f;
        f.seedIndex();
        addLedgerRows("run.dll", {"empty"});
        tsltest::writeFile("empty.mdb", "");
        f.create();
        chooser(f).show();
        enterLedger(f, "empty");
        QCOMPARE(f.prompter.take(), QStringList({kCannotOpen}));
        QVERIFY(!workspace(f).ado1.connected());
        tsl::FileLock other;
        QCOMPARE(other.tryLock("empty.mdb"), tsl::FileLock::Result::Locked);
        QCOMPARE(tsltest::readFile("empty.mdb"), std::string());
    }

    void enterNeedsSelectedLedger() {
        FormsFixture f;
        f.seedIndex();
        addLedgerRows("run.dll", {"2004", QString()});
        f.seedIndex("2004.mdb");
        f.seedIndex(".mdb");
        f.create();
        Tl& l = chooser(f);
        l.show();
        QVERIFY(QTest::qWaitForWindowExposed(&l));
        enterLedger(f, "<none>");
        enterLedger(f, QString()); // a line with no text counts as no choice
        l.list1->setCurrentRow(-1);
        l.list1->setFocus();
        QTest::keyClick(l.list1, Qt::Key_Return);
        QCOMPARE(f.prompter.take(), QStringList({kSelectLedger, kSelectLedger, kSelectLedger}));
        QVERIFY(!workspace(f).isVisible());
        QVERIFY(!workspace(f).ado1.connected());

        l.list1->setCurrentRow(0);
        QTest::keyClick(l.list1, Qt::Key_Return); // Return enters too
        QCOMPARE(f.prompter.take(), QStringList());
        QVERIFY(workspace(f).isVisible());
        QVERIFY(!l.isVisible());
    }

    void enterShowsWorkspaceOrFailsOnMissingFile() {
        FormsFixture f;
        f.seedIndex();
        addLedgerRows("run.dll", {"2003", "gone", "2004年的帐本"});
        f.seedIndex("2003.mdb");
        f.seedIndex("2004年的帐本.mdb");
        sqlExec("2004年的帐本.mdb", "INSERT INTO \"1\"(\"姓名\") VALUES('张三')");
        f.create();
        Tl& l = chooser(f);
        TForm1& ws = workspace(f);
        l.show();
        enterLedger(f, "2003"); // a connection to lose
        ws.hide();
        l.show();
        enterLedger(f, "gone");
        QCOMPARE(f.prompter.take(), QStringList({kCannotOpen}));
        QVERIFY(!ws.isVisible());
        QVERIFY(l.isVisible());
        QVERIFY(!ws.ado1.connected());
        QVERIFY(!exists("gone.mdb")); // never created by trying

        enterLedger(f, "2004年的帐本");
        QCOMPARE(f.prompter.take(), QStringList());
        QVERIFY(ws.isVisible());
        QVERIFY(!l.isVisible());
        QCOMPARE(ws.windowTitle(), "帐本名称:2004年的帐本");
        QCOMPARE(ws.table1.tableName(), std::string("1"));
        QCOMPARE(ws.table1.recordCount(), 1);
        QCOMPARE(ws.ado1.connectionString(), tsl::connectionString("2004年的帐本.mdb"));
        // The chooser keeps the index open while hidden.
        QVERIFY(l.ado1.connected() && l.table1.isOpen());
    }

    void closeRestoresIndexAndRestartKeepsList() {
        FormsFixture f;
        f.seedIndex();
        addLedgerRows("run.dll", {"2004"});
        f.create();
        createLedger(f, "2005");
        QCOMPARE(f.prompter.take(), QStringList({kNewPrompt, kCreated}));

        // The quit button, with a ledger open.
        Tl& l = chooser(f);
        QSignalSpy closedSpy(&l, &Tl::closed);
        QTest::mouseClick(l.BitBtn3, Qt::LeftButton);
        QCOMPARE(closedSpy.count(), 1);
        QVERIFY(!workspace(f).ado1.connected());
        QVERIFY(!l.ado1.connected());
        // The ending backs up the ledger and the index into "backups".
        QCOMPARE(folderEntries(), QStringList({"2005.mdb", "backups", "run.dll"}));
        QCOMPARE(folderEntries("backups"), QStringList({"2005.mdb", "tsl.mdb"}));
        f.roster.reset();

        f.create();
        QCOMPARE(listed(chooser(f)), QStringList({"2004", "2005"}));
        enterLedger(f, "2005");
        QCOMPARE(f.prompter.take(), QStringList());
        QCOMPARE(workspace(f).windowTitle(), "帐本名称:2005");
        f.shutDown(); // the title bar's close: same steps
        QCOMPARE(folderEntries(), QStringList({"2005.mdb", "backups", "run.dll"}));
    }

    void dragByClientAreaMovesWindow() {
        FormsFixture f;
        f.seedIndex();
        f.create();
        Tl& l = chooser(f);
        l.show();
        QVERIFY(QTest::qWaitForWindowExposed(&l));
        const QPoint start = l.pos();
        const QPoint moved = start + QPoint(30, 20);

        // Between the frame and the buttons: the window's own surface.
        const QPoint grip(130, 268);
        QCOMPARE(l.childAt(grip), nullptr);
        const QPoint down = l.mapToGlobal(grip);
        sendMouse(&l, QEvent::MouseButtonPress, down, Qt::LeftButton, Qt::LeftButton);
        sendMouse(&l, QEvent::MouseMove, down + QPoint(5, 3), Qt::NoButton, Qt::LeftButton);
        sendMouse(&l, QEvent::MouseMove, down + QPoint(30, 20), Qt::NoButton, Qt::LeftButton);
        sendMouse(&l, QEvent::MouseButtonRelease, down + QPoint(30, 20), Qt::LeftButton, Qt::NoButton);
        QCOMPARE(l.pos(), moved);
        // Without the button held, nothing moves.
        sendMouse(&l, QEvent::MouseMove, down + QPoint(80, 80), Qt::NoButton, Qt::NoButton);
        QCOMPARE(l.pos(), moved);
        // Over the list the mouse belongs to the list.
        QWidget* vp = l.list1->viewport();
        const QPoint inList = vp->mapToGlobal(QPoint(100, 100));
        sendMouse(vp, QEvent::MouseButtonPress, inList, Qt::LeftButton, Qt::LeftButton);
        sendMouse(vp, QEvent::MouseMove, inList + QPoint(30, 20), Qt::NoButton, Qt::LeftButton);
        sendMouse(vp, QEvent::MouseButtonRelease, inList + QPoint(30, 20), Qt::LeftButton, Qt::NoButton);
        QCOMPARE(l.pos(), moved);
    }
};

QTEST_MAIN(TestChooser)
#include "tst_chooser.moc"
