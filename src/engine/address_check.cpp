// Before an instrument is moved to another address (the settings page's
// address write, a copy that writes the communication address), the new
// address must be free: an instrument polled there is a refusal at once, and
// otherwise one read goes to that address. Only when nobody answers is the
// write sent; an answer (or a garbled one, which means someone is there)
// refuses it, and nothing has been written.
#include "engine.h"

#include "errors.h"
#include "event_log.h"
#include "frame_codec.h"
#include "public_set.h"
#include "roster.h"

void Engine::check_address_free(int address, const char* source, const std::string& not_sent,
    std::function<void()> then)
{
    if (roster::enabled(address) && !health.silent(address))
        throw EStationError("地址 " + std::to_string(address) + " 上已有仪表在巡检，两台仪表不能占用同一地址；"
                            + not_sent);
    address_check = AddressCheck { address, source, not_sent, std::move(then) };
    report_run();
    event_log::write(source, "检查地址 " + std::to_string(address) + " 是否空闲");
    scomm485_write_command(make_read_frame(static_cast<std::uint8_t>(address), 22), RequestKind::AddressCheck);
}

void Engine::note_address_check(const ReplyOutcome& outcome)
{
    if (outcome.request.kind != RequestKind::AddressCheck || !address_check
        || address_check->address != outcome.request.address)
        return;
    const AddressCheck check = std::move(*address_check);
    address_check.reset();
    report_run();
    const std::string where = "地址 " + std::to_string(check.address);
    // A probe the closed port did not send proves nothing, but the write that
    // follows cannot go out either (same port, same moment): it is recorded
    // as not sent and reaches no instrument.
    if (outcome.request.sent && outcome.result != ReplyOutcome::Result::NoReply) {
        post_refusal(check.source, where + " 上已有仪表应答，两台仪表不能占用同一地址；" + check.not_sent);
        return;
    }
    run_reported(check.source.c_str(), check.then);
}
