#pragma once
// The station's own settings, kept beside the database in station.ini (INI
// form). save.txt keeps its three lines; what they cannot hold lives here:
// the serial device chosen in the port box when it is not one of COM1..com16
// (save.txt then holds an index past the fixed names, which changes with the
// devices present, so the device is remembered by its path).
#include <QString>

inline const QString kStationSettingsFileName = QStringLiteral("station.ini");

class StationSettings {
public:
    // The settings file in `dir`.
    explicit StationSettings(const QString& dir);

    // The device path last chosen, or "" when a fixed name was.
    QString port_device() const;
    // Remembers `path` ("" forgets it). Throws EInOutError when the file
    // cannot be written.
    void set_port_device(const QString& path);

private:
    QString path_;
};
