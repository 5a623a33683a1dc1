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
// The file is read once, when the object is made; every change is written at
// once, the whole file replaced atomically (settings_file.h, replace_file),
// so a power cut keeps the last state. The text is Qt's INI format, read and
// written by QSettings on a private copy, so that what reaches the file is
// decided here: a line Qt cannot parse is named once (problems()) and left
// out, a name that is no regular file (a directory, a FIFO) or a file over
// kMaxStationSettingsBytes is not read (defaults, and a message), and a file
// holding an MQTT password is owner-only (0600) from the moment it is
// written. Main thread only.
#include <QString>
#include <QStringList>
#include <QVariantMap>

#include <set>
#include <vector>

inline const QString kStationSettingsFileName = QStringLiteral("station.ini");
inline constexpr qint64 kMaxStationSettingsBytes = 1024 * 1024;

// Where and how the station publishes what it measures (src/publish).
struct MqttConfig {
    bool enabled = false;
    QString host;
    int port = 1883;
    bool tls = false;
    QString ca_file; // PEM file of the authorities to trust; empty: the system's
    QString user; // empty: no user name
    QString password;
    // A password goes over a connection without TLS only when this is set
    // ("允许明文密码"); otherwise such settings are refused.
    bool allow_plain_password = false;
    QString prefix = QStringLiteral("ai_station"); // first topic level(s)
    QString station; // empty: the host name
    int qos = 1; // 0 or 1
    bool operator==(const MqttConfig&) const = default;
};

class StationSettings {
public:
    // Reads the file `dir`/station.ini; a missing file gives the defaults.
    // Never throws: what could not be read is in problems().
    explicit StationSettings(const QString& dir);

    QString file_path() const;
    // What reading the file found, one message each, naming the file (and the
    // line): lines left out, a file not read. Empty when all was well.
    QStringList problems() const;

    // Every setter below writes the file at once and throws EInOutError (our
    // sentence, naming the file and the reason) when it cannot; the new value
    // is then held in memory all the same.

    // Resume polling the remembered addresses at start (default: on).
    bool resume() const;
    void set_resume(bool on);

    // Ask the operator before a command or a set-up write goes to an
    // instrument (default: on).
    bool confirm_commands() const;
    void set_confirm_commands(bool on);

    // The addresses polled, ascending, each 0..90; entries that are not such
    // an address are left out.
    std::vector<int> addresses() const;
    void set_addresses(const std::vector<int>& addresses);

    // Addresses whose alarms are listed and logged but not sounded.
    std::set<int> quiet_alarm_addresses() const;
    void set_quiet_alarm_addresses(const std::set<int>& addresses);

    // Decimal places last learnt for an address; -1 when none is known.
    int decimal_places(int address) const;
    void set_decimal_places(int address, int places);

    // The device path last chosen, or "" when a fixed name was.
    QString port_device() const;
    // Remembers `path` ("" forgets it); writes nothing when nothing changes.
    void set_port_device(const QString& path);

    // Charts: how much history each chart channel holds in memory, in days
    // at one point a second (older points are drawn from the log). Default
    // 7; a value that is not a number above 0 reads as the default.
    double chart_memory_days() const;
    void set_chart_memory_days(double days);

    // The MQTT settings; missing or unreadable entries give their defaults
    // (a port outside 1..65535 or a QoS other than 0 or 1 among them).
    MqttConfig mqtt() const;
    // Stores them. When the file then holds a password, only its owner may
    // read it (0600).
    void set_mqtt(const MqttConfig& config);

private:
    void load();
    void save();
    void set(const QString& key, const QVariant& value);
    QVariant value(const QString& key, const QVariant& fallback = {}) const;

    QString path_;
    QVariantMap values_; // "group/key" -> the value as Qt's reader gives it
    QStringList problems_;
};
