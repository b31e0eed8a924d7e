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
            // Characters formatDate would read as fields or quotes must be quoted
            // to stay literal.
            if (c == '\'')
                out += "\"'\"";
            else if (c == '"' || isFieldLetter(c))
                out.append({'\'', c, '\''});
            else
                out += c;
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

std::string systemShortDatePattern() {
    // Same precedence as the C library uses for LC_TIME.
    const char* name = nullptr;
    for (const char* var : {"LC_ALL", "LC_TIME", "LANG"}) {
        const char* v = std::getenv(var);
        if (v && *v) {
            name = v;
            break;
        }
    }
    const std::string_view n = name ? name : "";
    if (n.empty() || n == "C" || n == "POSIX" || n.starts_with("C."))
        return std::string(kFallbackDatePattern);

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

std::string SystemClock::shortDatePattern() const { return systemShortDatePattern(); }

std::string serialStamp(long long n, const Clock& clock) {
    return "(" + std::to_string(n) + ")" + formatDate(clock.shortDatePattern(), clock.today());
}

} // namespace tsl
