// The address table: the address boxes, the scan and its end.
#include "convert.h"
#include "frame_codec.h"
#include "form1.h"
#include "iTimers.h"
#include "param_grid.h"
#include "public_set.h"
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
    if (inst_count == 0)
        return;
    for (int k = 0; k < inst_count && k < 12; ++k)
        panel_box[static_cast<size_t>(k)]->setVisible(false);
    inst_count = static_cast<byte_t>(enabled_address_count());
    for (int k = 0; k < inst_count && k <= 11; ++k) {
        panel_box[static_cast<size_t>(k)]->setVisible(true);
        panel_label[static_cast<size_t>(k + 1)]->setText(QString::number(k) + QStringLiteral("#仪表"));
    }
}

int TForm1::enabled_address_count() const
{
    int count = 0;
    for (int a = 0; a <= kMaxAddress; ++a)
        if (addr_enabled[a])
            ++count;
    return count;
}

std::vector<int> TForm1::enabled_addresses() const
{
    std::vector<int> list;
    for (int a = 0; a <= kMaxAddress; ++a)
        if (addr_enabled[a])
            list.push_back(a);
    return list;
}

void TForm1::Button_scanClick(QObject*)
{
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

void TForm1::mark_found_address()
{
    if (!address_in(cur_addr, kAddrTableSize))
        return;
    addr_enabled[cur_addr] = 1;
    if (cur_addr < 90)
        addr_check[static_cast<size_t>(cur_addr)]->setChecked(true);
    append_item(ComboBox6, QString::number(cur_addr));
    if (inst_count < 12)
        panel_box[inst_count]->setVisible(true);
    append_item(ComboBox7, QString::number(cur_addr));
    if (inst_count < 255)
        ++inst_count;
    addr_slot[cur_addr] = inst_count;
}

void TForm1::iTimers1Timer3(QObject*)
{
    ++cur_addr;
    if (cur_addr < address_limit()) {
        Label28->setText(QString::number(cur_addr));
        scomm485_write_command(make_read_frame(static_cast<std::uint8_t>(cur_addr), 22));
        return;
    }
    // The scan ends.
    scan_active = 0;
    cur_addr = -1;
    cur_code = 0;
    Timer1->setEnabled(true);
    cur_slot = 0;
    iTimers1->SetEnabled(3, false);
    for (QGroupBox* group : address_groups)
        group->setEnabled(true);
    inst_count = static_cast<byte_t>(enabled_address_count());
    layout_value_columns(*StringGrid1, enabled_addresses());
    db_load_col = 2;
    for (int address : enabled_addresses()) {
        get_AI_database(address);
        ++db_load_col;
    }
    ai_para_first();
    first_scan_done = true;
    update_run_buttons();
}
