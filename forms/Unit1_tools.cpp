// The 工具 menu: every command the workspace has beyond its own menus, under
// one menu after 文件, with access keys and the keys a desktop user expects.
// Each item is the very action of the grid's right-click menu, so both run the
// same handler and are enabled together.
#include "forms/Unit1.h"

#include "forms/findbar.h"
#include "forms/shownrows.h"
#include "widgets/gridmodel.h"

#include "widgets/guard.h"
#include "forms/help.h"
#include "widgets/prompter.h"
#include "forms/roster.h"

#include <QAction>
#include <QKeyEvent>
#include <QKeySequence>
#include <QMenu>
#include <QMenuBar>
#include <QTableView>

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

    // The column titles sort the grid; the find bar filters it: one owner of both.
    auto* shown = new ShownRows(*data1, r_.prompter, this);
    shown->attachHeader(grid1->horizontalHeader());
    findBar = new FindBar(client_, *shown, r_.prompter);
    findBar->shownChanged = [this] { layoutClient(); };
    findAction = new QAction(QStringLiteral("查找(&S)…"), this);
    findAction->setObjectName(QStringLiteral("findAction"));
    findAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_F));
    connect(findAction, &QAction::triggered, this, [this] { findBar->open(); });
    findNextAction = new QAction(QStringLiteral("查找下一个(&N)"), this);
    findNextAction->setObjectName(QStringLiteral("findNextAction"));
    findNextAction->setShortcut(QKeySequence(Qt::Key_F3));
    connect(findNextAction, &QAction::triggered, this, [this] { findBar->isVisible() ? findBar->step(true) : findBar->open(); });
    findPreviousAction = new QAction(QStringLiteral("查找上一个(&R)"), this);
    findPreviousAction->setObjectName(QStringLiteral("findPreviousAction"));
    findPreviousAction->setShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F3));
    connect(findPreviousAction, &QAction::triggered, this,
            [this] { findBar->isVisible() ? findBar->step(false) : findBar->open(); });

    for (QAction* a : {findAction, findNextAction, findPreviousAction})
        grid1->addAction(a);

    // The keys work wherever the focus is in this window (not in another one).
    for (QAction* a : {yearGlanceItem, exportXlsxAction, exportCsvAction, printBookAction, pdfBookAction,
                       undoDeleteAction, changeDateAction, helpAction, findAction, findNextAction, findPreviousAction})
        a->setShortcutContext(Qt::WindowShortcut);

    T1 = new QMenu(QStringLiteral("工具(&T)"), menuBar());
    T1->setObjectName(QStringLiteral("T1"));
    T1->addAction(findAction);
    T1->addAction(findNextAction);
    T1->addAction(findPreviousAction);
    T1->addSeparator();
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
