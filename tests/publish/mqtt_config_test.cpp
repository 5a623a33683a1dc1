#include "mqtt_config.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

MqttConfig base()
{
    MqttConfig c;
    c.user = QStringLiteral("file-user");
    c.password = QStringLiteral("file-secret");
    c.prefix = QStringLiteral("from-file");
    c.station = QStringLiteral("kiln2");
    c.qos = 0;
    c.ca_file = QStringLiteral("/etc/ssl/certs/ca-certificates.crt");
    c.allow_plain_password = true; // so that URLs with a password pass here
    return c;
}

} // namespace

// What a URL gives, over the settings of the file. The user and password are
// the URL's or none: those of the file belong to the file's broker.
TEST(MqttUrl, OverridesWhatItNamesAndKeepsTheRest)
{
    struct Case {
        const char* url;
        const char* host;
        int port;
        bool tls;
        const char* user;
        const char* password;
        const char* prefix;
    };
    const Case cases[] = {
        { "mqtt://broker.local:1884/plant", "broker.local", 1884, false, "", "", "plant" },
        { "mqtt://10.0.0.5", "10.0.0.5", 1883, false, "", "", "from-file" },
        { "mqtt://op:p%40ss%2Fw@h:2000/site/line1", "h", 2000, false, "op", "p@ss/w", "site/line1" },
        { "mqtt://op@h/p", "h", 1883, false, "op", "", "p" },
        { "MQTTS://h/p", "h", 8883, true, "", "", "p" },
        { "mqtts://u:pw@h:8884/", "h", 8884, true, "u", "pw", "from-file" },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.url);
        QString error;
        const auto got = with_mqtt_url(QString::fromUtf8(c.url), base(), &error);
        ASSERT_TRUE(got) << error.toStdString();
        EXPECT_TRUE(got->enabled);
        EXPECT_EQ(got->host, QString::fromUtf8(c.host));
        EXPECT_EQ(got->port, c.port);
        EXPECT_EQ(got->tls, c.tls);
        EXPECT_EQ(got->user, QString::fromUtf8(c.user));
        EXPECT_EQ(got->password, QString::fromUtf8(c.password));
        EXPECT_EQ(got->prefix, QString::fromUtf8(c.prefix));
        // Not in a URL: kept from the file.
        EXPECT_EQ(got->station, QStringLiteral("kiln2"));
        EXPECT_EQ(got->qos, 0);
        EXPECT_EQ(got->ca_file, base().ca_file);
    }
}

// A password goes without TLS only when the settings say so; the URL cannot
// say so for them.
TEST(MqttUrl, APasswordWithoutTlsNeedsTheSettingsToAllowIt)
{
    MqttConfig strict = base();
    strict.allow_plain_password = false;
    const struct {
        const char* url;
        bool allowed;
        bool accepted;
    } cases[] = {
        { "mqtt://op:pw@h/p", false, false },
        { "mqtt://op:pw@h/p", true, true },
        { "mqtts://op:pw@h/p", false, true },
        { "mqtt://op@h/p", false, true }, // a user alone sends no password
        { "mqtt://h/p", false, true }, // and the file's password is not taken along
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.url) + (c.allowed ? " allowed" : ""));
        MqttConfig file = strict;
        file.allow_plain_password = c.allowed;
        QString error;
        const auto got = with_mqtt_url(QString::fromUtf8(c.url), file, &error);
        EXPECT_EQ(got.has_value(), c.accepted) << error.toStdString();
        if (!c.accepted) {
            EXPECT_TRUE(error.contains(QStringLiteral("允许明文密码"))) << error.toStdString();
        }
    }
}

TEST(MqttUrl, RefusesWhatIsNoBrokerOrMakesNoTopics)
{
    for (const char* url : { "http://h/p", "h:1883", "mqtt://", "mqtt:///p", "mqtt://h:0/p", "mqtt://h:70000/p",
             "mqtt://h/a//b", "mqtt://h/a/", "mqtt://h/a/+/b", "mqtt://h/%23", "mqtt://h/p?x=1", "mqtt://h/p#f",
             "mqtt://h:port/p" }) {
        QString error;
        EXPECT_FALSE(with_mqtt_url(QString::fromUtf8(url), MqttConfig {}, &error)) << url;
        EXPECT_FALSE(error.isEmpty()) << url;
        EXPECT_TRUE(error.contains(QString::fromUtf8(url).left(4), Qt::CaseInsensitive)) << error.toStdString();
    }
}

TEST(MqttConfigProblem, NamesWhatCannotWork)
{
    const QTemporaryDir dir;
    MqttConfig ok;
    ok.host = QStringLiteral("h");
    EXPECT_EQ(mqtt_config_problem(ok), QString());
    EXPECT_FALSE(station_id(ok).isEmpty()); // the host name
    EXPECT_FALSE(station_id(ok).contains(QLatin1Char('/')));

    struct Case {
        std::function<void(MqttConfig&)> change;
        const char* says;
    };
    const Case cases[] = {
        { [](MqttConfig& c) { c.host = QStringLiteral("  "); }, "服务器主机" },
        { [](MqttConfig& c) { c.qos = 2; }, "QoS 2" },
        { [](MqttConfig& c) { c.station = QStringLiteral("a/b"); }, "站点标识“a/b”含有“/”" },
        { [](MqttConfig& c) { c.station = QStringLiteral("a#"); }, "站点标识" },
        { [](MqttConfig& c) { c.prefix = QString(); }, "主题前缀" },
        // Topics are at most 65535 bytes: room is left for "/<station>/<address>/measurement".
        { [](MqttConfig& c) { c.prefix = QString(70000, QLatin1Char('p')); }, "65535" },
        { [](MqttConfig& c) {
              c.station = QStringLiteral("s");
              c.prefix = QString(65535 - 17, QLatin1Char('p'));
          },
            "65535" },
        { [](MqttConfig& c) { c.password = QStringLiteral("pw"); }, "允许明文密码" },
        { [&](MqttConfig& c) {
              c.tls = true;
              c.ca_file = dir.filePath(QStringLiteral("missing.pem"));
          },
            "CA 文件" },
    };
    for (const Case& c : cases) {
        MqttConfig config = ok;
        c.change(config);
        EXPECT_TRUE(mqtt_config_problem(config).contains(QString::fromUtf8(c.says)))
            << c.says << " / " << mqtt_config_problem(config).toStdString();
    }
    // A CA file that is not read unless TLS is on.
    MqttConfig plain = ok;
    plain.ca_file = dir.filePath(QStringLiteral("missing.pem"));
    EXPECT_EQ(mqtt_config_problem(plain), QString());
    // The longest topic that fits, and a password over TLS or allowed in clear.
    MqttConfig longest = ok;
    longest.station = QStringLiteral("s");
    longest.prefix = QString(65535 - 18, QLatin1Char('p')); // + "/s" + "/100/measurement"
    EXPECT_EQ(mqtt_config_problem(longest), QString());
    for (const bool tls : { true, false }) {
        MqttConfig secret = ok;
        secret.password = QStringLiteral("pw");
        secret.tls = tls;
        secret.allow_plain_password = !tls;
        EXPECT_EQ(mqtt_config_problem(secret), QString()) << tls;
    }
}

TEST(MqttSettings, KeptInStationIniWithThePasswordForTheOwnerOnly)
{
    const QTemporaryDir dir;
    EXPECT_EQ(StationSettings(dir.path()).mqtt(), MqttConfig {}); // off by default
    MqttConfig c = base();
    c.enabled = true;
    c.host = QStringLiteral("broker");
    c.port = 8883;
    c.tls = true;
    c.qos = 1;
    c.allow_plain_password = true;
    StationSettings(dir.path()).set_mqtt(c);
    EXPECT_EQ(StationSettings(dir.path()).mqtt(), c);
    EXPECT_EQ(QFile::permissions(dir.filePath(kStationSettingsFileName)) & (QFile::ReadOther | QFile::ReadGroup), 0);

    // A file edited by hand: values out of range give the defaults.
    QFile file(dir.filePath(kStationSettingsFileName));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write("[mqtt]\nenabled=true\nhost= h \nport=99999\nqos=2\nprefix=p\n");
    file.close();
    const MqttConfig read = StationSettings(dir.path()).mqtt();
    EXPECT_TRUE(read.enabled);
    EXPECT_EQ(read.host, QStringLiteral("h"));
    EXPECT_EQ(read.port, 1883);
    EXPECT_EQ(read.qos, 1);
    EXPECT_EQ(read.prefix, QStringLiteral("p"));
}
