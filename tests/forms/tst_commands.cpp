// The workspace's add, edit and delete commands, with a ledger open.
#include "Unit1.h"
#include "amountspin.h"
#include "fhbd.h"
#include "formsfixture.h"
#include "jhbd.h"
#include "khlx.h"
#include "schema.h"
#include "zgjh.h"

#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <sqlite3.h>

#include <filesystem>

namespace {

QStringList toList(const std::vector<std::string>& v) {
    QStringList out;
    for (const auto& s : v)
        out << QString::fromStdString(s);
    return out;
}

std::string ident(std::string_view name) { return "\"" + std::string(name) + "\""; }

// A roster with a fresh ledger "L.mdb" open in the workspace.
struct Desk {
    explicit Desk(std::string_view view) {
        fx.seedIndex();
        r = &fx.create();
        std::filesystem::copy_file(tsltest::indexTemplate(), "L.mdb");
        f = r->Form1.get();
        f->ado1.setConnectionString(tsl::connectionString("L.mdb"));
        f->ado1.connect();
        show(view);
        fx.prompter.take();
    }
    void show(std::string_view view) {
        f->table1.close();
        f->table1.setTableName(std::string(view));
        f->table1.open();
    }
    void sql(const std::string& s) { tsltest::sqlExec("L.mdb", s); }
    void addRow(std::string_view table, const QStringList& values) {
        std::string v;
        for (const auto& x : values)
            v += (v.empty() ? "'" : ",'") + x.toStdString() + "'";
        sql("INSERT INTO " + ident(table) + " VALUES (" + v + ")");
    }
    // A book of rows whose last field is the amount 1 and whose other fields are the given stamp.
    void addStamped(std::string_view book, const QStringList& stamps) {
        const int width = int(tsl::findTable(book)->fields.size());
        for (const auto& s : stamps) {
            QStringList v(width - 1, s);
            addRow(book, v << "1");
        }
    }
    QStringList column(std::string_view table, std::string_view field = {}) {
        const std::string col = field.empty() ? std::string(tsl::findTable(table)->fields[0]) : std::string(field);
        return toList(tsltest::sqlColumn("L.mdb", "SELECT ifnull(" + ident(col) + ",'') FROM " + ident(table) +
                                                      " ORDER BY rowid"));
    }
    QStringList boxes() { return fx.prompter.take(); }

    FormsFixture fx;
    Roster* r = nullptr;
    TForm1* f = nullptr;
};

QStringList entries(const DropDown* d) {
    QStringList out;
    for (int i = 0; i < d->count(); ++i)
        out << d->itemText(i);
    return out;
}

// The dialog a movement book's add command fills, with its name and kind boxes.
struct Target {
    QWidget* win;
    DropDown* name;
    DropDown* kind;
    QPushButton* btn;
    std::string_view nameList;
    std::string_view kindList;
};

Target targetFor(Roster& r, const QString& view) {
    if (view == "2")
        return {r.fhb.get(), r.fhb->edname, r.fhb->edzl, r.fhb->btn, tsl::table::customerNames,
                tsl::table::garmentKinds};
    if (view == "3")
        return {r.jhb.get(), r.jhb->edly, r.jhb->edzl, r.jhb->btn, tsl::table::purchaseSources,
                tsl::table::purchaseKinds};
    return {r.zgj.get(), r.zgj->edname, r.zgj->edzl, r.zgj->btn, tsl::table::workerNames, tsl::table::workKinds};
}

void movementViews() {
    QTest::addColumn<QString>("view");
    QTest::newRow("shipments") << "2";
    QTest::newRow("purchases") << "3";
    QTest::newRow("deliveries") << "4";
}

int commits = 0;
int countCommit(void*) {
    ++commits;
    return 0;
}

} // namespace

class TestCommands : public QObject {
    Q_OBJECT

private slots:
    void addFillsListsInStoredOrderAndSelectsFirst_data() { movementViews(); }
    void addFillsListsInStoredOrderAndSelectsFirst() {
        QFETCH(QString, view);
        Desk d(view.toStdString());
        Target t = targetFor(*d.r, view);
        for (const char* e : {"乙", "甲", "乙"})
            d.addRow(t.nameList, {e});
        d.addRow(t.kindList, {"k"});
        d.f->btnaddClick();
        QCOMPARE(d.boxes(), QStringList());
        QVERIFY(t.win->isVisible());
        QCOMPARE(t.btn->text(), QStringLiteral("添加"));
        QCOMPARE(entries(t.name), (QStringList{"乙", "甲", "乙"}));
        QCOMPARE(entries(t.kind), QStringList{"k"});
        QCOMPARE(t.name->currentIndex(), 0);
        QCOMPARE(t.name->text(), QStringLiteral("乙"));
        QCOMPARE(t.kind->text(), QStringLiteral("k"));
    }

    void addWithEmptyListSelectsNothing_data() { movementViews(); }
    void addWithEmptyListSelectsNothing() {
        QFETCH(QString, view);
        Desk d(view.toStdString());
        Target t = targetFor(*d.r, view);
        d.addRow(t.kindList, {"k"});
        d.f->btnaddClick();
        QCOMPARE(t.name->count(), 0);
        QCOMPARE(t.name->currentIndex(), -1);
        QCOMPARE(t.name->text(), QString());
        QCOMPARE(t.kind->text(), QStringLiteral("k"));
    }

    // The command appends and never clears: a second add while the dialog is open lists everything twice.
    void addTwiceWhileOpenListsTwice_data() { movementViews(); }
    void addTwiceWhileOpenListsTwice() {
        QFETCH(QString, view);
        Desk d(view.toStdString());
        Target t = targetFor(*d.r, view);
        d.addRow(t.nameList, {"a"});
        d.addRow(t.nameList, {"b"});
        d.addRow(t.kindList, {"k"});
        d.f->btnaddClick();
        t.name->setCurrentIndex(1);
        t.kind->setText("typed");
        d.f->btnaddClick();
        QCOMPARE(entries(t.name), (QStringList{"a", "b", "a", "b"}));
        QCOMPARE(entries(t.kind), (QStringList{"k", "k"}));
        QCOMPARE(t.name->text(), QStringLiteral("a"));
        QCOMPARE(t.kind->text(), QStringLiteral("k"));
        // Closed and opened again: each entry once.
        t.win->close();
        d.f->btnaddClick();
        QCOMPARE(entries(t.name), (QStringList{"a", "b"}));
    }

    void addOverAnOpenEditSwitchesToAddMode() {
        Desk d(tsl::table::purchases);
        d.addRow(tsl::table::purchases, {"(1)x", "源", "种", "3", "40"});
        d.addRow(tsl::table::purchaseSources, {"列源"});
        d.show(tsl::table::purchases);
        Tjhb& j = *d.r->jhb;
        d.f->btneditClick();
        QCOMPARE(j.edly->count(), 0);
        d.f->btnaddClick();
        QCOMPARE(j.btn->text(), QStringLiteral("添加"));
        QCOMPARE(j.edly->text(), QStringLiteral("列源"));
        QCOMPARE(j.edzl->text(), QStringLiteral("种")); // empty list: the edited text stays
        QCOMPARE(j.edsm->text(), QStringLiteral("3"));
        QCOMPARE(j.edje->text(), QStringLiteral("40"));
    }

    void addOnCustomersShowsContactDialog() {
        Desk d(tsl::table::customers);
        Tkhl& k = *d.r->khl;
        k.btn->setText("修改");
        d.f->btnaddClick();
        QVERIFY(k.isVisible());
        QCOMPARE(k.btn->text(), QStringLiteral("添加"));
        QCOMPARE(k.edname->text(), QString());
    }

    void addWithMissingListReportsAndShowsNothing() {
        Desk d(tsl::table::shipments);
        d.f->ado1.disconnect();
        d.sql("DROP TABLE \"temp5\"");
        d.f->ado1.connect();
        d.show(tsl::table::shipments);
        d.addRow(tsl::table::customerNames, {"n"});
        d.f->btnaddClick();
        const QStringList shown = d.boxes();
        QCOMPARE(shown.size(), 1);
        QVERIFY2(shown[0].contains("temp5"), qPrintable(shown[0]));
        QVERIFY(!d.r->fhb->isVisible());
        QCOMPARE(entries(d.r->fhb->edname), QStringList{"n"}); // what was filled stays until the next close
    }

    void editCopiesCurrentRow() {
        Desk d(tsl::table::customers);
        d.addRow(tsl::table::customers, {"甲", "地址甲", "1", "2", "3"});
        d.addRow(tsl::table::customers, {"乙", "地址乙", "4", "5", "6"});
        d.show(tsl::table::customers);
        d.f->table1.moveTo(1);
        Tkhl& k = *d.r->khl;
        d.f->btneditClick();
        QVERIFY(k.isVisible());
        QCOMPARE(k.btn->text(), QStringLiteral("修改"));
        QCOMPARE((QStringList{k.edname->text(), k.edadd->text(), k.edyb->text(), k.eddh->text(), k.edsj->text()}),
                 (QStringList{"乙", "地址乙", "4", "5", "6"}));

        d.addRow(tsl::table::shipments, {"(1)s", "客", "种", "2", "地", "邮", "9"});
        d.show(tsl::table::shipments);
        Tfhb& s = *d.r->fhb;
        d.f->btneditClick();
        QCOMPARE(s.btn->text(), QStringLiteral("修改"));
        QCOMPARE((QStringList{s.edname->text(), s.edzl->text(), s.edsm->text(), s.edadd->text(), s.edyb->text(),
                              s.edje->text()}),
                 (QStringList{"客", "种", "2", "地", "邮", "9"}));
        QCOMPARE(s.edname->count(), 0);

        d.addRow(tsl::table::purchases, {"(1)p", "源", "货", "7", "8"});
        d.show(tsl::table::purchases);
        Tjhb& j = *d.r->jhb;
        d.f->btneditClick();
        QCOMPARE((QStringList{j.edly->text(), j.edzl->text(), j.edsm->text(), j.edje->text()}),
                 (QStringList{"源", "货", "7", "8"}));

        d.addRow(tsl::table::deliveries, {"(1)d", "工", "套口", "5", "6"});
        d.show(tsl::table::deliveries);
        Tzgj& z = *d.r->zgj;
        d.f->btneditClick();
        QCOMPARE(z.btn->text(), QStringLiteral("修改"));
        QCOMPARE((QStringList{z.edname->text(), z.edzl->text(), z.edsm->text(), z.edje->text()}),
                 (QStringList{"工", "套口", "5", "6"}));
        QCOMPARE(d.boxes(), QStringList());
    }

    void editOnEmptyBookOpensEmpty() {
        Desk d(tsl::table::purchases);
        Tjhb& j = *d.r->jhb;
        d.f->btneditClick();
        QVERIFY(j.isVisible());
        QCOMPARE(j.btn->text(), QStringLiteral("修改"));
        QCOMPARE(j.edly->text(), QString());
        QCOMPARE(j.edsm->text(), QString());
        QCOMPARE(j.edje->text(), QString());
    }

    void deleteOnEmptyBook() {
        Desk d(tsl::table::shipments);
        d.f->btndelClick();
        QCOMPARE(d.boxes(), QStringList{"请选择要删除的对象!"});
    }

    void deleteAnsweredNoChangesNothing() {
        Desk d(tsl::table::purchases);
        d.addStamped(tsl::table::purchases, {"(5)a", "(7)b"});
        d.show(tsl::table::purchases);
        d.fx.prompter.yesNoAnswers = {false};
        d.f->btndelClick();
        QCOMPARE(d.boxes(), QStringList{"真的要删除该资料吗!"});
        QCOMPARE(d.column(tsl::table::purchases), (QStringList{"(5)a", "(7)b"}));
    }

    void deleteRenumbersTheRest_data() { movementViews(); }
    void deleteRenumbersTheRest() {
        QFETCH(QString, view);
        const std::string book = view.toStdString();
        Desk d(book);
        d.addStamped(book, {"(1)2004-5-10", "(2)2004-5-11", "(3)2004-5-12"});
        d.show(book);
        d.f->table1.moveTo(1);
        d.fx.prompter.yesNoAnswers = {true};
        d.f->btndelClick();
        QCOMPARE(d.boxes(), QStringList{"真的要删除该资料吗!"});
        QCOMPARE(d.column(book), (QStringList{"(1)2004-5-10", "(2)2004-5-12"}));
        // The other fields are left as they were.
        QCOMPARE(d.column(book, tsl::findTable(book)->fields[1]), (QStringList{"(1)2004-5-10", "(3)2004-5-12"}));
        QCOMPARE(d.f->table1.recNo(), 2); // the last row is current afterwards
    }

    void renumberingRewritesUpToTheFirstParenthesis() {
        Desk d(tsl::table::deliveries);
        d.addStamped(tsl::table::deliveries,
                     {"(1)gone", ")x", "(12)", "no stamp", "", "(9)a)b", "abc)d", "(5)z"});
        d.show(tsl::table::deliveries);
        d.fx.prompter.yesNoAnswers = {true};
        d.f->btndelClick();
        QCOMPARE(d.column(tsl::table::deliveries),
                 (QStringList{"(1)x", "(2)", "no stamp", "", "(5)a)b", "(6)d", "(7)z"}));
    }

    void deleteCustomerTouchesNoOtherRow() {
        Desk d(tsl::table::customers);
        d.addRow(tsl::table::customers, {"(1)a", "x", "", "", ""});
        d.addRow(tsl::table::customers, {"(2)b", "y", "", "", ""});
        d.addRow(tsl::table::customers, {"(3)c", "z", "", "", ""});
        d.show(tsl::table::customers);
        d.f->table1.moveTo(0);
        d.fx.prompter.yesNoAnswers = {true};
        d.f->btndelClick();
        QCOMPARE(d.column(tsl::table::customers), (QStringList{"(2)b", "(3)c"}));
        QCOMPARE(d.f->table1.recNo(), 1); // the row that followed
    }

    void deleteOnlyRowThenAgain() {
        Desk d(tsl::table::shipments);
        d.addStamped(tsl::table::shipments, {"(1)a"});
        d.show(tsl::table::shipments);
        d.fx.prompter.yesNoAnswers = {true, true};
        d.f->btndelClick();
        QCOMPARE(d.column(tsl::table::shipments), QStringList());
        d.boxes();
        d.f->btndelClick();
        QCOMPARE(d.boxes(), QStringList{"请选择要删除的对象!"});
    }

    // One transaction for the whole renumbering, not one commit per row.
    void renumberingCommitsOnce() {
        Desk d(tsl::table::purchases);
        QStringList stamps;
        for (int i = 1; i <= 50; ++i)
            stamps << QString("(%1)d").arg(i);
        d.addStamped(tsl::table::purchases, stamps);
        d.show(tsl::table::purchases);
        d.fx.prompter.yesNoAnswers = {true};
        commits = 0;
        sqlite3_commit_hook(d.f->ado1.handle(), countCommit, nullptr);
        d.f->btndelClick();
        sqlite3_commit_hook(d.f->ado1.handle(), nullptr, nullptr);
        QVERIFY2(commits <= 2, qPrintable(QString::number(commits))); // the removal's own, then the renumbering
        QCOMPARE(d.column(tsl::table::purchases).last(), QStringLiteral("(49)d"));
    }

    void renumberingFailureKeepsRowsDoneBefore() {
        Desk d(tsl::table::purchases);
        d.addStamped(tsl::table::purchases, {"(1)a", "(2)b", "(3)c", "(4)d", "(5)e"});
        d.f->ado1.disconnect();
        d.sql("CREATE TRIGGER refuse BEFORE UPDATE ON \"3\" WHEN NEW.\"日期\" = '(3)d' "
              "BEGIN SELECT RAISE(ABORT, 'refused by trigger'); END;");
        d.f->ado1.connect();
        d.show(tsl::table::purchases);
        d.fx.prompter.yesNoAnswers = {true};
        d.f->btndelClick();
        const QStringList shown = d.boxes();
        QCOMPARE(shown.size(), 2);
        QVERIFY2(shown[1].contains("refused by trigger"), qPrintable(shown[1]));
        QCOMPARE(d.column(tsl::table::purchases), (QStringList{"(1)b", "(2)c", "(4)d", "(5)e"}));
        QVERIFY(!d.f->table1.pending());
        QVERIFY(sqlite3_get_autocommit(d.f->ado1.handle()) != 0); // no transaction left open
        d.sql("INSERT INTO \"3\" VALUES ('(5)f','','','','1')"); // the file is not locked
    }
};

QTEST_MAIN(TestCommands)
#include "tst_commands.moc"
