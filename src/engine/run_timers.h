#pragma once
// The engine's multi-timer: nine independent periodic channels, each with a
// switch, a period in milliseconds and a tick handler, as the window's
// multi-timer has them, without a widget. Ticks come on the engine's thread,
// one at a time, and never pile up behind a slow handler.
//
// Channels of the engine: 1 read-all, 2 column write, 3 scan, 4 column read,
// 5 selected write, 6 copy, 7 inspection.
#include <QObject>

#include <array>
#include <functional>

class RunTimers : public QObject {
    Q_OBJECT
public:
    static constexpr int channel_count = 9;
    using Handler = std::function<void()>;

    explicit RunTimers(QObject* parent = nullptr);
    ~RunTimers() override;

    // Switching on a stopped channel starts it with its period; switching on a
    // running one changes nothing; switching off stops it at once, even from
    // inside its own tick handler. k outside 1..9 raises EListError.
    bool Enabled(int k) const;
    void SetEnabled(int k, bool on);

    // A new period restarts a running channel; a negative period raises
    // EInvalidOperation.
    int Interval(int k) const;
    void SetInterval(int k, int milliseconds);

    Handler& OnTimer(int k);

protected:
    void timerEvent(QTimerEvent* event) override;

private:
    struct Channel {
        bool enabled = false;
        int interval = 1000;
        int timer_id = 0;
        Handler handler;
    };
    Channel& channel(int k);
    const Channel& channel(int k) const;
    void start(Channel& ch);
    void stop(Channel& ch);

    std::array<Channel, channel_count> channels_;
};
