// The serial stamp's date on a real desktop: the locale's short format from Qt's
// CLDR data, written by our own date formatter.
#include "look.h"
#include "stamp.h"

#include <QApplication>
#include <QDate>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QPushButton>
#include <QLocale>
#include <QTest>

class TstLook : public QObject {
    Q_OBJECT
private slots:
    void shortFormatsOfRealLocales();
    void literalTextAndQuotes();
    void namesBecomeNumbers();
    void posixLocaleKeepsTheFallback();
    void qtDialogsSpeakChinese();
};

namespace {

QString stampDate(const QString& qtFormat, QDate d) {
    const std::string pattern = tsl::patternFromQtDateFormat(qtFormat.toStdString());
    return QString::fromStdString(tsl::formatDate(pattern, {d.year(), d.month(), d.day()}));
}

} // namespace

void TstLook::shortFormatsOfRealLocales() {
    // zh_CN: year/month/day without leading zeros; en_US: month/day/two-digit year.
    const QDate d(2026, 12, 8);
    QCOMPARE(stampDate(QLocale(QStringLiteral("zh_CN")).dateFormat(QLocale::ShortFormat), d), QStringLiteral("2026/12/8"));
    QCOMPARE(stampDate(QLocale(QStringLiteral("en_US")).dateFormat(QLocale::ShortFormat), d), QStringLiteral("12/8/26"));
    // Every locale with numeric short dates prints exactly what Qt prints.
    const QDate dates[] = {{2004, 1, 5}, {1999, 12, 31}, {2026, 7, 9}};
    for (const char* name : {"zh_CN", "zh_TW", "zh_HK", "ja_JP", "ko_KR", "de_DE", "fr_FR", "en_GB", "ru_RU", "nl_NL",
                             "hu_HU", "fi_FI", "bg_BG", "sv_SE"}) {
        const QString fmt = QLocale(QString::fromLatin1(name)).dateFormat(QLocale::ShortFormat);
        if (fmt.contains(QStringLiteral("MMM")) || fmt.contains(QStringLiteral("ddd")))
            continue;
        for (const QDate& day : dates)
            QVERIFY2(stampDate(fmt, day) == day.toString(fmt), qPrintable(QString::fromLatin1(name) + u' ' + fmt));
    }
}

void TstLook::literalTextAndQuotes() {
    // Letters our notation would read as fields, quotes, and quoted text stay literal.
    const QDate d(2004, 1, 5);
    for (const char* f : {"yyyy'年'M'月'd'日'", "d 'de' MMMM", "'Day' d, 'Month' MM", "dd.MM.yy 'r.'", "d''M''yy",
                          "'it''s' d/M", "Y-m D \"d\"", "yyyy年M月d日"}) {
        const QString fmt = QString::fromUtf8(f);
        if (fmt.contains(QStringLiteral("MMM")))
            continue;
        QCOMPARE(stampDate(fmt, d), d.toString(fmt));
    }
}

void TstLook::namesBecomeNumbers() {
    const QDate d(2004, 1, 5);
    QCOMPARE(stampDate(QStringLiteral("d MMM yyyy"), d), QStringLiteral("5 01 2004"));
    QCOMPARE(stampDate(QStringLiteral("dddd, d/M/yy"), d), QStringLiteral("5/1/04"));
    QCOMPARE(tsl::patternFromQtDateFormat("'no field'"), std::string());
}

void TstLook::posixLocaleKeepsTheFallback() {
    qputenv("LC_ALL", "C");
    QCOMPARE(desktopShortDatePattern(), std::string(tsl::kFallbackDatePattern));
    qputenv("LC_ALL", "POSIX");
    QCOMPARE(desktopShortDatePattern(), std::string(tsl::kFallbackDatePattern));
    qunsetenv("LC_ALL");
}

void TstLook::qtDialogsSpeakChinese() {
    applyAppLook(*qApp);
    applyAppLook(*qApp); // a second call must not stack a second translator
    QFileDialog save(nullptr, QStringLiteral("保存"));
    save.setOption(QFileDialog::DontUseNativeDialog);
    save.setAcceptMode(QFileDialog::AcceptSave);
    const auto* box = save.findChild<QDialogButtonBox*>();
    QVERIFY(box);
    const QString saveText = box->button(QDialogButtonBox::Save)->text();
    const QString cancelText = box->button(QDialogButtonBox::Cancel)->text();
    QVERIFY2(saveText.contains(QStringLiteral("保存")), qPrintable(saveText));
    QVERIFY2(cancelText.contains(QStringLiteral("取消")), qPrintable(cancelText));
}

QTEST_MAIN(TstLook)
#include "tst_look.moc"
