#include "prompter.h"

#include <QApplication>
#include <QGuiApplication>
#include <QFileDialog>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>

namespace {

void centreOnScreen(QWidget& w) {
    w.adjustSize();
    if (QScreen* s = QGuiApplication::primaryScreen()) {
        QRect r = w.frameGeometry();
        r.moveCenter(s->availableGeometry().center());
        w.move(r.topLeft());
    }
}

} // namespace

QString errorBoxText(const QString& message) {
    QString text = message;
    if (!text.isEmpty() && text.back() > QChar(u'.'))
        text += u'.';
    return text;
}

void DialogPrompter::message(const QString& text) {
    QMessageBox box(QMessageBox::NoIcon, QString::fromLatin1(kAppTitle), text, QMessageBox::Ok);
    box.setTextFormat(Qt::PlainText); // a name with "<" in it is not markup
    box.button(QMessageBox::Ok)->setText(QStringLiteral("OK"));
    centreOnScreen(box);
    box.exec();
}

bool DialogPrompter::askYesNo(const QString& text) {
    QMessageBox box(QMessageBox::Information, QStringLiteral("Information"), text,
                    QMessageBox::Yes | QMessageBox::No);
    box.setTextFormat(Qt::PlainText);
    box.setDefaultButton(QMessageBox::Yes);
    box.setEscapeButton(QMessageBox::No);
    box.button(QMessageBox::Yes)->setText(QStringLiteral("Yes"));
    box.button(QMessageBox::No)->setText(QStringLiteral("No"));
    return box.exec() == QMessageBox::Yes;
}

QString DialogPrompter::inputText(const QString& caption, const QString& prompt, int maxLength) {
    QInputDialog dlg;
    dlg.setInputMode(QInputDialog::TextInput);
    dlg.setWindowTitle(caption);
    dlg.setLabelText(prompt);
    dlg.setTextValue(QString());
    dlg.setOkButtonText(QStringLiteral("OK"));
    dlg.setCancelButtonText(QStringLiteral("Cancel"));
    if (auto* edit = dlg.findChild<QLineEdit*>())
        edit->setMaxLength(maxLength);
    if (dlg.exec() != QDialog::Accepted)
        return QString();
    return dlg.textValue();
}

void DialogPrompter::error(const QString& message) {
    QMessageBox box(QMessageBox::Critical, QString::fromLatin1(kAppTitle), errorBoxText(message),
                    QMessageBox::Ok);
    box.setTextFormat(Qt::PlainText); // engine messages quote whatever text was stored
    box.button(QMessageBox::Ok)->setText(QStringLiteral("OK"));
    box.exec();
}

QString DialogPrompter::savePath(const QString& caption, const QString& suggested, const QString& filter) {
    return QFileDialog::getSaveFileName(QApplication::activeWindow(), caption, suggested, filter);
}
