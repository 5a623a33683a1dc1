#include "codec_state.h"
#include "frame_codec.h"
#include "public_set.h"
#include "replies.h"

#include <gtest/gtest.h>

#include <string>

namespace {

class CodecState : public ::testing::Test {
protected:
    void SetUp() override { public_set_reset(); }

    // Places a 10-byte reply in rx_buf[1..10].
    static void receive(std::initializer_list<int> reply)
    {
        rx_buf.assign(1, 0);
        for (int b : reply)
            rx_buf.push_back(static_cast<byte_t>(b));
    }

    // A reply with the given words and a correct check nibble.
    static void receive_words(int a, int b, int extra, int mv, int status, int raw)
    {
        receive_reply(a, b, extra, mv, status, raw);
    }

    static std::string hex(const std::string& f)
    {
        return to_hex(reinterpret_cast<const std::uint8_t*>(f.data()), static_cast<int>(f.size()));
    }
};

}  // namespace

TEST_F(CodecState, WorkedPollReplyWithOneDecimalPlace)
{
    cur_addr = 1;
    cur_code = 0;
    dec_places[1] = 1;
    receive({0x22, 0x00, 0xD2, 0x04, 0x7C, 0x15, 0x08, 0x07, 0x00, 0x90});
    ASSERT_TRUE(decode_reply());
    EXPECT_DOUBLE_EQ(sv_value, 123.4);
    EXPECT_DOUBLE_EQ(pv_value, 120.0);
    EXPECT_EQ(mv_raw, 5500);
    EXPECT_EQ(alarm_byte, 0x08);
    EXPECT_FLOAT_EQ(para_value, 0.7f);
}

TEST_F(CodecState, FailedCheckNibbleChangesOnlyReplyOk)
{
    reply_ok = 1;
    cur_addr = 1;
    sv_value = 1;
    pv_value = 2;
    mv_raw = 3;
    alarm_byte = 4;
    para_value = 5;
    receive({0x22, 0x00, 0xD2, 0x04, 0x7C, 0x15, 0x08, 0x07, 0x00, 0xA0});
    EXPECT_FALSE(decode_reply());
    EXPECT_EQ(reply_ok, 0);
    EXPECT_EQ(sv_value, 1);
    EXPECT_EQ(pv_value, 2);
    EXPECT_EQ(mv_raw, 3);
    EXPECT_EQ(alarm_byte, 4);
    EXPECT_EQ(para_value, 5);
}

TEST_F(CodecState, InputTypeReplySetsDecimalPlacesBeforeScaling)
{
    cur_addr = 5;
    cur_code = 22;
    receive_words(34, 1234, 0, 0, 0, 13);  // input type 13 = mA: 4 places
    ASSERT_TRUE(decode_reply());
    EXPECT_EQ(dec_places[5], 4);
    EXPECT_DOUBLE_EQ(sv_value, 0.1234);
    EXPECT_DOUBLE_EQ(pv_value, 0.12);
    EXPECT_EQ(para_value, 13);
}

TEST_F(CodecState, InputTypeOutsideTheTableKeepsDecimalPlaces)
{
    cur_code = 22;
    for (int raw : {18, 200, -1, -32768}) {
        cur_addr = 7;
        dec_places[7] = 1;
        receive_words(0, 100, 0, 0, 0, raw);
        ASSERT_TRUE(decode_reply()) << raw;
        EXPECT_EQ(dec_places[7], 1) << raw;
        EXPECT_EQ(para_value, raw);
        EXPECT_DOUBLE_EQ(sv_value, 10.0);
    }
}

TEST_F(CodecState, AddressOutsideTheTablesScalesByZeroAndWritesNothing)
{
    for (int addr : {-1, 91, 100, 1000}) {
        cur_addr = addr;
        cur_code = 22;
        receive_words(0, 1234, 0, 0, 0, 1);
        ASSERT_TRUE(decode_reply());
        EXPECT_DOUBLE_EQ(sv_value, 1234);
    }
    for (int a = 0; a < kDecPlacesSize; ++a)
        EXPECT_EQ(dec_places[a], 0);
}

TEST_F(CodecState, ManualOutputWordKeptWhileCommandPending)
{
    cur_addr = 1;
    cur_code = 0;
    para_value = 55.5f;
    ctrl_cmd_pending = 1;
    receive_words(0, 0, 0, 0, 0, 123);
    ASSERT_TRUE(decode_reply());
    EXPECT_FLOAT_EQ(para_value, 55.5f);
    ctrl_cmd_pending = 0;
    receive_words(0, 0, 0, 0, 0, 123);
    ASSERT_TRUE(decode_reply());
    EXPECT_FLOAT_EQ(para_value, 12.3f);
}

TEST_F(CodecState, SegmentCountFromCode40)
{
    cur_addr = 1;
    cur_code = 40;
    receive_words(0, 0, 0, 0, 0, 0x0103);
    ASSERT_TRUE(decode_reply());
    EXPECT_EQ(segment_count, 3);
    EXPECT_EQ(para_value, 259);
}

TEST_F(CodecState, ExtraDigitOfWordB)
{
    cur_addr = 1;
    cur_code = 0;
    receive_words(0, 0x27FA, 5, 0, 0, 0);
    ASSERT_TRUE(decode_reply());
    EXPECT_DOUBLE_EQ(sv_value, 12345);
}

TEST_F(CodecState, WriteFrameUsesCurCodeClassAndCurAddrPlaces)
{
    cur_addr = 1;
    dec_places[1] = 1;
    cur_code = 3;
    EXPECT_EQ(hex(make_write_frame(1, 3, 100.0f)), "81818603E8038703");
    EXPECT_EQ(hex(make_write_frame(1, 3, 25.6f)).substr(8, 4), "0001");  // 256
    EXPECT_EQ(hex(make_write_frame(1, 3, 25.3f)).substr(8, 4), "FD00");  // 253
}

TEST_F(CodecState, WriteFrameTakesTheAddressWhileCommandPending)
{
    cur_addr = -1;
    dec_places[7] = 2;
    cur_code = 0;
    ctrl_cmd_pending = 1;
    const std::string f = make_write_frame(7, 0, 55.5f);
    EXPECT_EQ(cur_addr, 7);
    EXPECT_EQ(hex(f).substr(8, 4), "AE15");  // 5550
    ctrl_cmd_pending = 0;
    cur_addr = 3;
    make_write_frame(9, 0, 1.0f);
    EXPECT_EQ(cur_addr, 3);
}
