// The real boxes, answered by a timer that plays the user.
#include "widgets/prompter.h"
#include "widgets/waitcursor.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDate>
#include <QFontMetrics>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <QPointer>

#include <functional>
#include <memory>

namespace {

// Waits for the next modal box and hands it to `answer`, which must close it.
// Gives up (closing whatever is up) after a few seconds, so a missing box
// fails the test instead of hanging it.
void whenModal(std::function<void(QWidget*)> answer) {
    auto* timer = new QTimer;
    auto tries = std::make_shared<int>(0);
    QObject::connect(timer, &QTimer::timeout, [timer, tries, answer] {
        QWidget* box = QApplication::activeModalWidget();
        if (box && box->isVisible()) {
            timer->stop();
            timer->deleteLater();
            QPointer<QWidget> guard(box);
            answer(box);
            // A failed check inside `answer` returns early; do not leave the box waiting.
            if (guard && guard->isVisible())
                guard->close();
            return;
        }
        if (++*tries > 200) {
            timer->stop();
            timer->deleteLater();
        }
    });
    timer->start(20);
}

QStringList buttonTexts(const QMessageBox& box) {
    QStringList out;
    for (QAbstractButton* b : box.buttons())
        out << b->text();
    return out;
}

} // namespace

class TestPrompter : public QObject {
    Q_OBJECT

private slots:
    // A box that comes up while a long operation shows the wait cursor has the
    // arrow; once it is closed the wait cursor is back, and gone after the operation.
    void boxesDuringAWaitShowTheArrow() {
        auto shape = [] {
            const QCursor* c = QGuiApplication::overrideCursor();
            return c ? int(c->shape()) : -1;
        };
        DialogPrompter p;
        int during = -2;
        const auto answer = [&] {
            whenModal([&](QWidget* box) {
                during = shape();
                box->close();
            });
        };
        answer();
        p.message(QStringLiteral("无等待"));
        QCOMPARE(during, -1);
        {
            WaitCursor wait;
            answer();
            p.error(QStringLiteral("等待中"));
            QCOMPARE(during, int(Qt::ArrowCursor));
            QCOMPARE(shape(), int(Qt::WaitCursor));
        }
        QCOMPARE(shape(), -1);
    }

    // A box raised while no window is active (a save dialog has just closed and
    // the focus is not back yet) belongs to the window that had the focus last.
    void boxWithNoActiveWindowGoesToTheLastActive() {
        DialogPrompter p;
        QWidget first, second;
        QLineEdit* edits[] = {new QLineEdit(&first), new QLineEdit(&second)};
        QWidget* windows[] = {&first, &second};
        for (QWidget* w : windows)
            w->show();
        for (int last : {1, 0}) {
            QApplication::setActiveWindow(windows[last]);
            edits[last]->setFocus();
            QApplication::setActiveWindow(nullptr);
            QWidget* owner = nullptr;
            whenModal([&](QWidget* box) {
                owner = box->parentWidget();
                box->close();
            });
            p.error(QStringLiteral("不能写入文件"));
            QCOMPARE(owner, windows[last]);
        }
    }

    // A box never belongs to a hidden window (it would give the focus back to
    // nothing), whichever way the owner is found: the active window, the one
    // active last, or the one that stays on top.
    void boxNeverBelongsToAHiddenWindow_data() {
        QTest::addColumn<QString>("hiddenOne");
        QTest::newRow("active") << "active";
        QTest::newRow("active last") << "last";
        QTest::newRow("on top") << "top";
    }

    void boxNeverBelongsToAHiddenWindow() {
        QFETCH(QString, hiddenOne);
        DialogPrompter p;
        QWidget shown, hidden;
        auto* shownEdit = new QLineEdit(&shown);
        auto* hiddenEdit = new QLineEdit(&hidden);
        if (hiddenOne == "top")
            hidden.setWindowFlag(Qt::WindowStaysOnTopHint);
        shown.show();
        hidden.show();
        if (hiddenOne != "top") { // "top" is the last resort: no window had the focus
            QApplication::setActiveWindow(&shown);
            shownEdit->setFocus();
            QApplication::setActiveWindow(&hidden);
            hiddenEdit->setFocus();
        }
        hidden.hide();
        QApplication::setActiveWindow(hiddenOne == "active" ? &hidden : nullptr);
        QWidget* owner = nullptr;
        whenModal([&](QWidget* box) {
            owner = box->parentWidget();
            box->close();
        });
        p.error(QStringLiteral("不能写入文件"));
        QCOMPARE(owner, &shown);
    }

    void messageAndErrorBoxes_data() {
        QTest::addColumn<bool>("error");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("icon");
        QTest::addColumn<QString>("shown");
        QTest::newRow("message") << false << "帐本创建成功!\n<b>第二行</b>" << int(QMessageBox::NoIcon)
                                 << "帐本创建成功!\n<b>第二行</b>";
        QTest::newRow("error") << true << "'<abc>' is not a valid integer value" << int(QMessageBox::Critical)
                               << "'<abc>' is not a valid integer value.";
    }

    void messageAndErrorBoxes() {
        QFETCH(bool, error);
        QFETCH(QString, text);
        QFETCH(int, icon);
        QFETCH(QString, shown);
        DialogPrompter p;
        bool seen = false;
        whenModal([&](QWidget* w) {
            auto* box = qobject_cast<QMessageBox*>(w);
            QVERIFY(box);
            seen = true;
            QCOMPARE(box->windowTitle(), QStringLiteral("tessolan"));
            QCOMPARE(int(box->icon()), icon);
            QCOMPARE(box->text(), shown);
            QCOMPARE(box->textFormat(), Qt::PlainText);
            QCOMPARE(buttonTexts(*box), QStringList({QStringLiteral("OK")}));
            box->buttons().front()->click();
        });
        error ? p.error(text) : p.message(text);
        QVERIFY(seen);
    }

    // A short text makes a narrow box; the box is still wide enough for its
    // caption in a bold title face beside the title bar's icon and three
    // buttons (about 100 px in the desktop themes), so the caption is not cut.
    void boxesLeaveRoomForTheirCaption_data() {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("caption");
        QTest::newRow("message") << 0 << "tessolan";
        QTest::newRow("error") << 1 << "tessolan";
        QTest::newRow("notice") << 2 << "帐本名称:2026年的帐本";
        QTest::newRow("failure") << 3 << "帐本选择!";
    }
    void boxesLeaveRoomForTheirCaption() {
        QFETCH(int, kind);
        QFETCH(QString, caption);
        DialogPrompter p;
        QFont bold = QApplication::font();
        bold.setBold(true);
        const int needed = QFontMetrics(bold).horizontalAdvance(caption) + 100;
        int width = 0;
        whenModal([&](QWidget* w) {
            width = w->width();
            QCOMPARE(w->windowTitle(), caption);
            w->close();
        });
        const QString text = QStringLiteral("好!");
        switch (kind) {
        case 0: p.message(text); break;
        case 1: p.error(text); break;
        case 2: p.notice(caption, text); break;
        default: p.failure(caption, text); break;
        }
        QVERIFY2(width >= needed, qPrintable(QStringLiteral("%1 px wide, %2 needed").arg(width).arg(needed)));
    }

    void errorBoxText_data() {
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("shown");
        QTest::newRow("letter") << "abc"
                                << "abc.";
        QTest::newRow("digit") << "row 7"
                               << "row 7.";
        QTest::newRow("chinese") << "找不到文件"
                                 << "找不到文件.";
        QTest::newRow("quote") << "'x' is not a valid integer value"
                               << "'x' is not a valid integer value.";
        QTest::newRow("slash sorts after the stop") << "a/"
                                                    << "a/.";
        QTest::newRow("already a stop") << "done."
                                        << "done.";
        QTest::newRow("exclamation") << "错误!"
                                     << "错误!";
        QTest::newRow("comma") << "a,"
                               << "a,";
        QTest::newRow("closing quote") << "\"x\""
                                       << "\"x\"";
        QTest::newRow("empty") << QString() << QString();
    }

    void errorBoxText() {
        QFETCH(QString, message);
        QFETCH(QString, shown);
        QCOMPARE(::errorBoxText(message), shown);
    }

    void questionBox() {
        DialogPrompter p;
        for (bool yes : {true, false}) {
            bool seen = false;
            whenModal([&](QWidget* w) {
                auto* box = qobject_cast<QMessageBox*>(w);
                QVERIFY(box);
                seen = true;
                QCOMPARE(box->icon(), QMessageBox::Information);
                QCOMPARE(box->windowTitle(), QStringLiteral("Information"));
                QCOMPARE(buttonTexts(*box), QStringList({QStringLiteral("Yes"), QStringLiteral("No")}));
                QCOMPARE(box->defaultButton(), box->button(QMessageBox::Yes));
                box->button(yes ? QMessageBox::Yes : QMessageBox::No)->click();
            });
            QCOMPARE(p.askYesNo(QStringLiteral("真的要删除该资料吗!")), yes);
            QVERIFY(seen);
        }
        // Escape is not Yes.
        whenModal([](QWidget* w) { QTest::keyClick(w, Qt::Key_Escape); });
        QCOMPARE(p.askYesNo(QStringLiteral("真的要删除该资料吗!")), false);
    }

    void inputBox() {
        DialogPrompter p;
        bool seen = false;
        whenModal([&](QWidget* w) {
            auto* dlg = qobject_cast<QInputDialog*>(w);
            QVERIFY(dlg);
            seen = true;
            QCOMPARE(dlg->windowTitle(), QStringLiteral("新建帐本!"));
            QCOMPARE(dlg->labelText(), QStringLiteral("在下面输下你要的帐本名称,如:\"2004年的帐本\""));
            auto* edit = dlg->findChild<QLineEdit*>();
            QVERIFY(edit);
            QCOMPARE(edit->text(), QString());
            QCOMPARE(edit->maxLength(), 255);
            edit->insert(QString(300, QChar(u'帐')));
            QCOMPARE(edit->text().size(), 255);
            edit->setText(QStringLiteral("  2005  "));
            QTest::keyClick(edit, Qt::Key_Return); // OK is the default button
        });
        // The box hands back what was typed; trimming is the caller's business.
        QCOMPARE(p.inputText(QStringLiteral("新建帐本!"),
                             QStringLiteral("在下面输下你要的帐本名称,如:\"2004年的帐本\""), 255),
                 QStringLiteral("  2005  "));
        QVERIFY(seen);

        whenModal([](QWidget* w) {
            if (auto* edit = w->findChild<QLineEdit*>())
                edit->setText(QStringLiteral("typed"));
            QTest::keyClick(w, Qt::Key_Escape);
        });
        QCOMPARE(p.inputText(QStringLiteral("新建帐本!"), QStringLiteral("名称"), 255), QString());
    }

    // The added text box starts with its text chosen, so typing replaces it.
    void textBoxOfAdditions() {
        DialogPrompter p;
        whenModal([](QWidget* w) {
            auto* edit = w->findChild<QLineEdit*>();
            QVERIFY(edit);
            QCOMPARE(edit->text(), QStringLiteral("2026年的帐本"));
            QCOMPARE(edit->maxLength(), 255);
            QTest::keyClicks(edit, "x");
            QTest::keyClick(edit, Qt::Key_Return);
        });
        QCOMPARE(p.askText(QStringLiteral("重命名帐本!"), QStringLiteral("新名称:"), QStringLiteral("2026年的帐本"), 255),
                 QStringLiteral("x"));
    }

    // The boxes of the added commands speak Chinese and carry their window's
    // caption; the prescribed boxes above keep OK, Yes and No.
    void boxesOfAdditions_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QStringList>("buttons");
        QTest::addColumn<QString>("title");
        QTest::newRow("notice") << "notice" << QStringList{"确定"} << "帐本选择!";
        QTest::newRow("confirm") << "confirm" << QStringList{"是", "否"} << "帐本选择!";
        QTest::newRow("failure") << "failure" << QStringList{"确定"} << "报表!";
        QTest::newRow("list") << "row" << QStringList{"确定", "取消"} << "从备份恢复!";
        QTest::newRow("calendar") << "date" << QStringList{"确定", "取消"} << "修改日期!";
        QTest::newRow("text") << "text" << QStringList{"确定", "取消"} << "重命名帐本!";
    }

    void boxesOfAdditions() {
        QFETCH(QString, kind);
        QFETCH(QStringList, buttons);
        QFETCH(QString, title);
        DialogPrompter p;
        bool seen = false;
        whenModal([&](QWidget* w) {
            seen = true;
            QCOMPARE(w->windowTitle(), title);
            QStringList texts;
            for (QAbstractButton* b : w->findChildren<QAbstractButton*>())
                if (b->isVisible() && !b->text().isEmpty() && qobject_cast<QPushButton*>(b))
                    texts << b->text();
            texts.sort();
            QStringList want = buttons;
            want.sort();
            QCOMPARE(texts, want);
            if (auto* box = qobject_cast<QMessageBox*>(w)) {
                QCOMPARE(box->textFormat(), Qt::PlainText);
                QCOMPARE(box->text(), QStringLiteral("<b>要恢复吗</b>"));
                if (box->button(QMessageBox::Yes))
                    QCOMPARE(box->defaultButton(), box->button(QMessageBox::Yes));
            }
            w->close();
        });
        const QString text = QStringLiteral("<b>要恢复吗</b>");
        if (kind == "notice")
            p.notice(title, text);
        else if (kind == "confirm")
            QCOMPARE(p.confirm(title, text), false); // closed: not 是
        else if (kind == "failure")
            p.failure(title, text);
        else if (kind == "row")
            QCOMPARE(p.chooseRow(title, text, {"备份时间"}, {{"2026-12-08"}}), -1);
        else if (kind == "text")
            QCOMPARE(p.askText(title, text, "2026", 255), QString());
        else
            QVERIFY(!p.chooseDate(title, QDate(2026, 12, 8)).isValid());
        QVERIFY(seen);
    }
};

QTEST_MAIN(TestPrompter)
#include "tst_prompter.moc"
