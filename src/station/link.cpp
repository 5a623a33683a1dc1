// The serial link the operator wants: opening the port, its hang-up, and
// reopening it by itself once the device is back, without a click and
// without a stack of message boxes.
#include "error_box.h"
#include "errors.h"
#include "event_log.h"
#include "form1.h"
#include "scomm.h"

#include <QDir>
#include <QFileInfo>
#include <QTabWidget>
#include <QTimer>

namespace {

// "com1（/dev/pts/3）": the name and the device it opened or stands for.
std::string port_text(const TSComm& comm)
{
    const std::string device = comm.opened_device().empty() ? resolve_port_name(comm.CommName()) : comm.opened_device();
    return comm.CommName() + "（" + device + "）";
}

} // namespace

void TForm1::open_port()
{
    port_wanted = true;
    try {
        SComm1_485->OpenComm();
    } catch (const ECommsError& e) {
        reconnect_reason = e.what();
        link_state = QStringLiteral("未打开，等待设备");
        event_log::write("串口", "串口 " + SComm1_485->CommName() + " 未能打开：" + reconnect_reason);
        reconnect_timer->start();
        update_port_label();
        update_status_bar();
        throw;
    }
    port_opened(QStringLiteral("已打开"));
}

void TForm1::port_opened(const QString& state)
{
    reconnect_timer->stop();
    reconnect_reason.clear();
    // What to wait for after a hang-up: the same link in the working
    // directory (the simulator, or a link the operator made, may point it at
    // a new device), else the same device path; never whatever else the name
    // might stand for once the device is gone.
    const QFileInfo link(QDir::current().filePath(QString::fromStdString(SComm1_485->CommName())));
    reopen_link = link.isSymLink() || link.exists() ? link.absoluteFilePath() : QString();
    reopen_device = SComm1_485->opened_device();
    link_state = state;
    event_log::write("串口", "串口 " + port_text(*SComm1_485) + state.toStdString() + "，波特率 "
            + std::to_string(SComm1_485->BaudRate()));
    // The deviation pages appear whenever the port opens, not only at start.
    PageControl2->setTabVisible(PageControl2->indexOf(TabSheet1), true);
    PageControl2->setTabVisible(PageControl2->indexOf(TabSheet11), true);
    update_port_label();
    update_status_bar();
}

void TForm1::SComm1_485RequestHangup(TSComm*)
{
    // The name of the device that was open: resolving the name again would
    // give whatever it stands for now that the device is gone.
    const std::string what = port_text(*SComm1_485);
    SComm1_485->CloseComm();
    set_comm_led(false);
    link_state = QStringLiteral("已断开，等待设备");
    reconnect_reason = "已断开";
    event_log::write("串口", "串口 " + what + "已断开（转换器被拔出或线路中断），等待设备恢复后自动重新打开");
    update_port_label();
    update_status_bar();
    if (port_wanted)
        reconnect_timer->start();
}

void TForm1::reconnect_tick()
{
    if (!port_wanted || SComm1_485->is_open()) {
        reconnect_timer->stop();
        return;
    }
    std::string away;
    if (!reopen_link.isEmpty()) {
        if (!QFileInfo(reopen_link).isSymLink() && !QFileInfo::exists(reopen_link))
            away = reopen_link.toStdString() + " 不存在";
    } else if (!reopen_device.empty() && resolve_port_name(SComm1_485->CommName()) != reopen_device) {
        away = reopen_device + " 不存在";
    }
    if (!away.empty()) {
        if (reconnect_reason != away) {
            reconnect_reason = away;
            event_log::write("串口", "等待串口 " + SComm1_485->CommName() + "：" + away);
        }
        return;
    }
    try {
        SComm1_485->OpenComm();
    } catch (const ECommsError& e) {
        // Still away: say so once per reason, not at every try.
        if (reconnect_reason != e.what()) {
            reconnect_reason = e.what();
            event_log::write("串口", "等待串口 " + SComm1_485->CommName() + "：" + reconnect_reason);
        }
        return;
    }
    port_opened(QStringLiteral("已重新打开"));
}
