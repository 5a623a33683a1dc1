#include "message_center.h"

#include "event_log.h"

void MessageCenter::post(EngineMessage::Level level, const std::string& source, const std::string& text,
    bool refusal)
{
    const Clock::time_point now = Clock::now();
    const QString key = QString::fromStdString(source) + QChar(0) + QString::fromStdString(text);
    auto it = logged_.find(key);
    if (it == logged_.end() || now - it->at >= kRepeatLogInterval) {
        const int repeats = it == logged_.end() ? 0 : it->repeats;
        event_log::write(source,
            repeats > 0 ? text + "（此前一分钟内重复 " + std::to_string(repeats) + " 次）" : text);
        logged_.insert(key, Logged { now, 0 });
    } else {
        ++it->repeats;
    }
    // Forget what has not repeated for a while, so the table stays small.
    if (now - last_prune_ >= kRepeatLogInterval) {
        last_prune_ = now;
        for (auto p = logged_.begin(); p != logged_.end();)
            p = now - p->at >= 2 * kRepeatLogInterval ? logged_.erase(p) : std::next(p);
    }
    EngineMessage m;
    m.time = QDateTime::currentDateTime();
    m.source = QString::fromStdString(source);
    m.text = QString::fromStdString(text);
    m.level = level;
    m.refusal = refusal;
    m.id = ++last_id_;
    backlog_.push_back(m);
    if (backlog_.size() > kBacklog)
        backlog_.pop_front();
    if (sink_)
        sink_(m);
}
