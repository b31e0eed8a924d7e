#include "export/capital.h"

#include <array>

namespace tsl::out {

std::string capitalYuan(std::int64_t amount) {
    static constexpr std::array<const char*, 10> kDigit{"零", "壹", "贰", "叁", "肆", "伍", "陆", "柒", "捌", "玖"};
    static constexpr std::array<const char*, 4> kPlace{"", "拾", "佰", "仟"};
    static constexpr std::array<const char*, 5> kGroup{"", "万", "亿", "万亿", "亿亿"};

    // The magnitude of the smallest value does not fit a signed 64-bit number.
    std::uint64_t v = amount < 0 ? 0 - static_cast<std::uint64_t>(amount) : static_cast<std::uint64_t>(amount);
    std::array<int, 5> groups{};
    for (int& g : groups) {
        g = int(v % 10000);
        v /= 10000;
    }

    std::string out = amount < 0 ? "负" : "";
    bool written = false; // a digit has been written
    bool gap = false;     // zeros stand between the last digit written and the next
    for (int k = int(groups.size()) - 1; k >= 0; --k) {
        const int g = groups[std::size_t(k)];
        if (g == 0) {
            gap = gap || written;
            continue;
        }
        if (written && (gap || g < 1000))
            out += kDigit[0];
        bool zeroInGroup = false;
        bool groupStarted = false;
        for (int place = 3, div = 1000; place >= 0; --place, div /= 10) {
            const int d = g / div % 10;
            if (d == 0) {
                zeroInGroup = zeroInGroup || groupStarted;
                continue;
            }
            if (zeroInGroup)
                out += kDigit[0];
            out += kDigit[std::size_t(d)];
            out += kPlace[std::size_t(place)];
            zeroInGroup = false;
            groupStarted = true;
        }
        out += kGroup[std::size_t(k)];
        written = true;
        gap = false;
    }
    if (!written)
        out += kDigit[0];
    out += "元整";
    return out;
}

} // namespace tsl::out
