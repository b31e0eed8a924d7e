#include "widgets/prompter.h"

#include "widgets/windowsetup.h"
#include "widgets/waitcursor.h"

#include <algorithm>

#include <QAction>
#include <QApplication>
#include <QCalendarWidget>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QHeaderView>
#include <QLabel>
#include <QPointer>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <QInputDialog>
#include <QLineEdit>
#include <QFontMetrics>
#include <QGridLayout>
#include <QMessageBox>
#include <QSpacerItem>
#include <QPushButton>
#include <QScreen>

namespace {

// The windows that had the focus, the latest first.
QList<QPointer<QWidget>>& recentWindows() {
    static QList<QPointer<QWidget>> windows;
    return windows;
}

void followActiveWindows() {
    static const bool connected = [] {
        QObject::connect(qApp, &QApplication::focusChanged, qApp, [](QWidget*, QWidget* now) {
            if (!now)
                return;
            auto& recent = recentWindows();
            recent.removeAll(now->window());
            recent.removeAll(nullptr);
            recent.prepend(now->window());
            if (recent.size() > 8)
                recent.removeLast();
        });
        return true;
    }();
    (void)connected;
}

// The window a box belongs to: the active one, else the one that was active
// last and is still shown (a dialog has just closed and the window manager has
// not handed the focus back yet), else the visible window that stays on top,
// else any visible window. Parented, a box is stacked above it by the window
// manager and gives the focus back to it when it closes.
// Room for a caption in a title bar: the caption in a bold face a little larger
// than the program's, beside the window icon and three buttons.
int boxWidthForCaption(const QString& caption) {
    QFont f = QApplication::font();
    f.setBold(true);
    f.setPixelSize(std::max(f.pixelSize(), 13));
    const int room = QFontMetrics(f).horizontalAdvance(caption) + 120;
    const QScreen* s = QGuiApplication::primaryScreen();
    return s ? std::min(room, s->availableGeometry().width() / 2) : room;
}

QWidget* boxOwner() {
    if (QWidget* w = QApplication::activeWindow(); w && w->isVisible())
        return w;
    for (const QPointer<QWidget>& w : recentWindows())
        if (w && w->isVisible())
            return w;
    QWidget* any = nullptr;
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (!w->isVisible() || !w->isWindow() || w->windowType() == Qt::Popup || w->windowType() == Qt::ToolTip)
            continue;
        if (w->windowFlags() & Qt::WindowStaysOnTopHint)
            return w;
        if (!any)
            any = w;
    }
    return any;
}

// Runs a modal box above every window of the program (the chooser and the
// report window stay on top of the rest), then hands the focus back.
int runBox(QDialog& box, QWidget* owner, bool centre) {
    box.setWindowFlag(Qt::WindowStaysOnTopHint);
    // A message box is as wide as its text; a short text leaves no room for the
    // caption beside the title bar's icon and buttons, and the caption is cut.
    if (auto* grid = qobject_cast<QGridLayout*>(box.layout()))
        grid->addItem(new QSpacerItem(boxWidthForCaption(box.windowTitle()), 0, QSizePolicy::Fixed),
                      grid->rowCount(), 0, 1, grid->columnCount());
    box.setWindowModality(Qt::ApplicationModal);
    if (centre) {
        box.adjustSize();
        centreOnScreen(box);
    }
    const QPointer<QWidget> back(owner);
    const ArrowWhileAsking arrow;
    const int result = box.exec();
    if (back && back->isVisible()) {
        back->raise();
        back->activateWindow();
    }
    return result;
}

} // namespace

QString errorBoxText(const QString& message) {
    QString text = message;
    if (!text.isEmpty() && text.back() > QChar(u'.'))
        text += u'.';
    return text;
}

DialogPrompter::DialogPrompter() { followActiveWindows(); }

void DialogPrompter::message(const QString& text) {
    QWidget* owner = boxOwner();
    QMessageBox box(QMessageBox::NoIcon, QString::fromLatin1(kAppTitle), text, QMessageBox::Ok, owner);
    box.setTextFormat(Qt::PlainText); // a name with "<" in it is not markup
    box.button(QMessageBox::Ok)->setText(QStringLiteral("OK"));
    runBox(box, owner, true);
}

void DialogPrompter::messageWithCommands(const QString& text, const QList<BoxCommand>& commands) {
    QWidget* owner = boxOwner();
    QMessageBox box(QMessageBox::NoIcon, QString::fromLatin1(kAppTitle), text, QMessageBox::Ok, owner);
    box.setTextFormat(Qt::PlainText);
    box.button(QMessageBox::Ok)->setText(QStringLiteral("OK"));
    // Nothing is added to what the box shows: the commands wait on its
    // right-click menu and keys. The text's own menu gives way to the box's.
    box.setContextMenuPolicy(Qt::ActionsContextMenu);
    for (QLabel* label : box.findChildren<QLabel*>())
        label->setContextMenuPolicy(Qt::NoContextMenu);
    for (const BoxCommand& c : commands) {
        auto* a = new QAction(c.text, &box);
        a->setShortcut(c.key);
        a->setShortcutContext(Qt::WindowShortcut);
        QObject::connect(a, &QAction::triggered, &box, c.run);
        box.addAction(a);
    }
    runBox(box, owner, true);
}

bool DialogPrompter::askYesNo(const QString& text) {
    QWidget* owner = boxOwner();
    QMessageBox box(QMessageBox::Information, QStringLiteral("Information"), text,
                    QMessageBox::Yes | QMessageBox::No, owner);
    box.setTextFormat(Qt::PlainText);
    box.setDefaultButton(QMessageBox::Yes);
    box.setEscapeButton(QMessageBox::No);
    box.button(QMessageBox::Yes)->setText(QStringLiteral("Yes"));
    box.button(QMessageBox::No)->setText(QStringLiteral("No"));
    return runBox(box, owner, false) == QMessageBox::Yes;
}

QString DialogPrompter::inputText(const QString& caption, const QString& prompt, int maxLength) {
    QWidget* owner = boxOwner();
    QInputDialog dlg(owner);
    dlg.setInputMode(QInputDialog::TextInput);
    dlg.setWindowTitle(caption);
    dlg.setLabelText(prompt);
    dlg.setTextValue(QString());
    dlg.setOkButtonText(QStringLiteral("OK"));
    dlg.setCancelButtonText(QStringLiteral("Cancel"));
    if (auto* edit = dlg.findChild<QLineEdit*>())
        edit->setMaxLength(maxLength);
    if (runBox(dlg, owner, false) != QDialog::Accepted)
        return QString();
    return dlg.textValue();
}

QString DialogPrompter::askText(const QString& caption, const QString& prompt, const QString& initial,
                                int maxLength) {
    QWidget* owner = boxOwner();
    QInputDialog dlg(owner);
    dlg.setInputMode(QInputDialog::TextInput);
    dlg.setWindowTitle(caption);
    dlg.setLabelText(prompt);
    dlg.setTextValue(initial);
    dlg.setOkButtonText(QStringLiteral("确定"));
    dlg.setCancelButtonText(QStringLiteral("取消"));
    if (auto* edit = dlg.findChild<QLineEdit*>()) {
        edit->setMaxLength(maxLength);
        edit->selectAll();
    }
    if (runBox(dlg, owner, false) != QDialog::Accepted)
        return QString();
    return dlg.textValue();
}

void DialogPrompter::error(const QString& message) {
    QWidget* owner = boxOwner();
    QMessageBox box(QMessageBox::Critical, QString::fromLatin1(kAppTitle), errorBoxText(message),
                    QMessageBox::Ok, owner);
    box.setTextFormat(Qt::PlainText); // engine messages quote whatever text was stored
    box.button(QMessageBox::Ok)->setText(QStringLiteral("OK"));
    runBox(box, owner, false);
}

void DialogPrompter::notice(const QString& caption, const QString& text) {
    QWidget* owner = boxOwner();
    QMessageBox box(QMessageBox::NoIcon, caption, text, QMessageBox::Ok, owner);
    box.setTextFormat(Qt::PlainText);
    box.button(QMessageBox::Ok)->setText(QStringLiteral("确定"));
    runBox(box, owner, true);
}

bool DialogPrompter::confirm(const QString& caption, const QString& text) {
    QWidget* owner = boxOwner();
    QMessageBox box(QMessageBox::Question, caption, text, QMessageBox::Yes | QMessageBox::No, owner);
    box.setTextFormat(Qt::PlainText);
    box.setDefaultButton(QMessageBox::Yes);
    box.setEscapeButton(QMessageBox::No);
    box.button(QMessageBox::Yes)->setText(QStringLiteral("是"));
    box.button(QMessageBox::No)->setText(QStringLiteral("否"));
    return runBox(box, owner, true) == QMessageBox::Yes;
}

void DialogPrompter::failure(const QString& caption, const QString& message) {
    QWidget* owner = boxOwner();
    QMessageBox box(QMessageBox::Critical, caption, message, QMessageBox::Ok, owner);
    box.setTextFormat(Qt::PlainText); // a path or an engine message, never markup
    box.button(QMessageBox::Ok)->setText(QStringLiteral("确定"));
    runBox(box, owner, false);
}

QString DialogPrompter::savePath(const QString& caption, const QString& suggested, const QString& filter) {
    return QFileDialog::getSaveFileName(boxOwner(), caption, suggested, filter);
}

int Prompter::chooseRow(const QString&, const QString&, const QStringList&, const QList<QStringList>&) { return -1; }

QDate Prompter::chooseDate(const QString&, const QDate&) { return {}; }

QString Prompter::chooseFolder(const QString&) { return {}; }

namespace {

// 确定 and 取消 under a dialog's contents.
QDialogButtonBox* okCancel(QDialog& dlg) {
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dlg);
    buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("确定"));
    buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("取消"));
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dlg, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dlg, &QDialog::reject);
    return buttons;
}

} // namespace

int DialogPrompter::chooseRow(const QString& caption, const QString& prompt, const QStringList& headers,
                              const QList<QStringList>& rows) {
    QWidget* owner = boxOwner();
    QDialog dlg(owner);
    dlg.setWindowTitle(caption);
    auto* layout = new QVBoxLayout(&dlg);
    auto* label = new QLabel(prompt, &dlg);
    label->setTextFormat(Qt::PlainText);
    layout->addWidget(label);
    auto* list = new QTreeWidget(&dlg);
    list->setObjectName(QStringLiteral("rows"));
    list->setRootIsDecorated(false);
    list->setUniformRowHeights(true);
    list->setAllColumnsShowFocus(true);
    list->setHeaderLabels(headers);
    for (const QStringList& r : rows) {
        auto* item = new QTreeWidgetItem(list, r);
        for (int c = 1; c < r.size(); ++c)
            item->setTextAlignment(c, Qt::AlignRight | Qt::AlignVCenter);
    }
    list->header()->setStretchLastSection(false);
    list->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    if (!rows.isEmpty())
        list->setCurrentItem(list->topLevelItem(0));
    layout->addWidget(list);
    QDialogButtonBox* buttons = okCancel(dlg);
    layout->addWidget(buttons);
    QObject::connect(list, &QTreeWidget::itemDoubleClicked, &dlg, &QDialog::accept);
    list->setMinimumSize(480, 280);
    if (runBox(dlg, owner, true) != QDialog::Accepted || !list->currentItem())
        return -1;
    return list->indexOfTopLevelItem(list->currentItem());
}

QDate DialogPrompter::chooseDate(const QString& caption, const QDate& initial) {
    QWidget* owner = boxOwner();
    QDialog dlg(owner);
    dlg.setWindowTitle(caption);
    auto* layout = new QVBoxLayout(&dlg);
    auto* calendar = new QCalendarWidget(&dlg);
    calendar->setObjectName(QStringLiteral("calendar"));
    calendar->setGridVisible(true);
    calendar->setSelectedDate(initial);
    layout->addWidget(calendar);
    layout->addWidget(okCancel(dlg));
    QObject::connect(calendar, &QCalendarWidget::activated, &dlg, &QDialog::accept);
    if (runBox(dlg, owner, true) != QDialog::Accepted)
        return {};
    return calendar->selectedDate();
}

QString DialogPrompter::chooseFolder(const QString& caption) {
    return QFileDialog::getExistingDirectory(boxOwner(), caption, QDir::homePath());
}
