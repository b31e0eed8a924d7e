#pragma once
// A roster with one ledger entered in the workspace, the way the chooser enters
// it, and raw SQL helpers to put rows into its books behind the program's back.
#include "formsfixture.h"

#include "Unit1.h"
#include "jg.h"
#include "schema.h"

#include <QApplication>
#include <QHeaderView>
#include <QStatusBar>
#include <QTableView>
#include <QTest>
#include <QToolButton>

#include <filesystem>
#include <string>
#include <vector>

namespace ledger {

inline const std::string kFile = "x.mdb";

inline std::string quote(const std::string& s) {
    std::string out = "'";
    for (char c : s) {
        if (c == '\'')
            out += '\'';
        out += c;
    }
    return out + "'";
}

inline std::string insertSql(const std::string& table, const std::vector<std::string>& values) {
    std::string sql = "INSERT INTO \"" + table + "\" VALUES (";
    for (std::size_t i = 0; i < values.size(); ++i)
        sql += (i ? ", " : "") + quote(values[i]);
    return sql + ");";
}

// Appends one row to a book; values in field order.
inline void addRow(const std::string& table, const std::vector<std::string>& values) {
    tsltest::sqlExec(kFile, insertSql(table, values));
}

inline void clear(const std::string& table) { tsltest::sqlExec(kFile, "DELETE FROM \"" + table + "\""); }

// Shipment row: name and amount matter, the rest is filler of its own.
inline void ship(const std::string& name, const std::string& amount, const std::string& kind = "开衫") {
    addRow("2", {"(1)2004-5-12", name, kind, "10", "桐乡", "314500", amount});
}
inline void buy(const std::string& source, const std::string& amount) {
    addRow("3", {"(1)2004-5-12", source, "羊毛纱", "5", amount});
}
inline void deliver(const std::string& worker, const std::string& amount) {
    addRow("4", {"(1)2004-5-12", worker, "套口", "30", amount});
}
inline void customer(const std::string& name) { addRow("1", {name, "毛衫路8号", "314500", "88881234", "13900000000"}); }

struct Fixture : FormsFixture {
    TForm1* w = nullptr;
    Tj* j = nullptr;

    // The roster is built on a fresh index; the ledger is a copy of the empty index.
    Fixture() {
        seedIndex();
        create();
        std::filesystem::copy_file(tsltest::indexTemplate(), kFile);
        w = roster->Form1.get();
        j = roster->j.get();
    }

    // What the chooser does on entering a ledger.
    void enter() {
        w->ado1.disconnect();
        w->ado1.setConnectionString(tsl::connectionString(kFile));
        w->ado1.connect();
        w->table1.close();
        w->table1.setTableName("1");
        w->table1.open();
        w->show();
    }

    QString status() const { return w->statusSummary(); }
    bool editDeleteEnabled() const {
        const bool e = w->btnedit->isEnabled();
        if (w->btndel->isEnabled() != e || w->E1->isEnabled() != e || w->D1->isEnabled() != e)
            qFatal("edit and delete commands disagree");
        return e;
    }
    int viewRow() const { return w->grid1->currentIndex().row(); }

    // A left click on a data cell of the workspace grid.
    void clickCell(int row, int col, Qt::MouseButton button = Qt::LeftButton) {
        QTableView* g = w->grid1;
        const QModelIndex i = g->model()->index(row, col);
        g->scrollTo(i);
        QTest::mouseClick(g->viewport(), button, {}, g->visualRect(i).center());
    }
};

} // namespace ledger
