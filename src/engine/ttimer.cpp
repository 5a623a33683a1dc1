#include "ttimer.h"

TTimer::TTimer(QObject* parent) : QObject(parent)
{
    timer_.setTimerType(Qt::CoarseTimer);
    connect(&timer_, &QTimer::timeout, this, [this] {
        if (OnTimer)
            OnTimer();
    });
    apply();
}

void TTimer::setEnabled(bool enabled)
{
    if (enabled == enabled_)
        return;
    enabled_ = enabled;
    apply();
}

void TTimer::setInterval(int ms)
{
    if (ms < 0)
        ms = 0;
    if (ms == interval_)
        return;
    interval_ = ms;
    apply();
}

void TTimer::apply()
{
    if (enabled_ && interval_ > 0)
        timer_.start(interval_);  // (re)starts the period, as a new interval does
    else
        timer_.stop();
}
