// The active-alarm list as pure logic: states, order, acknowledgement,
// sound, shelving against a clock of the test's, floods.
#include "alarm_board.h"

#include <gtest/gtest.h>

#include <QStringList>

namespace {

const QDateTime t0 = QDateTime(QDate(2026, 3, 1), QTime(3, 0, 0));

// "address alarm state" per listed line, in the board's order.
QStringList listed(const AlarmBoard& b)
{
    QStringList out;
    for (const AlarmLine& l : b.lines())
        out << QStringLiteral("%1 %2 %3").arg(l.address).arg(l.alarm, alarm_state_key(l.state()));
    return out;
}

} // namespace

// Raised alarms are listed unacknowledged, newest first; an acknowledged one
// stays while active and sorts after the unacknowledged ones; a cleared one
// stays until acknowledged; an acknowledged one that clears leaves, its
// clearing row carrying the acknowledgement.
TEST(AlarmBoard, WalksAnAlarmThroughItsStates)
{
    AlarmBoard b;
    EXPECT_EQ(b.transition(3, "LoAL", true, t0).state, "active_unacked");
    b.transition(3, "oraL", true, t0.addSecs(1));
    b.transition(5, "HIAL", true, t0.addSecs(2));
    EXPECT_EQ(listed(b),
        QStringList({ "5 HIAL active_unacked", "3 oraL active_unacked", "3 LoAL active_unacked" }));
    EXPECT_EQ(b.unacked_count(), 3);
    EXPECT_TRUE(b.sounding());

    const auto ack = b.acknowledge(3, "LoAL", "zhang", t0.addSecs(10));
    ASSERT_TRUE(ack);
    EXPECT_EQ(ack->action, AlarmAction::Acknowledge);
    EXPECT_EQ(ack->state, "active_acked");
    EXPECT_EQ(ack->acked_by, "zhang");
    EXPECT_FALSE(b.acknowledge(3, "LoAL", "li", t0.addSecs(11))) << "acknowledged twice";
    EXPECT_FALSE(b.acknowledge(9, "LoAL", "li", t0.addSecs(11))) << "not listed";

    EXPECT_EQ(b.transition(3, "oraL", false, t0.addSecs(20)).state, "cleared_unacked");
    EXPECT_EQ(
        listed(b), QStringList({ "5 HIAL active_unacked", "3 oraL cleared_unacked", "3 LoAL active_acked" }));

    const AlarmEvent gone = b.transition(3, "LoAL", false, t0.addSecs(30));
    EXPECT_EQ(gone.state, "cleared");
    EXPECT_EQ(gone.acked_by, "zhang");
    EXPECT_EQ(gone.acked_at, t0.addSecs(10));
    EXPECT_EQ(listed(b), QStringList({ "5 HIAL active_unacked", "3 oraL cleared_unacked" }));

    const auto all = b.acknowledge_all("li", t0.addSecs(40));
    ASSERT_EQ(all.size(), 2u);
    EXPECT_EQ(listed(b), QStringList({ "5 HIAL active_acked" }));
    EXPECT_EQ(b.unacked_count(), 0);
    EXPECT_FALSE(b.sounding());
    // Raised again after an acknowledgement, it asks for one again.
    b.transition(5, "HIAL", false, t0.addSecs(50));
    b.transition(5, "HIAL", true, t0.addSecs(60));
    EXPECT_EQ(listed(b), QStringList({ "5 HIAL active_unacked" }));
}

// 消音 stops the sound but acknowledges nothing; a new alarm sounds again,
// unless its address has annunciation off (it is listed all the same).
TEST(AlarmBoard, SilenceHoldsUntilANewAlarm)
{
    AlarmBoard b;
    b.set_quiet_addresses({ 7 });
    b.transition(1, "HIAL", true, t0);
    b.silence();
    EXPECT_FALSE(b.sounding());
    EXPECT_EQ(b.unacked_count(), 1);
    b.transition(7, "LoAL", true, t0.addSecs(5));
    EXPECT_FALSE(b.sounding()) << "a quiet address raised it";
    EXPECT_EQ(b.unacked_count(), 2);
    b.transition(1, "LoAL", true, t0.addSecs(6));
    EXPECT_TRUE(b.sounding());
    b.acknowledge(1, "HIAL", "u", t0.addSecs(7));
    b.acknowledge(1, "LoAL", "u", t0.addSecs(7));
    EXPECT_FALSE(b.sounding()) << "only the quiet address's alarm is unacknowledged";
    EXPECT_EQ(b.unacked_count(), 1);
}

// A shelved alarm is listed last, neither counted nor sounded, and comes
// back on its own when the time runs out, by the caller's clock.
TEST(AlarmBoard, ShelveRunsOutByTheClock)
{
    AlarmBoard b;
    b.transition(2, "HdAL", true, t0);
    b.transition(4, "LdAL", true, t0.addSecs(1));
    EXPECT_FALSE(b.shelve(9, "HdAL", std::chrono::hours(1), "x", "u", t0)) << "not listed";
    const auto s = b.shelve(2, "HdAL", std::chrono::hours(1), "检修炉门", "wang", t0.addSecs(2));
    ASSERT_TRUE(s);
    EXPECT_EQ(s->state, "shelved");
    EXPECT_EQ(s->note, "检修炉门");
    EXPECT_EQ(s->until, t0.addSecs(2 + 3600));
    EXPECT_EQ(listed(b), QStringList({ "4 LdAL active_unacked", "2 HdAL shelved" }));
    EXPECT_EQ(b.unacked_count(), 1);
    EXPECT_TRUE(b.acknowledge_all("u", t0.addSecs(3)).size() == 1) << "全部确认 leaves shelved alarms alone";
    EXPECT_FALSE(b.sounding());

    EXPECT_TRUE(b.expire(t0.addSecs(3601)).empty());
    const auto back = b.expire(t0.addSecs(3602));
    ASSERT_EQ(back.size(), 1u);
    EXPECT_EQ(back[0].action, AlarmAction::Unshelve);
    EXPECT_EQ(back[0].state, "active_unacked");
    EXPECT_TRUE(b.sounding());
    EXPECT_EQ(listed(b), QStringList({ "2 HdAL active_unacked", "4 LdAL active_acked" }));

    // Cleared and acknowledged while shelved, it leaves when unshelved.
    b.shelve(2, "HdAL", std::chrono::hours(8), "x", "u", t0.addSecs(4000));
    b.transition(2, "HdAL", false, t0.addSecs(4001));
    b.acknowledge(2, "HdAL", "u", t0.addSecs(4002));
    EXPECT_EQ(listed(b), QStringList({ "4 LdAL active_acked", "2 HdAL shelved" }));
    EXPECT_EQ(b.unshelve(2, "HdAL", "u", t0.addSecs(4003))->state, "cleared");
    EXPECT_EQ(listed(b), QStringList({ "4 LdAL active_acked" }));
}

// More than ten transitions of one alarm within a minute stay one line with
// the count, and the returns past the tenth do not start the sound again.
TEST(AlarmBoard, FloodIsOneLineWithACount)
{
    AlarmBoard b;
    for (int i = 0; i < 12; ++i) {
        b.transition(6, "HIAL", i % 2 == 0, t0.addSecs(i * 2));
        if (i == 9)
            b.silence();
    }
    // The eleventh transition raised it again: flood from there on.
    ASSERT_EQ(b.lines().size(), 1u);
    EXPECT_EQ(b.lines()[0].recent, 12);
    EXPECT_TRUE(b.lines()[0].flood());
    EXPECT_FALSE(b.sounding());
    // A minute later the count starts afresh and a return sounds again.
    b.transition(6, "HIAL", true, t0.addSecs(200));
    EXPECT_EQ(b.lines()[0].recent, 1);
    EXPECT_TRUE(b.sounding());
}
