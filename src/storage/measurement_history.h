#pragma once
// Reading the measurement log back for charts: which addresses it holds and
// over which times, and one address's sv, pv or pv - sv in time order, a
// whole minute at a time where the caller can draw a minute as one piece.
//
// Times are clock milliseconds (db_clock_ms). A log of the current layout
// has the minute table mea_minute (schema.h), so a month of one address is
// about 43,000 minute rows instead of millions of rows; an older file, opened
// read-only from another station, is read row by row.
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>

#include <functional>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

enum class LogField { Sv, Pv, Deviation }; // Deviation: pv - sv

// Logged values of one address: one row (first == last), or the rows of one
// minute with their first and last time and value and their value range.
struct LogRun {
    qint64 first_ms = 0, last_ms = 0;
    double first = 0, last = 0, min = 0, max = 0;
};

// One logged row as the charts take it.
struct LogRow {
    qint64 ms = 0;
    int address = 0;
    double sv = 0, pv = 0;
};

class MeasurementHistory {
public:
    // Reads through `db`, a connection of the calling thread; `label` names
    // the file in messages (db_file_label). Every read throws EDatabaseError
    // with the driver's reason when it fails.
    MeasurementHistory(QSqlDatabase db, QString label);
    ~MeasurementHistory();
    MeasurementHistory(const MeasurementHistory&) = delete;
    MeasurementHistory& operator=(const MeasurementHistory&) = delete;

    bool has_minute_table() const { return minute_table_; }

    // The instrument addresses in the log ("12#仪表" is 12), ascending.
    std::vector<int> addresses();
    // The first and the last logged time; nullopt for an empty log.
    std::optional<std::pair<qint64, qint64>> time_bounds();

    // The rows of `address` with from_ms <= time < to_ms, in time order (rows
    // of equal times in the order logged). With the minute table, a minute
    // that lies wholly inside the range and for which `whole(first_ms,
    // last_ms)` holds comes as one run; everything else row by row. Rows
    // without a time or a value are left out.
    void read(int address, LogField field, qint64 from_ms, qint64 to_ms,
        const std::function<bool(qint64 first_ms, qint64 last_ms)>& whole,
        const std::function<void(const LogRun&)>& emit);
    // The last row of `address` before `ms`, and the first at or after
    // `from_ms` and before `to_ms`.
    std::optional<LogRun> row_before(int address, LogField field, qint64 ms);
    std::optional<LogRun> row_from(int address, LogField field, qint64 from_ms, qint64 to_ms);

    // Every address's rows with from_ms <= time < to_ms, in time order.
    std::vector<LogRow> rows(qint64 from_ms, qint64 to_ms);

private:
    void read_rows(int address, LogField field, qint64 from_ms, qint64 to_ms,
        const std::function<void(const LogRun&)>& emit);
    void read_rows_from_log(int address, qint64 from_ms, qint64 to_ms);
    // Changes by this connection and by others: equal while the file is.
    std::pair<qint64, qint64> log_version();
    std::optional<LogRun> edge_row(bool last, int address, LogField field, qint64 from_ms, qint64 to_ms);
    std::optional<LogRun> edge_minute_row(bool last, int address, LogField field, qint64 minute, qint64 to_ms);
    QSqlQuery& prepared(std::unique_ptr<QSqlQuery>& q, const QString& sql);
    [[noreturn]] void fail(const QSqlQuery& q) const;

    // The rows of the last read_rows, kept for the next one of the same
    // address and span while the file is unchanged (a chart's SV and PV
    // channels read the same rows one after the other).
    struct RowsRead {
        int address = -1;
        qint64 from_ms = 0, to_ms = 0;
        std::pair<qint64, qint64> version { -1, -1 };
        std::vector<qint64> ms;
        std::vector<double> sv, pv;
    };
    RowsRead last_rows_;
    QSqlDatabase db_;
    QString label_;
    bool minute_table_ = false;
    std::unique_ptr<QSqlQuery> raw_, version_, minutes_, first_row_, last_row_, minute_before_, minute_after_;
};

// The address text the station logs for `address` ("12#仪表"), and the
// number in front of a logged address text ("12#仪表" -> "12"; empty when
// the text does not start with one).
QString log_address_text(int address);
QString log_address_number(const QString& text);
