#include "conversion.h"

#include <array>
#include <cmath>
#include <cstdlib>
#include <locale.h>

namespace {

std::string_view TrimSpaces(std::string_view text)
{
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
    return text;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// strtod bound to the C locale, so the conversion never depends on the process locale.
double StrtodC(const char* text, char** end)
{
    static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    return strtod_l(text, end, cLocale);
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
    buffer[at] = '\0';

    char* end = nullptr;
    const double parsed = StrtodC(buffer, &end);
    if (end != buffer + at) return false;
    if (std::isinf(parsed)) return false;  // overflow of a double
    value = parsed;  // an underflow converts to the nearest representable value
    return true;
}

std::int32_t StrToInt(std::string_view text)
{
    std::int32_t value = 0;
    if (!TryStrToInt(text, value)) throw ConversionError("'" + std::string(text) + "' is not a valid integer value");
    return value;
}

double StrToFloat(std::string_view text)
{
    double value = 0.0;
    if (!TryStrToFloat(text, value))
        throw ConversionError("'" + std::string(text) + "' is not a valid floating point value");
    return value;
}
