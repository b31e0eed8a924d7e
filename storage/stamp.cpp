#include "stamp.h"

#include <langinfo.h>
#include <locale.h>

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

int daysInMonth(int y, int m) {
    static constexpr int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && isLeap(y) ? 29 : days[m - 1];
}

// Reads between minDigits and maxDigits digits at text[at]; -1 when fewer are there.
int readDigits(std::string_view text, std::size_t& at, std::size_t minDigits, std::size_t maxDigits) {
    int v = 0;
    std::size_t n = 0;
    while (n < maxDigits && at < text.size() && text[at] >= '0' && text[at] <= '9') {
        v = v * 10 + (text[at] - '0');
        ++at;
        ++n;
    }
    return n >= minDigits ? v : -1;
}

} // namespace

std::optional<Date> parseDate(std::string_view pattern, std::string_view text, int referenceYear) {
    int day = -1, month = -1, year = -1;
    std::size_t at = 0;
    const bool fits = walkPattern(
        pattern,
        [&](std::string_view lit) {
            if (text.substr(at, lit.size()) != lit)
                return false;
            at += lit.size();
            return true;
        },
        [&](char letter, std::size_t run) {
            if (letter != 'y') {
                (letter == 'd' ? day : month) = readDigits(text, at, run >= 2 ? 2 : 1, 2);
                return (letter == 'd' ? day : month) >= 0;
            }
            const std::size_t width = run <= 2 ? 2 : 4;
            year = readDigits(text, at, width, width);
            if (year >= 0 && width == 2) {
                // The century that puts the year within [reference - 80, reference + 19].
                const int low = referenceYear - 80;
                int y = low - ((low % 100) + 100) % 100 + year;
                if (y < low)
                    y += 100;
                year = y;
            }
            return year >= 0;
        });
    if (!fits || at != text.size() || day < 1 || month < 1 || month > 12 || year < 0)
        return std::nullopt;
    if (day > daysInMonth(year, month))
        return std::nullopt;
    return Date{year, month, day};
}

std::string_view stampDatePart(std::string_view stamp) {
    const auto p = stamp.find(')');
    return p == std::string_view::npos ? stamp : stamp.substr(p + 1);
}

std::string stampWithDate(std::string_view stamp, std::string_view pattern, Date date) {
    const auto p = stamp.find(')');
    const std::string_view head = p == std::string_view::npos ? std::string_view() : stamp.substr(0, p + 1);
    return std::string(head) + formatDate(pattern, date);
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
