// The 工具 menu: every command the workspace has beyond its own menus, under
// one menu after 文件, with access keys and the keys a desktop user expects.
// Each item is the very action of the grid's right-click menu, so both run the
// same handler and are enabled together.
#include "forms/Unit1.h"

#include "widgets/guard.h"
#include "forms/help.h"
#include "widgets/prompter.h"
#include "forms/roster.h"

#include <QAction>
#include <QKeyEvent>
#include <QKeySequence>
#include <QMenu>
#include <QMenuBar>

void TForm1::buildToolsMenu() {
    yearGlanceItem->setText(QStringLiteral("年度统计(&Y)…"));
    exportXlsxAction->setText(QStringLiteral("导出本表为Excel(&E)…"));
    exportXlsxAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_E));
    exportCsvAction->setText(QStringLiteral("导出本表为CSV(&C)…"));
    exportCsvAction->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_E));
    undoDeleteAction->setText(QStringLiteral("撤销删除(&U)"));
    undoDeleteAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Z));
    changeDateAction->setText(QStringLiteral("修改日期(&D)…"));
    buildPrintItems();

    helpAction = new QAction(QStringLiteral("使用帮助(&H)"), this);
    helpAction->setObjectName(QStringLiteral("helpAction"));
    helpAction->setShortcut(QKeySequence(Qt::Key_F1));
    connect(helpAction, &QAction::triggered, this, [this] { helpActionClick(); });

    // The keys work wherever the focus is in this window (not in another one).
    for (QAction* a : {yearGlanceItem, exportXlsxAction, exportCsvAction, printBookAction, pdfBookAction,
                       undoDeleteAction, changeDateAction, helpAction})
        a->setShortcutContext(Qt::WindowShortcut);

    T1 = new QMenu(QStringLiteral("工具(&T)"), menuBar());
    T1->setObjectName(QStringLiteral("T1"));
    T1->addAction(yearGlanceItem);
    T1->addSeparator();
    T1->addAction(exportXlsxAction);
    T1->addAction(exportCsvAction);
    T1->addSeparator();
    T1->addAction(printBookAction);
    T1->addAction(pdfBookAction);
    T1->addSeparator();
    T1->addAction(undoDeleteAction);
    T1->addAction(changeDateAction);
    T1->addSeparator();
    T1->addAction(helpAction);
    menuBar()->insertMenu(A2->menuAction(), T1);
    connect(T1, &QMenu::aboutToShow, this, [this] { refreshSafetyMenu(); });
}

bool TForm1::isToolKey(const QKeyEvent* e) const {
    const QKeySequence pressed(e->keyCombination());
    for (const QAction* a : {exportXlsxAction, exportCsvAction, printBookAction, pdfBookAction})
        if (a && a->shortcut() == pressed)
            return true;
    return false;
}

void TForm1::helpActionClick() {
    guarded(r_.prompter, [this] { r_.prompter.notice(windowTitle(), helpText(r_)); });
}
