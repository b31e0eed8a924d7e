#include "prompter.h"

#include "look.h"

#include <QApplication>
#include <QFileDialog>
#include <QPointer>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>

namespace {

// The window a box belongs to: the active one, else the visible window that
// stays on top, else any visible window. Parented, a box is stacked above it
// by the window manager and gives the focus back to it when it closes.
QWidget* boxOwner() {
    if (QWidget* w = QApplication::activeWindow(); w && w->isVisible())
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
    box.setWindowModality(Qt::ApplicationModal);
    if (centre) {
        box.adjustSize();
        centreOnScreen(box);
    }
    const QPointer<QWidget> back(owner);
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

void DialogPrompter::message(const QString& text) {
    QWidget* owner = boxOwner();
    QMessageBox box(QMessageBox::NoIcon, QString::fromLatin1(kAppTitle), text, QMessageBox::Ok, owner);
    box.setTextFormat(Qt::PlainText); // a name with "<" in it is not markup
    box.button(QMessageBox::Ok)->setText(QStringLiteral("OK"));
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

void DialogPrompter::error(const QString& message) {
    QWidget* owner = boxOwner();
    QMessageBox box(QMessageBox::Critical, QString::fromLatin1(kAppTitle), errorBoxText(message),
                    QMessageBox::Ok, owner);
    box.setTextFormat(Qt::PlainText); // engine messages quote whatever text was stored
    box.button(QMessageBox::Ok)->setText(QStringLiteral("OK"));
    runBox(box, owner, false);
}

QString DialogPrompter::savePath(const QString& caption, const QString& suggested, const QString& filter) {
    return QFileDialog::getSaveFileName(boxOwner(), caption, suggested, filter);
}
