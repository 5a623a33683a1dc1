// The address table: the address boxes, the scan and its end, and resuming
// the addresses of the last run.
#include "engine.h"

#include "errors.h"
#include "frame_codec.h"
#include "public_set.h"
#include "roster.h"
#include "run_timers.h"
#include "station_settings.h"
#include "ttimer.h"

void Engine::checkbox_change(int address, bool ticked)
{
    if (scan_active)
        return;
    // Only the boxes of addresses 0..11 change the table; the others are set
    // by the scan alone.
    if (address >= 0 && address < 12)
        addr_enabled[address] = ticked ? 1 : 0;
    remember_addresses();
    if (inst_count == 0) {
        report_roster();
        return;
    }
    inst_count = static_cast<byte_t>(roster::count());
    report_roster(true);
    report_status();
}

void Engine::start_scan(int limit)
{
    if (run_busy())
        throw EStationError("另一项操作正在进行，请等它结束后再巡扫");
    scan_limit = limit < 0 ? address_limit_ : limit;
    cur_code = 22;
    scan_active = 1;
    for (int a = 0; a < 90; ++a)
        addr_enabled[a] = 0;
    Timer1->setEnabled(false);
    cur_addr = -1;
    inst_count = 0;
    iTimers1->SetEnabled(3, true);
    report_roster();
    report_run();
}

void Engine::mark_found_address(int address)
{
    // A second reply for an address already found (a probe answered twice)
    // changes nothing: no second item, no second panel.
    if (!address_in(address, kAddrTableSize) || address > kMaxAddress || addr_enabled[address])
        return;
    addr_enabled[address] = 1;
    if (inst_count < 255)
        ++inst_count;
    addr_slot[address] = static_cast<byte_t>(roster::slot_of(address));
    Q_EMIT address_found(address);
    report_roster();
}

void Engine::iTimers1Timer3()
{
    if (cur_addr + 1 < scan_limit && cur_addr + 1 <= kMaxAddress) {
        ++cur_addr;
        scomm485_write_command(make_read_frame(static_cast<std::uint8_t>(cur_addr), 22), RequestKind::Probe);
        return;
    }
    // The last probes' replies are still being collected: end on a later tick.
    if (replies.pending(RequestKind::Probe))
        return;
    // The scan ends.
    scan_active = 0;
    cur_addr = -1;
    poll_pos = -1;
    cur_code = 0;
    Timer1->setEnabled(true);
    cur_slot = 0;
    iTimers1->SetEnabled(3, false);
    adopt_addresses();
    std::string found;
    for (int address : roster::addresses())
        found += (found.empty() ? "" : ", ") + std::to_string(address);
    messages.info("巡扫", found.empty() ? "巡扫结束，没有仪表应答" : "巡扫结束，找到仪表 " + found);
}

void Engine::adopt_addresses()
{
    inst_count = static_cast<byte_t>(roster::count());
    const std::vector<int> addresses = roster::addresses();
    param_table.layout(addresses);
    Q_EMIT param_columns(addresses);
    db_load_col = 2;
    for (int address : addresses) {
        try {
            get_AI_database(address);
        } catch (const std::exception& e) {
            messages.error("数据库", e.what());
        }
        ++db_load_col;
    }
    first_scan_done = true;
    remember_addresses();
    report_roster();
    report_run();
    report_status();
}

void Engine::remember_addresses()
{
    if (!station_settings)
        return;
    const std::vector<int> addresses = roster::addresses();
    try {
        station_settings->set_addresses(addresses);
        for (int address : addresses)
            station_settings->set_decimal_places(address, dec_places_of(address));
    } catch (const std::exception& e) {
        messages.error("设置", e.what());
    }
}

void Engine::resume_addresses()
{
    if (!station_settings->resume())
        return;
    const std::vector<int> addresses = station_settings->addresses();
    if (addresses.empty())
        return;
    // As if a scan had just found them: the address lists, the panels, the
    // parameter columns with their stored sets; the decimal places the last
    // scan learnt.
    inst_count = 0;
    std::string list;
    for (int address : addresses) {
        const int places = station_settings->decimal_places(address);
        if (places >= 0)
            set_dec_places(address, places);
        mark_found_address(address);
        list += (list.empty() ? "" : ", ") + std::to_string(address);
    }
    poll_pos = -1;
    adopt_addresses();
    messages.info("巡检", "按上次的地址 " + list + " 恢复巡检，未经巡扫");
}
