#include "csv_export.h"

#include "csv_file.h"
#include "errors.h"
#include "measurement_history.h"
#include "measurement_model.h"
#include "station_db.h"
#include "status_bits.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>
#include <QVariant>

namespace {

constexpr int kWindowRows = 5000;
std::atomic<int> export_counter { 0 };

QByteArray csv_line(const QSqlQuery& q)
{
    // Columns 1..8 of the query are the eight fields in table order.
    const QDateTime date = db_timestamp_from_text(q.value(1).toString());
    const QDateTime time = db_timestamp_from_text(q.value(2).toString());
    const QString address = q.value(3).toString();
    const QVariant alm = q.value(8);
    QByteArray line;
    line += csv_field(date.isValid() ? date.toString(QStringLiteral("yyyy-MM-dd")) : q.value(1).toString());
    line += ',';
    line += csv_field(time.isValid() ? time.toString(QStringLiteral("HH:mm:ss")) : q.value(2).toString());
    line += ',';
    line += csv_field(address);
    line += ',';
    line += csv_field(log_address_number(address));
    for (int c = MeasurementModel::ColSv; c < MeasurementModel::ColAlm; ++c) {
        line += ',';
        line += csv_field(MeasurementModel::display_text(c, q.value(c + 1)));
    }
    line += ',';
    line += csv_field(alm.isNull() ? QString() : QString::number(alm.toInt()));
    line += ',';
    line += csv_field(alm.isNull()
            ? QString()
            : QString::fromStdString(alarm_names(static_cast<std::uint8_t>(alm.toInt()))));
    line += '\n';
    return line;
}

[[noreturn]] void fail_read(const QString& db_path, const QSqlQuery& q)
{
    throw EDatabaseError(QStringLiteral("无法读取数据库 %1 的测量记录表 mea_tbl：%2")
                             .arg(db_file_label(db_path), q.lastError().text())
                             .toStdString());
}

} // namespace

std::optional<qint64> export_measurements_csv(const QString& db_path, const QString& out_path,
    const MeasurementFilter& filter, const std::function<void(int)>& progress, const std::atomic<bool>* cancel,
    bool bom)
{
    const QString name = QStringLiteral("csv_export_%1").arg(export_counter.fetch_add(1));
    ConnectionRemover remover(name);
    QSqlDatabase db = open_station_connection(db_path, name, true);

    // The conditions and their values, in the order of the placeholders.
    QString where;
    QVariantList values;
    if (filter.days) {
        where += QStringLiteral(" AND \"date\" >= ? AND \"date\" < ?");
        values << filter.days->from.toString(QStringLiteral("yyyy-MM-dd"))
               << filter.days->to.addDays(1).toString(QStringLiteral("yyyy-MM-dd"));
    }
    if (filter.clock) {
        where += QStringLiteral(" AND \"time\" >= ? AND \"time\" < ?");
        values << db_clock_text(filter.clock->first) << db_clock_text(filter.clock->second);
    }
    if (!filter.addresses.empty()) {
        QStringList marks;
        for (int a : filter.addresses) {
            marks << QStringLiteral("?");
            values << log_address_text(a);
        }
        where += QStringLiteral(" AND address IN (%1)").arg(marks.join(QLatin1Char(',')));
    }
    auto bind_filter = [&values](QSqlQuery& q, int first) {
        for (int i = 0; i < values.size(); ++i)
            q.bindValue(first + i, values[i]);
    };

    // The key range to walk: the whole table, or with a span of time the
    // keys of the rows in it (found through the time index).
    qint64 first = 0;
    qint64 last = -1;
    {
        QSqlQuery q(db);
        const QString bounds = filter.clock
            ? QStringLiteral("SELECT min(rowid), max(rowid) FROM mea_tbl WHERE \"time\" >= ? AND \"time\" < ?")
            : QStringLiteral("SELECT (SELECT min(rowid) FROM mea_tbl), (SELECT max(rowid) FROM mea_tbl)");
        q.prepare(bounds);
        if (filter.clock) {
            q.bindValue(0, db_clock_text(filter.clock->first));
            q.bindValue(1, db_clock_text(filter.clock->second));
        }
        if (!q.exec() || !q.next())
            fail_read(db_path, q);
        if (!q.value(0).isNull()) {
            first = q.value(0).toLongLong();
            last = q.value(1).toLongLong();
        }
    }

    CsvFile out(out_path, bom);
    out.write("date,time,address,address_no,sv,pv,mv,val,alm,alarms\n");

    const QString sql
        = QStringLiteral("SELECT rowid, \"date\", \"time\", address, sv, pv, mv, val, alm FROM mea_tbl "
                         "WHERE rowid > ? AND rowid <= ?%1 ORDER BY rowid LIMIT %2")
              .arg(where)
              .arg(kWindowRows);

    qint64 rows = 0;
    qint64 after = first - 1;
    int last_permille = -1;
    while (after < last) {
        if (cancel && cancel->load())
            return std::nullopt;
        QSqlQuery q(db);
        q.setForwardOnly(true);
        q.prepare(sql);
        q.bindValue(0, after);
        q.bindValue(1, last);
        bind_filter(q, 2);
        if (!q.exec())
            fail_read(db_path, q);
        int n = 0;
        QByteArray chunk;
        while (q.next()) {
            after = q.value(0).toLongLong();
            chunk += csv_line(q);
            ++n;
        }
        q.finish();
        out.write(chunk);
        rows += n;
        if (n < kWindowRows)
            after = last; // no more rows in the range
        const int permille = last > first ? static_cast<int>((after - first) * 1000 / (last - first)) : 1000;
        if (progress && permille != last_permille) {
            progress(std::min(permille, 1000));
            last_permille = permille;
        }
    }
    out.commit();
    if (progress && last_permille != 1000)
        progress(1000);
    return rows;
}

CsvExportJob::CsvExportJob(QObject* parent)
    : QObject(parent)
{
}

CsvExportJob::~CsvExportJob()
{
    cancel();
    join();
}

void CsvExportJob::join()
{
    if (worker_.joinable())
        worker_.join();
}

void CsvExportJob::cancel()
{
    cancel_ = true;
}

bool CsvExportJob::start(Work work)
{
    if (running_)
        return false;
    join();
    cancel_ = false;
    running_ = true;
    worker_ = std::thread([this, work = std::move(work)] {
        bool ok = false;
        qint64 rows = 0;
        QString message;
        try {
            const auto r = work(
                [this](int permille) {
                    QMetaObject::invokeMethod(
                        this, [this, permille] { Q_EMIT progress(permille); }, Qt::QueuedConnection);
                },
                &cancel_);
            ok = r.has_value();
            rows = r.value_or(0);
        } catch (const std::exception& e) {
            message = QString::fromUtf8(e.what());
        }
        QMetaObject::invokeMethod(
            this,
            [this, ok, rows, message] {
                running_ = false;
                join();
                Q_EMIT finished(ok, rows, message);
            },
            Qt::QueuedConnection);
    });
    return true;
}
