// The serial link the operator wants: opening the port, its hang-up, and
// reopening it by itself once the device is back.
#include "engine.h"

#include "errors.h"
#include "port_list.h"
#include "public_set.h"
#include "scomm.h"

#include <QDir>
#include <QFileInfo>
#include <QTimer>

namespace {

// "com1（/dev/pts/3）": the name and the device it opened or stands for.
std::string port_text(const TSComm& comm)
{
    const std::string device = comm.opened_device().empty() ? resolve_port_name(comm.CommName()) : comm.opened_device();
    return comm.CommName() + "（" + device + "）";
}

} // namespace

LinkShown Engine::link_shown() const
{
    LinkShown l;
    l.comm_name = QString::fromStdString(SComm1_485->CommName());
    const std::string& opened = SComm1_485->opened_device();
    l.device = QString::fromStdString(opened.empty() ? resolve_port_name(SComm1_485->CommName()) : opened);
    l.open = SComm1_485->is_open();
    l.state = link_state.isEmpty() ? (l.open ? QStringLiteral("已打开") : QStringLiteral("未打开")) : link_state;
    l.baud = SComm1_485->BaudRate();
    const PortTarget target = resolve_port(SComm1_485->CommName());
    const QString device = target.device.empty()
        ? QStringLiteral("无此设备：") + QString::fromStdString(target.why_none)
        : QString::fromStdString(target.node);
    l.port_label = l.comm_name + QStringLiteral(" → ") + device
        + (l.open ? QStringLiteral("（已打开）") : QStringLiteral("（未打开）"));
    return l;
}

void Engine::report_link() { Q_EMIT link_changed(link_shown()); }

void Engine::open_port()
{
    port_wanted = true;
    SComm1_485->CloseComm();
    SComm1_485->SetCommName(open_name_.toStdString());
    try {
        if (open_name_.isEmpty())
            throw ECommsError("无法打开串口\n没有选择串口：设置文件中的串口编号没有对应的设备，请在“系统设置”中选择串口");
        SComm1_485->OpenComm();
    } catch (const ECommsError& e) {
        reconnect_reason = e.what();
        link_state = QStringLiteral("未打开，等待设备");
        messages.error("串口", "串口 " + SComm1_485->CommName() + " 未能打开：" + reconnect_reason);
        if (!open_name_.isEmpty())
            reconnect_timer->start();
        report_link();
        throw;
    }
    port_opened(QStringLiteral("已打开"));
}

void Engine::port_opened(const QString& state)
{
    reconnect_timer->stop();
    reconnect_reason.clear();
    // What to wait for after a hang-up: the same link in the data folder
    // (the simulator, or a link the operator made, may point it at a new
    // device), else the same device path; never whatever else the name
    // might stand for once the device is gone.
    const QFileInfo link(data_file(QString::fromStdString(SComm1_485->CommName())));
    reopen_link = link.isSymLink() || link.exists() ? link.absoluteFilePath() : QString();
    reopen_device = SComm1_485->opened_device();
    link_state = state;
    messages.info("串口", "串口 " + port_text(*SComm1_485) + state.toStdString() + "，波特率 "
            + std::to_string(SComm1_485->BaudRate()));
    report_link();
}

void Engine::SComm1_485RequestHangup(TSComm*)
{
    // The name of the device that was open: resolving the name again would
    // give whatever it stands for now that the device is gone.
    const std::string what = port_text(*SComm1_485);
    SComm1_485->CloseComm();
    Q_EMIT comm_led(false);
    link_state = QStringLiteral("已断开，等待设备");
    reconnect_reason = "已断开";
    messages.error("串口", "串口 " + what + "已断开（转换器被拔出或线路中断），等待设备恢复后自动重新打开");
    report_link();
    if (port_wanted)
        reconnect_timer->start();
}

void Engine::reconnect_tick()
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
            messages.warning("串口", "等待串口 " + SComm1_485->CommName() + "：" + away);
        }
        return;
    }
    try {
        SComm1_485->OpenComm();
    } catch (const ECommsError& e) {
        // Still away: say so once per reason, not at every try.
        if (reconnect_reason != e.what()) {
            reconnect_reason = e.what();
            messages.warning("串口", "等待串口 " + SComm1_485->CommName() + "：" + reconnect_reason);
        }
        return;
    }
    port_opened(QStringLiteral("已重新打开"));
}
