// The poll cycle and both ends of the line: one read of code 0 per tick to the
// next enabled address, the send with its pause, the receive handler, and the
// reply windows that decide which request a received block answers.
#include "engine.h"

#include "frame_codec.h"
#include "public_set.h"
#include "roster.h"
#include "scomm.h"
#include "ttimer.h"

#include <QTimer>

#include <chrono>
#include <thread>

void Engine::Timer1Timer()
{
    if (setup_write_pending) {
        // An address or baud-rate write went out since the last tick: whether or
        // not it was answered, monitoring resumes now.
        setup_write_pending = false;
        write_pending = 0;
    }
    if (!reply_ok)
        Q_EMIT comm_led(true);
    sv_value = 0;
    pv_value = 0;
    para_value = 0;
    alarm_byte = 0;
    mv_raw = 0;

    // The sweep keeps its own place: a command or a setup write sent between
    // two ticks changes cur_addr, never which address the sweep serves next,
    // and a slot is the address's rank, never a count of this sweep's ticks.
    const int taken = roster::next_enabled(poll_pos, address_limit_ > kMaxAddress ? kMaxAddress : address_limit_);
    if (taken >= 0) {
        poll_pos = taken;
        cur_addr = taken;
        cur_slot = static_cast<byte_t>(roster::slot_of(taken));
        addr_slot[taken] = cur_slot;
        if (!read_all_running()) {
            cur_code = 0;
            scomm485_write_command(make_read_frame(static_cast<std::uint8_t>(taken), 0), RequestKind::Poll);
        }
    }
    if (chart_running)
        chart_clock = static_cast<std::uint16_t>((chart_clock + period_s_) % 65536);
    if (taken < 0) {
        poll_pos = -1;
        cur_addr = -1;
        cur_slot = 0;
        chart_running = run_seen;
        run_seen = 0;
    }
}

bool Engine::scomm485_write_command(const std::string& frame, RequestKind kind)
{
    Q_EMIT comm_led(false);
    Q_EMIT frame_sent(QByteArray(frame.data(), static_cast<qsizetype>(frame.size())), cur_addr);
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
    replies.request_sent(request, std::chrono::steady_clock::now());
    arm_reply_timer();
    if (send_pause_ms > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(send_pause_ms));
    return false;
}

void Engine::SComm1_485ReceiveData(TSComm* Sender, const char* Buffer, unsigned short BufferLength)
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
        Q_EMIT comm_led(true);
        for (int i = 0; i < kReplyLength; ++i)
            rx_buf[static_cast<size_t>(i) + 1] = static_cast<byte_t>(Buffer[i]);
        Q_EMIT frame_received(QByteArray(Buffer, kReplyLength));
    }
    // Every block counts, whatever its length: a stray fragment beside a reply
    // makes the window ambiguous (see ReplyMatcher).
    if (!replies.block_received(reinterpret_cast<const std::uint8_t*>(Buffer), BufferLength, started))
        health.record_late_block(std::chrono::steady_clock::now());
    arm_reply_timer();
}

QDateTime Engine::wall_time(std::chrono::steady_clock::time_point at)
{
    const auto ago = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - at);
    return QDateTime::currentDateTime().addMSecs(-ago.count());
}

void Engine::arm_reply_timer()
{
    const auto due = replies.next_decision();
    if (!due) {
        reply_timer->stop();
        return;
    }
    const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(*due - std::chrono::steady_clock::now());
    reply_timer->start(static_cast<int>(wait.count() < 0 ? 0 : wait.count() + 1));
}

void Engine::handle_outcomes(const std::vector<ReplyOutcome>& outcomes)
{
    for (const ReplyOutcome& outcome : outcomes)
        run_reported("应答", [&] { handle_outcome(outcome); });
}

void Engine::decide_replies()
{
    if (deciding_replies)
        return;
    deciding_replies = true;
    handle_outcomes(replies.take_decided(std::chrono::steady_clock::now()));
    deciding_replies = false;
    arm_reply_timer();
}

void Engine::settle_replies()
{
    deciding_replies = true;
    handle_outcomes(replies.take_all());
    deciding_replies = false;
    arm_reply_timer();
}

void Engine::handle_outcome(const ReplyOutcome& outcome)
{
    const LineRequest& request = outcome.request;
    const bool check_ok = outcome.result == ReplyOutcome::Result::Reply && reply_check_ok(outcome.reply.data());
    const bool was_silent = request.kind == RequestKind::Poll && health.silent(request.address);
    health.record(outcome, check_ok, std::chrono::steady_clock::now());
    if (request.kind == RequestKind::Poll && was_silent != health.silent(request.address))
        report_status();
    if (outcome.result == ReplyOutcome::Result::Reply)
        run_reported("应答", [&] { command_dispose(request, outcome.reply.data(), outcome.arrived); });
    // Answered, refused by its check nibble, voided or unanswered: the
    // command is over either way.
    if (request.kind == RequestKind::Command)
        end_command();
    note_command_outcome(outcome, check_ok);
    note_address_check(outcome);
    note_param_outcome(outcome);
}

void Engine::end_command()
{
    if (!replies.pending(RequestKind::Command)) {
        write_pending = 0;
        ctrl_cmd_pending = 0;
    }
}
