#include "errors.h"
#include "param_catalogue.h"
#include "param_text.h"
#include "station_db.h"
#include "storage_fixture.h"

#include <QFileInfo>

#include <functional>
#include <optional>
#include <unistd.h>

namespace {

using StationDbTest = StorageDir;

TEST_F(StationDbTest, DeliveredFileHoldsTheCatalogueAndAnEmptyLog)
{
    const QVariantList ids = query(QStringLiteral("SELECT id FROM ai_para ORDER BY id"));
    ASSERT_EQ(ids.size(), kParamCount);
    EXPECT_EQ(ids.front().toInt(), 1);
    EXPECT_EQ(ids.back().toInt(), 411);
    const QVariantList names = query(QStringLiteral("SELECT MyDTL FROM ai_para ORDER BY id"));
    for (int code = 0; code < kParamCount; ++code)
        ASSERT_EQ(names[code].toString().toStdString(), param_name(code)) << code;
    // Every value field starts at 0.
    QString sum = QStringLiteral("SELECT count(*) FROM ai_para WHERE 0");
    for (int a = 0; a < kDbAddressCount; ++a)
        sum += QStringLiteral(" OR no%1 IS NOT 0").arg(a);
    EXPECT_EQ(query(sum).front().toInt(), 0);
    EXPECT_EQ(query(QStringLiteral("SELECT count(*) FROM mea_tbl")).front().toInt(), 0);
}

TEST_F(StationDbTest, StoreChangesOnlyItsFieldOfItsRow)
{
    StationDb db(dir());
    auto snapshot = [&] {
        QString cols;
        for (int a = 0; a < kDbAddressCount; ++a)
            cols += QStringLiteral(" || ',' || no%1").arg(a);
        return query(QStringLiteral("SELECT id %1 FROM ai_para ORDER BY id").arg(cols));
    };
    const QVariantList before = snapshot();
    db.store_parameter(12, 40, 7.5f);
    const QVariantList after = snapshot();
    ASSERT_EQ(before.size(), after.size());
    for (int i = 0; i < before.size(); ++i) {
        if (i != 40) {
            EXPECT_EQ(before[i], after[i]) << "row id " << i + 1;
        }
    }
    EXPECT_EQ(query(QStringLiteral("SELECT no12 FROM ai_para WHERE id = 41")).front().toDouble(), 7.5);
    QString others = QStringLiteral("SELECT count(*) FROM ai_para WHERE id = 41 AND (0");
    for (int a = 0; a < kDbAddressCount; ++a) {
        if (a != 12)
            others += QStringLiteral(" OR no%1 IS NOT 0").arg(a);
    }
    EXPECT_EQ(query(others + QStringLiteral(")")).front().toInt(), 0);
}

TEST_F(StationDbTest, StoreWithoutAFieldOrARowStoresNothing)
{
    StationDb db(dir());
    int signals_seen = 0;
    QObject::connect(&db, &StationDb::parameter_stored, [&](int, int, double) { ++signals_seen; });
    const struct {
        int address;
        int code;
    } cases[] = { { -1, 5 }, { 90, 5 }, { 100, 5 }, { 1000, 5 }, { 3, -1 }, { 3, 411 }, { 3, 100000 } };
    for (const auto& c : cases)
        EXPECT_NO_THROW(db.store_parameter(c.address, c.code, 99.0f)) << c.address << " " << c.code;
    QString any = QStringLiteral("SELECT count(*) FROM ai_para WHERE 0");
    for (int a = 0; a < kDbAddressCount; ++a)
        any += QStringLiteral(" OR no%1 IS NOT 0").arg(a);
    EXPECT_EQ(query(any).front().toInt(), 0);
    EXPECT_EQ(signals_seen, 0);
    // A deleted row is not recreated and its store lands nowhere else.
    exec(QStringLiteral("DELETE FROM ai_para WHERE id = 6"));
    db.store_parameter(3, 5, 1.0f);
    EXPECT_EQ(query(any).front().toInt(), 0);
    EXPECT_EQ(query(QStringLiteral("SELECT count(*) FROM ai_para")).front().toInt(), 410);
}

TEST_F(StationDbTest, StoredValueIsTheFloatAsADouble)
{
    StationDb db(dir());
    db.store_parameter(0, 1, 0.1f);
    EXPECT_EQ(query(QStringLiteral("SELECT no0 FROM ai_para WHERE id = 2")).front().toDouble(),
        static_cast<double>(0.1f));
}

TEST_F(StationDbTest, LoadFillsCodes1To410WithValueTextsAndLeavesCode0)
{
    // Distinct values in no3, decoys in the neighbouring fields.
    exec(QStringLiteral("UPDATE ai_para SET no3 = id * 1.25, no2 = -7, no4 = -8"));
    exec(QStringLiteral("UPDATE ai_para SET no3 = 9 WHERE id = 23")); // input type -> word
    exec(QStringLiteral("UPDATE ai_para SET no3 = 3 WHERE id = 41")); // segments -> integer
    exec(QStringLiteral("UPDATE ai_para SET no3 = 150 WHERE id = 4")); // decimal class
    exec(QStringLiteral("UPDATE ai_para SET no3 = 12 WHERE id = 61"));
    StationDb db(dir());
    const ParamColumn col = db.load_param_column(3, 2);
    ASSERT_EQ(col.texts.size(), std::size_t(kParamCount));
    EXPECT_FALSE(col.loaded[0]);
    EXPECT_TRUE(col.texts[0].isEmpty());
    EXPECT_EQ(col.texts[22], QStringLiteral("Pt100/1000"));
    EXPECT_EQ(col.texts[40], QStringLiteral("3"));
    EXPECT_EQ(col.texts[3], QStringLiteral("150.00"));
    EXPECT_EQ(col.texts[60], QStringLiteral("12.00"));
    const QVariantList values = query(QStringLiteral("SELECT no3 FROM ai_para ORDER BY id"));
    for (int code = 1; code < kParamCount; ++code) {
        ASSERT_TRUE(col.loaded[code]);
        EXPECT_EQ(col.texts[code].toStdString(),
            param_value_text(code, static_cast<float>(values[code].toDouble()), 2))
            << code;
    }
    EXPECT_EQ(col.last_value, 411 * 1.25f);
    // The decimal places passed in are the ones used.
    EXPECT_EQ(db.load_param_column(3, 3).texts[60], QStringLiteral("12.000"));
}

TEST_F(StationDbTest, LoadLeavesCellsEmptyForMissingRowsNullFieldsAndAddressesWithoutAField)
{
    exec(QStringLiteral("UPDATE ai_para SET no5 = 4"));
    exec(QStringLiteral("UPDATE ai_para SET no5 = NULL WHERE id = 10"));
    exec(QStringLiteral("DELETE FROM ai_para WHERE id = 20"));
    StationDb db(dir());
    const ParamColumn col = db.load_param_column(5, 0);
    EXPECT_TRUE(col.texts[9].isEmpty());
    EXPECT_TRUE(col.texts[19].isEmpty());
    EXPECT_TRUE(col.loaded[9] && col.loaded[19]);
    EXPECT_FALSE(col.texts[18].isEmpty());
    for (int address : { -1, 90, 255 }) {
        const ParamColumn none = db.load_param_column(address, 0);
        for (int code = 1; code < kParamCount; ++code)
            ASSERT_TRUE(none.texts[code].isEmpty()) << address << " " << code;
    }
}

TEST_F(StationDbTest, AppendWritesOneRowWithOneTimestampInBothTimeFields)
{
    StationDb db(dir());
    qint64 signalled = 0;
    QObject::connect(&db, &StationDb::measurement_appended, [&](qint64 id) { signalled = id; });
    const QDateTime when(QDate(2026, 3, 4), QTime(23, 59, 58, 765));
    const qint64 id = db.append_measurement({ when, 12, 123.4, 120.125, 45.67, 3.5, 0xA5 });
    EXPECT_EQ(signalled, id);
    const QVariantList row
        = query(QStringLiteral("SELECT \"date\" || '|' || \"time\" || '|' || address || '|' || sv "
                               "|| '|' || pv || '|' || mv || '|' || val || '|' || alm FROM mea_tbl"));
    ASSERT_EQ(row.size(), 1);
    EXPECT_EQ(row.front().toString(),
        QStringLiteral(
            "2026-03-04 23:59:58.765|2026-03-04 23:59:58.765|12#仪表|123.4|120.125|45.67|3.5|165"));
    EXPECT_EQ(db_timestamp_from_text(QStringLiteral("2026-03-04 23:59:58.765")), when);
}

// Logged times as numbers: the stored texts read back to the millisecond,
// anything else is no time, and the open ends of a range still give texts
// that compare with the stored ones.
TEST(DbClock, TextsAndNumbersOfLoggedTimes)
{
    const qint64 day = 86'400'000;
    const qint64 noon = (QDate(2026, 3, 1).toJulianDay() - QDate(1970, 1, 1).toJulianDay()) * day + 12 * 3'600'000;
    const struct {
        const char* text;
        std::optional<qint64> ms;
    } cases[] = {
        { "2026-03-01 12:00:00.000", noon },
        { "2026-03-01 12:00:01.507", noon + 1507 },
        { "2026-03-01 12:00:01", noon + 1000 },
        { "1970-01-01 00:00:00.000", 0 },
        { "2026-02-30 12:00:00.000", std::nullopt },
        { "2026-03-01 24:00:00.000", std::nullopt },
        { "2026-03-01T12:00:00.000", std::nullopt },
        { "2026-03-01 12:00:00.0001", std::nullopt },
        { "2026-03-01 12:00:00.00x", std::nullopt },
        { "2026-03-01 12:0:00", std::nullopt },
        { "", std::nullopt },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(db_clock_ms(QString::fromLatin1(c.text)), c.ms);
        if (c.ms && QByteArray(c.text).size() == 23) {
            EXPECT_EQ(db_clock_text(*c.ms), QString::fromLatin1(c.text));
        }
    }
    const QDateTime local(QDate(2026, 3, 1), QTime(12, 0, 1, 507));
    EXPECT_EQ(db_clock_ms(local), noon + 1507);
    EXPECT_EQ(db_clock_ms(db_timestamp_text(local)), noon + 1507);
    EXPECT_EQ(db_clock_text(INT64_MAX), QStringLiteral("9999-12-31 23:59:59.999"));
    EXPECT_EQ(db_clock_text(INT64_MIN), QStringLiteral("0001-01-01 00:00:00.000"));
}

TEST_F(StationDbTest, OpenFailsWithoutCreatingOrWritingAnything)
{
    // Missing file: error names the file and the directory, no file appears.
    QFile::remove(db_path());
    try {
        StationDb db(dir());
        FAIL() << "opened a missing file";
    } catch (const EDatabaseError& e) {
        const QString msg = QString::fromUtf8(e.what());
        EXPECT_TRUE(msg.contains(QStringLiteral("control_db.sqlite"))) << e.what();
        EXPECT_TRUE(msg.contains(dir())) << e.what();
    }
    EXPECT_FALSE(QFileInfo::exists(db_path()));
    EXPECT_FALSE(QFileInfo::exists(db_path() + QStringLiteral("-wal")));
}

TEST_F(StationDbTest, OpenRejectsFilesThatAreNotAWritableLogDatabase)
{
    const struct {
        const char* name;
        std::function<void(const QString&)> spoil;
    } cases[] = {
        { "not a database",
            [](const QString& p) {
                QFile f(p);
                ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
                f.write(QByteArray(8192, 'x'));
            } },
        { "no mea_tbl", [this](const QString&) { exec(QStringLiteral("DROP TABLE mea_tbl")); } },
        { "no ai_para", [this](const QString&) { exec(QStringLiteral("DROP TABLE ai_para")); } },
        { "read-only", [](const QString& p) { QFile::setPermissions(p, QFile::ReadOwner); } },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QFile::remove(db_path());
        ASSERT_TRUE(QFile::copy(QStringLiteral(STATION_DB_TEMPLATE), db_path()));
        QFile::setPermissions(db_path(), QFile::ReadOwner | QFile::WriteOwner);
        c.spoil(db_path());
        if (std::string(c.name) == "read-only" && ::geteuid() == 0)
            continue; // root writes through file permissions
        const QByteArray before = bytes(db_path());
        try {
            StationDb db(dir());
            ADD_FAILURE() << "opened";
        } catch (const EDatabaseError& e) {
            const QString msg = QString::fromUtf8(e.what());
            EXPECT_TRUE(msg.contains(QStringLiteral("control_db.sqlite"))) << e.what();
            EXPECT_TRUE(msg.contains(dir())) << e.what();
        }
        // Refused untouched: not a byte changed, not switched to WAL.
        EXPECT_EQ(bytes(db_path()), before);
        EXPECT_FALSE(QFileInfo::exists(db_path() + QStringLiteral("-wal")));
        EXPECT_FALSE(QFileInfo::exists(db_path() + QStringLiteral("-shm")));
    }
}

TEST_F(StationDbTest, OpenSwitchesTheFileToWal)
{
    {
        StationDb db(dir());
        db.open_parameter_table();
    }
    EXPECT_EQ(query(QStringLiteral("PRAGMA journal_mode")).front().toString(), QStringLiteral("wal"));
}

} // namespace
