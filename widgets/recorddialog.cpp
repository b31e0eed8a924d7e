#include "widgets/recorddialog.h"

#include "widgets/amountspin.h"
#include "widgets/desktop.h"
#include "widgets/windowsetup.h"
#include "widgets/prompter.h"

#include <QFrame>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace record {

bool hasRowToEdit(Prompter& prompter, const tsl::Cursor& book) {
    if (book.recNo() >= 0)
        return true;
    prompter.message(QStringLiteral("请选择要修改的对象!"));
    return false;
}

void setupDialog(QWidget& w, const char* name, const QString& caption, int clientWidth, int clientHeight) {
    w.setObjectName(QLatin1String(name));
    setupWindow(w, caption, clientWidth, clientHeight, WindowButtons::MinimiseOnly, Stacking::Owned);
    w.setWindowIcon(QIcon(dialogPicture(QLatin1String(name))));
    closeOnEscape(w);
}

namespace {

// Sees the Enter that the dialog's controls leave unused.
class EnterConfirms final : public QObject {
public:
    EnterConfirms(QWidget& dialog, QPushButton* btn) : QObject(&dialog), dialog_(dialog), btn_(btn) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched != &dialog_ || event->type() != QEvent::KeyPress)
            return false;
        const auto* k = static_cast<QKeyEvent*>(event);
        if ((k->key() != Qt::Key_Return && k->key() != Qt::Key_Enter) ||
            (k->modifiers() & ~Qt::KeypadModifier) != Qt::NoModifier)
            return false;
        auto* focused = qobject_cast<QPushButton*>(dialog_.focusWidget());
        QPushButton* pressed = focused ? focused : btn_;
        if (pressed->isEnabled() && pressed->isVisible())
            pressed->click();
        return true;
    }

private:
    QWidget& dialog_;
    QPushButton* btn_;
};

} // namespace

void confirmOnEnter(QWidget& dialog, QPushButton* btn) {
    btn->setDefault(true);
    dialog.installEventFilter(new EnterConfirms(dialog, btn));
}

void chainTabOrder(std::initializer_list<QWidget*> chain) {
    QWidget* before = nullptr;
    for (QWidget* w : chain) {
        if (before)
            QWidget::setTabOrder(before, w);
        before = w;
    }
}

QLineEdit* edit(QWidget* parent, const char* name, int x, int y, int w) {
    auto* e = new QLineEdit(parent);
    e->setObjectName(QLatin1String(name));
    e->setGeometry(x, y, w, 20);
    unlimitLength(e);
    return e;
}

DropDown* dropDown(QWidget* parent, const char* name, int x, int y, int w) {
    auto* d = new DropDown(parent);
    d->setObjectName(QLatin1String(name));
    d->setGeometry(x, y, w, 20);
    return d;
}

AmountSpin* amount(QWidget* parent, const char* name, int x, int y) {
    auto* s = new AmountSpin(parent);
    s->setObjectName(QLatin1String(name));
    s->setGeometry(x, y, 73, 21);
    s->setText(QStringLiteral("0"));
    return s;
}

QFrame* bevel(QWidget* parent, int top) {
    auto* b = new QFrame(parent);
    b->setObjectName(QStringLiteral("Bevel1"));
    b->setFrameShape(QFrame::HLine);
    b->setFrameShadow(QFrame::Sunken);
    b->setGeometry(0, top, parent->width(), 2);
    return b;
}

QLabel* image(QWidget* parent, const QString& picture, int x, int y) {
    auto* i = new QLabel(parent);
    i->setObjectName(QStringLiteral("Image1"));
    i->setGeometry(x, y, 32, 32);
    i->setPixmap(dialogPicture(picture));
    return i;
}

QPushButton* button(QWidget* parent, const char* name, const QString& caption, int x, int y) {
    auto* b = new QPushButton(caption, parent);
    b->setObjectName(QLatin1String(name));
    b->setGeometry(x, y, 57, 25);
    b->setAutoDefault(false);
    return b;
}

} // namespace record
