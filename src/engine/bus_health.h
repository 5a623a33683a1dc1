#pragma once
// How well the line is doing: per address, the requests, replies, unanswered
// requests, replies failing their check nibble, voided windows (late or
// ambiguous replies), the mean reply time and the time of the last reply;
// for the whole line, what the last minute brought. Fed with every decided
// reply window; read by the status bar and the bus-health view.
//
// An address is silent when its last kSilentPolls poll requests brought no
// valid reply (three sweeps in a row); its panel says so.
//
// Pure logic with explicit times; the counters are bounded (the minute keeps
// at most one entry per decided window of the last 60 s).
#include "reply_matcher.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <deque>
#include <optional>

class BusHealth {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr int kSilentPolls = 3;
    static constexpr int kAddresses = 256;

    struct Address {
        std::uint64_t requests = 0;
        std::uint64_t replies = 0; // valid replies
        std::uint64_t timeouts = 0; // nothing came
        std::uint64_t bad_checks = 0; // a reply failing its check nibble
        std::uint64_t voided = 0; // several blocks, or a lone one that may be late
        double reply_ms_total = 0; // over the valid replies
        std::optional<Clock::time_point> last_reply;
        int polls_without_reply = 0;

        double mean_reply_ms() const { return replies ? reply_ms_total / static_cast<double>(replies) : 0; }
    };

    struct Minute {
        int replies = 0;
        int timeouts = 0;
        int bad_checks = 0;
        int voided = 0;
    };

    // One decided window; `check_ok` tells whether its reply passed the check.
    void record(const ReplyOutcome& outcome, bool check_ok, Clock::time_point now);
    // A block that fell into no window.
    void record_late_block(Clock::time_point now);

    const Address& address(int a) const { return addresses_[static_cast<std::size_t>(a & 0xFF)]; }
    bool silent(int a) const { return address(a).polls_without_reply >= kSilentPolls; }
    Minute last_minute(Clock::time_point now) const;
    std::uint64_t late_blocks() const { return late_blocks_; }
    // The addresses that have seen at least one request, ascending.
    std::vector<int> addresses_seen() const;

private:
    enum class Event : std::uint8_t { Reply, Timeout, BadCheck, Voided };
    void remember(Event e, Clock::time_point now);

    std::array<Address, kAddresses> addresses_ {};
    std::deque<std::pair<Clock::time_point, Event>> minute_;
    std::uint64_t late_blocks_ = 0;
};
