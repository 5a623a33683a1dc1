// The reply dispatch: every valid 10-byte reply changes the station here.
#include "codec_state.h"
#include "convert.h"
#include "form1.h"
#include "icolors.h"
#include "iLedRectangle.h"
#include "iLedRound.h"
#include "iSevenSegmentAnalog.h"
#include "iTimers.h"
#include "param_grid.h"
#include "param_text.h"
#include "public_set.h"
#include "ttimer.h"

#include <QComboBox>
#include <QLabel>
#include <cmath>

namespace {

// Values of magnitude above 99.9999 show two decimals, above 999.999 one.
int display_precision(int dec, double value)
{
    int precision = dec;
    if (value > 99.9999 || value < -99.9999)
        precision = 2;
    if (value > 999.999 || value < -999.999)
        precision = 1;
    return precision;
}

}  // namespace

void TForm1::command_dispose()
{
    if (!decode_reply())
        return;
    const int raw = last_reply_raw();

    // Main panel.
    const int dec = dec_places_of(cur_addr);
    iSevenSegmentAnalog_sv->SetPrecision(display_precision(dec, sv_value));
    iSevenSegmentAnalog_pv->SetPrecision(display_precision(dec, pv_value));
    iSevenSegmentAnalog_sv->SetValue(sv_value);
    iSevenSegmentAnalog_pv->SetValue(pv_value);
    iSevenSegmentAnalog_mv->SetValue(mv_raw / 100.0);
    iSevenSegmentAnalog_val->SetValue(para_value);
    for (int k = 0; k < 6; ++k)
        main_alarm_led[static_cast<size_t>(k)]->SetActive(gethexbit(alarm_byte, k + 2));

    if (scan_active) {
        mark_found_address();
        return;
    }

    cur_slot = address_in(cur_addr, kAddrTableSize) ? addr_slot[cur_addr] : 0;
    const int s = cur_slot;
    // Slot 0 has no value column (column 1 holds the names): such a reply
    // writes nothing into the grid and touches no panel, LED or chart.
    const int col = param_grid_column_of_slot(s);
    const bool has_column = s > 0 && col < StringGrid1->ColCount();

    // Grid cell of the reply.
    if (cur_code == 0 && !ctrl_cmd_pending) {
        if (raw < 0 && has_column)
            StringGrid1->setCells(col, 2, QString::number(-raw));
    } else if (cur_code == 0) {
        if (has_column)
            StringGrid1->setCells(col, 1, QString::fromStdString(decimal_text(para_value, 2)));
    } else if (cur_code > 0) {
        if (cur_code == 2 && para_value > 908)
            para_value = 0;
        if (has_column && cur_code + 1 < StringGrid1->RowCount())
            StringGrid1->setCells(col, cur_code + 1,
                                  QString::fromStdString(param_value_text(cur_code, para_value, dec)));
    }

    // Program segment labels.
    if (cur_code == 0 && !ctrl_cmd_pending && has_column) {
        const QString segment = StringGrid1->Cells(col, 2);
        Label16->setText(segment);
        if (s <= 12)
            segment_label[static_cast<size_t>(s)]->setText(segment);
    }

    // Run-state LED of the control address, from the returned run state.
    if (cur_code == 10 && !para_run_active && (para_value == 0 || para_value == 1 || para_value == 2)
        && str_to_int(ComboBox7->currentText().toStdString()) == cur_addr) {
        const int led_slot = address_in(cur_addr, kAddrTableSize) && addr_enabled[cur_addr]
                                 ? get_dis_pos(cur_addr)
                                 : 0;
        if (led_slot >= 1 && led_slot <= 12) {
            TiLedRound* led = run_led[static_cast<size_t>(led_slot)];
            if (para_value == 0) {
                led->SetActiveColor(tcolor(clRed));
                led->SetActive(true);
            } else if (para_value == 1) {
                led->SetActive(false);
            } else {
                led->SetActiveColor(tcolor(clGreen));
                led->SetActive(true);
            }
        }
    }

    store_parameter(cur_addr, cur_code, para_value);

    if (ctrl_cmd_pending) {
        write_pending = 0;
        ctrl_cmd_pending = 0;
        return;
    }

    if (read_all_running())
        StringGrid1->setTopRow(StringGrid1->TopRow() + 1);

    if (Timer1->Enabled() && !write_pending && s > 0) {
        if (!has_column || StringGrid1->Cells(col, 11) != QStringLiteral("StoP"))
            run_seen = 1;
        plot_reply(s, cur_addr);
        if (s <= 12) {
            const auto slot = static_cast<size_t>(s);
            sv_disp[slot]->SetPrecision(iSevenSegmentAnalog_sv->Precision());
            pv_disp[slot]->SetPrecision(iSevenSegmentAnalog_pv->Precision());
            sv_disp[slot]->SetValue(sv_value);
            mv_disp[slot]->SetValue(mv_raw / 100.0);
            pv_disp[slot]->SetValue(pv_value);
            dis_alarm(s - 1);
            val_disp[slot]->SetValue(para_value);
            panel_label[slot]->setText(QString::number(cur_addr));
        }
        append_measurement();
    }
}
