#include "widgets/look.h"

#include <QApplication>
#include <QFont>
#include <QLabel>
#include <QLibraryInfo>
#include <QTranslator>

void applyAppLook(QApplication& app) {
    const QStringList song{QStringLiteral("AR PL UMing CN"), QStringLiteral("Noto Serif CJK SC"),
                           QStringLiteral("AR PL UMing TW")};
    QFont::insertSubstitutions(QStringLiteral("宋体"), song);
    QFont::insertSubstitutions(QStringLiteral("SimSun"), song);
    QFont f(QStringLiteral("宋体"));
    f.setPixelSize(12); // 9 points at 96 dpi, whatever the screen's dpi
    app.setFont(f);
    app.setApplicationName(QStringLiteral("tessolan"));
    app.setApplicationDisplayName(QString());
    // Qt's own dialogs (saving a file, print preview, a line edit's menu) speak the
    // program's language whatever the desktop's; our boxes set their texts themselves.
    static QTranslator qtTexts;
    if (qtTexts.isEmpty() && qtTexts.load(QStringLiteral("qtbase_zh_CN"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        app.installTranslator(&qtTexts);
}

QLabel* textLabel(QWidget* parent, const char* name, const QString& text, const QRect& place) {
    auto* l = new QLabel(text, parent);
    l->setObjectName(QLatin1String(name));
    l->setGeometry(place);
    return l;
}

QLabel* textLabel(QWidget* parent, const char* name, const QString& text, int x, int y) {
    QLabel* l = textLabel(parent, name, text, QRect(x, y, 0, 0));
    l->adjustSize();
    return l;
}
