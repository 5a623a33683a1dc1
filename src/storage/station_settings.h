#pragma once
// The station's own settings, in an INI file beside the database
// (station.ini), for what save.txt, with its fixed three lines, has no room
// for: whether to resume polling after a restart, the addresses found (with
// their decimal places) to resume with, and the serial device chosen in the
// port box when it is not one of COM1..com16 (save.txt then holds an index
// past the fixed names, which changes with the devices present, so the
// device is remembered by its path), and where to publish the measurements
// (MQTT, off by default).
//
// Every change is written at once (an atomic rewrite), so a power cut keeps
// the last state. Main thread only.
#include <QSettings>
#include <QString>

#include <memory>
#include <vector>

inline const QString kStationSettingsFileName = QStringLiteral("station.ini");

// Where and how the station publishes what it measures (src/publish).
struct MqttConfig {
    bool enabled = false;
    QString host;
    int port = 1883;
    bool tls = false;
    QString ca_file; // PEM file of the authorities to trust; empty: the system's
    QString user; // empty: no user name
    QString password;
    QString prefix = QStringLiteral("ai_station"); // first topic level(s)
    QString station; // empty: the host name
    int qos = 1; // 0 or 1
    bool operator==(const MqttConfig&) const = default;
};

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

    // The MQTT settings; missing or unreadable entries give their defaults
    // (a port outside 1..65535 or a QoS other than 0 or 1 among them).
    MqttConfig mqtt() const;
    // Stores them. The file then holds a password: only its owner may read
    // it. Throws EInOutError when the file cannot be written.
    void set_mqtt(const MqttConfig& config);

private:
    std::unique_ptr<QSettings> settings_;
};
