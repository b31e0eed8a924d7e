#pragma once
// A period of a ledger's rows, read from the date in each row's serial stamp.
#include "storage/stamp.h"

#include <optional>
#include <string_view>

namespace tsl {

// From `from` to `to`, both days included; a missing end is open. With neither
// end the period is the whole ledger.
struct Period {
    std::optional<Date> from;
    std::optional<Date> to;
    [[nodiscard]] bool whole() const { return !from && !to; }
    friend bool operator==(const Period&, const Period&) = default;
};

// The quick picks of a statement's period, around today.
enum class QuickPeriod { ThisMonth, LastMonth, ThisQuarter, WholeYear };
[[nodiscard]] Period quickPeriod(QuickPeriod pick, Date today);

// A day written YYYY-MM-DD (one-digit month or day allowed); none for anything
// else, or a day the calendar lacks.
[[nodiscard]] std::optional<Date> readIsoDate(std::string_view text);

// Where a row falls: inside the period, outside it, or nowhere, its date
// unreadable. In the whole ledger every row is inside, read or not.
enum class InPeriod { Inside, Outside, Undated };
[[nodiscard]] InPeriod placeInPeriod(const Period& period, const StampDateReader& dates, std::string_view stamp);

} // namespace tsl
