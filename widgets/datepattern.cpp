#include "widgets/datepattern.h"

#include "storage/stamp.h"

#include <QLocale>

std::string desktopShortDatePattern() {
    if (tsl::timeLocaleIsPosix())
        return std::string(tsl::kFallbackDatePattern);
    std::string p = tsl::patternFromQtDateFormat(QLocale::system().dateFormat(QLocale::ShortFormat).toStdString());
    return p.empty() ? std::string(tsl::kFallbackDatePattern) : p;
}
