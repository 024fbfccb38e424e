#pragma once

#include <string>

// Locale-independent number texts. Never use printf or streams for user-visible
// numbers: the process locale may use a decimal comma.
namespace tessoral::num {

// Decimal digits with a leading '-' when negative ("%d").
std::string integer(long long value);
// "%0Nd": zero-padded to at least `width` characters, sign included.
std::string padded(long long value, int width);
// "%.Nf": fixed notation with `decimals` digits after the point ("nan", "inf", "-inf" when not finite).
std::string fixed(double value, int decimals);
// The shortest text that reads back as the same double ("0.1", "3", "1e+30").
std::string shortest(double value);

}  // namespace tessoral::num
