#include "e2e_fixture.h"

#include "run_timers.h"
#include "param_catalogue.h"
#include "param_text.h"
#include "public_set.h"
#include "scomm.h"
#include "station_db.h"
#include "string_grid.h"
#include "ttimer.h"

#include <QComboBox>
#include <QPushButton>
#include <map>

// After a scan, "遍读" brings every simulated instrument's table into the grid
// and ai_para; a column edited and written back, and a selected write of three
// edited cells, change the simulator's parameters and nothing else.
TEST_F(StationE2E, ParameterRunsMoveTablesBetweenTheGridAndTheInstruments)
{
    start({ 1, 2 });
    // Shorter ticks and pause than the station's. A reply reaches the engine
    // one read-interval timeout after its last byte, and must do so before the
    // next tick changes the request it is filed under: with the simulator's
    // 20 ms delay, both frames on the line at 9600 baud (~20 ms) and a 20 ms
    // interval timeout, a reply is in after ~60 ms of a 150 ms tick.
    on_engine([](Engine& e) {
        e.send_pause_ms = 60;
        e.SComm1_485->SetReadIntervalTimeout(20);
        for (int k = 1; k <= 5; ++k)
            e.iTimers1->SetInterval(k, 150);
    });
    // Values with no exact binary form (the factory 0.3 of "控制回差CHYS")
    // must go back unchanged when the column is written back.
    bus->set_param(1, 21, 25.6);
    bus->set_param(1, 8, 1111);
    bus->set_param(1, 13, 345);
    bus->set_param(1, 29, 1);
    bus->set_param(1, 39, 12.5);
    bus->set_param(2, 13, 456);
    bus->set_param(2, 4, -25.5);
    bus->set_param(2, 40, 2); // two program segments: codes up to 56
    bus->set_param(2, 53, 321.5);
    bus->set_param(2, 54, 30);

    scan(QStringLiteral("3"), 10000);
    ASSERT_TRUE(form->Button3->isEnabled());
    ASSERT_EQ(form->roster.addresses, (std::vector<int> { 1, 2 })) << bus->stats().to_json();

    const auto run_on = [&](int k) { return on_engine([k](Engine& e) { return e.iTimers1->Enabled(k); }); };
    form->Button3->click();
    ASSERT_TRUE(run_on(1));
    ASSERT_TRUE(until([&] { return !run_on(1) && !replies_pending(); }, 30000));
    ASSERT_TRUE(errors.isEmpty()) << errors.join(QLatin1Char('\n')).toStdString();

    const TStringGrid& grid = *form->StringGrid1;
    ASSERT_EQ(grid.ColCount(), 4);
    for (const auto& [address, col, last] : { std::tuple { 1, 2, 52 }, std::tuple { 2, 3, 56 } }) {
        const int dec = on_engine([a = address](Engine&) { return dec_places_of(a); });
        const ParamColumn stored = form->database().load_param_column(address, dec);
        for (int code = 1; code <= kLastParamCode; ++code) {
            SCOPED_TRACE("address " + std::to_string(address) + " code " + std::to_string(code));
            if (code > last) {
                EXPECT_EQ(grid.Cells(col, code + 1), "0") << "not read";
                continue;
            }
            const QString text = QString::fromStdString(
                param_value_text(code, static_cast<float>(bus->param(address, code)), dec));
            EXPECT_EQ(grid.Cells(col, code + 1), text);
            EXPECT_EQ(stored.texts[static_cast<size_t>(code)], text);
        }
    }
    EXPECT_EQ(grid.Cells(2, 14), "345");
    EXPECT_EQ(grid.Cells(2, 30), "rELy");

    // Cells edited as the grid reports an edit: the editor's text after each
    // change, then the final text again when it closes.
    const auto edit = [&](int col, int row, const QString& text) {
        form->StringGrid1->OnSetEditText(col, row, text);
        form->StringGrid1->OnSetEditText(col, row, text);
    };
    const auto queued = [&] { return on_engine([](Engine&) { return static_cast<int>(edit_count); }); };

    // Column write of address 1 with three cells changed.
    const std::map<int, double> before1 = snapshot(*bus, 1);
    const std::map<int, double> before2 = snapshot(*bus, 2);
    form->ComboBox7->setEditText(QStringLiteral("1"));
    edit(2, 14, QStringLiteral("777"));
    edit(2, 30, QStringLiteral("mA"));
    edit(2, 5, QStringLiteral("-50.00"));
    sync();
    ASSERT_TRUE(errors.isEmpty()) << errors.join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(grid.Cells(2, 14), "777");
    EXPECT_EQ(queued(), 3);
    ASSERT_TRUE(form->Button14->isEnabled());
    form->Button14->click();
    ASSERT_TRUE(run_on(2));
    ASSERT_TRUE(until([&] { return !run_on(2); }, 30000));
    ASSERT_TRUE(errors.isEmpty()) << errors.join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(bus->stats().writes_refused, 0u);
    std::map<int, double> expected1 = before1;
    expected1[13] = 777;
    expected1[29] = 2;
    expected1[4] = -50;
    EXPECT_EQ(snapshot(*bus, 1), expected1);
    EXPECT_EQ(snapshot(*bus, 2), before2);

    // Selected write: the three edits of address 1 are still queued (the
    // column write does not take them off) and go again, unchanged; three
    // cells of address 2 join them.
    edit(3, 14, QStringLiteral("999"));
    edit(3, 31, QStringLiteral("rELy")); // code 30, AuT
    edit(3, 54, QStringLiteral("400.00")); // code 53, SP2
    ASSERT_EQ(queued(), 6);
    const std::map<int, double> mid1 = snapshot(*bus, 1);
    const std::map<int, double> mid2 = snapshot(*bus, 2);
    form->Button12->click();
    ASSERT_TRUE(until([&] { return !run_on(5) && !replies_pending(); }, 5000));
    ASSERT_TRUE(errors.isEmpty()) << errors.join(QLatin1Char('\n')).toStdString();
    std::map<int, double> expected2 = mid2;
    expected2[13] = 999;
    expected2[30] = 1;
    expected2[53] = 400;
    EXPECT_EQ(snapshot(*bus, 2), expected2);
    EXPECT_EQ(snapshot(*bus, 1), mid1);
    EXPECT_EQ(queued(), 0);
    EXPECT_TRUE(on_engine([](Engine& e) { return e.Timer1->Enabled(); }));
}
