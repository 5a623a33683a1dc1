#include "convert.h"

#include "errors.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <limits>

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
    return quoted_message(text, " is not a valid integer value");
}

std::string invalid_float_message(std::string_view text)
{
    return quoted_message(text, " is not a valid floating point value");
}

static bool is_digit(char c) { return c >= '0' && c <= '9'; }

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
    // The syntax is checked above, so strtod reads exactly the same characters
    // (it never sees "inf", "nan" or hexadecimal forms).
    const std::string body(text.substr(start));
    errno = 0;
    const double value = std::strtod(body.c_str(), nullptr);
    if (errno == ERANGE && (value == HUGE_VAL || value == -HUGE_VAL))
        throw EConvertError(invalid_float_message(text));
    return value;
}
