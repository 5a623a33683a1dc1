// The status bar: unread messages, the database's state while rows wait for
// it, the device and its state, the baud rate, what the last minute brought,
// and the MQTT link while publishing. Also the command monitor, the line's
// state on the settings page, the message list, the command record and the
// bus-health view.
#include "command_list.h"
#include "engine_host.h"
#include "error_box.h"
#include "form1.h"
#include "frame_codec.h"
#include "health_view.h"
#include "message_list.h"

#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QStatusBar>
#include <QTabWidget>

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
    status_messages = add_field(bar, "status_messages");
    status_messages->setTextFormat(Qt::RichText);
    status_messages->setToolTip(QStringLiteral("单击查看消息"));
    connect(status_messages, &QLabel::linkActivated, this, [this] { show_message_list(); });
    status_storage = add_field(bar, "status_storage", false);
    status_device = add_field(bar, "status_device");
    status_link = add_field(bar, "status_link");
    status_minute = add_field(bar, "status_minute");
    status_mqtt = add_field(bar, "status_mqtt");
    message_list = new MessageList(this);
    connect(message_list, &MessageList::unread_changed, this, [this](int unread) {
        unread_messages = unread;
        update_status_bar();
    });
}

void TForm1::update_status_bar()
{
    if (!status_device)
        return;
    status_messages->setText(unread_messages > 0
            ? QStringLiteral("<a href=\"messages\" style=\"color: rgb(200, 0, 0);\">消息 %1 条未读</a>").arg(unread_messages)
            : QStringLiteral("<a href=\"messages\">消息</a>"));
    status_device->setText(link.comm_name + QStringLiteral(" → ") + link.device);
    status_link->setText(link.state + QStringLiteral("  ") + QString::number(link.baud) + QStringLiteral(" bps"));
    status_link->setStyleSheet(link.open ? QStringLiteral("color: rgb(0, 128, 0);") : QStringLiteral("color: rgb(200, 0, 0);"));

    if (status.health) {
        const BusHealth::Minute m = status.health->last_minute(std::chrono::steady_clock::now());
        status_minute->setText(QStringLiteral("近一分钟：应答 %1  超时 %2  校验错 %3  作废 %4")
                                   .arg(m.replies)
                                   .arg(m.timeouts)
                                   .arg(m.bad_checks)
                                   .arg(m.voided));
    }
    QString storage;
    if (status.storage_outage)
        storage = QStringLiteral("数据库暂不可用：%1 行等待写入").arg(status.rows_waiting);
    if (status.rows_dropped > 0)
        storage += (storage.isEmpty() ? QString() : QStringLiteral("；")) + QStringLiteral("已丢弃 %1 行").arg(status.rows_dropped);
    status_storage->setText(storage);
    status_storage->setStyleSheet(storage.isEmpty() ? QString() : QStringLiteral("color: rgb(200, 0, 0);"));

    status_mqtt->setText(status.mqtt);
    status_mqtt->setVisible(!status.mqtt.isEmpty());
    status_mqtt->setStyleSheet(status.mqtt_ok ? QStringLiteral("color: rgb(0, 128, 0);") : QStringLiteral("color: rgb(200, 0, 0);"));
}

void TForm1::show_link(const LinkShown& shown)
{
    link = shown;
    show_silence(status.silent); // every panel greys while the port is not open
    // The deviation pages appear whenever the port opens, not only at start.
    if (shown.open) {
        PageControl2->setTabVisible(PageControl2->indexOf(TabSheet1), true);
        PageControl2->setTabVisible(PageControl2->indexOf(TabSheet11), true);
    }
    update_port_label();
    update_status_bar();
}

void TForm1::show_status(const StatusShown& shown)
{
    status = shown;
    show_silence(shown.silent);
    update_status_bar();
    if (health_view && health_view->isVisible() && shown.health)
        health_view->refresh(*shown.health, std::chrono::steady_clock::now());
}

void TForm1::show_message(const EngineMessage& message)
{
    // The messages said before the window came are replayed once; one that
    // came live as well is not counted twice.
    if (!seen_messages.insert(message.id).second)
        return;
    while (seen_messages.size() > 1000)
        seen_messages.erase(seen_messages.begin());
    message_list->add(message);
    // A refusal answers the operator's own request: it is shown at once. The
    // engine has long gone on; nothing waits for the box.
    if (message.refusal)
        ErrorBox::instance().show(message.text);
}

void TForm1::show_command_list()
{
    if (!command_list)
        command_list = new CommandList(*command_log, this);
    command_list->show();
    command_list->raise();
    command_list->activateWindow();
}

void TForm1::show_message_list()
{
    message_list->show();
    message_list->raise();
    message_list->activateWindow();
    message_list->mark_read();
}

void TForm1::show_frame_sent(const QByteArray& frame, int address)
{
    // The frame's bytes as characters, up to the first zero byte (a text line
    // cannot hold one).
    const qsizetype zero = frame.indexOf('\0');
    Memo1->appendPlainText(QString::fromLatin1(frame.left(zero < 0 ? frame.size() : zero)));
    Label28->setText(QString::number(address));
}

void TForm1::show_frame_received(const QByteArray& block)
{
    Memo2->appendPlainText(QString::fromStdString(
        to_hex(reinterpret_cast<const std::uint8_t*>(block.constData()), static_cast<int>(block.size()))));
}

void TForm1::show_health_view()
{
    if (!health_view)
        health_view = new HealthView(this);
    if (status.health)
        health_view->refresh(*status.health, std::chrono::steady_clock::now());
    health_view->show();
    health_view->raise();
}
