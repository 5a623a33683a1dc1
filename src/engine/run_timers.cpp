#include "run_timers.h"

#include "errors.h"

#include <QTimerEvent>

#include <string>

RunTimers::RunTimers(QObject* parent)
    : QObject(parent)
{
}

RunTimers::~RunTimers()
{
    for (Channel& ch : channels_)
        stop(ch);
}

RunTimers::Channel& RunTimers::channel(int k)
{
    if (k < 1 || k > channel_count)
        throw EListError("List index out of bounds (" + std::to_string(k) + ")");
    return channels_[static_cast<std::size_t>(k - 1)];
}

const RunTimers::Channel& RunTimers::channel(int k) const { return const_cast<RunTimers*>(this)->channel(k); }

void RunTimers::start(Channel& ch)
{
    // A precise timer keeps the period; Qt reschedules from the time the tick
    // was handled, so a slow handler delays ticks instead of stacking them.
    ch.timer_id = startTimer(ch.interval, Qt::PreciseTimer);
}

void RunTimers::stop(Channel& ch)
{
    if (ch.timer_id != 0) {
        killTimer(ch.timer_id);
        ch.timer_id = 0;
    }
}

bool RunTimers::Enabled(int k) const { return channel(k).enabled; }

void RunTimers::SetEnabled(int k, bool on)
{
    Channel& ch = channel(k);
    if (on == ch.enabled)
        return;
    ch.enabled = on;
    if (!on)
        stop(ch);
    else if (ch.timer_id == 0)
        start(ch);
}

int RunTimers::Interval(int k) const { return channel(k).interval; }

void RunTimers::SetInterval(int k, int milliseconds)
{
    Channel& ch = channel(k);
    if (milliseconds < 0)
        throw EInvalidOperation("Value must be Positive");
    if (milliseconds == ch.interval)
        return;
    ch.interval = milliseconds;
    if (ch.enabled) {
        stop(ch);
        start(ch);
    }
}

RunTimers::Handler& RunTimers::OnTimer(int k) { return channel(k).handler; }

void RunTimers::timerEvent(QTimerEvent* event)
{
    for (Channel& ch : channels_) {
        if (ch.timer_id == event->timerId()) {
            if (ch.handler) {
                const Handler handler = ch.handler; // it may reassign itself
                handler();
            }
            return;
        }
    }
    QObject::timerEvent(event);
}
