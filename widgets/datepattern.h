#pragma once
#include <string>

// The desktop's short date pattern, in the notation of the serial stamp:
// the locale's CLDR short format; m/d/yy for the C/POSIX locale.
[[nodiscard]] std::string desktopShortDatePattern();
