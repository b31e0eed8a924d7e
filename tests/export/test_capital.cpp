#include "export/capital.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

using tsl::out::capitalYuan;

// Written out by hand as a bank clerk would, one case per rule.
TEST(CapitalYuan, KnownAmounts) {
    const std::pair<std::int64_t, const char*> known[] = {
        {0, "零元整"}, {1, "壹元整"}, {15, "壹拾伍元整"}, {100, "壹佰元整"}, {101, "壹佰零壹元整"},
        {10, "壹拾元整"},                   // the leading 壹 of 壹拾 is kept on a receipt
        {110, "壹佰壹拾元整"}, {1010, "壹仟零壹拾元整"}, {1100, "壹仟壹佰元整"}, {12050, "壹万贰仟零伍拾元整"},
        {1001, "壹仟零壹元整"},             // two zeros read as one 零
        {10100, "壹万零壹佰元整"},          // a group under a thousand after 万 starts with 零
        {10000, "壹万元整"}, {10001, "壹万零壹元整"}, {11000, "壹万壹仟元整"}, {100010, "壹拾万零壹拾元整"},
        {101000, "壹拾万壹仟元整"}, {1000000, "壹佰万元整"}, {1000001, "壹佰万零壹元整"},
        {10000100, "壹仟万零壹佰元整"}, {100000000, "壹亿元整"}, {100100000, "壹亿零壹拾万元整"},
        {100000001, "壹亿零壹元整"},         // a whole group of zeros between is one 零
        {110000000, "壹亿壹仟万元整"}, {2147483647, "贰拾壹亿肆仟柒佰肆拾捌万叁仟陆佰肆拾柒元整"},
        {1000000000000, "壹万亿元整"}, {1000000000001, "壹万亿零壹元整"}, {10000000000000000, "壹亿亿元整"},
        {-1, "负壹元整"}, {-12050, "负壹万贰仟零伍拾元整"}, {-100010, "负壹拾万零壹拾元整"},
        {std::numeric_limits<std::int64_t>::max(),
         "玖佰贰拾贰亿亿叁仟叁佰柒拾贰万亿零叁佰陆拾捌亿伍仟肆佰柒拾柒万伍仟捌佰零柒元整"},
        {std::numeric_limits<std::int64_t>::min(),
         "负玖佰贰拾贰亿亿叁仟叁佰柒拾贰万亿零叁佰陆拾捌亿伍仟肆佰柒拾柒万伍仟捌佰零捌元整"},
    };
    for (const auto& [amount, text] : known)
        EXPECT_EQ(capitalYuan(amount), text) << amount;
}

// Whatever the amount, the text has no two 零 in a row, never ends a number
// with 零, and a negative amount reads as its magnitude after 负.
TEST(CapitalYuan, ZerosNeverDoubleNorTrail) {
    std::uint64_t x = 88172645463325252ull;
    for (int i = 0; i < 20000; ++i) {
        x ^= x << 13;
        x ^= x >> 7;
        x ^= x << 17;
        // Many zero digits: keep only some decimal places of a random number.
        std::int64_t v = std::int64_t(x % 1000000000000000000ull);
        for (std::int64_t p = 10; p < v && p < 100000000000000000; p *= 100)
            if ((x >> (p % 61)) & 1)
                v -= (v / p) % 10 * p;
        const std::string s = capitalYuan(v);
        SCOPED_TRACE(v);
        for (const char* never : {"零零", "零万", "零亿"})
            EXPECT_EQ(s.find(never), std::string::npos) << never;
        EXPECT_EQ(s.find("零元"), v == 0 ? 0u : std::string::npos);
        EXPECT_EQ(capitalYuan(-v), v == 0 ? s : "负" + s);
    }
}
