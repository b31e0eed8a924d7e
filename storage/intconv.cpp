#include "storage/intconv.h"

#include "storage/error.h"

#include <charconv>
#include <cstddef>

namespace tsl {

namespace {

int hexValue(char c) noexcept {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

bool isDigit(char c) noexcept { return c >= '0' && c <= '9'; }

// Hex digits up to the end; at most eight significant ones, read as a bit pattern.
std::optional<std::int32_t> parseHex(std::string_view s) noexcept {
    if (s.empty())
        return std::nullopt;
    std::uint32_t value = 0;
    int significant = 0;
    for (char c : s) {
        int v = hexValue(c);
        if (v < 0)
            return std::nullopt;
        if (significant > 0 || v != 0) {
            if (++significant > 8)
                return std::nullopt;
        }
        value = (value << 4) | static_cast<std::uint32_t>(v);
    }
    return static_cast<std::int32_t>(value);
}

// Decimal digits up to the end; the magnitude is accumulated in 64 bits and
// checked against the int32 range as it grows, so long runs cannot overflow.
std::optional<std::int32_t> parseDecimal(std::string_view s, bool negative) noexcept {
    if (s.empty())
        return std::nullopt;
    const std::int64_t limit = negative ? 2147483648LL : 2147483647LL;
    std::int64_t magnitude = 0;
    for (char c : s) {
        if (!isDigit(c))
            return std::nullopt;
        magnitude = magnitude * 10 + (c - '0');
        if (magnitude > limit)
            return std::nullopt;
    }
    return static_cast<std::int32_t>(negative ? -magnitude : magnitude);
}

} // namespace

std::optional<std::int32_t> tryStrToInt(std::string_view text) noexcept {
    std::size_t i = 0;
    while (i < text.size() && text[i] == ' ')
        ++i;
    std::string_view s = text.substr(i);
    if (s.empty())
        return std::nullopt;

    switch (s[0]) {
    case '+':
        return parseDecimal(s.substr(1), false);
    case '-':
        return parseDecimal(s.substr(1), true);
    case '$':
    case 'x':
    case 'X':
        return parseHex(s.substr(1));
    default:
        break;
    }
    // "0x" / "0X" is a prefix only right at the start: "00x1" is neither form.
    if (s.size() >= 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X'))
        return parseHex(s.substr(2));
    return parseDecimal(s, false);
}

std::int32_t strToInt(std::string_view text) {
    if (auto v = tryStrToInt(text))
        return *v;
    throw ConvertError("'" + std::string(text) + "' is not a valid integer value");
}

std::string intToStr(std::int64_t value) {
    char buf[24];
    auto res = std::to_chars(buf, buf + sizeof buf, value);
    return std::string(buf, res.ptr);
}

} // namespace tsl
