// Control commands to the instrument in the control-address box, the serial
// settings, the address and baud-rate writes, and the sampling period.
#include "codec_state.h"
#include "convert.h"
#include "errors.h"
#include "error_box.h"
#include "form1.h"
#include "iAnalogOutput.h"
#include "iIntegerOutput.h"
#include "param_grid.h"
#include "port_box.h"
#include "public_set.h"
#include "roster.h"
#include "scomm.h"
#include "ttimer.h"

#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTimer>
#include <algorithm>
#include <limits>

namespace {

// An address typed into a box must name an instrument on the line; a frame
// carries it in one byte, so anything else would reach the wrong instrument.
int checked_address(const QString& text, const char* box_caption)
{
    const int address = str_to_int(text.toStdString());
    if (address < 0 || address > kMaxAddress)
        throw EConvertError(std::string(box_caption) + " " + std::to_string(address)
                            + " 超出仪表地址范围 0..90，未发送");
    return address;
}

}  // namespace

void TForm1::connect_control_handlers()
{
    connect_click(Button5, &TForm1::Button5Click);
    connect_click(Button6, &TForm1::Button6Click);
    connect_click(Button7, &TForm1::Button7Click);
    connect_click(Button8, &TForm1::Button8Click);
    connect_click(Button9, &TForm1::Button9Click);
    connect_click(Button15, &TForm1::Button15Click);
    connect_click(Button16, &TForm1::Button16Click);
    // Typed texts never become items: a text that matches no item leaves the
    // box without a selection.
    for (QComboBox* box : {ComboBox1, ComboBox2, ComboBox4, ComboBox5, ComboBox7, ComboBox8})
        box->setInsertPolicy(QComboBox::NoInsert);
    // Selecting an item or typing raises the change handler, as on the form.
    connect(ComboBox1, &QComboBox::editTextChanged, this, [this] {
        // A choice that changed the text has run the handler; the
        // `activated` that follows in the same event must not run it again.
        port_text_just_changed = true;
        QTimer::singleShot(0, this, [this] { port_text_just_changed = false; });
        run_guarded([this] { ComboBox1Change(ComboBox1); });
    });
    // Choosing the item already shown changes no text: it reopens the port,
    // as the hang-up note tells the operator to do.
    connect(ComboBox1, &QComboBox::activated, this, [this] {
        if (!port_text_just_changed)
            run_guarded([this] { ComboBox1Change(ComboBox1); });
    });
    connect(ComboBox2, &QComboBox::editTextChanged, this,
            [this] { run_guarded([this] { ComboBox2Change(ComboBox2); }); });
}

int TForm1::take_control_address() const { return checked_address(ComboBox7->currentText(), "控制地址"); }

// A value of the instrument's column of the grid: the column titled by the
// address, never another instrument's.
float TForm1::read_grid_value(int address, int row) const
{
    const int col = roster::column_of(*StringGrid1, address);
    if (col == 0)
        throw EStationError("地址 " + std::to_string(address)
                            + " 在参数表中没有数据列，请先巡扫或遍读；命令未发送");
    return static_cast<float>(str_to_float(StringGrid1->Cells(col, row).toStdString()));
}

// Sends a control command. The flags go up only now, when the frame goes out:
// a command refused before (a bad address or cell) leaves nothing behind.
void TForm1::send_command(int address, int code, float value)
{
    ctrl_cmd_pending = 1;
    cur_addr = address;
    cur_slot = static_cast<byte_t>(roster::slot_of(address));
    cur_code = code;
    para_value = value;
    write_pending = 1;
    expect_command_readback(address, code, value);
    scomm485_write_command(make_write_frame(static_cast<std::uint8_t>(address), code, value), RequestKind::Command);
}

void TForm1::Button5Click(QObject*)
{
    const int address = take_control_address();
    const float segments = read_grid_value(address, 41);
    button9_allowed = !(segments > 0);
    update_run_buttons();
    send_command(address, 10, 0);
}

void TForm1::Button6Click(QObject*)
{
    // Enabled first, so that a failing address or cell leaves it enabled.
    button8_allowed = true;
    update_run_buttons();
    const int address = take_control_address();
    const float advanced = read_grid_value(address, 43);
    if (advanced < 10000) {
        button8_allowed = false;
        update_run_buttons();
    }
    if (advanced > 9999)
        send_command(address, 10, 2);
}

void TForm1::Button7Click(QObject*)
{
    send_command(take_control_address(), 10, 1);
}

void TForm1::Button8Click(QObject*)
{
    const int address = take_control_address();
    if (read_grid_value(address, 43) > 9999)
        send_command(address, 0, static_cast<float>(iAnalogOutput1->Value()));
}

void TForm1::Button9Click(QObject*)
{
    const int address = take_control_address();
    if (read_grid_value(address, 41) == 0)
        send_command(address, 51, static_cast<float>(iAnalogOutput2->Value()));
}

// --- Serial settings -------------------------------------------------------

// The selected item of an editable box: the item whose text the box shows, or
// -1 when the text matches none. Typing an item's text exactly selects that
// item, so the settings file records what the station now uses.
int combo_selected_index(QComboBox* box)
{
    const QString text = box->currentText();
    int index = box->currentIndex();
    if (index >= 0 && box->itemText(index) == text)
        return index;
    index = box->findText(text, Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (index >= 0) {
        const QSignalBlocker blocker(box);
        box->setCurrentIndex(index);
    }
    return index;
}

void TForm1::ComboBox1Change(QObject*)
{
    port_from_command_line_ = false; // the operator's choice is saved
    SComm1_485->CloseComm();
    const int k = combo_selected_index(ComboBox1);
    if (k >= 0)
        SComm1_485->SetCommName(port_box->port_name(k));
    update_port_label();
    file_save();
    open_port();
}

void TForm1::ComboBox2Change(QObject*)
{
    SComm1_485->CloseComm();
    static const unsigned rates[] = {4800, 9600, 19200};
    const int k = combo_selected_index(ComboBox2);
    if (k >= 0 && k <= 2)
        SComm1_485->SetBaudRate(rates[k]);
    update_port_label();
    file_save();
    open_port();
}

void TForm1::update_port_label()
{
    const PortTarget target = resolve_port(SComm1_485->CommName());
    const QString device = target.device.empty()
                               ? QStringLiteral("无此设备：") + QString::fromStdString(target.why_none)
                               : QString::fromStdString(target.node);
    port_device_label->setText(QString::fromStdString(SComm1_485->CommName()) + QStringLiteral(" → ") + device
                               + (SComm1_485->is_open() ? QStringLiteral("（已打开）") : QStringLiteral("（未打开）")));
}

// --- Instrument set-up writes ----------------------------------------------

void TForm1::Button15Click(QObject*)
{
    cur_code = 2;
    const int new_address = checked_address(ComboBox4->currentText(), "新地址");
    para_value = static_cast<float>(new_address + 500);
    const int old_address = checked_address(ComboBox8->currentText(), "原地址");
    write_pending = 1;
    setup_write_pending = true;
    cur_addr = old_address;
    scomm485_write_command(make_write_frame(static_cast<std::uint8_t>(cur_addr), 2, para_value), RequestKind::SetupWrite);
}

void TForm1::Button16Click(QObject*)
{
    const int k = combo_selected_index(ComboBox5);
    if (k < 0 || k > 2)
        throw EStationError("请在“波特率输入”中选择 4800、9600 或 19200，未发送");
    const int address = checked_address(ComboBox8->currentText(), "原地址");
    cur_code = 2;
    write_pending = 1;
    setup_write_pending = true;
    static const float values[] = {603, 602, 601};
    para_value = values[k];
    cur_addr = address;
    scomm485_write_command(make_write_frame(static_cast<std::uint8_t>(cur_addr), 2, para_value), RequestKind::SetupWrite);
}

// The poll interval follows the period at all times. A period too long for
// the timer's millisecond count takes the longest interval it holds.
void TForm1::iIntegerOutput1Change(QObject*)
{
    const long long ms = static_cast<long long>(poll_period()) * 1000;
    Timer1->setInterval(static_cast<int>(std::min<long long>(ms, std::numeric_limits<int>::max())));
}
