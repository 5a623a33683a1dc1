#include "bus_health.h"

namespace {

constexpr auto kMinute = std::chrono::seconds(60);

} // namespace

void BusHealth::remember(Event e, Clock::time_point now)
{
    minute_.emplace_back(now, e);
    while (!minute_.empty() && minute_.front().first + kMinute < now)
        minute_.pop_front();
}

void BusHealth::record(const ReplyOutcome& outcome, bool check_ok, Clock::time_point now)
{
    if (!outcome.request.sent)
        return; // nothing went out: the line had no chance to answer
    Address& a = addresses_[static_cast<std::size_t>(outcome.request.address & 0xFF)];
    ++a.requests;
    bool valid = false;
    switch (outcome.result) {
    case ReplyOutcome::Result::Reply:
        if (check_ok) {
            valid = true;
            ++a.replies;
            a.reply_ms_total += std::chrono::duration<double, std::milli>(outcome.reply_time).count();
            a.last_reply = now;
            remember(Event::Reply, now);
        } else {
            ++a.bad_checks;
            remember(Event::BadCheck, now);
        }
        break;
    case ReplyOutcome::Result::NoReply:
        ++a.timeouts;
        remember(Event::Timeout, now);
        break;
    case ReplyOutcome::Result::Voided:
        ++a.voided;
        remember(Event::Voided, now);
        break;
    }
    if (valid)
        a.polls_without_reply = 0;
    else if (outcome.request.kind == RequestKind::Poll)
        ++a.polls_without_reply;
}

void BusHealth::record_late_block(Clock::time_point now)
{
    ++late_blocks_;
    remember(Event::Voided, now);
}

BusHealth::Minute BusHealth::last_minute(Clock::time_point now) const
{
    Minute m;
    for (const auto& [when, event] : minute_) {
        if (when + kMinute < now)
            continue;
        switch (event) {
        case Event::Reply:
            ++m.replies;
            break;
        case Event::Timeout:
            ++m.timeouts;
            break;
        case Event::BadCheck:
            ++m.bad_checks;
            break;
        case Event::Voided:
            ++m.voided;
            break;
        }
    }
    return m;
}

std::vector<int> BusHealth::addresses_seen() const
{
    std::vector<int> seen;
    for (int a = 0; a < kAddresses; ++a)
        if (addresses_[static_cast<std::size_t>(a)].requests > 0)
            seen.push_back(a);
    return seen;
}
