#include "widgets/desktop.h"

#include <QKeySequence>
#include <QPoint>
#include <QShortcut>
#include <QTextDocument>
#include <QToolTip>
#include <QWidget>

void closeOnEscape(QWidget& window) {
    auto* esc = new QShortcut(QKeySequence(Qt::Key_Escape), &window);
    esc->setObjectName(QStringLiteral("closeOnEscape"));
    esc->setContext(Qt::WindowShortcut);
    QObject::connect(esc, &QShortcut::activated, &window, [w = &window] { w->close(); });
}

QWidget* firstInTabOrder(QWidget& window, bool inputOnly) {
    // The edit box inside a drop-down or spin box is reached through its owner.
    auto inner = [&window](const QWidget* w) {
        for (const QWidget* p = w->parentWidget(); p && p != &window; p = p->parentWidget())
            if (p->inherits("QComboBox") || p->inherits("QAbstractSpinBox"))
                return true;
        return false;
    };
    for (QWidget* w = window.nextInFocusChain(); w && w != &window; w = w->nextInFocusChain()) {
        if ((w->focusPolicy() & Qt::TabFocus) && w->isEnabled() && w->isVisibleTo(&window) &&
            w->window() == &window && !inner(w) && !(inputOnly && w->inherits("QAbstractButton")))
            return w;
    }
    return nullptr;
}

void focusFirstInput(QWidget& window) {
    QWidget* w = firstInTabOrder(window, true);
    if (!w)
        w = firstInTabOrder(window);
    if (w)
        w->setFocus(Qt::TabFocusReason);
}

QString plainTipText(const QString& plain) {
    // Without this Qt guesses: text that looks like HTML loses its tags and line feeds.
    return Qt::convertFromPlainText(plain, Qt::WhiteSpacePre);
}

void showPlainToolTip(const QPoint& globalPos, const QString& text, QWidget* owner) {
    if (text.isEmpty())
        QToolTip::hideText();
    else
        QToolTip::showText(globalPos, plainTipText(text), owner);
}
