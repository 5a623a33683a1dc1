// Read-back verification. A run's parameter write is read back on the run's
// next tick; a command's (set value, manual output; run, hand and stop are no
// parameter writes) as soon as the command's reply window is decided. The
// verdict marks the cell, goes into the run's tally, and a problem becomes a
// message.
#include "engine.h"

#include "codec_state.h"
#include "frame_codec.h"
#include "param_catalogue.h"
#include "parameters.h"
#include "public_set.h"

#include <utility>

void Engine::send_run_write(int address, int code, float value, int instrument)
{
    cur_addr = address;
    cur_code = code;
    para_value = value;
    parachange();
    scomm485_write_command(make_write_frame(static_cast<std::uint8_t>(address), code, para_value),
                           RequestKind::WriteRun);
    expect_readback(instrument, code, para_value);
}

// A run's write to `address` went out: it counts in the run's tally, and
// unless it moves the instrument its read-back goes out on the next tick.
void Engine::expect_readback(int address, int code, float value)
{
    run_tally.written(address);
    if (is_read_back(code))
        readback_due = WrittenValue { address, code, value, dec_places_of(address), false };
}

void Engine::expect_command_readback(int address, int code, float value)
{
    if (code == 0 || code == 51)
        command_readbacks.sent(WrittenValue { address, code, value, dec_places_of(address), true });
}

void Engine::send_readback(const WrittenValue& write)
{
    cur_addr = write.address;
    cur_code = write.code;
    readbacks.sent(write);
    scomm485_write_command(make_read_frame(static_cast<std::uint8_t>(write.address), write.code),
                           RequestKind::ReadBack);
}

bool Engine::send_due_readback()
{
    if (!readback_due)
        return false;
    send_readback(*std::exchange(readback_due, std::nullopt));
    return true;
}

bool Engine::run_replies_pending() const
{
    return replies.pending(RequestKind::WriteRun) || replies.pending(RequestKind::ReadBack)
        || replies.pending(RequestKind::Inspect);
}

void Engine::mark_checked_cell(const ReadbackCheck& check)
{
    if (!param_table.has_column(check.write.address))
        return;
    CellMark mark;
    mark.address = check.write.address;
    mark.row = check.write.code + 1;
    mark.hint = QString::fromStdString(check.cell_hint());
    switch (check.verdict) {
    case ReadbackCheck::Verdict::Verified:
        mark.kind = CellMark::Kind::None;
        break;
    case ReadbackCheck::Verdict::Mismatch:
        mark.kind = CellMark::Kind::Mismatch;
        break;
    case ReadbackCheck::Verdict::Unverified:
        mark.kind = CellMark::Kind::Unverified;
        break;
    }
    Q_EMIT param_mark(mark);
}

void Engine::show_verification(const WriteTally& tally)
{
    verify_text = QString::fromStdString(tally.short_text());
    verify_detail = QString::fromStdString(tally.summary());
    verify_clean = tally.clean();
    report_run();
}

void Engine::report_verification(const ReadbackCheck& check)
{
    const std::string what = check.verdict == ReadbackCheck::Verdict::Mismatch ? "参数核对不符" : "参数未能核对";
    messages.warning("参数", what + "：仪表 " + std::to_string(check.write.address) + " " + check.text() + "（代码 "
            + std::to_string(check.write.code) + "）");
}

void Engine::note_param_outcome(const ReplyOutcome& outcome)
{
    const LineRequest& request = outcome.request;
    switch (request.kind) {
    case RequestKind::WriteRun:
        run_reported("参数", [&] { note_write_outcome(outcome); });
        note_set_run_outcome(outcome);
        return;
    case RequestKind::Inspect:
        note_set_run_outcome(outcome);
        return;
    case RequestKind::Command:
        // The command's window is decided: its read-back goes out now.
        if (const auto write = command_readbacks.take(request))
            send_readback(*write);
        return;
    case RequestKind::ReadBack:
        break;
    default:
        return;
    }
    const auto write = readbacks.take(request);
    if (!write)
        return;
    const ReadbackCheck check = judge_readback(*write, outcome);
    mark_checked_cell(check);
    if (!write->command) {
        if (check.verdict != ReadbackCheck::Verdict::Verified)
            report_verification(check);
        run_tally.checked(check);
        return;
    }
    note_command_check(check);
    if (check.verdict != ReadbackCheck::Verdict::Verified)
        messages.warning("控制", std::string(write->code == 0 ? "手动调功" : "给定值") + "：仪表 "
                            + std::to_string(write->address)
                            + (check.verdict == ReadbackCheck::Verdict::Mismatch ? " 核对不符，" : " 未能读回核对，")
                            + check.text());
}
