#include "alarm_watch.h"

#include "status_bits.h"

#include <utility>

std::vector<AlarmTransition> AlarmWatch::feed(int address, std::uint8_t status)
{
    std::vector<AlarmTransition> out;
    if (address < 0 || address >= static_cast<int>(last_.size()))
        return out;
    constexpr int kMask = ((1 << kAlarmBitCount) - 1) << kFirstAlarmBit;
    const int now = status & kMask;
    const int before
        = std::exchange(last_[static_cast<std::size_t>(address)], static_cast<std::uint8_t>(now));
    for (int bit = kFirstAlarmBit; bit < kFirstAlarmBit + kAlarmBitCount; ++bit) {
        const bool was = before & (1 << bit);
        const bool is = now & (1 << bit);
        if (was != is)
            out.push_back({ address, bit, is });
    }
    return out;
}

void AlarmWatch::assume_set(int address, int bit)
{
    if (address < 0 || address >= static_cast<int>(last_.size()) || bit < kFirstAlarmBit
        || bit >= kFirstAlarmBit + kAlarmBitCount)
        return;
    last_[static_cast<std::size_t>(address)] |= static_cast<std::uint8_t>(1 << bit);
}
