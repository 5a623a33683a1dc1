#pragma once
// Rows that wait in memory while the database is unavailable.
//
// Every measurement row and parameter store goes through a RowQueue. While
// the database takes them, they are written at once, as before. When a write
// fails (another program holds the file, the disk is full, the file cannot be
// written), the row is kept, an outage begins, and from then on every row
// joins the queue behind it, so that the log keeps its order. A retry tick
// writes the queued rows in order, in batches of one transaction each; the
// outage ends when the queue is empty. Parameter stores keep only the latest
// value of each field, since a later store overwrites an earlier one anyway.
//
// The queue holds `capacity` rows (two hours of polling at one reply a
// second by default); past that the oldest rows are dropped, counted and
// reported, so a long outage costs the oldest rows, never memory without end.
//
// Thread contract: main thread only, like the StationDb it writes to.
#include "station_db.h"

#include <QObject>
#include <QString>
#include <QTimer>

#include <cstdint>
#include <deque>
#include <map>
#include <utility>

class RowQueue : public QObject {
    Q_OBJECT
public:
    static constexpr std::size_t kDefaultCapacity = 7200;
    static constexpr int kDefaultRetryMs = 2000;
    static constexpr int kDrainMs = 20;
    static constexpr std::size_t kBatchRows = 500;

    explicit RowQueue(StationDb& db, std::size_t capacity = kDefaultCapacity, QObject* parent = nullptr);

    // Writes the row now, or queues it (see above). Never throws.
    void append_measurement(const MeasurementRow& row);
    void store_parameter(int address, int code, float value);

    // Writes what waits, as far as the database takes it. Called by the retry
    // timer; tests call it directly.
    void retry();

    bool outage() const { return !rows_.empty() || !params_.empty(); }
    std::size_t waiting() const { return rows_.size(); }
    std::size_t capacity() const { return capacity_; }
    // Rows dropped because the queue was full, since the start.
    std::uint64_t dropped() const { return dropped_; }
    void set_retry_interval(int ms) { retry_ms_ = ms; }

Q_SIGNALS:
    // The first write that failed, with the database's reason.
    void outage_began(const QString& reason);
    // Everything waiting has been written; `rows` rows were written late.
    void outage_ended(qint64 rows);
    // The queue overflowed; `total` rows dropped since the start.
    void rows_dropped(quint64 total);
    // The number of rows waiting changed.
    void waiting_changed(qint64 rows);

private:
    void begin_outage(const QString& reason);
    bool write_parameters();
    bool write_batch();

    StationDb& db_;
    std::size_t capacity_;
    std::deque<MeasurementRow> rows_;
    std::map<std::pair<int, int>, float> params_; // (address, code) -> latest value
    std::uint64_t dropped_ = 0;
    qint64 written_late_ = 0;
    int retry_ms_ = kDefaultRetryMs;
    QTimer timer_;
};
