#pragma once
// A roster with one ledger entered in the workspace, the way the chooser enters
// it, and raw SQL helpers to put rows into its books behind the program's back.
#include "tests/forms/formsfixture.h"

#include "forms/Unit1.h"
#include "forms/jg.h"
#include "storage/schema.h"

#include <QApplication>
#include <QHeaderView>
#include <QRegularExpression>
#include <QStatusBar>
#include <QTableView>
#include <QTest>
#include <QToolButton>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace ledger {

inline const std::string kFile = "x.mdb";

inline std::string quote(const std::string& s) { return tsltest::sqlQuote(s); }

inline std::string insertSql(const std::string& table, const std::vector<std::string>& values) {
    std::string sql = "INSERT INTO \"" + table + "\" VALUES (";
    for (std::size_t i = 0; i < values.size(); ++i)
        sql += (i ? ", " : "") + quote(values[i]);
    return sql + ");";
}

// SQL on the ledger file from outside the program. QtTest lets an exception end the
// whole test program, so a failing statement fails the one test instead.
inline void execSql(const std::string& sql) {
    try {
        tsltest::sqlExec(kFile, sql);
    } catch (const std::exception& e) {
        QTest::qFail(e.what(), __FILE__, __LINE__);
    }
}
inline std::vector<std::string> querySql(const std::string& sql) {
    try {
        return tsltest::sqlColumn(kFile, sql);
    } catch (const std::exception& e) {
        QTest::qFail(e.what(), __FILE__, __LINE__);
        return {};
    }
}

// Appends one row to a book; values in field order.
inline void addRow(const std::string& table, const std::vector<std::string>& values) {
    execSql(insertSql(table, values));
}

inline void clear(const std::string& table) { execSql("DELETE FROM \"" + table + "\""); }

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

inline std::string ident(std::string_view name) { return "\"" + std::string(name) + "\""; }

inline QStringList toList(const std::vector<std::string>& v) {
    QStringList out;
    for (const auto& s : v)
        out << QString::fromStdString(s);
    return out;
}

// Appends one row of texts to a book or list.
inline void insert(std::string_view table, const QStringList& values) {
    std::vector<std::string> v;
    for (const auto& x : values)
        v.push_back(x.toStdString());
    execSql(insertSql(std::string(table), v));
}
// Rows whose every field is the stamp but the last, the amount "1".
inline void insertStamped(std::string_view book, const QStringList& stamps) {
    const auto width = tsl::findTable(book)->fields.size();
    for (const auto& s : stamps)
        insert(book, QStringList(qsizetype(width - 1), s) << "1");
}
// Every row of a book, its fields joined by "|", in stored order.
inline QStringList rows(std::string_view book) {
    std::string expr;
    for (auto field : tsl::findTable(book)->fields)
        expr += (expr.empty() ? "" : "||'|'||") + ("ifnull(" + ident(field) + ",'')");
    return toList(querySql("SELECT " + expr + " FROM " + ident(book) + " ORDER BY rowid"));
}
// One field of every row (the first field when none is named).
inline QStringList column(std::string_view table, std::string_view field = {}) {
    const std::string f(field.empty() ? tsl::findTable(table)->fields[0] : field);
    return toList(
        querySql("SELECT ifnull(" + ident(f) + ",'') FROM " + ident(table) + " ORDER BY rowid"));
}

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
    // The ledger opened on a book in the hidden workspace, boxes so far forgotten.
    explicit Fixture(std::string_view book) : Fixture() {
        w->ado1.setConnectionString(tsl::connectionString(kFile));
        w->ado1.connect();
        open(book);
        prompter.boxes.clear();
    }

    // Shows a book the way the book buttons do, without summing it.
    void open(std::string_view book) {
        w->table1.close();
        w->table1.setTableName(std::string(book));
        w->table1.open();
    }
    // Changes the file's tables; reconnects, so the workspace sees the new shape.
    void reshape(const std::string& sql) {
        w->ado1.disconnect();
        execSql(sql);
        w->ado1.connect();
    }
    QStringList boxes() { return prompter.take(); }

    // Rebuilds a book with only a stand-in column, then runs the confirm again and
    // again, each time adding back the field that the error box named: the fields
    // come back in the order in which the confirm writes them.
    QStringList writeOrder(std::string_view book, bool withRow, const std::function<void()>& confirm) {
        reshape("DROP TABLE " + ident(book) + "; CREATE TABLE " + ident(book) + " (\"stand_in\" TEXT);");
        if (withRow)
            execSql("INSERT INTO " + ident(book) + " VALUES ('x')");
        QStringList order;
        const QRegularExpression named(QStringLiteral("\"([^\"]+)\""));
        for (int guard = 0; guard < 12; ++guard) {
            open(book);
            boxes(); // the workspace's own complaints about the stand-in book
            confirm();
            const QStringList shown = boxes();
            if (shown.isEmpty())
                break;
            const auto m = named.match(shown.last());
            if (!m.hasMatch() || order.contains(m.captured(1)))
                return order << ("unexpected: " + shown.join('/'));
            order << m.captured(1);
            reshape("ALTER TABLE " + ident(book) + " ADD COLUMN " + ident(m.captured(1).toStdString()) + " TEXT");
        }
        return order;
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
            QTest::qFail("edit and delete commands disagree", __FILE__, __LINE__); // this test only, not the program
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
