#pragma once
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace tsl {

struct Date {
    int year = 1970;
    int month = 1; // 1..12
    int day = 1;   // 1..31
};

// Where the date of a serial stamp comes from; tests install a fixed one.
class Clock {
public:
    virtual ~Clock() = default;
    [[nodiscard]] virtual Date today() const = 0;
    // Short date pattern in the d/m/y notation of formatDate (e.g. "yyyy-M-d").
    [[nodiscard]] virtual std::string shortDatePattern() const = 0;
};

// The local date, in the short date pattern the desktop gave at start.
class SystemClock final : public Clock {
public:
    explicit SystemClock(std::string pattern) : pattern_(std::move(pattern)) {}
    [[nodiscard]] Date today() const override;
    [[nodiscard]] std::string shortDatePattern() const override { return pattern_; }

private:
    std::string pattern_;
};

// A clock that always gives the same day and pattern.
class FixedClock final : public Clock {
public:
    FixedClock(Date d, std::string pattern) : date_(d), pattern_(std::move(pattern)) {}
    [[nodiscard]] Date today() const override { return date_; }
    [[nodiscard]] std::string shortDatePattern() const override { return pattern_; }
    void set(Date d) { date_ = d; }
    void setPattern(std::string p) { pattern_ = std::move(p); }

private:
    Date date_;
    std::string pattern_;
};

// Pattern used when the locale gives none (the C/POSIX locale).
inline constexpr std::string_view kFallbackDatePattern = "m/d/yy";

// Formats a date. Letters d, m, y (either case) form fields: d/m one or two
// letters (two pads to two digits), y up to two letters gives the two-digit year,
// more gives four digits. Text in single or double quotes and every other
// character are copied as they stand.
[[nodiscard]] std::string formatDate(std::string_view pattern, Date date);

// Reads a date written by formatDate with the same pattern. Fields of two
// letters take exactly two digits, d and m alone one or two; the whole text
// must fit. A two-digit year falls in the hundred years from referenceYear - 80.
// Empty when the text does not fit the pattern or names no real day.
[[nodiscard]] std::optional<Date> parseDate(std::string_view pattern, std::string_view text, int referenceYear);

// The date part of a serial stamp: what follows its first ")", or the whole
// stamp when it has none.
[[nodiscard]] std::string_view stampDatePart(std::string_view stamp);

// The stamp with its date part replaced by the date in the pattern; "(n)" stays.
[[nodiscard]] std::string stampWithDate(std::string_view stamp, std::string_view pattern, Date date);

// Turns a strftime date format (from nl_langinfo(D_FMT)) into the pattern above;
// empty when it holds anything but %d %e %m %y %Y %% and literal text.
[[nodiscard]] std::string patternFromStrftime(std::string_view fmt);

// Turns a Qt date format (from CLDR: "yyyy/M/d", "dd.MM.yy", quotes with '' for a
// quote) into the pattern above. Names have no place in a stamp: a month name
// becomes its number, a weekday name is left out. Empty without any field.
[[nodiscard]] std::string patternFromQtDateFormat(std::string_view fmt);

// True when LC_TIME, as the environment sets it (LC_ALL, then LC_TIME, then
// LANG), is the C/POSIX locale or unset.
[[nodiscard]] bool timeLocaleIsPosix();

// The C library's date format (nl_langinfo(D_FMT)) of LC_TIME as a pattern;
// kFallbackDatePattern for C/POSIX or a format that cannot be expressed. Not a
// short date on every desktop ("%Y年%m月%d日" on zh_CN), but a pattern stamps
// may have been written in.
[[nodiscard]] std::string systemShortDatePattern();

// "(" + n + ")" + the clock's date in its short format.
[[nodiscard]] std::string serialStamp(long long n, const Clock& clock);

} // namespace tsl
