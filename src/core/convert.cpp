#include "convert.h"

#include "errors.h"

#include <charconv>
#include <limits>
#include <system_error>

// The text in single quotes, then `tail`. Built by appending: GCC 12 at -O3
// reports a false overlap (-Wrestrict) for "'" + std::string(text), which
// inserts in front of the copy.
static std::string quoted_message(std::string_view text, std::string_view tail)
{
    std::string message;
    message.reserve(text.size() + tail.size() + 2);
    message += '\'';
    message += text;
    message += '\'';
    message += tail;
    return message;
}

std::string invalid_integer_message(std::string_view text)
{
    return quoted_message(text, " 不是整数");
}

std::string invalid_float_message(std::string_view text)
{
    return quoted_message(text, " 不是数值");
}

static bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Rough decimal exponent of a checked number text without sign: positive when
// the value is at least 1. Tells an overflow from an underflow.
static long long decimal_magnitude(std::string_view digits)
{
    long long before_point = 0, leading_zeros = 0;
    bool seen_point = false, seen_nonzero = false;
    size_t i = 0;
    for (; i < digits.size() && digits[i] != 'e' && digits[i] != 'E'; ++i) {
        if (digits[i] == '.') {
            seen_point = true;
        } else if (!seen_nonzero && digits[i] == '0') {
            if (seen_point)
                ++leading_zeros;
        } else {
            seen_nonzero = true;
            if (!seen_point)
                ++before_point;
        }
    }
    long long exponent = 0;
    if (i < digits.size()) {
        std::string_view e = digits.substr(i + 1);
        const bool minus = !e.empty() && e[0] == '-';
        if (!e.empty() && (e[0] == '-' || e[0] == '+'))
            e.remove_prefix(1);
        for (char c : e)
            exponent = exponent < 100000000 ? exponent * 10 + (c - '0') : exponent;
        if (minus)
            exponent = -exponent;
    }
    return (before_point > 0 ? before_point : -leading_zeros) + exponent;
}

int str_to_int(std::string_view text)
{
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t'))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    if (i == text.size())
        throw EConvertError(invalid_integer_message(text));
    long long value = 0;
    for (; i < text.size(); ++i) {
        if (!is_digit(text[i]))
            throw EConvertError(invalid_integer_message(text));
        value = value * 10 + (text[i] - '0');
        if (value > static_cast<long long>(std::numeric_limits<int>::max()) + 1)
            throw EConvertError(invalid_integer_message(text));
    }
    if (negative)
        value = -value;
    if (value > std::numeric_limits<int>::max() || value < std::numeric_limits<int>::min())
        throw EConvertError(invalid_integer_message(text));
    return static_cast<int>(value);
}

double str_to_float(std::string_view text)
{
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t'))
        ++i;
    const size_t start = i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        ++i;
    size_t digits = 0;
    while (i < text.size() && is_digit(text[i])) {
        ++i;
        ++digits;
    }
    if (i < text.size() && text[i] == '.') {
        ++i;
        while (i < text.size() && is_digit(text[i])) {
            ++i;
            ++digits;
        }
    }
    if (digits == 0)
        throw EConvertError(invalid_float_message(text));
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        if (i < text.size() && (text[i] == '+' || text[i] == '-'))
            ++i;
        size_t exp_digits = 0;
        while (i < text.size() && is_digit(text[i])) {
            ++i;
            ++exp_digits;
        }
        if (exp_digits == 0)
            throw EConvertError(invalid_float_message(text));
    }
    if (i != text.size())
        throw EConvertError(invalid_float_message(text));
    // The syntax is checked above; from_chars reads the same characters in
    // the C locale's form whatever the desktop's language (strtod would stop
    // at the point under a comma-decimal locale and return a wrong number).
    const char* first = text.data() + start;
    const char* last = text.data() + text.size();
    bool negative = false;
    if (*first == '+' || *first == '-') {
        negative = *first == '-';
        ++first;
    }
    double value = 0;
    const auto result = std::from_chars(first, last, value, std::chars_format::general);
    if (result.ec == std::errc::result_out_of_range) {
        // Too small for a double is zero; too large is not a number.
        if (decimal_magnitude(std::string_view(first, static_cast<size_t>(last - first))) > 0)
            throw EConvertError(invalid_float_message(text));
        value = 0;
    } else if (result.ec != std::errc() || result.ptr != last) {
        throw EConvertError(invalid_float_message(text));
    }
    return negative ? -value : value;
}
