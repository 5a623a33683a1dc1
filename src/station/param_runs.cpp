#include "error_box.h"
#include "errors.h"
#include "form1.h"
#include "param_grid.h"
#include "public_set.h"

#include "codec_state.h"
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

const QString kReading = QStringLiteral("请稍候，读入数据...");
const QString kWriting = QStringLiteral("请稍候，写入数据...");
const QString kStopped = QStringLiteral("读入数据停止");
const QString kUploaded = QStringLiteral("数据上载完成");
const QString kDownloaded = QStringLiteral("数据下载完成");

QString command_text(int code)
{
    return QStringLiteral("当前命令  ") + QString::number(code);
}

// Value of a queued edit of cur_code. An enumerated code takes its word, as
// the grid shows it ("rELy" is 1), or a number typed in its place; every other
// code a decimal number. Throws EConvertError when the text is neither.
float queued_text_value(const std::string& text)
{
    if (param_text_class(cur_code) == TextClass::Enumerated) {
        try {
            return static_cast<float>(get_com_byte(text));
        } catch (const EConvertError&) {
            // Not a word: a number typed in its place is taken as it is.
        }
    }
    return static_cast<float>(str_to_float(text));
}

} // namespace

bool TForm1::read_all_running() const
{
    return iTimers1->Enabled(1);
}

bool TForm1::run_busy() const
{
    return scan_active || iTimers1->Enabled(1) || iTimers1->Enabled(2) || iTimers1->Enabled(4)
        || iTimers1->Enabled(5);
}

void TForm1::update_run_buttons()
{
    const bool busy = run_busy();
    for (QPushButton* b : { Button3, Button12, Button14 })
        b->setEnabled(first_scan_done && !busy);
    Button1->setEnabled(!busy);
    Button_scan->setEnabled(!busy);
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
}

// The last code a run sends for an address. A segment count above the
// catalogue's 179 (a byte can hold up to 255) would ask for codes the
// instruments do not have, so the run never goes past "t180", code 410.
int TForm1::run_last_code() const
{
    const int last = run_code_base + 2 * segment_count;
    return last < kLastParamCode ? last : kLastParamCode;
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
    inst_count = static_cast<byte_t>(enabled_address_count());
    // Columns first: the grid drops texts set beyond its column count, and
    // every value column of the run must start from "0".
    layout_value_columns(*StringGrid1, enabled_addresses());
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
    if (address_in(cur_addr, kAddrTableSize) && addr_enabled[cur_addr] && cur_code < run_last_code()) {
        ++cur_code;
        scomm485_write_command(make_read_frame(static_cast<std::uint8_t>(cur_addr), cur_code));
        Label67->setText(command_text(cur_code));
        if (cur_code == 0) {
            ++cur_slot;
            // The reply dispatch files each reply under addr_slot: give this
            // address the slot of its column now, so that a table left stale
            // (an address box changed since the last poll sweep) cannot send
            // the replies to another column or upset the end test below.
            addr_slot[cur_addr] = cur_slot;
        }
        ++read_all_sent;
        // Codes still to come: the rest of this address, and a plain table for
        // each enabled address after it.
        int later = 0;
        for (int a = cur_addr + 1; a <= kMaxAddress; ++a)
            if (addr_enabled[a])
                later += run_code_base + 1;
        set_progress(read_all_sent, read_all_sent + (run_last_code() - cur_code) + later);
        return;
    }
    ++cur_addr;
    cur_code = -1;
    StringGrid1->setTopRow(1);
    StringGrid1->setColCount(inst_count + 2);
    // The walk ends after the last enabled address, and never goes past 90.
    if (cur_slot >= inst_count || cur_addr > kMaxAddress) {
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
    for (int k : { 1, 2, 4, 5 })
        iTimers1->SetEnabled(k, false);
    Timer1->setEnabled(true);
    para_run_active = 0;
    write_pending = 0;
    Label15->setText(kStopped);
    update_run_buttons();
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
    update_run_buttons();
}

int TForm1::column_run_step(int channel)
{
    // The address, its column and its segment count are taken afresh each tick.
    // A run that cannot go on ends here with a message, so that a failing tick
    // never repeats without end.
    try {
        cur_addr = str_to_int(ComboBox7->currentText().toStdString());
        const int slot = address_in(cur_addr, kAddrTableSize) ? addr_slot[cur_addr] : 0;
        const int col = param_grid_column_of_slot(slot);
        if (slot == 0 || col >= StringGrid1->ColCount())
            throw EStationError("地址 " + std::to_string(cur_addr) + " 在参数表中没有数据列，请先巡扫或读入");
        const QString pno = StringGrid1->Cells(col, 41);
        bool whole = false;
        const int segments = pno.trimmed().toInt(&whole);
        if (!whole)
            throw EStationError("“程序段数Pno”一格的内容 '" + pno.toStdString() + "' 不是整数");
        segment_count = static_cast<byte_t>(segments & 0xFF);
        return col;
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
        scomm485_write_command(make_read_frame(static_cast<std::uint8_t>(cur_addr), cur_code));
        Label67->setText(command_text(cur_code));
        set_progress(cur_code, run_last_code());
        return;
    }
    end_column_run(4, kUploaded);
}

void TForm1::Button14Click(QObject*)
{
    if (run_busy())
        return;
    write_pending = 1;
    para_run_active = 1;
    Timer1->setEnabled(false);
    iTimers1->SetEnabled(2, true);
    cur_code = 0;
    Label15->setText(kWriting);
    update_run_buttons();
}

void TForm1::iTimers1Timer2(QObject*)
{
    const int col = column_run_step(2);
    if (cur_code < run_last_code()) {
        ++cur_code;
        const QString text = StringGrid1->Cells(col, cur_code + 1);
        try {
            para_value = param_text_to_value(cur_code, text.toStdString());
        } catch (const std::exception& e) {
            // Better a clear stop than a half-written instrument without notice.
            end_column_run(2, kStopped);
            throw EStationError("写一列停止：第 " + std::to_string(cur_code + 1) + " 行（"
                + param_name(cur_code) + "）的内容 '" + text.toStdString() + "' 无法写入：" + e.what());
        }
        parachange();
        scomm485_write_command(make_write_frame(static_cast<std::uint8_t>(cur_addr), cur_code, para_value));
        Label67->setText(command_text(cur_code));
        set_progress(cur_code, run_last_code());
        return;
    }
    end_column_run(2, kDownloaded);
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
    update_run_buttons();
}

void TForm1::iTimers1Timer5(QObject*)
{
    write_pending = 1;
    if (edit_next < edit_count) {
        const int index = edit_next++;
        cur_addr = edit_addr[index];
        cur_code = edit_code[index];
        try {
            para_value = queued_text_value(edit_text[index]);
        } catch (const std::exception& e) {
            throw EStationError("选择写跳过地址 " + std::to_string(cur_addr) + " 的参数 "
                + param_name(cur_code) + "：'" + edit_text[index] + "' 无法写入（" + e.what() + "）");
        }
        parachange();
        scomm485_write_command(make_write_frame(static_cast<std::uint8_t>(cur_addr), cur_code, para_value));
        return;
    }
    write_pending = 0;
    para_run_active = 0;
    iTimers1->SetEnabled(5, false);
    Timer1->setEnabled(true);
    edit_count = 0;
    edit_next = 0;
    update_run_buttons();
}
