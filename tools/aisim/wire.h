#pragma once
// The instruments' side of the bus protocol: request parsing and reply encoding
// as plain functions on byte buffers. Written independently of the station's
// codec so that each one checks the other.
#include <array>
#include <cstdint>
#include <optional>

namespace aisim {

constexpr int request_size = 8;
constexpr int reply_size = 10;
constexpr int max_address = 90;
constexpr int param_count = 411;

// Five-digit value code. encode drops the digits below the step of the range
// (12345 -> 10234); encode_extra also returns the dropped digit the reply
// carries for word B (12345 -> 10234 with extra digit 5).
int five_digit_encode(long value);
struct FiveDigit {
    int code;
    int extra;
};
FiveDigit five_digit_encode_extra(long value);
long five_digit_decode(int code, int extra);

// How the parameter word of a code is coded on the wire.
enum class ValueClass { manual_output, five_digit, set_point, time, plain };
ValueClass value_class(int code);

struct Request {
    int address = 0;
    int code = 0;
    bool write = false;
    int16_t value = 0; // value word of a write, 0 for a read
};

// Accepts only a well-formed request: both address bytes equal and >= 0x80,
// a read (0xA4) or write (0x86) command byte, a code 0..410, zero value bytes
// in a read, and the checksum by the rule of the frame type.
std::optional<Request> parse_request(const uint8_t* frame);

// What one reply says; sv and pv are integers in units of the last decimal
// place (123.4 with one decimal place is 1234), mv is in hundredths.
struct ReplyFields {
    long sv = 0;
    long pv = 0;
    long mv = 0;
    uint8_t status = 0;
    int16_t param = 0;
};

std::array<uint8_t, reply_size> encode_reply(const ReplyFields& f);

// True when byte 10's high nibble matches the sum over bytes 1..9 seeded with
// byte 10's low nibble.
bool reply_check_ok(const uint8_t* reply);

// Builders for clients (tests, tools) that play the station's role.
std::array<uint8_t, request_size> build_read(int address, int code);
std::array<uint8_t, request_size> build_write(int address, int code, int16_t value);

} // namespace aisim
