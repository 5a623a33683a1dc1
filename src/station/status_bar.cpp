// The status bar: the bus's health at a glance. The device and its state,
// the baud rate, what the last minute brought, the database's state while
// rows wait for it, and the MQTT link while publishing.
#include "form1.h"
#include "health_view.h"
#include "publisher.h"
#include "row_queue.h"
#include "scomm.h"

#include <QLabel>
#include <QStatusBar>
#include <QTimer>

namespace {

QLabel* add_field(QStatusBar* bar, const char* name, bool permanent = true)
{
    auto* label = new QLabel(bar);
    label->setObjectName(QString::fromLatin1(name));
    label->setContentsMargins(6, 0, 6, 0);
    if (permanent)
        bar->addPermanentWidget(label);
    else
        bar->addWidget(label, 1);
    return label;
}

} // namespace

void TForm1::build_status_bar()
{
    QStatusBar* bar = statusBar();
    bar->setObjectName(QStringLiteral("StatusBar1"));
    bar->setSizeGripEnabled(false);
    status_storage = add_field(bar, "status_storage", false);
    status_device = add_field(bar, "status_device");
    status_link = add_field(bar, "status_link");
    status_minute = add_field(bar, "status_minute");
    status_mqtt = add_field(bar, "status_mqtt");
    status_timer = new QTimer(this);
    status_timer->setObjectName(QStringLiteral("status_timer"));
    status_timer->setInterval(1000);
    connect(status_timer, &QTimer::timeout, this, [this] { update_status_bar(); });
    status_timer->start();
}

void TForm1::update_status_bar()
{
    if (!status_device)
        return;
    const std::string& opened = SComm1_485->opened_device();
    status_device->setText(QString::fromStdString(SComm1_485->CommName()) + QStringLiteral(" → ")
        + QString::fromStdString(opened.empty() ? resolve_port_name(SComm1_485->CommName()) : opened));
    const bool open = SComm1_485->is_open();
    const QString state = link_state.isEmpty() ? (open ? QStringLiteral("已打开") : QStringLiteral("未打开")) : link_state;
    status_link->setText(state + QStringLiteral("  ") + QString::number(SComm1_485->BaudRate())
        + QStringLiteral(" bps"));
    status_link->setStyleSheet(open ? QStringLiteral("color: rgb(0, 128, 0);") : QStringLiteral("color: rgb(200, 0, 0);"));

    const BusHealth::Minute m = health.last_minute(std::chrono::steady_clock::now());
    status_minute->setText(QStringLiteral("近一分钟：应答 %1  超时 %2  校验错 %3  作废 %4")
                               .arg(m.replies)
                               .arg(m.timeouts)
                               .arg(m.bad_checks)
                               .arg(m.voided));

    QString storage;
    if (row_queue->outage())
        storage = QStringLiteral("数据库暂不可用：%1 行等待写入").arg(row_queue->waiting());
    if (row_queue->dropped() > 0)
        storage += (storage.isEmpty() ? QString() : QStringLiteral("；"))
            + QStringLiteral("已丢弃 %1 行").arg(row_queue->dropped());
    status_storage->setText(storage);
    status_storage->setStyleSheet(storage.isEmpty() ? QString() : QStringLiteral("color: rgb(200, 0, 0);"));

    const QString mqtt = mqtt_status_text();
    status_mqtt->setText(mqtt);
    status_mqtt->setVisible(!mqtt.isEmpty());
    const bool mqtt_ok = publisher && publisher->status().link == MqttPublisher::Link::Connected
        && publisher->status().dropped == 0;
    status_mqtt->setStyleSheet(mqtt_ok ? QStringLiteral("color: rgb(0, 128, 0);") : QStringLiteral("color: rgb(200, 0, 0);"));
}

void TForm1::show_health_view()
{
    if (!health_view) {
        health_view = new HealthView(this);
        connect(status_timer, &QTimer::timeout, health_view, [this] {
            if (health_view->isVisible())
                health_view->refresh(health, std::chrono::steady_clock::now());
        });
    }
    health_view->refresh(health, std::chrono::steady_clock::now());
    health_view->show();
    health_view->raise();
}
