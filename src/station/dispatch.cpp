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
#include "roster.h"
#include "ttimer.h"

#include <QComboBox>
#include <QDateTime>
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

void TForm1::command_dispose(const LineRequest& request, const std::uint8_t* reply)
{
    const int address = request.address;
    const int code = request.code;
    const bool command = request.kind == RequestKind::Command;
    if (!decode_reply(reply, address, code, command, request.value))
        return;
    const int raw = last_reply_raw();
    if (code == 22 && roster::enabled(address))
        remember_addresses(); // the decimal places it has just learnt

    // Main panel.
    const int dec = dec_places_of(address);
    iSevenSegmentAnalog_sv->SetPrecision(display_precision(dec, sv_value));
    iSevenSegmentAnalog_pv->SetPrecision(display_precision(dec, pv_value));
    iSevenSegmentAnalog_sv->SetValue(sv_value);
    iSevenSegmentAnalog_pv->SetValue(pv_value);
    iSevenSegmentAnalog_mv->SetValue(mv_raw / 100.0);
    iSevenSegmentAnalog_val->SetValue(para_value);
    for (int k = 0; k < 6; ++k)
        main_alarm_led[static_cast<size_t>(k)]->SetActive(gethexbit(alarm_byte, k + 2));

    if (request.kind == RequestKind::Probe) {
        mark_found_address(address);
        return;
    }
    // A read for a comparison leaves the grid and the stored set as they are.
    if (request.kind == RequestKind::Inspect)
        return;

    // The instrument's slot and column, from its address alone.
    const int s = roster::slot_of(address);
    const int col = roster::column_of(*StringGrid1, address);

    // Grid cell of the reply.
    if (code == 0 && !command) {
        if (raw < 0 && col > 0)
            StringGrid1->setCells(col, 2, QString::number(-raw));
    } else if (code == 0) {
        if (col > 0)
            StringGrid1->setCells(col, 1, QString::fromStdString(decimal_text(para_value, 2)));
    } else if (code > 0) {
        if (code == 2 && para_value > 908)
            para_value = 0;
        if (col > 0 && code + 1 < StringGrid1->RowCount())
            StringGrid1->setCells(col, code + 1, QString::fromStdString(param_value_text(code, para_value, dec)));
    }

    // Program segment labels.
    if (code == 0 && !command && col > 0) {
        const QString segment = StringGrid1->Cells(col, 2);
        Label16->setText(segment);
        if (roster::has_panel(s))
            segment_label[static_cast<size_t>(s)]->setText(segment);
    }

    // Run-state LED of the control address, from the returned run state. A
    // control address that is not a number is simply not this address.
    bool control_is_number = false;
    const int control_address = ComboBox7->currentText().trimmed().toInt(&control_is_number);
    if (code == 10 && !is_run_kind(request.kind) && (para_value == 0 || para_value == 1 || para_value == 2)
        && control_is_number && control_address == address && roster::has_panel(s)) {
        TiLedRound* led = run_led[static_cast<size_t>(s)];
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

    store_parameter(address, code, para_value);

    if (command)
        return; // the command ends with its window (handle_outcome)

    if (request.kind == RequestKind::ReadRun && read_all_running())
        StringGrid1->setTopRow(StringGrid1->TopRow() + 1);

    if (request.kind != RequestKind::Poll)
        return;
    // A poll reply: the instrument's measurement, at one time on the charts
    // and in the log.
    const QDateTime now = QDateTime::currentDateTime();
    if (s > 0) {
        if (col == 0 || StringGrid1->Cells(col, 11) != QStringLiteral("StoP"))
            run_seen = 1;
        plot_reply(s, address, now);
    }
    if (roster::has_panel(s)) {
        const auto slot = static_cast<size_t>(s);
        sv_disp[slot]->SetPrecision(iSevenSegmentAnalog_sv->Precision());
        pv_disp[slot]->SetPrecision(iSevenSegmentAnalog_pv->Precision());
        sv_disp[slot]->SetValue(sv_value);
        mv_disp[slot]->SetValue(mv_raw / 100.0);
        pv_disp[slot]->SetValue(pv_value);
        dis_alarm(s - 1);
        val_disp[slot]->SetValue(para_value);
        panel_label[slot]->setText(QString::number(address));
    }
    append_measurement(address, now);
    log_alarms(address);
}
