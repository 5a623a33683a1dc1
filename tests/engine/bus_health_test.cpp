// The line's health from the decided reply windows.
#include "bus_health.h"

#include <gtest/gtest.h>

namespace {

using Clock = BusHealth::Clock;
using Result = ReplyOutcome::Result;

Clock::time_point at(int s) { return Clock::time_point {} + std::chrono::seconds(1000 + s); }

ReplyOutcome outcome(int address, Result result, RequestKind kind = RequestKind::Poll, int reply_ms = 40)
{
    ReplyOutcome o;
    o.request.address = address;
    o.request.kind = kind;
    o.result = result;
    o.reply_time = std::chrono::milliseconds(reply_ms);
    return o;
}

} // namespace

TEST(BusHealth, CountsEachAddressAndTheLastMinute)
{
    BusHealth h;
    h.record(outcome(3, Result::Reply, RequestKind::Poll, 30), true, at(0));
    h.record(outcome(3, Result::Reply, RequestKind::Poll, 50), true, at(1));
    h.record(outcome(3, Result::Reply), false, at(2)); // bad check nibble
    h.record(outcome(3, Result::NoReply), false, at(3));
    h.record(outcome(3, Result::Voided), false, at(4));
    const BusHealth::Minute early = h.last_minute(at(30));
    EXPECT_EQ(early.replies, 2);
    EXPECT_EQ(early.bad_checks, 1);
    EXPECT_EQ(early.timeouts, 1);
    EXPECT_EQ(early.voided, 1);
    h.record(outcome(5, Result::Reply, RequestKind::ReadRun), true, at(70));
    h.record_late_block(at(71));
    ReplyOutcome unsent = outcome(5, Result::NoReply);
    unsent.request.sent = false; // the port was closed: the line is not to blame
    h.record(unsent, false, at(72));

    const BusHealth::Address& a = h.address(3);
    EXPECT_EQ(a.requests, 5u);
    EXPECT_EQ(a.replies, 2u);
    EXPECT_EQ(a.bad_checks, 1u);
    EXPECT_EQ(a.timeouts, 1u);
    EXPECT_EQ(a.voided, 1u);
    EXPECT_DOUBLE_EQ(a.mean_reply_ms(), 40.0);
    EXPECT_EQ(a.last_reply, at(1));
    EXPECT_EQ(h.address(5).requests, 1u);
    EXPECT_EQ(h.addresses_seen(), (std::vector<int> { 3, 5 }));
    EXPECT_EQ(h.late_blocks(), 1u);

    // A minute later only what came since counts.
    const BusHealth::Minute later = h.last_minute(at(75));
    EXPECT_EQ(later.replies, 1);
    EXPECT_EQ(later.timeouts, 0);
    EXPECT_EQ(later.voided, 1); // the late block
}

// Three polls in a row without a valid reply make an address silent; any
// valid reply ends it. Requests of the runs do not count toward it.
TEST(BusHealth, ThreeSilentPollsMarkAnAddress)
{
    BusHealth h;
    const Result steps[] = { Result::NoReply, Result::Voided, Result::Reply /* bad check */, Result::NoReply };
    h.record(outcome(2, Result::Reply), true, at(0));
    int t = 1;
    for (int i = 0; i < 4; ++i) {
        h.record(outcome(2, steps[i]), false, at(t++));
        h.record(outcome(2, Result::NoReply, RequestKind::ReadRun), false, at(t++));
        EXPECT_EQ(h.silent(2), i >= 2) << i;
    }
    EXPECT_EQ(h.address(2).polls_without_reply, 4);
    h.record(outcome(2, Result::Reply), true, at(t));
    EXPECT_FALSE(h.silent(2));
}
