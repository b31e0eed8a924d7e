#include "help.h"

#include "Unit1.h"
#include "jg.h"
#include "lb.h"
#include "roster.h"

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
    lines << QStringLiteral("帐本选择窗口: 选中一个帐本按\"进入帐本\"(或回车), \"新建帐本\"建一个新的帐本.");
    if (r.l)
        lines << QStringLiteral("  在帐本列表上按右键: ") + item(r.l->restoreAction) + QStringLiteral(", ") +
                     item(r.l->backupAllAction) + QLatin1Char('.');
    lines << QString()
          << QStringLiteral("帐本窗口: 左边是客户联系, 发货表单, 进货表单, 职工交货四个表和总体报表;")
          << QStringLiteral("  上面的按钮添加, 删除, 修改资料, 更换帐本, 关于作者;")
          << QStringLiteral("  在\"结帐条件\"里输入名字, 按\"结帐\"或回车, 列出这个人或厂家的所有记录和总金额.");
    if (r.Form1) {
        const TForm1& w = *r.Form1;
        lines << QStringLiteral("  \"工具\"菜单(Alt+T)和表格的右键菜单: ") + item(w.yearGlanceItem) + QStringLiteral(", ") +
                     item(w.exportXlsxAction) + QStringLiteral(", ") + item(w.exportCsvAction) + QStringLiteral(", ") +
                     item(w.undoDeleteAction) + QStringLiteral(", ") + item(w.changeDateAction) + QLatin1Char('.');
    }
    if (r.j)
        lines << QString() << QStringLiteral("结帐的报表窗口: 在表格上按右键: ") + item(r.j->printAction) +
                                  QStringLiteral(", ") + item(r.j->pdfAction) + QStringLiteral(", ") +
                                  item(r.j->xlsxAction) + QStringLiteral(", ") + item(r.j->csvAction) +
                                  QLatin1Char('.');
    lines << QString()
          << QStringLiteral("帐本和备份都在数据文件夹里(一般是 ~/.local/share/tessolan, 备份在其中的 backups 文件夹);")
          << QStringLiteral("离开帐本和退出程序时会自动备份.");
    return lines.join(QLatin1Char('\n'));
}
