// The parameter page: the grid that shows the engine's parameter table, the
// run buttons and what the run in progress shows, and the operator's edits.
#include "error_box.h"
#include "errors.h"
#include "form1.h"

#include "convert.h"
#include "engine.h"
#include "engine_host.h"
#include "param_grid.h"
#include "string_grid.h"

#include <QComboBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTabWidget>

namespace {

const QColor kMismatchColour(255, 150, 150);
const QColor kUnverifiedColour(255, 230, 120);

} // namespace

void TForm1::strgrid_init() { ::strgrid_init(*StringGrid1); }

void TForm1::TabSheet2Show() { PageControl2->setCurrentWidget(TabSheet14); }

int TForm1::column_of(int address) const { return value_column_of(*StringGrid1, address); }

// The grid reports its editor's text when the editor opens, after each change
// and when it closes. A text that differs from the previous report is an edit
// in progress; the same text reported again is a committed edit, which the
// engine checks, puts into its table and queues for 选择写. A value it refuses
// comes back as the cell's old text.
void TForm1::StringGrid1SetEditText(int ACol, int ARow, const QString& Value)
{
    if (Value != Label72->text()) {
        Label72->setText(Value);
        return;
    }
    const int address = value_column_address(*StringGrid1, ACol);
    ask([address, ARow, Value](Engine& e) { e.edit_cell(address, ARow, Value); }, "参数");
}

void TForm1::update_run_buttons()
{
    const bool busy = run.busy;
    for (QPushButton* b : { Button3, Button12, Button14 })
        b->setEnabled(run.first_scan_done && !busy);
    Button1->setEnabled(!busy);
    Button_scan->setEnabled(!busy);
    for (QPushButton* b : { import_button, compare_button, copy_button })
        b->setEnabled(!busy);
    for (QPushButton* b : { Button5, Button6, Button7, Button15, Button16 })
        b->setEnabled(!busy);
    Button8->setEnabled(run.button8_allowed && !busy);
    Button9->setEnabled(run.button9_allowed && !busy);
}

void TForm1::show_run(const RunShown& shown)
{
    run = shown;
    Label15->setText(shown.status.isEmpty() ? QStringLiteral("等待") : shown.status);
    Label67->setText(shown.command);
    run_progress->setRange(0, shown.total > 0 ? shown.total : 1);
    run_progress->setValue(shown.done);
    verify_label->setText(shown.verify_text);
    verify_label->setToolTip(shown.verify_detail);
    verify_label->setStyleSheet(shown.verify_clean ? QStringLiteral("color: rgb(0, 128, 0);")
                                                   : QStringLiteral("color: rgb(255, 0, 0);"));
    update_run_buttons();
}

void TForm1::show_param_columns(const std::vector<int>& addresses)
{
    // Each address keeps its texts in its new column, as the engine's table
    // keeps them; a new address starts empty (the engine sends its cells).
    std::map<int, QStringList> kept;
    for (int col = kParamGridFixedCols; col < StringGrid1->ColCount(); ++col) {
        bool numbered = false;
        const QString title = StringGrid1->Cells(col, 0);
        const int address = title.left(title.indexOf(QLatin1Char('#'))).toInt(&numbered);
        if (!numbered)
            continue;
        QStringList& texts = kept[address];
        for (int row = 1; row < StringGrid1->RowCount(); ++row)
            texts << StringGrid1->Cells(col, row);
    }
    layout_value_columns(*StringGrid1, addresses);
    for (int col = kParamGridFixedCols; col < StringGrid1->ColCount(); ++col) {
        const auto it = kept.find(addresses[static_cast<size_t>(col - kParamGridFixedCols)]);
        for (int row = 1; row < StringGrid1->RowCount(); ++row)
            StringGrid1->setCells(col, row, it == kept.end() ? QString() : it->second.value(row - 1));
    }
}

void TForm1::show_param_cells(const std::vector<ParamTable::Change>& changes)
{
    for (const ParamTable::Change& c : changes) {
        const int col = column_of(c.address);
        if (col > 0 && c.row < StringGrid1->RowCount())
            StringGrid1->setCells(col, c.row, c.text);
    }
}

void TForm1::show_param_mark(const CellMark& mark)
{
    const int col = column_of(mark.address);
    if (col == 0)
        return;
    switch (mark.kind) {
    case CellMark::Kind::None:
        StringGrid1->clearCellMark(col, mark.row);
        break;
    case CellMark::Kind::Mismatch:
        StringGrid1->setCellMark(col, mark.row, kMismatchColour, mark.hint);
        break;
    case CellMark::Kind::Unverified:
        StringGrid1->setCellMark(col, mark.row, kUnverifiedColour, mark.hint);
        break;
    }
}

void TForm1::connect_run_handlers()
{
    connect_click(Button3, &TForm1::Button3Click);
    connect_click(Button1, &TForm1::Button1Click);
    connect_click(Button4, &TForm1::Button4Click);
    connect_click(Button14, &TForm1::Button14Click);
    connect_click(Button12, &TForm1::Button12Click);
}

void TForm1::Button3Click(QObject*)
{
    ask([](Engine& e) { e.start_read_all(); }, "参数");
}

void TForm1::Button1Click(QObject*)
{
    ComboBox7Change();
    ask([](Engine& e) { e.start_column_read(); }, "参数");
}

void TForm1::Button4Click(QObject*)
{
    ask([](Engine& e) { e.stop_runs(); }, "参数");
}

void TForm1::Button14Click(QObject*)
{
    const int address = take_control_address();
    ask([address](Engine& e) { e.start_column_write(address); }, "参数");
}

void TForm1::Button12Click(QObject*)
{
    ask([](Engine& e) { e.start_selected_write(); }, "参数");
}
