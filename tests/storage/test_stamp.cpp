#include "storage/stamp.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

using tsl::Date;
using tsl::formatDate;
using tsl::patternFromStrftime;

namespace {

struct FormatCase {
    const char* pattern;
    Date date;
    const char* expected;
};

} // namespace

TEST(FormatDate, FieldsPaddingYearsAndQuotes) {
    const Date d{2004, 1, 5};
    // clang-format off
    const FormatCase cases[] = {
        {"yyyy-M-d", {2004, 5, 12}, "2004-5-12"}, {"m/d/yy", d, "1/5/04"}, {"mm/dd/yy", d, "01/05/04"},
        {"dd.mm.yyyy", d, "05.01.2004"}, {"d.m.yyyy", {2004, 12, 31}, "31.12.2004"},
        {"DD/MM/YYYY", {1999, 2, 3}, "03/02/1999"}, {"D/M/Y", {1999, 2, 3}, "3/2/99"},
        {"ddd-mmmm", d, "05-01"}, // more letters still mean two digits
        {"y", {2000, 6, 1}, "00"}, {"yy", {2009, 6, 1}, "09"}, {"yyy", {2000, 6, 1}, "2000"},
        {"yyyyy", {2000, 6, 1}, "2000"}, {"yyyy", {987, 6, 1}, "0987"},
        {"dD", d, "05"},   // one field, whatever the case
        {"d d", d, "5 5"}, // a blank ends the run
        {"ymd", d, "0415"}, {"", d, ""}, {"-/. :", d, "-/. :"},
        {"yyyy\xE5\xB9\xB4m\xE6\x9C\x88" "d\xE6\x97\xA5", {2004, 5, 12},
         "2004\xE5\xB9\xB4" "5\xE6\x9C\x88" "12\xE6\x97\xA5"},
        // Quoted text is literal.
        {"'day' d", d, "day 5"}, {"\"month\" m", d, "month 1"}, {"'y'yy", d, "y04"},
        {"'say \"dmy\"' d", d, "say \"dmy\" 5"}, // the other quote is plain text inside
        {"\"it's\" m", d, "it's 1"},
        {"''d", d, "5"},                  // an empty quote vanishes
        {"d 'rest dmy", d, "5 rest dmy"}, // an open quote runs to the end
    };
    // clang-format on
    for (const auto& c : cases)
        EXPECT_EQ(formatDate(c.pattern, c.date), c.expected) << c.pattern;
}

TEST(PatternFromStrftime, SupportedConversions) {
    const std::pair<const char*, const char*> cases[] = {{"%m/%d/%y", "mm/dd/yy"},
                                                         {"%d.%m.%Y", "dd.mm.yyyy"},
                                                         {"%Y-%m-%d", "yyyy-mm-dd"},
                                                         {"%e/%m/%Y", "d/mm/yyyy"},
                                                         {"%Y\xE5\xB9\xB4%m\xE6\x9C\x88%d\xE6\x97\xA5",
                                                          "yyyy\xE5\xB9\xB4mm\xE6\x9C\x88"
                                                          "dd\xE6\x97\xA5"},
                                                         {"%%", "%"},
                                                         {"", ""}};
    for (const auto& [fmt, pattern] : cases)
        EXPECT_EQ(patternFromStrftime(fmt), pattern) << fmt;
}

TEST(PatternFromStrftime, UnsupportedGivesEmpty) {
    for (const char* fmt : {"%b", "%d %b %Y", "%x", "%D", "%F", "%Ey", "%Od", "%a %d", "%d/%m/%"}) {
        SCOPED_TRACE(fmt);
        EXPECT_EQ(patternFromStrftime(fmt), "");
    }
}

TEST(PatternFromStrftime, FormatsLikeStrftime) {
    // The converted pattern, run through formatDate, must print what the C
    // library prints for the original format, literal letters and quotes included.
    const char* formats[] = {"%m/%d/%y",  "%d.%m.%Y", "%Y-%m-%d", "%d %%",     "day %d of %m",
                             "%Y 'y' %m", "\"%d\"",   "DMY %y",   "%d'%m\"%Y", "Ymd%Y%m%d"};
    const Date dates[] = {{2004, 1, 5}, {2000, 12, 31}, {1999, 7, 9}};
    for (const char* fmt : formats) {
        for (const Date& d : dates) {
            SCOPED_TRACE(std::string(fmt) + " on " + std::to_string(d.year));
            std::tm tm{};
            tm.tm_year = d.year - 1900;
            tm.tm_mon = d.month - 1;
            tm.tm_mday = d.day;
            char buf[128];
            size_t n = std::strftime(buf, sizeof buf, fmt, &tm);
            std::string pattern = patternFromStrftime(fmt);
            ASSERT_FALSE(pattern.empty());
            EXPECT_EQ(formatDate(pattern, d), std::string(buf, n));
        }
    }
}

namespace {

// Sets the locale variables for one test and puts the old values back.
class LocaleEnv {
public:
    LocaleEnv() {
        for (const char* name : kNames) {
            const char* v = std::getenv(name);
            saved_.push_back(v ? std::optional<std::string>(v) : std::nullopt);
        }
        clear();
    }
    ~LocaleEnv() {
        for (size_t i = 0; i < std::size(kNames); ++i) {
            if (saved_[i])
                setenv(kNames[i], saved_[i]->c_str(), 1);
            else
                unsetenv(kNames[i]);
        }
    }
    void clear() {
        for (const char* name : kNames)
            unsetenv(name);
    }
    void set(const char* name, const char* value) { setenv(name, value, 1); }

private:
    static constexpr const char* kNames[] = {"LC_ALL", "LC_TIME", "LANG"};
    std::vector<std::optional<std::string>> saved_;
};

bool localeInstalled(const char* name) {
    locale_t loc = newlocale(LC_TIME_MASK, name, static_cast<locale_t>(0));
    if (loc == static_cast<locale_t>(0))
        return false;
    freelocale(loc);
    return true;
}

} // namespace

TEST(SystemShortDatePattern, CLocaleAndUnusableLocalesFallBack) {
    LocaleEnv env;
    const std::string fallback = "m/d/yy";

    EXPECT_EQ(tsl::systemShortDatePattern(), fallback) << "nothing set";
    for (const char* name : {"C", "POSIX", "C.UTF-8", "C.utf8", "xx_NOWHERE.UTF-8"}) {
        SCOPED_TRACE(name);
        env.clear();
        env.set("LC_ALL", name);
        EXPECT_EQ(tsl::systemShortDatePattern(), fallback);
    }
    // An empty variable is the same as an unset one.
    env.clear();
    env.set("LC_ALL", "");
    env.set("LC_TIME", "");
    env.set("LANG", "C");
    EXPECT_EQ(tsl::systemShortDatePattern(), fallback);
}

TEST(SystemShortDatePattern, UsesTheLocaleFormat) {
    for (const char* name : {"de_DE.UTF-8", "en_US.UTF-8"})
        ASSERT_TRUE(localeInstalled(name)) << "the " << name << " locale is not installed: run scripts/install-deps.sh";
    LocaleEnv env;
    env.set("LANG", "de_DE.UTF-8");
    EXPECT_EQ(tsl::systemShortDatePattern(), "dd.mm.yyyy");
    // LC_TIME wins over LANG, LC_ALL over both.
    env.set("LC_TIME", "en_US.UTF-8");
    EXPECT_EQ(tsl::systemShortDatePattern(), "mm/dd/yyyy");
    env.set("LC_ALL", "C");
    EXPECT_EQ(tsl::systemShortDatePattern(), "m/d/yy");
}

TEST(SystemClock, TodayIsTheLocalDate) {
    // Under UTC the local date is the civil date of the system clock, which
    // std::chrono computes on its own.
    const char* oldTz = std::getenv("TZ");
    std::optional<std::string> saved = oldTz ? std::optional<std::string>(oldTz) : std::nullopt;
    setenv("TZ", "UTC", 1);
    tzset();

    using namespace std::chrono;
    tsl::SystemClock clock("d.m.yyyy");
    Date got{};
    year_month_day expected{};
    for (int attempt = 0; attempt < 3; ++attempt) { // midnight may pass between the two reads
        auto before = year_month_day{floor<days>(system_clock::now())};
        got = clock.today();
        expected = year_month_day{floor<days>(system_clock::now())};
        if (before == expected)
            break;
    }

    if (saved)
        setenv("TZ", saved->c_str(), 1);
    else
        unsetenv("TZ");
    tzset();

    EXPECT_EQ(got.year, static_cast<int>(expected.year()));
    EXPECT_EQ(got.month, static_cast<int>(static_cast<unsigned>(expected.month())));
    EXPECT_EQ(got.day, static_cast<int>(static_cast<unsigned>(expected.day())));
}

TEST(SerialStamp, NumberInBracketsThenTheShortDate) {
    tsl::FixedClock clock({2004, 5, 12}, "yyyy-M-d");
    EXPECT_EQ(tsl::serialStamp(3, clock), "(3)2004-5-12");
    EXPECT_EQ(tsl::serialStamp(0, clock), "(0)2004-5-12");
    EXPECT_EQ(tsl::serialStamp(1234567890123LL, clock), "(1234567890123)2004-5-12");

    clock.set({2004, 1, 5});
    clock.setPattern("m/d/yy");
    EXPECT_EQ(tsl::serialStamp(17, clock), "(17)1/5/04");

    clock.setPattern("dd.mm.yyyy");
    EXPECT_EQ(tsl::serialStamp(17, clock), "(17)05.01.2004");
}

namespace {
constexpr int kRef = 2026; // two-digit years fall in 1946..2045
const std::string kZh = "yyyy\xE5\xB9\xB4m\xE6\x9C\x88" "d\xE6\x97\xA5"; // yyyy年m月d日

// A read date as text, so a table can say "none" where nothing is read.
std::string asText(const std::optional<Date>& d) {
    return d ? std::to_string(d->year) + "-" + std::to_string(d->month) + "-" + std::to_string(d->day) : "none";
}
} // namespace

TEST(DateReader, ReadsWhatFormatDateWrote) {
    // Days that test padding, month ends, leap years and the two-digit-year window;
    // a pattern's missing fields read as day 1 and the reference year. ("ymd" is left
    // out: 04128 is 2004-1-28 and 2004-12-8 alike.)
    const std::string patterns[] = {"yyyy/m/d", "m/d/yy", "mm/dd/yyyy", "dd.mm.yyyy", "d.m.yy", "yyyy-mm-dd",
                                    "yyyyMMdd", "yyyy'y'm'm'd'd'", "D/M/Y", "\"on\" d m yy", "dd-mm", "m yyyy",
                                    kZh, "yyyy\xE5\xB9\xB4mm\xE6\x9C\x88" "dd\xE6\x97\xA5"};
    std::vector<Date> days = {{2004, 2, 29}, {1999, 10, 10}};
    for (int year = kRef - 80; year <= kRef + 19; year += 7)
        for (int month = 1; month <= 12; ++month)
            for (int day : {1, 9, 10, 28, 31})
                if (day < 31 || (month != 2 && month != 4 && month != 6 && month != 9 && month != 11))
                    days.push_back({year, month, day});
    for (const auto& p : patterns) {
        const tsl::DateReader reader(p, kRef);
        const bool hasYear = p.find_first_of("yY") != std::string::npos;
        const bool hasDay = p.find_first_of("dD") != std::string::npos;
        for (const Date& d : days) {
            if (!hasYear && d.month == 2 && d.day == 29)
                continue; // read in the reference year, which has none
            const std::string text = formatDate(p, d);
            EXPECT_EQ(asText(reader.read(text)), asText(Date{hasYear ? d.year : kRef, d.month, hasDay ? d.day : 1}))
                << p << " " << text;
        }
    }
}

TEST(DateReader, LenientDigitsStrictEverythingElse) {
    struct Case {
        const char* pattern;
        const char* text;
        const char* expected;
        int ref = kRef;
    };
    // clang-format off
    const Case cases[] = {
        {"yyyy/m/d", "2026/12/8", "2026-12-8"}, {"yyyy/m/d", "2026/012/8", "none"}, // three digits are no month
        {"dd/mm/yyyy", "5/1/2004", "2004-1-5"}, {"dd.mm.yyyy", "5.01.2004", "2004-1-5"}, // one digit where it pads
        // Two-digit years within [ref - 80, ref + 19].
        {"m/d/yy", "5/12/04", "2004-5-12"}, {"m/d/yy", "5/12/45", "2045-5-12"}, {"m/d/yy", "5/12/46", "1946-5-12"},
        {"m/d/yy", "5/12/46", "2046-5-12", 2027}, {"m/d/yy", "1/5/68", "1968-1-5"}, {"m/d/yy", "2/29/00", "2000-2-29"},
        {"m/d/yy", "2/29/00", "none", 2150}, // 2100 is no leap year
        {"m/d/yy", "12/8/2026", "none"}, {"yyyy/m/d", "26/12/8", "none"}, // yy is two digits, yyyy four
        {"ymd", "0415", "2004-1-5"}, {"ymd", "69110", "1969-1-10"}, // widths found by stepping back; 11/0 is no day
        {"ymd", "041231", "2004-12-31"},
        // No such day.
        {"yyyy/m/d", "2026/13/1", "none"}, {"yyyy/m/d", "2026/0/1", "none"}, {"yyyy/m/d", "2026/4/31", "none"},
        {"yyyy/m/d", "2026/2/29", "none"}, {"yyyy/m/d", "1900/2/29", "none"}, {"yyyy/m/d", "2024/2/29", "2024-2-29"},
        {"yyyy/m/d", "2000/2/29", "2000-2-29"},
        // The text must fit the pattern whole.
        {"yyyy/m/d", "2026/12/8 ", "none"}, {"yyyy/m/d", " 2026/12/8", "none"}, {"yyyy/m/d", "2026-12-8", "none"},
        {"m/d/yy", "2004/5/12", "none"}, {"yyyy/m/d", "2004/5/", "none"}, {"yyyy/m/d", "", "none"},
        {"yyyy/m/d", "2026/+1/8", "none"}, {"'y'yy-m", "y26-3", "2026-3-1"}, {"'y'yy-m", "x26-3", "none"},
        // Fields left out or met twice; no month reads nothing.
        {"m/d", "5/12", "2026-5-12"}, {"m", "5", "1950-5-1", 1950}, {"m-m", "3-3", "2026-3-1"},
        {"m-m", "3-4", "none"}, {"d/yyyy", "5/2004", "none"},
    };
    // clang-format on
    for (const auto& c : cases)
        EXPECT_EQ(asText(tsl::DateReader(c.pattern, c.ref).read(c.text)), c.expected)
            << c.pattern << " <- \"" << c.text << "\" around " << c.ref;
}

TEST(StampDate, WhatFollowsTheFirstClosingBracketAndOnlyThatChanges) {
    const std::pair<const char*, const char*> parts[] = {
        {"(12)2004/5/12", "2004/5/12"}, {"(12)a)b", "a)b"}, {"(3)", ""}, {"2004/5/12", "2004/5/12"}, {"", ""}};
    for (const auto& [stamp, part] : parts)
        EXPECT_EQ(tsl::stampDatePart(stamp), part) << stamp;

    const struct {
        const char* stamp;
        const char* pattern;
        const char* expected;
    } rewrites[] = {{"(12)2004/5/12", "yyyy/m/d", "(12)2004/5/3"}, {"(7)5/12/04", "yyyy/m/d", "(7)2004/5/3"},
                    {"a)b)c", "d.m.yyyy", "a)3.5.2004"}, {"2004/5/12", "m/d/yy", "5/3/04"},
                    {"", "yyyy/m/d", "2004/5/3"}};
    for (const auto& r : rewrites)
        EXPECT_EQ(tsl::stampWithDate(r.stamp, r.pattern, {2004, 5, 3}), r.expected) << r.stamp;
}

TEST(StampDatePatterns, CurrentFirstThenTheOlderOnesOnce) {
    LocaleEnv env;
    env.set("LC_ALL", "C");
    using P = std::vector<std::string>;
    EXPECT_EQ(tsl::stampDatePatterns("yyyy/m/d"), (P{"yyyy/m/d", "m/d/yy", "yyyy-m-d", kZh}));
    EXPECT_EQ(tsl::stampDatePatterns("m/d/yy"), (P{"m/d/yy", "yyyy-m-d", "yyyy/m/d", kZh}));
    EXPECT_EQ(tsl::stampDatePatterns(""), (P{"m/d/yy", "yyyy-m-d", "yyyy/m/d", kZh}));
    if (localeInstalled("de_DE.UTF-8")) {
        env.set("LC_ALL", "de_DE.UTF-8");
        EXPECT_EQ(tsl::stampDatePatterns("dd.mm.yy"), (P{"dd.mm.yy", "dd.mm.yyyy", "m/d/yy", "yyyy-m-d", "yyyy/m/d", kZh}));
    }
}

TEST(StampDateReader, FirstPatternThatReadsTheDatePart) {
    // d.m before m/d: "3.4.26" is 3 April, "3/4/26" 4 March; the date part is
    // what follows the first ")" only, whatever brackets it holds itself.
    const tsl::StampDateReader r({"d.m.yy", "m/d/yy", "yyyy-m-d"}, 2026);
    const std::pair<const char*, const char*> cases[] = {
        {"(1)3.4.26", "2026-4-3"}, {"(2)3/4/26", "2026-3-4"}, {"(3)2004-2-29", "2004-2-29"},
        {"2025-12-31", "2025-12-31"}, {"(4)2004-2-30", "none"}, {"(5)(6)3.4.26", "none"}, {"(7)", "none"}, {"", "none"},
    };
    for (const auto& [stamp, date] : cases)
        EXPECT_EQ(asText(r.read(stamp)), date) << stamp;
    EXPECT_EQ(asText(r.readDatePart("3.4.26")), "2026-4-3");
    EXPECT_EQ(asText(r.readDatePart("(1)3.4.26")), "none"); // a date part is not cut again
    EXPECT_EQ(asText(tsl::StampDateReader({}, 2026).read("(1)3.4.26")), "none");
}
