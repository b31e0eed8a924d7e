// Right-click commands of the workspace grid that put mistakes right: undo the
// last delete, change the date of a row's serial stamp. And what leaving a
// ledger sets off: the undo is dropped and the ledger is backed up.
#include "forms/Unit1.h"
#include "widgets/menuitem.h"

#include "storage/connection.h"
#include "widgets/guard.h"
#include "forms/lb.h"
#include "widgets/prompter.h"
#include "forms/roster.h"
#include "storage/scan.h"
#include "storage/schema.h"
#include "storage/stamp.h"
#include "widgets/waitcursor.h"

#include <QAction>
#include <QHeaderView>
#include <QTableView>

void TForm1::installSafetyMenu() {
    undoDeleteAction =
        menuItem(grid1, "undoDeleteAction", QStringLiteral("撤销删除"), this, [this] { undoDeleteClick(); });
    changeDateAction =
        menuItem(grid1, "changeDateAction", QStringLiteral("修改日期…"), this, [this] { changeDateClick(); });
    grid1->installEventFilter(this); // its viewport's right-clicks are seen already; see eventFilter
    refreshSafetyMenu();
}

void TForm1::refreshSafetyMenu() {
    undoDeleteAction->setEnabled(lastDelete.available(ado1, table1.tableName()));
    changeDateAction->setEnabled(table1.isOpen() && tsl::bookIsNumbered(table1.tableName()) && table1.recNo() >= 0);
}

void TForm1::undoDeleteClick() {
    guarded(r_.prompter, [this] {
        refreshSafetyMenu();
        if (!undoDeleteAction->isEnabled())
            return;
        const WaitCursor wait; // a big book renumbers every row after the one put back
        const std::string book = table1.tableName();
        const int row = lastDelete.undo(ado1);
        // Read again: the row count and total change, and the grid shows the row back in its place.
        openSummed(book);
        table1.moveTo(row);
        refreshSafetyMenu();
    });
}

void TForm1::changeDateClick() {
    guarded(r_.prompter, [this] {
        refreshSafetyMenu();
        if (!changeDateAction->isEnabled())
            return;
        const std::string stamp = table1.fieldText(tsl::pos::stamp);
        const std::string pattern = r_.clock.shortDatePattern();
        const tsl::Date today = r_.clock.today();
        // Read as the year figures read it, so the calendar opens on the month the
        // row is counted under; a date no known pattern reads opens on today.
        const tsl::Date shown =
            tsl::StampDateReader(tsl::stampDatePatterns(pattern), today.year).read(stamp).value_or(today);
        const QDate picked = r_.prompter.chooseDate(QStringLiteral("修改日期!"), QDate(shown.year, shown.month, shown.day));
        if (!picked.isValid())
            return;
        const std::string changed = tsl::stampWithDate(stamp, pattern, {picked.year(), picked.month(), picked.day()});
        if (changed == stamp)
            return;
        table1.edit();
        try {
            table1.setField(tsl::field::stamp, changed);
            table1.post();
        } catch (...) {
            table1.cancel();
            throw;
        }
    });
}

void TForm1::ledgerLeft() {
    lastDelete.clear();
    refreshSafetyMenu();
    stopWatching();
    if (!r_.l)
        return;
    r_.l->serverLedgerLeft();
    std::vector<std::string> files;
    try {
        // A ledger on a server has no file here to copy.
        if (!ado1.onServer() && !ado1.connectionString().empty())
            files.push_back(tsl::Connection::dataSource(ado1.connectionString()));
    } catch (...) {
        // No ledger was ever entered.
    }
    files.emplace_back(tsl::kIndexFile);
    r_.l->autoBackup(files, ado1.onServer() ? ado1.serverLedger() : std::string());
}
