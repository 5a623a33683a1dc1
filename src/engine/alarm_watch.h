#pragma once
// Alarm transitions per instrument, from the status bytes of its poll replies.
//
// Each address remembers the alarm bits of its last reply; a new reply raises
// the bits that were clear and clears the bits that were set. The first reply
// of an address reports every alarm bit it carries as raised (the station
// saw no reply before it), and nothing as cleared. Bits 0 and 1 are no
// alarm and are ignored. Pure logic; the caller stores and shows the result.
#include <array>
#include <cstdint>
#include <vector>

struct AlarmTransition {
    int address = 0;
    int bit = 0; // 2..7, see status_bits.h
    bool raised = false;
    bool operator==(const AlarmTransition&) const = default;
};

class AlarmWatch {
public:
    // The transitions of `address` (0..100) that `status` brings, lowest bit
    // first; addresses outside 0..100 bring none.
    std::vector<AlarmTransition> feed(int address, std::uint8_t status);
    // Takes `bit` of `address` as set in its last reply (an alarm the log
    // left active at the last run): a first reply that still carries it
    // raises nothing, one without it clears it.
    void assume_set(int address, int bit);

private:
    // Alarm bits of each address's last reply; an address never heard from
    // counts as having none, which is what makes its first reply's alarms
    // "raised".
    std::array<std::uint8_t, 101> last_ {};
};
