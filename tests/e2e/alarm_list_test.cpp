// The alarm list of the whole station against the simulated bus: an
// instrument raises LoAL and the sensor-break bit; the window lists and
// sounds both, the operator acknowledges one, the other clears
// unacknowledged and stays unacknowledged across a restart, 全部确认 empties
// the list, and alarm_log keeps who acknowledged what and when.
#include "active_alarms.h"
#include "e2e_fixture.h"

#include <QLabel>
#include <QPushButton>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTableView>

namespace {

class AlarmListE2E : public StationE2E {
protected:
    // "address alarm state" per line of 报警一览.
    QStringList listed_alarms() const
    {
        QStringList out;
        const ActiveAlarmModel* m = form->active_alarm_page->model();
        for (int r = 0; r < m->rowCount(); ++r)
            out << m->index(r, ActiveAlarmModel::ColAddress).data().toString() + QLatin1Char(' ')
                    + m->index(r, ActiveAlarmModel::ColAlarm).data().toString() + QLatin1Char(' ')
                    + m->index(r, ActiveAlarmModel::ColState).data().toString();
        return out;
    }
    bool listed_as(const QStringList& lines, int ms)
    {
        return until([&] { return listed_alarms() == lines; }, ms);
    }
    int row_of(const QString& alarm) const
    {
        const ActiveAlarmModel* m = form->active_alarm_page->model();
        for (int r = 0; r < m->rowCount(); ++r)
            if (m->lines()[static_cast<std::size_t>(r)].alarm == alarm)
                return r;
        return -1;
    }
    // Rows of alarm_log as "alarm raised action acked_by", read on a connection of our own.
    QStringList log_rows(const QString& where)
    {
        QStringList out;
        const QString name = QStringLiteral("alarm_e2e_reader");
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
            db.setDatabaseName(dir.filePath(QStringLiteral("control_db.sqlite")));
            EXPECT_TRUE(db.open());
            QSqlQuery q(db);
            EXPECT_TRUE(
                q.exec(QStringLiteral("SELECT alarm, raised, coalesce(action, '-'), coalesce(acked_by, '-'), "
                                      "acked_at IS NOT NULL FROM alarm_log %1 ORDER BY id")
                           .arg(where)));
            while (q.next())
                out << QStringLiteral("%1 %2 %3 %4 %5")
                           .arg(q.value(0).toString(), q.value(1).toString(), q.value(2).toString(),
                               q.value(3).toString(),
                               q.value(4).toBool() ? QStringLiteral("acked") : QStringLiteral("open"));
        }
        QSqlDatabase::removeDatabase(name);
        return out;
    }
};

} // namespace

TEST_F(AlarmListE2E, LoalAndSensorBreakAreListedAcknowledgedAndSurviveARestart)
{
    start({ 1 });
    // Running, with every other alarm limit far away, so that only LoAL
    // and the sensor break come and go.
    bus->set_run_state(1, 0);
    for (int code : { 3, 5, 6 })
        bus->set_param(1, code, 9000);
    bus->set_param(1, 24, 0);
    bus->set_param(1, 25, 500);
    bus->set_param(1, 51, 20);
    bus->set_pv(1, 20);
    bus->set_param(1, 4, 9000); // LoAL above the process value, and above the range: it stays on in a break
    int sounded = 0;
    form->beep = [&] { ++sounded; };
    scan(QStringLiteral("2"), 15000);
    ASSERT_FALSE(HasFatalFailure());
    ASSERT_TRUE(listed_as({ "1# LoAL 报警未确认" }, 10000)) << listed_alarms().join('|').toStdString();
    bus->set_sensor_break(1, true);
    ASSERT_TRUE(listed_as({ "1# oraL 报警未确认", "1# LoAL 报警未确认" }, 10000))
        << listed_alarms().join('|').toStdString();
    EXPECT_TRUE(form->alarms.sounding);
    EXPECT_GE(sounded, 2);
    EXPECT_TRUE(form->status_alarms->text().contains("未确认报警 2 条"))
        << form->status_alarms->text().toStdString();

    // 确认 on LoAL; the sensor comes back while its alarm is unacknowledged.
    form->active_alarm_page->table()->selectRow(row_of("LoAL"));
    form->active_alarm_page->ack_button()->click();
    bus->set_sensor_break(1, false);
    ASSERT_TRUE(listed_as({ "1# oraL 已恢复未确认", "1# LoAL 报警已确认" }, 10000))
        << listed_alarms().join('|').toStdString();
    const QString user = TForm1::desktop_user();
    EXPECT_EQ(
        form->active_alarm_page->model()->index(row_of("LoAL"), ActiveAlarmModel::ColUser).data().toString(),
        user);
    EXPECT_TRUE(form->status_alarms->text().contains("未确认报警 1 条"));

    // A restart: the unacknowledged alarm is still unacknowledged.
    make_form(true);
    form = owned_form.get();
    sync();
    EXPECT_EQ(listed_alarms(), QStringList({ "1# oraL 已恢复未确认", "1# LoAL 报警已确认" }));
    EXPECT_TRUE(form->alarms.sounding);
    form->beep = [] {};

    // 全部确认; LoAL clears, acknowledged, and leaves: the list is empty.
    form->active_alarm_page->ack_all_button()->click();
    ASSERT_TRUE(listed_as({ "1# LoAL 报警已确认" }, 5000)) << listed_alarms().join('|').toStdString();
    bus->set_param(1, 4, -1000);
    ASSERT_TRUE(listed_as({}, 15000)) << listed_alarms().join('|').toStdString();
    EXPECT_FALSE(form->status_alarms->text().contains("未确认"));

    EXPECT_EQ(log_rows("WHERE alarm IN ('LoAL', 'oraL')"),
        QStringList({ "LoAL 1 - " + user + " acked", "oraL 1 - " + user + " acked",
            "LoAL 1 ack " + user + " acked", "oraL 0 - " + user + " acked", "oraL 0 ack " + user + " acked",
            "LoAL 0 - " + user + " acked" }));
    EXPECT_EQ(log_rows("WHERE acked_at IS NULL"), QStringList());
}
