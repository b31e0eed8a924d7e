#include "stamp.h"

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
    if (!localeInstalled("de_DE.UTF-8") || !localeInstalled("en_US.UTF-8"))
        GTEST_SKIP() << "de_DE.UTF-8 and en_US.UTF-8 are not installed";
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

// ---- reading a stamp's date back ----

TEST(ParseDate, ReadsWhatFormatDateWrites) {
    // Every pattern of the desktop kinds, over days that test padding, month ends and leap years.
    const char* patterns[] = {"yyyy/m/d", "m/d/yy", "dd.mm.yyyy", "d.m.yyyy", "yyyy-mm-dd", "yyyyMMdd",
                              "dd/mm/yy", "yyyy'y'm'm'd", "yyyy\xE5\xB9\xB4m\xE6\x9C\x88" "d\xE6\x97\xA5"};
    const Date days[] = {{2004, 1, 5}, {2004, 2, 29}, {2026, 12, 31}, {1999, 10, 10}, {2010, 11, 1}};
    for (const char* p : patterns) {
        for (const Date& d : days) {
            const std::string text = formatDate(p, d);
            const auto back = tsl::parseDate(p, text, 2026);
            ASSERT_TRUE(back.has_value()) << p << " " << text;
            EXPECT_EQ(back->year, d.year) << p << " " << text;
            EXPECT_EQ(back->month, d.month) << p << " " << text;
            EXPECT_EQ(back->day, d.day) << p << " " << text;
        }
    }
}

TEST(ParseDate, RefusesWhatDoesNotFitOrIsNoDay) {
    const struct {
        const char* pattern;
        const char* text;
    } bad[] = {
        {"yyyy/m/d", "2004-5-12"},  // another desktop's pattern
        {"m/d/yy", "2004/5/12"},    {"yyyy/m/d", "2004/5/12 "}, {"yyyy/m/d", "2004/5/"},
        {"yyyy/m/d", "2004/13/1"},  {"yyyy/m/d", "2005/2/29"},  {"yyyy/m/d", "2004/4/31"},
        {"yyyy/m/d", "2004/0/1"},   {"dd.mm.yyyy", "5.01.2004"}, {"yyyy/m/d", "04/5/12"},
        {"yyyy/m/d", ""},           {"m/d", "5/12"}, // no year to read
        {"yyyy/m/d", "2004/123/1"},
    };
    for (const auto& b : bad)
        EXPECT_FALSE(tsl::parseDate(b.pattern, b.text, 2026).has_value()) << b.pattern << " " << b.text;
}

TEST(ParseDate, TwoDigitYearsNearTheReference) {
    EXPECT_EQ(tsl::parseDate("m/d/yy", "5/12/04", 2026)->year, 2004);
    EXPECT_EQ(tsl::parseDate("m/d/yy", "5/12/45", 2026)->year, 2045);
    EXPECT_EQ(tsl::parseDate("m/d/yy", "5/12/46", 2026)->year, 1946);
    EXPECT_EQ(tsl::parseDate("m/d/yy", "5/12/99", 2026)->year, 1999);
    EXPECT_EQ(tsl::parseDate("m/d/yy", "2/29/00", 2026)->year, 2000);
}

TEST(StampDate, OnlyTheDatePartChanges) {
    EXPECT_EQ(tsl::stampDatePart("(12)2004/5/12"), "2004/5/12");
    EXPECT_EQ(tsl::stampDatePart("2004/5/12"), "2004/5/12");
    EXPECT_EQ(tsl::stampDatePart("(3)"), "");
    EXPECT_EQ(tsl::stampWithDate("(12)2004/5/12", "yyyy/m/d", {2004, 6, 1}), "(12)2004/6/1");
    EXPECT_EQ(tsl::stampWithDate("(7)5/12/04", "yyyy/m/d", {2004, 5, 3}), "(7)2004/5/3");
    EXPECT_EQ(tsl::stampWithDate("a)b)c", "d.m.yyyy", {2004, 5, 3}), "a)3.5.2004");
    EXPECT_EQ(tsl::stampWithDate("", "yyyy/m/d", {2004, 5, 3}), "2004/5/3");
}
