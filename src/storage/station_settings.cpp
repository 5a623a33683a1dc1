#include "station_settings.h"

#include "errors.h"

#include <QDir>
#include <QLocale>
#include <QFile>
#include <QStringList>

#include <algorithm>

namespace {

constexpr int kMaxAddress = 90;

bool is_address(int a) { return a >= 0 && a <= kMaxAddress; }

} // namespace

StationSettings::StationSettings(const QString& dir)
    : settings_(std::make_unique<QSettings>(QDir(dir).filePath(kStationSettingsFileName), QSettings::IniFormat))
{
}

QString StationSettings::file_path() const { return settings_->fileName(); }

bool StationSettings::resume() const { return settings_->value(QStringLiteral("resume/enabled"), true).toBool(); }

void StationSettings::set_resume(bool on)
{
    settings_->setValue(QStringLiteral("resume/enabled"), on);
    settings_->sync();
}

std::vector<int> StationSettings::addresses() const
{
    std::vector<int> out;
    // A list in the file ("1, 2, 5"); a single address reads as one text.
    const QStringList items = settings_->value(QStringLiteral("resume/addresses")).toStringList();
    for (const QString& item : items) {
        bool ok = false;
        const int a = item.trimmed().toInt(&ok); // C locale: digits only
        if (ok && is_address(a) && std::find(out.begin(), out.end(), a) == out.end())
            out.push_back(a);
    }
    std::sort(out.begin(), out.end());
    return out;
}

void StationSettings::set_addresses(const std::vector<int>& addresses)
{
    std::vector<int> kept;
    for (int a : addresses)
        if (is_address(a))
            kept.push_back(a);
    if (settings_->contains(QStringLiteral("resume/addresses")) && this->addresses() == kept)
        return;
    QStringList items;
    for (int a : kept)
        items << QString::number(a);
    settings_->setValue(QStringLiteral("resume/addresses"), items);
    settings_->sync();
}

int StationSettings::decimal_places(int address) const
{
    bool ok = false;
    const int places = settings_->value(QStringLiteral("decimals/%1").arg(address)).toInt(&ok);
    return ok && places >= 0 && places <= 4 ? places : -1;
}

void StationSettings::set_decimal_places(int address, int places)
{
    if (!is_address(address) || decimal_places(address) == places)
        return;
    settings_->setValue(QStringLiteral("decimals/%1").arg(address), places);
    settings_->sync();
}

QString StationSettings::port_device() const { return settings_->value(QStringLiteral("port/device")).toString(); }

void StationSettings::set_port_device(const QString& path)
{
    const QString key = QStringLiteral("port/device");
    if (path.isEmpty() && !settings_->contains(key))
        return; // nothing to forget: no file is created for it
    if (path.isEmpty())
        settings_->remove(key);
    else
        settings_->setValue(key, path);
    settings_->sync();
    if (settings_->status() != QSettings::NoError)
        throw EInOutError(QStringLiteral("Cannot write %1").arg(QDir::toNativeSeparators(file_path())).toStdString());
}

// Charts.

namespace {
constexpr double kDefaultChartMemoryDays = 7;
const QString kChartMemoryDaysKey = QStringLiteral("charts/memory_days");
} // namespace

double StationSettings::chart_memory_days() const
{
    bool ok = false;
    const double days = QLocale::c().toDouble(settings_->value(kChartMemoryDaysKey).toString(), &ok);
    return ok && days > 0 && days <= 3650 ? days : kDefaultChartMemoryDays;
}

void StationSettings::set_chart_memory_days(double days)
{
    settings_->setValue(kChartMemoryDaysKey, QLocale::c().toString(days, 'g', 10));
    settings_->sync();
}

MqttConfig StationSettings::mqtt() const
{
    MqttConfig c;
    const auto text = [this](const char* key, const QString& fallback) {
        return settings_->value(QStringLiteral("mqtt/") + QLatin1String(key), fallback).toString();
    };
    const auto number = [this](const char* key, int fallback, int low, int high) {
        bool ok = false;
        const int n = settings_->value(QStringLiteral("mqtt/") + QLatin1String(key)).toString().trimmed().toInt(&ok);
        return ok && n >= low && n <= high ? n : fallback;
    };
    c.enabled = settings_->value(QStringLiteral("mqtt/enabled"), false).toBool();
    c.host = text("host", c.host).trimmed();
    c.port = number("port", c.port, 1, 65535);
    c.tls = settings_->value(QStringLiteral("mqtt/tls"), false).toBool();
    c.ca_file = text("ca_file", c.ca_file);
    c.user = text("user", c.user);
    c.password = text("password", c.password);
    c.prefix = text("prefix", c.prefix).trimmed();
    c.station = text("station", c.station).trimmed();
    c.qos = number("qos", c.qos, 0, 1);
    return c;
}

void StationSettings::set_mqtt(const MqttConfig& c)
{
    settings_->beginGroup(QStringLiteral("mqtt"));
    settings_->setValue(QStringLiteral("enabled"), c.enabled);
    settings_->setValue(QStringLiteral("host"), c.host);
    settings_->setValue(QStringLiteral("port"), c.port);
    settings_->setValue(QStringLiteral("tls"), c.tls);
    settings_->setValue(QStringLiteral("ca_file"), c.ca_file);
    settings_->setValue(QStringLiteral("user"), c.user);
    settings_->setValue(QStringLiteral("password"), c.password);
    settings_->setValue(QStringLiteral("prefix"), c.prefix);
    settings_->setValue(QStringLiteral("station"), c.station);
    settings_->setValue(QStringLiteral("qos"), c.qos);
    settings_->endGroup();
    settings_->sync();
    if (settings_->status() != QSettings::NoError)
        throw EInOutError(QStringLiteral("Cannot write %1").arg(QDir::toNativeSeparators(file_path())).toStdString());
    if (!c.password.isEmpty())
        QFile::setPermissions(file_path(), QFile::ReadOwner | QFile::WriteOwner);
}
