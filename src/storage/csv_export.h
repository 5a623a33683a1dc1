#pragma once
// Export of mea_tbl to a CSV file, for all rows or a range of dates, and the
// background job that runs an export off the main thread.
//
// The export reads through its own connection in key order, one window of
// rows per statement (each statement finished before the next), so it never
// holds a long read transaction while the station appends. The file is
// written whole or not at all (csv_file.h).
#include <QDate>
#include <QObject>
#include <QString>

#include <atomic>
#include <functional>
#include <optional>
#include <utility>
#include <vector>
#include <thread>

// Inclusive range of calendar days (local dates as logged).
struct DateRange {
    QDate from;
    QDate to;
};

// Which rows to export: all, the rows of some calendar days, or of a span of
// clock time (db_clock_ms: from_ms <= time < to_ms), of all addresses or the
// listed ones.
struct MeasurementFilter {
    MeasurementFilter() = default;
    MeasurementFilter(std::nullopt_t) { }
    MeasurementFilter(DateRange range)
        : days(range)
    {
    }
    MeasurementFilter(std::optional<DateRange> range)
        : days(range)
    {
    }
    std::optional<DateRange> days;
    std::optional<std::pair<qint64, qint64>> clock;
    std::vector<int> addresses;
};

// Writes a header line (date,time,address,address_no,sv,pv,mv,val,alm,alarms)
// and one line per row: date as yyyy-MM-dd, time as HH:mm:ss, the address
// text as logged and its number, numbers with the browser's decimals, the
// status byte and the names of its alarm bits; text quoted when it needs
// it; UTF-8, LF line ends, a byte-order mark first when `bom`. `progress`
// gets 0..1000 as the key range is covered. Returns the number of rows
// written, or nullopt when `cancel` was raised. Throws EDatabaseError or
// EInOutError naming the file. Runs on any thread (opens its own read-only
// connection, so it also reads a file it may not write).
std::optional<qint64> export_measurements_csv(const QString& db_path, const QString& out_path,
    const MeasurementFilter& filter, const std::function<void(int)>& progress, const std::atomic<bool>* cancel,
    bool bom = false);

// Runs an export on a background thread and reports on the thread that owns
// the job (the main thread).
class CsvExportJob : public QObject {
    Q_OBJECT
public:
    // The export: reports 0..1000 through the first argument, stops when the
    // second turns true; returns the rows written or nullopt when cancelled,
    // and throws on failure.
    using Work = std::function<std::optional<qint64>(
        const std::function<void(int)>& progress, const std::atomic<bool>* cancel)>;

    explicit CsvExportJob(QObject* parent = nullptr);
    ~CsvExportJob() override; // cancels and waits

    // Starts an export; false when one is already running.
    bool start(Work work);
    void cancel();
    bool running() const { return running_; }

Q_SIGNALS:
    void progress(int permille);
    // ok = false with a message on failure; cancelled exports give ok = false
    // and an empty message.
    void finished(bool ok, qint64 rows, const QString& message);

private:
    void join();

    std::thread worker_;
    std::atomic<bool> cancel_ { false };
    bool running_ = false;
};
