#include "alarm_log.h"

#include "csv_file.h"
#include "errors.h"
#include "station_db.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

namespace {

std::atomic<int> export_counter { 0 };

// The WHERE clause of a filter and its bound values, in order.
struct Where {
    QString sql;
    QVariantList values;
};

Where where_of(const AlarmFilter& f)
{
    Where w;
    QStringList parts;
    if (f.address) {
        parts << QStringLiteral("address = ?");
        w.values << *f.address;
    }
    if (f.from) {
        parts << QStringLiteral("\"time\" >= ?");
        w.values << f.from->toString(QStringLiteral("yyyy-MM-dd"));
    }
    if (f.to) {
        parts << QStringLiteral("\"time\" < ?");
        w.values << f.to->addDays(1).toString(QStringLiteral("yyyy-MM-dd"));
    }
    if (!parts.isEmpty())
        w.sql = QStringLiteral(" WHERE ") + parts.join(QStringLiteral(" AND "));
    return w;
}

[[noreturn]] void fail_text(const QString& db_path, const QString& what, const QString& reason)
{
    throw EDatabaseError(QStringLiteral("数据库 %1 %2：%3").arg(db_file_label(db_path), what, reason).toStdString());
}

[[noreturn]] void fail(const QString& db_path, const QString& what, const QSqlQuery& q)
{
    fail_text(db_path, what, q.lastError().text());
}

AlarmAction action_of(const QString& key)
{
    if (key == QLatin1String("ack"))
        return AlarmAction::Acknowledge;
    if (key == QLatin1String("shelve"))
        return AlarmAction::Shelve;
    if (key == QLatin1String("unshelve"))
        return AlarmAction::Unshelve;
    return AlarmAction::Transition;
}

QDateTime time_or_null(const QVariant& v)
{
    return v.isNull() ? QDateTime() : db_timestamp_from_text(v.toString());
}

QVariant text_or_null(const QString& s) { return s.isNull() ? QVariant(QMetaType(QMetaType::QString)) : QVariant(s); }

// The columns event_of reads, in its order.
#define EVENT_COLUMNS "\"time\", address, alarm, raised, action, state, acked_at, acked_by, note, until"

AlarmEvent event_of(const QSqlQuery& q, int first = 0)
{
    AlarmEvent e { db_timestamp_from_text(q.value(first).toString()), q.value(first + 1).toInt(),
        q.value(first + 2).toString(), q.value(first + 3).toInt() != 0 };
    e.action = action_of(q.value(first + 4).toString());
    e.state = q.value(first + 5).toString();
    e.acked_at = time_or_null(q.value(first + 6));
    e.acked_by = q.value(first + 7).toString();
    e.note = q.value(first + 8).toString();
    e.until = time_or_null(q.value(first + 9));
    return e;
}

// The CSV state of a row: the transition, or the operator's action.
QByteArray csv_state(const AlarmEvent& e)
{
    switch (e.action) {
    case AlarmAction::Acknowledge:
        return "acknowledged";
    case AlarmAction::Shelve:
        return "shelved";
    case AlarmAction::Unshelve:
        return "unshelved";
    case AlarmAction::Transition:
        break;
    }
    return e.raised ? "raised" : "cleared";
}

const QString kRead = QStringLiteral("无法读取报警记录表");

} // namespace

QString alarm_action_key(AlarmAction action)
{
    switch (action) {
    case AlarmAction::Acknowledge:
        return QStringLiteral("ack");
    case AlarmAction::Shelve:
        return QStringLiteral("shelve");
    case AlarmAction::Unshelve:
        return QStringLiteral("unshelve");
    case AlarmAction::Transition:
        break;
    }
    return {};
}

AlarmLog::AlarmLog(StationDb& db, QObject* parent)
    : QObject(parent)
    , db_(db)
{
}

AlarmLog::~AlarmLog() = default;

void AlarmLog::insert(const AlarmEvent& event)
{
    const QString what = QStringLiteral("无法写入报警记录表");
    if (!insert_) {
        insert_ = std::make_unique<QSqlQuery>(db_.connection());
        if (!insert_->prepare(QStringLiteral("INSERT INTO alarm_log (" EVENT_COLUMNS ") VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"))) {
            const QString reason = insert_->lastError().text();
            insert_.reset();
            fail_text(db_.file_path(), what, reason);
        }
    }
    insert_->bindValue(0, db_timestamp_text(event.when));
    insert_->bindValue(1, event.address);
    insert_->bindValue(2, event.alarm);
    insert_->bindValue(3, event.raised ? 1 : 0);
    insert_->bindValue(4, text_or_null(alarm_action_key(event.action)));
    insert_->bindValue(5, text_or_null(event.state));
    insert_->bindValue(6, event.acked_at.isValid() ? QVariant(db_timestamp_text(event.acked_at)) : QVariant(QMetaType(QMetaType::QString)));
    insert_->bindValue(7, text_or_null(event.acked_by));
    insert_->bindValue(8, text_or_null(event.note));
    insert_->bindValue(9, event.until.isValid() ? QVariant(db_timestamp_text(event.until)) : QVariant(QMetaType(QMetaType::QString)));
    if (!insert_->exec()) {
        const QString reason = insert_->lastError().text();
        insert_->finish();
        fail_text(db_.file_path(), what, reason);
    }
    insert_->finish();
    if (event.action != AlarmAction::Acknowledge)
        return;
    QSqlQuery q(db_.connection());
    q.prepare(QStringLiteral("UPDATE alarm_log SET acked_at = ?, acked_by = ? WHERE address = ? AND alarm = ? "
                             "AND action IS NULL AND acked_at IS NULL"));
    q.bindValue(0, db_timestamp_text(event.acked_at.isValid() ? event.acked_at : event.when));
    q.bindValue(1, event.acked_by);
    q.bindValue(2, event.address);
    q.bindValue(3, event.alarm);
    if (!q.exec())
        fail(db_.file_path(), what, q);
}

void AlarmLog::append(const std::vector<AlarmEvent>& events)
{
    if (events.empty())
        return;
    QSqlDatabase c = db_.connection();
    const QString what = QStringLiteral("无法写入报警记录表");
    QSqlQuery q(c);
    if (!q.exec(QStringLiteral("BEGIN IMMEDIATE")))
        fail(db_.file_path(), what, q);
    try {
        for (const AlarmEvent& e : events)
            insert(e);
    } catch (const EDatabaseError&) {
        QSqlQuery(c).exec(QStringLiteral("ROLLBACK"));
        throw;
    }
    if (!q.exec(QStringLiteral("COMMIT"))) {
        const QString reason = q.lastError().text();
        QSqlQuery(c).exec(QStringLiteral("ROLLBACK"));
        throw EDatabaseError(QStringLiteral("数据库 %1 %2：%3")
                                 .arg(db_file_label(db_.file_path()), what, reason)
                                 .toStdString());
    }
    Q_EMIT appended();
}

std::vector<AlarmEvent> AlarmLog::newest(const AlarmFilter& filter, int limit) const
{
    const Where w = where_of(filter);
    QSqlQuery q(db_.connection());
    q.setForwardOnly(true);
    q.prepare(
        QStringLiteral("SELECT " EVENT_COLUMNS " FROM alarm_log%1 ORDER BY \"time\" DESC, "
                       "id DESC LIMIT %2")
            .arg(w.sql)
            .arg(std::max(limit, 0)));
    for (int i = 0; i < w.values.size(); ++i)
        q.bindValue(i, w.values[i]);
    if (!q.exec())
        fail(db_.file_path(), kRead, q);
    std::vector<AlarmEvent> out;
    while (q.next())
        out.push_back(event_of(q));
    q.finish();
    return out;
}

qint64 AlarmLog::count(const AlarmFilter& filter) const
{
    const Where w = where_of(filter);
    QSqlQuery q(db_.connection());
    q.setForwardOnly(true);
    q.prepare(QStringLiteral("SELECT count(*) FROM alarm_log%1").arg(w.sql));
    for (int i = 0; i < w.values.size(); ++i)
        q.bindValue(i, w.values[i]);
    if (!q.exec() || !q.next())
        fail(db_.file_path(), kRead, q);
    const qint64 n = q.value(0).toLongLong();
    q.finish();
    return n;
}

std::vector<OpenAlarm> AlarmLog::open_alarms() const
{
    QSqlQuery q(db_.connection());
    q.setForwardOnly(true);
    if (!q.exec(QStringLiteral(
            "SELECT a.\"time\", a.address, a.alarm, a.raised, a.action, a.state, a.acked_at, a.acked_by, a.note, "
            "a.until, (SELECT r.\"time\" FROM alarm_log r WHERE r.address = a.address AND r.alarm = a.alarm "
            "AND r.action IS NULL AND r.raised = 1 AND r.id <= a.id ORDER BY r.id DESC LIMIT 1), "
            "(SELECT s.until || '|' || coalesce(s.note, '') FROM alarm_log s WHERE s.address = a.address "
            "AND s.alarm = a.alarm AND s.action IN ('shelve', 'unshelve') ORDER BY s.id DESC LIMIT 1) "
            "FROM alarm_log a JOIN (SELECT max(id) AS m FROM alarm_log WHERE action IS NULL "
            "GROUP BY address, alarm) b ON a.id = b.m WHERE a.raised = 1 OR a.acked_at IS NULL "
            "ORDER BY a.address, a.alarm")))
        fail(db_.file_path(), kRead, q);
    std::vector<OpenAlarm> out;
    while (q.next()) {
        OpenAlarm o { event_of(q), time_or_null(q.value(10)), {}, {} };
        // "until|reason" of a shelve; NULL after an unshelve (no until).
        if (const QString shelf = q.value(11).toString(); !shelf.isEmpty()) {
            const qsizetype bar = shelf.indexOf(QLatin1Char('|'));
            o.shelved_until = db_timestamp_from_text(shelf.left(bar));
            o.shelve_reason = shelf.mid(bar + 1);
        }
        out.push_back(o);
    }
    q.finish();
    return out;
}

std::optional<qint64> export_alarms_csv(const QString& db_path, const QString& out_path,
    const AlarmFilter& filter, bool bom, const std::function<void(int)>& progress,
    const std::atomic<bool>* cancel)
{
    const QString name = QStringLiteral("alarm_export_%1").arg(export_counter.fetch_add(1));
    ConnectionRemover remover(name);
    QSqlDatabase db = open_station_connection(db_path, name);
    const Where w = where_of(filter);
    QSqlQuery q(db);
    q.setForwardOnly(true);
    q.prepare(QStringLiteral("SELECT " EVENT_COLUMNS " FROM alarm_log%1 ORDER BY \"time\", id")
                  .arg(w.sql));
    for (int i = 0; i < w.values.size(); ++i)
        q.bindValue(i, w.values[i]);
    if (!q.exec())
        fail(db_path, kRead, q);
    CsvFile out(out_path, bom);
    out.write("time,address,alarm,state\n");
    QByteArray chunk;
    qint64 rows = 0;
    while (q.next()) {
        const AlarmEvent e = event_of(q);
        chunk += csv_field(e.when.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"))) + ','
            + QByteArray::number(e.address) + ',' + csv_field(e.alarm) + ','
            + csv_state(e) + '\n';
        if (++rows % 5000 == 0) {
            out.write(std::exchange(chunk, {}));
            if (cancel && cancel->load())
                return std::nullopt;
        }
    }
    q.finish();
    out.write(chunk);
    out.commit();
    if (progress)
        progress(1000);
    return rows;
}
