#include "row_queue.h"

#include "errors.h"

#include <QElapsedTimer>
#include <QSqlQuery>
#include <QThread>

RowQueue::RowQueue(StationDb& db, AlarmLog* alarms, std::size_t capacity, QObject* parent)
    : QObject(parent)
    , db_(db)
    , alarms_(alarms)
    , capacity_(capacity > 0 ? capacity : 1)
{
    timer_.setSingleShot(true);
    connect(&timer_, &QTimer::timeout, this, &RowQueue::retry);
}

void RowQueue::begin_outage(const QString& reason)
{
    written_late_ = 0;
    timer_.start(retry_ms_);
    Q_EMIT outage_began(reason);
}

void RowQueue::push(Entry entry)
{
    if (entries_.size() >= capacity_) {
        entries_.pop_front();
        ++dropped_;
        Q_EMIT rows_dropped(dropped_);
    }
    entries_.push_back(std::move(entry));
    Q_EMIT waiting_changed(static_cast<qint64>(entries_.size()));
}

void RowQueue::append_measurement(const MeasurementRow& row)
{
    if (!outage()) {
        try {
            db_.append_measurement(row);
            Q_EMIT written({ row }, {});
            return;
        } catch (const EDatabaseError& e) {
            push({ false, row, {} });
            begin_outage(QString::fromUtf8(e.what()));
            return;
        }
    }
    push({ false, row, {} });
}

void RowQueue::append_alarms(const std::vector<AlarmEvent>& events)
{
    if (events.empty() || !alarms_)
        return;
    if (!outage()) {
        try {
            alarms_->append(events);
            Q_EMIT written({}, events);
            return;
        } catch (const EDatabaseError& e) {
            for (const AlarmEvent& event : events)
                push({ true, {}, event });
            begin_outage(QString::fromUtf8(e.what()));
            return;
        }
    }
    for (const AlarmEvent& event : events)
        push({ true, {}, event });
}

void RowQueue::store_parameter(int address, int code, float value)
{
    if (!outage()) {
        try {
            db_.store_parameter(address, code, value);
            return;
        } catch (const EDatabaseError& e) {
            params_[{ address, code }] = value;
            begin_outage(QString::fromUtf8(e.what()));
            return;
        }
    }
    params_[{ address, code }] = value;
}

bool RowQueue::write_parameters()
{
    while (!params_.empty()) {
        const auto it = params_.begin();
        try {
            db_.store_parameter(it->first.first, it->first.second, it->second);
        } catch (const EDatabaseError&) {
            return false;
        }
        params_.erase(it);
    }
    return true;
}

bool RowQueue::write_batch()
{
    if (entries_.empty())
        return true;
    const std::size_t n = entries_.size() < kBatchRows ? entries_.size() : kBatchRows;
    std::vector<MeasurementRow> rows;
    std::vector<AlarmEvent> alarms;
    std::vector<qint64> ids;
    QSqlDatabase c = db_.connection();
    // One transaction: the batch is in the log whole, or not at all.
    if (!QSqlQuery(c).exec(QStringLiteral("BEGIN IMMEDIATE")))
        return false;
    try {
        for (std::size_t i = 0; i < n; ++i) {
            const Entry& e = entries_[i];
            if (e.alarm) {
                if (alarms_)
                    alarms_->insert(e.event);
                alarms.push_back(e.event);
            } else {
                ids.push_back(db_.insert_measurement(e.row));
                rows.push_back(e.row);
            }
        }
    } catch (const EDatabaseError&) {
        QSqlQuery(c).exec(QStringLiteral("ROLLBACK"));
        return false;
    }
    if (!QSqlQuery(c).exec(QStringLiteral("COMMIT"))) {
        QSqlQuery(c).exec(QStringLiteral("ROLLBACK"));
        return false;
    }
    entries_.erase(entries_.begin(), entries_.begin() + static_cast<std::ptrdiff_t>(n));
    written_late_ += static_cast<qint64>(n);
    for (qint64 id : ids)
        Q_EMIT db_.measurement_appended(id);
    if (!alarms.empty() && alarms_)
        Q_EMIT alarms_->appended();
    Q_EMIT waiting_changed(static_cast<qint64>(entries_.size()));
    Q_EMIT written(rows, alarms);
    return true;
}

void RowQueue::retry()
{
    if (!outage()) {
        timer_.stop();
        return;
    }
    if (!write_parameters() || !write_batch()) {
        timer_.start(retry_ms_); // still unavailable: try again later
        return;
    }
    if (outage()) {
        // One batch at a time, each its own transaction, so that the engine
        // keeps answering while a long queue is written.
        timer_.start(kDrainMs);
        return;
    }
    timer_.stop();
    Q_EMIT outage_ended(written_late_);
}

bool RowQueue::drain(std::chrono::milliseconds wait)
{
    QElapsedTimer clock;
    clock.start();
    while (outage()) {
        const std::size_t before = entries_.size() + params_.size();
        retry();
        if (!outage())
            break;
        const bool progressed = entries_.size() + params_.size() < before;
        if (!progressed) {
            if (clock.elapsed() >= wait.count())
                break;
            QThread::msleep(50);
        }
    }
    return !outage();
}
