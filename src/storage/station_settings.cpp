#include "station_settings.h"

#include "errors.h"

#include <QDir>
#include <QSettings>

namespace {
const QString kPortDevice = QStringLiteral("port/device");
}

StationSettings::StationSettings(const QString& dir)
    : path_(QDir(dir).filePath(kStationSettingsFileName))
{
}

QString StationSettings::port_device() const
{
    return QSettings(path_, QSettings::IniFormat).value(kPortDevice).toString();
}

void StationSettings::set_port_device(const QString& path)
{
    QSettings settings(path_, QSettings::IniFormat);
    if (path.isEmpty() && !settings.contains(kPortDevice))
        return; // nothing to forget: no file is created for it
    if (path.isEmpty())
        settings.remove(kPortDevice);
    else
        settings.setValue(kPortDevice, path);
    settings.sync();
    if (settings.status() != QSettings::NoError)
        throw EInOutError(QStringLiteral("Cannot write %1").arg(QDir::toNativeSeparators(path_)).toStdString());
}
