#include "error_box.h"
#include "errors.h"
#include "form1.h"
#include "param_grid.h"
#include "public_set.h"
#include "roster.h"
#include "run_texts.h"
#include "scomm.h"

#include "convert.h"
#include "frame_codec.h"
#include "iTimers.h"
#include "param_catalogue.h"
#include "param_text.h"
#include "parameters.h"
#include "ttimer.h"

#include <QComboBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <string>
#include <utility>

// The grid reports its editor's text when the editor opens, after each change
// and when it closes. A text that differs from the previous report is an edit
// in progress; the same text reported again is a committed edit and is queued.
void TForm1::StringGrid1SetEditText(int ACol, int ARow, const QString& Value)
{
    if (Value != Label72->text()) {
        Label72->setText(Value);
        return;
    }
    const int address = value_column_address(*StringGrid1, ACol);
    // A value that cannot be written is refused now, while the operator still
    // looks at the cell, not at write time.
    try {
        (void)grid_write_value(ARow - 1, Value.toStdString(), dec_places_of(address));
    } catch (const EConvertError& e) {
        throw EStationError("第 " + std::to_string(ARow) + " 行（" + param_name(ARow - 1) + "）" + e.what()
                            + "，修改未排队");
    }
    if (edit_count >= kEditQueueSize)
        throw EStationError("编辑队列已满（" + std::to_string(kEditQueueSize)
            + " 项）：请先按“选择写”写入已排队的修改，本次修改未排队");
    edit_addr[edit_count] = address;
    edit_code[edit_count] = ARow - 1;
    edit_text[edit_count] = Value.toStdString();
    ++edit_count;
}

// ---------------------------------------------------------------------------
// The runs. Each is driven by one channel of iTimers1 and sends one request
// per tick; polling stops while one works and restarts when it ends. Runs, the
// scan and the commands exclude each other through the buttons' enabled state.

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

bool TForm1::read_all_running() const
{
    return iTimers1->Enabled(1);
}

bool TForm1::run_busy() const
{
    return scan_active || iTimers1->Enabled(1) || iTimers1->Enabled(2) || iTimers1->Enabled(4)
        || iTimers1->Enabled(5) || iTimers1->Enabled(6) || iTimers1->Enabled(7);
}

void TForm1::update_run_buttons()
{
    const bool busy = run_busy();
    for (QPushButton* b : { Button3, Button12, Button14 })
        b->setEnabled(first_scan_done && !busy);
    Button1->setEnabled(!busy);
    Button_scan->setEnabled(!busy);
    for (QPushButton* b : { import_button, compare_button, copy_button })
        b->setEnabled(!busy);
    for (QPushButton* b : { Button5, Button6, Button7, Button15, Button16 })
        b->setEnabled(!busy);
    Button8->setEnabled(button8_allowed && !busy);
    Button9->setEnabled(button9_allowed && !busy);
}

void TForm1::connect_run_handlers()
{
    connect_click(Button3, &TForm1::Button3Click);
    connect_click(Button1, &TForm1::Button1Click);
    connect_click(Button4, &TForm1::Button4Click);
    connect_click(Button14, &TForm1::Button14Click);
    connect_click(Button12, &TForm1::Button12Click);
    iTimers1->OnTimer(1) = guarded([this](QObject* sender) { iTimers1Timer1(sender); });
    iTimers1->OnTimer(2) = guarded([this](QObject* sender) { iTimers1Timer2(sender); });
    iTimers1->OnTimer(4) = guarded([this](QObject* sender) { iTimers1Timer4(sender); });
    iTimers1->OnTimer(5) = guarded([this](QObject* sender) { iTimers1Timer5(sender); });
    iTimers1->OnTimer(6) = guarded([this](QObject* sender) { set_run_tick(sender); });
    iTimers1->OnTimer(7) = guarded([this](QObject* sender) { set_run_tick(sender); });
}

// The last code a run sends for an address. A segment count above the
// catalogue's 179 (a byte can hold up to 255) would ask for codes the
// instruments do not have, so the run never goes past "t180", code 410.
int TForm1::last_code_for(int segments)
{
    const int last = run_code_base + 2 * segments;
    return last < kLastParamCode ? last : kLastParamCode;
}

int TForm1::run_last_code() const
{
    return last_code_for(segment_count);
}

void TForm1::set_progress(int done, int total)
{
    run_progress->setRange(0, total > 0 ? total : 1);
    run_progress->setValue(done < 0 ? 0 : done > total ? total : done);
}

// --- Read-all run ----------------------------------------------------------

void TForm1::Button3Click(QObject*)
{
    if (run_busy())
        return;
    para_run_active = 1;
    Timer1->setEnabled(false);
    inst_count = static_cast<byte_t>(roster::count());
    // Columns first: the grid drops texts set beyond its column count, and
    // every value column of the run must start from "0".
    layout_value_columns(*StringGrid1, roster::addresses());
    for (int col = 2; col <= inst_count + 1; ++col)
        for (int row = 1; row <= kParamCount; ++row)
            StringGrid1->setCells(col, row, QStringLiteral("0"));
    cur_code = -1;
    cur_addr = 0;
    Label15->setText(kReading);
    StringGrid1->setTopRow(1);
    cur_slot = 0;
    read_all_sent = 0;
    set_progress(0, inst_count * (run_code_base + 1));
    iTimers1->SetEnabled(1, true);
    update_run_buttons();
}

void TForm1::iTimers1Timer1(QObject*)
{
    if (roster::enabled(cur_addr) && cur_code < run_last_code()) {
        ++cur_code;
        scomm485_write_command(make_read_frame(static_cast<std::uint8_t>(cur_addr), cur_code), RequestKind::ReadRun);
        Label67->setText(command_text(cur_code));
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
    StringGrid1->setTopRow(1);
    // The walk ends after the last enabled address (whatever boxes were
    // changed meanwhile), and never goes past 90.
    if (cur_addr > kMaxAddress || roster::next_enabled(cur_addr - 1, kMaxAddress) < 0) {
        para_run_active = 0;
        iTimers1->SetEnabled(1, false);
        Label15->setText(kUploaded);
        Timer1->setEnabled(true);
        Label67->clear();
        cur_code = 0;
        set_progress(read_all_sent, read_all_sent);
        update_run_buttons();
    } else if (!reply_ok) {
        set_comm_led(true);
    }
}

// "停止" ends whichever run is active and restarts polling.
void TForm1::Button4Click(QObject*)
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
    Label15->setText(kStopped);
    update_run_buttons();
    if (stopped.active && stopped.on_inspected)
        stopped.on_inspected(false, {});
}

// --- Column runs -----------------------------------------------------------

void TForm1::end_column_run(int channel, const QString& status)
{
    para_run_active = 0;
    Timer1->setEnabled(true);
    iTimers1->SetEnabled(channel, false);
    write_pending = 0;
    Label15->setText(status);
    Label67->clear();
    if (channel == 2)
        column_write.active = false;
    update_run_buttons();
}

// The column of an address and its segment count ("程序段数Pno", row 41),
// which sets how far a run goes. Throws when there is no such column or the
// cell holds no whole number.
std::pair<int, int> TForm1::column_and_segments(int address) const
{
    const int col = roster::column_of(*StringGrid1, address);
    if (col == 0)
        throw EStationError("地址 " + std::to_string(address) + " 在参数表中没有数据列，请先巡扫或遍读");
    const QString pno = StringGrid1->Cells(col, 41);
    bool whole = false;
    const int segments = pno.trimmed().toInt(&whole);
    if (!whole)
        throw EStationError("“程序段数Pno”一格的内容 '" + pno.toStdString() + "' 不是整数");
    return { col, segments & 0xFF };
}

int TForm1::run_column(int address)
{
    const auto [col, segments] = column_and_segments(address);
    segment_count = static_cast<byte_t>(segments);
    return col;
}

int TForm1::column_run_step(int channel)
{
    // The column read takes the address, its column and its segment count
    // afresh each tick. A run that cannot go on ends here with a message, so
    // that a failing tick never repeats without end.
    try {
        cur_addr = str_to_int(ComboBox7->currentText().toStdString());
        return run_column(cur_addr);
    } catch (...) {
        end_column_run(channel, kStopped);
        throw;
    }
}

void TForm1::Button1Click(QObject*)
{
    if (run_busy())
        return;
    write_pending = 1;
    para_run_active = 1;
    Timer1->setEnabled(false);
    iTimers1->SetEnabled(4, true);
    cur_code = 0;
    Label15->setText(kReading);
    update_run_buttons();
}

void TForm1::iTimers1Timer4(QObject*)
{
    column_run_step(4);
    if (cur_code < run_last_code()) {
        ++cur_code;
        scomm485_write_command(make_read_frame(static_cast<std::uint8_t>(cur_addr), cur_code), RequestKind::ReadRun);
        Label67->setText(command_text(cur_code));
        set_progress(cur_code, run_last_code());
        return;
    }
    end_column_run(4, kUploaded);
}

// The value a column write sends for `code`: the cell's text, converted and
// checked against the code's range at `dec` decimal places. The message
// names the row and the text.
float TForm1::column_value(int col, int code, int dec) const
{
    const QString text = StringGrid1->Cells(col, code + 1);
    try {
        return grid_write_value(code, text.toStdString(), dec);
    } catch (const EConvertError& e) {
        throw EStationError("第 " + std::to_string(code + 1) + " 行（" + param_name(code) + "）" + e.what());
    }
}

void TForm1::Button14Click(QObject*)
{
    if (run_busy())
        return;
    // The instrument and every value are checked before anything is sent:
    // better no write than a half-written instrument.
    column_write = ColumnWrite {};
    column_write.address = take_control_address();
    try {
        const int col = run_column(column_write.address);
        for (int code : column_write_codes(run_last_code()))
            (void)column_value(col, code, dec_places_of(column_write.address));
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
    Label15->setText(kWriting);
    verify_label->clear();
    set_progress(0, column_write_requests(column_write_codes(run_last_code())));
    update_run_buttons();
}

void TForm1::iTimers1Timer2(QObject*)
{
    if (!column_write.active)
        return;
    if (send_due_readback()) {
        ++column_write.requests;
        Label67->setText(command_text(cur_code));
        set_progress(column_write.requests, column_write_requests(column_write_codes(run_last_code())));
        return;
    }
    std::vector<int> codes;
    int col = 0;
    float value = 0;
    int code = 0;
    try {
        col = run_column(column_write.address);
        codes = column_write_codes(run_last_code());
        if (column_write.next < codes.size()) {
            code = codes[column_write.next];
            value = column_value(col, code, dec_places_of(column_write.address));
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
        Label67->setText(command_text(cur_code));
        set_progress(column_write.requests, column_write_requests(codes));
        return;
    }
    // Everything is sent; the run ends once the last replies are in.
    if (run_replies_pending())
        return;
    finish_column_write();
}

void TForm1::note_write_outcome(const ReplyOutcome& outcome)
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

void TForm1::finish_column_write()
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
        throw EStationError(notes);
}

// --- Selected write run ----------------------------------------------------

void TForm1::Button12Click(QObject*)
{
    if (run_busy())
        return;
    edit_next = 0;
    write_pending = 1;
    Timer1->setEnabled(false);
    iTimers1->SetEnabled(5, true);
    para_run_active = 1;
    run_tally.clear();
    readback_due.reset();
    verify_label->clear();
    update_run_buttons();
}

void TForm1::iTimers1Timer5(QObject*)
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
    update_run_buttons();
    if (run_tally.empty())
        return;
    show_verification(run_tally);
    if (!run_tally.clean())
        throw EStationError("选择写：" + run_tally.summary());
}
