// The engine's active-alarm list: transitions from poll replies, the
// operator's acknowledgements and shelves, what alarm_log and the event log
// keep of them, and what a restart brings back.
#include "engine_fixture.h"

#include "errors.h"

namespace {

class AlarmList : public EngineFixture {
protected:
    void poll_reply(int address, int status)
    {
        answer(RequestKind::Poll, address, 0, reply_counts(0, 0, 0, status, 0));
    }
    // "address alarm state acked_by" per line.
    QStringList listed()
    {
        QStringList out;
        for (const AlarmLine& l : engine().alarm_board.lines())
            out << QStringLiteral("%1 %2 %3 %4")
                       .arg(l.address)
                       .arg(l.alarm, alarm_state_key(l.state()), l.acked_by);
        return out;
    }
    QString log_rows()
    {
        return db_value(QStringLiteral("SELECT group_concat(address || ' ' || alarm || ' ' || raised || ' ' "
                                       "|| coalesce(action, '-') || ' ' "
                                       "|| coalesce(state, '-') || ' ' || coalesce(acked_by, '-'), ';') FROM "
                                       "(SELECT * FROM alarm_log ORDER BY id)"))
            .toString();
    }
};

constexpr int kLoAL = 0x20;
constexpr int kOraL = 0x80; // sensor break: the input is over range

} // namespace

// LoAL and the sensor-break bit come; one is acknowledged by the desktop's
// user, the other clears unacknowledged. alarm_log holds every transition
// and action with the state after it, and the acknowledgement on the rows
// it covers. After a restart the unacknowledged alarm is still
// unacknowledged, the acknowledged one still acknowledged, and the first
// reply that still carries them raises nothing new.
TEST_F(AlarmList, AcknowledgementsAreLoggedAndARestartKeepsTheUnacknowledged)
{
    Engine& e = start_engine();
    std::vector<AlarmsShown> reports;
    QObject::connect(&e, &Engine::alarms_changed, [&](const AlarmsShown& a) { reports.push_back(a); });
    enable({ 1 });
    poll_reply(1, kLoAL | kOraL);
    ASSERT_FALSE(reports.empty());
    EXPECT_EQ(reports.back().unacked, 2);
    EXPECT_TRUE(reports.back().sounding);
    EXPECT_TRUE(reports.back().new_alarm);

    e.acknowledge_alarm(1, "LoAL", "zhang");
    poll_reply(1, kLoAL); // the sensor is back
    EXPECT_EQ(listed(), QStringList({ "1 oraL cleared_unacked ", "1 LoAL active_acked zhang" }));
    EXPECT_EQ(log_rows(),
        "1 LoAL 1 - active_unacked zhang;1 oraL 1 - active_unacked -;1 LoAL 1 ack active_acked zhang;"
        "1 oraL 0 - cleared_unacked -");
    EXPECT_TRUE(in_event_log("1# LoAL 已确认，确认人 zhang"));
    EXPECT_TRUE(in_event_log("1# oraL 报警出现"));

    stop_engine();
    Engine& again = start_engine();
    enable({ 1 });
    EXPECT_EQ(listed(), QStringList({ "1 oraL cleared_unacked ", "1 LoAL active_acked zhang" }));
    EXPECT_EQ(again.alarms_shown().unacked, 1);
    EXPECT_TRUE(again.alarms_shown().sounding);
    poll_reply(1, kLoAL);
    EXPECT_EQ(db_value("SELECT COUNT(*) FROM alarm_log").toInt(), 4) << "nothing new came";

    again.acknowledge_all_alarms("li");
    poll_reply(1, 0);
    EXPECT_TRUE(listed().isEmpty());
    EXPECT_EQ(db_value("SELECT COUNT(*) FROM alarm_log WHERE acked_at IS NULL").toInt(), 0);
    EXPECT_EQ(
        db_value("SELECT acked_by FROM alarm_log WHERE alarm = 'oraL' AND action IS NULL AND raised = 1")
            .toString(),
        "li");
    EXPECT_EQ(db_value("SELECT state || ' ' || acked_by FROM alarm_log ORDER BY id DESC LIMIT 1").toString(),
        "cleared zhang");
}

// A shelve of 1 or 8 hours with a reason, kept across a restart and ended
// by the engine's clock without waiting; each step is in alarm_log and the
// event log. Other lengths and an empty reason are refused.
TEST_F(AlarmList, AShelveThatRunsOutBringsTheAlarmBack)
{
    Engine& e = start_engine();
    QDateTime now = QDateTime(QDate(2026, 3, 1), QTime(3, 0, 0));
    e.alarm_clock = [&] { return now; };
    enable({ 2 });
    poll_reply(2, kLoAL);
    EXPECT_THROW(e.shelve_alarm(2, "LoAL", 2, "计划停炉", "wang"), EStationError);
    EXPECT_THROW(e.shelve_alarm(2, "LoAL", 1, "  ", "wang"), EStationError);
    e.shelve_alarm(2, "LoAL", 8, "计划停炉", "wang");
    EXPECT_EQ(listed(), QStringList({ "2 LoAL shelved " }));
    EXPECT_FALSE(e.alarms_shown().sounding);
    // The shelve outlives a restart, with its end and reason.
    stop_engine();
    Engine& again = start_engine();
    again.alarm_clock = [&] { return now; };
    enable({ 2 });
    EXPECT_EQ(listed(), QStringList({ "2 LoAL shelved " }));
    ASSERT_NE(again.alarm_board.find(2, "LoAL"), nullptr);
    EXPECT_EQ(again.alarm_board.find(2, "LoAL")->shelve_reason, "计划停炉");
    poll_reply(2, kLoAL);
    now = now.addSecs(8 * 3600 - 1);
    again.alarm_tick();
    EXPECT_EQ(listed(), QStringList({ "2 LoAL shelved " }));
    now = now.addSecs(1);
    again.alarm_tick();
    EXPECT_EQ(listed(), QStringList({ "2 LoAL active_unacked " }));
    EXPECT_TRUE(again.alarms_shown().sounding);
    EXPECT_EQ(log_rows(),
        "2 LoAL 1 - active_unacked -;2 LoAL 1 shelve shelved wang;2 LoAL 1 unshelve active_unacked -");
    EXPECT_EQ(db_value("SELECT note FROM alarm_log WHERE action = 'shelve'").toString(), "计划停炉");
    EXPECT_TRUE(in_event_log("2# LoAL 屏蔽至 2026-03-01 11:00:00，原因：计划停炉，操作人 wang"));
    EXPECT_TRUE(in_event_log("2# LoAL 屏蔽到期，恢复报警"));
}

// An address whose annunciation is off: its alarms are listed, counted and
// logged but never sounded; the choice is kept in station.ini across a
// restart. Addresses outside 0..90 are refused.
TEST_F(AlarmList, QuietAddressesAreListedButNotSoundedAcrossARestart)
{
    Engine& e = start_engine();
    e.set_quiet_alarm_addresses({ 2 });
    EXPECT_THROW(e.set_quiet_alarm_addresses({ 91 }), EStationError);
    enable({ 2 });
    poll_reply(2, kLoAL);
    EXPECT_EQ(e.alarms_shown().unacked, 1);
    EXPECT_FALSE(e.alarms_shown().sounding);
    stop_engine();
    Engine& again = start_engine();
    EXPECT_EQ(again.alarms_shown().quiet, std::set<int>({ 2 }));
    EXPECT_EQ(listed(), QStringList({ "2 LoAL active_unacked " }));
    EXPECT_FALSE(again.alarms_shown().sounding);
    enable({ 3 });
    poll_reply(3, kLoAL);
    EXPECT_TRUE(again.alarms_shown().sounding);
}

// An alarm that chatters: every transition is in alarm_log, the list holds
// one line with the count, and the event log says the flood once instead
// of each return past the tenth.
TEST_F(AlarmList, AFloodIsLoggedWholeButSaidOnce)
{
    Engine& e = start_engine();
    enable({ 3 });
    for (int i = 0; i < 14; ++i)
        poll_reply(3, i % 2 == 0 ? kLoAL : 0);
    EXPECT_EQ(db_value("SELECT COUNT(*) FROM alarm_log WHERE action IS NULL").toInt(), 14);
    ASSERT_EQ(e.alarms_shown().lines.size(), 1u);
    EXPECT_EQ(e.alarms_shown().lines[0].recent, 14);
    const QString log = event_log_text();
    EXPECT_EQ(log.count("3# LoAL 报警出现") + log.count("3# LoAL 报警消失"), 10);
    EXPECT_EQ(log.count("3# LoAL 一分钟内变化超过 10 次"), 1);
}
