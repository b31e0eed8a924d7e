// A settlement cut to a period: the rows of the period, the undated ones apart,
// the total of the period's rows only.
#include "books/settlement.h"
#include "storage/stamp.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using tsl::Date;
using tsl::Period;
using Rows = std::vector<std::vector<std::string>>;

namespace {

tsl::books::Settlement workerSettlement() {
    tsl::books::Settlement s;
    s.table = "4";
    s.name = "小王";
    s.fields = {"日期", "职工姓名", "工种", "数量", "金额"};
    s.rows = {
        {"(1)2026-11-30", "小王", "套口", "1", "1"},
        {"(2)2026-12-1", "小王", "套口", "1", "2"},
        {"(3)12/15/26", "小王", "套口", "1", "4"},   // the desktop's other pattern
        {"(4)某天", "小王", "套口", "1", "8"},        // no date to read
        {"(5)2026年12月31日", "小王", "套口", "1", "16"},
        {"(6)2027-1-1", "小王", "套口", "1", "32"},
        {"", "小王", "套口", "1", "64"},             // no stamp at all
    };
    s.total = 127;
    return s;
}

} // namespace

TEST(PeriodSettlement, RowsOfThePeriodUndatedApartTotalOfThePeriodOnly) {
    const tsl::StampDateReader dates(tsl::stampDatePatterns("yyyy-m-d"), 2026);
    const auto& all = workerSettlement().rows;
    struct Case {
        const char* what;
        Period period;
        std::vector<int> inside; // positions in `all`
        std::int64_t total;
    };
    const Case cases[] = {
        {"December", {Date{2026, 12, 1}, Date{2026, 12, 31}}, {1, 2, 4}, 22},
        {"from December on", {Date{2026, 12, 1}, std::nullopt}, {1, 2, 4, 5}, 54},
        {"up to November", {std::nullopt, Date{2026, 11, 30}}, {0}, 1},
        {"one day", {Date{2026, 12, 15}, Date{2026, 12, 15}}, {2}, 4},
        {"a year with none", {Date{2020, 1, 1}, Date{2020, 12, 31}}, {}, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const auto cut = tsl::books::inPeriod(workerSettlement(), c.period, dates);
        Rows want;
        for (int i : c.inside)
            want.push_back(all[std::size_t(i)]);
        EXPECT_EQ(cut.rows, want);
        EXPECT_EQ(cut.total, c.total);
        EXPECT_EQ(cut.undated, (Rows{all[3], all[6]})); // listed in every period, never dropped
        EXPECT_EQ(cut.period, c.period);
        EXPECT_FALSE(cut.empty());
    }
}

TEST(PeriodSettlement, WholeLedgerLeavesItAsItIs) {
    const tsl::StampDateReader dates(tsl::stampDatePatterns("yyyy-m-d"), 2026);
    const auto cut = tsl::books::inPeriod(workerSettlement(), Period{}, dates);
    EXPECT_EQ(cut.rows, workerSettlement().rows);
    EXPECT_EQ(cut.total, 127);
    EXPECT_TRUE(cut.undated.empty());
}

TEST(PeriodSettlement, NothingInThePeriodIsEmpty) {
    const tsl::StampDateReader dates(tsl::stampDatePatterns("yyyy-m-d"), 2026);
    auto s = workerSettlement();
    s.rows = {s.rows[0], s.rows[1]};
    const auto cut = tsl::books::inPeriod(s, Period{Date{2025, 1, 1}, Date{2025, 1, 31}}, dates);
    EXPECT_TRUE(cut.empty());
    EXPECT_EQ(cut.total, 0);
}
