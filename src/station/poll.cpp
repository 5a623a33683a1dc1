// The poll cycle and both ends of the line: one read of code 0 per tick to the
// next enabled address, the send with its pause, the receive handler, and the
// reply windows that decide which request a received block answers.
#include "convert.h"
#include "error_box.h"
#include "form1.h"
#include "frame_codec.h"
#include "public_set.h"
#include "roster.h"
#include "scomm.h"
#include "ttimer.h"
#include "iIntegerOutput.h"

#include <QComboBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QTimer>
#include <chrono>
#include <thread>

// The highest address the poll and the scan may use: a typed limit above 90 is
// taken as 90, so no address table is read beyond its entries; a negative limit
// leaves nothing to poll or probe.
int TForm1::address_limit() const
{
    const int n = str_to_int(ComboBox10->currentText().toStdString());
    return n > kMaxAddress ? kMaxAddress : n;
}

// The sampling period in seconds; a negative period (possible only from the
// settings file) counts as 0.
int TForm1::poll_period() const
{
    const int period = iIntegerOutput1->Value();
    return period < 0 ? 0 : period;
}

void TForm1::Timer1Timer(QObject*)
{
    if (setup_write_pending) {
        // An address or baud-rate write went out since the last tick: whether or
        // not it was answered, monitoring resumes now.
        setup_write_pending = false;
        write_pending = 0;
    }
    if (!reply_ok)
        set_comm_led(true);
    sv_value = 0;
    pv_value = 0;
    para_value = 0;
    alarm_byte = 0;
    mv_raw = 0;

    // The sweep keeps its own place: a command or a setup write sent between
    // two ticks changes cur_addr, never which address the sweep serves next,
    // and a slot is the address's rank, never a count of this sweep's ticks.
    const int taken = roster::next_enabled(poll_pos, address_limit());
    if (taken >= 0) {
        poll_pos = taken;
        cur_addr = taken;
        Label28->setText(QString::number(cur_addr));
        cur_slot = static_cast<byte_t>(roster::slot_of(taken));
        addr_slot[taken] = cur_slot;
        if (!read_all_running()) {
            cur_code = 0;
            scomm485_write_command(make_read_frame(static_cast<std::uint8_t>(taken), 0), RequestKind::Poll);
        }
    }
    if (chart_running)
        chart_clock = static_cast<std::uint16_t>((chart_clock + poll_period()) % 65536);
    if (taken < 0) {
        poll_pos = -1;
        cur_addr = -1;
        cur_slot = 0;
        chart_running = run_seen;
        run_seen = 0;
    }
}

bool TForm1::scomm485_write_command(const std::string& frame, RequestKind kind)
{
    set_comm_led(false);
    // The frame's bytes as characters, up to the first zero byte (a text line
    // cannot hold one).
    const size_t shown = frame.find('\0');
    Memo1->appendPlainText(QString::fromLatin1(frame.data(), static_cast<qsizetype>(
                                                                 shown == std::string::npos ? frame.size() : shown)));
    Label28->setText(QString::number(cur_addr));
    if (on_frame_sent)
        on_frame_sent(frame);
    // The request is described by the frame itself (its address and code) and
    // the value the sender stored, so that its reply is handled as the answer
    // to this request whatever is sent meanwhile.
    LineRequest request;
    if (frame.size() == static_cast<size_t>(kRequestLength)) {
        const auto* f = reinterpret_cast<const std::uint8_t*>(frame.data());
        request.address = (f[0] - 0x80) & 0xFF;
        request.code = ((f[2] & 0x01) << 8) | f[3];
    }
    request.kind = kind;
    request.value = para_value;
    request.sent = SComm1_485->SendData(frame.data(), static_cast<unsigned short>(frame.size()));
    if (!request.sent)
        set_comm_led(false);
    replies.request_sent(request, std::chrono::steady_clock::now());
    arm_reply_timer();
    if (send_pause_ms > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(send_pause_ms));
    return false;
}

void TForm1::SComm1_485ReceiveData(TSComm* Sender, const char* Buffer, unsigned short BufferLength)
{
    // When the block's first byte arrived; a block handed in directly (no
    // component, or none stamped) counts as arriving now.
    std::chrono::steady_clock::time_point started {};
    if (Sender)
        started = Sender->BlockStarted();
    if (started == std::chrono::steady_clock::time_point {})
        started = std::chrono::steady_clock::now();

    rx_buf.assign(static_cast<size_t>(BufferLength) + 1, 0);
    if (BufferLength == kReplyLength) {
        set_comm_led(true);
        for (int i = 0; i < kReplyLength; ++i)
            rx_buf[static_cast<size_t>(i) + 1] = static_cast<byte_t>(Buffer[i]);
        Memo2->appendPlainText(QString::fromStdString(to_hex(rx_buf.data() + 1, kReplyLength)));
    }
    // Every block counts, whatever its length: a stray fragment beside a reply
    // makes the window ambiguous (see ReplyMatcher).
    if (!replies.block_received(reinterpret_cast<const std::uint8_t*>(Buffer), BufferLength, started))
        health.record_late_block(std::chrono::steady_clock::now());
    arm_reply_timer();
}

void TForm1::arm_reply_timer()
{
    const auto due = replies.next_decision();
    if (!due) {
        reply_timer->stop();
        return;
    }
    const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(*due - std::chrono::steady_clock::now());
    reply_timer->start(static_cast<int>(wait.count() < 0 ? 0 : wait.count() + 1));
}

void TForm1::handle_outcomes(const std::vector<ReplyOutcome>& outcomes)
{
    for (const ReplyOutcome& outcome : outcomes)
        run_guarded([&] { handle_outcome(outcome); });
}

void TForm1::decide_replies()
{
    // A modal error box shown while outcomes are handled runs a nested event
    // loop; a decision started from there would overtake the rest of the batch.
    if (deciding_replies)
        return;
    deciding_replies = true;
    handle_outcomes(replies.take_decided(std::chrono::steady_clock::now()));
    deciding_replies = false;
    arm_reply_timer();
}

void TForm1::settle_replies()
{
    deciding_replies = true;
    handle_outcomes(replies.take_all());
    deciding_replies = false;
    arm_reply_timer();
}

void TForm1::handle_outcome(const ReplyOutcome& outcome)
{
    const LineRequest& request = outcome.request;
    const bool check_ok = outcome.result == ReplyOutcome::Result::Reply && reply_check_ok(outcome.reply.data());
    health.record(outcome, check_ok, std::chrono::steady_clock::now());
    if (request.kind == RequestKind::Poll)
        update_silence_marks();
    if (outcome.result == ReplyOutcome::Result::Reply)
        run_guarded([&] { command_dispose(request, outcome.reply.data()); });
    // Answered, refused by its check nibble, voided or unanswered: the
    // command is over either way.
    if (request.kind == RequestKind::Command)
        end_command();
    note_param_outcome(outcome);
}

void TForm1::end_command()
{
    if (!replies.pending(RequestKind::Command)) {
        write_pending = 0;
        ctrl_cmd_pending = 0;
    }
}
