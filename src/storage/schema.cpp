#include "schema.h"

#include "errors.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

namespace {

// Milliseconds of a logged time text 'yyyy-MM-dd HH:mm:ss[.zzz]' read as
// UTC (NULL for a text that is no time).
#define CLOCK_MS(t) "(CAST(strftime('%s', substr(" t ", 1, 19)) AS INTEGER) * 1000 + CAST(substr(" t ", 21, 3) AS INTEGER))"

// Adds the rows of `source` (address, ms, sv, pv), in its order, to their
// minutes: a minute's first row is the earliest (the first of equal times),
// its last the latest (the last of equal times).
#define MINUTE_UPSERT(source)                                                                              \
    "INSERT INTO mea_minute (address, minute, n, first_ms, first_sv, first_pv, last_ms, last_sv, last_pv, "  \
    "sv_min, sv_max, pv_min, pv_max, d_min, d_max) "                                                       \
    "SELECT address, ms / 60000, 1, ms, sv, pv, ms, sv, pv, sv, sv, pv, pv, pv - sv, pv - sv FROM ("       \
    source ") WHERE ms IS NOT NULL AND address IS NOT NULL AND sv IS NOT NULL AND pv IS NOT NULL "           \
    "ON CONFLICT (address, minute) DO UPDATE SET n = n + 1, "                                               \
    "first_sv = CASE WHEN excluded.first_ms < first_ms THEN excluded.first_sv ELSE first_sv END, "         \
    "first_pv = CASE WHEN excluded.first_ms < first_ms THEN excluded.first_pv ELSE first_pv END, "         \
    "first_ms = min(first_ms, excluded.first_ms), "                                                        \
    "last_sv = CASE WHEN excluded.last_ms >= last_ms THEN excluded.last_sv ELSE last_sv END, "             \
    "last_pv = CASE WHEN excluded.last_ms >= last_ms THEN excluded.last_pv ELSE last_pv END, "             \
    "last_ms = max(last_ms, excluded.last_ms), "                                                           \
    "sv_min = min(sv_min, excluded.sv_min), sv_max = max(sv_max, excluded.sv_max), "                       \
    "pv_min = min(pv_min, excluded.pv_min), pv_max = max(pv_max, excluded.pv_max), "                       \
    "d_min = min(d_min, excluded.d_min), d_max = max(d_max, excluded.d_max)"

// Computes the minute of row `r` (OLD or NEW) again from the log's rows.
#define MINUTE_OF(r) "(" CLOCK_MS(r ".\"time\"") " / 60000)"
#define MINUTE_REBUILD(r)                                                                                   \
    "DELETE FROM mea_minute WHERE address = " r ".address AND minute = " MINUTE_OF(r) "; "                    \
    MINUTE_UPSERT("SELECT address, " CLOCK_MS("\"time\"") " AS ms, sv, pv FROM mea_tbl WHERE address = " r \
        ".address AND \"time\" >= strftime('%Y-%m-%d %H:%M:00', " MINUTE_OF(r) " * 60, 'unixepoch') "        \
        "AND \"time\" < strftime('%Y-%m-%d %H:%M:00', (" MINUTE_OF(r) " + 1) * 60, 'unixepoch') "             \
        "ORDER BY \"time\", rowid")

const std::vector<SchemaStep> kSteps = {
    { 1, "报警记录表",
        {
            // One row per alarm transition of one instrument: "time" as
            // 'yyyy-MM-dd HH:mm:ss.zzz' local time (text order is time order),
            // alarm the bit's mnemonic, raised 1 when it came and 0 when it went.
            "CREATE TABLE alarm_log (id INTEGER PRIMARY KEY, \"time\" TEXT NOT NULL, "
            "address INTEGER NOT NULL, alarm TEXT NOT NULL, raised INTEGER NOT NULL)",
            "CREATE INDEX alarm_log_time ON alarm_log (\"time\")",
            "CREATE INDEX alarm_log_address_time ON alarm_log (address, \"time\")",
        },
        { "alarm_log" } },
    { 2, "测量记录修改审计表",
        {
            // One row per changed field of a mea_tbl row: when, the row's
            // rowid, the field, and the stored values before and after.
            "CREATE TABLE mea_audit (id INTEGER PRIMARY KEY, changed_at TEXT NOT NULL, "
            "row_id INTEGER NOT NULL, field TEXT NOT NULL, old_value, new_value)",
        },
        { "mea_audit" } },
    { 3, "测量记录时间索引与分钟汇总表",
        {
            // Rows of a time range, of one address or all.
            "CREATE INDEX mea_tbl_time_address ON mea_tbl (\"time\", address)",
            // One row per address and minute of the log (minute = clock
            // milliseconds / 60000, the logged local time read as if it were
            // UTC): the row count, the first and the last row's time and
            // values, and the ranges of sv, pv and pv - sv. Charts of long
            // spans read these instead of every row. Rows without a time or
            // a value are left out. The triggers below keep it equal to the
            // log whoever writes it.
            "CREATE TABLE mea_minute (address TEXT NOT NULL, minute INTEGER NOT NULL, n INTEGER NOT NULL, "
            "first_ms INTEGER NOT NULL, first_sv REAL NOT NULL, first_pv REAL NOT NULL, "
            "last_ms INTEGER NOT NULL, last_sv REAL NOT NULL, last_pv REAL NOT NULL, "
            "sv_min REAL NOT NULL, sv_max REAL NOT NULL, pv_min REAL NOT NULL, pv_max REAL NOT NULL, "
            "d_min REAL NOT NULL, d_max REAL NOT NULL, PRIMARY KEY (address, minute)) WITHOUT ROWID",
            MINUTE_UPSERT("SELECT address, " CLOCK_MS("\"time\"") " AS ms, sv, pv FROM mea_tbl ORDER BY rowid"),
            "CREATE TRIGGER mea_minute_insert AFTER INSERT ON mea_tbl BEGIN "
            MINUTE_UPSERT("SELECT NEW.address AS address, " CLOCK_MS("NEW.\"time\"") " AS ms, NEW.sv AS sv, NEW.pv AS pv") "; "
            "END",
            "CREATE TRIGGER mea_minute_update AFTER UPDATE OF \"time\", address, sv, pv ON mea_tbl BEGIN "
            MINUTE_REBUILD("OLD") "; " MINUTE_REBUILD("NEW") "; "
            "END",
            "CREATE TRIGGER mea_minute_delete AFTER DELETE ON mea_tbl BEGIN "
            MINUTE_REBUILD("OLD") "; "
            "END",
        },
        { "mea_minute" } },
    { 4, "报警记录的确认与屏蔽",
        {
            // Transitions keep action NULL. The operator's actions on an
            // alarm are rows of their own: action 'ack', 'shelve' or
            // 'unshelve', with the user in acked_by and, for a shelve, the
            // reason in note. state is the alarm's state after the
            // row ('active_unacked', ...); a shelve's until is when it runs
            // out; acked_at and acked_by are filled
            // on every transition row of the alarm an acknowledgement
            // covers, so the rows of an alarm nobody acknowledged are the
            // ones with acked_at NULL. Rows logged before this step have no
            // state and count as acknowledged history: they are marked with
            // the time of the upgrade and no user.
            "ALTER TABLE alarm_log ADD COLUMN action TEXT",
            "ALTER TABLE alarm_log ADD COLUMN state TEXT",
            "ALTER TABLE alarm_log ADD COLUMN acked_at TEXT",
            "ALTER TABLE alarm_log ADD COLUMN acked_by TEXT",
            "ALTER TABLE alarm_log ADD COLUMN note TEXT",
            "ALTER TABLE alarm_log ADD COLUMN until TEXT",
            "UPDATE alarm_log SET acked_at = strftime('%Y-%m-%d %H:%M:%f', 'now', 'localtime'), acked_by = ''",
            "CREATE INDEX alarm_log_address_alarm ON alarm_log (address, alarm, id)",
        } },
    { 5, "控制命令记录表",
        {
            // One row per command sent to an instrument (run state, manual
            // output, set value, address and baud-rate writes): "time" as
            // 'yyyy-MM-dd HH:mm:ss.zzz' local time, the address it went to,
            // the command's name, the value written (NULL when it carries
            // none the operator chose) and what came of it, updated as the
            // reply and the read-back are decided.
            "CREATE TABLE command_log (id INTEGER PRIMARY KEY, \"time\" TEXT NOT NULL, "
            "address INTEGER NOT NULL, command TEXT NOT NULL, value REAL, result TEXT NOT NULL)",
            "CREATE INDEX command_log_time ON command_log (\"time\")",
        },
        { "command_log" } },
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

void upgrade_schema(const QSqlDatabase& db, const QString& file, const std::vector<SchemaStep>& steps,
    const SchemaStepNotice& starting, const SchemaUpgradeStart& before)
{
    const int latest = latest_schema_version(steps);
    const auto newer = [&](int version) {
        fail(file, QStringLiteral("的结构版本为 %1，本程序只认识到版本 %2").arg(version).arg(latest),
            QStringLiteral("请使用较新版本的程序打开它"));
    };
    if (const int version = schema_version(db); version > latest)
        newer(version);
    else if (version == latest)
        return;
    QSqlQuery q(db);
    const QString what = QStringLiteral("升级到结构版本 %1 失败").arg(latest);
    // The write lock first, then the version again: another program may have
    // upgraded the file since it was read.
    if (!q.exec(QStringLiteral("BEGIN IMMEDIATE")))
        fail(file, what, q.lastError().text());
    const auto rollback = [&] {
        q.finish();
        QSqlQuery(db).exec(QStringLiteral("ROLLBACK"));
    };
    if (!q.exec(QStringLiteral("PRAGMA user_version")) || !q.next()) {
        const QString reason = q.lastError().text();
        rollback();
        fail(file, what, reason);
    }
    const int version = q.value(0).toInt();
    q.finish();
    if (version >= latest) {
        rollback();
        if (version > latest)
            newer(version);
        return;
    }
    try {
        if (before)
            before(version);
    } catch (...) {
        rollback();
        throw;
    }
    for (const SchemaStep& step : steps) {
        if (step.version <= version)
            continue;
        if (starting)
            starting(step);
        for (const char* statement : step.statements) {
            if (!q.exec(QString::fromUtf8(statement))) {
                const QString reason = q.lastError().text();
                rollback();
                fail(file,
                    QStringLiteral("升级到结构版本 %1（%2）失败，文件保持原样")
                        .arg(step.version)
                        .arg(QString::fromUtf8(step.what)),
                    reason);
            }
        }
    }
    if (!q.exec(QStringLiteral("PRAGMA user_version = %1").arg(latest)) || !q.exec(QStringLiteral("COMMIT"))) {
        const QString reason = q.lastError().text();
        rollback();
        fail(file, what + QStringLiteral("，文件保持原样"), reason);
    }
}
