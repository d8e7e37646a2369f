// Locale-independent number grammars shared by the scale, mode and settings readers.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace varko {

// Decimal number: optional spaces, optional sign, digits with an optional "." and fraction
// (at least one digit in all), optional exponent (E or e, optional sign, digits), optional
// trailing spaces, nothing else. "." whatever the locale. Only the space character counts as
// blank. A value too large for a double fails; one too small for it reads as 0.
std::optional<double> ParseDecimal(std::string_view text);

// A decimal number as a 32-bit float; fails when it does not parse or is not finite as one.
std::optional<float> ParseFiniteFloat(std::string_view text);

// Whole number: optional sign followed by digits of the base (10 or 16), nothing else. Fails
// outside int64_t.
std::optional<std::int64_t> ParseWhole(std::string_view text, int base = 10);

} // namespace varko
