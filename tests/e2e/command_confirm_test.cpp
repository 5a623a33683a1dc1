// No command by mistake: the set-value box shows the control address's own
// set value, letters are refused at the box with a message, and neither a
// set value nor a STOP reaches the line before the operator confirms it in
// the real question box. Every command sent is in command_log with its
// result, listed in the dialog "控制命令记录".
#include "e2e_fixture.h"

#include "command_list.h"
#include "command_log.h"
#include "iAnalogOutput.h"
#include "param_grid.h"
#include "station_db.h"
#include "string_grid.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <QTimer>
#include <QToolTip>

#include <cmath>

namespace {

class CommandConfirmE2E : public StationE2E {
protected:
    // Instruments 1 and 3, frozen, without a program; the set values apart.
    void start_two()
    {
        start({ 1, 3 }, 1);
        for (int a : { 1, 3 })
            bus->set_param(a, 40, 0);
        bus->set_param(1, 51, 40.0);
        bus->set_param(3, 51, 80.0);
        scan(QStringLiteral("4"), 15000);
        edit(3, 41, QStringLiteral("0")); // the grid's 程序段数Pno of instrument 3
    }
    void edit(int address, int row, const QString& text)
    {
        const int col = value_column_of(*form->StringGrid1, address);
        ASSERT_GT(col, 0);
        for (int i = 0; i < 2; ++i)
            form->StringGrid1->OnSetEditText(col, row, text);
        sync();
    }
    // Writes the simulator received, applied or not.
    std::uint64_t bus_writes() const
    {
        const aisim::Stats s = bus->stats();
        return s.writes + s.writes_refused + s.writes_ignored;
    }
    // Clicks `button`; when the real question box opens, keeps it open for
    // three sampling periods while the poll goes on, notes the writes the
    // bus saw meanwhile and the box's text, then answers.
    struct Asked {
        QString text;
        std::uint64_t writes_while_open = 0;
        std::uint64_t polls_while_open = 0;
        bool opened = false;
    };
    Asked click_and_answer(QPushButton* button, QMessageBox::StandardButton answer)
    {
        Asked asked_box;
        const std::uint64_t before = bus_writes();
        QTimer::singleShot(100, form, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box)
                return;
            asked_box.opened = true;
            asked_box.text = box->text();
            const std::uint64_t requests = bus->stats().requests;
            wait_for([] { return false; }, 3000);
            asked_box.polls_while_open = bus->stats().requests - requests;
            asked_box.writes_while_open = bus_writes() - before;
            box->button(answer)->click();
        });
        button->click();
        return asked_box;
    }
    std::vector<CommandRecord> commands() const { return CommandLog(form->database()).newest(10); }
};

TEST_F(CommandConfirmE2E, NoSetValueOrStopWithoutConfirmationAndEachIsRecorded)
{
    start_two();
    // The box follows the control address: each instrument's own set value.
    form->ComboBox7->setEditText(QStringLiteral("3"));
    ASSERT_TRUE(until([&] { return std::abs(form->iAnalogOutput2->Value() - 80.0) < 0.01; }, 5000))
        << form->iAnalogOutput2->Value();
    form->ComboBox7->setEditText(QStringLiteral("1"));
    EXPECT_NEAR(form->iAnalogOutput2->Value(), 40.0, 0.01);
    form->ComboBox7->setEditText(QStringLiteral("3"));
    EXPECT_NEAR(form->iAnalogOutput2->Value(), 80.0, 0.01);

    // Letters are refused at the box, with a message; the value stays.
    TiAnalogOutput* box = form->iAnalogOutput2;
    QTest::keyClick(box, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(box, QStringLiteral("abc"));
    QTest::keyClick(box, Qt::Key_Return);
    EXPECT_NEAR(box->Value(), 80.0, 0.01);
    EXPECT_EQ(box->editor()->text(), QStringLiteral("80.00"));
    const QStringList refused = listed_with(QStringLiteral("“给定值”框只收数字"));
    ASSERT_FALSE(refused.isEmpty()) << listed().join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(refused.front().contains(QStringLiteral("仍为 80.00"))) << refused.front().toStdString();

    OperatorPrompts::instance() = real_prompts; // the real question box from here on
    const std::uint64_t writes0 = bus_writes();

    // 给定值 answered "否": nothing is sent, then or later.
    Asked no = click_and_answer(form->Button9, QMessageBox::No);
    ASSERT_TRUE(no.opened);
    EXPECT_EQ(no.text, QStringLiteral("向仪表 3 发送“给定值”：SP1 = 80.00？\n\n按“是”发送，按“否”不发送。"));
    EXPECT_GT(no.polls_while_open, 0u) << "the poll went on while the box was open";
    EXPECT_EQ(no.writes_while_open, 0u);
    wait_for([] { return false; }, 1500);
    EXPECT_EQ(bus_writes(), writes0);
    EXPECT_TRUE(commands().empty());

    // A new value, confirmed: it goes out only after the answer.
    box->SetValue(95.5);
    Asked yes = click_and_answer(form->Button9, QMessageBox::Yes);
    ASSERT_TRUE(yes.opened);
    EXPECT_TRUE(yes.text.contains(QStringLiteral("SP1 = 95.50"))) << yes.text.toStdString();
    EXPECT_EQ(yes.writes_while_open, 0u);
    ASSERT_TRUE(until([&] { return std::abs(bus->param(3, 51) - 95.5) < 0.01; }, 5000));
    ASSERT_TRUE(until([&] {
        const auto rows = commands();
        return !rows.empty() && rows.front().result == QStringLiteral("已应答，读回核对一致");
    }, 8000)) << (commands().empty() ? std::string("no row") : commands().front().result.toStdString());

    // STOP clicked once: the box first, the write only after "是".
    ASSERT_EQ(bus->state(3).run_state, 0);
    Asked stop = click_and_answer(form->Button7, QMessageBox::Yes);
    ASSERT_TRUE(stop.opened);
    EXPECT_EQ(stop.text, QStringLiteral("向仪表 3 发送“STOP”：运行状态Srun 写 1（停止）？\n\n按“是”发送，按“否”不发送。"));
    EXPECT_EQ(stop.writes_while_open, 0u);
    ASSERT_TRUE(until([&] { return bus->state(3).run_state == 1; }, 5000));
    ASSERT_TRUE(until([&] {
        const auto rows = commands();
        return !rows.empty() && rows.front().command == QStringLiteral("STOP")
            && rows.front().result == QStringLiteral("已应答");
    }, 8000));

    // The table holds both, newest first, and the dialog lists them.
    const std::vector<CommandRecord> rows = commands();
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].address, 3);
    EXPECT_FALSE(rows[0].value.has_value());
    EXPECT_EQ(rows[1].command, QStringLiteral("给定值"));
    ASSERT_TRUE(rows[1].value.has_value());
    EXPECT_NEAR(*rows[1].value, 95.5, 0.01);
    form->findChild<QAction*>(QStringLiteral("commands_item"))->trigger();
    ASSERT_NE(form->command_list, nullptr);
    QTableWidget* table = form->command_list->table();
    ASSERT_EQ(table->rowCount(), 2);
    EXPECT_EQ(table->item(0, CommandList::ColCommand)->text(), QStringLiteral("STOP"));
    EXPECT_EQ(table->item(1, CommandList::ColResult)->text(), QStringLiteral("已应答，读回核对一致"));
    EXPECT_EQ(table->item(1, CommandList::ColValue)->text(), QStringLiteral("95.5"));
    if (const QString folder = qEnvironmentVariable("STATION_SHOT_DIR"); !folder.isEmpty())
        form->command_list->grab().save(QDir(folder).filePath(QStringLiteral("command_list.png")));
    // The event log has each command and its result.
    const QString log = event_log_text();
    EXPECT_TRUE(log.contains(QStringLiteral("发送命令：仪表 3 给定值 95.5"))) << log.toStdString();
    EXPECT_TRUE(log.contains(QStringLiteral("命令结果：仪表 3 STOP：已应答")));
    EXPECT_TRUE(errors.isEmpty()) << errors.join(QLatin1Char('\n')).toStdString();
}

// Asking can be turned off on the settings page; the choice is kept in
// station.ini, and an instrument that does not answer is recorded so.
TEST_F(CommandConfirmE2E, ConfirmationCanBeTurnedOffAndSilenceIsRecorded)
{
    start_two();
    ASSERT_TRUE(form->confirm_check->isChecked());
    form->confirm_check->click();
    sync();
    {
        QFile ini(dir.filePath(QStringLiteral("station.ini")));
        ASSERT_TRUE(ini.open(QIODevice::ReadOnly));
        EXPECT_TRUE(QString::fromUtf8(ini.readAll()).contains(QStringLiteral("confirm=false")));
    }
    form->ComboBox7->setEditText(QStringLiteral("7")); // nobody there
    form->Button7->click();
    EXPECT_TRUE(asked.isEmpty()) << asked.join(QLatin1Char('\n')).toStdString();
    ASSERT_TRUE(until([&] {
        const auto rows = commands();
        return !rows.empty() && rows.front().result == QStringLiteral("无应答");
    }, 8000));
    EXPECT_EQ(commands().front().address, 7);
}

// Quitting during a run asks first and names what would be lost; "否"
// keeps the station and the run going.
TEST_F(CommandConfirmE2E, QuittingDuringARunAsksFirst)
{
    start({ 1 }, 1);
    scan(QStringLiteral("2"), 15000);
    form->Button3->click(); // 遍读
    ASSERT_TRUE(until([&] { return form->run.busy; }, 5000));
    QStringList questions;
    OperatorPrompts::instance().ask = [&](QWidget*, const QString&, const QString& text) {
        questions << text;
        return false;
    };
    form->findChild<QAction*>(QStringLiteral("N3"))->trigger();
    ASSERT_EQ(questions.size(), 1);
    EXPECT_TRUE(questions[0].contains(QStringLiteral("将中止"))) << questions[0].toStdString();
    EXPECT_TRUE(on_engine([](Engine& e) { return e.read_all_running(); }));
    on_engine([](Engine& e) { e.stop_runs(); });
}

} // namespace
