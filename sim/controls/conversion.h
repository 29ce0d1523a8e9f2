#pragma once
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>

// Raised when a control's text does not convert; carries the message shown to the
// user and, where the reader knows it, the name of the control that holds the text.
class ConversionError : public std::runtime_error {
public:
    explicit ConversionError(const std::string& message, std::string control = {})
        : std::runtime_error(message), control_(std::move(control))
    {
    }
    const std::string& control() const { return control_; }

private:
    std::string control_;
};

// Text to 32-bit integer: optional surrounding spaces, optional sign, decimal digits.
// Throws ConversionError "'<text>' is not a valid integer value".
std::int32_t StrToInt(std::string_view text);

// Text to double: optional surrounding spaces, optional sign, digits with at most one
// decimal separator (',' or '.', whatever the locale) and at least one digit, optional
// exponent. Overflow does not convert.
// Throws ConversionError "'<text>' is not a valid floating point value".
double StrToFloat(std::string_view text);

// The messages of a text that does not convert.
std::string StrToIntMessage(std::string_view text);
std::string StrToFloatMessage(std::string_view text);

// Non-throwing forms, for callers that only ask whether a text converts.
bool TryStrToInt(std::string_view text, std::int32_t& value);
bool TryStrToFloat(std::string_view text, double& value);
