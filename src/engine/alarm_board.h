#pragma once
// The alarms an operator has to deal with: every alarm that is active, or
// that returned to normal and was not acknowledged yet, one line per address
// and alarm, with its state and what the operator did to it.
//
// An alarm is active or cleared, acknowledged or not: raised, it becomes
// active and unacknowledged; acknowledged, it stays listed while it is
// active; cleared and acknowledged, it leaves the list. A shelved alarm is
// listed apart, neither counted nor sounded, until the operator unshelves it
// or its time runs out. An alarm that comes and goes more than
// kFloodTransitions times within a minute stays one line carrying the
// count, and sounds once rather than at each return.
//
// The board also decides the sound: it goes on while any unshelved,
// unacknowledged alarm of an address whose annunciation is on is listed,
// until silenced; a newly raised alarm sounds again.
//
// Pure logic: every change takes the time it happens at (the caller's
// clock), and each returns the rows the log keeps of it. No Qt objects.
#include "alarm_log.h"

#include <QDateTime>
#include <QString>

#include <chrono>
#include <deque>
#include <map>
#include <optional>
#include <set>
#include <utility>
#include <vector>

enum class AlarmState { ActiveUnacked, ActiveAcked, ClearedUnacked, Cleared, Shelved };

// "active_unacked", "active_acked", "cleared_unacked", "cleared", "shelved".
QString alarm_state_key(AlarmState state);
// The state as the list and the event log name it.
QString alarm_state_text(AlarmState state);
// The state of a key (AlarmState::Cleared for one that names none).
AlarmState alarm_state_of(const QString& key);

struct AlarmLine {
    AlarmLine() = default;
    AlarmLine(int address_, QString alarm_)
        : address(address_)
        , alarm(std::move(alarm_))
    {
    }

    int address = 0;
    QString alarm;
    bool active = false;
    bool acked = false;
    QDateTime raised_at;
    QDateTime cleared_at; // invalid while active
    QDateTime acked_at;
    QString acked_by;
    // Shelved until this time (invalid: not shelved), with the reason.
    QDateTime shelved_until;
    QString shelve_reason;
    // Transitions within the last minute; above kFloodTransitions the line
    // stands for a flood.
    int recent = 0;
    bool quiet = false; // the address's annunciation is off

    bool shelved() const { return shelved_until.isValid(); }
    bool flood() const;
    AlarmState state() const;
    bool operator==(const AlarmLine&) const = default;
};

class AlarmBoard {
public:
    static constexpr int kFloodTransitions = 10;

    // A transition of the instrument's; returns its log row (state and,
    // for an acknowledged alarm that clears, the acknowledgement).
    AlarmEvent transition(int address, const QString& alarm, bool raised, const QDateTime& when);
    // Acknowledges one alarm (nothing when it is not listed or already
    // acknowledged) or every listed, unshelved, unacknowledged alarm.
    std::optional<AlarmEvent> acknowledge(
        int address, const QString& alarm, const QString& user, const QDateTime& now);
    std::vector<AlarmEvent> acknowledge_all(const QString& user, const QDateTime& now);
    // Shelves a listed alarm for `duration` with a reason, or ends a shelve
    // early; nothing when the alarm is not listed (or, for unshelve, not
    // shelved).
    std::optional<AlarmEvent> shelve(int address, const QString& alarm, std::chrono::seconds duration,
        const QString& reason, const QString& user, const QDateTime& now);
    std::optional<AlarmEvent> unshelve(
        int address, const QString& alarm, const QString& user, const QDateTime& now);
    // Ends the shelves whose time has run out by `now`.
    std::vector<AlarmEvent> expire(const QDateTime& now);
    // The alarms the log left open at the last run, with their shelves
    // (see AlarmLog::open_alarms).
    void restore(const std::vector<OpenAlarm>& open);

    // Silences the sound until a new alarm is raised.
    void silence() { silenced_ = true; }
    void set_quiet_addresses(const std::set<int>& addresses);
    const std::set<int>& quiet_addresses() const { return quiet_; }

    // The listed alarms: unshelved ones first, by state (active and
    // unacknowledged, cleared and unacknowledged, active and acknowledged),
    // newest first within a state; then the shelved ones, newest first.
    std::vector<AlarmLine> lines() const;
    // Listed, unshelved and not acknowledged.
    int unacked_count() const;
    bool sounding() const;
    bool silenced() const { return silenced_; }
    const AlarmLine* find(int address, const QString& alarm) const;

private:
    using Key = std::pair<int, QString>;
    AlarmEvent event_of(const AlarmLine& line, AlarmAction action, const QDateTime& when) const;
    void drop_if_done(std::map<Key, AlarmLine>::iterator it);
    bool annunciated(const AlarmLine& line) const;

    std::map<Key, AlarmLine> lines_;
    std::map<Key, std::deque<QDateTime>> recent_; // transition times within the last minute
    std::set<int> quiet_;
    bool silenced_ = false;
};
