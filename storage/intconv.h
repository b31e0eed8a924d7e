#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tsl {

// Whole-number conversion of amounts. Leading blanks (code 32 only); then an
// optional sign and decimal digits, or (without sign) a hexadecimal prefix
// "$", "x", "X", "0x", "0X" and hex digits; nothing may follow. Decimal values
// must fit in int32; hex takes up to eight significant digits as the 32-bit pattern.
[[nodiscard]] std::optional<std::int32_t> tryStrToInt(std::string_view text) noexcept;

// Same, but a failure throws ConvertError("'<text>' is not a valid integer value").
[[nodiscard]] std::int32_t strToInt(std::string_view text);

// Decimal text of a number: "-" for negatives, no leading zeros, no grouping.
[[nodiscard]] std::string intToStr(std::int64_t value);

} // namespace tsl
