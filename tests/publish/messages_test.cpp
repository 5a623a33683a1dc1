#include "messages.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimeZone>

#include <gtest/gtest.h>

#include <cmath>

namespace {

QJsonObject parse(const QByteArray& payload)
{
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(payload, &error);
    EXPECT_EQ(error.error, QJsonParseError::NoError) << payload.toStdString();
    return doc.object();
}

} // namespace

TEST(Topics, FollowPrefixStationAndAddress)
{
    MqttConfig c;
    c.prefix = QStringLiteral("site/hall 2");
    c.station = QStringLiteral("炉区");
    const Topics t(c);
    EXPECT_EQ(t.status(), QByteArray("site/hall 2/炉区/status"));
    EXPECT_EQ(t.health(), QByteArray("site/hall 2/炉区/health"));
    EXPECT_EQ(t.measurement(7), QByteArray("site/hall 2/炉区/7/measurement"));
    EXPECT_EQ(t.alarm(12), QByteArray("site/hall 2/炉区/12/alarm"));
}

// A row as logged comes back from its payload with the same values: doubles
// that have no short decimal form, a local time given in UTC, and the names
// of the alarm bits set.
TEST(MeasurementPayload, ReadsBackAsTheLoggedRow)
{
    MeasurementRow row;
    // 08:15:02.125 at UTC+8 is 00:15:02.125 UTC.
    row.when = QDateTime(QDate(2026, 3, 1), QTime(8, 15, 2, 125), QTimeZone(8 * 3600));
    row.address = 12;
    row.sv = static_cast<double>(25.3f);
    row.pv = 0.1 + 0.2;
    row.mv = -1e-7;
    row.val = 123456789.125;
    row.alm = 0b10100101; // bits 0 (no alarm), 2, 5, 7
    const QJsonObject o = parse(measurement_payload(row));
    EXPECT_EQ(o.value(QStringLiteral("time")).toString(), QStringLiteral("2026-03-01T00:15:02.125Z"));
    EXPECT_EQ(o.value(QStringLiteral("address")).toInt(), 12);
    EXPECT_EQ(o.value(QStringLiteral("sv")).toDouble(), row.sv);
    EXPECT_EQ(o.value(QStringLiteral("pv")).toDouble(), row.pv);
    EXPECT_EQ(o.value(QStringLiteral("mv")).toDouble(), row.mv);
    EXPECT_EQ(o.value(QStringLiteral("val")).toDouble(), row.val);
    EXPECT_EQ(o.value(QStringLiteral("status")).toInt(), 0b10100101);
    EXPECT_EQ(o.value(QStringLiteral("alarms")).toArray(),
        (QJsonArray { QStringLiteral("Rdy"), QStringLiteral("LoAL"), QStringLiteral("oraL") }));

    row.alm = 0b11;
    EXPECT_EQ(parse(measurement_payload(row)).value(QStringLiteral("alarms")).toArray(), QJsonArray {});

    // JSON has no NaN or infinity: still a valid payload, the value null.
    row.pv = std::nan("");
    row.val = -HUGE_VAL;
    const QJsonObject o2 = parse(measurement_payload(row));
    EXPECT_TRUE(o2.value(QStringLiteral("pv")).isNull());
    EXPECT_TRUE(o2.value(QStringLiteral("val")).isNull());
}

// UTC across a day and a year boundary, milliseconds always three digits.
TEST(UtcTimeText, IsoUtcWithMilliseconds)
{
    struct Case {
        QDateTime when;
        const char* text;
    };
    const Case cases[] = {
        { QDateTime(QDate(2026, 1, 1), QTime(0, 0, 0, 5), QTimeZone(3600)), "2025-12-31T23:00:00.005Z" },
        { QDateTime(QDate(1999, 12, 31), QTime(23, 59, 59, 999), QTimeZone::utc()), "1999-12-31T23:59:59.999Z" },
        { QDateTime(QDate(2028, 2, 29), QTime(12, 0), QTimeZone(-5 * 3600)), "2028-02-29T17:00:00.000Z" },
    };
    for (const Case& c : cases)
        EXPECT_EQ(utc_time_text(c.when), QString::fromLatin1(c.text));
}

TEST(AlarmPayload, SaysWhichAlarmCameOrWent)
{
    for (bool raised : { true, false }) {
        const AlarmEvent e { QDateTime(QDate(2026, 1, 2), QTime(3, 4, 5, 6), QTimeZone::utc()), 5,
            QStringLiteral("HIAL"), raised };
        const QJsonObject o = parse(alarm_payload(e));
        EXPECT_EQ(o.value(QStringLiteral("time")).toString(), QStringLiteral("2026-01-02T03:04:05.006Z"));
        EXPECT_EQ(o.value(QStringLiteral("address")).toInt(), 5);
        EXPECT_EQ(o.value(QStringLiteral("alarm")).toString(), QStringLiteral("HIAL"));
        EXPECT_EQ(o.value(QStringLiteral("raised")).toBool(), raised);
    }
}

// A transition carries the state only; an operator's action names itself
// and the user, a shelve its reason and end as well.
TEST(AlarmPayload, CarriesTheStateAndTheOperatorsAction)
{
    const QDateTime t(QDate(2026, 1, 2), QTime(3, 4, 5), QTimeZone::utc());
    AlarmEvent e { t, 5, QStringLiteral("LoAL"), true };
    e.state = QStringLiteral("active_unacked");
    QJsonObject o = parse(alarm_payload(e));
    EXPECT_EQ(o.value(QStringLiteral("state")).toString(), QStringLiteral("active_unacked"));
    EXPECT_FALSE(o.contains(QStringLiteral("action")));
    EXPECT_FALSE(o.contains(QStringLiteral("user")));

    e.action = AlarmAction::Shelve;
    e.state = QStringLiteral("shelved");
    e.acked_by = QStringLiteral("王工");
    e.note = QStringLiteral("检修 \"2#\" 炉");
    e.until = t.addSecs(3600);
    o = parse(alarm_payload(e));
    EXPECT_EQ(o.value(QStringLiteral("state")).toString(), QStringLiteral("shelved"));
    EXPECT_EQ(o.value(QStringLiteral("action")).toString(), QStringLiteral("shelve"));
    EXPECT_EQ(o.value(QStringLiteral("user")).toString(), QStringLiteral("王工"));
    EXPECT_EQ(o.value(QStringLiteral("reason")).toString(), QStringLiteral("检修 \"2#\" 炉"));
    EXPECT_EQ(o.value(QStringLiteral("until")).toString(), QStringLiteral("2026-01-02T04:04:05.000Z"));
}
