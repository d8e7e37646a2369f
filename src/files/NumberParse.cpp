#include "files/NumberParse.h"

#include <cmath>

#include <charconv>
#include <string>
#include <system_error>

namespace varko {

namespace {

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

} // namespace

std::optional<double> ParseDecimal(std::string_view text) {
    std::size_t i = 0;
    const std::size_t n = text.size();
    while (i < n && text[i] == ' ') {
        ++i;
    }
    std::size_t end = n;
    while (end > i && text[end - 1] == ' ') {
        --end;
    }
    if (i == end) {
        return std::nullopt;
    }
    bool negative = false;
    if (text[i] == '+' || text[i] == '-') {
        negative = text[i] == '-';
        ++i;
    }
    const std::size_t start = i;
    std::size_t digits = 0;
    bool nonzeroSeen = false;
    // Rough decimal magnitude of the mantissa, to tell overflow from underflow.
    std::int64_t magnitude = 0;
    std::int64_t leadingFractionZeros = 0;
    while (i < end && IsDigit(text[i])) {
        nonzeroSeen = nonzeroSeen || text[i] != '0';
        if (nonzeroSeen) {
            ++magnitude;
        }
        ++digits;
        ++i;
    }
    if (i < end && text[i] == '.') {
        ++i;
        while (i < end && IsDigit(text[i])) {
            if (!nonzeroSeen) {
                if (text[i] == '0') {
                    ++leadingFractionZeros;
                } else {
                    nonzeroSeen = true;
                }
            }
            ++digits;
            ++i;
        }
    }
    if (digits == 0) {
        return std::nullopt;
    }
    std::int64_t exponent = 0;
    bool exponentNegative = false;
    if (i < end && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        if (i < end && (text[i] == '+' || text[i] == '-')) {
            exponentNegative = text[i] == '-';
            ++i;
        }
        if (i == end || !IsDigit(text[i])) {
            return std::nullopt;
        }
        while (i < end && IsDigit(text[i])) {
            if (exponent < 1'000'000'000) {
                exponent = exponent * 10 + (text[i] - '0');
            }
            ++i;
        }
    }
    if (i != end) {
        return std::nullopt;
    }
    if (!nonzeroSeen) {
        return negative ? -0.0 : 0.0;
    }

    double value = 0.0;
    const auto [ptr, ec] =
        std::from_chars(text.data() + start, text.data() + end, value, std::chars_format::general);
    if (ec == std::errc::result_out_of_range) {
        const std::int64_t decimalExponent = (magnitude > 0 ? magnitude : -leadingFractionZeros) +
                                             (exponentNegative ? -exponent : exponent);
        if (decimalExponent > 0) {
            return std::nullopt; // beyond a double
        }
        value = 0.0;
    } else if (ec != std::errc() || ptr != text.data() + end) {
        return std::nullopt;
    }
    return negative ? -value : value;
}

std::optional<float> ParseFiniteFloat(std::string_view text) {
    const auto value = ParseDecimal(text);
    if (!value) {
        return std::nullopt;
    }
    const auto single = static_cast<float>(*value);
    if (!std::isfinite(single)) {
        return std::nullopt;
    }
    return single;
}

std::optional<std::int64_t> ParseWhole(std::string_view text, int base) {
    if (text.empty()) {
        return std::nullopt;
    }
    std::size_t i = 0;
    bool negative = false;
    if (text[0] == '+' || text[0] == '-') {
        negative = text[0] == '-';
        i = 1;
    }
    if (i == text.size()) {
        return std::nullopt;
    }
    for (std::size_t k = i; k < text.size(); ++k) {
        const char c = text[k];
        const bool hex = (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
        if (!IsDigit(c) && !(base == 16 && hex)) {
            return std::nullopt;
        }
    }
    // Parse with the sign attached so that the most negative value still fits.
    std::string digits;
    if (negative) {
        digits.push_back('-');
    }
    digits.append(text.substr(i));
    std::int64_t value = 0;
    const auto [ptr, ec] =
        std::from_chars(digits.data(), digits.data() + digits.size(), value, base);
    if (ec != std::errc() || ptr != digits.data() + digits.size()) {
        return std::nullopt;
    }
    return value;
}

} // namespace varko
