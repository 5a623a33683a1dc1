#include "mqtt_dialog.h"

#include "mqtt_config.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

MqttDialog::MqttDialog(const MqttConfig& config, QWidget* parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("mqtt_dialog"));
    setWindowTitle(QStringLiteral("MQTT 发布设置"));
    enabled = new QCheckBox(QStringLiteral("启用 MQTT 发布"), this);
    host = new QLineEdit(config.host, this);
    host->setPlaceholderText(QStringLiteral("例如 broker.local 或 192.0.2.10"));
    port = new QSpinBox(this);
    port->setRange(1, 65535);
    port->setValue(config.port);
    tls = new QCheckBox(QStringLiteral("使用 TLS 加密"), this);
    ca_file = new QLineEdit(config.ca_file, this);
    ca_file->setPlaceholderText(QStringLiteral("空：使用系统信任的证书"));
    auto* browse = new QPushButton(QStringLiteral("浏览…"), this);
    user = new QLineEdit(config.user, this);
    user->setPlaceholderText(QStringLiteral("空：匿名连接"));
    password = new QLineEdit(config.password, this);
    password->setEchoMode(QLineEdit::Password);
    // Off by default: without TLS a password would cross the network readable.
    allow_plain_password = new QCheckBox(QStringLiteral("允许明文密码（未启用 TLS 时也发送密码）"), this);
    allow_plain_password->setObjectName(QStringLiteral("allow_plain_password"));
    allow_plain_password->setChecked(config.allow_plain_password);
    prefix = new QLineEdit(config.prefix, this);
    station = new QLineEdit(config.station, this);
    station->setPlaceholderText(default_station_id());
    qos = new QComboBox(this);
    qos->addItems({ QStringLiteral("0（至多一次）"), QStringLiteral("1（至少一次，断线后补发）") });
    qos->setCurrentIndex(config.qos == 0 ? 0 : 1);
    enabled->setChecked(config.enabled);
    tls->setChecked(config.tls);
    topics = new QLabel(this);
    topics->setTextInteractionFlags(Qt::TextSelectableByMouse);
    problem = new QLabel(this);
    problem->setStyleSheet(QStringLiteral("color: rgb(200, 0, 0);"));
    problem->setWordWrap(true);
    auto* note = new QLabel(QStringLiteral("本站只发布、不订阅任何主题：网络上的消息不会到达仪表。"), this);
    note->setWordWrap(true);

    auto* ca_row = new QHBoxLayout;
    ca_row->addWidget(ca_file, 1);
    ca_row->addWidget(browse);
    auto* form = new QFormLayout;
    form->addRow(enabled);
    form->addRow(QStringLiteral("服务器："), host);
    form->addRow(QStringLiteral("端口："), port);
    form->addRow(tls);
    form->addRow(QStringLiteral("CA 证书文件："), ca_row);
    form->addRow(QStringLiteral("用户名："), user);
    form->addRow(QStringLiteral("密码："), password);
    form->addRow(allow_plain_password);
    form->addRow(QStringLiteral("主题前缀："), prefix);
    form->addRow(QStringLiteral("站点标识："), station);
    form->addRow(QStringLiteral("QoS："), qos);
    form->addRow(QStringLiteral("主题："), topics);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("确定"));
    buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("取消"));
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(note);
    layout->addWidget(problem);
    layout->addWidget(buttons);

    connect(buttons, &QDialogButtonBox::accepted, this, &MqttDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &MqttDialog::reject);
    connect(browse, &QPushButton::clicked, this, [this] {
        const QString file = QFileDialog::getOpenFileName(this, QStringLiteral("选择 CA 证书文件"), ca_file->text(),
            QStringLiteral("证书 (*.pem *.crt);;所有文件 (*)"));
        if (!file.isEmpty())
            ca_file->setText(file);
    });
    const auto enable_tls_fields = [this, browse] {
        ca_file->setEnabled(tls->isChecked());
        browse->setEnabled(tls->isChecked());
    };
    connect(tls, &QCheckBox::toggled, this, enable_tls_fields);
    enable_tls_fields();
    for (QLineEdit* edit : { prefix, station })
        connect(edit, &QLineEdit::textChanged, this, &MqttDialog::update_topics);
    update_topics();
    setMinimumWidth(520);
}

MqttConfig MqttDialog::config() const
{
    MqttConfig c;
    c.enabled = enabled->isChecked();
    c.host = host->text().trimmed();
    c.port = port->value();
    c.tls = tls->isChecked();
    c.ca_file = ca_file->text().trimmed();
    c.user = user->text();
    c.password = password->text();
    c.allow_plain_password = allow_plain_password->isChecked();
    c.prefix = prefix->text().trimmed();
    c.station = station->text().trimmed();
    c.qos = qos->currentIndex();
    return c;
}

void MqttDialog::update_topics()
{
    const MqttConfig c = config();
    topics->setText(QStringLiteral("%1/%2/<地址>/measurement、…/alarm、…/health、…/status")
                        .arg(c.prefix, station_id(c)));
}

void MqttDialog::accept()
{
    const MqttConfig c = config();
    const QString why = c.enabled ? mqtt_config_problem(c) : QString();
    problem->setText(why);
    if (why.isEmpty())
        QDialog::accept();
}
