// The layout version: a database of the delivered layout is upgraded in place
// with every row kept; a newer file is refused; a failed step leaves the file
// at the last completed version.
#include "errors.h"
#include "schema.h"
#include "station_db.h"
#include "storage_fixture.h"

#include <QSqlError>

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
    QVariantList mea_tbl() const
    {
        return dump("mea_tbl", "rowid, \"date\", \"time\", address, sv, pv, mv, val, alm");
    }
    int version() const { return query(QStringLiteral("PRAGMA user_version")).front().toInt(); }
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
    EXPECT_TRUE(has("table", "alarm_log"));
    EXPECT_TRUE(has("index", "alarm_log_address_time"));
    EXPECT_TRUE(has("table", "mea_audit"));
    EXPECT_EQ(mea_tbl(), log_before);
    EXPECT_EQ(ai_para(), params_before);

    // Opening again changes nothing; the station goes on logging.
    {
        StationDb db(dir());
        db.append_measurement({ QDateTime::currentDateTime(), 4, 1, 2, 3, 4, 96 });
    }
    EXPECT_EQ(version(), latest_schema_version());
    EXPECT_EQ(mea_tbl().mid(0, log_before.size()), log_before);
    EXPECT_EQ(mea_tbl().size(), log_before.size() + 1);
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
// runs on an up-to-date file, and a step that fails half-way leaves nothing of
// itself behind.
TEST_F(SchemaTest, AddedStepsRunOnceAndAFailedStepLeavesTheLastVersion)
{
    {
        StationDb upgraded(dir());
    }
    const int v = latest_schema_version();
    std::vector<SchemaStep> steps = schema_steps();
    steps.push_back(
        { v + 1, "index", { "CREATE INDEX mea_tbl_time_address ON mea_tbl (\"time\", address)" } });
    steps.push_back({ v + 2, "broken", { "CREATE TABLE half (a)", "CREATE TABLE half (a)" } });
    {
        QSqlDatabase db = open_station_connection(db_path(), QStringLiteral("schema_test"));
        try {
            upgrade_schema(db, QStringLiteral("control_db.sqlite"), steps);
            ADD_FAILURE() << "the broken step passed";
        } catch (const EDatabaseError& e) {
            EXPECT_TRUE(QString::fromUtf8(e.what()).contains(QStringLiteral("broken"))) << e.what();
        }
        EXPECT_EQ(schema_version(db), v + 1);
        steps.pop_back();
        EXPECT_NO_THROW(upgrade_schema(db, QStringLiteral("control_db.sqlite"), steps));
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("schema_test"));
    EXPECT_EQ(version(), v + 1);
    EXPECT_TRUE(has("index", "mea_tbl_time_address"));
    EXPECT_FALSE(has("table", "half"));
}

} // namespace
