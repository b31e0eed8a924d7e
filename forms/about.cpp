#include "forms/about.h"

#include "widgets/desktop.h"
#include "widgets/look.h"
#include "widgets/windowsetup.h"
#include "forms/roster.h"

#include <QIcon>
#include <QLabel>
#include <QPixmap>

#include <sqlite3.h>

static void initAboutResources() { Q_INIT_RESOURCE(workspace); }

namespace {

QLabel* picture(QWidget* parent, const char* name, const char* file, int left, int top) {
    auto* l = new QLabel(parent);
    l->setObjectName(QLatin1String(name));
    l->setPixmap(QPixmap(QStringLiteral(":/workspace/") + QLatin1String(file)));
    l->setGeometry(left, top, 32, 32);
    return l;
}

} // namespace

Tabou::Tabou(Roster& roster) : QWidget(nullptr), r_(roster) {
    initAboutResources();
    setObjectName(QStringLiteral("abou"));
    setupWindow(*this, QStringLiteral("关于!"), 201, 166, WindowButtons::MinimiseOnly, Stacking::Owned);
    setWindowIcon(QIcon(QStringLiteral(":/workspace/about.png")));

    // Only what is true of this program: it has no project page, phone or mailbox to give.
    Image2 = picture(this, "Image2", "author.png", 8, 8);
    Label1 = textLabel(this, "Label1", QStringLiteral("作者:tessolan 开发者"), 40, 16);
    Image3 = picture(this, "Image3", "home.png", 8, 40);
    Label2 = textLabel(this, "Label2", QStringLiteral("主页:无"), 40, 48);
    Image4 = picture(this, "Image4", "about.png", 8, 72);
    Label3 = textLabel(this, "Label3", QStringLiteral("数据库:SQLite ") + QLatin1String(sqlite3_libversion()), 38, 80);
    Image1 = picture(this, "Image1", "program.png", 8, 104);
    Label4 = textLabel(this, "Label4", QStringLiteral("程序名:Tessolan"), 48, 112);
    Label5 = textLabel(this, "Label5", QStringLiteral("版本:1.0"), 48, 128);
    Label6 = textLabel(this, "Label6", QStringLiteral("用途:财务管理"), 48, 144);

    // Not centred: it first opens at this place, later where it was left.
    move(192, 107);
    closeOnEscape(*this);
}
