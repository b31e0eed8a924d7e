// What a user of a desktop program expects where the windows say nothing: a
// grid that can be read, Escape, double-click, the focus on opening, the wait
// cursor, hints as they are typed, limited boxes and the amount box.
#include "tests/forms/ledgerfixture.h"

#include "forms/about.h"
#include "widgets/amountspin.h"
#include "forms/fhbd.h"
#include "forms/jhbd.h"
#include "forms/khlx.h"
#include "forms/lb.h"
#include "forms/ndtj.h"
#include "forms/zgjh.h"

#include <QClipboard>
#include <QCursor>
#include <QGuiApplication>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTextDocument>
#include <QToolTip>
#include <QWheelEvent>
#include <QWindow>

using namespace ledger;

namespace {

// The tool tip a widget shows when the pointer rests on it, as the user reads it.
QString tipOver(QWidget* w) {
    QToolTip::hideText();
    QHelpEvent e(QEvent::ToolTip, w->rect().center(), w->mapToGlobal(w->rect().center()));
    QApplication::sendEvent(w, &e);
    if (!QToolTip::isVisible())
        return {};
    QTextDocument d;
    Qt::mightBeRichText(QToolTip::text()) ? d.setHtml(QToolTip::text()) : d.setPlainText(QToolTip::text());
    return d.toPlainText();
}

void shipTo(const std::string& address, const std::string& name = "王丽") {
    addRow("2", {"(1)2026/12/8", name, "开衫", "10", address, "314500", "1250"});
}

// A row in every book, so each can be shown and edited.
void oneOfEach() {
    customer("王丽");
    ship("王丽", "5");
    buy("纱厂", "300");
    deliver("小王", "40");
}

// A book's button and its record dialog: the first input field of its tab
// order, another control, a box its close resets, its confirm and cancel buttons
// and its amount box (none in the customer dialog).
struct RecordDialog {
    QToolButton* book;
    QWidget* dialog;
    QWidget* first;
    QWidget* elsewhere;
    QLineEdit* typed;
    QPushButton* btn;
    QPushButton* cancel;
    QWidget* amount;
};

RecordDialog recordDialog(Fixture& f, int book) {
    const Roster& r = *f.roster;
    const RecordDialog all[] = {
        {f.w->SpeedButton1, r.khl.get(), r.khl->edname, r.khl->edsj, r.khl->edname, r.khl->btn, r.khl->btncancel, nullptr},
        {f.w->SpeedButton2, r.fhb.get(), r.fhb->edname, r.fhb->edyb, r.fhb->edsm, r.fhb->btn, r.fhb->btncancel, r.fhb->edje},
        {f.w->SpeedButton3, r.jhb.get(), r.jhb->edly, r.jhb->edsm, r.jhb->edsm, r.jhb->btn, r.jhb->btncancel, r.jhb->edje},
        // Its tab order starts on its buttons: the focus still starts on the worker's name.
        {f.w->SpeedButton4, r.zgj.get(), r.zgj->edname, r.zgj->edsm, r.zgj->edsm, r.zgj->btn, r.zgj->btncancel, r.zgj->edje}};
    return all[book - 1];
}

// The four books: the number of their button and which of their columns stand at the right.
void addBookRows() {
    QTest::addColumn<int>("book");
    QTest::addColumn<QList<bool>>("right");
    QTest::newRow("customers") << 1 << QList<bool>{false, false, false, false, false};
    QTest::newRow("shipments") << 2 << QList<bool>{false, false, false, true, false, false, true};
    QTest::newRow("purchases") << 3 << QList<bool>{false, false, false, true, true};
    QTest::newRow("deliveries") << 4 << QList<bool>{false, false, false, true, true};
}

// A shipment to "wang" and the report of it up on screen.
void openReport(Fixture& f) {
    ship("wang", "5");
    f.enter();
    f.w->SpeedButton2->click();
    f.w->edjz->setText("wang");
    f.w->btnjz->click();
}

// The window a window manager keeps this one in front of.
QWindow* ownerOf(QWidget* w) { return w->windowHandle() ? w->windowHandle()->transientParent() : nullptr; }

} // namespace

class TestHabits : public QObject {
    Q_OBJECT

private slots:
    // At the window's own size every column of the shipment book is in sight,
    // none cut, and one long address takes no more than a third of the grid.
    void columnsFitTheirContentsWithinBounds() {
        Fixture f;
        shipTo("桐乡市濮院镇毛衫城");
        shipTo("浙江省嘉兴市桐乡市濮院镇毛衫城工业园区三十八号后门左手第二间仓库楼上,找王师傅拿货");
        f.enter();
        f.w->SpeedButton2->click();
        QTableView* g = f.w->grid1;
        QHeaderView* h = g->horizontalHeader();
        const QAbstractItemModel* m = g->model();
        QCOMPARE(h->count(), 7);
        QVERIFY(h->sectionViewportPosition(6) + h->sectionSize(6) <= g->viewport()->width());
        for (int c = 0; c < 7; ++c) {
            QVERIFY2(g->visualRect(m->index(0, c)).width() >= g->sizeHintForIndex(m->index(0, c)).width(),
                     qPrintable(QStringLiteral("column %1 cuts its text").arg(c)));
            QVERIFY(c == 4 || h->sectionSize(c) >= h->sectionSizeHint(c));
        }
        QVERIFY(h->sectionSize(4) < g->sizeHintForIndex(m->index(1, 4)).width());
        QVERIFY(h->sectionSize(4) <= g->width() / 3);
    }

    // A long name far down the book does not widen its column: a huge book is
    // never read through for it.
    void onlyRowsInSightAreMeasured() {
        Fixture f;
        std::string sql = "BEGIN;";
        for (int i = 0; i < 600; ++i)
            sql += insertSql("2", {"(1)2026/12/8", i == 400 ? std::string(40, 'W') : "王丽", "开衫", "10", "桐乡",
                                   "314500", "1250"});
        execSql(sql + "COMMIT;");
        f.enter();
        f.w->SpeedButton2->click();
        QTableView* g = f.w->grid1;
        const int far = g->sizeHintForIndex(g->model()->index(400, 1)).width();
        QVERIFY(far > g->sizeHintForIndex(g->model()->index(0, 1)).width() + 100);
        QVERIFY(g->horizontalHeader()->sectionSize(1) < far);
    }

    // A width the user drags stays with its book across book switches, a second
    // click on the book and a new entry into the ledger; other books keep theirs.
    void draggedWidthsStayWithTheirBook() {
        Fixture f;
        shipTo("桐乡");
        customer("王丽");
        f.enter();
        f.w->SpeedButton2->click();
        QHeaderView* h = f.w->grid1->horizontalHeader();
        const int dragged = h->sectionSize(2) + 57;
        h->resizeSection(2, dragged); // what dragging the title's edge does
        f.w->SpeedButton1->click();
        const int customers = h->sectionSize(2);
        QVERIFY(customers != dragged);
        f.w->SpeedButton2->click();
        QCOMPARE(h->sectionSize(2), dragged);
        QVERIFY(h->sectionSize(3) != dragged);
        f.w->close();
        f.enter();
        QCOMPARE(h->sectionSize(2), customers);
        f.w->SpeedButton2->click();
        f.w->SpeedButton2->click();
        QCOMPARE(h->sectionSize(2), dragged);
    }

    // In the cell and in its title alike; postcodes and telephone numbers are no amounts.
    void amountsAndQuantitiesStandRight_data() { addBookRows(); }
    void amountsAndQuantitiesStandRight() {
        QFETCH(int, book);
        QFETCH(QList<bool>, right);
        Fixture f;
        oneOfEach();
        f.enter();
        recordDialog(f, book).book->click();
        const QAbstractItemModel* m = f.w->grid1->model();
        QList<bool> cells, titles;
        for (int c = 0; c < right.size(); ++c) {
            cells << bool(m->index(0, c).data(Qt::TextAlignmentRole).toInt() & Qt::AlignRight);
            titles << bool(m->headerData(c, Qt::Horizontal, Qt::TextAlignmentRole).toInt() & Qt::AlignRight);
        }
        QCOMPARE(cells, right);
        QCOMPARE(titles, right);
    }

    // The record hint and the report grid's hint show the texts as they stand.
    // Escape closes the report, which is reset as on every close, and About.
    void hintsShowTheirTextAsItStandsAndEscapeCloses() {
        Fixture f;
        addRow("1", {"<b>王丽</b>", "a<br>b", "&amp;", "1", "2"});
        addRow("2", {"(1)2026/12/8", "<i>李</i>", "开衫", "10", "桐乡", "314500", "5"});
        f.enter();
        f.clickCell(0, 0);
        QCOMPARE(tipOver(f.w->grid1->viewport()),
                 QStringLiteral("姓名:<b>王丽</b>\n地址:a<br>b\n邮编:&amp;\n电话:1\n手机:2\n"));
        f.w->SpeedButton2->click();
        f.w->edjz->setText("<i>李</i>");
        f.w->btnjz->click();
        f.j->grid1->selectCell(1, 1);
        QCOMPARE(tipOver(f.j->grid1->viewport()),
                 QStringLiteral("日期:(1)2026/12/8\n客户姓名:<i>李</i>\n毛衫种类:开衫\n数量:10\n发货地点:桐乡\n邮编:"
                                "314500\n总金额:5\n"));
        QVERIFY(QTest::qWaitForWindowActive(f.j));
        QTest::keyClick(f.j->Button1, Qt::Key_Escape);
        QVERIFY(!f.j->isVisible());
        QCOMPARE(f.j->grid1->rowCount(), 2);
        QCOMPARE(f.j->grid1->colCount(), 1);

        f.w->Z1->trigger();
        QVERIFY(QTest::qWaitForWindowActive(f.roster->abou.get()));
        QTest::keyClick(f.roster->abou.get(), Qt::Key_Escape);
        QVERIFY(!f.roster->abou->isVisible());
        QVERIFY(f.prompter.boxes.empty());
    }

    // Each time a record dialog opens, the focus starts on the first input field
    // of its tab order, not where the last use left it. Escape closes it, and its
    // close handling runs as with the close box.
    void recordDialogsOpenOnTheirFirstControlAndCloseOnEscape_data() { addBookRows(); }
    void recordDialogsOpenOnTheirFirstControlAndCloseOnEscape() {
        QFETCH(int, book);
        Fixture f;
        oneOfEach();
        f.enter();
        const RecordDialog c = recordDialog(f, book);
        c.book->click();
        for (QToolButton* command : {f.w->btnadd, f.w->btnedit}) {
            command->click();
            QVERIFY(QTest::qWaitForWindowActive(c.dialog));
            QCOMPARE(c.dialog->focusWidget(), c.first);
            c.elsewhere->setFocus();
            c.typed->setText("typed");
            QTest::keyClick(c.typed, Qt::Key_Escape);
            QVERIFY(!c.dialog->isVisible());
            QVERIFY(c.typed->text() != "typed"); // the reset ran
        }
    }

    // Space, typed first (it also commits a word of a pinyin input method), goes
    // into the first field and records nothing. Enter confirms from a field, as
    // the default button; on the focused cancel button it cancels; the amount
    // box refuses it.
    void enterConfirmsAndSpaceRecordsNothing_data() { addBookRows(); }
    void enterConfirmsAndSpaceRecordsNothing() {
        QFETCH(int, book);
        Fixture f;
        f.enter();
        const RecordDialog c = recordDialog(f, book);
        c.book->click();
        const std::string table = std::to_string(book);

        // Whether the dialog is up, and nothing was written.
        const auto unwritten = [&](bool up) { return c.dialog->isVisible() == up && rows(table).isEmpty(); };
        f.w->btnadd->click();
        QVERIFY(QTest::qWaitForWindowActive(c.dialog));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
        QVERIFY(unwritten(true));
        if (c.amount) {
            QTest::keyClick(c.amount, Qt::Key_Return);
            QVERIFY(unwritten(true));
        }
        c.cancel->setFocus();
        QTest::keyClick(c.cancel, Qt::Key_Return);
        QVERIFY(unwritten(false));

        f.w->btnadd->click();
        QVERIFY(QTest::qWaitForWindowActive(c.dialog));
        typeText(QApplication::focusWidget(), QStringLiteral("王丽"));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        QVERIFY(!c.dialog->isVisible());
        const QStringList written = rows(table);
        QCOMPARE(written.size(), 1);
        QCOMPARE(written[0].split('|')[book == 1 ? 0 : 1], QStringLiteral("王丽"));
        QVERIFY(f.prompter.boxes.empty());
        QVERIFY(c.btn->isDefault()); // drawn as the one Enter presses
    }

    // A record dialog opened while the report is up is owned by the report, so
    // the window manager keeps it in front of that always-on-top window; when
    // the report closes it goes back to the workspace, where it stays.
    void recordDialogOpenedUnderTheReportStandsAboveIt() {
        Fixture f;
        openReport(f);
        QVERIFY(f.j->isVisible());
        Tfhb& d = *f.roster->fhb;
        f.w->btnadd->click();
        QVERIFY(QTest::qWaitForWindowActive(&d));
        QCOMPARE(ownerOf(&d), f.j->windowHandle());
        d.edsm->setText("7");
        const QPoint at = d.pos();
        f.j->close();
        QVERIFY(d.isVisible());
        QCOMPARE(ownerOf(&d), f.w->windowHandle());
        QCOMPARE(d.pos(), at);
        QCOMPARE(d.edsm->text(), "7"); // shown anew, not closed and reset
        d.close();
        f.w->btnadd->click();
        QCOMPARE(ownerOf(&d), f.w->windowHandle());
        QVERIFY(f.prompter.boxes.empty());
    }

    // The year window and About, opened while the report is up, are owned by
    // the report too, so they come in front of it; the year window opened
    // again after the report closed is a window of its own again.
    void yearWindowAndAboutOpenedUnderTheReportStandAboveIt() {
        Fixture f;
        openReport(f);
        QVERIFY(f.j->isVisible());
        f.w->yearGlanceItem->trigger();
        QWidget* year = f.w->yearGlance();
        QVERIFY(year && year->isVisible());
        QCOMPARE(ownerOf(year), f.j->windowHandle());
        QCOMPARE(year->windowType(), Qt::Dialog); // only a dialog-type window tells the window manager its owner
        f.w->Z1->trigger();
        QVERIFY(f.roster->abou->isVisible());
        QCOMPARE(ownerOf(f.roster->abou.get()), f.j->windowHandle());
        f.roster->abou->close();
        f.j->close();
        year->close();
        f.w->yearGlanceItem->trigger();
        QVERIFY(year->isVisible());
        QCOMPARE(year->windowType(), Qt::Window);
        QCOMPARE(ownerOf(year), nullptr);
        f.w->Z1->trigger();
        QCOMPARE(ownerOf(f.roster->abou.get()), f.w->windowHandle());
        QVERIFY(f.prompter.boxes.empty());
    }

    // A double-click on a ledger enters it (a single click only selects), under
    // the wait cursor; so does a delete renumbering the rows after it. The wait
    // cursor shows only while such work runs.
    void doubleClickEntersALedgerUnderTheWaitCursor() {
        Fixture f;
        ship("甲", "1");
        ship("乙", "2");
        ship("丙", "3");
        QList<Qt::CursorShape> seen;
        const auto afterOpen = f.w->table1.afterOpen;
        const auto afterPost = f.w->table1.afterPost;
        const auto look = [&seen](const std::function<void()>& then) {
            return [&seen, then] {
                const QCursor* c = QGuiApplication::overrideCursor();
                seen << (c ? c->shape() : Qt::ArrowCursor);
                then();
            };
        };
        f.w->table1.afterOpen = look(afterOpen);
        f.w->table1.afterPost = look(afterPost);
        Tl& l = *f.roster->l;
        l.table1.append();
        l.table1.setField(tsl::field::ledgerName, "x");
        l.table1.post();
        l.list1->addItem("x");
        l.show();
        // The window system sends a press, a release, then the double-click.
        const QPoint at = l.list1->visualItemRect(l.list1->item(0)).center();
        QTest::mouseClick(l.list1->viewport(), Qt::LeftButton, {}, at);
        QVERIFY(!f.w->isVisible());
        QTest::mouseDClick(l.list1->viewport(), Qt::LeftButton, {}, at);
        QVERIFY(f.w->isVisible());
        QVERIFY(!l.isVisible());
        QCOMPARE(f.w->windowTitle(), QStringLiteral("帐本名称:x"));
        QCOMPARE(seen, QList<Qt::CursorShape>{Qt::WaitCursor});
        QCOMPARE(QGuiApplication::overrideCursor(), nullptr);

        f.w->SpeedButton2->click();
        seen.clear();
        f.w->table1.first();
        f.prompter.yesNoAnswers.push_back(true);
        // The renumbering rewrites rows without posting them: its observer looks.
        struct Renumbered : tsl::CursorObserver {
            std::function<void()> look;
            void rowsUpdated(int, int) override { look(); }
        } renumbered;
        renumbered.look = look([] {});
        f.w->table1.addObserver(&renumbered);
        f.w->btndel->click();
        f.w->table1.removeObserver(&renumbered);
        QCOMPARE(column("2"), QStringList({"(1)2004-5-12", "(2)2004-5-12"}));
        QVERIFY(!seen.isEmpty());
        QCOMPARE(seen, QList<Qt::CursorShape>(seen.size(), Qt::WaitCursor));
        QCOMPARE(QGuiApplication::overrideCursor(), nullptr);
        QCOMPARE(f.prompter.take(), QStringList{"真的要删除该资料吗!"});
        f.w->table1.afterOpen = afterOpen;
        f.w->table1.afterPost = afterPost;
    }

    // A paste into the limited address box keeps the part that fits, counting a
    // character outside ASCII as two; what stood there stays.
    void pasteIntoTheAddressTakesWhatFits() {
        const auto a = [](int n) { return QString(n, u'a'); };
        const struct {
            QString before;
            int cursor, selected;
            QString pasted, after;
            int cursorAfter;
        } cases[] = {
            {a(146), 146, 0, "王丽张三", a(146) + "王丽", 148},              // at the end
            {a(147), 147, 0, "王丽", a(147) + "王", 148},                    // half a character left
            {a(149), 10, 0, "bc王", a(10) + "b" + a(139), 11},               // in the middle
            {a(150), 3, 2, "王丽", a(3) + "王" + a(145), 4},                 // over a selection
            {a(150), 0, 0, "xyz", a(150), 0},                                // no room
            {a(148), 148, 0, QStringLiteral("x😀"), a(148) + "x", 149},      // a surrogate pair kept whole
            {a(100), 100, 0, "王丽", a(100) + "王丽", 102},                  // fits whole
        };
        Fixture f;
        QLineEdit* e = f.roster->khl->edadd;
        for (const auto& c : cases) {
            e->setText(c.before);
            e->setCursorPosition(c.cursor);
            if (c.selected)
                e->setSelection(c.cursor, c.selected);
            QGuiApplication::clipboard()->setText(c.pasted);
            QTest::keyClick(e, Qt::Key_V, Qt::ControlModifier);
            QVERIFY2(e->text() == c.after && e->cursorPosition() == c.cursorAfter,
                     qPrintable(QStringLiteral("pasting %1 gave %2 at %3").arg(c.pasted, e->text()).arg(e->cursorPosition())));
            QVERIFY(ByteLimit::byteLength(e->text()) <= Tkhl::kAddressLimit);
        }
    }

    // The amount box steps on the arrow keys and buttons only: page keys and the wheel leave it.
    void amountStepsOnlyByTheArrows() {
        AmountSpin s;
        s.setText("5");
        s.show();
        QTest::keyClick(&s, Qt::Key_PageUp);
        QTest::keyClick(&s, Qt::Key_PageDown);
        const QPointF at = s.rect().center();
        for (int delta : {120, -120, 1200}) {
            QWheelEvent wheel(at, s.mapToGlobal(at), {}, {0, delta}, Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase,
                              false);
            QApplication::sendEvent(&s, &wheel);
        }
        QCOMPARE(s.text(), "5");
        QTest::keyClick(&s, Qt::Key_Up);
        QCOMPARE(s.text(), "6");
    }
};

QTEST_MAIN(TestHabits)
#include "tst_habits.moc"
