// The control group (commands to the instrument in the control-address box)
// and the settings page (port, baud rate, sampling period, resume, and the
// address and baud-rate writes). Each handler checks what the operator typed
// and asks the engine; the engine acts on its own thread.
#include "browser_pages.h"
#include "convert.h"
#include "engine.h"
#include "engine_host.h"
#include "error_box.h"
#include "errors.h"
#include "form1.h"
#include "iAnalogOutput.h"
#include "iIntegerOutput.h"
#include "message_list.h"
#include "port_box.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QScopedValueRollback>
#include <QTimer>
#include <QToolTip>

namespace {

// A whole number typed into an address box: 0..90, or refused naming the box.
int typed_address(const QComboBox* box, const char* caption)
{
    const int address = str_to_int(box->currentText().trimmed().toStdString());
    if (address < 0 || address > 90)
        throw EConvertError(std::string(caption) + " " + std::to_string(address) + " 超出仪表地址范围 0..90，未发送");
    return address;
}

// A value of an entry box as the box shows it (two decimals), for the question.
QString entry_text(double value) { return QString::number(value, 'f', 2); }

} // namespace

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
    for (QComboBox* box : { ComboBox1, ComboBox2, ComboBox4, ComboBox5, ComboBox7, ComboBox8 })
        box->setInsertPolicy(QComboBox::NoInsert);
    // Selecting an item or typing raises the change handler, as on the form.
    connect(ComboBox1, &QComboBox::editTextChanged, this, [this] {
        if (showing_serial)
            return;
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
    connect(ComboBox2, &QComboBox::editTextChanged, this, [this] {
        if (!showing_serial)
            run_guarded([this] { ComboBox2Change(ComboBox2); });
    });
    connect(ComboBox7, &QComboBox::editTextChanged, this, [this] { ComboBox7Change(); });
    iIntegerOutput1->OnChange = guarded([this](QObject* sender) {
        if (!showing_serial)
            iIntegerOutput1Change(sender);
    });
    connect(resume_check, &QCheckBox::toggled, this, [this](bool on) {
        if (!showing_serial)
            ask([on](Engine& e) { e.set_resume(on); }, "设置");
    });
    connect(confirm_check, &QCheckBox::toggled, this, [this](bool on) {
        if (!showing_serial)
            ask([on](Engine& e) { e.set_confirm_commands(on); }, "设置");
    });
    iAnalogOutput1->OnRefuse = [this](const QString& t) { entry_refused(iAnalogOutput1, QStringLiteral("手动调功"), t); };
    iAnalogOutput2->OnRefuse = [this](const QString& t) { entry_refused(iAnalogOutput2, QStringLiteral("给定值"), t); };
    iIntegerOutput1->OnRefuse = [this](const QString& t) { entry_refused(iIntegerOutput1, QStringLiteral("采样周期"), t); };
}

void TForm1::entry_refused(TiEditCustom* box, const QString& caption, const QString& refused)
{
    const bool integer = box == iIntegerOutput1;
    const QString accepted = integer ? QStringLiteral("只收数字") : QStringLiteral("只收数字、负号和小数点");
    const QString kept = box->editor()->text();
    const QString text = refused.size() == 1
        ? QStringLiteral("“%1”框%2：“%3”未输入，框内仍为 %4").arg(caption, accepted, refused, kept)
        : QStringLiteral("“%1”框%2：“%3”不是数字，已撤销，仍为 %4").arg(caption, accepted, refused, kept);
    QToolTip::showText(box->mapToGlobal(QPoint(0, box->height())), text, box);
    EngineMessage m;
    m.time = QDateTime::currentDateTime();
    m.source = QStringLiteral("输入");
    m.text = text;
    m.level = EngineMessage::Level::Warning;
    message_list->add(m);
}

bool TForm1::confirm_command(int address, const QString& command, const QString& value) const
{
    if (!serial.confirm_commands)
        return true;
    const QString text = QStringLiteral("向仪表 %1 发送“%2”：%3？\n\n按“是”发送，按“否”不发送。")
                             .arg(address)
                             .arg(command, value);
    return OperatorPrompts::instance().ask(const_cast<TForm1*>(this), QStringLiteral("确认命令"), text);
}

void TForm1::load_control_values(int address)
{
    const auto it = control_values.find(address);
    if (it == control_values.end())
        return;
    iAnalogOutput2->SetValue(it->second.sv);
    iAnalogOutput1->SetValue(it->second.mp);
}

int TForm1::take_control_address() const { return typed_address(ComboBox7, "控制地址"); }

void TForm1::ComboBox7Change()
{
    bool number = false;
    const int address = ComboBox7->currentText().trimmed().toInt(&number);
    const std::optional<int> control = number && address >= 0 && address <= 90 ? std::optional<int>(address)
                                                                               : std::nullopt;
    // The boxes show what this instrument holds now, never what another one
    // (or nothing at all) left in them.
    if (control)
        load_control_values(*control);
    ask([control](Engine& e) { e.set_control_address(control); }, "控制");
}

void TForm1::Button5Click(QObject*)
{
    const int address = take_control_address();
    if (!confirm_command(address, QStringLiteral("RUN/HOLD"), QStringLiteral("运行状态Srun 写 0（运行）")))
        return;
    ask([address](Engine& e) { e.run_hold(address); }, "控制");
}

void TForm1::Button6Click(QObject*)
{
    const int address = take_control_address();
    if (!confirm_command(address, QStringLiteral("HAND"), QStringLiteral("运行状态Srun 写 2（手动）")))
        return;
    ask([address](Engine& e) { e.hand(address); }, "控制");
}

void TForm1::Button7Click(QObject*)
{
    const int address = take_control_address();
    if (!confirm_command(address, QStringLiteral("STOP"), QStringLiteral("运行状态Srun 写 1（停止）")))
        return;
    ask([address](Engine& e) { e.stop_instrument(address); }, "控制");
}

void TForm1::Button8Click(QObject*)
{
    const int address = take_control_address();
    const double value = iAnalogOutput1->Value();
    if (!confirm_command(address, QStringLiteral("手动调功"), QStringLiteral("手动功率MP = ") + entry_text(value)))
        return;
    ask([address, value](Engine& e) { e.manual_output(address, value); }, "控制");
}

void TForm1::Button9Click(QObject*)
{
    const int address = take_control_address();
    const double value = iAnalogOutput2->Value();
    if (!confirm_command(address, QStringLiteral("给定值"), QStringLiteral("SP1 = ") + entry_text(value)))
        return;
    ask([address, value](Engine& e) { e.set_value(address, value); }, "控制");
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
    // A listed item names its port (a device keeps the case of its path). A
    // typed text that is no item keeps the port in use, which is closed,
    // saved and opened again.
    const int k = combo_selected_index(ComboBox1);
    if (k < 0) {
        ask([](Engine& e) { e.reopen_port(); }, "串口");
        return;
    }
    const QString name = QString::fromStdString(port_box->port_name(k));
    ask([k, name](Engine& e) { e.set_port(k, name); }, "串口");
}

void TForm1::ComboBox2Change(QObject*)
{
    // Only a listed rate is a choice; a text typed half-way is none yet.
    const int k = combo_selected_index(ComboBox2);
    if (k >= 0 && k <= 2)
        ask([k](Engine& e) { e.set_baud(k); }, "串口");
}

void TForm1::iIntegerOutput1Change(QObject*)
{
    const int period = iIntegerOutput1->Value();
    if (period < 1) {
        const int kept = serial.period;
        {
            const QScopedValueRollback<bool> quiet(showing_serial, true);
            iIntegerOutput1->SetValue(kept);
        }
        throw EStationError("采样周期须为 1 秒或更长，仍为 " + std::to_string(kept) + " 秒");
    }
    ask([period](Engine& e) { e.set_period(period); }, "设置");
}

void TForm1::show_serial(const SerialShown& shown)
{
    serial = shown;
    const QScopedValueRollback<bool> quiet(showing_serial, true);
    Edit1->setText(shown.port_line);
    Edit2->setText(shown.baud_line);
    if (shown.port_name.isEmpty())
        ComboBox1->setCurrentIndex(-1); // no port chosen: no item shown as if it were
    else if (ComboBox1->currentText().compare(shown.port_name, Qt::CaseInsensitive) != 0)
        port_box->select_port(shown.port_name);
    if (shown.baud_index >= 0 && shown.baud_index < ComboBox2->count())
        ComboBox2->setCurrentIndex(shown.baud_index);
    if (iIntegerOutput1->Value() != shown.period)
        iIntegerOutput1->SetValue(shown.period);
    resume_check->setChecked(shown.resume);
    confirm_check->setChecked(shown.confirm_commands);
}

void TForm1::update_port_label() { port_device_label->setText(link.port_label); }

// --- Instrument set-up writes ----------------------------------------------

void TForm1::Button15Click(QObject*)
{
    const int new_address = typed_address(ComboBox4, "新地址");
    const int old_address = typed_address(ComboBox8, "原地址");
    if (!confirm_command(old_address, QStringLiteral("写地址"), QStringLiteral("新地址 %1").arg(new_address)))
        return;
    ask([old_address, new_address](Engine& e) { e.write_address(old_address, new_address); }, "设置");
}

void TForm1::Button16Click(QObject*)
{
    const int k = combo_selected_index(ComboBox5);
    if (k < 0 || k > 2)
        throw EStationError("请在“波特率输入”中选择 4800、9600 或 19200，未发送");
    const int address = typed_address(ComboBox8, "原地址");
    if (!confirm_command(address, QStringLiteral("写波特率"), QStringLiteral("新波特率 ") + ComboBox5->itemText(k)))
        return;
    ask([address, k](Engine& e) { e.write_baud(address, k); }, "设置");
}
