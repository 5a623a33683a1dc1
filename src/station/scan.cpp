// The address table: the address boxes, the scan and its end.
#include "convert.h"
#include "errors.h"
#include "event_log.h"
#include "station_settings.h"
#include "frame_codec.h"
#include "form1.h"
#include "iTimers.h"
#include "param_grid.h"
#include "public_set.h"
#include "roster.h"
#include "ttimer.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>

void TForm1::checkbox_change(QCheckBox* box)
{
    if (scan_active)
        return;
    for (int a = 0; a < 12; ++a)
        if (addr_check[static_cast<size_t>(a)] == box)
            addr_enabled[a] = box->isChecked() ? 1 : 0;
    remember_addresses();
    if (inst_count == 0)
        return;
    for (int k = 0; k < inst_count && k < 12; ++k)
        panel_box[static_cast<size_t>(k)]->setVisible(false);
    inst_count = static_cast<byte_t>(roster::count());
    for (int k = 0; k < inst_count && k <= 11; ++k) {
        panel_box[static_cast<size_t>(k)]->setVisible(true);
        panel_label[static_cast<size_t>(k + 1)]->setText(QString::number(k) + QStringLiteral("#仪表"));
    }
    update_silence_marks();
}

void TForm1::Button_scanClick(QObject*)
{
    // The limit is read once, here: a text that is no number starts nothing
    // (checked at every tick it would fail every 300 ms and skip addresses).
    int limit = 0;
    try {
        limit = address_limit();
    } catch (const EConvertError&) {
        throw EStationError("“巡扫”未开始：地址上限 '" + ComboBox10->currentText().toStdString()
                            + "' 不是整数，请输入 1 到 90 之间的数");
    }
    scan_limit = limit;
    cur_code = 22;
    scan_active = 1;
    for (QGroupBox* group : address_groups)
        group->setEnabled(false);
    for (int k = 0; k < inst_count && k < 12; ++k)
        panel_box[static_cast<size_t>(k)]->setVisible(false);
    for (int a = 0; a < 90; ++a) {
        addr_enabled[a] = 0;
        addr_check[static_cast<size_t>(a)]->setChecked(false);
    }
    Timer1->setEnabled(false);
    cur_addr = -1;
    inst_count = 0;
    iTimers1->SetEnabled(3, true);
    update_run_buttons();
}

// Appends an item to an editable box without touching its text (adding the
// first item would otherwise select it and replace what the operator typed).
static void append_item(QComboBox* box, const QString& item)
{
    const QString text = box->currentText();
    const QSignalBlocker blocker(box);
    box->addItem(item);
    box->setCurrentIndex(-1);
    box->setEditText(text);
}

void TForm1::mark_found_address(int address)
{
    // A second reply for an address already found (a probe answered twice)
    // changes nothing: no second item, no second panel.
    if (!address_in(address, kAddrTableSize) || address > kMaxAddress || addr_enabled[address])
        return;
    addr_enabled[address] = 1;
    if (address < 90)
        addr_check[static_cast<size_t>(address)]->setChecked(true);
    append_item(ComboBox6, QString::number(address));
    if (inst_count < 12)
        panel_box[inst_count]->setVisible(true);
    append_item(ComboBox7, QString::number(address));
    if (inst_count < 255)
        ++inst_count;
    addr_slot[address] = static_cast<byte_t>(roster::slot_of(address));
}

void TForm1::iTimers1Timer3(QObject*)
{
    if (cur_addr + 1 < scan_limit) {
        ++cur_addr;
        Label28->setText(QString::number(cur_addr));
        scomm485_write_command(make_read_frame(static_cast<std::uint8_t>(cur_addr), 22), RequestKind::Probe);
        return;
    }
    // The last probes' replies are still being collected: end on a later tick.
    if (replies.pending(RequestKind::Probe))
        return;
    // The scan ends.
    scan_active = 0;
    cur_addr = -1;
    poll_pos = -1;
    cur_code = 0;
    Timer1->setEnabled(true);
    cur_slot = 0;
    iTimers1->SetEnabled(3, false);
    for (QGroupBox* group : address_groups)
        group->setEnabled(true);
    adopt_addresses();
}

void TForm1::adopt_addresses()
{
    inst_count = static_cast<byte_t>(roster::count());
    layout_value_columns(*StringGrid1, roster::addresses());
    db_load_col = 2;
    for (int address : roster::addresses()) {
        get_AI_database(address);
        ++db_load_col;
    }
    ai_para_first();
    first_scan_done = true;
    update_run_buttons();
    update_silence_marks();
    remember_addresses();
}

void TForm1::remember_addresses()
{
    const std::vector<int> addresses = roster::addresses();
    // Called from the reply dispatch too: a station.ini that cannot be
    // written is said in the event log and never stops the handling of a reply.
    try {
        station_settings->set_addresses(addresses);
        for (int address : addresses)
            station_settings->set_decimal_places(address, dec_places_of(address));
    } catch (const EInOutError& e) {
        event_log::write("设置", e.what());
    }
}

void TForm1::resume_addresses()
{
    if (!station_settings->resume())
        return;
    const std::vector<int> addresses = station_settings->addresses();
    if (addresses.empty())
        return;
    // As if a scan had just found them: boxes, address lists, panels, grid
    // columns with their stored sets; the decimal places the last scan learnt.
    inst_count = 0;
    std::string list;
    for (int address : addresses) {
        const int places = station_settings->decimal_places(address);
        if (places >= 0)
            set_dec_places(address, places);
        mark_found_address(address);
        list += (list.empty() ? "" : ", ") + std::to_string(address);
    }
    poll_pos = -1;
    adopt_addresses();
    event_log::write("巡检", "按上次的地址 " + list + " 恢复巡检，未经巡扫");
}
