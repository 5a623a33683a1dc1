// The simulator and the station's codec are written independently; here each
// reads what the other writes.
#include "frame_codec.h"
#include "instrument.h"
#include "wire.h"

#include <gtest/gtest.h>

#include <cmath>

TEST(SimCrossCheck, StationFramesParseInTheSimulator)
{
    for (int address = 0; address <= 90; ++address) {
        for (int code = 0; code < aisim::param_count; ++code) {
            const std::string r = make_read_frame(static_cast<std::uint8_t>(address), code);
            auto req = aisim::parse_request(reinterpret_cast<const uint8_t*>(r.data()));
            ASSERT_TRUE(req && !req->write && req->address == address && req->code == code)
                << address << " " << code;
            const long long d = (code * 37 + address) % 65536 - 32768;
            const std::string w = make_write_frame_d(static_cast<std::uint8_t>(address), code, d);
            req = aisim::parse_request(reinterpret_cast<const uint8_t*>(w.data()));
            ASSERT_TRUE(req && req->write && req->address == address && req->code == code)
                << address << " " << code;
            EXPECT_EQ(req->value, d);
        }
    }
}

TEST(SimCrossCheck, StationDecodesSimulatorReplies)
{
    const long values[]
        = { 0, 7, -7, 9999, 12345, -12345, 99999, 123456, 999999, 1234567, 5000000, -4999999 };
    for (long sv : values) {
        for (long pv : { sv, sv - 1, sv + 250, 0L, 3L }) {
            const auto r = aisim::encode_reply({ sv, pv, -1234, 0xA4, -3 });
            ASSERT_TRUE(::reply_check_ok(r.data()));
            const ReplyFields f = split_reply(r.data());
            const long seen = aisim::five_digit_decode(
                aisim::five_digit_encode_extra(sv).code, aisim::five_digit_encode_extra(sv).extra);
            EXPECT_EQ(f.word_b, static_cast<double>(seen)) << sv;
            // PV arrives exact whenever SV minus PV fits word A's step.
            if (std::labs(seen - pv) <= 9999) {
                EXPECT_EQ(f.word_b - f.word_a, static_cast<double>(pv)) << sv << " " << pv;
            }
            EXPECT_EQ(f.mv_raw, -1234);
            EXPECT_EQ(f.status, 0xA4);
            EXPECT_EQ(f.raw, -3);
        }
    }
}

TEST(SimCrossCheck, ParameterValuesSurviveAWriteAndAReadBack)
{
    // Station encodes a value, the instrument stores it, its reply's word is
    // decoded by the station again.
    struct Case {
        int code;
        float value;
    } cases[] = {
        { 3, 100.0f },
        { 3, -12.5f },
        { 4, 1234.5f },
        { 7, 0.5f },
        { 21, 99.99f },
        { 26, -60.0f },
        { 38, 1300.0f },
        { 13, 600.0f },
        { 10, 2.0f },
        { 40, 3.0f },
        { 42, 10000.0f },
        { 51, 250.5f },
        { 409, -45.25f },
        { 52, 2.5f },
        { 410, 999.9f },
        { 0, 55.5f },
    };
    for (int dec = 0; dec <= 3; ++dec) {
        for (const Case& c : cases) {
            SCOPED_TRACE(testing::Message() << "code " << c.code << " dec " << dec);
            aisim::Instrument in(1);
            in.set_decimal_places(dec);
            const long long d = encode_write_value(c.code, c.value, dec);
            ASSERT_TRUE(in.write_word(c.code, static_cast<int16_t>(d)).applied);
            const double back = decode_param_word(c.code, in.read_word(c.code), dec);
            // One step of the class's resolution.
            double step = 1;
            if (c.code == 0 || c.code == 52 || c.code == 410)
                step = 0.1;
            else if (aisim::value_class(c.code) == aisim::ValueClass::five_digit
                || aisim::value_class(c.code) == aisim::ValueClass::set_point) {
                const double a = std::fabs(c.value) * std::pow(10.0, dec);
                step = std::pow(10.0, -dec) * (a >= 1e6 ? 1000 : a >= 1e5 ? 100 : a >= 1e4 ? 10 : 1);
            }
            EXPECT_NEAR(back, c.value, step + 1e-9);
        }
    }
}
