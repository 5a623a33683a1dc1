// The active-alarm list of the engine: what the transitions of the
// instruments leave open, the operator's acknowledgements, silence and
// shelves, and their expiry. Every change goes to the event log and, through
// the row queue (so that alarm_log keeps the order of transitions and
// actions), to alarm_log and to the broker.
#include "engine.h"

#include "alarm_log.h"
#include "errors.h"
#include "public_set.h"
#include "row_queue.h"
#include "station_settings.h"
#include "status_bits.h"

#include <QTimer>

namespace {

std::string who(const QString& user)
{
    return user.isEmpty() ? std::string("未知用户") : user.toStdString();
}

std::string label(const AlarmEvent& e)
{
    return std::to_string(e.address) + "# " + e.alarm.toStdString() + " ";
}

// The state after the event, and when it happened: with the time, a return
// of the same alarm is a message of its own, not a repeat of the last one.
std::string state_text(const AlarmEvent& e)
{
    return "（" + alarm_state_text(alarm_state_of(e.state)).toStdString() + " " + e.state.toStdString()
        + "），" + e.when.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz")).toStdString();
}

} // namespace

void Engine::record_alarm_events(const std::vector<AlarmEvent>& events, bool new_alarm)
{
    if (events.empty())
        return;
    for (const AlarmEvent& e : events) {
        switch (e.action) {
        case AlarmAction::Transition: {
            // A flood is said once when it begins; its later returns are
            // logged in alarm_log only.
            const AlarmLine* line = alarm_board.find(e.address, e.alarm);
            const int recent = line ? line->recent : 0;
            if (recent == AlarmBoard::kFloodTransitions + 1)
                messages.warning("报警",
                    label(e) + "一分钟内变化超过 " + std::to_string(AlarmBoard::kFloodTransitions)
                        + " 次，合并为一行计数" + state_text(e));
            else if (recent <= AlarmBoard::kFloodTransitions) {
                if (e.raised)
                    messages.warning("报警", label(e) + "报警出现" + state_text(e));
                else
                    messages.info("报警", label(e) + "报警消失" + state_text(e));
            }
            break;
        }
        case AlarmAction::Acknowledge:
            messages.info("报警", label(e) + "已确认，确认人 " + who(e.acked_by) + state_text(e));
            break;
        case AlarmAction::Shelve:
            messages.info("报警",
                label(e) + "屏蔽至 " + e.until.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")).toStdString()
                    + "，原因：" + e.note.toStdString() + "，操作人 " + who(e.acked_by) + state_text(e));
            break;
        case AlarmAction::Unshelve:
            messages.info("报警",
                label(e)
                    + (e.acked_by.isEmpty() ? std::string("屏蔽到期，恢复报警")
                                            : "解除屏蔽，操作人 " + who(e.acked_by))
                    + state_text(e));
            break;
        }
    }
    row_queue->append_alarms(events);
    AlarmsShown shown = alarms_shown();
    shown.new_alarm = new_alarm && shown.sounding;
    Q_EMIT alarms_changed(shown);
}

AlarmsShown Engine::alarms_shown() const
{
    AlarmsShown shown;
    shown.lines = alarm_board.lines();
    shown.unacked = alarm_board.unacked_count();
    shown.sounding = alarm_board.sounding();
    shown.silenced = alarm_board.silenced();
    shown.quiet = alarm_board.quiet_addresses();
    return shown;
}

void Engine::restore_alarms()
{
    alarm_board.set_quiet_addresses(station_settings->quiet_alarm_addresses());
    alarm_board.restore(alarm_log->open_alarms());
    for (const AlarmLine& line : alarm_board.lines()) {
        if (!line.active)
            continue;
        for (int bit = kFirstAlarmBit; bit < kFirstAlarmBit + kAlarmBitCount; ++bit) {
            const std::string_view name = alarm_name(bit);
            if (line.alarm == QLatin1String(name.data(), static_cast<qsizetype>(name.size())))
                alarm_watch.assume_set(line.address, bit);
        }
    }
    if (const int n = alarm_board.unacked_count(); n > 0)
        messages.warning("报警", "上次运行留下 " + std::to_string(n) + " 条未确认的报警");
}

void Engine::acknowledge_alarm(int address, const QString& alarm, const QString& user)
{
    if (const auto e = alarm_board.acknowledge(address, alarm, user, alarm_clock()))
        record_alarm_events({ *e });
}

void Engine::acknowledge_all_alarms(const QString& user)
{
    record_alarm_events(alarm_board.acknowledge_all(user, alarm_clock()));
}

void Engine::silence_alarms()
{
    alarm_board.silence();
    messages.info("报警", "消音（报警仍未确认）");
    Q_EMIT alarms_changed(alarms_shown());
}

void Engine::shelve_alarm(
    int address, const QString& alarm, int hours, const QString& reason, const QString& user)
{
    if (hours != 1 && hours != 8)
        throw EStationError("屏蔽时长只能是 1 小时或 8 小时");
    if (reason.trimmed().isEmpty())
        throw EStationError("屏蔽须填写原因");
    if (const auto e = alarm_board.shelve(
            address, alarm, std::chrono::hours(hours), reason.trimmed(), user, alarm_clock()))
        record_alarm_events({ *e });
}

void Engine::unshelve_alarm(int address, const QString& alarm, const QString& user)
{
    if (const auto e = alarm_board.unshelve(address, alarm, user, alarm_clock()))
        record_alarm_events({ *e }, true);
}

void Engine::alarm_tick()
{
    record_alarm_events(alarm_board.expire(alarm_clock()), true);
}

void Engine::set_quiet_alarm_addresses(const std::set<int>& addresses)
{
    for (int a : addresses)
        if (a < 0 || a > kMaxAddress)
            throw EStationError("不发声的地址须在 0..90 之间：" + std::to_string(a));
    alarm_board.set_quiet_addresses(addresses);
    std::string list;
    for (int a : addresses)
        list += (list.empty() ? "" : ", ") + std::to_string(a);
    messages.info("报警", "不发声的地址：" + (list.empty() ? std::string("无") : list));
    Q_EMIT alarms_changed(alarms_shown());
    station_settings->set_quiet_alarm_addresses(addresses);
}
