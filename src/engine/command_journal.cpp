// The journal of commands sent to instruments: each command is a line of the
// event log and a row of command_log, added when its frame goes out and
// given its result when the reply is decided and, for a set value or a
// manual output, when the read-back is judged.
#include "engine.h"

#include "command_log.h"
#include "errors.h"
#include "event_log.h"
#include "param_verify.h"

#include <QDateTime>

#include <algorithm>

namespace {

// "给定值 123.45", "STOP": the command and its value for messages.
std::string command_text(const Engine::SentCommand& c)
{
    std::string text = "仪表 " + std::to_string(c.address) + " " + c.name.toStdString();
    if (c.value)
        text += " " + QString::number(*c.value, 'g', 7).toStdString();
    return text;
}

} // namespace

void Engine::record_command(int address, int code, RequestKind kind, const QString& name,
    std::optional<double> value)
{
    SentCommand sent { 0, address, code, kind, name, value };
    if (command_log) {
        try {
            sent.id = command_log->add({ 0, QDateTime::currentDateTime(), address, name, value,
                QStringLiteral("已发送") });
        } catch (const EStationError& e) {
            // The command goes out all the same; the event log still has it.
            messages.warning("数据库", e.what());
        }
    }
    event_log::write("控制", "发送命令：" + command_text(sent));
    commands_in_flight.push_back(sent);
}

void Engine::set_command_result(const SentCommand& command, const QString& result)
{
    // The event log keeps every command and the command record lists them;
    // a command that went wrong is no refusal of the operator's and opens no
    // box.
    event_log::write("控制", "命令结果：" + command_text(command) + "：" + result.toStdString());
    if (!command_log || command.id == 0)
        return;
    try {
        command_log->set_result(command.id, result);
    } catch (const EStationError& e) {
        messages.warning("数据库", e.what());
    }
}

void Engine::note_command_outcome(const ReplyOutcome& outcome, bool check_ok)
{
    const LineRequest& request = outcome.request;
    if (request.kind != RequestKind::Command && request.kind != RequestKind::SetupWrite)
        return;
    auto it = std::find_if(commands_in_flight.begin(), commands_in_flight.end(), [&](const SentCommand& c) {
        return c.kind == request.kind && c.address == request.address && c.code == request.code;
    });
    if (it == commands_in_flight.end())
        return;
    const SentCommand command = *it;
    commands_in_flight.erase(it);
    if (!request.sent) {
        set_command_result(command, QStringLiteral("未发出（串口未打开）"));
        return;
    }
    switch (outcome.result) {
    case ReplyOutcome::Result::NoReply:
        set_command_result(command, QStringLiteral("无应答"));
        return;
    case ReplyOutcome::Result::Voided:
        set_command_result(command, QStringLiteral("应答无法辨认，已作废"));
        return;
    case ReplyOutcome::Result::Reply:
        break;
    }
    if (!check_ok) {
        set_command_result(command, QStringLiteral("应答校验错误"));
        return;
    }
    if (request.kind == RequestKind::Command && (command.code == 0 || command.code == 51)) {
        set_command_result(command, QStringLiteral("已应答，正在读回核对"));
        commands_checking.push_back(command);
        return;
    }
    set_command_result(command, QStringLiteral("已应答"));
}

void Engine::note_command_check(const ReadbackCheck& check)
{
    auto it = std::find_if(commands_checking.begin(), commands_checking.end(), [&](const SentCommand& c) {
        return c.address == check.write.address && c.code == check.write.code;
    });
    if (it == commands_checking.end())
        return;
    const SentCommand command = *it;
    commands_checking.erase(it);
    switch (check.verdict) {
    case ReadbackCheck::Verdict::Verified:
        set_command_result(command, QStringLiteral("已应答，读回核对一致"));
        return;
    case ReadbackCheck::Verdict::Mismatch:
        set_command_result(command,
            QStringLiteral("已应答，读回核对不符：") + QString::fromStdString(check.text()));
        return;
    case ReadbackCheck::Verdict::Unverified:
        set_command_result(command,
            QStringLiteral("已应答，未能读回核对：") + QString::fromStdString(check.text()));
        return;
    }
}
