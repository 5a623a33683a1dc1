#include "frame_codec.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

int bytes_to_int16(std::uint8_t low, std::uint8_t high)
{
    const int signed_high = high > 127 ? high - 256 : high;
    return signed_high * 256 + low;
}

double five_digit_decode(int code, int extra_digit)
{
    const int sign = code < 0 ? -1 : 1;
    const long long a = std::llabs(code);
    long long value;
    if (a <= 9999)
        value = a;
    else if (a <= 18999)
        value = (a - 9000) * 10 + extra_digit;
    else if (a <= 27999)
        value = ((a - 18000) * 10 + extra_digit) * 10;
    else
        value = ((a - 27000) * 10 + extra_digit) * 100;
    return static_cast<double>(sign * value);
}

int five_digit_encode(long long value)
{
    const int sign = value < 0 ? -1 : 1;
    // Avoid overflow on the most negative value before taking the magnitude.
    const long long a = value < 0 ? (value < -5000000LL ? 5000000LL : -value) : value;
    long long code;
    if (a <= 9999)
        code = a;
    else if (a <= 99999)
        code = a / 10 + 9000;
    else if (a <= 999999)
        code = a / 100 + 18000;
    else
        code = std::min(a, 5000000LL) / 1000 + 27000;
    return static_cast<int>(sign * code);
}

ValueClass value_class(int code)
{
    if (code == 0)
        return ValueClass::ManualOutput;
    if ((code >= 3 && code <= 7) || code == 21 || (code >= 24 && code <= 26) || code == 33
        || (code >= 37 && code <= 39))
        return ValueClass::FiveDigit;
    if (code >= 51)
        return code % 2 == 1 ? ValueClass::ProgramSetPoint : ValueClass::ProgramTime;
    return ValueClass::Plain;
}

double decode_param_word(int code, int raw, int dec)
{
    switch (value_class(code)) {
    case ValueClass::ManualOutput:
        return raw / 10.0;
    case ValueClass::FiveDigit:
    case ValueClass::ProgramSetPoint:
        return five_digit_decode(raw, 0) / std::pow(10.0, dec);
    case ValueClass::ProgramTime:
        return raw / 10.0;
    case ValueClass::Plain:
        break;
    }
    return raw;
}

// Nearest integer (halves away from zero), saturated to the 64-bit range
// (NaN -> 0), so a wild value folds like any other instead of being undefined
// behaviour. Rounding to the nearest step, not up: a single-precision value
// lies a little above or below the decimal it stands for (25.6f is
// 25.6000003815), and rounding up would send one step more than was read.
static long long nearest(double v)
{
    if (std::isnan(v))
        return 0;
    const double c = std::round(v);
    if (c >= 9.2e18)
        return 9200000000000000000LL;
    if (c <= -9.2e18)
        return -9200000000000000000LL;
    return static_cast<long long>(c);
}

long long write_units(int code, float value, int dec)
{
    const double x = value;  // widen first: the product is formed in double
    switch (value_class(code)) {
    case ValueClass::ManualOutput:
        return nearest(x * 100.0);
    case ValueClass::FiveDigit:
    case ValueClass::ProgramSetPoint:
        return nearest(x * std::pow(10.0, dec));
    case ValueClass::ProgramTime:
        return nearest(x * 10.0);
    case ValueClass::Plain:
        break;
    }
    return nearest(x);
}

int unit_digits(int code, int dec)
{
    switch (value_class(code)) {
    case ValueClass::ManualOutput:
        return 2;
    case ValueClass::FiveDigit:
    case ValueClass::ProgramSetPoint:
        return dec;
    case ValueClass::ProgramTime:
        return 1;
    case ValueClass::Plain:
        break;
    }
    return 0;
}

long long encode_write_value(int code, float value, int dec)
{
    const long long units = write_units(code, value, dec);
    switch (value_class(code)) {
    case ValueClass::FiveDigit:
    case ValueClass::ProgramSetPoint:
    case ValueClass::ProgramTime:
        return five_digit_encode(units);
    case ValueClass::ManualOutput:
    case ValueClass::Plain:
        break;
    }
    return units;
}

bool readback_holds(int code, float written, int raw, int dec)
{
    // The value word keeps 16 bits; the instrument holds what they say.
    const int word = static_cast<std::int16_t>(encode_write_value(code, written, dec) & 0xFFFF);
    switch (value_class(code)) {
    case ValueClass::ManualOutput:
        // Written in hundredths, read in tenths: a difference below one
        // tenth is the coarser reading, not a different value.
        return std::llabs(static_cast<long long>(word) - 10LL * raw) < 10;
    case ValueClass::FiveDigit:
    case ValueClass::ProgramSetPoint:
        // Both directions carry the five-digit code (digits above 9999
        // counts are dropped alike).
        return five_digit_decode(word, 0) == five_digit_decode(raw, 0);
    case ValueClass::ProgramTime:
        // Written as a five-digit code, read as plain tenths.
        return five_digit_decode(word, 0) == static_cast<double>(raw);
    case ValueClass::Plain:
        break;
    }
    return word == raw;
}

WriteLimits write_limits(int code, int dec)
{
    switch (value_class(code)) {
    case ValueClass::ManualOutput:
        return { -32768 / 100.0, 32767 / 100.0 };
    case ValueClass::FiveDigit:
    case ValueClass::ProgramSetPoint: {
        const double m = 5000000.0 / std::pow(10.0, dec);
        return { -m, m };
    }
    case ValueClass::ProgramTime:
        return { -500000.0, 500000.0 };
    case ValueClass::Plain:
        break;
    }
    return { -32768, 32767 };
}

static std::string frame_head(std::uint8_t address, std::uint8_t command, int code)
{
    std::string f(kRequestLength, '\0');
    const auto addr_byte = static_cast<std::uint8_t>(address + 0x80);
    f[0] = static_cast<char>(addr_byte);
    f[1] = static_cast<char>(addr_byte);
    f[2] = static_cast<char>(static_cast<std::uint8_t>(command + code / 256));
    f[3] = static_cast<char>(code & 0xFF);
    return f;
}

static unsigned frame_sum(std::uint8_t address, const std::string& f)
{
    const unsigned byte3 = static_cast<std::uint8_t>(f[2]);
    const unsigned byte4 = static_cast<std::uint8_t>(f[3]);
    return (address + byte3 + 256u * byte4) & 0xFFFFu;
}

std::string make_read_frame(std::uint8_t address, int code)
{
    std::string f = frame_head(address, kReadCommand, code);
    f[6] = static_cast<char>(frame_sum(address, f) & 0xFF);
    f[7] = f[3];  // the checksum's high byte, taken without carry
    return f;
}

std::string make_write_frame_d(std::uint8_t address, int code, long long d)
{
    std::string f = frame_head(address, kWriteCommand, code);
    const auto word = static_cast<std::uint16_t>(static_cast<unsigned long long>(d) & 0xFFFFu);
    f[4] = static_cast<char>(word & 0xFF);
    f[5] = static_cast<char>(word >> 8);
    const unsigned sum = frame_sum(address, f);
    f[6] = static_cast<char>(sum & 0xFF);
    f[7] = static_cast<char>(sum >> 8);
    return f;
}

bool reply_check_ok(const std::uint8_t* reply)
{
    unsigned s = reply[9] & 0x0F;
    for (int i = 0; i < 9; ++i)
        s = (s + reply[i]) & 0xFF;
    return (s >> 4) == static_cast<unsigned>(reply[9] >> 4);
}

ReplyFields split_reply(const std::uint8_t* reply)
{
    ReplyFields r;
    r.word_a = five_digit_decode(bytes_to_int16(reply[0], reply[1]), 0);
    r.word_b = five_digit_decode(bytes_to_int16(reply[2], reply[3]), reply[9] & 0x0F);
    r.mv_raw = bytes_to_int16(reply[4], reply[5]);
    r.status = reply[6];
    r.raw = bytes_to_int16(reply[7], reply[8]);
    return r;
}

std::string to_hex(const std::uint8_t* bytes, int length)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(static_cast<size_t>(length) * 2);
    for (int i = 0; i < length; ++i) {
        out += digits[bytes[i] >> 4];
        out += digits[bytes[i] & 0x0F];
    }
    return out;
}
