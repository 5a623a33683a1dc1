#include "wire.h"

#include <algorithm>
#include <cstdlib>

namespace aisim {

namespace {

constexpr uint8_t read_command = 0xA4;
constexpr uint8_t write_command = 0x86;
constexpr long five_digit_max = 5000000;

int16_t to_word(long v)
{
    return static_cast<int16_t>(std::clamp<long>(v, -32768, 32767));
}

uint8_t check_nibble(const uint8_t* bytes, int extra)
{
    unsigned s = static_cast<unsigned>(extra) & 0x0F;
    for (int i = 0; i < 9; ++i)
        s = (s + bytes[i]) & 0xFF;
    return static_cast<uint8_t>(s >> 4);
}

} // namespace

FiveDigit five_digit_encode_extra(long value)
{
    const int sign = value < 0 ? -1 : 1;
    const long a = std::min(std::labs(value), five_digit_max);
    FiveDigit r { 0, 0 };
    if (a <= 9999) {
        r.code = static_cast<int>(a);
    } else if (a <= 99999) {
        r.code = static_cast<int>(a / 10 + 9000);
        r.extra = static_cast<int>(a % 10);
    } else if (a <= 999999) {
        r.code = static_cast<int>(a / 100 + 18000);
        r.extra = static_cast<int>(a / 10 % 10);
    } else {
        r.code = static_cast<int>(a / 1000 + 27000);
        r.extra = static_cast<int>(a / 100 % 10);
    }
    r.code *= sign;
    return r;
}

int five_digit_encode(long value)
{
    return five_digit_encode_extra(value).code;
}

long five_digit_decode(int code, int extra)
{
    const long sign = code < 0 ? -1 : 1;
    const long a = std::labs(code);
    long v;
    if (a <= 9999)
        v = a;
    else if (a <= 18999)
        v = (a - 9000) * 10 + extra;
    else if (a <= 27999)
        v = ((a - 18000) * 10 + extra) * 10;
    else
        v = ((a - 27000) * 10 + extra) * 100;
    return sign * v;
}

ValueClass value_class(int code)
{
    if (code == 0)
        return ValueClass::manual_output;
    if ((code >= 3 && code <= 7) || code == 21 || (code >= 24 && code <= 26) || code == 33
        || (code >= 37 && code <= 39))
        return ValueClass::five_digit;
    if (code >= 51)
        return code % 2 == 1 ? ValueClass::set_point : ValueClass::time;
    return ValueClass::plain;
}

std::optional<Request> parse_request(const uint8_t* f)
{
    if (f[0] != f[1] || f[0] < 0x80)
        return std::nullopt;
    const int address = f[0] - 0x80;
    Request r;
    r.address = address;
    int high;
    if (f[2] >= read_command && f[2] <= read_command + 1) {
        r.write = false;
        high = f[2] - read_command;
    } else if (f[2] >= write_command && f[2] <= write_command + 1) {
        r.write = true;
        high = f[2] - write_command;
    } else {
        return std::nullopt;
    }
    r.code = high * 256 + f[3];
    if (r.code >= param_count)
        return std::nullopt;
    const unsigned sum = static_cast<unsigned>(address + f[2] + 256 * f[3]);
    if (r.write) {
        if (f[6] != (sum & 0xFF) || f[7] != ((sum >> 8) & 0xFF))
            return std::nullopt;
        r.value = static_cast<int16_t>(static_cast<uint16_t>(f[4] | (f[5] << 8)));
    } else {
        // The read frame's second checksum byte is the code byte, without carry.
        if (f[4] != 0 || f[5] != 0 || f[6] != (sum & 0xFF) || f[7] != f[3])
            return std::nullopt;
    }
    return r;
}

std::array<uint8_t, reply_size> encode_reply(const ReplyFields& f)
{
    const FiveDigit b = five_digit_encode_extra(f.sv);
    // PV travels as SV minus PV, coded without an extra digit, against the
    // SV the station will decode (with its extra digit).
    const long sv_seen = five_digit_decode(b.code, b.extra);
    const int a = five_digit_encode(sv_seen - f.pv);
    const int16_t mv = to_word(f.mv);
    std::array<uint8_t, reply_size> r {};
    r[0] = static_cast<uint8_t>(a & 0xFF);
    r[1] = static_cast<uint8_t>((a >> 8) & 0xFF);
    r[2] = static_cast<uint8_t>(b.code & 0xFF);
    r[3] = static_cast<uint8_t>((b.code >> 8) & 0xFF);
    r[4] = static_cast<uint8_t>(mv & 0xFF);
    r[5] = static_cast<uint8_t>((mv >> 8) & 0xFF);
    r[6] = f.status;
    r[7] = static_cast<uint8_t>(f.param & 0xFF);
    r[8] = static_cast<uint8_t>((f.param >> 8) & 0xFF);
    r[9] = static_cast<uint8_t>((check_nibble(r.data(), b.extra) << 4) | b.extra);
    return r;
}

bool reply_check_ok(const uint8_t* reply)
{
    return check_nibble(reply, reply[9] & 0x0F) == (reply[9] >> 4);
}

std::array<uint8_t, request_size> build_read(int address, int code)
{
    const uint8_t cmd = static_cast<uint8_t>(read_command + code / 256);
    const uint8_t lo = static_cast<uint8_t>(code & 0xFF);
    const unsigned sum = static_cast<unsigned>(address + cmd + 256 * lo);
    return { static_cast<uint8_t>(address + 0x80), static_cast<uint8_t>(address + 0x80), cmd, lo, 0, 0,
        static_cast<uint8_t>(sum & 0xFF), lo };
}

std::array<uint8_t, request_size> build_write(int address, int code, int16_t value)
{
    const uint8_t cmd = static_cast<uint8_t>(write_command + code / 256);
    const uint8_t lo = static_cast<uint8_t>(code & 0xFF);
    const unsigned sum = static_cast<unsigned>(address + cmd + 256 * lo) & 0xFFFF;
    const uint16_t w = static_cast<uint16_t>(value);
    return { static_cast<uint8_t>(address + 0x80), static_cast<uint8_t>(address + 0x80), cmd, lo,
        static_cast<uint8_t>(w & 0xFF), static_cast<uint8_t>(w >> 8), static_cast<uint8_t>(sum & 0xFF),
        static_cast<uint8_t>(sum >> 8) };
}

} // namespace aisim
