#include "storage/period.h"

#include <charconv>

namespace tsl {

Period quickPeriod(QuickPeriod pick, Date today) {
    const int y = today.year;
    switch (pick) {
    case QuickPeriod::ThisMonth:
        return {Date{y, today.month, 1}, Date{y, today.month, daysInMonth(y, today.month)}};
    case QuickPeriod::LastMonth: {
        const int ly = today.month == 1 ? y - 1 : y;
        const int lm = today.month == 1 ? 12 : today.month - 1;
        return {Date{ly, lm, 1}, Date{ly, lm, daysInMonth(ly, lm)}};
    }
    case QuickPeriod::ThisQuarter: {
        const int first = (today.month - 1) / 3 * 3 + 1;
        return {Date{y, first, 1}, Date{y, first + 2, daysInMonth(y, first + 2)}};
    }
    case QuickPeriod::WholeYear:
        break;
    }
    return {Date{y, 1, 1}, Date{y, 12, 31}};
}

std::optional<Date> readIsoDate(std::string_view text) {
    int parts[3] = {0, 0, 0};
    const char* p = text.data();
    const char* end = text.data() + text.size();
    for (int i = 0; i < 3; ++i) {
        const char* start = p;
        while (p != end && *p >= '0' && *p <= '9')
            ++p;
        const std::size_t digits = std::size_t(p - start);
        if (digits == 0 || digits > (i == 0 ? 4u : 2u) || (i == 0 && digits != 4))
            return std::nullopt;
        std::from_chars(start, p, parts[i]);
        if (i < 2) {
            if (p == end || *p != '-')
                return std::nullopt;
            ++p;
        }
    }
    if (p != end || parts[1] < 1 || parts[1] > 12 || parts[2] < 1 || parts[2] > daysInMonth(parts[0], parts[1]))
        return std::nullopt;
    return Date{parts[0], parts[1], parts[2]};
}

InPeriod placeInPeriod(const Period& period, const StampDateReader& dates, std::string_view stamp) {
    if (period.whole())
        return InPeriod::Inside;
    const std::optional<Date> d = dates.read(stamp);
    if (!d)
        return InPeriod::Undated;
    if ((period.from && *d < *period.from) || (period.to && *period.to < *d))
        return InPeriod::Outside;
    return InPeriod::Inside;
}

} // namespace tsl
