// Takes the README's screenshots: the chooser, the workspace with a filled
// shipment book, a settlement report and the overall report. Runs under a real
// X server with a window manager (scripts/screenshots.sh starts Xvfb and
// openbox), so the pictures carry title bars.
//
//   shots INDEX_TEMPLATE WORK_FOLDER OUT_FOLDER
//
// In WORK_FOLDER it puts the empty index, seeds two ledgers with plain SQL, then
// builds the program's own windows, walks through them as a user would (pick
// the ledger, enter it, open the shipment book, settle one customer, ask for
// the overall report) and saves each window, frame included, as PNG.
#include "Unit1.h"
#include "backup.h"
#include "jg.h"
#include "lb.h"
#include "look.h"
#include "prompter.h"
#include "roster.h"
#include "schema.h"
#include "stamp.h"

#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QMenu>
#include <QDir>
#include <QEventLoop>
#include <QLineEdit>
#include <QListWidget>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QTableView>
#include <QTimer>
#include <QToolButton>

#include <sqlite3.h>

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <initializer_list>
#include <stdexcept>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

const QString kLedger = QStringLiteral("2026年的帐本");
const QString kOlderLedger = QStringLiteral("2025年的帐本");

// ---- seeding with plain SQL -----------------------------------------------------------

class Db {
public:
    explicit Db(const std::string& file) {
        if (sqlite3_open_v2(file.c_str(), &db_, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK)
            throw std::runtime_error("cannot open " + file);
    }
    ~Db() { sqlite3_close_v2(db_); }
    Db(const Db&) = delete;
    Db& operator=(const Db&) = delete;

    void exec(const std::string& sql) {
        char* err = nullptr;
        if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &err) != SQLITE_OK) {
            std::string msg = err ? err : "?";
            sqlite3_free(err);
            throw std::runtime_error(msg);
        }
    }
    void insert(std::string_view table, const std::vector<std::string>& values) {
        std::string sql = "INSERT INTO \"" + std::string(table) + "\" VALUES (";
        for (std::size_t i = 0; i < values.size(); ++i)
            sql += i ? ", ?" : "?";
        sql += ")";
        sqlite3_stmt* st = nullptr;
        if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &st, nullptr) != SQLITE_OK)
            throw std::runtime_error(sqlite3_errmsg(db_));
        for (std::size_t i = 0; i < values.size(); ++i)
            sqlite3_bind_text(st, int(i) + 1, values[i].c_str(), -1, SQLITE_TRANSIENT);
        const int rc = sqlite3_step(st);
        sqlite3_finalize(st);
        if (rc != SQLITE_DONE)
            throw std::runtime_error(sqlite3_errmsg(db_));
    }

private:
    sqlite3* db_ = nullptr;
};

struct Shipment {
    const char* date;
    const char* customer;
    const char* kind;
    int quantity;
    int amount;
};

struct Customer {
    const char* name;
    const char* address;
    const char* postcode;
    const char* phone;
    const char* mobile;
};

const Customer kCustomers[] = {
    {"王丽", "浙江省桐乡市濮院镇永乐路18号", "314502", "0573-88812345", "13905731234"},
    {"张三", "江苏省苏州市吴江区盛泽镇西环路6号", "215228", "0512-63521188", "13862151122"},
    {"李秀英", "上海市长宁区天山路420弄3号", "200336", "021-62745566", "13601866789"},
    {"刘建国", "浙江省杭州市四季青服装市场2楼205", "310016", "0571-86041234", "13758106655"},
    {"陈芳", "江苏省常熟市招商城服装城B区12号", "215500", "0512-52778899", "13915677321"},
};

const Shipment kShipments[] = {
    {"2026-1-6", "王丽", "羊毛衫", 40, 4800},      {"2026-1-15", "张三", "开衫", 25, 3250},
    {"2026-2-3", "李秀英", "羊绒衫", 12, 5400},    {"2026-2-20", "王丽", "开衫", 30, 3900},
    {"2026-3-2", "刘建国", "背心", 60, 3600},      {"2026-3-18", "张三", "羊毛衫", 35, 4200},
    {"2026-4-9", "陈芳", "羊绒衫", 20, 9000},      {"2026-5-12", "王丽", "羊绒衫", 15, 6750},
    {"2026-6-1", "刘建国", "开衫", 45, 5850},      {"2026-8-21", "张三", "背心", 80, 4800},
    {"2026-9-10", "王丽", "羊毛衫", 50, 6000},     {"2026-10-8", "李秀英", "开衫", 28, 3640},
    {"2026-10-27", "陈芳", "羊毛衫", 36, 4320},    {"2026-11-16", "王丽", "背心", 70, 4200},
    {"2026-12-2", "张三", "羊绒衫", 18, 8100},
};

const Shipment kPurchases[] = {
    {"2026-1-3", "桐乡毛纺厂", "羊毛纱", 200, 9600},   {"2026-1-28", "濮院辅料市场", "纽扣", 3000, 900},
    {"2026-2-14", "内蒙古羊绒公司", "羊绒纱", 60, 10800}, {"2026-4-2", "嘉兴印刷厂", "商标", 2000, 600},
    {"2026-6-20", "桐乡毛纺厂", "羊毛纱", 150, 7200},  {"2026-9-1", "濮院辅料市场", "拉链", 800, 640},
};

const Shipment kDeliveries[] = {
    {"2026-1-20", "小王", "套口", 120, 960},   {"2026-2-25", "李师傅", "横机", 90, 1350},
    {"2026-4-15", "小王", "整烫", 200, 600},   {"2026-7-8", "周阿姨", "印染", 60, 720},
    {"2026-10-30", "李师傅", "横机", 110, 1650},
};

std::string stamp(int n, const char* date) { return "(" + std::to_string(n) + ")" + date; }

void seedLedger(const std::string& file) {
    Db db(file);
    db.exec("BEGIN");
    std::vector<std::string> names, kinds, sources, goods, workers, works;
    auto keep = [](std::vector<std::string>& list, const std::string& s) {
        for (const auto& e : list)
            if (e == s)
                return;
        list.push_back(s);
    };
    for (const auto& c : kCustomers) {
        db.insert(tsl::table::customers, {c.name, c.address, c.postcode, c.phone, c.mobile});
        keep(names, c.name);
    }
    auto addressOf = [](const std::string& name) -> const Customer& {
        for (const auto& c : kCustomers)
            if (name == c.name)
                return c;
        throw std::runtime_error("no customer " + name);
    };
    int n = 0;
    for (const auto& s : kShipments) {
        const Customer& c = addressOf(s.customer);
        db.insert(tsl::table::shipments, {stamp(++n, s.date), s.customer, s.kind, std::to_string(s.quantity),
                                          c.address, c.postcode, std::to_string(s.amount)});
        keep(kinds, s.kind);
    }
    n = 0;
    for (const auto& p : kPurchases) {
        db.insert(tsl::table::purchases,
                  {stamp(++n, p.date), p.customer, p.kind, std::to_string(p.quantity), std::to_string(p.amount)});
        keep(sources, p.customer);
        keep(goods, p.kind);
    }
    n = 0;
    for (const auto& d : kDeliveries) {
        db.insert(tsl::table::deliveries,
                  {stamp(++n, d.date), d.customer, d.kind, std::to_string(d.quantity), std::to_string(d.amount)});
        keep(workers, d.customer);
        keep(works, d.kind);
    }
    for (auto [table, list] : {std::pair{tsl::table::customerNames, &names}, std::pair{tsl::table::garmentKinds, &kinds},
                               std::pair{tsl::table::purchaseSources, &sources},
                               std::pair{tsl::table::purchaseKinds, &goods}, std::pair{tsl::table::workerNames, &workers},
                               std::pair{tsl::table::workKinds, &works}})
        for (const auto& e : *list)
            db.insert(table, {e});
    db.exec("COMMIT");
}

// Snapshots of the ledger from the days before, each with fewer rows: the
// ledger as it stood then is rebuilt under its own name and backed up.
void seedHistory(const std::string& file) {
    const std::string full = file + ".full";
    fs::rename(file, full);
    const struct {
        int day, hour, shipments, deliveries;
    } days[] = {{1, 18, 12, 3}, {3, 17, 13, 4}, {5, 19, 14, 4}, {7, 18, 15, 5}};
    for (const auto& d : days) {
        fs::copy_file(full, file);
        {
            Db db(file);
            db.exec("DELETE FROM \"2\" WHERE rowid > " + std::to_string(d.shipments));
            db.exec("DELETE FROM \"4\" WHERE rowid > " + std::to_string(d.deliveries));
        }
        std::tm tm{};
        tm.tm_year = 2026 - 1900;
        tm.tm_mon = 11;
        tm.tm_mday = d.day;
        tm.tm_hour = d.hour;
        tm.tm_min = 30;
        tm.tm_isdst = -1;
        (void)tsl::takeSnapshot(file, std::mktime(&tm));
        fs::remove(file);
    }
    fs::rename(full, file);
}

// The folder as the program finds it: the index listing two ledgers, and their files.
void prepareFolder(const fs::path& indexTemplate) {
    const std::string index(tsl::kStoredIndexFile);
    fs::remove(index);
    fs::remove(std::string(tsl::kIndexFile));
    fs::copy_file(indexTemplate, index);
    for (const QString& name : {kOlderLedger, kLedger}) {
        const std::string file = name.toStdString() + std::string(tsl::kLedgerSuffix);
        fs::remove(file);
        fs::copy_file(index, file); // a new ledger is a copy of the empty index, as the chooser makes it
        if (name == kLedger) {
            seedLedger(file);
            seedHistory(file);
        }
    }
    Db db(index);
    db.insert(tsl::table::ledgers, {kOlderLedger.toStdString()});
    db.insert(tsl::table::ledgers, {kLedger.toStdString()});
}

// ---- the windows --------------------------------------------------------------------------

void wait(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// The window with its frame, from the screen as it is now.
void save(QWidget* w, const QString& file) {
    QScreen* screen = w->screen();
    const QRect r = w->frameGeometry();
    const QPixmap shot = screen->grabWindow(0, r.x(), r.y(), r.width(), r.height());
    if (shot.isNull() || !shot.save(file, "PNG"))
        throw std::runtime_error("cannot save " + file.toStdString());
    std::printf("shots: %s (%dx%d)\n", qPrintable(file), shot.width(), shot.height());
}

QListWidgetItem* itemNamed(QListWidget* list, const QString& name) {
    for (int i = 0; i < list->count(); ++i)
        if (list->item(i)->text() == name)
            return list->item(i);
    throw std::runtime_error("the chooser does not list " + name.toStdString());
}

// Right-clicks a point of a view, picks an item of the menu that pops up, and
// saves the modal box that item opens before closing it.
void pickAndShoot(QAbstractItemView* view, const QPoint& pos, const QString& item, const QString& file) {
    QString failure;
    QTimer::singleShot(800, [&] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        QAction* chosen = nullptr;
        if (menu)
            for (QAction* a : menu->actions())
                if (a->text() == item && a->isEnabled())
                    chosen = a;
        if (menu)
            menu->close();
        if (!chosen) {
            failure = QStringLiteral("the menu offers no ") + item;
            return;
        }
        QTimer::singleShot(1500, [&] {
            QWidget* box = QApplication::activeModalWidget();
            try {
                if (!box)
                    throw std::runtime_error("no box for " + item.toStdString());
                save(box, file);
            } catch (const std::exception& e) {
                failure = QString::fromUtf8(e.what());
            }
            if (box)
                box->close();
        });
        QTimer::singleShot(0, chosen, &QAction::trigger);
    });
    QContextMenuEvent ev(QContextMenuEvent::Mouse, pos, view->viewport()->mapToGlobal(pos));
    QApplication::sendEvent(view->viewport(), &ev);
    wait(2500);
    if (!failure.isEmpty())
        throw std::runtime_error(failure.toStdString());
}

void takeAll(Roster& roster, const QDir& out) {
    Tl& chooser = *roster.l;
    chooser.show();
    chooser.list1->setCurrentItem(itemNamed(chooser.list1, kLedger));
    wait(1500); // the window manager frames and places it
    save(&chooser, out.filePath(QStringLiteral("chooser.png")));

    chooser.BitBtn1->click(); // enter the ledger
    TForm1& ws = *roster.Form1;
    wait(800);
    ws.resize(800, ws.height()); // widened by the user, so the amounts show too
    ws.SpeedButton2->click();    // the shipment book
    ws.grid1->selectRow(7);
    ws.edjz->setText(QStringLiteral("王丽"));
    wait(1000);
    save(&ws, out.filePath(QStringLiteral("workspace.png")));

    ws.btnjz->click(); // settle with 王丽
    wait(1000);
    save(roster.j.get(), out.filePath(QStringLiteral("settlement.png")));
    roster.j->close();
    wait(300);

    // The report is a modal box: take it from a timer while the click waits for it.
    QString failure;
    QTimer::singleShot(1500, [&] {
        QWidget* box = QApplication::activeModalWidget();
        try {
            if (!box)
                throw std::runtime_error("the overall report did not appear");
            save(box, out.filePath(QStringLiteral("report.png")));
        } catch (const std::exception& e) {
            failure = QString::fromUtf8(e.what());
        }
        if (box)
            box->close();
    });
    ws.SpeedButton5->click();
    if (!failure.isEmpty())
        throw std::runtime_error(failure.toStdString());

    // A row's date: the calendar on the row's day.
    ws.grid1->selectRow(13);
    wait(300);
    pickAndShoot(ws.grid1, ws.grid1->visualRect(ws.grid1->model()->index(13, 0)).center(),
                 QStringLiteral("修改日期…"), out.filePath(QStringLiteral("datepicker.png")));

    ws.close(); // back to the chooser
    wait(300);

    // The snapshots of the ledger, newest first, with the size of each book.
    QListWidgetItem* item = itemNamed(chooser.list1, kLedger);
    chooser.list1->setCurrentItem(item);
    pickAndShoot(chooser.list1, chooser.list1->visualItemRect(item).center(), QStringLiteral("从备份恢复…"),
                 out.filePath(QStringLiteral("restore.png")));
    chooser.close(); // puts the index back
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: shots INDEX_TEMPLATE WORK_FOLDER OUT_FOLDER\n");
        return 2;
    }
    const fs::path indexTemplate = fs::absolute(argv[1]);
    const QDir out(QDir::current().absoluteFilePath(QString::fromLocal8Bit(argv[3])));
    fs::current_path(argv[2]);

    QApplication app(argc, argv);
    applyAppLook(app);
    // The workshop's desktop: the calendar's month and day names in Chinese.
    QLocale::setDefault(QLocale(QLocale::Chinese, QLocale::China));
    app.setQuitOnLastWindowClosed(false);
    try {
        prepareFolder(indexTemplate);
        DialogPrompter prompter;
        const tsl::FixedClock clock({2026, 12, 8}, "yyyy-M-d");
        Roster roster(prompter, clock);
        roster.create();
        takeAll(roster, out);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "shots: %s\n", e.what());
        return 1;
    }
    return 0;
}
