#include "storage/error.h"
#include "storage/intconv.h"

#include <gtest/gtest.h>

#include <charconv>
#include <cstdint>
#include <limits>
#include <optional>
#include <random>
#include <string>
#include <string_view>

using tsl::intToStr;
using tsl::strToInt;
using tsl::tryStrToInt;

namespace {

struct Accepted {
    std::string_view text;
    std::int32_t value;
};

// clang-format off
// Texts that must convert, with the value worked out by hand.
constexpr Accepted kAccepted[] = {
    {"0", 0}, {"-0", 0}, {"+0", 0}, {"7", 7}, {"007", 7}, {"+42", 42}, {"-42", -42}, {"   12", 12}, {" -5", -5},
    {"2147483647", 2147483647}, {"+2147483647", 2147483647}, {"-2147483648", std::numeric_limits<std::int32_t>::min()},
    {"2147483646", 2147483646}, {"-2147483647", -2147483647}, {"0000000000002147483647", 2147483647},
    {"-0000000000002147483648", std::numeric_limits<std::int32_t>::min()},
    {"00000000000000000000000000000000000000", 0},
    {"$0", 0}, {"$1a", 26}, {"$1A", 26}, {"x1a", 26}, {"X1A", 26}, {"0x1A", 26}, {"0X1a", 26}, {"0x0", 0},
    {"  $ff", 255}, {"$7FFFFFFF", 2147483647}, {"$FFFFFFFF", -1}, {"$ffffffff", -1},
    {"0x80000000", std::numeric_limits<std::int32_t>::min()}, {"0x80000001", -2147483647}, {"$000000001", 1},
    {"x0000000000000000FFFFFFFF", -1}, {"$DeadBeef", static_cast<std::int32_t>(0xDEADBEEFu)},
};

// Texts that must fail, each for a different reason.
constexpr std::string_view kRejected[] = {
    "", " ", "     ", "2147483648", "+2147483648", "-2147483649", "99999999999", "-99999999999999999999999",
    "00000000000002147483648", "$100000000", "0x100000000", "$1FFFFFFFF", "0x", "0X", "$", "x", "X", "+", "-",
    " -", "+$10", "-$10", "-0x5", "+0x5", "0x-5", "$-5", "$+5", "00x1", "0$1", "x0x1", "1x", "12 ", "12  ", "$1 ",
    "1 2", "- 1", "+-1", "--1", "++1", "\t12", "12\t", "\n12", "12\n", "\r12", "1a", "a1", "g", "$g", "0xg1",
    "1.0", "1,000", "1e3", "0b1", "0o7", "#ff", "&HFF",
    "\xC2\xA0" "12", "12\xC2\xA0",                 // no-break space
    "\xEF\xBC\x91\xEF\xBC\x92", "1\xEF\xBC\x92", // full-width 12, ASCII 1 then full-width 2
    "\xD9\xA1\xD9\xA2", "\xE0\xA5\xA7",           // Arabic-Indic 12, Devanagari 1
    "\xE2\x88\x92" "5", "$\xEF\xBC\xA6",           // minus sign, full-width F
};
// clang-format on

} // namespace

TEST(StrToInt, AcceptedTexts) {
    for (const auto& c : kAccepted) {
        SCOPED_TRACE(std::string("text: '") + std::string(c.text) + "'");
        auto got = tryStrToInt(c.text);
        ASSERT_TRUE(got.has_value());
        EXPECT_EQ(*got, c.value);
        EXPECT_EQ(strToInt(c.text), c.value);
    }
}

TEST(StrToInt, RejectedTexts) {
    for (auto text : kRejected) {
        SCOPED_TRACE(std::string("text: '") + std::string(text) + "'");
        EXPECT_FALSE(tryStrToInt(text).has_value());
        EXPECT_THROW((void)strToInt(text), tsl::ConvertError);
    }
}

TEST(StrToInt, EmbeddedNulIsNotTheEnd) {
    using namespace std::string_view_literals;
    EXPECT_FALSE(tryStrToInt("12\0"sv).has_value());
    EXPECT_FALSE(tryStrToInt("\0"
                             "12"sv)
                     .has_value());
    EXPECT_FALSE(tryStrToInt("$1\0"sv).has_value());
    // Only the given length counts: the digits after it are not read.
    EXPECT_EQ(tryStrToInt(std::string_view("123456", 3)), 123);
}

// The message quotes the whole text; the error is a storage error too, so
// callers that only know tsl::Error still see it.
TEST(StrToInt, MessageQuotesTheWholeText) {
    for (std::string_view text : {"abc", "", "   ", "  12 ", "$100000000", "\xEF\xBC\x91"}) {
        try {
            (void)strToInt(text);
            ADD_FAILURE() << text;
        } catch (const tsl::Error& e) {
            EXPECT_EQ(std::string(e.what()), "'" + std::string(text) + "' is not a valid integer value");
            EXPECT_NE(dynamic_cast<const tsl::ConvertError*>(&e), nullptr);
        }
    }
}

namespace {

// A second reading of the rules, built from std::from_chars instead of a
// hand-written scanner: classify the text, strip leading zeros, bound the
// number of digits, then let the library convert.
std::optional<std::int32_t> model(std::string_view text) {
    while (!text.empty() && text.front() == ' ')
        text.remove_prefix(1);
    if (text.empty())
        return std::nullopt;

    auto allOf = [](std::string_view s, auto pred) {
        for (char c : s)
            if (!pred(static_cast<unsigned char>(c)))
                return false;
        return true;
    };
    auto isDec = [](unsigned char c) { return c >= '0' && c <= '9'; };
    auto isHex = [](unsigned char c) {
        return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
    };
    auto stripZeros = [](std::string_view s) {
        while (s.size() > 1 && s.front() == '0')
            s.remove_prefix(1);
        return s;
    };

    std::string_view digits;
    bool hex = false;
    bool negative = false;
    if (text.starts_with("0x") || text.starts_with("0X")) {
        hex = true;
        digits = text.substr(2);
    } else if (text.front() == '$' || text.front() == 'x' || text.front() == 'X') {
        hex = true;
        digits = text.substr(1);
    } else if (text.front() == '+' || text.front() == '-') {
        negative = text.front() == '-';
        digits = text.substr(1);
    } else {
        digits = text;
    }
    if (digits.empty())
        return std::nullopt;

    if (hex) {
        if (!allOf(digits, isHex))
            return std::nullopt;
        digits = stripZeros(digits);
        if (digits.size() > 8)
            return std::nullopt;
        std::uint32_t u = 0;
        std::from_chars(digits.data(), digits.data() + digits.size(), u, 16);
        return static_cast<std::int32_t>(u);
    }
    if (!allOf(digits, isDec))
        return std::nullopt;
    digits = stripZeros(digits);
    if (digits.size() > 11)
        return std::nullopt;
    std::int64_t v = 0;
    std::from_chars(digits.data(), digits.data() + digits.size(), v, 10);
    if (negative)
        v = -v;
    if (v < std::numeric_limits<std::int32_t>::min() || v > std::numeric_limits<std::int32_t>::max())
        return std::nullopt;
    return static_cast<std::int32_t>(v);
}

} // namespace

TEST(StrToInt, AgreesWithModelOnGeneratedTexts) {
    std::mt19937_64 rng(20040512);
    auto pick = [&](std::string_view from) { return from[rng() % from.size()]; };
    constexpr std::string_view alphabet = " +-$xX0123456789abcdefABCDEFg";
    constexpr std::string_view prefixes[] = {"",   "",   "",   "+",   "-",   "$", "x", "X",
                                             "0x", "0X", "+$", "-0x", "00x", " ", "0"};
    // Values around the places where the range checks bite.
    constexpr std::int64_t anchors[] = {0,          2147483647LL, 2147483648LL, 4294967295LL, 4294967296LL,
                                        99999999LL, 1000000000LL};

    std::string text;
    int accepted = 0;
    constexpr int kRounds = 200000;
    for (int round = 0; round < kRounds; ++round) {
        text.clear();
        switch (round % 3) {
        case 0: { // anything from the alphabet
            int len = static_cast<int>(rng() % 14);
            for (int i = 0; i < len; ++i)
                text += pick(alphabet);
            break;
        }
        case 1: { // near-valid: blanks, a prefix, digits, sometimes a stray character
            text.append(rng() % 4, ' ');
            text += prefixes[rng() % std::size(prefixes)];
            text.append(rng() % 3 == 0 ? rng() % 6 : 0, '0');
            int len = static_cast<int>(rng() % 11);
            bool hexDigits = rng() % 2;
            for (int i = 0; i < len; ++i)
                text += pick(hexDigits ? "0123456789abcdefABCDEF" : "0123456789");
            if (rng() % 8 == 0)
                text.insert(rng() % (text.size() + 1), 1, pick(alphabet));
            break;
        }
        default: { // numbers next to the range ends, written in decimal or hex
            std::int64_t v = anchors[rng() % std::size(anchors)] + static_cast<std::int64_t>(rng() % 5) - 2;
            bool neg = rng() % 2;
            text.append(rng() % 3, ' ');
            if (rng() % 2) {
                char buf[32];
                auto r = std::to_chars(buf, buf + sizeof buf, v < 0 ? -v : v, 16);
                text += pick("$xX");
                text.append(rng() % 3, '0');
                text.append(buf, r.ptr);
            } else {
                text += neg ? "-" : (rng() % 2 ? "+" : "");
                text.append(rng() % 3, '0');
                text += std::to_string(v < 0 ? -v : v);
            }
            break;
        }
        }
        auto expected = model(text);
        auto got = tryStrToInt(text);
        ASSERT_EQ(got, expected) << "text: '" << text << "'";
        if (expected)
            ++accepted;
        if (round % 64 == 0) {
            if (expected)
                ASSERT_EQ(strToInt(text), *expected) << "text: '" << text << "'";
            else
                ASSERT_THROW((void)strToInt(text), tsl::ConvertError) << "text: '" << text << "'";
        }
    }
    // The generator must reach both outcomes often, or the comparison says little.
    EXPECT_GT(accepted, kRounds / 10);
    EXPECT_LT(accepted, kRounds * 9 / 10);
}

TEST(IntToStr, RangeEndsAndSigns) {
    const std::pair<std::int64_t, const char*> cases[] = {
        {0, "0"},
        {-7, "-7"},
        {1000000, "1000000"},
        {4294967296LL, "4294967296"},
        {std::numeric_limits<std::int64_t>::max(), "9223372036854775807"},
        {std::numeric_limits<std::int64_t>::min(), "-9223372036854775808"}};
    for (const auto& [value, text] : cases)
        EXPECT_EQ(intToStr(value), text);
}

TEST(IntToStr, RoundTripsThroughStrToInt) {
    std::mt19937 rng(7);
    std::uniform_int_distribution<std::int32_t> any(std::numeric_limits<std::int32_t>::min(),
                                                    std::numeric_limits<std::int32_t>::max());
    for (int i = 0; i < 20000; ++i) {
        std::int32_t v = any(rng);
        ASSERT_EQ(strToInt(intToStr(v)), v);
    }
}
