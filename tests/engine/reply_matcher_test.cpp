// Which request a block answers, with the times given explicitly: each case
// is a short story of requests and blocks on a time line (milliseconds).
#include "reply_matcher.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Clock = ReplyMatcher::Clock;
using Result = ReplyOutcome::Result;

Clock::time_point at(int ms) { return Clock::time_point {} + std::chrono::milliseconds(1000000 + ms); }

struct Event {
    int ms;
    enum { Send, Block } what;
    int address_or_length; // a request's address, or a block's length
    int fill = 0; // first byte of a block, to tell blocks apart
};

struct Expect {
    int address;
    Result result;
    int fill = -1; // the reply's first byte when Result::Reply
};

std::vector<ReplyOutcome> play(ReplyMatcher& m, const std::vector<Event>& events)
{
    for (const Event& e : events) {
        if (e.what == Event::Send) {
            LineRequest r;
            r.address = e.address_or_length;
            m.request_sent(r, at(e.ms));
        } else {
            std::vector<std::uint8_t> bytes(static_cast<size_t>(e.address_or_length), static_cast<std::uint8_t>(e.fill));
            m.block_received(bytes.data(), bytes.size(), at(e.ms));
        }
    }
    return m.take_all();
}

} // namespace

TEST(ReplyMatcher, DecidesEachWindowByWhatBeganInIt)
{
    struct Case {
        const char* story;
        std::vector<Event> events;
        std::vector<Expect> expected;
    };
    const Case cases[] = {
        { "one reply each",
            { { 0, Event::Send, 1 }, { 40, Event::Block, 10, 0x11 }, { 1000, Event::Send, 2 }, { 1040, Event::Block, 10, 0x22 } },
            { { 1, Result::Reply, 0x11 }, { 2, Result::Reply, 0x22 } } },
        { "a late reply beside the next request's own voids both",
            { { 0, Event::Send, 1 }, { 1000, Event::Send, 2 }, { 1040, Event::Block, 10, 0x11 },
                { 1200, Event::Block, 10, 0x22 } },
            { { 1, Result::NoReply }, { 2, Result::Voided } } },
        { "a fragment beside a reply voids it",
            { { 0, Event::Send, 1 }, { 30, Event::Block, 4 }, { 200, Event::Block, 10, 0x11 } },
            { { 1, Result::Voided } } },
        { "a block after the window belongs to nobody",
            { { 0, Event::Send, 1 }, { 400, Event::Block, 10, 0x11 }, { 1000, Event::Send, 2 } },
            { { 1, Result::NoReply }, { 2, Result::NoReply } } },
        { "the next request ends the window early",
            { { 0, Event::Send, 1 }, { 300, Event::Send, 2 }, { 290, Event::Block, 10, 0x11 },
                { 320, Event::Block, 10, 0x22 } },
            { { 1, Result::Reply, 0x11 }, { 2, Result::Reply, 0x22 } } },
        { "blocks of other lengths are no reply",
            { { 0, Event::Send, 1 }, { 30, Event::Block, 9 } },
            { { 1, Result::Voided } } },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.story);
        ReplyMatcher m;
        const std::vector<ReplyOutcome> out = play(m, c.events);
        ASSERT_EQ(out.size(), c.expected.size());
        for (size_t i = 0; i < out.size(); ++i) {
            EXPECT_EQ(out[i].request.address, c.expected[i].address) << i;
            EXPECT_EQ(out[i].result, c.expected[i].result) << i;
            if (c.expected[i].result == Result::Reply) {
                EXPECT_EQ(out[i].reply[0], c.expected[i].fill) << i;
            }
        }
    }
}

// A lone block after an unanswered request of an address that answers is
// voided: it may be that request's reply come late, with its own lost. An
// address that has not answered lately is taken as absent.
TEST(ReplyMatcher, ALoneReplyAfterASilenceOfAnAnsweringAddressIsVoided)
{
    ReplyMatcher m;
    // Address 1 answers, then falls silent once; address 2's lone reply after
    // that silence is voided, and so is the one after it; then replies are taken.
    const std::vector<ReplyOutcome> out = play(m,
        { { 0, Event::Send, 1 }, { 40, Event::Block, 10, 1 }, { 1000, Event::Send, 2 }, { 1040, Event::Block, 10, 2 },
            { 2000, Event::Send, 1 }, { 3000, Event::Send, 2 }, { 3040, Event::Block, 10, 2 },
            { 4000, Event::Send, 1 }, { 4040, Event::Block, 10, 1 }, { 5000, Event::Send, 2 },
            { 5040, Event::Block, 10, 2 } });
    // (The reply after the voided one is voided too: 2's own reply may have
    // come late into 1's window.)
    const std::vector<Result> expected
        = { Result::Reply, Result::Reply, Result::NoReply, Result::Voided, Result::Voided, Result::Reply };
    ASSERT_EQ(out.size(), expected.size());
    for (size_t i = 0; i < out.size(); ++i)
        EXPECT_EQ(out[i].result, expected[i]) << i;

    // Noise alone in the silent window changes nothing: its reply may still
    // be on its way. Two replies in a window (one of them late) mean that
    // window's own reply came: the lone reply after it is taken.
    ReplyMatcher noisy;
    const std::vector<ReplyOutcome> out2 = play(noisy,
        { { 0, Event::Send, 1 }, { 40, Event::Block, 10, 1 }, { 1000, Event::Send, 1 }, { 1100, Event::Block, 3 },
            { 2000, Event::Send, 2 }, { 2040, Event::Block, 10, 1 }, { 3000, Event::Send, 1 },
            { 3040, Event::Block, 10, 2 }, { 3200, Event::Block, 10, 1 }, { 4000, Event::Send, 2 },
            { 4040, Event::Block, 10, 2 } });
    const std::vector<Result> expected2
        = { Result::Reply, Result::Voided, Result::Voided, Result::Voided, Result::Reply };
    ASSERT_EQ(out2.size(), expected2.size());
    for (size_t i = 0; i < out2.size(); ++i)
        EXPECT_EQ(out2[i].result, expected2[i]) << i;

    // Two late in a row: 1's reply late into 2's window (2's own late too,
    // into 3's window, 3's own lost). Both lone blocks are voided; the
    // suspicion ends there, so the reply after them is taken.
    ReplyMatcher chain;
    const std::vector<ReplyOutcome> out3 = play(chain,
        { { 0, Event::Send, 1 }, { 40, Event::Block, 10, 1 }, { 1000, Event::Send, 2 }, { 1040, Event::Block, 10, 2 },
            { 2000, Event::Send, 3 }, { 2040, Event::Block, 10, 3 }, { 3000, Event::Send, 1 },
            { 4000, Event::Send, 2 }, { 4040, Event::Block, 10, 1 }, { 5000, Event::Send, 3 },
            { 5040, Event::Block, 10, 2 }, { 6000, Event::Send, 1 }, { 6040, Event::Block, 10, 1 } });
    const std::vector<Result> expected3 = { Result::Reply, Result::Reply, Result::Reply, Result::NoReply,
        Result::Voided, Result::Voided, Result::Reply };
    ASSERT_EQ(out3.size(), expected3.size());
    for (size_t i = 0; i < out3.size(); ++i)
        EXPECT_EQ(out3[i].result, expected3[i]) << i;

    // An address that never answers (an empty address polled by mistake)
    // does not void the replies after it, sweep after sweep.
    ReplyMatcher n;
    std::vector<Event> sweeps;
    for (int k = 0; k < 6; ++k) {
        sweeps.push_back({ k * 2000, Event::Send, 4 });
        sweeps.push_back({ k * 2000 + 1000, Event::Send, 1 });
        sweeps.push_back({ k * 2000 + 1040, Event::Block, 10, 1 });
    }
    for (const ReplyOutcome& o : play(n, sweeps))
        EXPECT_EQ(o.result, o.request.address == 1 ? Result::Reply : Result::NoReply);
}

TEST(ReplyMatcher, WindowsAreDecidedInOrderOnceNothingCanStillArrive)
{
    ReplyMatcher m;
    EXPECT_FALSE(m.next_decision());
    LineRequest r;
    r.kind = RequestKind::Command;
    m.request_sent(r, at(0));
    const std::uint8_t reply[10] = {};
    m.block_received(reply, 10, at(30));
    EXPECT_TRUE(m.pending(RequestKind::Command));
    EXPECT_FALSE(m.pending(RequestKind::Poll));
    // The window lasts kReplyWindow; a block that began in it may still be
    // coming for kSettle after that.
    const Clock::time_point due = at(0) + ReplyMatcher::kReplyWindow + ReplyMatcher::kSettle;
    ASSERT_EQ(m.next_decision(), due);
    EXPECT_TRUE(m.take_decided(due - std::chrono::milliseconds(1)).empty());
    // A second request shortens the first window; the first is decided before it.
    r.kind = RequestKind::Poll;
    m.request_sent(r, at(100));
    ASSERT_EQ(m.next_decision(), at(100) + ReplyMatcher::kSettle);
    const auto first = m.take_decided(at(100) + ReplyMatcher::kSettle);
    ASSERT_EQ(first.size(), 1u);
    EXPECT_EQ(first[0].result, Result::Reply);
    EXPECT_EQ(first[0].reply_time, std::chrono::milliseconds(30));
    EXPECT_EQ(first[0].request.serial, 1u);
    EXPECT_TRUE(m.pending());
    const auto second = m.take_decided(at(100) + ReplyMatcher::kReplyWindow + ReplyMatcher::kSettle);
    ASSERT_EQ(second.size(), 1u);
    EXPECT_EQ(second[0].result, Result::NoReply);
    EXPECT_EQ(second[0].request.serial, 2u);
    EXPECT_FALSE(m.pending());
    EXPECT_EQ(m.counts().replies, 1u);
    EXPECT_EQ(m.counts().no_reply, 1u);
}
