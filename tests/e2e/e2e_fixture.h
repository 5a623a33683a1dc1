#pragma once
// Whole-station runs: the simulated bus on a pseudo-terminal linked as com1 in
// the fixture's temporary working directory (which holds a copy of the
// delivered database), a settings file choosing COM1, the engine on a thread
// of its own with its real serial component, and the real main window
// (offscreen) showing it. Replies travel the real way: bus -> pty -> reader
// thread -> the engine's thread -> reports queued to the window.
//
// The test's thread is the window's. It reads the engine's state only on the
// engine's thread (on_engine), and otherwise looks at what the window shows,
// at the database and at the simulator.
#include "aisim.h"
#include "event_loop.h"
#include "form_fixture.h"
#include "param_catalogue.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QPushButton>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <type_traits>
#include <vector>

// Every parameter of an instrument, codes 1..410, as the simulator holds it.
inline std::map<int, double> snapshot(const aisim::Bus& bus, int address)
{
    std::map<int, double> values;
    for (int code = 1; code <= kLastParamCode; ++code)
        values[code] = bus.param(address, code);
    return values;
}

class StationE2E : public FormFixture {
protected:
    // Starts the bus with `addresses` (process frozen unless speed > 0), then
    // the station at 9600 baud with the given sampling period. `configure`
    // may change the bus's options before it starts.
    void start(std::vector<int> addresses, int period_s = 1, double speed = 0,
        const std::function<void(aisim::BusOptions&)>& configure = {})
    {
        write_settings({ QStringLiteral("0"), QStringLiteral("1"), QString::number(period_s) });
        start_bus(std::move(addresses), speed, configure);
        start_station();
        ASSERT_TRUE(errors.isEmpty()) << errors.join(QLatin1Char('\n')).toStdString();
    }
    void start_bus(std::vector<int> addresses, double speed = 0,
        const std::function<void(aisim::BusOptions&)>& configure = {})
    {
        aisim::BusOptions options;
        options.addresses = std::move(addresses);
        options.speed = speed;
        options.reply_delay_ms = 20;
        if (configure)
            configure(options);
        bus = std::make_unique<aisim::Bus>(options);
        bus->start_pty(dir.filePath(QStringLiteral("com1")).toStdString());
    }
    // The engine on its own thread and the window, as in the station.
    void start_station()
    {
        form = &make_form(true);
        sync(); // what the engine held at its start is shown
    }

    // Runs fn on the engine's thread, waits for it and returns its result.
    template <class F>
    auto on_engine(F fn) -> std::invoke_result_t<F, Engine&>
    {
        using R = std::invoke_result_t<F, Engine&>;
        if constexpr (std::is_void_v<R>) {
            host().call([&](Engine& e) { fn(e); });
        } else {
            std::optional<R> result;
            host().call([&](Engine& e) { result.emplace(fn(e)); });
            return std::move(*result);
        }
    }
    // The window has shown every report the engine made so far.
    void sync()
    {
        // Twice: what the first call's event made (a cell flush, a decision
        // due now) is reported by the time the second one runs.
        for (int i = 0; i < 2; ++i) {
            on_engine([](Engine&) {});
            QCoreApplication::processEvents();
        }
    }
    // Waits until `done` holds (with the window kept up to date), or `ms` pass.
    bool until(const std::function<bool()>& done, int ms)
    {
        const bool ok = wait_for(done, ms);
        sync();
        return ok;
    }
    bool scanning()
    {
        return on_engine([](Engine&) { return scan_active != 0; });
    }
    bool replies_pending()
    {
        return on_engine([](Engine& e) { return e.replies.pending(); });
    }
    // Types the address limit, clicks 巡扫 and waits for the scan's end.
    void scan(const QString& limit, int ms)
    {
        form->ComboBox10->setEditText(limit);
        form->Button_scan->click();
        ASSERT_TRUE(until([&] { return !scanning(); }, ms));
        ASSERT_TRUE(errors.isEmpty()) << errors.join(QLatin1Char('\n')).toStdString();
    }

    void TearDown() override
    {
        FormFixture::TearDown(); // the window and the engine (and its port) go first
        if (bus)
            bus->stop();
    }

    std::unique_ptr<aisim::Bus> bus;
    TForm1* form = nullptr;
};
