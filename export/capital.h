#pragma once
#include <cstdint>
#include <string>

namespace tsl::out {

// An amount of whole yuan in capital numerals, as written on a Chinese receipt:
// 12050 → 壹万贰仟零伍拾元整, 10 → 壹拾元整, 0 → 零元整, -5 → 负伍元整. Groups of
// four digits take 万, 亿, 万亿 and 亿亿, which reach past the largest 64-bit value.
[[nodiscard]] std::string capitalYuan(std::int64_t amount);

} // namespace tsl::out
