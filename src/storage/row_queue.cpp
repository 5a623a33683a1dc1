#include "row_queue.h"

#include "errors.h"

#include <vector>

RowQueue::RowQueue(StationDb& db, std::size_t capacity, QObject* parent)
    : QObject(parent)
    , db_(db)
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

void RowQueue::append_measurement(const MeasurementRow& row)
{
    if (!outage()) {
        try {
            db_.append_measurement(row);
            return;
        } catch (const EDatabaseError& e) {
            rows_.push_back(row);
            begin_outage(QString::fromUtf8(e.what()));
            Q_EMIT waiting_changed(static_cast<qint64>(rows_.size()));
            return;
        }
    }
    if (rows_.size() >= capacity_) {
        rows_.pop_front();
        ++dropped_;
        Q_EMIT rows_dropped(dropped_);
    }
    rows_.push_back(row);
    Q_EMIT waiting_changed(static_cast<qint64>(rows_.size()));
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
    if (rows_.empty())
        return true;
    const std::size_t n = rows_.size() < kBatchRows ? rows_.size() : kBatchRows;
    const std::vector<MeasurementRow> batch(rows_.begin(), rows_.begin() + static_cast<std::ptrdiff_t>(n));
    try {
        db_.append_measurements(batch);
    } catch (const EDatabaseError&) {
        return false;
    }
    rows_.erase(rows_.begin(), rows_.begin() + static_cast<std::ptrdiff_t>(n));
    written_late_ += static_cast<qint64>(n);
    Q_EMIT waiting_changed(static_cast<qint64>(rows_.size()));
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
        // One batch at a time, each its own transaction, so that the window
        // keeps answering while a long queue is written.
        timer_.start(kDrainMs);
        return;
    }
    timer_.stop();
    Q_EMIT outage_ended(written_late_);
}
