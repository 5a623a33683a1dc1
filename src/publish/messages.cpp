#include "messages.h"

#include "mqtt_config.h"
#include "status_bits.h"

#include <QJsonDocument>

#include <charconv>
#include <chrono>
#include <cmath>

Topics::Topics(const MqttConfig& config)
    : base_((config.prefix + QLatin1Char('/') + station_id(config) + QLatin1Char('/')).toUtf8())
    , status_(base_ + "status")
    , health_(base_ + "health")
{
}

QByteArray Topics::measurement(int address) const { return base_ + QByteArray::number(address) + "/measurement"; }

QByteArray Topics::alarm(int address) const { return base_ + QByteArray::number(address) + "/alarm"; }

namespace {

// Appends `n` with at least `width` digits (leading zeros).
void append_int(QByteArray& out, long long n, int width = 1)
{
    char buf[24];
    const auto r = std::to_chars(buf, buf + sizeof buf, n);
    for (int pad = width - static_cast<int>(r.ptr - buf); pad > 0; --pad)
        out.append('0');
    out.append(buf, r.ptr - buf);
}

// The shortest text that reads back as the same double; JSON has no NaN or
// infinity, so those are null.
void append_number(QByteArray& out, double v)
{
    if (!std::isfinite(v)) {
        out.append("null");
        return;
    }
    char buf[32];
    const auto r = std::to_chars(buf, buf + sizeof buf, v);
    out.append(buf, r.ptr - buf);
}

void append_utc_time(QByteArray& out, const QDateTime& when)
{
    using namespace std::chrono;
    const sys_time<milliseconds> t { milliseconds(when.toMSecsSinceEpoch()) };
    const sys_days day = floor<days>(t);
    const year_month_day date { day };
    const hh_mm_ss<milliseconds> time { t - day };
    append_int(out, static_cast<int>(date.year()), 4);
    out.append('-');
    append_int(out, static_cast<unsigned>(date.month()), 2);
    out.append('-');
    append_int(out, static_cast<unsigned>(date.day()), 2);
    out.append('T');
    append_int(out, time.hours().count(), 2);
    out.append(':');
    append_int(out, time.minutes().count(), 2);
    out.append(':');
    append_int(out, time.seconds().count(), 2);
    out.append('.');
    append_int(out, time.subseconds().count(), 3);
    out.append('Z');
}

} // namespace

QString utc_time_text(const QDateTime& when)
{
    QByteArray out;
    append_utc_time(out, when);
    return QString::fromLatin1(out);
}

QByteArray json_text(const QJsonObject& object) { return QJsonDocument(object).toJson(QJsonDocument::Compact); }

// Written by hand rather than through QJsonObject: it runs for every reply,
// on the thread that polls, and this way costs one allocation.
QByteArray measurement_payload(const MeasurementRow& row)
{
    QByteArray out;
    out.reserve(192);
    out.append("{\"time\":\"");
    append_utc_time(out, row.when);
    out.append("\",\"address\":");
    append_int(out, row.address);
    out.append(",\"sv\":");
    append_number(out, row.sv);
    out.append(",\"pv\":");
    append_number(out, row.pv);
    out.append(",\"mv\":");
    append_number(out, row.mv);
    out.append(",\"val\":");
    append_number(out, row.val);
    out.append(",\"status\":");
    append_int(out, row.alm);
    out.append(",\"alarms\":[");
    bool first = true;
    for (int bit = kFirstAlarmBit; bit < kFirstAlarmBit + kAlarmBitCount; ++bit)
        if (row.alm & (1 << bit)) {
            if (!first)
                out.append(',');
            first = false;
            const std::string_view name = alarm_name(bit); // letters only: nothing to escape
            out.append('"').append(name.data(), static_cast<qsizetype>(name.size())).append('"');
        }
    out.append("]}");
    return out;
}

QByteArray alarm_payload(const AlarmEvent& event)
{
    QJsonObject o {
        { QStringLiteral("time"), utc_time_text(event.when) },
        { QStringLiteral("address"), event.address },
        { QStringLiteral("alarm"), event.alarm },
        { QStringLiteral("raised"), event.raised },
        { QStringLiteral("state"), event.state },
    };
    if (event.action != AlarmAction::Transition) {
        o.insert(QStringLiteral("action"), alarm_action_key(event.action));
        o.insert(QStringLiteral("user"), event.acked_by);
    }
    if (event.action == AlarmAction::Shelve) {
        o.insert(QStringLiteral("reason"), event.note);
        o.insert(QStringLiteral("until"), utc_time_text(event.until));
    }
    return json_text(o);
}
