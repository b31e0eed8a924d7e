// 年度统计… on the workspace grid's right-click menu: the year of the open
// ledger by month and by name (window ndtj), beside another ledger if wished:
// another ledger file of the folder, or, for a server ledger, one of its
// snapshots in the data folder.
#include "forms/Unit1.h"
#include "widgets/menuitem.h"

#include "widgets/guard.h"
#include "forms/lb.h"
#include "forms/ndtj.h"
#include "forms/roster.h"
#include "storage/backup.h"
#include "storage/schema.h"
#include "storage/serverbackup.h"

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
        std::vector<YearSource> others;
        if (ado1.onServer()) {
            // The chooser lists the server's ledgers, which are no files here.
            const std::vector<tsl::Snapshot> snapshots = tsl::listSnapshots(tsl::serverSnapshotKey(ado1));
            for (auto it = snapshots.rbegin(); it != snapshots.rend(); ++it)
                others.push_back({QString::fromStdString(tsl::snapshotTimeText(*it)) + QStringLiteral("的备份"), it->path});
        } else if (r_.l) {
            QStringList seen;
            for (int i = 0; i < r_.l->list1->count(); ++i) {
                const QString other = r_.l->list1->item(i)->text();
                if (other != name && !seen.contains(other)) {
                    seen << other;
                    others.push_back({other, other.toStdString() + std::string(tsl::kLedgerSuffix)});
                }
            }
        }
        if (!ndt_) {
            ndt_ = std::make_unique<Tndtj>(r_);
            ndt_->follow(this);
        }
        ndt_->showLedger(ado1, name, others);
    });
}
