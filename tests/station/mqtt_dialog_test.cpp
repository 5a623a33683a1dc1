// The MQTT settings as the operator meets them: the dialog shows and returns
// every setting, takes OK only with settings that can publish (or with
// publishing off), and the window applies what station.ini or the command
// line says, naming what keeps it from publishing.
#include "form_fixture.h"
#include "mqtt_dialog.h"
#include "publisher.h"
#include "station_settings.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>
#include <QAction>
#include <QTimer>

namespace {

MqttConfig full_config()
{
    MqttConfig c;
    c.enabled = true;
    c.host = QStringLiteral("historian.plant");
    c.port = 8883;
    c.tls = true;
    c.ca_file = QStringLiteral("/etc/ssl/certs/ca-certificates.crt");
    c.user = QStringLiteral("station");
    c.password = QStringLiteral("s3cret:/@");
    c.allow_plain_password = true;
    c.prefix = QStringLiteral("site/hall2");
    c.station = QStringLiteral("kiln-1");
    c.qos = 0;
    return c;
}

} // namespace

TEST(MqttDialog, ShowsAndReturnsEverySetting)
{
    const MqttConfig c = full_config();
    MqttDialog dialog(c);
    EXPECT_EQ(dialog.config(), c);
    EXPECT_EQ(dialog.password->echoMode(), QLineEdit::Password);
    EXPECT_TRUE(dialog.ca_file->isEnabled());
    dialog.tls->setChecked(false);
    EXPECT_FALSE(dialog.ca_file->isEnabled());
    // The topics follow what is typed.
    dialog.station->setText(QStringLiteral("kiln-2"));
    EXPECT_TRUE(dialog.topics->text().startsWith(QStringLiteral("site/hall2/kiln-2/"))) << dialog.topics->text().toStdString();
    dialog.station->clear(); // the host name stands in
    EXPECT_FALSE(dialog.topics->text().contains(QStringLiteral("//"))) << dialog.topics->text().toStdString();
}

TEST(MqttDialog, TakesOkOnlyWithSettingsThatCanPublish)
{
    struct Case {
        const char* name;
        std::function<void(MqttDialog&)> edit;
        bool accepted;
    };
    const Case cases[] = {
        { "valid", [](MqttDialog&) {}, true },
        { "no host", [](MqttDialog& d) { d.host->setText(QStringLiteral("  ")); }, false },
        { "wildcard in the prefix", [](MqttDialog& d) { d.prefix->setText(QStringLiteral("site/+")); }, false },
        { "slash in the station id", [](MqttDialog& d) { d.station->setText(QStringLiteral("a/b")); }, false },
        // Without TLS a password goes only when "允许明文密码" is ticked.
        { "password in clear not allowed", [](MqttDialog& d) { d.allow_plain_password->setChecked(false); }, false },
        { "no password, nothing to allow",
            [](MqttDialog& d) {
                d.allow_plain_password->setChecked(false);
                d.password->clear();
            },
            true },
        { "password over TLS",
            [](MqttDialog& d) {
                d.allow_plain_password->setChecked(false);
                d.tls->setChecked(true);
                d.ca_file->clear();
            },
            true },
        { "off, whatever the rest says",
            [](MqttDialog& d) {
                d.host->clear();
                d.enabled->setChecked(false);
            },
            true },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        MqttConfig config = full_config();
        config.tls = false;
        MqttDialog dialog(config);
        c.edit(dialog);
        dialog.accept();
        EXPECT_EQ(dialog.result() == QDialog::Accepted, c.accepted);
        EXPECT_EQ(dialog.problem->text().isEmpty(), c.accepted) << dialog.problem->text().toStdString();
    }
}

class MqttWindow : public FormFixture {};

// Off by default; settings that cannot work are named in the status bar and
// the message list and publish nothing; OK in the dialog stores the settings
// and the engine applies them.
TEST_F(MqttWindow, AppliesTheSettingsOrSaysWhyNot)
{
    {
        TForm1& form = make_form();
        EXPECT_TRUE(engine().status_shown().mqtt.isEmpty()) << "no publisher";
        EXPECT_TRUE(form.status_mqtt->isHidden());
        EXPECT_TRUE(listed_with(QStringLiteral("MQTT")).isEmpty()) << listed().join(QLatin1Char('\n')).toStdString();
    }
    MqttConfig bad = full_config();
    bad.tls = false;
    bad.prefix = QStringLiteral("a//b");
    StationSettings(dir.path()).set_mqtt(bad);
    TForm1& form = make_form();
    errors.clear();
    EXPECT_TRUE(form.status_mqtt->text().contains(QStringLiteral("主题前缀"))) << form.status_mqtt->text().toStdString();
    EXPECT_FALSE(form.status_mqtt->isHidden());
    const QStringList said = listed_with(QStringLiteral("MQTT 设置无效，不发布"));
    ASSERT_EQ(said.size(), 1) << listed().join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(said[0].contains(QStringLiteral("主题前缀"))) << said[0].toStdString();

    // Through the menu: the dialog opens on the file's settings; OK with a
    // usable prefix stores it and starts publishing (to a host that is not
    // there: it keeps trying, polling is not its concern here).
    QTimer::singleShot(0, [&] {
        auto* dialog = form.findChild<MqttDialog*>(QStringLiteral("mqtt_dialog"));
        ASSERT_NE(dialog, nullptr);
        EXPECT_EQ(dialog->prefix->text(), QStringLiteral("a//b"));
        dialog->host->setText(QStringLiteral("127.0.0.1"));
        dialog->port->setValue(1);
        dialog->prefix->setText(QStringLiteral("a/b"));
        dialog->accept();
    });
    form.findChild<QAction*>(QStringLiteral("mqtt_item"))->trigger();
    EXPECT_EQ(StationSettings(dir.path()).mqtt().prefix, QStringLiteral("a/b"));
    EXPECT_EQ(engine().mqtt_settings().port, 1);
    EXPECT_EQ(engine().mqtt_settings().host, QStringLiteral("127.0.0.1"));
    EXPECT_FALSE(form.status_mqtt->text().isEmpty());
    EXPECT_FALSE(form.status_mqtt->text().contains(QStringLiteral("设置无效"))) << form.status_mqtt->text().toStdString();
    EXPECT_EQ(listed_with(QStringLiteral("发布到 127.0.0.1:1，主题 a/b/")).size(), 1) << listed().join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(errors.isEmpty()) << errors.join(QLatin1Char('\n')).toStdString();
}
