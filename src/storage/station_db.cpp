#include "station_db.h"

#include "db_check.h"
#include "errors.h"
#include "event_log.h"
#include "measurement_history.h"
#include "param_catalogue.h"
#include "param_text.h"
#include "schema.h"
#include "settings_file.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTimeZone>
#include <QUrl>
#include <QVariant>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace {

std::atomic<int> connection_counter { 0 };

QString field_name(int address)
{
    // Only ever called with an address that passed db_address_valid().
    return QStringLiteral("no%1").arg(address);
}

} // namespace

bool db_address_valid(int address)
{
    return address >= 0 && address < kDbAddressCount;
}

QString db_timestamp_text(const QDateTime& when)
{
    return when.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"));
}

QDateTime db_timestamp_from_text(const QString& text)
{
    QDateTime t = QDateTime::fromString(text, QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"));
    if (!t.isValid())
        t = QDateTime::fromString(text, Qt::ISODateWithMs);
    if (!t.isValid())
        t = QDateTime::fromString(text, Qt::ISODate);
    return t;
}

qint64 db_clock_ms(const QDateTime& when)
{
    constexpr qint64 kUnixDay = 2440588; // Julian day of 1970-01-01
    return (when.date().toJulianDay() - kUnixDay) * 86'400'000 + when.time().msecsSinceStartOfDay();
}

std::optional<qint64> db_clock_ms(QStringView text)
{
    // Fixed places: yyyy-MM-dd HH:mm:ss(.zzz); read digit by digit, since
    // the log's charts parse up to hundreds of thousands of these at a time.
    if (text.size() != 19 && text.size() != 23)
        return std::nullopt;
    auto number = [&](qsizetype at, int digits, int& out) {
        out = 0;
        for (int i = 0; i < digits; ++i) {
            const char16_t c = text[at + i].unicode();
            if (c < u'0' || c > u'9')
                return false;
            out = out * 10 + (c - u'0');
        }
        return true;
    };
    auto is = [&](qsizetype at, char16_t c) { return text[at].unicode() == c; };
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, sec = 0, ms = 0;
    if (!number(0, 4, y) || !is(4, u'-') || !number(5, 2, mo) || !is(7, u'-') || !number(8, 2, d)
        || !is(10, u' ') || !number(11, 2, h) || !is(13, u':') || !number(14, 2, mi) || !is(16, u':')
        || !number(17, 2, sec))
        return std::nullopt;
    if (text.size() == 23 && (!is(19, u'.') || !number(20, 3, ms)))
        return std::nullopt;
    const QDate date(y, mo, d);
    if (!date.isValid() || h > 23 || mi > 59 || sec > 59)
        return std::nullopt;
    return (date.toJulianDay() - 2440588) * 86'400'000 + ((h * 60 + mi) * 60 + sec) * qint64(1000) + ms;
}

QString db_clock_text(qint64 ms)
{
    // Clamped to the years 0001 .. 9999, so that an open end of a range
    // (the smallest or largest number) is still a text that compares.
    constexpr qint64 kFirst = -62'135'596'800'000; // 0001-01-01 00:00:00.000
    constexpr qint64 kLast = 253'402'300'799'999; // 9999-12-31 23:59:59.999
    return QDateTime::fromMSecsSinceEpoch(std::clamp(ms, kFirst, kLast), QTimeZone::utc())
        .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"));
}

QString db_file_label(const QString& path)
{
    const QFileInfo info(path);
    return QStringLiteral("%1（目录 %2）")
        .arg(info.fileName(), QDir::toNativeSeparators(info.absolutePath()));
}

QSqlDatabase open_station_connection(const QString& path, const QString& connection_name, bool read_only)
{
    const QFileInfo info(path);
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection_name);
    // mode=rw: open an existing file read-write, never create one.
    QUrl url = QUrl::fromLocalFile(info.absoluteFilePath());
    url.setQuery(read_only ? QStringLiteral("mode=ro") : QStringLiteral("mode=rw"));
    db.setDatabaseName(url.toString(QUrl::FullyEncoded));
    db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_URI;QSQLITE_BUSY_TIMEOUT=2000"));
    auto fail = [&](const QString& driver_text) {
        db.close();
        db = QSqlDatabase();
        QSqlDatabase::removeDatabase(connection_name);
        throw EDatabaseError(
            QStringLiteral("无法打开数据库 %1：%2").arg(db_file_label(path), driver_text).toStdString());
    };
    if (!info.exists())
        fail(QStringLiteral("文件不存在"));
    if (!db.open())
        fail(db.lastError().text());
    QSqlQuery q(db);
    if (read_only) {
        // Reading the journal mode proves the file is a database.
        if (!q.exec(QStringLiteral("PRAGMA journal_mode")) || !q.next()) {
            const QString text = q.lastError().text();
            q = QSqlQuery();
            fail(text);
        }
        q.finish();
        return db;
    }
    // WAL keeps readers (the browser, the export) from blocking the writes of
    // the poll cycle; FULL sync makes each commit survive a power cut. Reading
    // the journal mode back also proves the file is a database.
    if (!q.exec(QStringLiteral("PRAGMA journal_mode=WAL")) || !q.next()) {
        const QString text = q.lastError().text();
        q = QSqlQuery();
        fail(text);
    }
    q.finish();
    if (!q.exec(QStringLiteral("PRAGMA synchronous=FULL"))) {
        const QString text = q.lastError().text();
        q = QSqlQuery();
        fail(text);
    }
    // A write lock proves the file is writable (a read-only file would
    // otherwise open read-only and fail at the first store).
    if (!q.exec(QStringLiteral("BEGIN IMMEDIATE"))) {
        const QString text = q.lastError().text();
        q = QSqlQuery();
        fail(text);
    }
    q.exec(QStringLiteral("ROLLBACK"));
    return db;
}

StationDb::StationDb(const QString& dir, QObject* parent, const SchemaStepNotice& upgrading)
    : QObject(parent)
    , conn_name_(QStringLiteral("station_db_%1").arg(connection_counter.fetch_add(1)))
{
    const QString base = dir.isEmpty() ? QDir::currentPath() : dir;
    path_ = QDir(base).absoluteFilePath(kDbFileName);
    // Judged read-only first: a file refused here keeps every byte.
    check_station_db(path_);

    // mode=rw: open the existing file read-write, never create one. Nothing
    // is written until the write lock proves that the station may write.
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), conn_name_);
    {
        QUrl url = QUrl::fromLocalFile(path_);
        url.setQuery(QStringLiteral("mode=rw"));
        db.setDatabaseName(url.toString(QUrl::FullyEncoded));
    }
    db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_URI;QSQLITE_BUSY_TIMEOUT=2000"));
    auto refuse = [&](const QString& reason, const QString& detail) {
        db.close();
        db = QSqlDatabase();
        QSqlDatabase::removeDatabase(conn_name_);
        throw EDatabaseError(db_refusal_text(path_, reason, detail).toStdString());
    };
    if (!db.open())
        refuse(QStringLiteral("无法打开该文件"), db.lastError().text());
    {
        QSqlQuery q(db);
        // Another program writing it, or a file that cannot be written after
        // all, shows here, before anything has changed.
        if (!q.exec(QStringLiteral("BEGIN IMMEDIATE"))) {
            const QSqlError error = q.lastError();
            q = QSqlQuery();
            const int code = error.nativeErrorCode().toInt() & 0xFF;
            refuse(code == 5 || code == 6 ? QStringLiteral("文件被其他程序锁定（正在写入它），请关闭该程序后再启动")
                    : code == 8          ? QStringLiteral("文件只读（没有写入权限），本站需要写入它")
                                         : QStringLiteral("无法写入该文件"),
                error.text());
        }
        q.exec(QStringLiteral("ROLLBACK"));
    }
    try {
        upgrade_schema(db, db_file_label(path_), schema_steps(), upgrading,
            [this](int from_version) { copy_aside(from_version); });
    } catch (const EDatabaseError&) {
        db.close();
        db = QSqlDatabase();
        QSqlDatabase::removeDatabase(conn_name_);
        throw;
    }
    // Only a file the station has accepted (and upgraded) changes its journal:
    // WAL keeps readers (the browser, the export) from blocking the writes of
    // the poll cycle; FULL sync makes each commit survive a power cut.
    {
        QSqlQuery q(db);
        if (!q.exec(QStringLiteral("PRAGMA journal_mode=WAL")) || !q.next()
            || q.value(0).toString().compare(QLatin1String("wal"), Qt::CaseInsensitive) != 0) {
            const QString text = q.lastError().text();
            q = QSqlQuery();
            refuse(QStringLiteral("无法切换到 WAL 日志模式"), text);
        }
        q.finish();
        if (!q.exec(QStringLiteral("PRAGMA synchronous=FULL"))) {
            const QString text = q.lastError().text();
            q = QSqlQuery();
            refuse(QStringLiteral("无法设置同步写入"), text);
        }
        // The poll's writes wait for another writer only briefly: a write that
        // cannot go in joins the row queue instead of freezing the window.
        q.exec(QStringLiteral("PRAGMA busy_timeout = %1").arg(kWriteBusyTimeoutMs));
    }
}

void StationDb::copy_aside(int from_version)
{
    // Copied by SQLite (VACUUM INTO, a consistent snapshot of the committed
    // content, WAL included) on a second, read-only connection while this one
    // holds the write lock, so that nothing changes between the copy and the
    // upgrade. Written under a temporary name, flushed to disk, then renamed:
    // a copy cut short never passes for the copy.
    const QString copy = db_upgrade_copy_path(path_, from_version);
    const QString part = copy + QStringLiteral(".part");
    QFile::remove(part); // a leftover of a start that was cut short
    auto fail = [&](const QString& detail) {
        QFile::remove(part);
        throw EDatabaseError(db_refusal_text(path_,
            QStringLiteral("升级结构前无法把它复制为 %1，文件保持原样").arg(QFileInfo(copy).fileName()), detail)
                                 .toStdString());
    };
    const QString name = conn_name_ + QStringLiteral("_copy");
    QString error;
    {
        QSqlDatabase source = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        QUrl url = QUrl::fromLocalFile(path_);
        url.setQuery(QStringLiteral("mode=ro"));
        source.setDatabaseName(url.toString(QUrl::FullyEncoded));
        source.setConnectOptions(QStringLiteral("QSQLITE_OPEN_URI;QSQLITE_BUSY_TIMEOUT=2000"));
        if (!source.open()) {
            error = source.lastError().text();
        } else {
            QSqlQuery q(source);
            if (!q.prepare(QStringLiteral("VACUUM INTO ?")))
                error = q.lastError().text();
            else {
                q.bindValue(0, part);
                if (!q.exec())
                    error = q.lastError().text();
            }
        }
        source.close();
    }
    QSqlDatabase::removeDatabase(name);
    if (!error.isEmpty())
        fail(error);
    const QByteArray part_name = QFile::encodeName(part);
    const int fd = ::open(part_name.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0 || ::fsync(fd) != 0) {
        const int err = errno;
        if (fd >= 0)
            ::close(fd);
        fail(in_out_reason(err));
    }
    ::close(fd);
    if (::rename(part_name.constData(), QFile::encodeName(copy).constData()) != 0) {
        const int err = errno;
        fail(in_out_reason(err));
    }
    const int dfd = ::open(QFile::encodeName(QFileInfo(path_).absolutePath()).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
        ::fsync(dfd);
        ::close(dfd);
    }
    event_log::write("数据库", QStringLiteral("升级结构前已把数据库（结构版本 %1）复制为 %2")
                                 .arg(from_version)
                                 .arg(QDir::toNativeSeparators(copy))
                                 .toStdString());
}

StationDb::~StationDb()
{
    insert_.reset();
    for (auto& u : update_)
        u.reset();
    {
        QSqlDatabase db = QSqlDatabase::database(conn_name_, false);
        db.close();
    }
    QSqlDatabase::removeDatabase(conn_name_);
}

QSqlDatabase StationDb::connection() const
{
    return QSqlDatabase::database(conn_name_, false);
}

void StationDb::raise(const QString& what, const QString& driver_text) const
{
    throw EDatabaseError(
        QStringLiteral("数据库 %1 %2：%3").arg(db_file_label(path_), what, driver_text).toStdString());
}

void StationDb::open_parameter_table()
{
    QString cols = QStringLiteral("id, MyDTL");
    for (int a = 0; a < kDbAddressCount; ++a)
        cols += QStringLiteral(", ") + field_name(a);
    QSqlQuery q(connection());
    if (!q.exec(QStringLiteral("SELECT %1 FROM ai_para ORDER BY id LIMIT 1").arg(cols)))
        raise(QStringLiteral("的参数表 ai_para 无法打开"), q.lastError().text());
    q.finish();
}

void StationDb::store_parameter(int address, int code, float value)
{
    if (!db_address_valid(address) || !is_param_code(code))
        return;
    auto& q = update_[static_cast<std::size_t>(address)];
    if (!q) {
        q = std::make_unique<QSqlQuery>(connection());
        if (!q->prepare(QStringLiteral("UPDATE ai_para SET %1 = ? WHERE id = ?").arg(field_name(address)))) {
            const QString text = q->lastError().text();
            q.reset();
            raise(QStringLiteral("无法保存地址 %1 的参数 %2").arg(address).arg(code), text);
        }
    }
    q->bindValue(0, static_cast<double>(value));
    q->bindValue(1, code + 1);
    if (!q->exec())
        raise(QStringLiteral("无法保存地址 %1 的参数 %2").arg(address).arg(code), q->lastError().text());
    const bool changed = q->numRowsAffected() > 0;
    q->finish();
    if (changed)
        Q_EMIT parameter_stored(address, code, static_cast<double>(value));
}

void StationDb::append_measurements(const std::vector<MeasurementRow>& rows)
{
    QSqlDatabase db = connection();
    if (!db.transaction())
        raise(QStringLiteral("无法写入测量记录表 mea_tbl"), db.lastError().text());
    std::vector<qint64> ids;
    ids.reserve(rows.size());
    try {
        for (const MeasurementRow& row : rows)
            ids.push_back(insert_row(row));
    } catch (const EDatabaseError&) {
        db.rollback();
        throw;
    }
    if (!db.commit()) {
        const QString text = db.lastError().text();
        db.rollback();
        raise(QStringLiteral("无法写入测量记录表 mea_tbl"), text);
    }
    for (qint64 id : ids)
        Q_EMIT measurement_appended(id);
}

qint64 StationDb::append_measurement(const MeasurementRow& row)
{
    const qint64 rowid = insert_row(row);
    Q_EMIT measurement_appended(rowid);
    return rowid;
}

qint64 StationDb::insert_row(const MeasurementRow& row)
{
    if (!insert_) {
        insert_ = std::make_unique<QSqlQuery>(connection());
        if (!insert_->prepare(
                QStringLiteral("INSERT INTO mea_tbl (address, \"date\", \"time\", sv, pv, mv, val, alm) "
                               "VALUES (?, ?, ?, ?, ?, ?, ?, ?)"))) {
            const QString text = insert_->lastError().text();
            insert_.reset();
            raise(QStringLiteral("无法写入测量记录表 mea_tbl"), text);
        }
    }
    const QString stamp = db_timestamp_text(row.when);
    insert_->bindValue(0, log_address_text(row.address));
    insert_->bindValue(1, stamp);
    insert_->bindValue(2, stamp);
    insert_->bindValue(3, row.sv);
    insert_->bindValue(4, row.pv);
    insert_->bindValue(5, row.mv);
    insert_->bindValue(6, row.val);
    insert_->bindValue(7, row.alm & 0xFF);
    if (!insert_->exec()) {
        const QString text = insert_->lastError().text();
        insert_->finish();
        raise(QStringLiteral("无法写入测量记录表 mea_tbl"), text);
    }
    const qint64 rowid = insert_->lastInsertId().toLongLong();
    insert_->finish();
    return rowid;
}

std::vector<std::optional<float>> StationDb::load_param_values(int address)
{
    std::vector<std::optional<float>> values(kParamCount);
    if (!db_address_valid(address))
        return values;
    QSqlQuery q(connection());
    q.setForwardOnly(true);
    if (!q.prepare(QStringLiteral("SELECT id, %1 FROM ai_para WHERE id BETWEEN 2 AND ? ORDER BY id")
                       .arg(field_name(address))))
        raise(QStringLiteral("无法读取参数表 ai_para"), q.lastError().text());
    q.bindValue(0, kParamCount);
    if (!q.exec())
        raise(QStringLiteral("无法读取参数表 ai_para"), q.lastError().text());
    while (q.next()) {
        const int code = q.value(0).toInt() - 1;
        const QVariant v = q.value(1);
        if (code < 1 || code > kLastParamCode || v.isNull())
            continue;
        bool ok = false;
        const float value = static_cast<float>(v.toDouble(&ok));
        if (ok)
            values[static_cast<std::size_t>(code)] = value;
    }
    q.finish();
    return values;
}

ParamColumn StationDb::load_param_column(int address, int dec_places)
{
    ParamColumn col;
    col.texts.assign(kParamCount, QString());
    col.loaded.assign(kParamCount, true);
    col.loaded[0] = false;
    const std::vector<std::optional<float>> values = load_param_values(address);
    for (int code = 1; code <= kLastParamCode; ++code)
        if (const auto& value = values[static_cast<std::size_t>(code)])
            col.texts[static_cast<std::size_t>(code)] = QString::fromStdString(param_value_text(code, *value, dec_places));
    if (values[kLastParamCode])
        col.last_value = *values[kLastParamCode];
    return col;
}
