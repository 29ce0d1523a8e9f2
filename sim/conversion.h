#pragma once
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

// Raised when a control's text does not convert; carries the message shown to the user.
class ConversionError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Text to 32-bit integer: optional surrounding spaces, optional sign, decimal digits.
// Throws ConversionError "'<text>' is not a valid integer value".
std::int32_t StrToInt(std::string_view text);

// Text to double: optional surrounding spaces, optional sign, digits with at most one
// decimal separator (',' or '.', whatever the locale) and at least one digit, optional
// exponent. Overflow does not convert.
// Throws ConversionError "'<text>' is not a valid floating point value".
double StrToFloat(std::string_view text);

// Non-throwing forms, for callers that only ask whether a text converts.
bool TryStrToInt(std::string_view text, std::int32_t& value);
bool TryStrToFloat(std::string_view text, double& value);
