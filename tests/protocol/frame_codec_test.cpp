#include "frame_codec.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

std::string hex(const std::string& frame)
{
    return to_hex(reinterpret_cast<const std::uint8_t*>(frame.data()), static_cast<int>(frame.size()));
}

}  // namespace

TEST(FrameCodec, WorkedRequestFrames)
{
    EXPECT_EQ(hex(make_read_frame(5, 22)), "8585A4160000A916");
    EXPECT_EQ(hex(make_read_frame(1, 0)), "8181A4000000A500");
    EXPECT_EQ(make_read_frame(1, 0).size(), 8u);
    // Write 100.0 and -12.5 to code 3 at address 1 with one decimal place.
    EXPECT_EQ(hex(make_write_frame_d(1, 3, encode_write_value(3, 100.0f, 1))), "81818603E8038703");
    EXPECT_EQ(hex(make_write_frame_d(1, 3, encode_write_value(3, -12.5f, 1))), "8181860383FF8703");
}

TEST(FrameCodec, CodesAboveByteRangeCarryIntoTheCommandByte)
{
    // Code 300 = 0x12C: byte 3 = 0xA4 + 1, byte 4 = 0x2C, sum = 7 + 0xA5 + 0x2C00.
    EXPECT_EQ(hex(make_read_frame(7, 300)), "8787A52C0000AC2C");
    EXPECT_EQ(hex(make_write_frame_d(7, 410, 0)), "8787879A00008E9A");
}

TEST(FrameCodec, WriteValueWordIsLow16BitsOfD)
{
    EXPECT_EQ(hex(make_write_frame_d(0, 1, -1)).substr(8, 4), "FFFF");
    EXPECT_EQ(hex(make_write_frame_d(0, 1, 65536 + 5)).substr(8, 4), "0500");
    EXPECT_EQ(hex(make_write_frame_d(0, 1, -32768)).substr(8, 4), "0080");
}

TEST(FrameCodec, WriteValuesRoundToTheNearestStep)
{
    EXPECT_EQ(encode_write_value(3, 25.6f, 1), 256); // 25.6000003... x 10 is just above 256
    EXPECT_EQ(encode_write_value(3, 25.3f, 1), 253); // 252.9999924... just below 253
    EXPECT_EQ(encode_write_value(3, 0.30f, 2), 30);
    EXPECT_EQ(encode_write_value(3, 999.9f, 1), 9999);
    EXPECT_EQ(encode_write_value(3, 100.0f, 1), 1000); // the worked frames stay as they are
    EXPECT_EQ(encode_write_value(3, -12.5f, 1), -125);
    EXPECT_EQ(encode_write_value(0, 55.5f, 1), 5550); // manual output: x 100
    EXPECT_EQ(encode_write_value(52, 12.5f, 3), 125); // program time: x 10
    EXPECT_EQ(encode_write_value(51, 123.45f, 2), 10234); // set point 12345 -> five-digit code
    EXPECT_EQ(encode_write_value(10, 2.2f, 3), 2); // plain
    EXPECT_EQ(encode_write_value(10, -2.5f, 0), -3); // halves away from zero
}

// A value read from an instrument and written back untouched must keep its
// word: the read gives the single-precision value of word / 10^dec.
TEST(FrameCodec, ValuesReadAndWrittenBackKeepTheirWord)
{
    for (int dec = 0; dec <= 4; ++dec) {
        int moved = 0;
        for (int word = -9999; word <= 9999; ++word) {
            const float read = static_cast<float>(decode_param_word(3, word, dec));
            if (encode_write_value(3, read, dec) != word)
                ++moved;
        }
        EXPECT_EQ(moved, 0) << "decimal places " << dec;
    }
    for (int word = -9999; word <= 9999; ++word) // program times: read as word / 10
        ASSERT_EQ(encode_write_value(52, static_cast<float>(decode_param_word(52, word, 0)), 0), word);
    for (int word = -9999; word <= 9999; ++word) // manual output: read as word / 10, written x 100
        ASSERT_EQ(encode_write_value(0, static_cast<float>(decode_param_word(0, word, 0)), 0), word * 10);
}

TEST(FiveDigit, WorkedExamples)
{
    EXPECT_EQ(five_digit_decode(10234, 5), 12345);
    EXPECT_EQ(five_digit_decode(-10234, 5), -12345);
    EXPECT_EQ(five_digit_encode(-12345), -10234);
    EXPECT_EQ(five_digit_encode(12345), 10234);
    EXPECT_EQ(five_digit_decode(10234, 0), 12340);
    EXPECT_EQ(five_digit_encode(5000001), 32000);
    EXPECT_EQ(five_digit_encode(-999999999), -32000);
    EXPECT_EQ(five_digit_decode(32000, 0), 5000000);
    EXPECT_EQ(five_digit_decode(0x27FA, 5), 12345);
}

TEST(FiveDigit, RangeBoundaries)
{
    const struct {
        long long value;
        int code;
    } cases[] = {{0, 0},           {9999, 9999},       {10000, 10000},   {99999, 18999},
                 {100000, 19000},  {999999, 27999},    {1000000, 28000}, {5000000, 32000},
                 {-9999, -9999},   {-100000, -19000}};
    for (const auto& c : cases)
        EXPECT_EQ(five_digit_encode(c.value), c.code) << c.value;
}

// Every 16-bit code: decoding with extra digit 0 and re-encoding gives the same
// code, except the codes above 32000 which stand for values past the encoder's
// clamp (they re-encode as +-32000).
TEST(FiveDigit, RoundTripOverTheWhole16BitRange)
{
    for (int code = -32768; code <= 32767; ++code) {
        const double value = five_digit_decode(code, 0);
        const int again = five_digit_encode(static_cast<long long>(value));
        const int expected = code > 32000 ? 32000 : code < -32000 ? -32000 : code;
        ASSERT_EQ(again, expected) << "code " << code;
        if (code > 0 && code < 32767) {  // values grow with the code
            ASSERT_LT(value, five_digit_decode(code + 1, 0)) << code;
        }
    }
}

TEST(BytesToInt16, SignedHighByte)
{
    EXPECT_EQ(bytes_to_int16(0x00, 0x00), 0);
    EXPECT_EQ(bytes_to_int16(0xFF, 0xFF), -1);
    EXPECT_EQ(bytes_to_int16(0x00, 0x80), -32768);
    EXPECT_EQ(bytes_to_int16(0xFF, 0x7F), 32767);
    EXPECT_EQ(bytes_to_int16(0x7C, 0x15), 5500);
}

TEST(Reply, WorkedReplySplitsIntoItsFields)
{
    const std::uint8_t r[10] = {0x22, 0x00, 0xD2, 0x04, 0x7C, 0x15, 0x08, 0x07, 0x00, 0x90};
    ASSERT_TRUE(reply_check_ok(r));
    const ReplyFields f = split_reply(r);
    EXPECT_EQ(f.word_a, 34);
    EXPECT_EQ(f.word_b, 1234);
    EXPECT_EQ(f.mv_raw, 5500);
    EXPECT_EQ(f.status, 0x08);
    EXPECT_EQ(f.raw, 7);
    EXPECT_EQ(to_hex(r, 10), "2200D2047C1508070090");
}

TEST(Reply, CheckNibbleCoversEveryByteAndTheExtraDigit)
{
    const std::uint8_t good[10] = {0x22, 0x00, 0xD2, 0x04, 0x7C, 0x15, 0x08, 0x07, 0x00, 0x90};
    for (int i = 0; i < 10; ++i) {
        std::uint8_t r[10];
        std::copy(good, good + 10, r);
        r[i] ^= 0x10;  // flips the check sum's high nibble, whatever byte
        EXPECT_FALSE(reply_check_ok(r)) << "byte " << i;
    }
}

TEST(ValueClass, CodesByClass)
{
    EXPECT_EQ(value_class(0), ValueClass::ManualOutput);
    for (int c : {3, 4, 5, 6, 7, 21, 24, 25, 26, 33, 37, 38, 39})
        EXPECT_EQ(value_class(c), ValueClass::FiveDigit) << c;
    for (int c : {1, 2, 8, 20, 22, 23, 27, 32, 34, 36, 40, 50})
        EXPECT_EQ(value_class(c), ValueClass::Plain) << c;
    EXPECT_EQ(value_class(51), ValueClass::ProgramSetPoint);
    EXPECT_EQ(value_class(409), ValueClass::ProgramSetPoint);
    EXPECT_EQ(value_class(52), ValueClass::ProgramTime);
    EXPECT_EQ(value_class(410), ValueClass::ProgramTime);
}

TEST(ValueClass, DecodeParamWordByClass)
{
    EXPECT_DOUBLE_EQ(decode_param_word(0, 555, 1), 55.5);
    EXPECT_DOUBLE_EQ(decode_param_word(3, 10234, 1), 1234.0);
    EXPECT_DOUBLE_EQ(decode_param_word(51, -1000, 1), -100.0);
    EXPECT_DOUBLE_EQ(decode_param_word(52, 125, 3), 12.5);
    EXPECT_DOUBLE_EQ(decode_param_word(2, 950, 3), 950);
}

// A read-back holds the written value when both words stand for the same value
// at the parameter's resolution.
TEST(Readback, ComparesAtTheParametersResolution)
{
    const struct {
        int code;
        float written;
        int raw; // the word read back
        int dec;
        bool holds;
    } cases[] = {
        { 4, -125.0f, -1250, 1, true }, // LoAL -125.0 at one decimal place
        { 4, -125.0f, -1000, 1, false }, // the instrument kept -100.0
        { 4, -125.04f, -1250, 1, true }, // finer than one place: written as -125.0
        { 3, 1234.5f, 10234, 1, true }, // 12345 counts go out as 12340: so does the read-back
        { 3, 1234.5f, 10235, 1, false },
        { 51, 50000.0f, 32000, 2, true }, // the largest five-digit code
        { 0, 55.55f, 556, 0, true }, // manual output: hundredths written, tenths read
        { 0, 55.55f, 555, 0, true },
        { 0, 55.55f, 554, 0, false },
        { 0, 55.5f, 555, 0, true },
        { 52, 12.5f, 125, 3, true }, // program time in tenths
        { 52, 2000.0f, 20000, 0, true }, // written as a five-digit code, read plain
        { 52, 2000.0f, 11000, 0, false }, // an instrument that kept the code as a plain word
        { 13, 345.0f, 345, 0, true },
        { 13, 345.0f, 344, 0, false },
        { 10, 2.0f, 2, 0, true },
        { 45, 40000.0f, 40000 - 65536, 0, true }, // plain words keep 16 bits
    };
    for (const auto& c : cases)
        EXPECT_EQ(readback_holds(c.code, c.written, c.raw, c.dec), c.holds)
            << "code " << c.code << " written " << c.written << " raw " << c.raw;
}

TEST(Readback, UnitsOfEachClass)
{
    EXPECT_EQ(write_units(4, -125.0f, 2), -12500);
    EXPECT_EQ(write_units(3, 1234.5f, 1), 12345); // before the five-digit code drops the 5
    EXPECT_EQ(write_units(0, 55.55f, 3), 5555);
    EXPECT_EQ(write_units(52, 12.5f, 3), 125);
    EXPECT_EQ(write_units(45, 7.4f, 3), 7);
    EXPECT_EQ(unit_digits(4, 3), 3);
    EXPECT_EQ(unit_digits(51, 1), 1);
    EXPECT_EQ(unit_digits(0, 3), 2);
    EXPECT_EQ(unit_digits(52, 3), 1);
    EXPECT_EQ(unit_digits(45, 3), 0);
    EXPECT_EQ(unit_digits(22, 3), 0);
}
