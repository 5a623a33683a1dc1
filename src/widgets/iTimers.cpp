#include "iTimers.h"

#include "errors.h"

#include <QTimerEvent>

#include <string>

TiTimers::TiTimers(QWidget* parent)
    : TiCustomComponent(parent)
{
    setFixedSize(28, 28);
    setVisible(false);
}

TiTimers::~TiTimers()
{
    for (Channel& ch : channels_)
        stop(ch);
}

TiTimers::Channel& TiTimers::channel(int k)
{
    if (k < 1 || k > channel_count)
        throw EListError("List index out of bounds (" + std::to_string(k) + ")");
    return channels_[std::size_t(k - 1)];
}

const TiTimers::Channel& TiTimers::channel(int k) const
{
    return const_cast<TiTimers*>(this)->channel(k);
}

void TiTimers::start(Channel& ch)
{
    // A precise timer keeps the period without the coarse timer's slack; Qt
    // delivers at most one tick per expiry and reschedules from the time the
    // tick was handled, so a slow handler delays ticks instead of stacking them.
    ch.timer_id = startTimer(ch.interval, Qt::PreciseTimer);
}

void TiTimers::stop(Channel& ch)
{
    if (ch.timer_id != 0) {
        killTimer(ch.timer_id);
        ch.timer_id = 0;
    }
}

bool TiTimers::Enabled(int k) const
{
    return channel(k).enabled;
}

void TiTimers::SetEnabled(int k, bool on)
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

int TiTimers::Interval(int k) const
{
    return channel(k).interval;
}

void TiTimers::SetInterval(int k, int milliseconds)
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

TNotifyEvent& TiTimers::OnTimer(int k)
{
    return channel(k).handler;
}

bool TiTimers::running(int k) const
{
    return channel(k).timer_id != 0;
}

void TiTimers::timerEvent(QTimerEvent* event)
{
    for (Channel& ch : channels_) {
        if (ch.timer_id == event->timerId()) {
            if (ch.handler) {
                // Copy: the handler may reassign itself while it runs.
                const TNotifyEvent handler = ch.handler;
                run_widget_guarded([&] { handler(this); });
            }
            return;
        }
    }
    TiCustomComponent::timerEvent(event);
}
