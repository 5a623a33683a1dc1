#pragma once
// Whole-station runs: the simulated bus on a pseudo-terminal linked as com1 in
// the fixture's temporary working directory (which holds a copy of the
// delivered database), a settings file choosing COM1, and the real main window
// (offscreen) with its real serial component. Replies travel the real way:
// bus -> pty -> reader thread -> posted event -> SComm1_485ReceiveData.
#include "aisim.h"
#include "event_loop.h"
#include "form_fixture.h"
#include "param_catalogue.h"

#include <functional>
#include <map>
#include <memory>
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
        aisim::BusOptions options;
        options.addresses = std::move(addresses);
        options.speed = speed;
        options.reply_delay_ms = 20;
        if (configure)
            configure(options);
        bus = std::make_unique<aisim::Bus>(options);
        bus->start_pty(dir.filePath(QStringLiteral("com1")).toStdString());
        form = &make_form();
        ASSERT_TRUE(errors.isEmpty()) << errors.join(QLatin1Char('\n')).toStdString();
    }

    void TearDown() override
    {
        FormFixture::TearDown();  // the window (and its port) go first
        if (bus)
            bus->stop();
    }

    std::unique_ptr<aisim::Bus> bus;
    TForm1* form = nullptr;
};
