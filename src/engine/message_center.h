#pragma once
// Where the engine's messages go: the event log, and whoever watches the
// engine (the window's message list). Nothing here waits for anyone.
//
// A message that repeats (a port that stays away, a database that stays
// locked) is written to the event log once, and again at most once a
// minute with the number of repeats in between; the watcher gets every
// occurrence and shows it once with a count.
#include "engine_reports.h"

#include <QHash>
#include <QString>

#include <chrono>
#include <deque>
#include <functional>
#include <string>

class MessageCenter {
public:
    using Clock = std::chrono::steady_clock;
    using Sink = std::function<void(const EngineMessage&)>;
    static constexpr Clock::duration kRepeatLogInterval = std::chrono::seconds(60);

    static constexpr std::size_t kBacklog = 200;

    void set_sink(Sink sink) { sink_ = std::move(sink); }
    // The newest messages, oldest first (a window that comes later shows them).
    const std::deque<EngineMessage>& backlog() const { return backlog_; }

    void post(EngineMessage::Level level, const std::string& source, const std::string& text, bool refusal = false);
    void info(const std::string& source, const std::string& text) { post(EngineMessage::Level::Info, source, text); }
    void warning(const std::string& source, const std::string& text)
    {
        post(EngineMessage::Level::Warning, source, text);
    }
    void error(const std::string& source, const std::string& text) { post(EngineMessage::Level::Error, source, text); }

private:
    struct Logged {
        Clock::time_point at;
        int repeats = 0; // since it was last written
    };
    Sink sink_;
    std::deque<EngineMessage> backlog_;
    quint64 last_id_ = 0;
    QHash<QString, Logged> logged_;
    Clock::time_point last_prune_ {};
};
