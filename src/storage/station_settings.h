#pragma once
// The station's own settings, in an INI file beside the database
// (station.ini), for what save.txt, with its fixed three lines, has no room
// for: whether to resume polling after a restart, the addresses found (with
// their decimal places) to resume with, and the serial device chosen in the
// port box when it is not one of COM1..com16 (save.txt then holds an index
// past the fixed names, which changes with the devices present, so the
// device is remembered by its path).
//
// Every change is written at once (an atomic rewrite), so a power cut keeps
// the last state. Main thread only.
#include <QSettings>
#include <QString>

#include <memory>
#include <vector>

inline const QString kStationSettingsFileName = QStringLiteral("station.ini");

class StationSettings {
public:
    // The file `dir`/station.ini; a missing file gives the defaults.
    explicit StationSettings(const QString& dir);

    QString file_path() const;

    // Resume polling the remembered addresses at start (default: on).
    bool resume() const;
    void set_resume(bool on);

    // The addresses polled, ascending, each 0..90; entries that are not such
    // an address are left out.
    std::vector<int> addresses() const;
    void set_addresses(const std::vector<int>& addresses);

    // Decimal places last learnt for an address; -1 when none is known.
    int decimal_places(int address) const;
    void set_decimal_places(int address, int places);

    // The device path last chosen, or "" when a fixed name was.
    QString port_device() const;
    // Remembers `path` ("" forgets it). Throws EInOutError when the file
    // cannot be written.
    void set_port_device(const QString& path);

    // Charts: how much history each chart channel holds in memory, in days
    // at one point a second (older points are drawn from the log). Default
    // 7; a value that is not a number above 0 reads as the default.
    double chart_memory_days() const;
    void set_chart_memory_days(double days);

private:
    std::unique_ptr<QSettings> settings_;
};
