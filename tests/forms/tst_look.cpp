// The serial stamp's date on a real desktop: the locale's short format from Qt's
// CLDR data, written by our own date formatter.
#include "widgets/datepattern.h"
#include "widgets/look.h"
#include "storage/stamp.h"

#include <QApplication>
#include <QDate>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QPushButton>
#include <QLocale>
#include <QTest>

namespace {

QString stampDate(const QString& qtFormat, QDate d) {
    const std::string pattern = tsl::patternFromQtDateFormat(qtFormat.toStdString());
    return QString::fromStdString(tsl::formatDate(pattern, {d.year(), d.month(), d.day()}));
}

} // namespace

class TstLook : public QObject {
    Q_OBJECT
private slots:
    // Numeric short dates, literal text and quotes print exactly what Qt prints.
    void formatsPrintAsQtDoes() {
        const auto shortOf = [](const char* name) {
            return QLocale(QString::fromLatin1(name)).dateFormat(QLocale::ShortFormat);
        };
        QCOMPARE(stampDate(shortOf("zh_CN"), QDate(2026, 12, 8)), QStringLiteral("2026/12/8"));
        QCOMPARE(stampDate(shortOf("en_US"), QDate(2026, 12, 8)), QStringLiteral("12/8/26"));
        QStringList formats{QString::fromUtf8("yyyy'年'M'月'd'日'"), "'Day' d, 'Month' MM", "dd.MM.yy 'r.'",
                            "d''M''yy", "'it''s' d/M", "Y-m D \"d\"", QString::fromUtf8("yyyy年M月d日")};
        for (const char* name : {"zh_CN", "zh_TW", "zh_HK", "ja_JP", "ko_KR", "de_DE", "fr_FR", "en_GB", "ru_RU",
                                 "nl_NL", "hu_HU", "fi_FI", "bg_BG", "sv_SE"}) {
            const QString fmt = shortOf(name);
            if (!fmt.contains(QStringLiteral("MMM")) && !fmt.contains(QStringLiteral("ddd")))
                formats << fmt;
        }
        for (const QString& fmt : formats)
            for (const QDate day : {QDate(2004, 1, 5), QDate(1999, 12, 31), QDate(2026, 7, 9)})
                QVERIFY2(stampDate(fmt, day) == day.toString(fmt), qPrintable(fmt));
    }

    void namesBecomeNumbers() {
        const QDate d(2004, 1, 5);
        QCOMPARE(stampDate(QStringLiteral("d MMM yyyy"), d), QStringLiteral("5 01 2004"));
        QCOMPARE(stampDate(QStringLiteral("dddd, d/M/yy"), d), QStringLiteral("5/1/04"));
        QCOMPARE(tsl::patternFromQtDateFormat("'no field'"), std::string());
    }

    void posixLocaleKeepsTheFallback() {
        for (const char* posix : {"C", "POSIX"}) {
            qputenv("LC_ALL", posix);
            QCOMPARE(desktopShortDatePattern(), std::string(tsl::kFallbackDatePattern));
        }
        qunsetenv("LC_ALL");
    }

    void qtDialogsSpeakChinese() {
        applyAppLook(*qApp);
        applyAppLook(*qApp); // a second call must not stack a second translator
        QFileDialog save(nullptr, QStringLiteral("保存"));
        save.setOption(QFileDialog::DontUseNativeDialog);
        save.setAcceptMode(QFileDialog::AcceptSave);
        const auto* box = save.findChild<QDialogButtonBox*>();
        QVERIFY(box);
        QVERIFY(box->button(QDialogButtonBox::Save)->text().contains(QStringLiteral("保存")));
        QVERIFY(box->button(QDialogButtonBox::Cancel)->text().contains(QStringLiteral("取消")));
    }
};

QTEST_MAIN(TstLook)
#include "tst_look.moc"
