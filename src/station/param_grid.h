#pragma once
// The parameter grid: one row per catalogue code (row = code + 1), two fixed
// columns (row number, name) and one value column per enabled address, titled
// by the address followed by "#仪表". The k-th enabled address in ascending
// order (its slot, counted from 1) owns column k + 1.
#include "string_grid.h"

#include <vector>

class QWidget;

inline constexpr int kParamGridRows = 412; // title row + 411 codes
inline constexpr int kParamGridFixedCols = 2; // row number, name
inline constexpr int kParamGridValueWidth = 128;

// Creates the grid as the window shows it ("StringGrid1"): 412 rows, row 0 and
// columns 0 and 1 fixed, three columns until the first layout, editing in the
// value cells, rectangular selection.
TStringGrid* create_param_grid(QWidget* parent);

// Fills the fixed part: widths 40 and 220, the titles "命令" and "返回命令",
// the names of codes 0..410 and the row numbers right-aligned to three characters.
void strgrid_init(TStringGrid& grid);

// Row number text of a row: "  1", " 10", "100".
QString param_row_number_text(int row);

// Column of a slot (1-based rank of an enabled address).
inline int param_grid_column_of_slot(int slot)
{
    return slot + 1;
}

// Lays out one value column per address (given in ascending order): the column
// count becomes addresses.size() + 2 and column k + 1 is titled by the k-th
// address followed by "#仪表". Cell texts are left as they are; cell marks
// are cleared.
void layout_value_columns(TStringGrid& grid, const std::vector<int>& addresses);

// Title of the value column of an address: "7#仪表".
QString value_column_title(int address);

// The address a value column belongs to: the decimal number that begins its
// title. EConvertError "'<text>' 不是整数" when the title
// holds no address, <text> being the part before "#仪表" or the whole title
// ("返回命令" before the first layout).
int value_column_address(const TStringGrid& grid, int col);

// The value column titled by `address` (its title is exactly the address
// followed by "#仪表"); 0 when no column is.
int value_column_of(const TStringGrid& grid, int address);
