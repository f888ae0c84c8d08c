#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tempocalc {

// The running average as the window shows it: rounded to three decimals, the
// given decimal separator always present, no trailing zeros in the fraction
// ("85.714", "120.", "0."). Every integer digit is written; there is never an
// exponent. Throws std::invalid_argument for a value that is not finite or an
// empty separator.
std::string average_text(double x, std::string_view decimal_separator = ".");

// The number that an average text stands for: the text read back, with the given
// separator as the decimal point. Empty for any other text ("average").
std::optional<double> average_value(std::string_view text,
                                    std::string_view decimal_separator = ".");

// The latest tempo as the window shows it: the same rounding, then written with
// "." whatever the regional settings, a sign column (" " or "-"), no zero before
// the point of a fraction and no trailing point (" 120", " .6", "-.001", " 0").
// Throws std::invalid_argument for a value that is not finite.
std::string tempo_text(double x);

// The shortest text that reads back as exactly x ("0.1", "-inf", "nan"), for
// messages about a value.
std::string exact_text(double x);

} // namespace tempocalc
