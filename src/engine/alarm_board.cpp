#include "alarm_board.h"

#include <algorithm>

QString alarm_state_key(AlarmState state)
{
    switch (state) {
    case AlarmState::ActiveUnacked:
        return QStringLiteral("active_unacked");
    case AlarmState::ActiveAcked:
        return QStringLiteral("active_acked");
    case AlarmState::ClearedUnacked:
        return QStringLiteral("cleared_unacked");
    case AlarmState::Cleared:
        return QStringLiteral("cleared");
    case AlarmState::Shelved:
        return QStringLiteral("shelved");
    }
    return {};
}

QString alarm_state_text(AlarmState state)
{
    switch (state) {
    case AlarmState::ActiveUnacked:
        return QStringLiteral("报警未确认");
    case AlarmState::ActiveAcked:
        return QStringLiteral("报警已确认");
    case AlarmState::ClearedUnacked:
        return QStringLiteral("已恢复未确认");
    case AlarmState::Cleared:
        return QStringLiteral("已恢复");
    case AlarmState::Shelved:
        return QStringLiteral("已屏蔽");
    }
    return {};
}

AlarmState alarm_state_of(const QString& key)
{
    for (AlarmState s : { AlarmState::ActiveUnacked, AlarmState::ActiveAcked, AlarmState::ClearedUnacked,
             AlarmState::Shelved })
        if (alarm_state_key(s) == key)
            return s;
    return AlarmState::Cleared;
}

bool AlarmLine::flood() const
{
    return recent > AlarmBoard::kFloodTransitions;
}

AlarmState AlarmLine::state() const
{
    if (shelved())
        return AlarmState::Shelved;
    if (active)
        return acked ? AlarmState::ActiveAcked : AlarmState::ActiveUnacked;
    return acked ? AlarmState::Cleared : AlarmState::ClearedUnacked;
}

AlarmEvent AlarmBoard::event_of(const AlarmLine& line, AlarmAction action, const QDateTime& when) const
{
    AlarmEvent e { when, line.address, line.alarm, line.active };
    e.action = action;
    e.state = alarm_state_key(line.state());
    if (action == AlarmAction::Transition || action == AlarmAction::Acknowledge) {
        e.acked_at = line.acked_at;
        e.acked_by = line.acked_by;
    }
    if (action == AlarmAction::Shelve) {
        e.note = line.shelve_reason;
        e.until = line.shelved_until;
    }
    return e;
}

void AlarmBoard::drop_if_done(std::map<Key, AlarmLine>::iterator it)
{
    const AlarmLine& line = it->second;
    if (!line.active && line.acked && !line.shelved())
        lines_.erase(it);
}

bool AlarmBoard::annunciated(const AlarmLine& line) const
{
    return !line.shelved() && !line.acked && !quiet_.contains(line.address);
}

AlarmEvent AlarmBoard::transition(int address, const QString& alarm, bool raised, const QDateTime& when)
{
    const Key key { address, alarm };
    std::deque<QDateTime>& times = recent_[key];
    times.push_back(when);
    const QDateTime minute_ago = when.addSecs(-60);
    while (!times.empty() && times.front() <= minute_ago)
        times.pop_front();
    const int recent = static_cast<int>(times.size());

    auto it = lines_.find(key);
    if (!raised && it == lines_.end()) {
        // A clear of an alarm nobody listed (acknowledged and gone): normal.
        AlarmEvent e { when, address, alarm, false };
        e.state = alarm_state_key(AlarmState::Cleared);
        return e;
    }
    if (it == lines_.end())
        it = lines_.emplace(key, AlarmLine { address, alarm }).first;
    AlarmLine& line = it->second;
    line.recent = recent;
    line.quiet = quiet_.contains(address);
    if (raised) {
        line.active = true;
        line.acked = false;
        line.raised_at = when;
        line.cleared_at = {};
        line.acked_at = {};
        line.acked_by.clear();
        // A flood sounds as one alarm: its later returns stay silent.
        if (annunciated(line) && !line.flood())
            silenced_ = false;
        return event_of(line, AlarmAction::Transition, when);
    }
    line.active = false;
    line.cleared_at = when;
    const AlarmEvent e = event_of(line, AlarmAction::Transition, when);
    drop_if_done(it);
    return e;
}

std::optional<AlarmEvent> AlarmBoard::acknowledge(
    int address, const QString& alarm, const QString& user, const QDateTime& now)
{
    const auto it = lines_.find({ address, alarm });
    if (it == lines_.end() || it->second.acked)
        return std::nullopt;
    it->second.acked = true;
    it->second.acked_at = now;
    it->second.acked_by = user;
    const AlarmEvent e = event_of(it->second, AlarmAction::Acknowledge, now);
    drop_if_done(it);
    return e;
}

std::vector<AlarmEvent> AlarmBoard::acknowledge_all(const QString& user, const QDateTime& now)
{
    std::vector<Key> keys;
    for (const auto& [key, line] : lines_)
        if (!line.acked && !line.shelved())
            keys.push_back(key);
    std::vector<AlarmEvent> out;
    for (const Key& key : keys)
        if (auto e = acknowledge(key.first, key.second, user, now))
            out.push_back(*e);
    return out;
}

std::optional<AlarmEvent> AlarmBoard::shelve(int address, const QString& alarm, std::chrono::seconds duration,
    const QString& reason, const QString& user, const QDateTime& now)
{
    const auto it = lines_.find({ address, alarm });
    if (it == lines_.end() || duration.count() <= 0)
        return std::nullopt;
    it->second.shelved_until = now.addSecs(duration.count());
    it->second.shelve_reason = reason;
    AlarmEvent e = event_of(it->second, AlarmAction::Shelve, now);
    e.acked_by = user;
    return e;
}

std::optional<AlarmEvent> AlarmBoard::unshelve(
    int address, const QString& alarm, const QString& user, const QDateTime& now)
{
    const auto it = lines_.find({ address, alarm });
    if (it == lines_.end() || !it->second.shelved())
        return std::nullopt;
    it->second.shelved_until = {};
    it->second.shelve_reason.clear();
    // Back from the shelf unacknowledged, the alarm asks to be heard again.
    if (annunciated(it->second))
        silenced_ = false;
    AlarmEvent e = event_of(it->second, AlarmAction::Unshelve, now);
    e.acked_by = user;
    drop_if_done(it);
    return e;
}

std::vector<AlarmEvent> AlarmBoard::expire(const QDateTime& now)
{
    std::vector<Key> due;
    for (const auto& [key, line] : lines_)
        if (line.shelved() && line.shelved_until <= now)
            due.push_back(key);
    std::vector<AlarmEvent> out;
    for (const Key& key : due)
        if (auto e = unshelve(key.first, key.second, QString(), now))
            out.push_back(*e);
    return out;
}

void AlarmBoard::restore(const std::vector<OpenAlarm>& open)
{
    for (const OpenAlarm& o : open) {
        AlarmLine line { o.last.address, o.last.alarm };
        line.active = o.last.raised;
        line.acked = o.last.acked_at.isValid();
        if (!line.active && line.acked)
            continue;
        line.raised_at = o.raised_at.isValid() ? o.raised_at : o.last.when;
        if (!line.active)
            line.cleared_at = o.last.when;
        line.acked_at = o.last.acked_at;
        line.acked_by = o.last.acked_by;
        line.quiet = quiet_.contains(line.address);
        // A shelve outlives a restart; one that ran out meanwhile ends at
        // the next expiry check.
        line.shelved_until = o.shelved_until;
        line.shelve_reason = o.shelve_reason;
        lines_[{ line.address, line.alarm }] = line;
    }
}

void AlarmBoard::set_quiet_addresses(const std::set<int>& addresses)
{
    quiet_ = addresses;
    for (auto& [key, line] : lines_)
        line.quiet = quiet_.contains(line.address);
}

std::vector<AlarmLine> AlarmBoard::lines() const
{
    std::vector<AlarmLine> out;
    out.reserve(lines_.size());
    for (const auto& [key, line] : lines_)
        out.push_back(line);
    const auto rank = [](const AlarmLine& l) {
        switch (l.state()) {
        case AlarmState::ActiveUnacked:
            return 0;
        case AlarmState::ClearedUnacked:
            return 1;
        case AlarmState::ActiveAcked:
            return 2;
        default:
            return 3;
        }
    };
    std::stable_sort(out.begin(), out.end(), [&](const AlarmLine& a, const AlarmLine& b) {
        if (rank(a) != rank(b))
            return rank(a) < rank(b);
        return a.raised_at > b.raised_at;
    });
    return out;
}

int AlarmBoard::unacked_count() const
{
    return static_cast<int>(std::count_if(lines_.begin(), lines_.end(),
        [](const auto& kv) { return !kv.second.acked && !kv.second.shelved(); }));
}

bool AlarmBoard::sounding() const
{
    if (silenced_)
        return false;
    return std::any_of(
        lines_.begin(), lines_.end(), [this](const auto& kv) { return annunciated(kv.second); });
}

const AlarmLine* AlarmBoard::find(int address, const QString& alarm) const
{
    const auto it = lines_.find({ address, alarm });
    return it == lines_.end() ? nullptr : &it->second;
}
