#pragma once
// The topics and payloads the station publishes. Payloads are UTF-8 JSON
// objects; times are ISO 8601 in UTC with milliseconds
// ("2026-03-01T08:15:02.125Z"); numbers are written so that they read back
// as the same double.
//
//   <prefix>/<station>/status                 "online" (retained), "offline" as the last will
//   <prefix>/<station>/<address>/measurement  one per logged row
//   <prefix>/<station>/<address>/alarm        one per alarm that came or went, was
//                                             acknowledged, shelved or unshelved
//   <prefix>/<station>/health                 the bus counters, every minute
#include "alarm_log.h"
#include "station_db.h"
#include "station_settings.h"

#include <QByteArray>
#include <QDateTime>
#include <QJsonObject>

class Topics {
public:
    explicit Topics(const MqttConfig& config);
    const QByteArray& status() const { return status_; }
    const QByteArray& health() const { return health_; }
    QByteArray measurement(int address) const;
    QByteArray alarm(int address) const;

private:
    QByteArray base_; // "<prefix>/<station>/"
    QByteArray status_;
    QByteArray health_;
};

inline const QByteArray kOnline = QByteArrayLiteral("online");
inline const QByteArray kOffline = QByteArrayLiteral("offline");

// "2026-03-01T08:15:02.125Z".
QString utc_time_text(const QDateTime& when);

// {"time", "address", "sv", "pv", "mv", "val", "status" (the raw status
// byte), "alarms" (the names of the alarm bits set, lowest bit first)}.
QByteArray measurement_payload(const MeasurementRow& row);
// {"time", "address", "alarm" (its name), "raised" (true when it came, or
// for an operator's action, when it is active), "state" (the alarm's state
// after it: "active_unacked", "active_acked", "cleared_unacked", "cleared"
// or "shelved")}; an operator's action adds "action" ("ack", "shelve",
// "unshelve") and "user", a shelve "reason" and "until".
QByteArray alarm_payload(const AlarmEvent& event);
// A JSON object as one compact line.
QByteArray json_text(const QJsonObject& object);
