#pragma once
// The year's income: what the shipments brought in, less what the purchases
// cost and what the workers are owed. The overall report, the year figures'
// month lines and their exports all take it from here.
#include "storage/yearfigures.h"

#include <cstdint>

namespace tsl::books {

[[nodiscard]] constexpr std::int64_t income(std::int64_t shipped, std::int64_t bought, std::int64_t owed) {
    return shipped - bought - owed;
}
// For the whole year and for one month line of the figures.
[[nodiscard]] std::int64_t income(const YearFigures& f);
[[nodiscard]] std::int64_t income(const YearFigures& f, int line);

} // namespace tsl::books
