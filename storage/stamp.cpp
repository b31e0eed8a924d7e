#include "storage/stamp.h"

#include <langinfo.h>
#include <locale.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace tsl {

namespace {

char lower(char c) noexcept { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool isFieldLetter(char c) noexcept {
    char l = lower(c);
    return l == 'd' || l == 'm' || l == 'y';
}

// A literal character in our notation: quoted when it would read as a field or a quote.
void appendLiteral(std::string& out, char c) {
    if (c == '\'')
        out += "\"'\"";
    else if (c == '"' || isFieldLetter(c))
        out.append({'\'', c, '\''});
    else
        out += c;
}

void appendNumber(std::string& out, int value, int width) {
    char buf[16];
    int n = std::snprintf(buf, sizeof buf, "%0*d", width, value);
    out.append(buf, static_cast<std::size_t>(n));
}

// Walks a pattern: quoted text and every other character go to `literal`, runs
// of d, m or y (either case) to `field` with the letter in lower case and the
// run's length. Stops when a callback returns false; false then.
template <class Literal, class Field>
bool walkPattern(std::string_view pattern, Literal&& literal, Field&& field) {
    std::size_t i = 0;
    while (i < pattern.size()) {
        const char c = pattern[i];
        if (c == '\'' || c == '"') {
            // Quoted text is literal; an unclosed quote runs to the end.
            std::size_t close = pattern.find(c, i + 1);
            if (close == std::string_view::npos)
                close = pattern.size();
            if (!literal(pattern.substr(i + 1, close - i - 1)))
                return false;
            i = close + 1;
            continue;
        }
        if (!isFieldLetter(c)) {
            if (!literal(pattern.substr(i, 1)))
                return false;
            ++i;
            continue;
        }
        const char letter = lower(c);
        std::size_t run = 0;
        while (i < pattern.size() && lower(pattern[i]) == letter) {
            ++run;
            ++i;
        }
        if (!field(letter, run))
            return false;
    }
    return true;
}

} // namespace

std::string formatDate(std::string_view pattern, Date date) {
    std::string out;
    walkPattern(
        pattern,
        [&](std::string_view lit) {
            out.append(lit);
            return true;
        },
        [&](char letter, std::size_t run) {
            switch (letter) {
            case 'd':
                appendNumber(out, date.day, run >= 2 ? 2 : 1);
                break;
            case 'm':
                appendNumber(out, date.month, run >= 2 ? 2 : 1);
                break;
            default: // 'y'
                if (run <= 2)
                    appendNumber(out, ((date.year % 100) + 100) % 100, 2);
                else
                    appendNumber(out, date.year, 4);
                break;
            }
            return true;
        });
    return out;
}

namespace {

bool isLeap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

} // namespace

int daysInMonth(int y, int m) {
    static constexpr int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && isLeap(y) ? 29 : days[m - 1];
}

DateReader::DateReader(std::string_view pattern, int referenceYear)
    : referenceYear_(referenceYear), lowestYear_(referenceYear - 80),
      centuryBase_(lowestYear_ - ((lowestYear_ % 100) + 100) % 100) {
    walkPattern(
        pattern,
        [this](std::string_view text) {
            if (text.empty())
                return true;
            if (pieces_.empty() || pieces_.back().field != 0)
                pieces_.push_back(Piece{});
            pieces_.back().literal.append(text);
            return true;
        },
        [this](char letter, std::size_t run) {
            Piece p;
            p.field = letter;
            if (letter == 'y') {
                p.minDigits = p.maxDigits = run <= 2 ? 2 : 4;
            } else {
                p.minDigits = 1;
                p.maxDigits = 2;
            }
            hasMonth_ = hasMonth_ || letter == 'm';
            pieces_.push_back(std::move(p));
            return true;
        });
}

std::optional<Date> DateReader::toDate(const int (&values)[3]) const {
    const Date d{values[2] < 0 ? referenceYear_ : values[2], values[1], values[0] < 0 ? 1 : values[0]};
    if (d.month < 1 || d.month > 12 || d.day < 1 || d.day > daysInMonth(d.year, d.month))
        return std::nullopt;
    return d;
}

// Fields next to each other ("ymd") leave the widths open: try the longest
// first and step back when the rest does not match.
bool DateReader::match(std::size_t piece, std::string_view rest, int (&values)[3]) const {
    if (piece == pieces_.size())
        return rest.empty() && toDate(values).has_value(); // "ymd" of 69110 is 1969-1-10, not 1969-11-0
    const Piece& p = pieces_[piece];
    if (p.field == 0) {
        if (!rest.starts_with(p.literal))
            return false;
        return match(piece + 1, rest.substr(p.literal.size()), values);
    }
    int digits = 0;
    while (digits < p.maxDigits && std::size_t(digits) < rest.size() && rest[digits] >= '0' && rest[digits] <= '9')
        ++digits;
    const int slot = p.field == 'd' ? 0 : p.field == 'm' ? 1 : 2;
    for (int width = digits; width >= p.minDigits; --width) {
        int v = 0;
        for (int k = 0; k < width; ++k)
            v = v * 10 + (rest[k] - '0');
        if (p.field == 'y' && p.maxDigits == 2) {
            v += centuryBase_;
            if (v < lowestYear_)
                v += 100;
        }
        // A field met twice must say the same both times.
        const int before = values[slot];
        if (before >= 0 && before != v)
            continue;
        values[slot] = v;
        if (match(piece + 1, rest.substr(std::size_t(width)), values))
            return true;
        values[slot] = before;
    }
    return false;
}

std::optional<Date> DateReader::read(std::string_view text) const {
    if (!hasMonth_)
        return std::nullopt;
    int values[3] = {-1, -1, -1}; // day, month, year
    if (!match(0, text, values))
        return std::nullopt;
    return toDate(values);
}

std::string_view stampDatePart(std::string_view stamp) {
    const auto p = stamp.find(')');
    return p == std::string_view::npos ? stamp : stamp.substr(p + 1);
}

std::string stampWithDate(std::string_view stamp, std::string_view pattern, Date date) {
    return std::string(stamp.substr(0, stamp.size() - stampDatePart(stamp).size())) + formatDate(pattern, date);
}

StampDateReader::StampDateReader(const std::vector<std::string>& patterns, int referenceYear) {
    readers_.reserve(patterns.size());
    for (const auto& p : patterns)
        readers_.emplace_back(p, referenceYear);
}

std::optional<Date> StampDateReader::readDatePart(std::string_view text) const {
    for (const auto& r : readers_)
        if (auto d = r.read(text))
            return d;
    return std::nullopt;
}

std::vector<std::string> stampDatePatterns(std::string_view current) {
    std::vector<std::string> out;
    // The year-first patterns read no text another pattern reads differently, so
    // offering them always costs nothing: a ledger written on a Chinese desktop
    // keeps its months when read under another locale.
    for (std::string p : {std::string(current), systemShortDatePattern(), std::string(kFallbackDatePattern),
                          std::string("yyyy-m-d"), std::string("yyyy/m/d"), std::string("yyyy年m月d日")}) {
        if (!p.empty() && std::find(out.begin(), out.end(), p) == out.end())
            out.push_back(std::move(p));
    }
    return out;
}

std::string patternFromStrftime(std::string_view fmt) {
    std::string out;
    for (std::size_t i = 0; i < fmt.size(); ++i) {
        char c = fmt[i];
        if (c != '%') {
            appendLiteral(out, c);
            continue;
        }
        if (++i == fmt.size())
            return {};
        switch (fmt[i]) {
        case 'd': out += "dd"; break;
        case 'e': out += "d"; break;
        case 'm': out += "mm"; break;
        case 'y': out += "yy"; break;
        case 'Y': out += "yyyy"; break;
        case '%': out += "%"; break;
        default: return {};
        }
    }
    return out;
}

namespace {

// Same precedence as the C library uses for LC_TIME; null when none is set.
const char* timeLocaleName() {
    for (const char* var : {"LC_ALL", "LC_TIME", "LANG"}) {
        const char* v = std::getenv(var);
        if (v && *v)
            return v;
    }
    return nullptr;
}

} // namespace

std::string patternFromQtDateFormat(std::string_view fmt) {
    std::string out;
    bool anyField = false;
    std::size_t i = 0;
    while (i < fmt.size()) {
        const char c = fmt[i];
        if (c == '\'') {
            if (i + 1 < fmt.size() && fmt[i + 1] == '\'') { // '' is a quote
                appendLiteral(out, '\'');
                i += 2;
                continue;
            }
            // Quoted text runs to the next lone quote; '' inside stands for a quote.
            ++i;
            while (i < fmt.size()) {
                if (fmt[i] == '\'') {
                    if (i + 1 < fmt.size() && fmt[i + 1] == '\'') {
                        appendLiteral(out, '\'');
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                appendLiteral(out, fmt[i++]);
            }
            continue;
        }
        if (c != 'd' && c != 'M' && c != 'y') {
            appendLiteral(out, c);
            ++i;
            continue;
        }
        std::size_t run = 0;
        while (i < fmt.size() && fmt[i] == c) {
            ++run;
            ++i;
        }
        anyField = true;
        if (c == 'y') {
            out += run <= 2 ? "yy" : "yyyy";
        } else if (run >= 3) {
            // A name: the weekday has no number here, the month becomes one.
            if (c == 'M') {
                out += "mm";
            } else { // the weekday goes, with the blanks and commas that set it apart
                while (!out.empty() && (out.back() == ' ' || out.back() == ','))
                    out.pop_back();
                while (i < fmt.size() && (fmt[i] == ' ' || fmt[i] == ','))
                    ++i;
            }
        } else {
            out.append(run, c == 'M' ? 'm' : 'd');
        }
    }
    return anyField ? out : std::string();
}

bool timeLocaleIsPosix() {
    const char* name = timeLocaleName();
    const std::string_view n = name ? name : "";
    return n.empty() || n == "C" || n == "POSIX" || n.starts_with("C.");
}

std::string systemShortDatePattern() {
    if (timeLocaleIsPosix())
        return std::string(kFallbackDatePattern);
    const char* name = timeLocaleName();

    // A private locale object: setlocale would change the whole process.
    locale_t loc = newlocale(LC_TIME_MASK, name, static_cast<locale_t>(0));
    if (loc == static_cast<locale_t>(0))
        return std::string(kFallbackDatePattern);
    const char* fmt = nl_langinfo_l(D_FMT, loc);
    std::string pattern = patternFromStrftime(fmt ? fmt : "");
    freelocale(loc);
    if (pattern.empty())
        return std::string(kFallbackDatePattern);
    return pattern;
}

Date SystemClock::today() const {
    std::time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    return Date{tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday};
}

std::string serialStamp(long long n, const Clock& clock) {
    return "(" + std::to_string(n) + ")" + formatDate(clock.shortDatePattern(), clock.today());
}

} // namespace tsl
