#include "instrument.h"
#include "wire.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

using namespace aisim;

namespace {

std::vector<uint8_t> v(const std::array<uint8_t, reply_size>& a)
{
    return { a.begin(), a.end() };
}

int word(const std::array<uint8_t, reply_size>& r, int lo)
{
    return static_cast<int16_t>(static_cast<uint16_t>(r[lo] | (r[lo + 1] << 8)));
}

} // namespace

TEST(SimReplyEncoder, WorkedReply)
{
    // One decimal place, SV 123.4, PV 120.0, MV 55.00, status 0x08, word 7.
    const auto r = encode_reply({ 1234, 1200, 5500, 0x08, 7 });
    EXPECT_EQ(v(r), (std::vector<uint8_t> { 0x22, 0x00, 0xD2, 0x04, 0x7C, 0x15, 0x08, 0x07, 0x00, 0x90 }));
    EXPECT_TRUE(reply_check_ok(r.data()));
}

TEST(SimReplyEncoder, WordBCarriesTheExtraDigitInEveryRange)
{
    // seen: the SV the station decodes; word A then makes PV (= the SV
    // asked for here) come out exact even where SV itself loses a digit.
    struct Case {
        long sv;
        int code;
        int extra;
        long seen;
    } cases[] = {
        { 0, 0, 0, 0 },
        { 9999, 9999, 0, 9999 },
        { 10000, 10000, 0, 10000 },
        { 12345, 10234, 5, 12345 }, // steps of 10, units digit rides along
        { 99999, 18999, 9, 99999 },
        { 123456, 19234, 5, 123450 }, // steps of 100, tens digit rides along
        { 999999, 27999, 9, 999990 },
        { 1234567, 28234, 5, 1234500 }, // steps of 1000, hundreds digit rides along
        { 5000000, 32000, 0, 5000000 },
        { 7000000, 32000, 0, 5000000 }, // clamped
        { -12345, -10234, 5, -12345 },
        { -9999, -9999, 0, -9999 },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.sv);
        const auto r = encode_reply({ c.sv, c.sv, 0, 0, 0 });
        EXPECT_EQ(word(r, 2), c.code);
        EXPECT_EQ(r[9] & 0x0F, c.extra);
        EXPECT_TRUE(reply_check_ok(r.data()));
        const long sv_seen = five_digit_decode(word(r, 2), r[9] & 0x0F);
        EXPECT_EQ(sv_seen, c.seen);
        EXPECT_EQ(five_digit_decode(word(r, 0), 0), c.seen - c.sv);
        if (c.sv == c.seen) {
            EXPECT_EQ(sv_seen - five_digit_decode(word(r, 0), 0), c.sv);
        }
    }
}

TEST(SimReplyEncoder, WordAIsSvMinusPvAgainstTheSvAsDecoded)
{
    // SV 12345 is decoded as 12345 thanks to the extra digit; PV 345 leaves
    // A = 12000, which is coded as 10200 and decodes exactly.
    auto r = encode_reply({ 12345, 345, 0, 0, 0 });
    EXPECT_EQ(word(r, 0), 10200);
    EXPECT_EQ(five_digit_decode(word(r, 2), r[9] & 0x0F) - five_digit_decode(word(r, 0), 0), 345);
    // PV above SV gives a negative A.
    r = encode_reply({ 1000, 1250, 0, 0, 0 });
    EXPECT_EQ(word(r, 0), -250);
    // Output word is signed and clamped to 16 bits.
    r = encode_reply({ 0, 0, -1050, 0, 0 });
    EXPECT_EQ(word(r, 4), -1050);
}

TEST(SimReplyEncoder, CheckNibbleCoversEveryByte)
{
    auto r = encode_reply({ 1234, 1200, 5500, 0x08, 7 });
    for (int i = 0; i < 9; ++i) {
        auto bad = r;
        bad[i] = static_cast<uint8_t>(bad[i] + 0x10);
        EXPECT_FALSE(reply_check_ok(bad.data())) << "byte " << i + 1;
    }
}

TEST(SimParameterWord, CodedByTheClassOfTheCode)
{
    Instrument in(1); // K input: two decimal places
    ASSERT_EQ(in.decimal_places(), 2);
    struct Case {
        int code;
        double value;
        int word;
    } cases[] = {
        { 3, 50.0, 5000 }, // five-digit, below 10000
        { 3, 123.45, 10234 }, // 12345: extra digit dropped
        { 4, -1234.5, -19234 }, // 123450, negative
        { 5, 9999.0, 27999 }, // 999900
        { 38, 1300.0, 19300 }, // 130000
        { 51, 250.5, 11505 }, // program set point 25050
        { 53, -12.34, -1234 },
        { 52, 2.5, 25 }, // program time in tenths
        { 410, 999.9, 9999 },
        { 13, 600, 600 }, // plain
        { 40, 3, 3 },
        { 35, 9600, 9600 },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.code);
        in.set_param(c.code, c.value);
        EXPECT_EQ(in.read_word(c.code), c.word);
    }
    // Four decimal places: 500.0 is 5000000, the largest five-digit value.
    in.set_decimal_places(4);
    in.set_param(3, 500.0);
    EXPECT_EQ(in.read_word(3), 32000);
}

TEST(SimParameterWord, CodeZeroIsManualOutputOrTheNegatedSegment)
{
    Instrument in(1);
    in.set_param(0, 55.5);
    EXPECT_EQ(in.read_word(0), 555); // tenths of a percent
    in.set_param(0, -10.0);
    EXPECT_EQ(in.read_word(0), -100);
    in.set_param(40, 3); // a program instrument reports its segment instead
    in.set_param(1, 2);
    EXPECT_EQ(in.read_word(0), -2);
}

TEST(SimParameterWord, WritesDecodeTheStationsCoding)
{
    Instrument in(1);
    in.set_decimal_places(1);
    // Writing 100.0 to code 3 with one decimal place sends 1000.
    EXPECT_TRUE(in.write_word(3, 1000).applied);
    EXPECT_DOUBLE_EQ(in.param(3), 100.0);
    EXPECT_TRUE(in.write_word(3, -125).applied);
    EXPECT_DOUBLE_EQ(in.param(3), -12.5);
    // Manual output goes out in hundredths and comes back in tenths.
    EXPECT_TRUE(in.write_word(0, 5550).applied);
    EXPECT_DOUBLE_EQ(in.param(0), 55.5);
    EXPECT_EQ(in.read_word(0), 555);
    // A program time is five-digit coded on the way in: 10234 is 1234.0 minutes.
    EXPECT_TRUE(in.write_word(52, 10234).applied);
    EXPECT_DOUBLE_EQ(in.param(52), 1234.0);
    // Out of range: run state 3 does not exist, so the write is refused.
    EXPECT_FALSE(in.write_word(10, 3).applied);
    EXPECT_EQ(in.run_state(), state_run);
}

TEST(SimRequestParser, AcceptsTheStationsFrames)
{
    struct Case {
        std::array<uint8_t, 8> frame;
        int address;
        int code;
        bool write;
        int value;
    } cases[] = {
        { { 0x85, 0x85, 0xA4, 0x16, 0x00, 0x00, 0xA9, 0x16 }, 5, 22, false, 0 },
        { { 0x81, 0x81, 0xA4, 0x00, 0x00, 0x00, 0xA5, 0x00 }, 1, 0, false, 0 },
        { { 0x81, 0x81, 0x86, 0x03, 0xE8, 0x03, 0x87, 0x03 }, 1, 3, true, 1000 },
        { { 0x81, 0x81, 0x86, 0x03, 0x83, 0xFF, 0x87, 0x03 }, 1, 3, true, -125 },
        { { 0x81, 0x81, 0xA5, 0x2C, 0x00, 0x00, 0xA6, 0x2C }, 1, 300, false, 0 }, // code above 255
        { { 0xDA, 0xDA, 0x87, 0x9A, 0x00, 0x02, 0xE1, 0x9A }, 90, 410, true, 512 },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.code);
        const auto r = parse_request(c.frame.data());
        ASSERT_TRUE(r.has_value());
        EXPECT_EQ(r->address, c.address);
        EXPECT_EQ(r->code, c.code);
        EXPECT_EQ(r->write, c.write);
        EXPECT_EQ(r->value, c.value);
        // The builders used by test clients produce the same bytes.
        const auto built = c.write ? build_write(c.address, c.code, static_cast<int16_t>(c.value))
                                   : build_read(c.address, c.code);
        EXPECT_EQ(built, c.frame);
    }
}

TEST(SimRequestParser, RefusesMalformedFrames)
{
    const std::array<uint8_t, 8> cases[] = {
        { 0x85, 0x85, 0xA4, 0x16, 0x00, 0x00, 0xA8, 0x16 }, // checksum low byte off by one
        { 0x85, 0x85, 0xA4, 0x16, 0x00, 0x00, 0xA9, 0x17 }, // second checksum byte
        { 0x85, 0x86, 0xA4, 0x16, 0x00, 0x00, 0xA9, 0x16 }, // address bytes differ
        { 0x05, 0x05, 0xA4, 0x16, 0x00, 0x00, 0x29, 0x16 }, // address bytes without 0x80
        { 0x85, 0x85, 0xA4, 0x16, 0x01, 0x00, 0xA9, 0x16 }, // read with a value byte
        { 0x85, 0x85, 0xB0, 0x16, 0x00, 0x00, 0xB5, 0x16 }, // unknown command
        { 0x81, 0x81, 0xA5, 0x9B, 0x00, 0x00, 0xA6, 0x9B }, // code 411 does not exist
        { 0x81, 0x81, 0x86, 0x03, 0xE8, 0x03, 0x88, 0x03 }, // write checksum
    };
    for (const auto& f : cases)
        EXPECT_FALSE(parse_request(f.data()).has_value()) << std::hex << int(f[0]) << " " << int(f[2]);
}
