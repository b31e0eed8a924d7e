#pragma once
#include <compare>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tsl {

struct Date {
    int year = 1970;
    int month = 1; // 1..12
    int day = 1;   // 1..31
    friend auto operator<=>(const Date&, const Date&) = default;
};

// 28..31; month 1..12.
[[nodiscard]] int daysInMonth(int year, int month);

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

// Reads dates written by formatDate with one pattern, taken apart once. d and m
// take one or two digits whatever their count in the pattern (a pattern changed
// from d to dd still reads the old dates); y takes exactly two digits when it
// stands alone or doubled, exactly four from three letters on. A two-digit year
// falls within [referenceYear - 80, referenceYear + 19]. Every other character,
// quoted or not, must be there as it stands, and nothing may follow. The date must
// exist (no 31 April, 29 February only in a leap year). A pattern without a month
// reads nothing; a missing day reads as 1, a missing year as referenceYear.
class DateReader {
public:
    DateReader(std::string_view pattern, int referenceYear);
    [[nodiscard]] std::optional<Date> read(std::string_view text) const;

private:
    struct Piece {
        char field = 0;      // 'd', 'm', 'y'; 0 for literal text
        int minDigits = 0;
        int maxDigits = 0;
        std::string literal; // for field 0
    };
    [[nodiscard]] bool match(std::size_t piece, std::string_view rest, int (&values)[3]) const;
    [[nodiscard]] std::optional<Date> toDate(const int (&values)[3]) const; // day, month, year; -1 unset

    std::vector<Piece> pieces_;
    bool hasMonth_ = false;
    int referenceYear_;
    int lowestYear_;  // of the two-digit years
    int centuryBase_; // lowestYear_ rounded down to a hundred
};

// The date part of a serial stamp: what follows its first ")". A stamp without
// one has no "(n)" to keep, so all of it is the date part.
[[nodiscard]] std::string_view stampDatePart(std::string_view stamp);

// The stamp with its date part replaced by the date in the pattern; "(n)" stays.
[[nodiscard]] std::string stampWithDate(std::string_view stamp, std::string_view pattern, Date date);

// The patterns a ledger's stamps may be written in, the likeliest first and
// without repeats: `current` (what new stamps get), the C library's date format
// (what stamps got before the desktop's short format was used), the fallback
// m/d/yy, then the year-first dates of Chinese desktops: yyyy-m-d, yyyy/m/d and
// yyyy年m月d日 (whatever the locale the ledger is read under now).
[[nodiscard]] std::vector<std::string> stampDatePatterns(std::string_view current);

// Reads a stamp's date with the first of several patterns that reads it (as
// stampDatePatterns lists them), each taken apart once.
class StampDateReader {
public:
    StampDateReader(const std::vector<std::string>& patterns, int referenceYear);
    [[nodiscard]] std::optional<Date> read(std::string_view stamp) const { return readDatePart(stampDatePart(stamp)); }
    // The same for a date part already taken from its stamp.
    [[nodiscard]] std::optional<Date> readDatePart(std::string_view text) const;

private:
    std::vector<DateReader> readers_;
};

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
