#include "schema.h"

#include "errors.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

namespace {

const std::vector<SchemaStep> kSteps = {
    { 1, "报警记录表 alarm_log",
        {
            // One row per alarm transition of one instrument: "time" as
            // 'yyyy-MM-dd HH:mm:ss.zzz' local time (text order is time order),
            // alarm the bit's mnemonic, raised 1 when it came and 0 when it went.
            "CREATE TABLE alarm_log (id INTEGER PRIMARY KEY, \"time\" TEXT NOT NULL, "
            "address INTEGER NOT NULL, alarm TEXT NOT NULL, raised INTEGER NOT NULL)",
            "CREATE INDEX alarm_log_time ON alarm_log (\"time\")",
            "CREATE INDEX alarm_log_address_time ON alarm_log (address, \"time\")",
        } },
    { 2, "测量记录修改审计表 mea_audit",
        {
            // One row per changed field of a mea_tbl row: when, the row's
            // rowid, the field, and the stored values before and after.
            "CREATE TABLE mea_audit (id INTEGER PRIMARY KEY, changed_at TEXT NOT NULL, "
            "row_id INTEGER NOT NULL, field TEXT NOT NULL, old_value, new_value)",
        } },
};

[[noreturn]] void fail(const QString& file, const QString& what, const QString& reason)
{
    throw EDatabaseError(QStringLiteral("数据库 %1 %2：%3").arg(file, what, reason).toStdString());
}

} // namespace

const std::vector<SchemaStep>& schema_steps()
{
    return kSteps;
}

int latest_schema_version(const std::vector<SchemaStep>& steps)
{
    return steps.empty() ? 0 : steps.back().version;
}

int schema_version(const QSqlDatabase& db)
{
    QSqlQuery q(db);
    if (!q.exec(QStringLiteral("PRAGMA user_version")) || !q.next())
        throw EDatabaseError(
            QStringLiteral("无法读取数据库的结构版本：%1").arg(q.lastError().text()).toStdString());
    return q.value(0).toInt();
}

void upgrade_schema(const QSqlDatabase& db, const QString& file, const std::vector<SchemaStep>& steps)
{
    const int latest = latest_schema_version(steps);
    int version = schema_version(db);
    if (version > latest)
        fail(file, QStringLiteral("的结构版本为 %1，本程序只认识到版本 %2").arg(version).arg(latest),
            QStringLiteral("请使用较新版本的程序打开它"));
    for (const SchemaStep& step : steps) {
        if (step.version <= version)
            continue;
        const QString what = QStringLiteral("升级到结构版本 %1（%2）失败")
                                 .arg(step.version)
                                 .arg(QString::fromUtf8(step.what));
        QSqlQuery q(db);
        // The write lock first, then the version again: another program may
        // have upgraded the file since it was read.
        if (!q.exec(QStringLiteral("BEGIN IMMEDIATE")))
            fail(file, what, q.lastError().text());
        auto rollback = [&](const QString& reason) {
            q.finish();
            QSqlQuery(db).exec(QStringLiteral("ROLLBACK"));
            fail(file, what, reason);
        };
        if (!q.exec(QStringLiteral("PRAGMA user_version")) || !q.next())
            rollback(q.lastError().text());
        version = q.value(0).toInt();
        q.finish();
        if (version >= step.version) {
            QSqlQuery(db).exec(QStringLiteral("ROLLBACK"));
            continue;
        }
        for (const char* statement : step.statements)
            if (!q.exec(QString::fromUtf8(statement)))
                rollback(q.lastError().text());
        if (!q.exec(QStringLiteral("PRAGMA user_version = %1").arg(step.version)))
            rollback(q.lastError().text());
        if (!q.exec(QStringLiteral("COMMIT")))
            rollback(q.lastError().text());
        version = step.version;
    }
}
