#include "measurement_history.h"

#include "errors.h"
#include "schema.h"
#include "station_db.h"

#include <QSqlError>
#include <QVariant>

#include <algorithm>

namespace {

constexpr qint64 kMinuteMs = 60'000;
constexpr int kMinuteTableVersion = 3;

double value_of(LogField field, double sv, double pv)
{
    switch (field) {
    case LogField::Sv:
        return sv;
    case LogField::Pv:
        return pv;
    case LogField::Deviation:
        break;
    }
    return pv - sv;
}

const QString kRowFilter = QStringLiteral("sv IS NOT NULL AND pv IS NOT NULL");

} // namespace

QString log_address_text(int address)
{
    return QString::number(address) + QStringLiteral("#仪表");
}

QString log_address_number(const QString& text)
{
    qsizetype n = 0;
    while (n < text.size() && text[n].isDigit() && text[n].unicode() < 128)
        ++n;
    return text.left(n);
}

MeasurementHistory::MeasurementHistory(QSqlDatabase db, QString label)
    : db_(std::move(db))
    , label_(std::move(label))
{
    QSqlQuery q(db_);
    if (!q.exec(QStringLiteral("SELECT count(*) FROM sqlite_master WHERE type = 'table' AND name = 'mea_minute'"))
        || !q.next())
        fail(q);
    minute_table_ = q.value(0).toInt() == 1 && schema_version(db_) >= kMinuteTableVersion;
}

MeasurementHistory::~MeasurementHistory() = default;

void MeasurementHistory::fail(const QSqlQuery& q) const
{
    throw EDatabaseError(
        QStringLiteral("无法读取数据库 %1 的测量记录：%2").arg(label_, q.lastError().text()).toStdString());
}

std::vector<int> MeasurementHistory::addresses()
{
    std::vector<int> out;
    auto take = [&](const QString& text) {
        bool ok = false;
        const int a = log_address_number(text).toInt(&ok);
        if (ok && std::find(out.begin(), out.end(), a) == out.end())
            out.push_back(a);
    };
    QSqlQuery q(db_);
    q.setForwardOnly(true);
    if (minute_table_) {
        // One seek per address in the minute table's key.
        q.prepare(QStringLiteral("SELECT address FROM mea_minute WHERE address > ? ORDER BY address LIMIT 1"));
        QString after = QStringLiteral("");
        for (;;) {
            q.bindValue(0, after);
            if (!q.exec())
                fail(q);
            if (!q.next())
                break;
            after = q.value(0).toString();
            take(after);
        }
    } else {
        if (!q.exec(QStringLiteral("SELECT DISTINCT address FROM mea_tbl WHERE address IS NOT NULL")))
            fail(q);
        while (q.next())
            take(q.value(0).toString());
    }
    std::sort(out.begin(), out.end());
    return out;
}

std::optional<std::pair<qint64, qint64>> MeasurementHistory::time_bounds()
{
    QSqlQuery q(db_);
    // Two sub-queries: SQLite reads a lone min() or max() off the time index
    // in one step, but both in one select scan the whole table.
    if (!q.exec(QStringLiteral("SELECT (SELECT min(\"time\") FROM mea_tbl), (SELECT max(\"time\") FROM mea_tbl)"))
        || !q.next())
        fail(q);
    const std::optional<qint64> first = db_clock_ms(q.value(0).toString());
    const std::optional<qint64> last = db_clock_ms(q.value(1).toString());
    if (!first || !last)
        return std::nullopt;
    return std::make_pair(*first, *last);
}

void MeasurementHistory::read(int address, LogField field, qint64 from_ms, qint64 to_ms,
    const std::function<bool(qint64, qint64)>& whole, const std::function<void(const LogRun&)>& emit)
{
    if (from_ms >= to_ms)
        return;
    if (!minute_table_ || !whole) {
        read_rows(address, field, from_ms, to_ms, emit);
        return;
    }
    // Whole minutes inside the range from the minute table; the partial
    // minutes at its ends, and minutes the caller cannot take whole, row by
    // row, in their place in the order.
    const qint64 first_minute = (from_ms + kMinuteMs - 1) / kMinuteMs;
    const qint64 end_minute = to_ms / kMinuteMs;
    if (first_minute >= end_minute) {
        read_rows(address, field, from_ms, to_ms, emit);
        return;
    }
    read_rows(address, field, from_ms, first_minute * kMinuteMs, emit);
    QSqlQuery& q = prepared(minutes_,
        QStringLiteral("SELECT minute, first_ms, first_sv, first_pv, last_ms, last_sv, last_pv, sv_min, sv_max, "
                       "pv_min, pv_max, d_min, d_max FROM mea_minute WHERE address = ? AND minute >= ? "
                       "AND minute < ? ORDER BY minute"));
    q.bindValue(0, log_address_text(address));
    q.bindValue(1, first_minute);
    q.bindValue(2, end_minute);
    if (!q.exec())
        fail(q);
    while (q.next()) {
        LogRun run;
        run.first_ms = q.value(1).toLongLong();
        run.last_ms = q.value(4).toLongLong();
        if (!whole(run.first_ms, run.last_ms)) {
            const qint64 minute = q.value(0).toLongLong();
            read_rows(address, field, minute * kMinuteMs, (minute + 1) * kMinuteMs, emit);
            continue;
        }
        run.first = value_of(field, q.value(2).toDouble(), q.value(3).toDouble());
        run.last = value_of(field, q.value(5).toDouble(), q.value(6).toDouble());
        const int range = field == LogField::Sv ? 7 : field == LogField::Pv ? 9 : 11;
        run.min = q.value(range).toDouble();
        run.max = q.value(range + 1).toDouble();
        emit(run);
    }
    q.finish();
    read_rows(address, field, end_minute * kMinuteMs, to_ms, emit);
}

void MeasurementHistory::read_rows(
    int address, LogField field, qint64 from_ms, qint64 to_ms, const std::function<void(const LogRun&)>& emit)
{
    if (from_ms >= to_ms)
        return;
    RowsRead& r = last_rows_;
    const std::pair<qint64, qint64> version = log_version();
    if (r.address != address || r.from_ms != from_ms || r.to_ms != to_ms || r.version != version) {
        r.address = -1;
        r.ms.clear();
        r.sv.clear();
        r.pv.clear();
        read_rows_from_log(address, from_ms, to_ms);
        r.address = address;
        r.from_ms = from_ms;
        r.to_ms = to_ms;
        r.version = version;
    }
    for (std::size_t i = 0; i < r.ms.size(); ++i) {
        const double v = value_of(field, r.sv[i], r.pv[i]);
        emit({ r.ms[i], r.ms[i], v, v, v, v });
    }
}

std::pair<qint64, qint64> MeasurementHistory::log_version()
{
    QSqlQuery& q = prepared(
        version_, QStringLiteral("SELECT total_changes(), (SELECT data_version FROM pragma_data_version)"));
    if (!q.exec() || !q.next())
        fail(q);
    const std::pair<qint64, qint64> v { q.value(0).toLongLong(), q.value(1).toLongLong() };
    q.finish();
    return v;
}

void MeasurementHistory::read_rows_from_log(int address, qint64 from_ms, qint64 to_ms)
{
    QSqlQuery& q = prepared(raw_,
        QStringLiteral("SELECT \"time\", sv, pv FROM mea_tbl WHERE \"time\" >= ? AND \"time\" < ? AND address = ? "
                       "AND %1 ORDER BY \"time\", rowid")
            .arg(kRowFilter));
    q.bindValue(0, db_clock_text(from_ms));
    q.bindValue(1, db_clock_text(to_ms));
    q.bindValue(2, log_address_text(address));
    if (!q.exec())
        fail(q);
    while (q.next()) {
        const std::optional<qint64> ms = db_clock_ms(q.value(0).toString());
        if (!ms)
            continue;
        last_rows_.ms.push_back(*ms);
        last_rows_.sv.push_back(q.value(1).toDouble());
        last_rows_.pv.push_back(q.value(2).toDouble());
    }
    q.finish();
}

QSqlQuery& MeasurementHistory::prepared(std::unique_ptr<QSqlQuery>& q, const QString& sql)
{
    if (!q) {
        q = std::make_unique<QSqlQuery>(db_);
        q->setForwardOnly(true);
        if (!q->prepare(sql))
            fail(*q);
    }
    return *q;
}

// The first (or, with `last`, the last) row of `address` with from_ms <=
// time < to_ms, read from the log's rows.
std::optional<LogRun> MeasurementHistory::edge_row(
    bool last, int address, LogField field, qint64 from_ms, qint64 to_ms)
{
    if (from_ms >= to_ms)
        return std::nullopt;
    const QString sql = QStringLiteral("SELECT \"time\", sv, pv FROM mea_tbl WHERE \"time\" >= ? AND \"time\" < ? "
                                       "AND address = ? AND %1 ORDER BY \"time\" %2, rowid %2 LIMIT 1")
                            .arg(kRowFilter, last ? QStringLiteral("DESC") : QStringLiteral("ASC"));
    QSqlQuery& q = prepared(last ? last_row_ : first_row_, sql);
    q.bindValue(0, db_clock_text(from_ms));
    q.bindValue(1, db_clock_text(to_ms));
    q.bindValue(2, log_address_text(address));
    if (!q.exec())
        fail(q);
    std::optional<LogRun> run;
    while (!run && q.next()) {
        if (const std::optional<qint64> ms = db_clock_ms(q.value(0).toString())) {
            const double v = value_of(field, q.value(1).toDouble(), q.value(2).toDouble());
            run = LogRun { *ms, *ms, v, v, v, v };
        }
    }
    q.finish();
    return run;
}

// The last row of the latest minute before `minute`, or (without `last`)
// the first row of the earliest minute after it, from the minute table; the
// first row only when it lies before to_ms.
std::optional<LogRun> MeasurementHistory::edge_minute_row(
    bool last, int address, LogField field, qint64 minute, qint64 to_ms)
{
    QSqlQuery& q = prepared(last ? minute_before_ : minute_after_,
        last ? QStringLiteral("SELECT last_ms, last_sv, last_pv FROM mea_minute WHERE address = ? AND minute < ? "
                              "ORDER BY minute DESC LIMIT 1")
             : QStringLiteral("SELECT first_ms, first_sv, first_pv FROM mea_minute WHERE address = ? AND minute > ? "
                              "ORDER BY minute LIMIT 1"));
    q.bindValue(0, log_address_text(address));
    q.bindValue(1, minute);
    if (!q.exec())
        fail(q);
    std::optional<LogRun> run;
    if (q.next() && (last || q.value(0).toLongLong() < to_ms)) {
        const qint64 ms = q.value(0).toLongLong();
        const double v = value_of(field, q.value(1).toDouble(), q.value(2).toDouble());
        run = LogRun { ms, ms, v, v, v, v };
    }
    q.finish();
    return run;
}

std::optional<LogRun> MeasurementHistory::row_before(int address, LogField field, qint64 ms)
{
    if (!minute_table_)
        return edge_row(true, address, field, 0, ms);
    // Within the minute of `ms` from the rows, else the minute table: two
    // short reads however long the address was silent before.
    const qint64 minute = ms / kMinuteMs;
    if (std::optional<LogRun> run = edge_row(true, address, field, minute * kMinuteMs, ms))
        return run;
    return edge_minute_row(true, address, field, minute, ms);
}

std::optional<LogRun> MeasurementHistory::row_from(int address, LogField field, qint64 from_ms, qint64 to_ms)
{
    if (from_ms >= to_ms)
        return std::nullopt;
    if (!minute_table_)
        return edge_row(false, address, field, from_ms, to_ms);
    const qint64 minute = from_ms / kMinuteMs;
    if (std::optional<LogRun> run
        = edge_row(false, address, field, from_ms, std::min(to_ms, (minute + 1) * kMinuteMs)))
        return run;
    return edge_minute_row(false, address, field, minute, to_ms);
}

std::vector<LogRow> MeasurementHistory::rows(qint64 from_ms, qint64 to_ms)
{
    std::vector<LogRow> out;
    QSqlQuery q(db_);
    q.setForwardOnly(true);
    q.prepare(QStringLiteral("SELECT \"time\", address, sv, pv FROM mea_tbl WHERE \"time\" >= ? AND \"time\" < ? "
                             "AND %1 ORDER BY \"time\", rowid")
                  .arg(kRowFilter));
    q.bindValue(0, db_clock_text(from_ms));
    q.bindValue(1, db_clock_text(to_ms));
    if (!q.exec())
        fail(q);
    while (q.next()) {
        const std::optional<qint64> ms = db_clock_ms(q.value(0).toString());
        bool ok = false;
        const int address = log_address_number(q.value(1).toString()).toInt(&ok);
        if (ms && ok)
            out.push_back({ *ms, address, q.value(2).toDouble(), q.value(3).toDouble() });
    }
    return out;
}
