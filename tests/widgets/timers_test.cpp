// Multi-timer on a real event loop: start, restart, refusal of a negative
// period, stopping from inside a tick, silent channels and no piled-up ticks.
#include "iTimers.h"

#include "errors.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTest>
#include <QThread>
#include <gtest/gtest.h>

#include <vector>

namespace {

// Runs the event loop until pred holds or the deadline passes.
bool wait_for(const std::function<bool()>& pred, int deadline_ms = 3000)
{
    return QTest::qWaitFor(pred, deadline_ms);
}

} // namespace

TEST(Timers, HiddenNineChannelsWithDefaults)
{
    TiTimers t;
    EXPECT_FALSE(t.isVisible());
    EXPECT_EQ(t.size(), QSize(28, 28));
    for (int k = 1; k <= 9; ++k) {
        EXPECT_FALSE(t.Enabled(k));
        EXPECT_EQ(t.Interval(k), 1000);
    }
    EXPECT_THROW(t.SetEnabled(0, true), EListError);
    EXPECT_THROW(t.Interval(10), EListError);
}

TEST(Timers, EnablingTwiceDoesNotRestartThePeriod)
{
    TiTimers t;
    t.SetInterval(1, 400);
    QElapsedTimer clock;
    qint64 first_tick = -1;
    t.OnTimer(1) = [&](QObject* sender) {
        EXPECT_EQ(sender, &t);
        if (first_tick < 0)
            first_tick = clock.elapsed();
    };
    clock.start();
    t.SetEnabled(1, true);
    QTest::qWait(200);
    t.SetEnabled(1, true);
    ASSERT_TRUE(wait_for([&] { return first_tick >= 0; }));
    EXPECT_GE(first_tick, 395);
    EXPECT_LT(first_tick, 580) << "a second enable restarted the period";
}

TEST(Timers, NewIntervalRestartsARunningChannel)
{
    TiTimers t;
    t.SetInterval(1, 300);
    std::vector<qint64> ticks;
    QElapsedTimer clock;
    t.OnTimer(1) = [&](QObject*) { ticks.push_back(clock.elapsed()); };
    t.SetEnabled(1, true);
    QTest::qWait(150);
    ASSERT_TRUE(ticks.empty());
    clock.start();
    t.SetInterval(1, 500);
    EXPECT_EQ(t.Interval(1), 500);
    ASSERT_TRUE(wait_for([&] { return !ticks.empty(); }));
    EXPECT_GE(ticks[0], 495) << "the old period's remainder fired";
    EXPECT_LT(ticks[0], 700);

    // A stopped channel only keeps the period for its next start.
    t.SetEnabled(1, false);
    t.SetInterval(1, 50);
    EXPECT_FALSE(t.running(1));
}

TEST(Timers, NegativeIntervalIsRefusedZeroIsFastest)
{
    TiTimers t;
    t.SetInterval(2, 300);
    try {
        t.SetInterval(2, -1);
        FAIL() << "no exception";
    } catch (const EInvalidOperation& e) {
        EXPECT_STREQ(e.what(), "Value must be Positive");
    }
    EXPECT_EQ(t.Interval(2), 300);

    int ticks = 0;
    t.OnTimer(2) = [&](QObject*) { ++ticks; };
    t.SetInterval(2, 0);
    t.SetEnabled(2, true);
    ASSERT_TRUE(wait_for([&] { return ticks >= 20; }, 2000));
}

TEST(Timers, DisablingInsideItsOwnTickStopsAtOnce)
{
    TiTimers t;
    int own = 0, clock_ticks = 0;
    t.SetInterval(1, 0);
    t.SetInterval(2, 10);
    t.OnTimer(1) = [&](QObject*) {
        ++own;
        t.SetEnabled(1, false);
    };
    t.OnTimer(2) = [&](QObject*) { ++clock_ticks; };
    t.SetEnabled(1, true);
    t.SetEnabled(2, true);
    ASSERT_TRUE(wait_for([&] { return clock_ticks >= 10; }));
    EXPECT_EQ(own, 1);
    EXPECT_FALSE(t.running(1));
    EXPECT_TRUE(t.running(2));
}

TEST(Timers, ChannelWithoutHandlerRunsSilently)
{
    TiTimers t;
    t.SetInterval(5, 10);
    t.SetEnabled(5, true);
    EXPECT_TRUE(t.running(5));
    QTest::qWait(50);
    int ticks = 0;
    t.OnTimer(5) = [&](QObject*) { ++ticks; };
    ASSERT_TRUE(wait_for([&] { return ticks >= 2; }));
    t.SetEnabled(5, false);
    EXPECT_FALSE(t.running(5));
}

TEST(Timers, SlowHandlerMakesTicksLateNotDoubled)
{
    TiTimers t;
    t.SetInterval(3, 20);
    std::vector<qint64> ticks;
    QElapsedTimer clock;
    clock.start();
    t.OnTimer(3) = [&](QObject*) {
        ticks.push_back(clock.elapsed());
        if (ticks.size() == 1)
            QThread::msleep(300); // fifteen periods pass inside the handler
    };
    t.SetEnabled(3, true);
    ASSERT_TRUE(wait_for([&] { return ticks.size() >= 6; }));
    t.SetEnabled(3, false);
    // After the slow tick at most one overdue tick comes at once; the rest
    // keep the period instead of catching up in a burst.
    int back_to_back = 0;
    for (std::size_t i = 2; i < ticks.size(); ++i)
        back_to_back += ticks[i] - ticks[i - 1] < 10;
    EXPECT_LE(back_to_back, 1);
}

TEST(Timers, ChannelsAreIndependentAndStopWithTheComponent)
{
    int a = 0, b = 0;
    {
        TiTimers t;
        t.SetInterval(1, 10);
        t.SetInterval(9, 10);
        t.OnTimer(1) = [&](QObject*) { ++a; };
        t.OnTimer(9) = [&](QObject*) { ++b; };
        t.SetEnabled(1, true);
        t.SetEnabled(9, true);
        ASSERT_TRUE(wait_for([&] { return a >= 2 && b >= 2; }));
        t.SetEnabled(9, false);
        const int b_stopped = b;
        ASSERT_TRUE(wait_for([&] { return a >= 8; }));
        EXPECT_EQ(b, b_stopped);
    }
    const int a_at_destruction = a;
    QTest::qWait(50);
    EXPECT_EQ(a, a_at_destruction);
}
