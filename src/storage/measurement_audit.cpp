#include "measurement_audit.h"

#include "errors.h"
#include "station_db.h"

#include <QDateTime>
#include <QSqlError>
#include <QSqlQuery>

int update_measurement_audited(
    const QSqlDatabase& db, const QString& file_label, qint64 rowid, const std::vector<FieldChange>& changes)
{
    auto message = [&](const QString& reason) {
        return QStringLiteral("数据库 %1 无法修改测量记录 %2：%3")
            .arg(file_label)
            .arg(rowid)
            .arg(reason)
            .toStdString();
    };
    auto fail = [&](const QString& reason) {
        QSqlQuery(db).exec(QStringLiteral("ROLLBACK"));
        throw EDatabaseError(message(reason));
    };
    QSqlQuery q(db);
    if (!q.exec(QStringLiteral("BEGIN IMMEDIATE")))
        throw EDatabaseError(message(q.lastError().text()));
    const QString now = db_timestamp_text(QDateTime::currentDateTime());
    int changed = 0;
    for (const FieldChange& c : changes) {
        // The field name comes from the model's fixed list, never from input.
        if (!q.prepare(QStringLiteral("SELECT \"%1\" FROM mea_tbl WHERE rowid = ?").arg(c.field)))
            fail(q.lastError().text());
        q.bindValue(0, rowid);
        if (!q.exec())
            fail(q.lastError().text());
        if (!q.next())
            fail(QStringLiteral("该记录已不存在"));
        const QVariant old = q.value(0);
        q.finish();
        if (old.isNull() == c.value.isNull() && (old.isNull() || old == c.value))
            continue;
        if (!q.prepare(QStringLiteral("UPDATE mea_tbl SET \"%1\" = ? WHERE rowid = ?").arg(c.field)))
            fail(q.lastError().text());
        q.bindValue(0, c.value);
        q.bindValue(1, rowid);
        if (!q.exec())
            fail(q.lastError().text());
        if (!q.prepare(QStringLiteral("INSERT INTO mea_audit (changed_at, row_id, field, old_value, "
                                      "new_value) VALUES (?, ?, ?, ?, ?)")))
            fail(q.lastError().text());
        q.bindValue(0, now);
        q.bindValue(1, rowid);
        q.bindValue(2, c.field);
        q.bindValue(3, old);
        q.bindValue(4, c.value);
        if (!q.exec())
            fail(q.lastError().text());
        ++changed;
    }
    q.finish();
    if (!q.exec(QStringLiteral("COMMIT")))
        fail(q.lastError().text());
    return changed;
}
