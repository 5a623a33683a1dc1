#pragma once
// Nine independent periodic timers in one hidden component. Each channel k
// (1..9) has a switch, a period in milliseconds and a tick event; ticks come
// on the main thread, one at a time, and never pile up behind a slow handler.
#include "iComponent.h"

#include <array>

class TiTimers : public TiCustomComponent {
    Q_OBJECT
public:
    static constexpr int channel_count = 9;

    explicit TiTimers(QWidget* parent = nullptr);
    ~TiTimers() override;

    // Switching on a stopped channel starts it with its period; switching on a
    // running one changes nothing; switching off stops it at once, even from
    // inside its own tick handler. k outside 1..9 raises EListError.
    bool Enabled(int k) const;
    void SetEnabled(int k, bool on);

    // A new period restarts a running channel (the next tick comes one new
    // period after the change); a stopped channel keeps it for its next start.
    // A negative period raises EInvalidOperation "Value must be Positive".
    int Interval(int k) const;
    void SetInterval(int k, int milliseconds);

    // The tick handler of channel k (unassigned: the channel runs silently).
    TNotifyEvent& OnTimer(int k);

    // Whether a timer is running for channel k right now.
    bool running(int k) const;

protected:
    void timerEvent(QTimerEvent* event) override;

private:
    struct Channel {
        bool enabled = false;
        int interval = 1000;
        int timer_id = 0;
        TNotifyEvent handler;
    };
    Channel& channel(int k);
    const Channel& channel(int k) const;
    void start(Channel& ch);
    void stop(Channel& ch);

    std::array<Channel, channel_count> channels_;
};
