#include "param_grid.h"

#include "convert.h"
#include "param_catalogue.h"

namespace {

const QString kColumnSuffix = QStringLiteral("#仪表");

} // namespace

TStringGrid* create_param_grid(QWidget* parent)
{
    auto* grid = new TStringGrid(parent);
    grid->setObjectName(QStringLiteral("StringGrid1"));
    grid->setRowCount(kParamGridRows);
    grid->setColCount(kParamGridFixedCols + 1);
    grid->setFixedRows(1);
    grid->setFixedCols(kParamGridFixedCols);
    grid->setDefaultColWidth(kParamGridValueWidth);
    grid->setEditing(true);
    grid->setRangeSelect(true);
    // The row numbers are padded to three characters; drawing them flush right
    // keeps the digits lined up in a proportional font as well.
    grid->setColAlignment(0, Qt::AlignRight);
    return grid;
}

QString param_row_number_text(int row)
{
    return QStringLiteral("%1").arg(row, 3);
}

void strgrid_init(TStringGrid& grid)
{
    grid.setColWidths(0, 40);
    grid.setColWidths(1, 220);
    grid.setCells(1, 0, QStringLiteral("命令"));
    grid.setCells(2, 0, QStringLiteral("返回命令"));
    for (int code = 0; code <= kLastParamCode; ++code)
        grid.setCells(1, code + 1, QString::fromStdString(param_name(code)));
    for (int row = 1; row <= kParamCount; ++row)
        grid.setCells(0, row, param_row_number_text(row));
}

QString value_column_title(int address)
{
    return QString::number(address) + kColumnSuffix;
}

void layout_value_columns(TStringGrid& grid, const std::vector<int>& addresses)
{
    grid.clearCellMarks(); // a mark belongs to the instrument its column had
    grid.setColCount(static_cast<int>(addresses.size()) + kParamGridFixedCols);
    for (size_t k = 1; k <= addresses.size(); ++k)
        grid.setCells(
            param_grid_column_of_slot(static_cast<int>(k)), 0, value_column_title(addresses[k - 1]));
}

int value_column_of(const TStringGrid& grid, int address)
{
    const QString title = value_column_title(address);
    for (int col = kParamGridFixedCols; col < grid.ColCount(); ++col)
        if (grid.Cells(col, 0) == title)
            return col;
    return 0;
}

int value_column_address(const TStringGrid& grid, int col)
{
    const QString title = grid.Cells(col, 0);
    const qsizetype end = title.indexOf(kColumnSuffix);
    return str_to_int((end < 0 ? title : title.left(end)).toStdString());
}
