#pragma once
// The alarm bits of a reply's status byte. Bits 2..7 carry the six states the
// main panel shows as lamps; bits 0 and 1 name no alarm.
#include <cstdint>
#include <string>
#include <string_view>

inline constexpr int kFirstAlarmBit = 2;
inline constexpr int kAlarmBitCount = 6;

// The mnemonic of alarm bit `bit` (2 "Rdy", 3 "LdAL", 4 "HdAL", 5 "LoAL",
// 6 "HIAL", 7 "oraL"); empty for the bits that are no alarm.
std::string_view alarm_name(int bit);

// The names of the alarm bits set in `status`, lowest bit first, separated
// by one space; empty when none is set.
std::string alarm_names(std::uint8_t status);
