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

} // namespace

std::string formatDate(std::string_view pattern, Date date) {
    std::string out;
    std::size_t i = 0;
    while (i < pattern.size()) {
        char c = pattern[i];
        if (c == '\'' || c == '"') {
            // Quoted text is literal; an unclosed quote runs to the end.
            std::size_t close = pattern.find(c, i + 1);
            if (close == std::string_view::npos)
                close = pattern.size();
            out.append(pattern.substr(i + 1, close - i - 1));
            i = close + 1;
            continue;
        }
        if (!isFieldLetter(c)) {
            out.push_back(c);
            ++i;
            continue;
        }
        const char letter = lower(c);
        std::size_t run = 0;
        while (i < pattern.size() && lower(pattern[i]) == letter) {
            ++run;
            ++i;
        }
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
