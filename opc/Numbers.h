// Numbers as the operator types them and as Tagwell shows and records them:
// always with a decimal point, whatever the desktop's locale is (the
// process's C locale follows the desktop once Qt has started).
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tagwell {

// The number the whole text spells ("0.3", "-2", "1e3", "+.5"), blanks
// around it allowed; nullopt for anything else: the empty text, "2,5",
// "12abc", "inf", "nan", or a magnitude beyond a double.
std::optional<double> ParseNumber(std::string_view text);

enum class WholeNumberParse { Ok, NotANumber, OutOfRange };

// A whole number, written as digits with an optional sign and an optional
// fraction that is cut off ("12.7" gives 12, "-0.5" gives 0), blanks around
// it allowed. OutOfRange when the whole part does not fit a long long.
WholeNumberParse ParseWholeNumber(std::string_view text, long long* value);

// "%*.*f" without the locale: value with `decimals` digits after the point,
// padded with blanks on the left to `width` characters.
std::string FixedPointText(double value, int decimals, int width = 0);

}  // namespace tagwell
