// The reply dispatch: every valid 10-byte reply changes the station here.
#include "codec_state.h"
#include "engine.h"
#include "param_text.h"
#include "public_set.h"
#include "roster.h"

namespace {

// Values of magnitude above 99.9999 show two decimals, above 999.999 one.
int display_precision(int dec, double value)
{
    int precision = dec;
    if (value > 99.9999 || value < -99.9999)
        precision = 2;
    if (value > 999.999 || value < -999.999)
        precision = 1;
    return precision;
}

} // namespace

void Engine::command_dispose(const LineRequest& request, const std::uint8_t* reply,
    std::chrono::steady_clock::time_point arrived)
{
    const int address = request.address;
    const int code = request.code;
    const bool command = request.kind == RequestKind::Command;
    if (!decode_reply(reply, address, code, command, request.value))
        return;
    const int raw = last_reply_raw();
    if (code == 22 && roster::enabled(address))
        remember_addresses(); // the decimal places it has just learnt

    // What the main panel shows of every valid reply; the rest of the
    // dispatch adds what this kind of reply changes.
    ReplyShown shown;
    shown.address = address;
    shown.code = code;
    shown.kind = request.kind;
    shown.arrived = wall_time(arrived == std::chrono::steady_clock::time_point {} ? std::chrono::steady_clock::now()
                                                                                 : arrived);
    const int dec = dec_places_of(address);
    shown.sv_precision = display_precision(dec, sv_value);
    shown.pv_precision = display_precision(dec, pv_value);
    shown.sv = sv_value;
    shown.pv = pv_value;
    shown.mv = mv_raw / 100.0;
    shown.val = para_value;
    shown.alarm = alarm_byte;

    if (request.kind == RequestKind::Probe) {
        Q_EMIT reply_shown(shown);
        mark_found_address(address);
        return;
    }
    // A read for a comparison leaves the parameter table and the stored set as they are.
    if (request.kind == RequestKind::Inspect || request.kind == RequestKind::AddressCheck) {
        Q_EMIT reply_shown(shown);
        return;
    }

    // The instrument's slot and column, from its address alone.
    const int s = roster::slot_of(address);
    shown.slot = s;
    const bool has_column = param_table.has_column(address);

    // Cell of the reply.
    if (code == 0 && !command) {
        if (raw < 0)
            param_table.set_cell(address, 2, QString::number(-raw));
    } else if (code == 0) {
        param_table.set_cell(address, 1, QString::fromStdString(decimal_text(para_value, 2)));
    } else if (code > 0) {
        if (code == 2 && para_value > 908)
            para_value = 0;
        if (code + 1 <= kParamRows)
            param_table.set_cell(address, code + 1, QString::fromStdString(param_value_text(code, para_value, dec)));
    }

    // Program segment labels.
    if (code == 0 && !command && has_column) {
        shown.segment = param_table.cell(address, 2);
        shown.has_segment = true;
    }

    // Run-state lamp of the control address, from the returned run state.
    if (code == 10 && !is_run_kind(request.kind) && (para_value == 0 || para_value == 1 || para_value == 2)
        && control_address_ && *control_address_ == address && roster::has_panel(s))
        shown.run_state = static_cast<int>(para_value);

    store_parameter(address, code, para_value);

    if (command) {
        Q_EMIT reply_shown(shown);
        return; // the command ends with its window (handle_outcome)
    }

    if (request.kind == RequestKind::ReadRun && read_all_running())
        Q_EMIT param_top_row(++param_top_row_);

    if (request.kind != RequestKind::Poll) {
        Q_EMIT reply_shown(shown);
        return;
    }
    // A poll reply: the instrument's measurement, at the time its first
    // byte arrived, on the panels, the charts and in the log.
    if (s > 0 && (!has_column || param_table.cell(address, 11) != QStringLiteral("StoP")))
        run_seen = 1;
    Q_EMIT reply_shown(shown);
    append_measurement(address, shown.arrived);
    log_alarms(address, shown.arrived);
}
