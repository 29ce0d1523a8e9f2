#include "sim/controls/conversion.h"

#include <array>
#include <charconv>
#include <algorithm>

namespace {

std::string_view TrimSpaces(std::string_view text)
{
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
    return text;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// The decimal order of magnitude of a well-formed real text that is not zero
// (digits, at most one '.', an optional exponent), saturated far beyond any
// double's range: it tells an overflow from an underflow.
std::int64_t OrderOfMagnitude(std::string_view text)
{
    std::int64_t order = 0;
    std::int64_t integerDigits = 0;
    std::int64_t leadingFractionZeros = 0;
    bool inFraction = false;
    bool nonZeroSeen = false;
    std::size_t i = 0;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    for (; i < text.size() && text[i] != 'e'; ++i) {
        const char c = text[i];
        if (c == '.') {
            inFraction = true;
        } else if (!inFraction) {
            if (nonZeroSeen || c != '0') ++integerDigits;
            if (c != '0') nonZeroSeen = true;
        } else if (!nonZeroSeen) {
            if (c == '0') ++leadingFractionZeros;
            else nonZeroSeen = true;
        }
    }
    order = integerDigits > 0 ? integerDigits - 1 : -(leadingFractionZeros + 1);
    if (i < text.size()) {
        ++i;
        bool negative = false;
        if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
        std::int64_t exponent = 0;
        for (; i < text.size(); ++i) exponent = std::min<std::int64_t>(exponent * 10 + (text[i] - '0'), 1000000000);
        order += negative ? -exponent : exponent;
    }
    return order;
}

}  // namespace

bool TryStrToInt(std::string_view text, std::int32_t& value)
{
    text = TrimSpaces(text);
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    if (text.empty()) return false;
    std::int64_t magnitude = 0;
    for (char c : text) {
        if (!IsDigit(c)) return false;
        magnitude = magnitude * 10 + (c - '0');
        if (magnitude > 2147483648LL) return false;
    }
    const std::int64_t signedValue = negative ? -magnitude : magnitude;
    if (signedValue > 2147483647LL) return false;
    value = static_cast<std::int32_t>(signedValue);
    return true;
}

bool TryStrToFloat(std::string_view text, double& value)
{
    text = TrimSpaces(text);
    // Check the shape and copy it with '.' as separator; every text character gives at
    // most one copied character. Ordinary texts fit the stack buffer, so reading a
    // field allocates nothing; only a very long text takes a heap buffer.
    std::array<char, 512> smallBuffer;
    std::string largeBuffer;
    char* buffer = smallBuffer.data();
    if (text.size() >= smallBuffer.size()) {
        largeBuffer.resize(text.size() + 1);
        buffer = largeBuffer.data();
    }
    std::size_t at = 0;
    std::size_t i = 0;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) buffer[at++] = text[i++];
    int mantissaDigits = 0;
    bool separatorSeen = false;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (IsDigit(c)) {
            ++mantissaDigits;
            buffer[at++] = c;
        } else if ((c == ',' || c == '.') && !separatorSeen) {
            separatorSeen = true;
            buffer[at++] = '.';
        } else {
            break;
        }
    }
    if (mantissaDigits == 0) return false;
    if (i < text.size()) {
        if (text[i] != 'e' && text[i] != 'E') return false;
        buffer[at++] = 'e';
        ++i;
        if (i < text.size() && (text[i] == '+' || text[i] == '-')) buffer[at++] = text[i++];
        int exponentDigits = 0;
        for (; i < text.size() && IsDigit(text[i]); ++i) {
            ++exponentDigits;
            buffer[at++] = text[i];
        }
        if (exponentDigits == 0 || i != text.size()) return false;
    }
    // from_chars reads no sign of '+' and no locale: both are settled above.
    const char* begin = buffer[0] == '+' ? buffer + 1 : buffer;
    double parsed = 0.0;
    const auto [end, error] = std::from_chars(begin, buffer + at, parsed, std::chars_format::general);
    if (end != buffer + at) return false;
    if (error == std::errc::result_out_of_range) {
        // Too large for a double does not convert; too small becomes zero, as a
        // subnormal result becomes the nearest representable value.
        if (OrderOfMagnitude(std::string_view(buffer, at)) >= 0) return false;
        parsed = buffer[0] == '-' ? -0.0 : 0.0;
    } else if (error != std::errc()) {
        return false;
    }
    value = parsed;
    return true;
}

std::string StrToIntMessage(std::string_view text)
{
    return "'" + std::string(text) + "' is not a valid integer value";
}

std::string StrToFloatMessage(std::string_view text)
{
    return "'" + std::string(text) + "' is not a valid floating point value";
}

std::int32_t StrToInt(std::string_view text)
{
    std::int32_t value = 0;
    if (!TryStrToInt(text, value)) throw ConversionError(StrToIntMessage(text));
    return value;
}

double StrToFloat(std::string_view text)
{
    double value = 0.0;
    if (!TryStrToFloat(text, value)) throw ConversionError(StrToFloatMessage(text));
    return value;
}
