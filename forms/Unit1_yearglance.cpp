// 年度统计… on the workspace grid's right-click menu: the year of the open
// ledger by month and by name (window ndtj), beside another ledger if wished.
#include "forms/Unit1.h"
#include "widgets/menuitem.h"

#include "widgets/guard.h"
#include "forms/lb.h"
#include "forms/ndtj.h"
#include "forms/roster.h"

#include <QAction>
#include <QListWidget>
#include <QTableView>

void TForm1::buildYearGlanceItem() {
    yearGlanceItem =
        menuItem(grid1, "yearGlanceItem", QStringLiteral("年度统计…"), this, [this] { yearGlanceItemClick(); });
}

void TForm1::yearGlanceItemClick() {
    guarded(r_.prompter, [this] {
        if (!ado1.connected())
            return;
        const QString name = ledgerName();
        QStringList others;
        if (r_.l)
            for (int i = 0; i < r_.l->list1->count(); ++i) {
                const QString other = r_.l->list1->item(i)->text();
                if (other != name && !others.contains(other))
                    others << other;
            }
        if (!ndt_) {
            ndt_ = std::make_unique<Tndtj>(r_);
            ndt_->follow(this);
        }
        ndt_->showLedger(ado1, name, others);
    });
}
