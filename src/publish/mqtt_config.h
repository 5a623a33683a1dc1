#pragma once
// What the station needs to know to publish: the settings of station.ini,
// overridden for one run by a URL on the command line, and checked before
// any connection is tried.
#include "station_settings.h"

#include <QString>

#include <optional>

// The host name in a form that makes one topic level ('/', '+' and '#'
// become '_'); "station" when the host has no name.
QString default_station_id();

// MQTT topics have at most this many bytes (UTF-8).
inline constexpr qsizetype kMaxMqttTopicBytes = 65535;

// `config` with what "mqtt://[user:password@]host[:port][/prefix]" (or
// "mqtts://", which turns TLS on) says, publishing enabled. The user and
// password are the URL's, none when it gives none: credentials stored for
// another broker are never used. A prefix the URL leaves out keeps its value
// from `config`, and so do the station id, the QoS, the CA file and whether a
// password may go without TLS; the port becomes 1883 (8883 for mqtts).
// Nothing, and the reason in `error`, when the text is not such a URL or the
// result cannot be used (mqtt_config_problem).
std::optional<MqttConfig> with_mqtt_url(const QString& url, MqttConfig config, QString* error);

// The station id the topics use: config.station, or the host name.
QString station_id(const MqttConfig& config);

// Why the station cannot publish with `config`: no host, a prefix or station
// id that does not make topic levels (empty levels, '+' or '#'; a '/' in the
// station id) or makes topics longer than MQTT allows, a QoS other than 0 or
// 1, an unreadable CA file, a password without TLS that the settings do not
// allow to go in clear. Empty when it can.
QString mqtt_config_problem(const MqttConfig& config);
