#pragma once
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

// The local date and the locale's short date pattern.
class SystemClock final : public Clock {
public:
    [[nodiscard]] Date today() const override;
    [[nodiscard]] std::string shortDatePattern() const override;
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

// Turns a strftime date format (from nl_langinfo(D_FMT)) into the pattern above;
// empty when it holds anything but %d %e %m %y %Y %% and literal text.
[[nodiscard]] std::string patternFromStrftime(std::string_view fmt);

// The locale's short date pattern: LC_TIME from the environment; the C/POSIX
// locale, or one whose format cannot be expressed, gives kFallbackDatePattern.
[[nodiscard]] std::string systemShortDatePattern();

// "(" + n + ")" + the clock's date in its short format.
[[nodiscard]] std::string serialStamp(long long n, const Clock& clock);

} // namespace tsl
