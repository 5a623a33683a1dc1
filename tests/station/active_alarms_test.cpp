// The page 报警一览 and the annunciation in the window: what the engine
// lists is shown in its order and colours, unacknowledged lines and the
// status bar's count flash, the buttons reach the engine in the desktop
// user's name, and the sound repeats until silenced or acknowledged.
#include "active_alarms.h"
#include "form_fixture.h"

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QTimer>

namespace {

class ActiveAlarms : public FormFixture {
protected:
    void raise(int address, const char* alarm, bool raised = true)
    {
        Engine& e = engine();
        now = now.addSecs(1);
        e.record_alarm_events(
            { e.alarm_board.transition(address, QString::fromLatin1(alarm), raised, now) }, raised);
    }
    // "address alarm state" per line of a table's model.
    static QStringList rows(const ActiveAlarmModel* m)
    {
        QStringList out;
        for (int r = 0; r < m->rowCount(); ++r)
            out << m->index(r, ActiveAlarmModel::ColAddress).data().toString() + QLatin1Char(' ')
                    + m->index(r, ActiveAlarmModel::ColAlarm).data().toString() + QLatin1Char(' ')
                    + m->index(r, ActiveAlarmModel::ColState).data().toString();
        return out;
    }
    QDateTime now = QDateTime(QDate(2026, 3, 1), QTime(3, 0, 0));
};

} // namespace

TEST_F(ActiveAlarms, ListsAcknowledgesSilencesAndShelves)
{
    TForm1& form = make_form();
    int sounded = 0;
    form.beep = [&] { ++sounded; };
    engine().alarm_clock = [this] { return now; };
    ActiveAlarmPage* page = form.active_alarm_page;
    ASSERT_NE(page, nullptr);
    EXPECT_EQ(form.PageControl1->tabText(form.PageControl1->indexOf(form.TabSheet_active)), "报警一览");
    EXPECT_FALSE(form.status_alarms->isVisibleTo(&form));
    form.PageControl1->setCurrentIndex(0);
    form.findChild<QAction*>(QStringLiteral("active_alarms_item"))->trigger();
    EXPECT_EQ(form.PageControl1->currentWidget(), form.TabSheet_active);

    raise(3, "LoAL");
    raise(3, "oraL");
    raise(3, "LoAL", false);
    EXPECT_EQ(rows(page->model()), QStringList({ "3# oraL 报警未确认", "3# LoAL 已恢复未确认" }));
    EXPECT_EQ(page->model()->index(1, ActiveAlarmModel::ColCleared).data().toString(), "2026-03-01 03:00:03");
    EXPECT_TRUE(form.status_alarms->isVisibleTo(&form));
    EXPECT_TRUE(form.status_alarms->text().contains("未确认报警 2 条"));
    EXPECT_EQ(sounded, 2) << "each new alarm is heard at once";
    form.alarm_beep_tick();
    EXPECT_EQ(sounded, 3);

    // Unacknowledged lines and the count flash.
    const QModelIndex first = page->model()->index(0, 0);
    const QColor lit = first.data(Qt::BackgroundRole).value<QColor>();
    EXPECT_EQ(lit, ActiveAlarmModel::state_colour(AlarmState::ActiveUnacked));
    const QString bar_lit = form.status_alarms->styleSheet();
    page->flash_tick();
    form.alarm_flash_tick();
    EXPECT_NE(first.data(Qt::BackgroundRole).value<QColor>(), lit);
    EXPECT_NE(form.status_alarms->styleSheet(), bar_lit);

    // 消音: the sound stops, the alarms stay unacknowledged.
    page->silence_button()->click();
    form.alarm_beep_tick();
    EXPECT_EQ(sounded, 3);
    EXPECT_TRUE(form.status_alarms->text().contains("已消音"));
    EXPECT_EQ(engine().alarms_shown().unacked, 2);

    // 确认 of the selected line, in the desktop user's name.
    page->table()->selectRow(1);
    page->ack_button()->click();
    EXPECT_EQ(rows(page->model()), QStringList({ "3# oraL 报警未确认" }))
        << "acknowledged and gone: it leaves";
    EXPECT_TRUE(form.status_alarms->text().contains("未确认报警 1 条"));

    // A new alarm sounds again.
    raise(4, "HIAL");
    EXPECT_EQ(sounded, 4);

    // 屏蔽 with the reason the dialog gave; listed apart.
    page->ask_shelve = [](const AlarmLine&, int& hours, QString& reason) {
        hours = 8;
        reason = QStringLiteral("更换热电偶");
        return true;
    };
    page->table()->selectRow(0);
    page->shelve_button()->click();
    EXPECT_EQ(rows(page->model()), QStringList({ "3# oraL 报警未确认" }));
    ASSERT_EQ(page->shelved_model()->rowCount(), 1);
    EXPECT_TRUE(
        rows(page->shelved_model())[0].startsWith("4# HIAL 已屏蔽至 2026-03-01 11:00:04（更换热电偶）"))
        << rows(page->shelved_model())[0].toStdString();

    page->ack_all_button()->click();
    EXPECT_EQ(rows(page->model()), QStringList({ "3# oraL 报警已确认" }));
    EXPECT_EQ(page->model()->index(0, ActiveAlarmModel::ColUser).data().toString(), TForm1::desktop_user());
    EXPECT_FALSE(TForm1::desktop_user().isEmpty());
    EXPECT_FALSE(form.status_alarms->text().contains("未确认"));
    EXPECT_EQ(form.alarm_flash_timer->isActive(), false);

    page->shelved_table()->selectRow(0);
    page->unshelve_button()->click();
    EXPECT_EQ(page->shelved_model()->rowCount(), 0);
    EXPECT_EQ(rows(page->model()), QStringList({ "4# HIAL 报警未确认", "3# oraL 报警已确认" }));
}

// The addresses whose alarms do not sound, typed on the page: a word that is
// no address 0..90 is named and nothing is sent; a good list reaches the
// engine, and a quiet address's line says so.
TEST_F(ActiveAlarms, QuietAddressesAreTypedOnThePage)
{
    TForm1& form = make_form();
    form.beep = [] {};
    ActiveAlarmPage* page = form.active_alarm_page;
    page->quiet_edit()->setText(QStringLiteral("3，x7"));
    page->quiet_button()->click();
    EXPECT_TRUE(page->findChild<QLabel*>(QStringLiteral("alarm_quiet_hint"))->text().contains("x7"));
    EXPECT_TRUE(engine().alarms_shown().quiet.empty());
    page->quiet_edit()->setText(QStringLiteral(" 7 3，90"));
    page->quiet_button()->click();
    EXPECT_EQ(engine().alarms_shown().quiet, std::set<int>({ 3, 7, 90 }));
    EXPECT_EQ(page->quiet_edit()->text(), "3, 7, 90");
    raise(3, "HIAL");
    EXPECT_EQ(rows(page->model()), QStringList({ "3# HIAL 报警未确认（不发声）" }));
    EXPECT_FALSE(form.alarms.sounding);
    EXPECT_TRUE(form.status_alarms->text().contains("未确认报警 1 条"));
}
