// Read-back verification on the window. A run's parameter write is read back
// on the run's next tick; a command's (set value, manual output; run, hand
// and stop are no parameter writes) as soon as the command's reply window is
// decided. The verdict marks the grid cell, goes into the run's tally, and a
// problem goes to the record of events.
#include "codec_state.h"
#include "errors.h"
#include "form1.h"
#include "frame_codec.h"
#include "param_catalogue.h"
#include "param_verify.h"
#include "parameters.h"
#include "public_set.h"
#include "roster.h"
#include "string_grid.h"

#include <QLabel>
#include <utility>

namespace {

const QColor kMismatchColour(255, 150, 150);
const QColor kUnverifiedColour(255, 230, 120);

} // namespace

void TForm1::send_run_write(int address, int code, float value, int instrument)
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
void TForm1::expect_readback(int address, int code, float value)
{
    run_tally.written(address);
    if (is_read_back(code))
        readback_due = WrittenValue { address, code, value, dec_places_of(address), false };
}

void TForm1::expect_command_readback(int address, int code, float value)
{
    if (code == 0 || code == 51)
        command_readbacks.sent(WrittenValue { address, code, value, dec_places_of(address), true });
}

void TForm1::send_readback(const WrittenValue& write)
{
    cur_addr = write.address;
    cur_code = write.code;
    readbacks.sent(write);
    scomm485_write_command(make_read_frame(static_cast<std::uint8_t>(write.address), write.code),
                           RequestKind::ReadBack);
}

bool TForm1::send_due_readback()
{
    if (!readback_due)
        return false;
    send_readback(*std::exchange(readback_due, std::nullopt));
    return true;
}

bool TForm1::run_replies_pending() const
{
    return replies.pending(RequestKind::WriteRun) || replies.pending(RequestKind::ReadBack)
        || replies.pending(RequestKind::Inspect);
}

void TForm1::mark_checked_cell(const ReadbackCheck& check)
{
    const int col = roster::column_of(*StringGrid1, check.write.address);
    if (col == 0)
        return;
    const int row = check.write.code + 1;
    const QString hint = QString::fromStdString(check.cell_hint());
    switch (check.verdict) {
    case ReadbackCheck::Verdict::Verified:
        StringGrid1->clearCellMark(col, row);
        break;
    case ReadbackCheck::Verdict::Mismatch:
        StringGrid1->setCellMark(col, row, kMismatchColour, hint);
        break;
    case ReadbackCheck::Verdict::Unverified:
        StringGrid1->setCellMark(col, row, kUnverifiedColour, hint);
        break;
    }
}

void TForm1::show_verification(const WriteTally& tally)
{
    verify_label->setText(QString::fromStdString(tally.short_text()));
    verify_label->setToolTip(QString::fromStdString(tally.summary()));
    verify_label->setStyleSheet(tally.clean() ? QStringLiteral("color: rgb(0, 128, 0);")
                                              : QStringLiteral("color: rgb(255, 0, 0);"));
}

void TForm1::note_param_outcome(const ReplyOutcome& outcome)
{
    const LineRequest& request = outcome.request;
    switch (request.kind) {
    case RequestKind::WriteRun:
        note_write_outcome(outcome);
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
    if (check.verdict != ReadbackCheck::Verdict::Verified)
        report_verification(check);
    if (!write->command) {
        run_tally.checked(check);
        return;
    }
    if (check.verdict != ReadbackCheck::Verdict::Verified)
        throw EStationError(std::string(write->code == 0 ? "手动调功" : "给定值") + "：仪表 "
                            + std::to_string(write->address)
                            + (check.verdict == ReadbackCheck::Verdict::Mismatch ? " 核对不符，" : " 未能读回核对，")
                            + check.text());
}
