#pragma once
// Frame codec of the AI-series RS-485 protocol, station side.
//
// Requests are 8 bytes, held as a std::string of 8 chars (NUL bytes included):
//   read : addr+0x80, addr+0x80, 0xA4+code/256, code&0xFF, 0, 0, sumLo, code&0xFF
//   write: addr+0x80, addr+0x80, 0x86+code/256, code&0xFF, valLo, valHi, sumLo, sumHi
// where sum = address + byte3 + 256*byte4 (the value bytes are not summed).
// Replies are 10 bytes: word A, word B (five-digit, extra digit in the low
// nibble of byte 10), output word in hundredths, status byte, parameter word,
// and a check nibble in the high nibble of byte 10. Words are little-endian,
// signed.
#include <cstdint>
#include <string>

inline constexpr int kReplyLength = 10;
inline constexpr int kRequestLength = 8;
inline constexpr std::uint8_t kReadCommand = 0xA4;
inline constexpr std::uint8_t kWriteCommand = 0x86;

// High byte taken as signed, times 256, plus the low byte: -32768..32767.
int bytes_to_int16(std::uint8_t low, std::uint8_t high);

// The value a five-digit code stands for. The extra digit is added unmasked.
double five_digit_decode(int code, int extra_digit);

// The five-digit code of an integer value; magnitudes above 5000000 clamp to
// the largest code 32000. Digits below the range's step are dropped.
int five_digit_encode(long long value);

// How a parameter code's value is carried in the parameter word.
enum class ValueClass { ManualOutput, FiveDigit, ProgramSetPoint, ProgramTime, Plain };
ValueClass value_class(int code);

// Parameter word of a reply -> engineering value, by the class of `code`.
// (The manual-output rule "unchanged while a control command is pending" is the
// caller's business.) dec = decimal places of the instrument.
double decode_param_word(int code, int raw, int dec);

// Engineering value -> whole units of the parameter's resolution, rounded to
// the nearest unit: hundredths for the manual output, 10^-dec for the
// five-digit class and the program set points, tenths for program times,
// ones for the plain class. unit_digits gives the digits after the point of
// one unit (2, dec, 1, 0).
long long write_units(int code, float value, int dec);
int unit_digits(int code, int dec);

// Engineering value to write -> the integer d of the write frame, by the class
// of `code` (the five-digit code of write_units where the class has one). The single-precision value is widened to double, multiplied and
// rounded to the nearest integer, so a value read back and written unchanged
// keeps its word: 25.6f with one decimal place gives 256, 0.30f with two 30.
long long encode_write_value(int code, float value, int dec);

// Whether the parameter word `raw` read back from an instrument holds the
// value `written` to `code` at `dec` decimal places, at the parameter's
// resolution: the word the write carried and the word read back must stand
// for the same value (the manual output is written in hundredths but read in
// tenths, so there the two may differ by less than one tenth).
bool readback_holds(int code, float written, int raw, int dec);

// The values of `code` a write frame carries without folding: the value word
// holds 16 bits in two's complement, a five-digit code reaches 5000000 units.
struct WriteLimits {
    double min = 0;
    double max = 0;
};
WriteLimits write_limits(int code, int dec);

std::string make_read_frame(std::uint8_t address, int code);
// Write request carrying the low 16 bits of d in two's complement.
std::string make_write_frame_d(std::uint8_t address, int code, long long d);

// Check nibble of a 10-byte reply.
bool reply_check_ok(const std::uint8_t* reply);

// Raw fields of a reply, before decimal-place scaling.
struct ReplyFields {
    double word_a = 0;  // five_digit_decode(A, 0)
    double word_b = 0;  // five_digit_decode(B, byte10 & 0x0F): the set value
    int mv_raw = 0;     // output in hundredths
    std::uint8_t status = 0;
    int raw = 0;        // parameter word
};
ReplyFields split_reply(const std::uint8_t* reply);

// Upper-case hex of the bytes run together ("2200D2...").
std::string to_hex(const std::uint8_t* bytes, int length);
