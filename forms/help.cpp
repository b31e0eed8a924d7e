#include "forms/help.h"

#include "forms/Unit1.h"
#include "forms/jg.h"
#include "forms/lb.h"
#include "forms/roster.h"

#include <QAction>
#include <QKeySequence>
#include <QRegularExpression>

namespace {

// "年度统计…" with its key, as the user reads it in the menu: the access key's
// marker dropped, the shortcut in brackets.
QString item(const QAction* a) {
    if (!a)
        return {};
    QString text = a->text();
    text.remove(QRegularExpression(QStringLiteral("\\(&.\\)")));
    text.remove(QLatin1Char('&'));
    if (!a->shortcut().isEmpty())
        text += QLatin1Char('(') + a->shortcut().toString(QKeySequence::NativeText) + QLatin1Char(')');
    return text;
}

} // namespace

QString helpText(const Roster& r) {
    QStringList lines;
    const auto items = [&lines](std::initializer_list<const QAction*> actions) {
        for (const QAction* a : actions)
            if (a)
                lines << QStringLiteral("    ") + item(a);
    };
    lines << QStringLiteral("帐本选择窗口:")
          << QStringLiteral("  选中一个帐本, 按\"进入帐本\"(或回车); \"新建帐本\"建一个新的帐本.")
          << QStringLiteral("  帐本列表的右键菜单:");
    if (r.l)
        items({r.l->restoreAction, r.l->backupAllAction, r.l->restoreFolderAction, r.l->newFromAction,
               r.l->renameAction, r.l->deleteAction});
    lines << QStringLiteral("帐本窗口:")
          << QStringLiteral("  左边: 客户联系, 发货表单, 进货表单, 职工交货四个表和总体报表.")
          << QStringLiteral("  上面: 添加, 删除, 修改资料, 更换帐本, 关于作者.")
          << QStringLiteral("  结帐: 在\"结帐条件\"里输入名字, 按\"结帐\"或回车.")
          << QStringLiteral("  \"工具\"菜单(Alt+T), 也在表格的右键菜单里:");
    if (r.Form1)
        items({r.Form1->yearGlanceItem, r.Form1->exportXlsxAction, r.Form1->exportCsvAction,
               r.Form1->printBookAction, r.Form1->pdfBookAction, r.Form1->undoDeleteAction,
               r.Form1->changeDateAction});
    lines << QStringLiteral("  总体报表: 在它的消息框上按 Ctrl+P 打印, 或右键选\"打印…\"\"导出PDF…\".");
    lines << QStringLiteral("结帐的报表窗口, 表格的右键菜单:");
    if (r.j)
        items({r.j->printAction, r.j->pdfAction, r.j->xlsxAction, r.j->csvAction});
    lines << QStringLiteral("帐本和备份都在数据文件夹里(一般是 ~/.local/share/tessolan,")
          << QStringLiteral("备份在其中的 backups 文件夹); 离开帐本和退出程序时自动备份.");
    return lines.join(QLatin1Char('\n'));
}
