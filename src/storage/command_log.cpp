#include "command_log.h"

#include "errors.h"
#include "station_db.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

namespace {

[[noreturn]] void fail(const QString& db_path, const QString& what, const QSqlQuery& q)
{
    throw EDatabaseError(
        QStringLiteral("数据库 %1 %2：%3").arg(db_file_label(db_path), what, q.lastError().text()).toStdString());
}

const QString kWrite = QStringLiteral("无法写入控制命令记录");

} // namespace

CommandLog::CommandLog(StationDb& db, QObject* parent)
    : QObject(parent)
    , db_(db)
{
}

qint64 CommandLog::add(const CommandRecord& record)
{
    QSqlQuery q(db_.connection());
    if (!q.prepare(QStringLiteral(
            "INSERT INTO command_log (\"time\", address, command, value, result) VALUES (?, ?, ?, ?, ?)")))
        fail(db_.file_path(), kWrite, q);
    q.addBindValue(db_timestamp_text(record.when));
    q.addBindValue(record.address);
    q.addBindValue(record.command);
    q.addBindValue(record.value ? QVariant(*record.value) : QVariant(QMetaType::fromType<double>()));
    q.addBindValue(record.result);
    if (!q.exec())
        fail(db_.file_path(), kWrite, q);
    const qint64 id = q.lastInsertId().toLongLong();
    Q_EMIT changed();
    return id;
}

void CommandLog::set_result(qint64 id, const QString& result)
{
    QSqlQuery q(db_.connection());
    if (!q.prepare(QStringLiteral("UPDATE command_log SET result = ? WHERE id = ?")))
        fail(db_.file_path(), kWrite, q);
    q.addBindValue(result);
    q.addBindValue(id);
    if (!q.exec())
        fail(db_.file_path(), kWrite, q);
    Q_EMIT changed();
}

std::vector<CommandRecord> CommandLog::newest(int limit) const
{
    QSqlQuery q(db_.connection());
    q.setForwardOnly(true);
    if (!q.prepare(QStringLiteral("SELECT id, \"time\", address, command, value, result FROM command_log "
                                  "ORDER BY id DESC LIMIT ?")))
        fail(db_.file_path(), QStringLiteral("无法读取控制命令记录"), q);
    q.addBindValue(limit);
    if (!q.exec())
        fail(db_.file_path(), QStringLiteral("无法读取控制命令记录"), q);
    std::vector<CommandRecord> out;
    while (q.next()) {
        CommandRecord r;
        r.id = q.value(0).toLongLong();
        r.when = db_timestamp_from_text(q.value(1).toString());
        r.address = q.value(2).toInt();
        r.command = q.value(3).toString();
        if (!q.value(4).isNull())
            r.value = q.value(4).toDouble();
        r.result = q.value(5).toString();
        out.push_back(std::move(r));
    }
    return out;
}
