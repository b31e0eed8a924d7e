#pragma once
#include <QAction>
#include <QString>
#include <QWidget>

#include <utility>

// An item of a widget's right-click menu (the widget's list of actions), named
// so tests and tools find it; `run` is called in `context` when it is chosen.
template <class F>
QAction* menuItem(QWidget* owner, const char* name, const QString& text, QObject* context, F&& run) {
    owner->setContextMenuPolicy(Qt::ActionsContextMenu);
    auto* a = new QAction(text, owner);
    a->setObjectName(QLatin1String(name));
    owner->addAction(a);
    QObject::connect(a, &QAction::triggered, context, std::forward<F>(run));
    return a;
}
