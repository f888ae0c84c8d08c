#include "number_text.h"

#include <array>
#include <charconv>
#include <cmath>
#include <stdexcept>
#include <string>

namespace tempocalc {
namespace {

// A sign, the 309 integer digits of the largest double, the point and four decimals.
constexpr std::size_t widest_fixed = 1 + 309 + 1 + 4;

std::string fixed(double x, int decimals) {
    std::array<char, widest_fixed + 1> buffer{};
    const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), x,
                                      std::chars_format::fixed, decimals);
    return {buffer.data(), result.ptr};
}

// Adds one unit in the last decimal place to the magnitude of a decimal string.
void step_away_from_zero(std::string& digits) {
    for (std::size_t i = digits.size(); i-- > 0;) {
        char& c = digits[i];
        if (c == '.') {
            continue;
        }
        if (c == '-') {
            digits.insert(i + 1, 1, '1');
            return;
        }
        if (c != '9') {
            ++c;
            return;
        }
        c = '0';
    }
    digits.insert(0, 1, '1');
}

// The exact value of x rounded to three decimals, halves away from zero, with "."
// as the point, the point always present, trailing fraction zeros dropped and no
// minus sign on a value that rounds to zero.
std::string rounded(double x) {
    if (!std::isfinite(x)) {
        throw std::invalid_argument("cannot show " + exact_text(x) + " as a number");
    }
    // A double lies exactly halfway between two thousandths only when it is an odd
    // number of sixteenths; its four-decimal rendering is then exact and ends in 5.
    std::string text;
    if (std::fabs(std::fmod(x * 16.0, 2.0)) == 1.0) {
        text = fixed(x, 4);
        text.pop_back();
        step_away_from_zero(text);
    } else {
        text = fixed(x, 3);
    }
    while (text.back() == '0') {
        text.pop_back();
    }
    if (text == "-0.") {
        text = "0.";
    }
    return text;
}

} // namespace

std::optional<double> average_value(std::string_view text, std::string_view decimal_separator) {
    const std::size_t at =
        decimal_separator.empty() ? std::string_view::npos : text.find(decimal_separator);
    if (at == std::string_view::npos) {
        return std::nullopt;
    }
    std::string plain(text);
    plain.replace(at, decimal_separator.size(), ".");
    double value = 0;
    const char* const end = plain.data() + plain.size();
    const auto [stop, error] = std::from_chars(plain.data(), end, value, std::chars_format::fixed);
    if (error != std::errc() || stop != end) {
        return std::nullopt;
    }
    return value;
}

std::string exact_text(double x) {
    std::array<char, 32> buffer{};
    const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), x);
    return {buffer.data(), result.ptr};
}

std::string average_text(double x, std::string_view decimal_separator) {
    if (decimal_separator.empty()) {
        throw std::invalid_argument("the decimal separator is empty");
    }
    std::string text = rounded(x);
    text.replace(text.find('.'), 1, decimal_separator);
    return text;
}

std::string tempo_text(double x) {
    std::string text = rounded(x);
    if (text.back() == '.') {
        text.pop_back();
    }
    const bool negative = text.front() == '-';
    std::string_view magnitude(text);
    magnitude.remove_prefix(negative ? 1 : 0);
    if (magnitude.starts_with("0.")) {
        magnitude.remove_prefix(1);
    }
    return (negative ? "-" : " ") + std::string(magnitude);
}

} // namespace tempocalc
