#pragma once
// Rows and alarm transitions that wait in memory while the database is
// unavailable.
//
// Every measurement row, alarm transition and parameter store goes through a
// RowQueue. While the database takes them, they are written at once. When a
// write fails (another program holds the file, the disk is full, the file
// cannot be written), the entry is kept, an outage begins, and from then on
// every row and transition joins the queue behind it, so that the log keeps
// its order. A retry tick writes the queued entries in order, in batches of
// one transaction each; the outage ends when the queue is empty. Parameter
// stores keep only the latest value of each field, since a later store
// overwrites an earlier one anyway.
//
// `written` tells what reached the database, once, in order: whoever
// publishes the log sends exactly what it holds.
//
// The queue holds `capacity` entries (two hours of polling at one reply a
// second by default); past that the oldest are dropped, counted and
// reported, so a long outage costs the oldest entries, never memory without
// end.
//
// Thread contract: the thread of the StationDb it writes to.
#include "alarm_log.h"
#include "station_db.h"

#include <QObject>
#include <QString>
#include <QTimer>

#include <chrono>
#include <cstdint>
#include <deque>
#include <map>
#include <utility>
#include <vector>

class RowQueue : public QObject {
    Q_OBJECT
public:
    static constexpr std::size_t kDefaultCapacity = 7200;
    static constexpr int kDefaultRetryMs = 2000;
    static constexpr int kDrainMs = 20;
    static constexpr std::size_t kBatchRows = 500;

    // `alarms` (may be null) takes the alarm transitions.
    explicit RowQueue(StationDb& db, AlarmLog* alarms = nullptr, std::size_t capacity = kDefaultCapacity,
        QObject* parent = nullptr);

    // Writes the row or the transitions now, or queues them (see above).
    // Never throws.
    void append_measurement(const MeasurementRow& row);
    void append_alarms(const std::vector<AlarmEvent>& events);
    void store_parameter(int address, int code, float value);

    // Writes what waits, as far as the database takes it. Called by the retry
    // timer; tests call it directly.
    void retry();
    // Writes everything that waits, batch after batch, for at most `wait`
    // while the database is away. Returns whether nothing is left (closing).
    bool drain(std::chrono::milliseconds wait);

    bool outage() const { return !entries_.empty() || !params_.empty(); }
    // Rows and transitions waiting.
    std::size_t waiting() const { return entries_.size(); }
    std::size_t capacity() const { return capacity_; }
    // Entries dropped because the queue was full, since the start.
    std::uint64_t dropped() const { return dropped_; }
    void set_retry_interval(int ms) { retry_ms_ = ms; }

Q_SIGNALS:
    // The first write that failed, with the database's reason.
    void outage_began(const QString& reason);
    // Everything waiting has been written; `rows` entries were written late.
    void outage_ended(qint64 rows);
    // The queue overflowed; `total` entries dropped since the start.
    void rows_dropped(quint64 total);
    // The number of entries waiting changed.
    void waiting_changed(qint64 rows);
    // What was just written, in log order.
    void written(const std::vector<MeasurementRow>& rows, const std::vector<AlarmEvent>& alarms);

private:
    struct Entry {
        bool alarm = false;
        MeasurementRow row;
        AlarmEvent event;
    };
    void push(Entry entry);
    void begin_outage(const QString& reason);
    bool write_parameters();
    bool write_batch();

    StationDb& db_;
    AlarmLog* alarms_;
    std::size_t capacity_;
    std::deque<Entry> entries_;
    std::map<std::pair<int, int>, float> params_; // (address, code) -> latest value
    std::uint64_t dropped_ = 0;
    qint64 written_late_ = 0;
    int retry_ms_ = kDefaultRetryMs;
    QTimer timer_;
};
