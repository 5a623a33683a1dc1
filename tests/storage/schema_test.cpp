// The layout version: a database of the delivered layout is copied aside and
// upgraded in place with every row kept; a newer file is refused; an upgrade
// is one transaction: a failed step leaves the file as it was.
#include "alarm_log.h"
#include "errors.h"
#include "schema.h"
#include "station_db.h"
#include "storage_fixture.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSqlError>

#include <map>
#include <optional>
#include <vector>

namespace {

class SchemaTest : public StorageDir {
protected:
    // Every row of a table as text (SQL literals), in rowid order.
    QVariantList dump(const char* table, const char* columns) const
    {
        QString expr;
        for (const QString& c : QString::fromLatin1(columns).split(QLatin1Char(','))) {
            if (!expr.isEmpty())
                expr += QStringLiteral(" || ',' || ");
            expr += QStringLiteral("quote(%1)").arg(c.trimmed());
        }
        return query(
            QStringLiteral("SELECT %1 FROM %2 ORDER BY rowid").arg(expr, QString::fromLatin1(table)));
    }
    QVariantList ai_para() const
    {
        QString columns = QStringLiteral("id, MyDTL");
        for (int a = 0; a < kDbAddressCount; ++a)
            columns += QStringLiteral(", no%1").arg(a);
        return dump("ai_para", columns.toLatin1().constData());
    }
    QVariantList mea_tbl(const QString& path = QString()) const
    {
        return query(QStringLiteral("SELECT quote(rowid) || ',' || quote(\"date\") || ',' || quote(\"time\") || ',' || "
                                    "quote(address) || ',' || quote(sv) || ',' || quote(pv) || ',' || quote(mv) || ',' || "
                                    "quote(val) || ',' || quote(alm) FROM mea_tbl ORDER BY rowid"),
            path);
    }
    int version() const { return query(QStringLiteral("PRAGMA user_version")).front().toInt(); }
    // The minute table as it should be, worked out here from the log's rows
    // (times read by db_clock_ms, first and last by time, then by key), and
    // as the file holds it: per address and minute the row count, the first
    // and last time, sv and pv, and the ranges of sv, pv and pv - sv.
    using Minutes = std::map<std::pair<QString, qint64>, std::vector<double>>;
    static QJsonArray json(const QVariant& v) { return QJsonDocument::fromJson(v.toString().toUtf8()).array(); }
    Minutes minutes_from_rows() const
    {
        Minutes out;
        for (const QVariant& v : query(QStringLiteral(
                 "SELECT json_array(\"time\", address, sv, pv) FROM mea_tbl ORDER BY \"time\", rowid"))) {
            const QJsonArray row = json(v);
            const std::optional<qint64> ms = db_clock_ms(row[0].toString());
            if (!ms || row[1].isNull() || row[2].isNull() || row[3].isNull())
                continue;
            const double t = double(*ms), sv = row[2].toDouble(), pv = row[3].toDouble(), d = pv - sv;
            std::vector<double>& m = out[{ row[1].toString(), *ms / 60000 }];
            if (m.empty()) {
                m = { 1, t, sv, pv, t, sv, pv, sv, sv, pv, pv, d, d };
                continue;
            }
            m[0] += 1;
            m[4] = t;
            m[5] = sv;
            m[6] = pv;
            const double values[] = { sv, pv, d };
            for (int k = 0; k < 3; ++k) {
                m[std::size_t(7 + 2 * k)] = std::min(m[std::size_t(7 + 2 * k)], values[k]);
                m[std::size_t(8 + 2 * k)] = std::max(m[std::size_t(8 + 2 * k)], values[k]);
            }
        }
        return out;
    }
    Minutes minute_table() const
    {
        Minutes out;
        for (const QVariant& v : query(QStringLiteral(
                 "SELECT json_array(address, minute, n, first_ms, first_sv, first_pv, last_ms, last_sv, last_pv, "
                 "sv_min, sv_max, pv_min, pv_max, d_min, d_max) FROM mea_minute"))) {
            const QJsonArray row = json(v);
            std::vector<double>& m = out[{ row[0].toString(), qint64(row[1].toDouble()) }];
            for (int k = 2; k < row.size(); ++k)
                m.push_back(row[k].toDouble());
        }
        return out;
    }
    bool has(const char* kind, const char* name) const
    {
        return query(QStringLiteral("SELECT count(*) FROM sqlite_master WHERE type = '%1' AND name = '%2'")
                         .arg(QString::fromLatin1(kind), QString::fromLatin1(name)))
                   .front()
                   .toInt()
            == 1;
    }
};

TEST_F(SchemaTest, DeliveredLayoutIsUpgradedInPlaceKeepingEveryRow)
{
    ASSERT_EQ(version(), 0) << "the delivered file has the first layout";
    ASSERT_FALSE(has("table", "alarm_log"));
    // A log written by the station of today, and stored parameter sets.
    exec(QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 5000) "
                        "INSERT INTO mea_tbl SELECT '2024-03-0' || (i % 9 + 1) || ' 10:00:00.000', "
                        "'2024-03-0' || (i % 9 + 1) || ' 10:00:00.000', (i % 7) || '#仪表', i * 0.5, "
                        "i * 0.25 - 3, i % 100, NULL, i % 256 FROM n"));
    exec(QStringLiteral("UPDATE ai_para SET no3 = id * 1.5, no89 = -id WHERE id % 3 = 0"));
    exec(QStringLiteral("DELETE FROM mea_tbl WHERE rowid % 1000 = 0")); // gaps in the keys
    const QVariantList log_before = mea_tbl();
    const QVariantList params_before = ai_para();
    ASSERT_EQ(log_before.size(), 4995);

    {
        StationDb db(dir());
        EXPECT_EQ(schema_version(db.connection()), latest_schema_version());
    }
    EXPECT_EQ(version(), latest_schema_version());
    // The file as it was is kept aside, named by the version it had.
    const QString copy = db_path() + QStringLiteral(".bak-v0");
    ASSERT_TRUE(QFileInfo::exists(copy));
    EXPECT_EQ(query(QStringLiteral("PRAGMA user_version"), copy).front().toInt(), 0);
    EXPECT_EQ(mea_tbl(copy), log_before);
    EXPECT_EQ(query(QStringLiteral("PRAGMA integrity_check"), copy).front().toString(), QStringLiteral("ok"));
    EXPECT_TRUE(has("table", "alarm_log"));
    EXPECT_TRUE(has("index", "alarm_log_address_time"));
    EXPECT_TRUE(has("table", "mea_audit"));
    EXPECT_TRUE(has("index", "mea_tbl_time_address"));
    EXPECT_EQ(mea_tbl(), log_before);
    EXPECT_EQ(ai_para(), params_before);
    // The minute table is built from the rows already there.
    EXPECT_EQ(minute_table().size(), 7 * 9);
    EXPECT_EQ(minute_table(), minutes_from_rows());

    // Opening again changes nothing; the station goes on logging.
    {
        StationDb db(dir());
        db.append_measurement({ QDateTime::currentDateTime(), 4, 1, 2, 3, 4, 96 });
    }
    EXPECT_EQ(version(), latest_schema_version());
    EXPECT_EQ(mea_tbl().mid(0, log_before.size()), log_before);
    EXPECT_EQ(mea_tbl().size(), log_before.size() + 1);
    EXPECT_FALSE(QFileInfo::exists(db_path() + QStringLiteral(".bak-v%1").arg(latest_schema_version())));
}

TEST_F(SchemaTest, AFileNewerThanTheProgramIsRefusedUntouched)
{
    exec(QStringLiteral("PRAGMA user_version = %1").arg(latest_schema_version() + 1));
    try {
        StationDb db(dir());
        FAIL() << "opened a newer layout";
    } catch (const EDatabaseError& e) {
        const QString msg = QString::fromUtf8(e.what());
        EXPECT_TRUE(msg.contains(QStringLiteral("control_db.sqlite"))) << e.what();
        EXPECT_TRUE(msg.contains(dir())) << e.what();
        EXPECT_TRUE(msg.contains(QString::number(latest_schema_version() + 1))) << e.what();
    }
    EXPECT_FALSE(has("table", "alarm_log"));
}

// A later version is one more step at the end of the list: only the new step
// runs on an up-to-date file. The steps run as one transaction: a step that
// fails leaves nothing of any step behind, and the file keeps its version; so
// does a failure of the copy made before the first step.
TEST_F(SchemaTest, AddedStepsRunOnceAndAFailedUpgradeLeavesTheFileAsItWas)
{
    {
        StationDb upgraded(dir());
    }
    const int v = latest_schema_version();
    std::vector<SchemaStep> steps = schema_steps();
    steps.push_back({ v + 1, "index", { "CREATE INDEX mea_tbl_alm ON mea_tbl (alm)" } });
    steps.push_back({ v + 2, "broken", { "CREATE TABLE half (a)", "CREATE TABLE half (a)" } });
    {
        QSqlDatabase db = open_station_connection(db_path(), QStringLiteral("schema_test"));
        std::vector<int> announced;
        std::vector<int> copied;
        const SchemaStepNotice note = [&](const SchemaStep& step) { announced.push_back(step.version); };
        const SchemaUpgradeStart copy = [&](int from) { copied.push_back(from); };
        try {
            upgrade_schema(db, QStringLiteral("control_db.sqlite"), steps, note, copy);
            ADD_FAILURE() << "the broken step passed";
        } catch (const EDatabaseError& e) {
            EXPECT_TRUE(QString::fromUtf8(e.what()).contains(QStringLiteral("broken"))) << e.what();
        }
        EXPECT_EQ(schema_version(db), v);
        EXPECT_EQ(copied, std::vector<int> { v });
        // Only the steps that run are announced, each before it runs.
        EXPECT_EQ(announced, (std::vector<int> { v + 1, v + 2 }));

        // A copy that fails stops the upgrade before any step.
        steps.pop_back();
        announced.clear();
        const SchemaUpgradeStart no_room = [](int) { throw EDatabaseError("no room for the copy"); };
        EXPECT_THROW(upgrade_schema(db, QStringLiteral("control_db.sqlite"), steps, note, no_room), EDatabaseError);
        EXPECT_TRUE(announced.empty());
        EXPECT_EQ(schema_version(db), v);

        EXPECT_NO_THROW(upgrade_schema(db, QStringLiteral("control_db.sqlite"), steps, note, copy));
        EXPECT_EQ(announced, std::vector<int> { v + 1 });
        announced.clear();
        EXPECT_NO_THROW(upgrade_schema(db, QStringLiteral("control_db.sqlite"), steps, note, copy));
        EXPECT_TRUE(announced.empty());
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("schema_test"));
    EXPECT_EQ(version(), v + 1);
    EXPECT_TRUE(has("index", "mea_tbl_alm"));
    EXPECT_FALSE(has("table", "half"));
}

// Whoever writes the log, the minute table follows: rows appended in and out
// of time order, rows without a value, edited values and times, deleted rows.
TEST_F(SchemaTest, MinuteTableFollowsEveryChangeOfTheLog)
{
    StationDb db(dir());
    const QDateTime t0(QDate(2026, 3, 1), QTime(23, 58, 50));
    for (int i = 0; i < 300; ++i) // 50 minutes of three addresses, crossing midnight
        db.append_measurement({ t0.addMSecs(i * 10'000 + i % 7), i % 3 + 1, 100.0 + i % 5, 99.5 + (i * 37) % 11, 0, 0, 0 });
    db.append_measurement({ t0.addSecs(65), 2, 50, 51, 0, 0, 0 }); // late, into a minute that has rows
    db.append_measurement({ t0.addSecs(65), 2, 60, 61, 0, 0, 0 }); // same time: the later row is the last
    ASSERT_EQ(minute_table(), minutes_from_rows());

    QSqlQuery q(db.connection());
    const char* changes[] = {
        "INSERT INTO mea_tbl (\"date\", \"time\", address, sv, pv) VALUES ('x', '2026-03-02 00:00:30.000', '1#仪表', NULL, 5)",
        "INSERT INTO mea_tbl (\"date\", \"time\", address, sv, pv) VALUES ('x', 'not a time', '1#仪表', 1, 5)",
        "UPDATE mea_tbl SET pv = 500 WHERE rowid = 40",
        "UPDATE mea_tbl SET sv = -500 WHERE rowid = 41",
        "UPDATE mea_tbl SET \"time\" = '2026-03-02 00:30:00.000' WHERE rowid = 42",
        "UPDATE mea_tbl SET address = '9#仪表' WHERE rowid = 43",
        "DELETE FROM mea_tbl WHERE rowid BETWEEN 100 AND 140",
        "DELETE FROM mea_tbl WHERE rowid = 1",
    };
    for (const char* change : changes) {
        SCOPED_TRACE(change);
        ASSERT_TRUE(q.exec(QString::fromUtf8(change))) << q.lastError().text().toStdString();
        EXPECT_EQ(minute_table(), minutes_from_rows());
    }
    bool moved = false;
    for (const auto& [key, m] : minute_table())
        moved = moved || key.first == QStringLiteral("9#仪表");
    EXPECT_TRUE(moved);
}

} // namespace

// The alarm log of a file from before acknowledgements: every row is kept
// as it was, marked acknowledged (nobody is asked about old history); what
// the station logs afterwards is open until acknowledged, and an
// acknowledgement marks only the rows of its alarm that were open.
TEST_F(SchemaTest, AlarmRowsFromBeforeAcknowledgementsAreKeptAsAcknowledged)
{
    const std::vector<SchemaStep> before(schema_steps().begin(), schema_steps().begin() + 3);
    {
        QSqlDatabase db = open_station_connection(db_path(), QStringLiteral("schema_v3"));
        upgrade_schema(db, QStringLiteral("control_db.sqlite"), before);
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("schema_v3"));
    exec(QStringLiteral("INSERT INTO alarm_log (\"time\", address, alarm, raised) VALUES "
                        "('2026-01-01 08:00:00.000', 1, 'HIAL', 1), ('2026-01-01 09:00:00.000', 1, 'HIAL', 0), "
                        "('2026-01-01 10:00:00.000', 2, 'LoAL', 1)"));
    const QVariantList old_rows = dump("alarm_log", "id, \"time\", address, alarm, raised");

    StationDb db(dir());
    AlarmLog log(db);
    EXPECT_EQ(dump("alarm_log", "id, \"time\", address, alarm, raised"), old_rows);
    EXPECT_EQ(query(QStringLiteral("SELECT COUNT(*) FROM alarm_log WHERE acked_at IS NOT NULL AND acked_by = '' "
                                   "AND action IS NULL AND state IS NULL")).front().toInt(), 3);
    std::vector<OpenAlarm> open = log.open_alarms();
    ASSERT_EQ(open.size(), 1u) << "only the alarm still active";
    EXPECT_EQ(open[0].last.address, 2);
    EXPECT_TRUE(open[0].last.acked_at.isValid());

    AlarmEvent raised { QDateTime(QDate(2026, 1, 2), QTime(8, 0)), 1, QStringLiteral("HIAL"), true };
    raised.state = QStringLiteral("active_unacked");
    log.append({ raised });
    open = log.open_alarms();
    ASSERT_EQ(open.size(), 2u);
    EXPECT_EQ(open[0].last.address, 1);
    EXPECT_FALSE(open[0].last.acked_at.isValid());
    EXPECT_EQ(open[0].raised_at, raised.when);

    AlarmEvent ack { raised.when.addSecs(60), 1, QStringLiteral("HIAL"), true };
    ack.action = AlarmAction::Acknowledge;
    ack.state = QStringLiteral("active_acked");
    ack.acked_at = ack.when;
    ack.acked_by = QStringLiteral("zhang");
    log.append({ ack });
    EXPECT_EQ(query(QStringLiteral("SELECT group_concat(coalesce(acked_by, 'NULL'), ',') FROM "
                                   "(SELECT acked_by FROM alarm_log ORDER BY id)")).front().toString(),
        QStringLiteral(",,,zhang,zhang"));
    EXPECT_TRUE(log.open_alarms()[0].last.acked_at.isValid());
    // The history page reads the action back.
    const std::vector<AlarmEvent> newest = log.newest({}, 1);
    ASSERT_EQ(newest.size(), 1u);
    EXPECT_EQ(newest[0].action, AlarmAction::Acknowledge);
    EXPECT_EQ(newest[0].acked_by, QStringLiteral("zhang"));
}
