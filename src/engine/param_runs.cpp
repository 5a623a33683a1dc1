// The parameter runs: read-all, column read, column write and selected write,
// and the operator's edits they send. Each run is driven by one channel of
// iTimers1 and sends one request per tick; polling stops while one works and
// restarts when it ends. Runs, the scan and the commands exclude each other.
#include "engine.h"

#include "convert.h"
#include "errors.h"
#include "frame_codec.h"
#include "param_catalogue.h"
#include "param_text.h"
#include "param_value.h"
#include "parameters.h"
#include "public_set.h"
#include "roster.h"
#include "run_texts.h"
#include "run_timers.h"
#include "scomm.h"
#include "ttimer.h"

#include <string>
#include <utility>

namespace {

// Codes of a column write in the order they are sent: the address (34) and
// the baud rate (35) last, so that an instrument moved by them has had every
// other value first.
std::vector<int> column_write_codes(int last_code)
{
    std::vector<int> codes;
    for (int code = 1; code <= last_code; ++code)
        if (code != 34 && code != 35)
            codes.push_back(code);
    for (int code : { 34, 35 })
        if (code <= last_code)
            codes.push_back(code);
    return codes;
}

// Requests of a column write of `codes`: every write, and a read-back for
// each but the address and the baud rate.
int column_write_requests(const std::vector<int>& codes)
{
    int n = 0;
    for (int code : codes)
        n += is_read_back(code) ? 2 : 1;
    return n;
}

} // namespace

void Engine::edit_cell(int address, int row, const QString& text)
{
    const int code = row - 1;
    if (!param_table.has_column(address))
        throw EStationError("地址 " + std::to_string(address) + " 在参数表中没有数据列，修改未排队");
    // A value that cannot be written is refused now, while the operator still
    // looks at the cell, not at write time.
    try {
        (void)grid_write_value(code, text.toStdString(), dec_places_of(address));
    } catch (const EConvertError& e) {
        param_table.touch(address, row); // the cell shows its value again
        // One message: the row, the text refused and what the row takes.
        std::string what = e.what();
        if (what.find("超出范围") == std::string::npos)
            what += "，可设范围 " + param_range_text(param_value_range(code, dec_places_of(address)));
        throw EStationError("第 " + std::to_string(row) + " 行（" + param_name(code) + "）" + what
                            + "，修改未排队，单元格恢复原值");
    }
    if (edit_count >= kEditQueueSize) {
        param_table.touch(address, row);
        throw EStationError("编辑队列已满（" + std::to_string(kEditQueueSize)
            + " 项）：请先按“选择写”写入已排队的修改，本次修改未排队");
    }
    param_table.set_cell(address, row, text);
    edit_addr[edit_count] = address;
    edit_code[edit_count] = code;
    edit_text[edit_count] = text.toStdString();
    ++edit_count;
}

void Engine::put_set(int address, const ParamSet& set)
{
    if (run_busy())
        throw EStationError("另一项操作正在进行，请等它结束后再导入");
    if (!param_table.has_column(address))
        throw EStationError("地址 " + std::to_string(address) + " 在参数表中没有数据列，请先巡扫或遍读；未导入");
    const int dec = dec_places_of(address);
    for (const auto& [code, value] : set.values) {
        param_table.set_cell(address, code + 1, QString::fromStdString(set_value_text(code, value, dec)));
        Q_EMIT param_mark(CellMark { address, code + 1, CellMark::Kind::None, {} });
    }
    // The window shows the set now: a call from it (import) is no request
    // whose end would send the changed cells.
    flush_param_changes();
}

ParamSet Engine::grid_column_set(int address) const
{
    const auto [col, segments] = column_and_segments(address);
    ParamSet set;
    set.address = address;
    set.decimal_places = dec_places_of(address);
    for (int code = kFirstSetCode; code <= last_code_for(segments); ++code)
        set.values[code] = column_value(col, code, set.decimal_places);
    return set;
}

int Engine::decimal_places(int address) const { return dec_places_of(address); }

// The last code a run sends for an address. A segment count above the
// catalogue's 179 (a byte can hold up to 255) would ask for codes the
// instruments do not have, so the run never goes past "t180", code 410.
int Engine::last_code_for(int segments)
{
    const int last = run_code_base + 2 * segments;
    return last < kLastParamCode ? last : kLastParamCode;
}

int Engine::run_last_code() const { return last_code_for(segment_count); }

void Engine::set_progress(int done, int total)
{
    progress_total = total > 0 ? total : 1;
    progress_done = done < 0 ? 0 : done > total ? total : done;
    report_run();
}

// --- Read-all run ----------------------------------------------------------

void Engine::start_read_all()
{
    if (run_busy())
        throw EStationError("另一项操作正在进行，请等它结束后再遍读");
    para_run_active = 1;
    Timer1->setEnabled(false);
    inst_count = static_cast<byte_t>(roster::count());
    // Columns first; every value column of the run starts from "0".
    const std::vector<int> addresses = roster::addresses();
    if (param_table.addresses() != addresses) {
        param_table.layout(addresses);
        Q_EMIT param_columns(addresses);
    }
    for (int address : addresses)
        for (int row = 1; row <= kParamRows; ++row)
            param_table.set_cell(address, row, QStringLiteral("0"));
    cur_code = -1;
    cur_addr = 0;
    run_status_text = kReading;
    param_top_row_ = 1;
    Q_EMIT param_top_row(param_top_row_);
    cur_slot = 0;
    read_all_sent = 0;
    iTimers1->SetEnabled(1, true);
    set_progress(0, inst_count * (run_code_base + 1));
}

void Engine::iTimers1Timer1()
{
    if (roster::enabled(cur_addr) && cur_code < run_last_code()) {
        ++cur_code;
        scomm485_write_command(make_read_frame(static_cast<std::uint8_t>(cur_addr), cur_code), RequestKind::ReadRun);
        run_command_text = command_text(cur_code);
        if (cur_code == 0)
            ++cur_slot;
        ++read_all_sent;
        // Codes still to come: the rest of this address, and a plain table for
        // each enabled address after it.
        int later = 0;
        for (int a = roster::next_enabled(cur_addr, kMaxAddress); a >= 0; a = roster::next_enabled(a, kMaxAddress))
            later += run_code_base + 1;
        set_progress(read_all_sent, read_all_sent + (run_last_code() - cur_code) + later);
        return;
    }
    ++cur_addr;
    cur_code = -1;
    param_top_row_ = 1;
    Q_EMIT param_top_row(param_top_row_);
    // The walk ends after the last enabled address (whatever boxes were
    // changed meanwhile), and never goes past 90.
    if (cur_addr > kMaxAddress || roster::next_enabled(cur_addr - 1, kMaxAddress) < 0) {
        para_run_active = 0;
        iTimers1->SetEnabled(1, false);
        run_status_text = kUploaded;
        Timer1->setEnabled(true);
        run_command_text.clear();
        cur_code = 0;
        set_progress(read_all_sent, read_all_sent);
    } else if (!reply_ok) {
        Q_EMIT comm_led(true);
    }
}

// "停止" ends whichever run is active and restarts polling.
void Engine::stop_runs()
{
    // A scan is no parameter run: restarting polling under it would mix poll
    // replies into the search for addresses.
    if (scan_active)
        return;
    for (int k : { 1, 2, 4, 5, 6, 7 })
        iTimers1->SetEnabled(k, false);
    Timer1->setEnabled(true);
    para_run_active = 0;
    write_pending = 0;
    column_write.active = false;
    // Read-backs still on their way belong to the stopped run: dropped.
    readback_due.reset();
    readbacks.clear();
    const SetRun stopped = std::exchange(set_run, SetRun {});
    run_status_text = kStopped;
    report_run();
    if (stopped.active && stopped.inspecting)
        Q_EMIT inspection_done(stopped.inspection_id, false, {});
}

// --- Column runs -----------------------------------------------------------

void Engine::end_column_run(int channel, const QString& status)
{
    para_run_active = 0;
    Timer1->setEnabled(true);
    iTimers1->SetEnabled(channel, false);
    write_pending = 0;
    run_status_text = status;
    run_command_text.clear();
    if (channel == 2)
        column_write.active = false;
    report_run();
}

// The column of an address and its segment count ("程序段数Pno", row 41),
// which sets how far a run goes. Throws when there is no such column or the
// cell holds no whole number.
std::pair<int, int> Engine::column_and_segments(int address) const
{
    if (!param_table.has_column(address))
        throw EStationError("地址 " + std::to_string(address) + " 在参数表中没有数据列，请先巡扫或遍读");
    const QString pno = param_table.cell(address, 41);
    bool whole = false;
    const int segments = pno.trimmed().toInt(&whole);
    if (!whole)
        throw EStationError("“程序段数Pno”一格的内容 '" + pno.toStdString() + "' 不是整数");
    return { address, segments & 0xFF };
}

int Engine::run_column(int address)
{
    const auto [col, segments] = column_and_segments(address);
    segment_count = static_cast<byte_t>(segments);
    return col;
}

void Engine::column_run_step(int channel)
{
    // The column read takes the address, its column and its segment count
    // afresh each tick. A run that cannot go on ends here with a message, so
    // that a failing tick never repeats without end.
    try {
        if (!control_address_)
            throw EStationError("控制地址不是仪表地址");
        cur_addr = *control_address_;
        run_column(cur_addr);
    } catch (...) {
        end_column_run(channel, kStopped);
        throw;
    }
}

void Engine::start_column_read()
{
    if (run_busy())
        throw EStationError("另一项操作正在进行，请等它结束后再读一列");
    write_pending = 1;
    para_run_active = 1;
    Timer1->setEnabled(false);
    iTimers1->SetEnabled(4, true);
    cur_code = 0;
    run_status_text = kReading;
    report_run();
}

void Engine::iTimers1Timer4()
{
    column_run_step(4);
    if (cur_code < run_last_code()) {
        ++cur_code;
        scomm485_write_command(make_read_frame(static_cast<std::uint8_t>(cur_addr), cur_code), RequestKind::ReadRun);
        run_command_text = command_text(cur_code);
        set_progress(cur_code, run_last_code());
        return;
    }
    end_column_run(4, kUploaded);
}

// The value a column write sends for `code`: the cell's text, converted and
// checked against the code's range at `dec` decimal places. The message
// names the row and the text.
float Engine::column_value(int address, int code, int dec) const
{
    const QString text = param_table.cell(address, code + 1);
    try {
        return grid_write_value(code, text.toStdString(), dec);
    } catch (const EConvertError& e) {
        throw EStationError("第 " + std::to_string(code + 1) + " 行（" + param_name(code) + "）" + e.what());
    }
}

void Engine::start_column_write(int address)
{
    if (run_busy())
        throw EStationError("另一项操作正在进行，请等它结束后再写一列");
    if (address < 0 || address > kMaxAddress)
        throw EStationError("控制地址 " + std::to_string(address) + " 超出仪表地址范围 0..90，未发送");
    // The instrument and every value are checked before anything is sent:
    // better no write than a half-written instrument.
    column_write = ColumnWrite {};
    column_write.address = address;
    try {
        run_column(column_write.address);
        for (int code : column_write_codes(run_last_code()))
            (void)column_value(address, code, dec_places_of(column_write.address));
    } catch (const std::exception& e) {
        throw EStationError(std::string("写一列未开始：") + e.what() + "。未发送任何数据。");
    }
    column_write.target = column_write.address;
    column_write.active = true;
    run_tally.clear();
    readback_due.reset();
    write_pending = 1;
    para_run_active = 1;
    Timer1->setEnabled(false);
    iTimers1->SetEnabled(2, true);
    cur_code = 0;
    run_status_text = kWriting;
    verify_text.clear();
    verify_detail.clear();
    set_progress(0, column_write_requests(column_write_codes(run_last_code())));
}

void Engine::iTimers1Timer2()
{
    if (!column_write.active)
        return;
    if (send_due_readback()) {
        ++column_write.requests;
        run_command_text = command_text(cur_code);
        set_progress(column_write.requests, column_write_requests(column_write_codes(run_last_code())));
        return;
    }
    std::vector<int> codes;
    float value = 0;
    int code = 0;
    try {
        run_column(column_write.address);
        codes = column_write_codes(run_last_code());
        if (column_write.next < codes.size()) {
            code = codes[column_write.next];
            value = column_value(column_write.address, code, dec_places_of(column_write.address));
        }
    } catch (const std::exception& e) {
        end_column_run(2, kStopped);
        throw EStationError(std::string("写一列停止：") + e.what());
    }
    if (column_write.next < codes.size()) {
        ++column_write.next;
        // Counted under the instrument even when a new address has moved it;
        // the codes read back all go before the address.
        send_run_write(column_write.target, code, value, column_write.address);
        ++column_write.sent;
        ++column_write.requests;
        // After a new address the instrument answers there: what follows goes
        // to it. The baud rate is the last code, so nothing follows it.
        if (code == 34)
            column_write.target = static_cast<int>(para_value);
        if (code == 35)
            column_write.baud = static_cast<int>(para_value);
        run_command_text = command_text(cur_code);
        set_progress(column_write.requests, column_write_requests(codes));
        return;
    }
    // Everything is sent; the run ends once the last replies are in.
    if (run_replies_pending())
        return;
    finish_column_write();
}

void Engine::note_write_outcome(const ReplyOutcome& outcome)
{
    if (!column_write.active)
        return;
    if (readable_reply(outcome)) {
        ++column_write.answered;
        column_write.silent_in_row = 0;
        return;
    }
    column_write.unanswered_codes.push_back(outcome.request.code);
    if (++column_write.silent_in_row < kSilentWritesLimit)
        return;
    const ColumnWrite run = column_write;
    end_column_run(2, kStopped);
    throw EStationError("写一列停止：仪表 " + std::to_string(run.address) + " 连续 "
                        + std::to_string(kSilentWritesLimit) + " 项写入没有得到确认的应答（最后一项：第 "
                        + std::to_string(outcome.request.code + 1) + " 行 " + param_name(outcome.request.code)
                        + "）。已发送 " + std::to_string(run.sent) + " 项，其中 " + std::to_string(run.answered)
                        + " 项得到应答。请检查仪表与连线后重新写入。");
}

void Engine::finish_column_write()
{
    const ColumnWrite run = column_write;
    // A write whose reply was lost but whose read-back holds the value is
    // confirmed all the same.
    std::vector<int> unconfirmed;
    for (int code : run.unanswered_codes)
        if (!run_tally.verified(run.address, code))
            unconfirmed.push_back(code);
    std::string notes;
    if (!unconfirmed.empty()) {
        notes += "写一列：仪表 " + std::to_string(run.address) + " 共写入 " + std::to_string(run.sent) + " 项，"
            + std::to_string(unconfirmed.size()) + " 项未得到确认（没有应答，或应答无法辨认）：";
        for (size_t i = 0; i < unconfirmed.size(); ++i)
            notes += (i ? "、" : "") + param_name(unconfirmed[i]);
        notes += "。";
    }
    if (!run_tally.clean())
        notes += (notes.empty() ? "" : "\n") + std::string("写一列：") + run_tally.summary();
    if (run.target != run.address)
        notes += (notes.empty() ? "" : "\n") + std::string("仪表的通讯地址已由 ") + std::to_string(run.address)
            + " 改为 " + std::to_string(run.target) + "，请重新巡扫。";
    if (run.baud > 0 && static_cast<unsigned>(run.baud) != SComm1_485->BaudRate())
        notes += (notes.empty() ? "" : "\n") + std::string("仪表的波特率已写为 ") + std::to_string(run.baud)
            + "，本站仍为 " + std::to_string(SComm1_485->BaudRate()) + "：请在“系统设置”中选择相同的波特率。";
    end_column_run(2, unconfirmed.empty() && run_tally.clean() ? kDownloaded : kDownloadIncomplete);
    show_verification(run_tally);
    if (!notes.empty())
        messages.warning("参数", notes);
    else
        messages.info("参数", "写一列：仪表 " + std::to_string(run.address) + " " + run_tally.summary());
}

// --- Selected write run ----------------------------------------------------

void Engine::start_selected_write()
{
    if (run_busy())
        throw EStationError("另一项操作正在进行，请等它结束后再选择写");
    edit_next = 0;
    write_pending = 1;
    Timer1->setEnabled(false);
    iTimers1->SetEnabled(5, true);
    para_run_active = 1;
    run_tally.clear();
    readback_due.reset();
    verify_text.clear();
    verify_detail.clear();
    report_run();
}

void Engine::iTimers1Timer5()
{
    write_pending = 1;
    if (send_due_readback())
        return;
    if (edit_next < edit_count) {
        const int index = edit_next++;
        cur_addr = edit_addr[index];
        cur_code = edit_code[index];
        float value = 0;
        try {
            value = grid_write_value(cur_code, edit_text[index], dec_places_of(cur_addr));
        } catch (const std::exception& e) {
            throw EStationError("选择写跳过地址 " + std::to_string(cur_addr) + " 的参数 "
                + param_name(cur_code) + "：" + e.what() + "，未发送");
        }
        send_run_write(cur_addr, cur_code, value, cur_addr);
        return;
    }
    if (run_replies_pending())
        return;
    write_pending = 0;
    para_run_active = 0;
    iTimers1->SetEnabled(5, false);
    Timer1->setEnabled(true);
    edit_count = 0;
    edit_next = 0;
    report_run();
    if (run_tally.empty())
        return;
    show_verification(run_tally);
    if (!run_tally.clean())
        messages.warning("参数", "选择写：" + run_tally.summary());
    else
        messages.info("参数", "选择写：" + run_tally.summary());
}
