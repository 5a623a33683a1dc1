#include "mqtt_config.h"

#include <QFileInfo>
#include <QSysInfo>
#include <QUrl>

QString default_station_id()
{
    QString name = QSysInfo::machineHostName();
    for (QChar& c : name)
        if (c == QLatin1Char('/') || c == QLatin1Char('+') || c == QLatin1Char('#'))
            c = QLatin1Char('_');
    return name.isEmpty() ? QStringLiteral("station") : name;
}

QString station_id(const MqttConfig& config)
{
    return config.station.isEmpty() ? default_station_id() : config.station;
}

std::optional<MqttConfig> with_mqtt_url(const QString& url, MqttConfig config, QString* error)
{
    const QUrl u(url, QUrl::StrictMode);
    const QString scheme = u.scheme().toLower();
    if (!u.isValid() || (scheme != QLatin1String("mqtt") && scheme != QLatin1String("mqtts"))) {
        *error = QStringLiteral("“%1”不是 MQTT 地址（应为 mqtt://[用户名:密码@]主机:端口/主题前缀）").arg(url);
        return std::nullopt;
    }
    if (u.host().isEmpty()) {
        *error = QStringLiteral("“%1”没有给出主机").arg(url);
        return std::nullopt;
    }
    if (u.hasQuery() || u.hasFragment()) {
        *error = QStringLiteral("“%1”：MQTT 地址不能带“?”或“#”部分").arg(url);
        return std::nullopt;
    }
    config.enabled = true;
    config.tls = scheme == QLatin1String("mqtts");
    config.host = u.host();
    config.port = u.port(config.tls ? 8883 : 1883);
    // The credentials are the URL's or none: a user and password stored for
    // the broker of station.ini are never offered to another one.
    config.user = u.userName(QUrl::FullyDecoded);
    config.password = u.password(QUrl::FullyDecoded);
    QString prefix = u.path(QUrl::FullyDecoded);
    if (prefix.startsWith(QLatin1Char('/')))
        prefix.remove(0, 1);
    if (!prefix.isEmpty())
        config.prefix = prefix;
    if (const QString problem = mqtt_config_problem(config); !problem.isEmpty()) {
        *error = QStringLiteral("“%1”：%2").arg(url, problem);
        return std::nullopt;
    }
    return config;
}

namespace {

// Why `text` is no sequence of topic levels, or empty when it is.
QString levels_problem(const QString& text, bool single_level)
{
    if (text.isEmpty())
        return QStringLiteral("为空");
    if (text.contains(QLatin1Char('+')) || text.contains(QLatin1Char('#')))
        return QStringLiteral("含有“+”或“#”");
    if (single_level && text.contains(QLatin1Char('/')))
        return QStringLiteral("含有“/”");
    if (text.split(QLatin1Char('/')).contains(QString()))
        return QStringLiteral("含有空的主题层级");
    if (text.contains(QChar(0)))
        return QStringLiteral("含有空字符");
    return {};
}

} // namespace

QString mqtt_config_problem(const MqttConfig& config)
{
    // Every topic is "<prefix>/<station>/..." and an MQTT topic has at most
    // 65535 bytes: the longest one the station publishes must fit.
    const qsizetype longest_topic = config.prefix.toUtf8().size() + 1 + station_id(config).toUtf8().size()
        + static_cast<qsizetype>(sizeof("/100/measurement") - 1);
    if (config.host.trimmed().isEmpty())
        return QStringLiteral("未填写服务器主机");
    if (config.port < 1 || config.port > 65535)
        return QStringLiteral("端口 %1 不在 1..65535 之内").arg(config.port);
    if (config.qos != 0 && config.qos != 1)
        return QStringLiteral("QoS %1 不是 0 或 1").arg(config.qos);
    if (longest_topic > kMaxMqttTopicBytes)
        return QStringLiteral("主题前缀与站点标识过长：主题最长将有 %1 字节，MQTT 主题最多 %2 字节")
            .arg(longest_topic)
            .arg(kMaxMqttTopicBytes);
    if (const QString p = levels_problem(config.prefix, false); !p.isEmpty())
        return QStringLiteral("主题前缀“%1”%2").arg(config.prefix, p);
    if (const QString p = levels_problem(station_id(config), true); !p.isEmpty())
        return QStringLiteral("站点标识“%1”%2").arg(station_id(config), p);
    if (config.tls && !config.ca_file.isEmpty() && !QFileInfo(config.ca_file).isReadable())
        return QStringLiteral("无法读取 CA 文件 %1").arg(config.ca_file);
    if (!config.tls && !config.password.isEmpty() && !config.allow_plain_password)
        return QStringLiteral("密码不会在未加密的连接上发送：请使用 TLS，或在 MQTT 设置中勾选“允许明文密码”");
    return {};
}
