#include "codec_state.h"

#include "frame_codec.h"
#include "public_set.h"

#include <cmath>

static int g_last_raw = 0;

std::string make_write_frame(std::uint8_t address, int code, float value)
{
    if (ctrl_cmd_pending)
        cur_addr = address;
    const long long d = encode_write_value(cur_code, value, dec_places_of(cur_addr));
    return make_write_frame_d(address, code, d);
}

bool decode_reply(const std::uint8_t* reply, int address, int code, bool command_reply, float written)
{
    if (!reply_check_ok(reply)) {
        reply_ok = 0;
        return false;
    }
    const ReplyFields f = split_reply(reply);
    sv_value = f.word_b;
    pv_value = f.word_b - f.word_a;
    g_last_raw = f.raw;

    if (code == 22) {
        // An input type outside the table leaves the decimal places as they were.
        const int places = inp_dec_places(f.raw);
        if (places >= 0)
            set_dec_places(address, places);
        para_value = static_cast<float>(f.raw);
    }
    const int dec = dec_places_of(address);
    const double scale = std::pow(10.0, dec);
    sv_value /= scale;
    pv_value /= scale;
    mv_raw = f.mv_raw;
    alarm_byte = f.status;

    if (code == 0) {
        para_value = command_reply ? written : static_cast<float>(decode_param_word(0, f.raw, dec));
    } else {
        para_value = static_cast<float>(decode_param_word(code, f.raw, dec));
        if (code == 40)
            segment_count = static_cast<std::uint8_t>(f.raw & 0xFF);
    }
    return true;
}

bool decode_reply()
{
    if (rx_buf.size() < 1 + kReplyLength)
        return false;
    return decode_reply(rx_buf.data() + 1, cur_addr, cur_code, ctrl_cmd_pending != 0, para_value);
}

int last_reply_raw() { return g_last_raw; }
