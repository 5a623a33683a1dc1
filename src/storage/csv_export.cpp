#include "csv_export.h"

#include "errors.h"
#include "measurement_model.h"
#include "station_db.h"

#include <QFile>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include <cstdio>
#include <unistd.h>

namespace {

constexpr int kWindowRows = 5000;
std::atomic<int> export_counter { 0 };

QByteArray csv_field(const QString& text)
{
    QByteArray b = text.toUtf8();
    if (b.contains(',') || b.contains('"') || b.contains('\n') || b.contains('\r')) {
        b.replace("\"", "\"\"");
        b = '"' + b + '"';
    }
    return b;
}

QByteArray csv_line(const QSqlQuery& q)
{
    // Columns 1..8 of the query are the eight fields in table order.
    const QDateTime date = db_timestamp_from_text(q.value(1).toString());
    const QDateTime time = db_timestamp_from_text(q.value(2).toString());
    QByteArray line;
    line += csv_field(date.isValid() ? date.toString(QStringLiteral("yyyy-MM-dd")) : q.value(1).toString());
    line += ',';
    line += csv_field(time.isValid() ? time.toString(QStringLiteral("HH:mm:ss")) : q.value(2).toString());
    for (int c = MeasurementModel::ColAddress; c < MeasurementModel::ColumnCount; ++c) {
        line += ',';
        line += csv_field(MeasurementModel::display_text(c, q.value(c + 1)));
    }
    line += '\n';
    return line;
}

class ConnectionGuard {
public:
    explicit ConnectionGuard(QString name)
        : name_(std::move(name))
    {
    }
    ~ConnectionGuard()
    {
        {
            QSqlDatabase db = QSqlDatabase::database(name_, false);
            db.close();
        }
        QSqlDatabase::removeDatabase(name_);
    }

private:
    QString name_;
};

} // namespace

std::optional<qint64> export_measurements_csv(const QString& db_path, const QString& out_path,
    std::optional<DateRange> range, const std::function<void(int)>& progress, const std::atomic<bool>* cancel)
{
    const QString name = QStringLiteral("csv_export_%1").arg(export_counter.fetch_add(1));
    ConnectionGuard guard(name);
    QSqlDatabase db = open_station_connection(db_path, name);

    qint64 first = 0;
    qint64 last = -1;
    {
        QSqlQuery q(db);
        if (!q.exec(
                QStringLiteral("SELECT (SELECT min(rowid) FROM mea_tbl), (SELECT max(rowid) FROM mea_tbl)"))
            || !q.next())
            throw EDatabaseError(("Cannot read mea_tbl: " + q.lastError().text()).toStdString());
        if (!q.value(0).isNull()) {
            first = q.value(0).toLongLong();
            last = q.value(1).toLongLong();
        }
    }

    const QString part = out_path + QStringLiteral(".part");
    QFile out(part);
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate))
        throw EInOutError(("Cannot write " + part + ": " + out.errorString()).toStdString());
    auto fail_io = [&] {
        const QString text = out.errorString();
        out.close();
        QFile::remove(part);
        throw EInOutError(("Cannot write " + part + ": " + text).toStdString());
    };
    if (out.write("date,time,address,sv,pv,mv,val,alm\n") < 0)
        fail_io();

    QString sql
        = QStringLiteral("SELECT rowid, \"date\", \"time\", address, sv, pv, mv, val, alm FROM mea_tbl "
                         "WHERE rowid > ? AND rowid <= ?");
    if (range)
        sql += QStringLiteral(" AND \"date\" >= ? AND \"date\" < ?");
    sql += QStringLiteral(" ORDER BY rowid LIMIT %1").arg(kWindowRows);

    qint64 rows = 0;
    qint64 after = first - 1;
    int last_permille = -1;
    while (after < last) {
        if (cancel && cancel->load()) {
            out.close();
            QFile::remove(part);
            return std::nullopt;
        }
        QSqlQuery q(db);
        q.setForwardOnly(true);
        q.prepare(sql);
        q.bindValue(0, after);
        q.bindValue(1, last);
        if (range) {
            q.bindValue(2, range->from.toString(QStringLiteral("yyyy-MM-dd")));
            q.bindValue(3, range->to.addDays(1).toString(QStringLiteral("yyyy-MM-dd")));
        }
        if (!q.exec()) {
            out.close();
            QFile::remove(part);
            throw EDatabaseError(("Cannot read mea_tbl: " + q.lastError().text()).toStdString());
        }
        int n = 0;
        QByteArray chunk;
        while (q.next()) {
            after = q.value(0).toLongLong();
            chunk += csv_line(q);
            ++n;
        }
        q.finish();
        if (out.write(chunk) < 0)
            fail_io();
        rows += n;
        if (n < kWindowRows)
            after = last; // no more rows in the range
        const int permille = last > first ? static_cast<int>((after - first) * 1000 / (last - first)) : 1000;
        if (progress && permille != last_permille) {
            progress(std::min(permille, 1000));
            last_permille = permille;
        }
    }
    if (!out.flush() || !out.handle() || ::fsync(out.handle()) != 0)
        fail_io();
    out.close();
    QFile::remove(out_path);
    if (std::rename(QFile::encodeName(part).constData(), QFile::encodeName(out_path).constData()) != 0) {
        QFile::remove(part);
        throw EInOutError(("Cannot write " + out_path).toStdString());
    }
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

bool CsvExportJob::start(const QString& db_path, const QString& out_path, std::optional<DateRange> range)
{
    if (running_)
        return false;
    join();
    cancel_ = false;
    running_ = true;
    worker_ = std::thread([this, db_path, out_path, range] {
        bool ok = false;
        qint64 rows = 0;
        QString message;
        try {
            const auto r = export_measurements_csv(
                db_path, out_path, range,
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
