// The operator's commands against the simulated bus: the instrument's run
// state, output, set value and address change, and the panels follow.
#include "e2e_fixture.h"

#include "frame_codec.h"
#include "iAnalogOutput.h"
#include "iLedRound.h"
#include "iSevenSegmentAnalog.h"
#include "icolors.h"
#include "param_grid.h"
#include "public_set.h"
#include "station_db.h"
#include "string_grid.h"
#include "ttimer.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextDocument>
#include <algorithm>
#include <cmath>

namespace {

// The poll timer is stopped after the scan: the test drives the sweeps on the
// engine's thread, so each reply is attributed to a known request.
class ControlE2E : public StationE2E {
protected:
    void start_and_scan(std::vector<int> addresses)
    {
        start(std::move(addresses), 0);
        for (int a : bus->addresses())
            bus->set_param(a, 40, 0); // no program: the set value is SP1
        // The frames as the engine reports them, queued to the test's thread.
        QObject::connect(&engine(), &Engine::frame_sent, &receiver, [this](const QByteArray& f, int) {
            sent.push_back(to_hex(reinterpret_cast<const std::uint8_t*>(f.constData()), static_cast<int>(f.size())));
        });
        QObject::connect(&engine(), &Engine::measurement_appended, &receiver, [this] { ++logged; });
        scan(QStringLiteral("4"), 10000);
        // A period of 0 in save.txt leaves the default: the poll timer is
        // stopped here, so that only the test's ticks poll (a set-up write
        // probes its new address first, long enough for a tick to fall in).
        on_engine([](Engine& e) { e.Timer1->setEnabled(false); });
    }
    bool holds(int address) const
    {
        const std::vector<int> a = bus->addresses();
        return std::find(a.begin(), a.end(), address) != a.end();
    }
    // How much the window has shown of what the station received (the
    // receive memo only grows).
    int received() const { return form->Memo2->document()->characterCount(); }
    // Runs `send` (a click: a request to the engine) and waits until the
    // station has received the answer and decided which request it answers.
    void answered(const std::function<void()>& send)
    {
        const int before = received();
        send();
        ASSERT_TRUE(until([&] { return received() > before && !replies_pending(); }, 3000));
    }
    // One tick of the poll on the engine's thread; waits for its answer when
    // an instrument is at the address it asked.
    int tick()
    {
        const int before = received();
        const int address = on_engine([](Engine& e) {
            e.Timer1Timer();
            return static_cast<int>(cur_addr);
        });
        const bool answers = address >= 0 && holds(address);
        EXPECT_TRUE(until([&] { return (!answers || received() > before) && !replies_pending(); }, 3000)) << address;
        return address;
    }
    // Ends the sweep under way, then runs one whole sweep.
    void full_sweep()
    {
        for (int guard = 0; guard < 100 && on_engine([](Engine&) { return cur_addr; }) != -1; ++guard)
            tick();
        while (tick() != -1) {
        }
    }
    // Puts a text into an instrument's column of the parameter table, as an
    // edit of the operator's in the grid (committed: reported twice).
    void edit(int address, int row, const QString& text)
    {
        const int col = value_column_of(*form->StringGrid1, address);
        ASSERT_GT(col, 0);
        for (int i = 0; i < 2; ++i)
            form->StringGrid1->OnSetEditText(col, row, text);
        sync();
        ASSERT_EQ(form->StringGrid1->Cells(col, row), text);
    }

    QObject receiver; // lives on the test's thread
    std::vector<std::string> sent;
    int logged = 0;
};

} // namespace

TEST_F(ControlE2E, CommandsDriveTheInstrumentAndThePanelsFollow)
{
    start_and_scan({ 1, 2 });
    ASSERT_EQ(form->get_dis_pos(1), 1);
    // The commands read the instrument's column: no program, advanced
    // function on.
    edit(1, 41, QStringLiteral("0"));
    edit(1, 43, QStringLiteral("10000"));
    form->ComboBox7->setEditText(QStringLiteral("1"));
    full_sweep();
    TiLedRound* led = form->run_led[1];

    answered([&] { form->Button6->click(); }); // HAND
    EXPECT_EQ(bus->state(1).run_state, 2);
    EXPECT_TRUE(led->Active());
    EXPECT_EQ(led->ActiveColor(), tcolor(clGreen));

    form->iAnalogOutput1->SetValue(55.5);
    answered([&] { form->Button8->click(); }); // manual output
    EXPECT_DOUBLE_EQ(bus->param(1, 0), 55.5);
    bus->advance(1.0); // the instrument's output follows in hand mode
    ASSERT_DOUBLE_EQ(bus->state(1).mv, 55.5);
    full_sweep();
    EXPECT_DOUBLE_EQ(form->mv_disp[1]->Value(), 55.5);

    answered([&] { form->Button7->click(); }); // STOP
    EXPECT_EQ(bus->state(1).run_state, 1);
    EXPECT_FALSE(led->Active());

    answered([&] { form->Button5->click(); }); // RUN/HOLD
    EXPECT_EQ(bus->state(1).run_state, 0);
    EXPECT_TRUE(led->Active());
    EXPECT_EQ(led->ActiveColor(), tcolor(clRed));

    const double old_sv = form->sv_disp[1]->Value();
    form->iAnalogOutput2->SetValue(123.45);
    answered([&] { form->Button9->click(); }); // set value
    const double sv = bus->state(1).sv;
    // The five-digit code keeps four significant digits at two decimals.
    EXPECT_NEAR(bus->param(1, 51), 123.45, 0.051);
    EXPECT_NEAR(sv, 123.45, 0.051);
    ASSERT_NE(old_sv, sv);
    full_sweep();
    EXPECT_NEAR(form->sv_disp[1]->Value(), sv, 1e-9);
    EXPECT_EQ(form->panel_label[1]->text(), QStringLiteral("1"));
    // The five command replies were not logged; the polls were.
    EXPECT_GT(logged, 0);
    EXPECT_TRUE(errors.isEmpty()) << errors.join(QLatin1Char('\n')).toStdString();
}

TEST_F(ControlE2E, WriteAddressMovesTheInstrumentAndTheNewAddressIsPolled)
{
    start_and_scan({ 1, 2 });
    bus->set_param(2, 51, 77.7);
    full_sweep();

    form->ComboBox8->setEditText(QStringLiteral("2"));
    form->ComboBox4->setEditText(QStringLiteral("3"));
    const int logged_before = logged;
    answered([&] { form->Button15->click(); });
    EXPECT_EQ(bus->addresses(), (std::vector<int> { 1, 3 }));
    ASSERT_FALSE(sent.empty());
    EXPECT_EQ(sent.back(), "82828602F7018802"); // code 2, value 503, to address 2
    EXPECT_EQ(logged, logged_before); // the write's reply is not a measurement
    EXPECT_EQ(on_engine([](Engine&) { return static_cast<int>(write_pending); }), 1);
    tick();
    EXPECT_EQ(on_engine([](Engine&) { return static_cast<int>(write_pending); }), 0);

    // The operator ticks the new address and unticks the old one.
    form->addr_check[3]->click();
    form->addr_check[2]->click();
    sync();
    sent.clear();
    full_sweep();
    const std::string poll3 = "8383A4000000A700";
    EXPECT_NE(std::find(sent.begin(), sent.end(), poll3), sent.end());
    EXPECT_EQ(std::find(sent.begin(), sent.end(), std::string("8282A4000000A600")), sent.end());
    ASSERT_EQ(form->get_dis_pos(3), 2);
    EXPECT_EQ(form->panel_label[2]->text(), QStringLiteral("3"));
    // The station learns an address's decimal places from a scan; until then
    // the moved instrument's set value shows with those it holds for 3.
    const aisim::InstrumentState moved = bus->state(3);
    const int places3 = on_engine([](Engine&) { return dec_places_of(3); });
    EXPECT_NEAR(form->sv_disp[2]->Value(), 77.7 * std::pow(10.0, moved.decimal_places - places3), 1e-6);
    EXPECT_GT(logged, logged_before);
    EXPECT_TRUE(errors.isEmpty()) << errors.join(QLatin1Char('\n')).toStdString();
}
