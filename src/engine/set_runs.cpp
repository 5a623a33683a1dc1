// The set runs of channels 6 and 7: copying a parameter set to several
// instruments, and reading instruments' sets for a comparison.
#include "engine.h"

#include "errors.h"
#include "frame_codec.h"
#include "param_catalogue.h"
#include "param_set_file.h"
#include "public_set.h"
#include "roster.h"
#include "run_texts.h"
#include "run_timers.h"
#include "ttimer.h"

#include <utility>

void Engine::start_copy(const ParamSet& set, const std::vector<int>& targets, bool with_address_and_baud)
{
    check_copy(set, targets, with_address_and_baud);
    // The copied communication address must be free unless it is the
    // target's own (one target only, checked above).
    if (const auto it = set.values.find(34); with_address_and_baud && it != set.values.end()) {
        const int moved_to = static_cast<int>(it->second);
        if (moved_to != targets.front()) {
            check_address_free(moved_to, "参数",
                "复制未开始，未发送任何数据（可不勾选“同时写通讯地址与波特率”）",
                [this, set, targets] { begin_copy(set, targets, true); });
            return;
        }
    }
    begin_copy(set, targets, with_address_and_baud);
}

void Engine::check_copy(const ParamSet& set, const std::vector<int>& targets, bool with_address_and_baud) const
{
    if (run_busy())
        throw EStationError("另一项操作正在进行，请等它结束后再复制");
    if (targets.empty())
        throw EStationError("请选择至少一台目标仪表");
    if (set.values.empty())
        throw EStationError("参数集中没有参数");
    if (with_address_and_baud && targets.size() > 1 && set.values.count(34))
        throw EStationError("同一通讯地址不能写入多台仪表（它们将占用同一地址）：请只选一台目标仪表，或不写通讯地址与波特率");
    // Every value is checked for every target before anything is sent.
    std::string problems;
    for (int target : targets) {
        if (target < 0 || target > kMaxAddress)
            throw EStationError("目标地址 " + std::to_string(target) + " 超出仪表地址范围 0..90");
        // What an import into the target's column would refuse.
        const int dec = dec_places_of(target);
        for (const auto& [code, value] : set.values) {
            try {
                (void)param_set_value(code, set_value_text(code, value, set.decimal_places), dec);
            } catch (const EConvertError& e) {
                problems += "\n仪表 " + std::to_string(target) + "：" + param_name(code) + " " + e.what();
            }
        }
    }
    if (!problems.empty())
        throw EStationError("复制未开始，未发送任何数据：" + problems);
    if (const auto it = set.values.find(34); with_address_and_baud && it != set.values.end()) {
        const int moved_to = static_cast<int>(it->second);
        if (moved_to < 0 || moved_to > kMaxAddress)
            throw EStationError("参数集的通讯地址 " + std::to_string(moved_to) + " 超出仪表地址范围 0..90，复制未开始");
        if (moved_to != targets.front() && roster::enabled(moved_to) && !health.silent(moved_to))
            throw EStationError("地址 " + std::to_string(moved_to)
                                + " 上已有仪表在巡检，两台仪表不能占用同一地址；复制未开始，未发送任何数据");
    }
}

void Engine::begin_copy(const ParamSet& set, const std::vector<int>& targets, bool with_address_and_baud)
{
    if (run_busy())
        throw EStationError("另一项操作正在进行，请等它结束后再复制");
    set_run = SetRun {};
    set_run.active = true;
    set_run.steps = copy_steps(set, targets, with_address_and_baud);
    run_tally.clear();
    readback_due.reset();
    write_pending = 1;
    para_run_active = 1;
    Timer1->setEnabled(false);
    iTimers1->SetEnabled(6, true);
    run_status_text = kWriting;
    verify_text.clear();
    verify_detail.clear();
    set_run_progress();
}

void Engine::start_inspection(const std::vector<int>& addresses, int id)
{
    if (run_busy())
        throw EStationError("另一项操作正在进行，请等它结束后再读取仪表");
    set_run = SetRun {};
    set_run.active = true;
    set_run.inspecting = true;
    set_run.inspection_id = id;
    for (int address : addresses) {
        const std::vector<SetStep> steps = inspection_steps(address);
        set_run.steps.insert(set_run.steps.end(), steps.begin(), steps.end());
    }
    write_pending = 1;
    para_run_active = 1;
    Timer1->setEnabled(false);
    iTimers1->SetEnabled(7, true);
    run_status_text = kReading;
    set_run_progress();
}

void Engine::set_run_progress()
{
    int remaining = readback_due ? 1 : 0;
    for (size_t i = set_run.next; i < set_run.steps.size(); ++i) {
        const SetStep& step = set_run.steps[i];
        if (!set_run.abandoned.count(step.address))
            remaining += step.write && is_read_back(step.code) ? 2 : 1;
    }
    set_progress(set_run.requests, set_run.requests + remaining);
}

void Engine::set_run_tick()
{
    if (!set_run.active)
        return;
    write_pending = 1;
    if (send_due_readback()) {
        ++set_run.requests;
        run_command_text = command_text(cur_code);
        set_run_progress();
        return;
    }
    while (set_run.next < set_run.steps.size() && set_run.abandoned.count(set_run.steps[set_run.next].address))
        ++set_run.next;
    if (set_run.next < set_run.steps.size()) {
        const SetStep step = set_run.steps[set_run.next++];
        if (step.write) {
            send_run_write(step.address, step.code, step.value, step.instrument);
        } else {
            cur_addr = step.address;
            cur_code = step.code;
            scomm485_write_command(make_read_frame(static_cast<std::uint8_t>(cur_addr), cur_code), RequestKind::Inspect);
        }
        ++set_run.requests;
        run_command_text = command_text(cur_code);
        set_run_progress();
        return;
    }
    // Everything is sent; the run ends once the last replies are in.
    if (run_replies_pending())
        return;
    finish_set_run();
}

void Engine::note_set_run_outcome(const ReplyOutcome& outcome)
{
    if (!set_run.active)
        return;
    const LineRequest& request = outcome.request;
    const bool answered = readable_reply(outcome);
    if (request.kind == RequestKind::WriteRun && !set_run.inspecting) {
        int& silent = set_run.silent_in_row[request.address];
        silent = answered ? 0 : silent + 1;
        if (silent >= kSilentWritesLimit && set_run.abandoned.insert(request.address).second)
            run_tally.abandoned(request.address, "连续 " + std::to_string(kSilentWritesLimit)
                                                     + " 项写入没有应答，其余参数未写入该仪表");
        return;
    }
    if (request.kind != RequestKind::Inspect || !set_run.inspecting || !answered)
        return;
    const int raw = split_reply(outcome.reply.data()).raw;
    set_run.words[request.address][request.code] = raw;
    if (request.code == 40)
        add_segment_reads(set_run.steps, set_run.next, request.address, last_code_for(raw & 0xFF));
}

void Engine::finish_set_run()
{
    const SetRun run = std::exchange(set_run, SetRun {});
    para_run_active = 0;
    write_pending = 0;
    iTimers1->SetEnabled(6, false);
    iTimers1->SetEnabled(7, false);
    Timer1->setEnabled(true);
    run_command_text.clear();
    if (run.inspecting) {
        run_status_text = kUploaded;
        report_run();
        // Decoded now, with the decimal places the input type (code 22) set
        // during the read.
        std::map<int, ParamSet> sets;
        for (const auto& [address, words] : run.words) {
            ParamSet& set = sets[address];
            set.address = address;
            set.decimal_places = dec_places_of(address);
            for (const auto& [code, raw] : words)
                set.values[code] = static_cast<float>(decode_param_word(code, raw, set.decimal_places));
        }
        Q_EMIT inspection_done(run.inspection_id, true, sets);
        return;
    }
    run_status_text = run_tally.clean() ? kDownloaded : kDownloadIncomplete;
    show_verification(run_tally);
    if (!run_tally.clean())
        messages.warning("参数", "复制参数集：\n" + run_tally.summary());
    else
        messages.info("参数", "复制参数集：\n" + run_tally.summary());
}
