#include "messages.h"

#include "mqtt_config.h"
#include "status_bits.h"

#include <QJsonArray>
#include <QJsonDocument>

Topics::Topics(const MqttConfig& config)
    : base_((config.prefix + QLatin1Char('/') + station_id(config) + QLatin1Char('/')).toUtf8())
    , status_(base_ + "status")
    , health_(base_ + "health")
{
}

QByteArray Topics::measurement(int address) const { return base_ + QByteArray::number(address) + "/measurement"; }

QByteArray Topics::alarm(int address) const { return base_ + QByteArray::number(address) + "/alarm"; }

QString utc_time_text(const QDateTime& when) { return when.toUTC().toString(Qt::ISODateWithMs); }

QByteArray json_text(const QJsonObject& object) { return QJsonDocument(object).toJson(QJsonDocument::Compact); }

QByteArray measurement_payload(const MeasurementRow& row)
{
    QJsonArray alarms;
    for (int bit = kFirstAlarmBit; bit < kFirstAlarmBit + kAlarmBitCount; ++bit)
        if (row.alm & (1 << bit)) {
            const std::string_view name = alarm_name(bit);
            alarms.append(QString::fromLatin1(name.data(), static_cast<qsizetype>(name.size())));
        }
    return json_text({
        { QStringLiteral("time"), utc_time_text(row.when) },
        { QStringLiteral("address"), row.address },
        { QStringLiteral("sv"), row.sv },
        { QStringLiteral("pv"), row.pv },
        { QStringLiteral("mv"), row.mv },
        { QStringLiteral("val"), row.val },
        { QStringLiteral("status"), row.alm },
        { QStringLiteral("alarms"), alarms },
    });
}

QByteArray alarm_payload(const AlarmEvent& event)
{
    return json_text({
        { QStringLiteral("time"), utc_time_text(event.when) },
        { QStringLiteral("address"), event.address },
        { QStringLiteral("alarm"), event.alarm },
        { QStringLiteral("raised"), event.raised },
    });
}
