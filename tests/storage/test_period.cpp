#include "storage/period.h"

#include <gtest/gtest.h>

using tsl::Date;
using tsl::InPeriod;
using tsl::Period;
using tsl::QuickPeriod;

TEST(Period, QuickPicksAroundToday) {
    struct Case {
        QuickPeriod pick;
        Date today;
        Period want;
    };
    // clang-format off
    const Case cases[] = {
        {QuickPeriod::ThisMonth, {2024, 2, 10}, {Date{2024, 2, 1}, Date{2024, 2, 29}}},
        {QuickPeriod::ThisMonth, {2026, 12, 31}, {Date{2026, 12, 1}, Date{2026, 12, 31}}},
        {QuickPeriod::LastMonth, {2026, 1, 15}, {Date{2025, 12, 1}, Date{2025, 12, 31}}},
        {QuickPeriod::LastMonth, {2026, 3, 31}, {Date{2026, 2, 1}, Date{2026, 2, 28}}},
        {QuickPeriod::ThisQuarter, {2026, 3, 31}, {Date{2026, 1, 1}, Date{2026, 3, 31}}},
        {QuickPeriod::ThisQuarter, {2026, 4, 1}, {Date{2026, 4, 1}, Date{2026, 6, 30}}},
        {QuickPeriod::ThisQuarter, {2026, 12, 9}, {Date{2026, 10, 1}, Date{2026, 12, 31}}},
        {QuickPeriod::WholeYear, {2026, 7, 4}, {Date{2026, 1, 1}, Date{2026, 12, 31}}},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << int(c.pick) << " " << c.today.year << "-" << c.today.month << "-" << c.today.day);
        EXPECT_EQ(tsl::quickPeriod(c.pick, c.today), c.want);
    }
}

TEST(Period, IsoDatesOnlyWhenTheCalendarHasThem) {
    EXPECT_EQ(tsl::readIsoDate("2026-12-09"), (Date{2026, 12, 9}));
    EXPECT_EQ(tsl::readIsoDate("2026-1-9"), (Date{2026, 1, 9}));
    EXPECT_EQ(tsl::readIsoDate("2024-02-29"), (Date{2024, 2, 29}));
    for (const char* bad : {"2026-02-29", "1900-02-29", "2026-04-31", "2026-13-01", "2026-00-10", "2026-01-00", "26-01-01",
                            "2026-001-01", "2026/01/01", "2026-01-01 ", " 2026-01-01", "2026-01-1x", "2026-01", "", "-2026-01-01"})
        EXPECT_FALSE(tsl::readIsoDate(bad)) << bad;
}

TEST(Period, RowsInsideOutsideOrUndated) {
    const tsl::StampDateReader dates({"yyyy-m-d"}, 2026);
    const Period dec{Date{2026, 12, 1}, Date{2026, 12, 31}};
    EXPECT_EQ(tsl::placeInPeriod(dec, dates, "(1)2026-12-1"), InPeriod::Inside);   // both ends count
    EXPECT_EQ(tsl::placeInPeriod(dec, dates, "(2)2026-12-31"), InPeriod::Inside);
    EXPECT_EQ(tsl::placeInPeriod(dec, dates, "(3)2026-11-30"), InPeriod::Outside);
    EXPECT_EQ(tsl::placeInPeriod(dec, dates, "(4)2027-1-1"), InPeriod::Outside);
    EXPECT_EQ(tsl::placeInPeriod(dec, dates, "(5)十二月"), InPeriod::Undated);
    EXPECT_EQ(tsl::placeInPeriod(dec, dates, ""), InPeriod::Undated);
    // One end open.
    EXPECT_EQ(tsl::placeInPeriod({Date{2026, 6, 1}, {}}, dates, "(6)2030-1-1"), InPeriod::Inside);
    EXPECT_EQ(tsl::placeInPeriod({{}, Date{2026, 6, 1}}, dates, "(7)2026-6-2"), InPeriod::Outside);
    // The whole ledger keeps every row, read or not.
    EXPECT_EQ(tsl::placeInPeriod({}, dates, "(8)十二月"), InPeriod::Inside);
}
