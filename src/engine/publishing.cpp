// Publishing what the station logs to an MQTT broker: each row and each alarm
// transition once it is in the log (so the broker sees exactly what the log
// holds, in its order), and every minute the bus counters. The messages are
// built here and queued; the publisher's own thread does the rest.
#include "engine.h"

#include "alarm_log.h"
#include "messages.h"
#include "mqtt_config.h"
#include "publisher.h"
#include "row_queue.h"
#include "station_db.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QTimer>

void Engine::set_mqtt(const MqttConfig& config)
{
    // Applied first: settings that cannot be saved still hold for this run,
    // and the message says they were not saved.
    apply_mqtt_config(config);
    station_settings->set_mqtt(config);
}

void Engine::apply_mqtt_config(const MqttConfig& config)
{
    publisher.reset(); // says "offline" and disconnects
    topics.reset();
    mqtt_config = config;
    mqtt_problem.clear();
    health_publish_timer->stop();
    if (config.enabled) {
        mqtt_problem = mqtt_config_problem(config);
        if (mqtt_problem.isEmpty()) {
            topics = std::make_unique<Topics>(config);
            publisher = std::make_unique<MqttPublisher>(config);
            health_publish_timer->start();
            messages.info("MQTT",
                "发布到 " + config.host.toStdString() + ":" + std::to_string(config.port) + "，主题 "
                    + (config.prefix + QLatin1Char('/') + station_id(config)).toStdString() + "/…，QoS "
                    + std::to_string(config.qos) + (config.tls ? "，TLS" : ""));
        } else {
            messages.error("MQTT", "MQTT 设置无效，不发布：" + mqtt_problem.toStdString());
        }
    }
    report_status();
}

void Engine::publish_written(const std::vector<MeasurementRow>& rows, const std::vector<AlarmEvent>& alarms)
{
    if (!publisher)
        return;
    for (const MeasurementRow& row : rows)
        publisher->publish(topics->measurement(row.address), measurement_payload(row));
    for (const AlarmEvent& e : alarms)
        publisher->publish(topics->alarm(e.address), alarm_payload(e));
}

void Engine::publish_health()
{
    if (!publisher)
        return;
    const auto now = std::chrono::steady_clock::now();
    const BusHealth::Minute m = health.last_minute(now);
    QJsonArray addresses;
    for (int a : health.addresses_seen()) {
        const BusHealth::Address& h = health.address(a);
        QJsonObject o {
            { QStringLiteral("address"), a },
            { QStringLiteral("requests"), static_cast<qint64>(h.requests) },
            { QStringLiteral("replies"), static_cast<qint64>(h.replies) },
            { QStringLiteral("timeouts"), static_cast<qint64>(h.timeouts) },
            { QStringLiteral("bad_checks"), static_cast<qint64>(h.bad_checks) },
            { QStringLiteral("voided"), static_cast<qint64>(h.voided) },
            { QStringLiteral("mean_reply_ms"), h.mean_reply_ms() },
            { QStringLiteral("silent"), health.silent(a) },
        };
        if (h.last_reply)
            o.insert(QStringLiteral("last_reply_age_s"), std::chrono::duration<double>(now - *h.last_reply).count());
        addresses.append(o);
    }
    const MqttPublisher::Status s = publisher->status();
    publisher->publish(topics->health(), json_text({
        { QStringLiteral("time"), utc_time_text(QDateTime::currentDateTime()) },
        { QStringLiteral("last_minute"), QJsonObject {
              { QStringLiteral("replies"), m.replies },
              { QStringLiteral("timeouts"), m.timeouts },
              { QStringLiteral("bad_checks"), m.bad_checks },
              { QStringLiteral("voided"), m.voided } } },
        { QStringLiteral("late_blocks"), static_cast<qint64>(health.late_blocks()) },
        { QStringLiteral("addresses"), addresses },
        { QStringLiteral("database"), QJsonObject {
              { QStringLiteral("waiting"), static_cast<qint64>(row_queue->waiting()) },
              { QStringLiteral("dropped"), static_cast<qint64>(row_queue->dropped()) } } },
        { QStringLiteral("mqtt"), QJsonObject {
              { QStringLiteral("waiting"), static_cast<qint64>(s.waiting) },
              { QStringLiteral("dropped"), static_cast<qint64>(s.dropped) } } },
    }));
}

std::size_t Engine::mqtt_waiting() const { return publisher ? publisher->status().waiting : 0; }

QString Engine::mqtt_status_text() const
{
    if (!mqtt_problem.isEmpty())
        return QStringLiteral("MQTT 设置无效：") + mqtt_problem;
    if (!publisher)
        return {};
    const MqttPublisher::Status s = publisher->status();
    const QString reason = QString::fromStdString(s.reason);
    QString text;
    switch (s.link) {
    case MqttPublisher::Link::Connecting:
        text = QStringLiteral("MQTT 正在连接");
        break;
    case MqttPublisher::Link::Connected:
        text = QStringLiteral("MQTT 已连接");
        break;
    case MqttPublisher::Link::Retrying:
        text = QStringLiteral("MQTT 重连中（%1）").arg(reason);
        break;
    case MqttPublisher::Link::Refused:
        text = QStringLiteral("MQTT 被拒绝：%1").arg(reason);
        break;
    }
    if (s.link != MqttPublisher::Link::Connected || s.waiting > 100)
        text += QStringLiteral("，%1 条等待").arg(s.waiting);
    if (s.dropped > 0)
        text += QStringLiteral("，已丢弃 %1 条").arg(s.dropped);
    return text;
}
