// What a user of a desktop program expects where the windows say nothing: a
// grid that can be read, Escape, double-click, the focus on opening, the wait
// cursor, hints as they are typed, limited boxes and the amount box.
#include "ledgerfixture.h"

#include "about.h"
#include "amountspin.h"
#include "fhbd.h"
#include "jhbd.h"
#include "khlx.h"
#include "lb.h"
#include "zgjh.h"

#include <QClipboard>
#include <QCursor>
#include <QGuiApplication>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTextDocument>
#include <QToolTip>
#include <QWheelEvent>

using namespace ledger;

namespace {

QHeaderView* titles(Fixture& f) { return f.w->grid1->horizontalHeader(); }

// The text a tool tip shows, as the user reads it.
QString shownTip() {
    const QString t = QToolTip::text();
    QTextDocument d;
    if (Qt::mightBeRichText(t))
        d.setHtml(t);
    else
        d.setPlainText(t);
    return d.toPlainText();
}

// Asks a widget for its tool tip as resting the pointer on it does.
QString tipOver(QWidget* w) {
    QToolTip::hideText();
    QHelpEvent e(QEvent::ToolTip, w->rect().center(), w->mapToGlobal(w->rect().center()));
    QApplication::sendEvent(w, &e);
    return QToolTip::isVisible() ? shownTip() : QString();
}

void showActive(QWidget* w) {
    w->show();
    w->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(w));
}

// A shipment row with the given address; the rest of ordinary width.
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

// A book's button and its record dialog: the first control of its tab order,
// another control, and a box its close resets.
struct RecordDialog {
    QToolButton* book;
    QWidget* dialog;
    QWidget* first;
    QWidget* elsewhere;
    QLineEdit* typed;
};

// The four books: the number of their button and which of their columns stand at the right.
void addBookRows() {
    QTest::addColumn<int>("book");
    QTest::addColumn<QList<bool>>("right");
    QTest::newRow("customers") << 1 << QList<bool>{false, false, false, false, false};
    QTest::newRow("shipments") << 2 << QList<bool>{false, false, false, true, false, false, true};
    QTest::newRow("purchases") << 3 << QList<bool>{false, false, false, true, true};
    QTest::newRow("deliveries") << 4 << QList<bool>{false, false, false, true, true};
}

RecordDialog recordDialog(Fixture& f, int book) {
    const Roster& r = *f.roster;
    const RecordDialog all[] = {{f.w->SpeedButton1, r.khl.get(), r.khl->edname, r.khl->edsj, r.khl->edname},
                                {f.w->SpeedButton2, r.fhb.get(), r.fhb->edname, r.fhb->edyb, r.fhb->edsm},
                                {f.w->SpeedButton3, r.jhb.get(), r.jhb->edly, r.jhb->edsm, r.jhb->edsm},
                                {f.w->SpeedButton4, r.zgj.get(), r.zgj->btn, r.zgj->edsm, r.zgj->edsm}};
    return all[book - 1];
}

} // namespace

class TestHabits : public QObject {
    Q_OBJECT

private slots:
    // At the window's own size every column of the shipment book is in sight,
    // none cut, and one long address takes no more than its share.
    void columnsFitTheirContentsWithinBounds() {
        Fixture f;
        shipTo("桐乡市濮院镇毛衫城");
        shipTo("浙江省嘉兴市桐乡市濮院镇毛衫城工业园区三十八号后门左手第二间仓库楼上,找王师傅拿货");
        f.enter();
        f.w->SpeedButton2->click();
        QTableView* g = f.w->grid1;
        QHeaderView* h = titles(f);
        QCOMPARE(h->count(), 7);
        const int shown = g->viewport()->width();
        QVERIFY2(h->sectionViewportPosition(6) + h->sectionSize(6) <= shown,
                 qPrintable(QStringLiteral("总金额 ends at %1 of %2")
                                .arg(h->sectionViewportPosition(6) + h->sectionSize(6))
                                .arg(shown)));
        const QAbstractItemModel* m = g->model();
        for (int c = 0; c < 7; ++c) {
            if (c == 4)
                continue;
            QVERIFY2(g->visualRect(m->index(0, c)).width() >= g->sizeHintForIndex(m->index(0, c)).width(),
                     qPrintable(QStringLiteral("column %1 cuts its text").arg(c)));
            QVERIFY(h->sectionSize(c) >= h->sectionSizeHint(c));
        }
        // The long address is cut to a third of the grid; the short one would fit.
        QVERIFY(h->sectionSize(4) < g->sizeHintForIndex(m->index(1, 4)).width());
        QVERIFY(g->visualRect(m->index(0, 4)).width() >= g->sizeHintForIndex(m->index(0, 4)).width());
        QVERIFY(h->sectionSize(4) <= g->width() / 3);
    }

    // Only the rows in sight are measured: a long name far down the book does
    // not widen its column, so a huge book is never read through for it.
    void onlyRowsInSightAreMeasured() {
        Fixture f;
        std::string sql = "BEGIN;";
        for (int i = 0; i < 600; ++i)
            sql += insertSql("2", {"(1)2026/12/8", i == 400 ? std::string(40, 'W') : "王丽", "开衫", "10", "桐乡",
                                   "314500", "1250"});
        tsltest::sqlExec(kFile, sql + "COMMIT;");
        f.enter();
        f.w->SpeedButton2->click();
        QTableView* g = f.w->grid1;
        const int far = g->sizeHintForIndex(g->model()->index(400, 1)).width();
        const int near = g->sizeHintForIndex(g->model()->index(0, 1)).width();
        QVERIFY(far > near + 100);
        QVERIFY(titles(f)->sectionSize(1) < far);
        QVERIFY(g->visualRect(g->model()->index(0, 1)).width() >= near);
    }

    // A width the user drags stays with its book: across book switches and a
    // new entry into a ledger; the other books keep their own widths.
    void draggedWidthsStayWithTheirBook() {
        Fixture f;
        shipTo("桐乡");
        customer("王丽");
        f.enter();
        f.w->SpeedButton2->click();
        QHeaderView* h = titles(f);
        const int sized = h->sectionSize(2);
        h->resizeSection(2, sized + 57); // what dragging the title's edge does
        f.w->SpeedButton1->click();
        const int customersSized = h->sectionSize(2);
        QVERIFY(customersSized != sized + 57);
        f.w->SpeedButton2->click();
        QCOMPARE(h->sectionSize(2), sized + 57);
        QVERIFY(h->sectionSize(3) != sized + 57);
        f.w->close();
        f.enter();
        QCOMPARE(h->sectionSize(2), customersSized);
        f.w->SpeedButton2->click();
        QCOMPARE(h->sectionSize(2), sized + 57);
        // Reopening the same book keeps it too.
        f.w->SpeedButton2->click();
        QCOMPARE(h->sectionSize(2), sized + 57);
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
        QList<bool> shown;
        for (int c = 0; c < right.size(); ++c) {
            const auto cell = Qt::Alignment(m->index(0, c).data(Qt::TextAlignmentRole).toInt());
            const auto title = Qt::Alignment(m->headerData(c, Qt::Horizontal, Qt::TextAlignmentRole).toInt());
            QVERIFY2(bool(cell & Qt::AlignRight) == bool(title & Qt::AlignRight),
                     qPrintable(QStringLiteral("column %1: cell and title disagree").arg(c)));
            shown << bool(cell & Qt::AlignRight);
        }
        QCOMPARE(shown, right);
    }

    // The record hint and the report grid's hint show the texts as they stand.
    void hintsShowTheirTextAsItStands() {
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
        QVERIFY(f.j->isVisible());
        f.j->grid1->selectCell(1, 1);
        QCOMPARE(tipOver(f.j->grid1->viewport()),
                 QStringLiteral("日期:(1)2026/12/8\n客户姓名:<i>李</i>\n毛衫种类:开衫\n数量:10\n发货地点:桐乡\n邮编:"
                                "314500\n总金额:5\n"));
    }

    // Each time a record dialog opens, the focus starts on the first control of
    // its tab order, not where the last use left it. Escape closes it, and its
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
            QVERIFY(c.dialog->isVisible());
            QVERIFY(QTest::qWaitForWindowActive(c.dialog));
            QCOMPARE(c.dialog->focusWidget(), c.first);
            c.elsewhere->setFocus();
            QCOMPARE(c.dialog->focusWidget(), c.elsewhere);
            c.typed->setText("typed");
            QTest::keyClick(c.typed, Qt::Key_Escape);
            QVERIFY(!c.dialog->isVisible());
            QVERIFY(c.typed->text() != "typed"); // the reset ran
        }
    }

    // Escape closes About and the report window too; the report is reset as on every close.
    void escapeClosesAboutAndTheReport() {
        Fixture f;
        ship("王丽", "5");
        f.enter();
        Tabou* a = f.roster->abou.get();
        f.w->Z1->trigger();
        showActive(a);
        QTest::keyClick(a, Qt::Key_Escape);
        QVERIFY(!a->isVisible());

        f.w->SpeedButton2->click();
        f.w->edjz->setText("王丽");
        f.w->btnjz->click();
        QVERIFY(f.j->isVisible());
        showActive(f.j);
        QTest::keyClick(f.j->Button1, Qt::Key_Escape);
        QVERIFY(!f.j->isVisible());
        QCOMPARE(f.j->grid1->rowCount(), 2);
        QCOMPARE(f.j->grid1->colCount(), 1);
        QVERIFY(f.prompter.boxes.empty());
    }

    void doubleClickOnALedgerEntersIt() {
        FormsFixture f;
        f.seedIndex();
        f.create();
        Tl& l = *f.roster->l;
        for (const QString& name : {QStringLiteral("2025"), QStringLiteral("2026")}) {
            f.prompter.inputAnswers.push_back(name);
            l.BitBtn2->click();
            f.roster->Form1->close();
        }
        f.prompter.take();
        QVERIFY(l.isVisible());
        QListWidget* list = l.list1;
        // The window system sends a press, a release, then the double-click.
        const QPoint first = list->visualItemRect(list->item(0)).center();
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, first);
        QVERIFY(!f.roster->Form1->isVisible()); // a single click only selects
        QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, first);
        QVERIFY(f.roster->Form1->isVisible());
        QVERIFY(!l.isVisible());
        QCOMPARE(f.roster->Form1->windowTitle(), QStringLiteral("帐本名称:2025"));
        QCOMPARE(f.prompter.take(), QStringList());
    }

    // The wait cursor shows while a long operation runs, and only then.
    void waitCursorWhileLongWorkRuns() {
        Fixture f;
        ship("甲", "1");
        ship("乙", "2");
        ship("丙", "3");
        QList<Qt::CursorShape> seen;
        auto look = [&seen] {
            const QCursor* c = QGuiApplication::overrideCursor();
            seen << (c ? c->shape() : Qt::ArrowCursor);
        };
        const auto afterOpen = f.w->table1.afterOpen;
        f.w->table1.afterOpen = [&] {
            look();
            afterOpen();
        };
        // Entering a ledger from the chooser opens its customer book.
        Tl& l = *f.roster->l;
        addLedgerName(f, "x");
        l.list1->setCurrentRow(0);
        l.BitBtn1->click();
        QVERIFY(f.w->isVisible());
        QCOMPARE(seen, QList<Qt::CursorShape>{Qt::WaitCursor});
        QCOMPARE(QGuiApplication::overrideCursor(), nullptr);

        // Deleting the first shipment renumbers the two after it.
        f.w->SpeedButton2->click();
        seen.clear();
        const auto afterPost = f.w->table1.afterPost;
        f.w->table1.afterPost = [&] {
            look();
            afterPost();
        };
        f.w->table1.first();
        f.prompter.yesNoAnswers.push_back(true);
        f.w->btndel->click();
        QCOMPARE(column("2"), QStringList({"(1)2004-5-12", "(2)2004-5-12"}));
        QVERIFY(!seen.isEmpty());
        QCOMPARE(seen, QList<Qt::CursorShape>(seen.size(), Qt::WaitCursor));
        QCOMPARE(QGuiApplication::overrideCursor(), nullptr);
        f.w->table1.afterOpen = afterOpen;
        f.w->table1.afterPost = afterPost;
    }

    // A paste into the limited address box keeps the part that fits, counting a
    // character outside ASCII as two; what stood there stays.
    void pasteIntoTheAddressTakesWhatFits_data() {
        QTest::addColumn<QString>("before");
        QTest::addColumn<int>("cursor");
        QTest::addColumn<int>("selected");
        QTest::addColumn<QString>("pasted");
        QTest::addColumn<QString>("after");
        QTest::addColumn<int>("cursorAfter");
        const QString a146(146, u'a');
        QTest::newRow("at the end") << a146 << 146 << 0 << "王丽张三" << a146 + "王丽" << 148;
        QTest::newRow("half a character left") << QString(147, u'a') << 147 << 0 << "王丽" << QString(147, u'a') + "王"
                                               << 148;
        QTest::newRow("in the middle") << QString(149, u'a') << 10 << 0 << "bc王"
                                       << QString(10, u'a') + "b" + QString(139, u'a') << 11;
        QTest::newRow("over a selection") << QString(150, u'a') << 3 << 2 << "王丽"
                                          << QString(3, u'a') + "王" + QString(145, u'a') << 4;
        QTest::newRow("no room") << QString(150, u'a') << 0 << 0 << "xyz" << QString(150, u'a') << 0;
        QTest::newRow("pair kept whole") << QString(148, u'a') << 148 << 0 << QStringLiteral("x😀")
                                         << QString(148, u'a') + "x" << 149;
        QTest::newRow("fits whole") << QString(100, u'a') << 100 << 0 << "王丽" << QString(100, u'a') + "王丽" << 102;
    }
    void pasteIntoTheAddressTakesWhatFits() {
        QFETCH(QString, before);
        QFETCH(int, cursor);
        QFETCH(int, selected);
        QFETCH(QString, pasted);
        QFETCH(QString, after);
        QFETCH(int, cursorAfter);
        Fixture f;
        QLineEdit* e = f.roster->khl->edadd;
        e->setText(before);
        e->setCursorPosition(cursor);
        if (selected)
            e->setSelection(cursor, selected);
        QGuiApplication::clipboard()->setText(pasted);
        QTest::keyClick(e, Qt::Key_V, Qt::ControlModifier);
        QCOMPARE(e->text(), after);
        QCOMPARE(e->cursorPosition(), cursorAfter);
        QVERIFY(ByteLimit::byteLength(e->text()) <= Tkhl::kAddressLimit);
    }

    // The amount box steps by one on the arrow keys and buttons, and on nothing else.
    void amountStepsOnlyByTheArrows() {
        AmountSpin s;
        s.setText("5");
        s.show();
        for (Qt::Key k : {Qt::Key_PageUp, Qt::Key_PageDown})
            QTest::keyClick(&s, k);
        QCOMPARE(s.text(), "5");
        const QPointF at = s.rect().center();
        for (int delta : {120, -120, 1200}) {
            QWheelEvent wheel(at, s.mapToGlobal(at), {}, {0, delta}, Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase,
                              false);
            QApplication::sendEvent(&s, &wheel);
        }
        QCOMPARE(s.text(), "5");
        QTest::keyClick(&s, Qt::Key_Up);
        QCOMPARE(s.text(), "6");
        QTest::keyClick(&s, Qt::Key_Down);
        QTest::keyClick(&s, Qt::Key_Down);
        QCOMPARE(s.text(), "4");
    }

private:
    static void addLedgerName(Fixture& f, const QString& name) {
        f.roster->l->table1.append();
        f.roster->l->table1.setField(tsl::field::ledgerName, name.toStdString());
        f.roster->l->table1.post();
        f.roster->l->list1->addItem(name);
    }
};

QTEST_MAIN(TestHabits)
#include "tst_habits.moc"
