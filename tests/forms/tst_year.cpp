// A year in the workshop, end to end: the program started in a folder holding
// only the shipped index, used through its windows the way a person uses it
// (clicks, typing, answering the boxes), closed, started again. Every check
// reads what the user sees: list lines, captions, grid cells, the status bar,
// the report window and the texts of the boxes.
#include "tests/forms/formsfixture.h"

#include "forms/Unit1.h"
#include "widgets/amountspin.h"
#include "forms/fhbd.h"
#include "storage/fileops.h"
#include "forms/jg.h"
#include "forms/jhbd.h"
#include "forms/khlx.h"
#include "forms/lb.h"
#include "forms/zgjh.h"

#include <QAbstractItemView>
#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTableView>
#include <QTest>
#include <QToolButton>

#include <memory>

namespace {

const QString kLedger = QStringLiteral("2004年的帐本");
const QString kLedger2 = QStringLiteral("2005年的帐本");
const QString kNewPrompt = QStringLiteral("在下面输下你要的帐本名称,如:\"2004年的帐本\"");
const QString kCreated = QStringLiteral("帐本创建成功!");
const QString kAskDelete = QStringLiteral("真的要删除该资料吗!");
const QString kNoMatch = QStringLiteral("没有符合结帐条件的人或厂家!");

// The two customer addresses the shipment dialog fills in by itself.
const QString kZhangAddr = QStringLiteral("浙江省桐乡市濮院镇毛衫城8号");
const QString kLiAddr = QStringLiteral("上海市虹口区四川北路100号");

void click(QWidget* w) { QTest::mouseClick(w, Qt::LeftButton); }

// Replaces a box's text as a person does: select everything, type over it.
void retype(QWidget* box, const QString& text) {
    QTest::keyClick(box, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(box, Qt::Key_Delete);
    typeText(box, text);
}
void retypeAscii(QWidget* box, const QString& text) {
    QTest::keyClick(box, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(box, Qt::Key_Delete);
    QTest::keyClicks(box, text);
}

// Opens a drop-down's list with F4 and clicks the entry.
void pick(DropDown* box, const QString& entry) {
    const int i = box->findText(entry, Qt::MatchExactly | Qt::MatchCaseSensitive);
    QVERIFY2(i >= 0, qPrintable(entry));
    QTest::keyClick(box, Qt::Key_F4);
    QAbstractItemView* v = box->view();
    QVERIFY(v->isVisible());
    const QPoint at = v->visualRect(v->model()->index(i, 0)).center();
    QTest::mouseMove(v->viewport(), at);
    QTest::mouseClick(v->viewport(), Qt::LeftButton, {}, at);
    QVERIFY(!v->isVisible());
}

QStringList entries(const DropDown* box) {
    QStringList out;
    for (int i = 0; i < box->count(); ++i)
        out << box->itemText(i);
    return out;
}

// One session of the program, from start to close.
struct Desk {
    FormsFixture& f;
    Tl& l() { return *f.roster->l; }
    TForm1& w() { return *f.roster->Form1; }
    Tj& j() { return *f.roster->j; }
    Tkhl& khl() { return *f.roster->khl; }
    Tfhb& fhb() { return *f.roster->fhb; }
    Tjhb& jhb() { return *f.roster->jhb; }
    Tzgj& zgj() { return *f.roster->zgj; }

    // Every box shown since the last look, in order.
    QStringList boxes() { return f.prompter.take(); }

    QStringList ledgers() {
        QStringList out;
        for (int i = 0; i < l().list1->count(); ++i)
            out << l().list1->item(i)->text();
        return out;
    }
    void chooseLedger(const QString& name) {
        const auto found = l().list1->findItems(name, Qt::MatchExactly);
        QVERIFY2(found.size() == 1, qPrintable(name));
        QListWidget* list = l().list1;
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(found.front()).center());
        QCOMPARE(list->selectedItems(), found);
        click(l().BitBtn1);
    }
    QStringList createLedger(const QString& name) {
        f.prompter.inputAnswers.push_back(name);
        click(l().BitBtn2);
        return boxes();
    }

    QString status() { return w().barPanel->text(); }

    // The lines of the workspace grid, cells joined by "|". An empty book shows
    // one blank line; it is left out.
    QStringList gridRows() {
        const QAbstractItemModel* m = w().grid1->model();
        QStringList out;
        for (int r = 0; r < m->rowCount(); ++r) {
            QStringList cells;
            for (int c = 0; c < m->columnCount(); ++c)
                cells << m->index(r, c).data().toString();
            out << cells.join(u'|');
        }
        if (out.size() == 1 && out.front() == QString(m->columnCount() - 1, u'|'))
            out.clear();
        return out;
    }
    QString gridHeader() {
        const QAbstractItemModel* m = w().grid1->model();
        QStringList names;
        for (int c = 0; c < m->columnCount(); ++c)
            names << m->headerData(c, Qt::Horizontal).toString();
        return names.join(u'|');
    }
    void clickRow(int row) {
        QTableView* g = w().grid1;
        const QModelIndex i = g->model()->index(row, 1);
        g->scrollTo(i);
        QTest::mouseClick(g->viewport(), Qt::LeftButton, {}, g->visualRect(i).center());
        QCOMPARE(g->currentIndex().row(), row);
    }

    QStringList addCustomer(const QString& name, const QString& address, const QString& postcode,
                            const QString& phone, const QString& mobile) {
        click(w().btnadd);
        if (!khl().isVisible() || khl().btn->text() != QStringLiteral("添加"))
            return {QStringLiteral("<customer dialog not open for adding>")};
        typeText(khl().edname, name);
        typeText(khl().edadd, address);
        QTest::keyClicks(khl().edyb, postcode);
        QTest::keyClicks(khl().eddh, phone);
        QTest::keyClicks(khl().edsj, mobile);
        click(khl().btn);
        return boxes();
    }

    // Each movement add opens the book's dialog, checks it is in add mode and
    // leaves the name and kind to the caller (typed or picked), then fills the
    // numbers and confirms. Returns the boxes shown on the way.
    template <class Dialog, class Fill>
    QStringList addMovement(Dialog& d, Fill&& fill, const QString& quantity, const QString& amount) {
        click(w().btnadd);
        if (!d.isVisible() || d.btn->text() != QStringLiteral("添加"))
            return {QStringLiteral("<dialog not open for adding>")};
        fill(d);
        retypeAscii(d.edsm, quantity);
        retypeAscii(d.edje, amount);
        click(d.btn);
        if (d.isVisible())
            return boxes() << QStringLiteral("<dialog still open>");
        return boxes();
    }

    QString settle(const QString& name) {
        retype(w().edjz, name);
        QTest::keyClick(w().edjz, Qt::Key_Return);
        return j().isVisible() ? j().laje->text() : QString();
    }
    QStringList reportRows() {
        const StringGrid& g = *j().grid1;
        QStringList out;
        for (int r = 0; r < g.rowCount(); ++r) {
            QStringList cells;
            for (int c = 0; c < g.colCount(); ++c)
                cells << g.cell(c, r);
            out << cells.join(u'|');
        }
        return out;
    }

    QString overallReport() {
        click(w().SpeedButton5);
        const auto& b = f.prompter.boxes;
        if (b.size() != 1 || b.front().kind != ScriptedPrompter::Kind::Message)
            return QStringLiteral("<not one message: %1>").arg(boxes().join(u'/'));
        return boxes().front();
    }
};

// What 2004年的帐本 holds once the year's work is done.
const QStringList kCustomers2004 = {
    QStringLiteral("张三|浙江省桐乡市濮院镇毛衫城8号|314502|0573-88881234|13905731234"),
    QStringLiteral("李四|上海市虹口区四川北路100号|200080|021-65551234|13817001234"),
    QStringLiteral("王五|江苏省无锡市北塘区工运路12号|214001|0510-82701234|13951501234"),
};
const QStringList kShipments2004 = {
    QStringLiteral("(1)2004-5-12|张三|羊毛开衫|200|浙江省桐乡市濮院镇毛衫城8号|314502|12000"),
    QStringLiteral("(2)2004-6-3|李四|套头衫|160|上海市虹口区四川北路100号|200080|9600"),
    QStringLiteral("(3)2004-10-1|赵六|童装背心|50|江苏省苏州市观前街1号|215000|1500"),
    QStringLiteral("(4)2004-11-18|张三|套头衫|80|浙江省桐乡市濮院镇毛衫城8号|314502|4000"),
};
const QStringList kPurchases2004 = {
    QStringLiteral("(1)2004-5-15|桐乡毛纱厂|羊毛纱|500|8000"),
    QStringLiteral("(2)2004-5-20|濮院辅料厂|纽扣|2000|650"),
    QStringLiteral("(3)2004-9-1|桐乡毛纱厂|腈纶纱|300|3000"),
};
const QStringList kDeliveries2004 = {
    QStringLiteral("(1)2004-5-20|小王|套口|320|960"),
    QStringLiteral("(2)2004-7-1|小王|横机|120|1440"),
    QStringLiteral("(3)2004-11-30|老陈|印染|200|800"),
};
// 27100 shipped, 11650 bought, 3200 owed to the workers: 12250 left.
const QString kReport2004 = QStringLiteral(
    "         总体报表\n\n现在总有客户:3个\n\n现在总共发货次数为:4次\n\n发货总收为:27100元\n\n"
    "现在总共进货次数为:3次\n\n进货总付出:11650元\n\n现在职工总共交货次数为:3次\n\n"
    "应付职工的钱为:3200元\n\n今年的总收入为:12250元\n\n★虽然赚得不多,但也是辛苦钱吗!☆");

// Goes through the four books of the entered 2004 ledger and its overall report.
void expectLedger2004(Desk& d) {
    QCOMPARE(d.w().windowTitle(), QStringLiteral("帐本名称:") + kLedger);
    QCOMPARE(d.status(), QStringLiteral("总共有3个客户!"));
    QCOMPARE(d.gridRows(), kCustomers2004);
    click(d.w().SpeedButton2);
    QCOMPARE(d.status(), QStringLiteral("总共已经发了4次货!总的金额为:27100元人民币! 恭喜发财!!"));
    QCOMPARE(d.gridRows(), kShipments2004);
    click(d.w().SpeedButton3);
    QCOMPARE(d.status(), QStringLiteral("总共已经进了3次货!应付金额为:11650元人民币!"));
    QCOMPARE(d.gridRows(), kPurchases2004);
    click(d.w().SpeedButton4);
    QCOMPARE(d.status(), QStringLiteral("所有人总共交了3次货!总的金额为:3200元人民币!"));
    QCOMPARE(d.gridRows(), kDeliveries2004);
    QCOMPARE(d.overallReport(), kReport2004);
    QCOMPARE(d.boxes(), QStringList());
}

bool exists(const char* file) { return tsl::fileExists(file); }

} // namespace

// The steps share one folder and one running program; each builds on the last.
class TestYear : public QObject {
    Q_OBJECT

    std::unique_ptr<FormsFixture> fx;
    std::unique_ptr<Desk> d;
    bool broken = false;

    void start() {
        fx->create();
        d = std::make_unique<Desk>(Desk{*fx});
        d->l().show(); // as the program entry does
    }

private slots:
    void init() {
        if (broken)
            QFAIL("not run: an earlier step of the year failed");
    }
    void cleanup() { broken = broken || QTest::currentTestFailed(); }
    void cleanupTestCase() {
        d.reset();
        fx.reset();
    }

    void firstStartInTheShippedFolder() {
        fx = std::make_unique<FormsFixture>();
        fx->seedIndex();
        start();
        QVERIFY(d->l().isVisible());
        QCOMPARE(d->l().windowTitle(), QStringLiteral("帐本选择!"));
        QCOMPARE(d->ledgers(), QStringList());
        QCOMPARE(d->boxes(), QStringList());
        QVERIFY(!d->w().isVisible());
    }

    void newLedgerOpensEmpty() {
        QCOMPARE(d->createLedger(kLedger), QStringList({kNewPrompt, kCreated}));
        QVERIFY(d->w().isVisible());
        QVERIFY(!d->l().isVisible());
        QCOMPARE(d->w().windowTitle(), QStringLiteral("帐本名称:2004年的帐本"));
        QCOMPARE(d->status(), QStringLiteral("总共有0个客户!"));
        QCOMPARE(d->gridRows(), QStringList());
        QCOMPARE(d->gridHeader(), QStringLiteral("姓名|地址|邮编|电话|手机"));
        QVERIFY(d->w().btnadd->isEnabled());
        QVERIFY(!d->w().btnedit->isEnabled());
        QVERIFY(!d->w().btndel->isEnabled());
        QCOMPARE(d->ledgers(), QStringList({kLedger}));
    }

    void customers() {
        QCOMPARE(d->addCustomer("张三", kZhangAddr, "314502", "0573-88881234", "13905731234"), QStringList());
        QVERIFY(!d->khl().isVisible());
        QVERIFY(d->w().btnedit->isEnabled()); // the first row enables edit and delete at once
        QCOMPARE(d->addCustomer("李四", kLiAddr, "200080", "021-65551234", "13817001234"), QStringList());
        QCOMPARE(d->addCustomer("王五", "江苏省无锡市崇安区中山路5号", "214001", "0510-82701234", "13951501234"),
                 QStringList());

        // The same name again is refused; the dialog keeps what was typed.
        QCOMPARE(d->addCustomer("张三", "杭州市", "310000", "", ""),
                 QStringList({QStringLiteral("这个姓名已经存在,您最好把名字改一下,如在名字后面加个2!")}));
        QVERIFY(d->khl().isVisible());
        QCOMPARE(d->khl().edadd->text(), QStringLiteral("杭州市"));
        QCOMPARE(d->w().grid1->currentIndex().row(), 0); // the row that holds the name
        // Following the advice: a "2" after the name.
        typeText(d->khl().edname, "2");
        click(d->khl().btn);
        QCOMPARE(d->boxes(), QStringList());
        QVERIFY(!d->khl().isVisible());
        QCOMPARE(d->status(), QStringLiteral("总共有4个客户!")); // every add refreshes the figures
        click(d->w().SpeedButton1);
        QCOMPARE(d->status(), QStringLiteral("总共有4个客户!"));

        // 王五 has moved: edit mode shows his row and writes it back in place.
        d->clickRow(2);
        click(d->w().btnedit);
        QVERIFY(d->khl().isVisible());
        QCOMPARE(d->khl().btn->text(), QStringLiteral("修改"));
        QCOMPARE(d->khl().edname->text(), QStringLiteral("王五"));
        QCOMPARE(d->khl().eddh->text(), QStringLiteral("0510-82701234"));
        retype(d->khl().edadd, "江苏省无锡市北塘区工运路12号");
        click(d->khl().btn);
        QCOMPARE(d->boxes(), QStringList());

        // 张三2 turns out to be 张三 after all: asked, answered Yes, gone.
        d->clickRow(3);
        d->f.prompter.yesNoAnswers.push_back(true);
        click(d->w().btndel);
        QCOMPARE(d->boxes(), QStringList({kAskDelete}));
        QCOMPARE(d->gridRows(), kCustomers2004);
        click(d->w().SpeedButton1);
        QCOMPARE(d->status(), QStringLiteral("总共有3个客户!"));
    }

    void shipmentsPurchasesAndDeliveries() {
        TForm1& w = d->w();
        FormsFixture& f = d->f;

        click(w.SpeedButton2);
        QCOMPARE(d->status(), QStringLiteral("总共已经发了0次货!总的金额为:0元人民币! 恭喜发财!!"));
        QCOMPARE(d->gridHeader(), QStringLiteral("日期|客户姓名|毛衫种类|数量|发货地点|邮编|总金额"));
        QCOMPARE(d->addMovement(d->fhb(), [&](Tfhb& s) {
            QCOMPARE(entries(s.edname), QStringList({"张三", "李四", "王五", "张三2"}));
            QCOMPARE(entries(s.edzl), QStringList());
            QCOMPARE(s.edname->text(), QStringLiteral("张三"));
            QCOMPARE(s.edadd->text(), QString()); // preselected, not yet chosen
            pick(s.edname, "李四");
            pick(s.edname, "张三");
            QCOMPARE(s.edadd->text(), kZhangAddr);
            QCOMPARE(s.edyb->text(), QStringLiteral("314502"));
            typeText(s.edzl->lineEdit(), "羊毛开衫");
        }, "200", "12000"), QStringList());
        QCOMPARE(d->gridRows(), QStringList({"(1)2004-5-12|张三|羊毛开衫|200|" + kZhangAddr + "|314502|12000"}));

        f.clock.set({2004, 6, 3});
        QCOMPARE(d->addMovement(d->fhb(), [&](Tfhb& s) {
            pick(s.edname, "李四");
            QCOMPARE(s.edadd->text(), kLiAddr);
            retype(s.edzl->lineEdit(), "套头衫");
        }, "150", "9000"), QStringList());
        f.clock.set({2004, 8, 20});
        QCOMPARE(d->addMovement(d->fhb(), [&](Tfhb& s) {
            pick(s.edname, "张三");
            QCOMPARE(entries(s.edzl), QStringList({"羊毛开衫", "套头衫"}));
            pick(s.edzl, "羊毛开衫");
        }, "100", "6500"), QStringList());
        f.clock.set({2004, 10, 1});
        QCOMPARE(d->addMovement(d->fhb(), [&](Tfhb& s) {
            retype(s.edname->lineEdit(), "赵六"); // a new customer, known only here
            QCOMPARE(s.edadd->text(), QString());
            typeText(s.edadd, "江苏省苏州市观前街1号");
            QTest::keyClicks(s.edyb, "215000");
            retype(s.edzl->lineEdit(), "童装背心");
        }, "50", "1500"), QStringList());
        f.clock.set({2004, 11, 18});
        QCOMPARE(d->addMovement(d->fhb(), [&](Tfhb& s) {
            QCOMPARE(entries(s.edname), QStringList({"张三", "李四", "王五", "张三2", "赵六"}));
            pick(s.edname, "张三");
            pick(s.edzl, "套头衫");
        }, "80", "4000"), QStringList());
        QCOMPARE(d->gridRows(), QStringList({
            "(1)2004-5-12|张三|羊毛开衫|200|" + kZhangAddr + "|314502|12000",
            "(2)2004-6-3|李四|套头衫|150|" + kLiAddr + "|200080|9000",
            "(3)2004-8-20|张三|羊毛开衫|100|" + kZhangAddr + "|314502|6500",
            QStringLiteral("(4)2004-10-1|赵六|童装背心|50|江苏省苏州市观前街1号|215000|1500"),
            "(5)2004-11-18|张三|套头衫|80|" + kZhangAddr + "|314502|4000"}));
        QCOMPARE(d->status(), QStringLiteral("总共已经发了5次货!总的金额为:33000元人民币! 恭喜发财!!"));
        click(w.SpeedButton2);
        QCOMPARE(d->status(), QStringLiteral("总共已经发了5次货!总的金额为:33000元人民币! 恭喜发财!!"));

        click(w.SpeedButton3);
        QCOMPARE(d->status(), QStringLiteral("总共已经进了0次货!应付金额为:0元人民币!"));
        f.clock.set({2004, 5, 15});
        QCOMPARE(d->addMovement(d->jhb(), [&](Tjhb& p) {
            typeText(p.edly->lineEdit(), "桐乡毛纱厂");
            typeText(p.edzl->lineEdit(), "羊毛纱");
        }, "500", "8000"), QStringList());
        f.clock.set({2004, 5, 20});
        QCOMPARE(d->addMovement(d->jhb(), [&](Tjhb& p) {
            retype(p.edly->lineEdit(), "濮院辅料厂");
            retype(p.edzl->lineEdit(), "纽扣");
        }, "2000", "600"), QStringList());
        f.clock.set({2004, 9, 1});
        QCOMPARE(d->addMovement(d->jhb(), [&](Tjhb& p) {
            QCOMPARE(entries(p.edly), QStringList({"桐乡毛纱厂", "濮院辅料厂"}));
            pick(p.edly, "桐乡毛纱厂");
            retype(p.edzl->lineEdit(), "腈纶纱");
        }, "300", "3000"), QStringList());
        click(w.SpeedButton3);
        QCOMPARE(d->status(), QStringLiteral("总共已经进了3次货!应付金额为:11600元人民币!"));
        QCOMPARE(d->gridRows(), QStringList({"(1)2004-5-15|桐乡毛纱厂|羊毛纱|500|8000",
                                             "(2)2004-5-20|濮院辅料厂|纽扣|2000|600",
                                             "(3)2004-9-1|桐乡毛纱厂|腈纶纱|300|3000"}));

        click(w.SpeedButton4);
        QCOMPARE(d->status(), QStringLiteral("所有人总共交了0次货!总的金额为:0元人民币!"));
        const struct { tsl::Date day; const char* worker; const char* kind; const char* qty; const char* amount; }
            deliveries[] = {{{2004, 5, 20}, "小王", "套口", "300", "900"},
                            {{2004, 6, 1}, "小李", "整烫", "500", "500"},
                            {{2004, 7, 1}, "小王", "横机", "120", "1440"},
                            {{2004, 11, 30}, "老陈", "印染", "200", "800"}};
        for (const auto& x : deliveries) {
            f.clock.set(x.day);
            QCOMPARE(d->addMovement(d->zgj(), [&](Tzgj& z) {
                if (z.edname->findText(x.worker) >= 0) // known from an earlier delivery
                    pick(z.edname, x.worker);
                else
                    retype(z.edname->lineEdit(), x.worker);
                retype(z.edzl->lineEdit(), x.kind);
            }, x.qty, x.amount), QStringList());
        }
        click(w.SpeedButton4);
        QCOMPARE(d->status(), QStringLiteral("所有人总共交了4次货!总的金额为:3640元人民币!"));
        QCOMPARE(d->gridRows(), QStringList({"(1)2004-5-20|小王|套口|300|900", "(2)2004-6-1|小李|整烫|500|500",
                                             "(3)2004-7-1|小王|横机|120|1440", "(4)2004-11-30|老陈|印染|200|800"}));
    }

    void editsAndDeletes() {
        TForm1& w = d->w();
        d->f.clock.set({2004, 12, 20}); // edits made late in the year keep their rows' stamps

        click(w.SpeedButton2);
        d->clickRow(1);
        QCOMPARE(w.grid1->toolTip(), "日期:(2)2004-6-3\n客户姓名:李四\n毛衫种类:套头衫\n数量:150\n发货地点:" + kLiAddr +
                                         "\n邮编:200080\n总金额:9000\n");
        click(w.btnedit);
        Tfhb& s = d->fhb();
        QVERIFY(s.isVisible());
        QCOMPARE(s.btn->text(), QStringLiteral("修改"));
        QCOMPARE(s.edname->text(), QStringLiteral("李四"));
        QCOMPARE(s.edadd->text(), kLiAddr);
        QCOMPARE(s.edje->text(), QStringLiteral("9000"));
        retypeAscii(s.edsm, "160");
        retypeAscii(s.edje, "9600");
        click(s.btn);
        QCOMPARE(d->boxes(), QStringList());
        QCOMPARE(d->gridRows().at(1), "(2)2004-6-3|李四|套头衫|160|" + kLiAddr + "|200080|9600");

        // The third shipment goes: No first changes nothing, then Yes.
        d->clickRow(2);
        const QStringList before = d->gridRows();
        click(w.btndel);
        QCOMPARE(d->boxes(), QStringList({kAskDelete}));
        QCOMPARE(d->gridRows(), before);
        d->f.prompter.yesNoAnswers.push_back(true);
        click(w.btndel);
        QCOMPARE(d->boxes(), QStringList({kAskDelete}));
        QCOMPARE(d->gridRows(), kShipments2004); // the rows after it renumbered, dates kept

        click(w.SpeedButton3);
        d->clickRow(1);
        click(w.btnedit);
        QCOMPARE(d->jhb().edly->text(), QStringLiteral("濮院辅料厂"));
        QCOMPARE(d->jhb().edje->text(), QStringLiteral("600"));
        retypeAscii(d->jhb().edje, "650");
        click(d->jhb().btn);
        QCOMPARE(d->boxes(), QStringList());
        QCOMPARE(d->gridRows(), kPurchases2004);

        click(w.SpeedButton4);
        d->clickRow(1); // 小李 left the workshop in June
        d->f.prompter.yesNoAnswers.push_back(true);
        click(w.btndel);
        QCOMPARE(d->boxes(), QStringList({kAskDelete}));
        d->clickRow(0);
        click(w.btnedit);
        QCOMPARE(d->zgj().edname->text(), QStringLiteral("小王"));
        QCOMPARE(d->zgj().edzl->text(), QStringLiteral("套口"));
        retypeAscii(d->zgj().edsm, "320");
        retypeAscii(d->zgj().edje, "960");
        click(d->zgj().btn);
        QCOMPARE(d->boxes(), QStringList());
        QCOMPARE(d->gridRows(), kDeliveries2004);

        // The edits and deletes refreshed the figures as they went.
        QCOMPARE(d->status(), QStringLiteral("所有人总共交了3次货!总的金额为:3200元人民币!"));
        click(w.SpeedButton2);
        QCOMPARE(d->status(), QStringLiteral("总共已经发了4次货!总的金额为:27100元人民币! 恭喜发财!!"));
        click(w.SpeedButton3);
        QCOMPARE(d->status(), QStringLiteral("总共已经进了3次货!应付金额为:11650元人民币!"));
        click(w.SpeedButton4);
        QCOMPARE(d->status(), QStringLiteral("所有人总共交了3次货!总的金额为:3200元人民币!"));
    }

    void settlements() {
        TForm1& w = d->w();
        Tj& j = d->j();

        click(w.SpeedButton2);
        QCOMPARE(d->settle("张三"), QStringLiteral("16000元"));
        QCOMPARE(j.windowTitle(), QStringLiteral("报表!"));
        QCOMPARE(d->reportRows(), QStringList({"日期|客户姓名|毛衫种类|数量|发货地点|邮编|总金额",
                                               kShipments2004[0], kShipments2004[3]}));
        QVERIFY(w.grid1->isEnabled());
        QCOMPARE(w.grid1->currentIndex().row(), 3); // the scan ends on the last row
        click(j.Button1);
        QVERIFY(!j.isVisible());

        click(w.SpeedButton3);
        QCOMPARE(d->settle("桐乡毛纱厂"), QStringLiteral("11000元"));
        QCOMPARE(d->reportRows(), QStringList({"日期|货物来源|货物种类|货物数目|总金额", kPurchases2004[0],
                                               kPurchases2004[2]}));
        click(j.Button1);
        QCOMPARE(d->settle("桐乡"), QString()); // only the whole name counts
        QCOMPARE(d->boxes(), QStringList({kNoMatch}));

        click(w.SpeedButton4);
        QCOMPARE(d->settle("小王"), QStringLiteral("2400元"));
        QCOMPARE(d->reportRows(), QStringList({"日期|交货人|交货种类|交货总数|总金额", kDeliveries2004[0],
                                               kDeliveries2004[1]}));
        click(j.Button1);

        QCOMPARE(d->settle("小李"), QString());
        QCOMPARE(d->boxes(), QStringList({kNoMatch}));
        QVERIFY(!j.isVisible());
        QCOMPARE(d->boxes(), QStringList());
    }

    void overallReport() {
        QCOMPARE(d->overallReport(), kReport2004);
        QCOMPARE(d->status(), QStringLiteral("所有人总共交了3次货!总的金额为:3200元人民币!")); // shown book untouched
    }

    void switchingLedgers() {
        click(d->w().SpeedButton7); // 更换帐本!
        QVERIFY(!d->w().isVisible());
        QVERIFY(d->l().isVisible());
        QCOMPARE(d->ledgers(), QStringList({kLedger}));

        QCOMPARE(d->createLedger(kLedger2), QStringList({kNewPrompt, kCreated}));
        QCOMPARE(d->w().windowTitle(), QStringLiteral("帐本名称:2005年的帐本"));
        QCOMPARE(d->status(), QStringLiteral("总共有0个客户!"));
        QCOMPARE(d->gridRows(), QStringList());

        d->f.clock.set({2005, 1, 8});
        click(d->w().SpeedButton2);
        QCOMPARE(d->gridRows(), QStringList());
        QCOMPARE(d->addMovement(d->fhb(), [&](Tfhb& s) {
            QCOMPARE(entries(s.edname), QStringList()); // a new ledger starts with empty lists
            typeText(s.edname->lineEdit(), "张三");
            QCOMPARE(s.edadd->text(), QString()); // no customers here yet
            typeText(s.edzl->lineEdit(), "羊毛开衫");
        }, "30", "2400"), QStringList());
        click(d->w().SpeedButton2);
        QCOMPARE(d->status(), QStringLiteral("总共已经发了1次货!总的金额为:2400元人民币! 恭喜发财!!"));
        QCOMPARE(d->gridRows(), QStringList({"(1)2005-1-8|张三|羊毛开衫|30|||2400"}));

        d->w().X1->trigger(); // 退出(&X) goes back to the chooser
        QVERIFY(d->l().isVisible());
        QCOMPARE(d->ledgers(), QStringList({kLedger, kLedger2}));
        d->chooseLedger(kLedger);
        QCOMPARE(d->boxes(), QStringList());
        QVERIFY(d->w().isVisible());
        expectLedger2004(*d);
    }

    void restartFindsEverything() {
        d->w().close();
        QVERIFY(d->l().isVisible());
        click(d->l().BitBtn3); // 退出程序
        QVERIFY(!d->l().isVisible());
        QVERIFY(exists("run.dll"));
        QVERIFY(!exists("tsl.mdb"));
        QVERIFY(exists("2004年的帐本.mdb"));
        QVERIFY(exists("2005年的帐本.mdb"));
        d.reset();
        fx->shutDown();
        QCOMPARE(fx->prompter.take(), QStringList());

        start();
        QCOMPARE(d->boxes(), QStringList());
        QCOMPARE(d->ledgers(), QStringList({kLedger, kLedger2}));
        d->chooseLedger(kLedger);
        QCOMPARE(d->boxes(), QStringList());
        expectLedger2004(*d);
        // The drop-downs still offer every name and kind ever used, 小李 included.
        click(d->w().btnadd);
        QVERIFY(d->zgj().isVisible());
        QCOMPARE(entries(d->zgj().edname), QStringList({"小王", "小李", "老陈"}));
        QCOMPARE(entries(d->zgj().edzl), QStringList({"套口", "整烫", "横机", "印染"}));
        click(d->zgj().btncancel);
        QVERIFY(!d->zgj().isVisible());
        QCOMPARE(d->gridRows(), kDeliveries2004);
        QCOMPARE(d->settle("小王"), QStringLiteral("2400元"));
        click(d->j().Button1);

        click(d->w().SpeedButton7);
        d->chooseLedger(kLedger2);
        QCOMPARE(d->w().windowTitle(), QStringLiteral("帐本名称:2005年的帐本"));
        click(d->w().SpeedButton2);
        QCOMPARE(d->gridRows(), QStringList({"(1)2005-1-8|张三|羊毛开衫|30|||2400"}));

        d->w().close();
        click(d->l().BitBtn3);
        QVERIFY(exists("run.dll"));
        QVERIFY(!exists("tsl.mdb"));
        QCOMPARE(d->boxes(), QStringList());
    }
};

QTEST_MAIN(TestYear)
#include "tst_year.moc"
