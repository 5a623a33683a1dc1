#pragma once
// Which request a received block answers.
//
// A reply carries no address, so the station can only tell replies apart by
// when they come. Every request opens a reply window: from the moment it is
// handed to the serial component until the next request goes out, or until
// kReplyWindow has passed, whichever is first. A block belongs to the window
// in which its first byte arrived (the reader thread stamps it). A window is
// decided once no block that began inside it can still be on its way
// (kSettle after its end: the reader's 100 ms of silence plus margin):
//
//   - exactly one 10-byte block and nothing else: the request's reply;
//   - no block: no reply;
//   - more than one block of any length: void. A reply to an earlier
//     request that came late lands in the next window; the next request's
//     own reply then makes it the second block. Which of the two is which
//     cannot be told, so neither is taken;
//   - one block, but the previous request's own reply may still be on its
//     way, and its address had answered at least once in its last
//     kRecentRequests requests: void as well. That block may be the late
//     reply of the previous request with this request's own reply lost.
//     The previous reply may still be on its way when its window saw no
//     10-byte block (nothing, or only fragments and noise), or when its lone
//     block was itself voided so (it may have been the one before's late
//     reply, with its own late too). An address that has not answered lately
//     (an empty address during a scan, an instrument switched off) is taken
//     as absent, not as late, so it does not void the replies of the
//     addresses polled after it.
//
// What this cannot tell apart: a late reply arriving alone in the next window
// when the address that gave it has not answered in its last kRecentRequests
// requests, or when three replies in a row came late and the fourth request's
// own reply was lost (suspicion is carried over two windows, not for ever,
// or one late reply would void every reply after it).
//
// A block whose first byte arrived outside every window (after kReplyWindow
// and before the next request) is late and dropped.
//
// Pure logic with explicit times, so tests can drive it without a line.
#include <array>
#include <chrono>
#include <cstdint>
#include <deque>
#include <optional>
#include <vector>

// What kind of request a reply answers; the dispatch handles each kind its own way.
enum class RequestKind {
    Poll,       // the poll tick's read of code 0
    Probe,      // the scan's read of code 22
    Command,    // a control command (run, hand, stop, manual output, set value)
    SetupWrite, // the address or baud-rate write of the settings page
    ReadRun,    // a read of the read-all or column read run
    WriteRun,   // a write of the column write, selected write or copy run
    ReadBack,   // the read of a code just written, to check what the instrument holds
    Inspect,    // a read for a comparison: it changes neither the grid nor ai_para
    AddressCheck, // a read of an address an instrument is to be moved to: is anyone there?
};

bool is_run_kind(RequestKind kind);

struct LineRequest {
    int address = 0;
    int code = 0;
    RequestKind kind = RequestKind::Poll;
    float value = 0; // the value written (write requests)
    bool sent = true; // false when the serial component refused the frame
    std::uint64_t serial = 0; // numbered by the matcher, from 1
};

struct ReplyOutcome {
    enum class Result {
        Reply,   // one 10-byte block: `reply` holds it (its check nibble is not tested here)
        NoReply, // nothing came (or the request was never sent)
        Voided,  // several blocks, or a lone block that may be a late one
    };
    LineRequest request;
    Result result = Result::NoReply;
    std::array<std::uint8_t, 10> reply {};
    int blocks = 0; // blocks seen in the window, of any length
    std::chrono::steady_clock::duration reply_time {}; // first byte of the reply after the send
    std::chrono::steady_clock::time_point arrived {}; // when the reply's first byte arrived
};

class ReplyMatcher {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr Clock::duration kReplyWindow = std::chrono::milliseconds(350);
    static constexpr Clock::duration kSettle = std::chrono::milliseconds(200);
    static constexpr int kRecentRequests = 4;

    // A request handed to the serial component at `at` (sent or refused).
    // Returns its serial number.
    std::uint64_t request_sent(LineRequest request, Clock::time_point at);

    // A received block whose first byte arrived at `started`. Returns false
    // when it falls into no window (a late block, dropped).
    bool block_received(const std::uint8_t* bytes, std::size_t length, Clock::time_point started);

    // Decides, in request order, every window that can no longer change at
    // `now`. Decided windows are forgotten.
    std::vector<ReplyOutcome> take_decided(Clock::time_point now);
    // Decides every open window as it stands (the port closed, tests).
    std::vector<ReplyOutcome> take_all();

    // When the oldest open window can be decided; nothing when none is open.
    std::optional<Clock::time_point> next_decision() const;
    bool pending() const { return !windows_.empty(); }
    bool pending(RequestKind kind) const;

    // What the windows decided since the start, and the blocks that fell into none.
    struct Counts {
        std::uint64_t replies = 0;
        std::uint64_t no_reply = 0;
        std::uint64_t voided = 0;
        std::uint64_t late_blocks = 0;
    };
    const Counts& counts() const { return counts_; }

private:
    struct Window {
        LineRequest request;
        Clock::time_point sent;
        std::optional<Clock::time_point> next_sent; // when the following request went out
        int blocks = 0;
        int reply_blocks = 0; // blocks of a reply's length
        bool has_reply = false;
        std::array<std::uint8_t, 10> reply {};
        Clock::time_point reply_started;
    };
    Clock::time_point window_end(const Window& w) const;
    ReplyOutcome decide(const Window& w);
    bool answered_lately(int address) const;
    void remember(int address, bool answered);

    std::deque<Window> windows_;
    std::uint64_t next_serial_ = 1;
    Counts counts_;
    // The last decided request: whether it was sent, whether its own reply
    // may still come, and whether its address had answered lately before it.
    struct Previous {
        bool valid = false;
        bool sent = false;
        // How far its own reply may still be on its way: 0 no, 1 its window
        // saw no reply-length block, 2 its lone block was voided as maybe late.
        int outstanding = 0;
        bool address_answered_lately = false;
    } previous_;
    // Per address, the answers to its last requests, newest in bit 0.
    std::array<std::uint8_t, 256> history_ {};
    std::array<std::uint8_t, 256> history_len_ {};
};
