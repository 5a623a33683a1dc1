#include "reply_matcher.h"

#include <algorithm>
#include <cstring>

bool is_run_kind(RequestKind kind)
{
    return kind == RequestKind::ReadRun || kind == RequestKind::WriteRun || kind == RequestKind::ReadBack
        || kind == RequestKind::Inspect;
}

std::uint64_t ReplyMatcher::request_sent(LineRequest request, Clock::time_point at)
{
    if (!windows_.empty() && !windows_.back().next_sent)
        windows_.back().next_sent = at;
    request.serial = next_serial_++;
    Window w;
    w.request = request;
    w.sent = at;
    windows_.push_back(w);
    return request.serial;
}

ReplyMatcher::Clock::time_point ReplyMatcher::window_end(const Window& w) const
{
    const Clock::time_point end = w.sent + kReplyWindow;
    return w.next_sent && *w.next_sent < end ? *w.next_sent : end;
}

bool ReplyMatcher::block_received(const std::uint8_t* bytes, std::size_t length, Clock::time_point started)
{
    // Newest first: a block normally answers the request just sent.
    for (auto it = windows_.rbegin(); it != windows_.rend(); ++it) {
        if (started < it->sent)
            continue;
        if (started >= window_end(*it))
            break; // after this window and before the next: no window holds it
        ++it->blocks;
        if (length == it->reply.size())
            ++it->reply_blocks;
        if (it->blocks == 1 && length == it->reply.size()) {
            it->has_reply = true;
            std::memcpy(it->reply.data(), bytes, length);
            it->reply_started = started;
        }
        return true;
    }
    ++counts_.late_blocks;
    return false;
}

bool ReplyMatcher::answered_lately(int address) const
{
    const auto a = static_cast<std::uint8_t>(address);
    return (history_[a] & ((1u << history_len_[a]) - 1u)) != 0;
}

void ReplyMatcher::remember(int address, bool answered)
{
    const auto a = static_cast<std::uint8_t>(address);
    history_[a] = static_cast<std::uint8_t>(((history_[a] << 1) | (answered ? 1 : 0)) & ((1u << kRecentRequests) - 1u));
    history_len_[a] = static_cast<std::uint8_t>(std::min(history_len_[a] + 1, kRecentRequests));
}

ReplyOutcome ReplyMatcher::decide(const Window& w)
{
    ReplyOutcome out;
    out.request = w.request;
    out.blocks = w.blocks;
    if (w.blocks == 1 && w.has_reply) {
        const bool previous_may_be_late = previous_.valid && previous_.sent && previous_.outstanding > 0
            && previous_.address_answered_lately;
        if (previous_may_be_late) {
            out.result = ReplyOutcome::Result::Voided;
        } else {
            out.result = ReplyOutcome::Result::Reply;
            out.reply = w.reply;
            out.reply_time = w.reply_started - w.sent;
            out.arrived = w.reply_started;
        }
    } else if (w.blocks == 0) {
        out.result = ReplyOutcome::Result::NoReply;
    } else {
        out.result = ReplyOutcome::Result::Voided;
    }

    switch (out.result) {
    case ReplyOutcome::Result::Reply:
        ++counts_.replies;
        break;
    case ReplyOutcome::Result::NoReply:
        ++counts_.no_reply;
        break;
    case ReplyOutcome::Result::Voided:
        ++counts_.voided;
        break;
    }
    previous_.valid = true;
    previous_.sent = w.request.sent;
    const int outstanding_before = previous_.outstanding;
    if (w.reply_blocks == 0)
        previous_.outstanding = 1;
    else if (out.result == ReplyOutcome::Result::Voided && w.blocks == 1 && outstanding_before == 1)
        previous_.outstanding = 2;
    else
        previous_.outstanding = 0;
    previous_.address_answered_lately = answered_lately(w.request.address);
    if (w.request.sent)
        remember(w.request.address, w.reply_blocks > 0);
    return out;
}

std::vector<ReplyOutcome> ReplyMatcher::take_decided(Clock::time_point now)
{
    std::vector<ReplyOutcome> out;
    while (!windows_.empty() && window_end(windows_.front()) + kSettle <= now) {
        out.push_back(decide(windows_.front()));
        windows_.pop_front();
    }
    return out;
}

std::vector<ReplyOutcome> ReplyMatcher::take_all()
{
    std::vector<ReplyOutcome> out;
    while (!windows_.empty()) {
        out.push_back(decide(windows_.front()));
        windows_.pop_front();
    }
    return out;
}

std::optional<ReplyMatcher::Clock::time_point> ReplyMatcher::next_decision() const
{
    if (windows_.empty())
        return std::nullopt;
    return window_end(windows_.front()) + kSettle;
}

bool ReplyMatcher::pending(RequestKind kind) const
{
    return std::any_of(windows_.begin(), windows_.end(), [kind](const Window& w) { return w.request.kind == kind; });
}
