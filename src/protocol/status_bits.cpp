#include "status_bits.h"

namespace {

constexpr std::string_view kNames[kAlarmBitCount] = { "Rdy", "LdAL", "HdAL", "LoAL", "HIAL", "oraL" };

} // namespace

std::string_view alarm_name(int bit)
{
    if (bit < kFirstAlarmBit || bit >= kFirstAlarmBit + kAlarmBitCount)
        return {};
    return kNames[bit - kFirstAlarmBit];
}

std::string alarm_names(std::uint8_t status)
{
    std::string out;
    for (int bit = kFirstAlarmBit; bit < kFirstAlarmBit + kAlarmBitCount; ++bit) {
        if (!(status & (1u << bit)))
            continue;
        if (!out.empty())
            out += ' ';
        out += alarm_name(bit);
    }
    return out;
}
