#pragma once
// The alarm history: one row of alarm_log per alarm transition of one
// instrument (when, address, which alarm, raised or cleared), kept beside
// the measurement log in the same database.
#include <QDate>
#include <QDateTime>
#include <QObject>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

class QSqlQuery;
class StationDb;

// What a row of alarm_log records: a transition of the instrument's, or an
// operator's action on the alarm.
enum class AlarmAction { Transition, Acknowledge, Shelve, Unshelve };

struct AlarmEvent {
    AlarmEvent() = default;
    AlarmEvent(QDateTime when_, int address_, QString alarm_, bool raised_)
        : when(std::move(when_))
        , address(address_)
        , alarm(std::move(alarm_))
        , raised(raised_)
    {
    }

    QDateTime when;
    int address = 0;
    QString alarm; // the bit's mnemonic, "HIAL", ...
    bool raised = false; // a transition: it came; an action: the alarm is active
    AlarmAction action = AlarmAction::Transition;
    // The alarm's state after the row: "active_unacked", "active_acked",
    // "cleared_unacked", "cleared" or "shelved"; empty in rows logged before
    // states were kept.
    QString state;
    // When and by whom the alarm was acknowledged (a transition row of an
    // acknowledged alarm, an acknowledgement); the user of any action.
    QDateTime acked_at;
    QString acked_by;
    QString note; // a shelve's reason
    QDateTime until; // when a shelve runs out
    bool operator==(const AlarmEvent&) const = default;
};

// The alarm's latest transition, for an alarm that is active or that nobody
// acknowledged, and the time it was last raised.
struct OpenAlarm {
    AlarmEvent last;
    QDateTime raised_at;
    // The alarm's last shelve, unless an unshelve followed it: when it runs
    // out (invalid: not shelved) and why.
    QDateTime shelved_until;
    QString shelve_reason;
};

// "ack", "shelve", "unshelve"; empty for a transition.
QString alarm_action_key(AlarmAction action);

// Which transitions to list: one address or all, and an inclusive range of
// days (local dates as logged) or all.
struct AlarmFilter {
    std::optional<int> address;
    std::optional<QDate> from;
    std::optional<QDate> to;
};

class AlarmLog : public QObject {
    Q_OBJECT
public:
    explicit AlarmLog(StationDb& db, QObject* parent = nullptr);
    ~AlarmLog() override;

    // Appends the events in one transaction. Throws EDatabaseError naming the
    // file and the reason; nothing is kept then.
    void append(const std::vector<AlarmEvent>& events);
    // Inserts one event inside a transaction the caller holds (the row
    // queue writes rows and transitions together). An acknowledgement also
    // marks every transition row of its alarm that was not acknowledged
    // yet. Throws EDatabaseError.
    void insert(const AlarmEvent& event);

    // The newest `limit` events that pass the filter, newest first, and how
    // many pass it in all. Throw EDatabaseError.
    std::vector<AlarmEvent> newest(const AlarmFilter& filter, int limit) const;
    qint64 count(const AlarmFilter& filter) const;
    // Per address and alarm, the latest transition when the alarm is active
    // or not acknowledged (what the active-alarm list starts from after a
    // restart), ordered by address and alarm. Throws EDatabaseError.
    std::vector<OpenAlarm> open_alarms() const;

    StationDb& db() const { return db_; }

Q_SIGNALS:
    void appended();

private:
    StationDb& db_;
    std::unique_ptr<QSqlQuery> insert_;
};

// Writes the events that pass the filter, oldest first, to `out_path` as
// CSV: time,address,alarm,state (state "raised" or "cleared"), UTF-8 with LF
// line ends, a byte-order mark first when `bom` (for spreadsheets). Reads
// through its own connection; runs on any thread. Returns the number of rows,
// or nullopt when `cancel` was raised. Throws EDatabaseError or EInOutError
// naming the file.
std::optional<qint64> export_alarms_csv(const QString& db_path, const QString& out_path,
    const AlarmFilter& filter, bool bom, const std::function<void(int)>& progress,
    const std::atomic<bool>* cancel);
