#pragma once
// Text-to-number conversions with the runtime's rules and messages.
#include <string>
#include <string_view>

// Optional leading blanks, optional sign, decimal digits and nothing else; the
// value must fit in 32 bits. Otherwise EConvertError
// "'<text>' 不是整数".
int str_to_int(std::string_view text);

// Optional leading blanks, optional sign, digits with an optional point and
// fraction (at least one digit in all), optional exponent (e/E, optional sign,
// digits). Otherwise EConvertError "'<text>' 不是数值".
double str_to_float(std::string_view text);

// The exact messages, for callers that build the error themselves.
std::string invalid_integer_message(std::string_view text);
std::string invalid_float_message(std::string_view text);
