#pragma once
// The MQTT settings dialog (menu 系统设置 → MQTT 发布): broker, TLS, user,
// whether a password may go without TLS, topic prefix, station id, QoS. OK is taken only with settings the station
// can publish with (or with publishing off).
#include "station_settings.h"

#include <QDialog>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QSpinBox;

class MqttDialog : public QDialog {
    Q_OBJECT
public:
    MqttDialog(const MqttConfig& config, QWidget* parent = nullptr);
    MqttConfig config() const;
    void accept() override;

    QCheckBox* enabled = nullptr;
    QLineEdit* host = nullptr;
    QSpinBox* port = nullptr;
    QCheckBox* tls = nullptr;
    QLineEdit* ca_file = nullptr;
    QLineEdit* user = nullptr;
    QLineEdit* password = nullptr;
    QCheckBox* allow_plain_password = nullptr; // "允许明文密码"
    QLineEdit* prefix = nullptr;
    QLineEdit* station = nullptr;
    QComboBox* qos = nullptr;
    QLabel* topics = nullptr; // the topics these settings give
    QLabel* problem = nullptr; // why OK is not taken

private:
    void update_topics();
};
