// The grid's cells and dimensions, its geometry, scrolling, the current
// cell, the selection and the cell marks.
#include "string_grid.h"

#include <QHelpEvent>
#include <QLineEdit>
#include <QScrollBar>
#include <QToolTip>
#include <algorithm>

TStringGrid::TStringGrid(QWidget* parent)
    : QAbstractScrollArea(parent)
{
    setFocusPolicy(Qt::StrongFocus);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    viewport()->setAutoFillBackground(false);
    row_height_ = std::max(24, fontMetrics().height() + 8);
    setRowCount(5);
    setColCount(5);
    setFixedRows(1);
    setFixedCols(1);
}

TStringGrid::~TStringGrid() = default;

// ---- cells and dimensions -------------------------------------------------

QString TStringGrid::Cells(int col, int row) const
{
    if (col < 0 || col >= ColCount() || row < 0 || row >= row_count_)
        return {};
    return cells_[col][row];
}

void TStringGrid::setCells(int col, int row, const QString& text)
{
    if (col < 0 || col >= ColCount() || row < 0 || row >= row_count_)
        return;
    QString& cell = cells_[col][row];
    if (cell == text)
        return;
    cell = text;
    if (editor_open_ && col == edit_col_ && row == edit_row_) {
        // Keep the editor showing what the cell holds.
        setting_editor_text_ = true;
        editor_->setText(text);
        setting_editor_text_ = false;
    }
    update_cell(col, row);
}

void TStringGrid::setColCount(int count)
{
    count = std::max(0, count);
    if (count == ColCount())
        return;
    if (editor_open_ && edit_col_ >= count)
        close_editor(false);
    cells_.resize(count, std::vector<QString>(row_count_));
    std::erase_if(marks_, [count](const auto& mark) { return mark.first.first >= count; });
    col_widths_.resize(count, default_col_width_);
    col_align_.resize(count, Qt::AlignLeft);
    if (fixed_cols_ > count)
        fixed_cols_ = count;
    clamp_current();
    update_scroll_bars();
    viewport()->update();
}

void TStringGrid::setRowCount(int count)
{
    count = std::max(0, count);
    if (count == row_count_)
        return;
    if (editor_open_ && edit_row_ >= count)
        close_editor(false);
    row_count_ = count;
    for (auto& column : cells_)
        column.resize(count);
    std::erase_if(marks_, [count](const auto& mark) { return mark.first.second >= count; });
    if (fixed_rows_ > count)
        fixed_rows_ = count;
    clamp_current();
    update_scroll_bars();
    viewport()->update();
}

void TStringGrid::setFixedCols(int count)
{
    count = std::clamp(count, 0, ColCount());
    if (count == fixed_cols_)
        return;
    if (editor_open_ && edit_col_ < count)
        close_editor(false);
    fixed_cols_ = count;
    clamp_current();
    update_scroll_bars();
    viewport()->update();
}

void TStringGrid::setFixedRows(int count)
{
    count = std::clamp(count, 0, row_count_);
    if (count == fixed_rows_)
        return;
    if (editor_open_ && edit_row_ < count)
        close_editor(false);
    fixed_rows_ = count;
    clamp_current();
    update_scroll_bars();
    viewport()->update();
}

void TStringGrid::setDefaultColWidth(int width)
{
    default_col_width_ = std::max(0, width);
    std::fill(col_widths_.begin(), col_widths_.end(), default_col_width_);
    update_scroll_bars();
    place_editor();
    viewport()->update();
}

int TStringGrid::ColWidths(int col) const
{
    if (col < 0 || col >= ColCount())
        return default_col_width_;
    return col_widths_[col];
}

void TStringGrid::setColWidths(int col, int width)
{
    if (col < 0 || col >= ColCount())
        return;
    col_widths_[col] = std::max(0, width);
    update_scroll_bars();
    place_editor();
    viewport()->update();
}

void TStringGrid::setDefaultRowHeight(int height)
{
    row_height_ = std::max(1, height);
    update_scroll_bars();
    place_editor();
    viewport()->update();
}

void TStringGrid::setColAlignment(int col, Qt::Alignment alignment)
{
    if (col < 0 || col >= ColCount())
        return;
    col_align_[col] = alignment & Qt::AlignHorizontal_Mask;
    viewport()->update();
}

void TStringGrid::setEditing(bool enabled)
{
    editing_enabled_ = enabled;
    if (!enabled)
        hideEditor();
}

void TStringGrid::setRangeSelect(bool enabled)
{
    range_select_ = enabled;
    if (!enabled) {
        sel_col_ = cur_col_;
        sel_row_ = cur_row_;
        viewport()->update();
    }
}

// ---- geometry --------------------------------------------------------------

int TStringGrid::fixed_width() const
{
    int width = 0;
    for (int c = 0; c < fixed_cols_; ++c)
        width += col_widths_[c] + kLine;
    return width;
}

int TStringGrid::fixed_height() const
{
    return fixed_rows_ * (row_height_ + kLine);
}

int TStringGrid::VisibleRowCount() const
{
    const int fit = std::max(0, viewport()->height() - fixed_height()) / (row_height_ + kLine);
    return std::clamp(row_count_ - top_row_, 0, fit);
}

int TStringGrid::VisibleColCount() const
{
    int avail = viewport()->width() - fixed_width();
    int count = 0;
    for (int c = left_col_; c < ColCount(); ++c) {
        avail -= col_widths_[c] + kLine;
        if (avail < 0)
            break;
        ++count;
    }
    return count;
}

int TStringGrid::max_top_row() const
{
    const int fit = std::max(0, viewport()->height() - fixed_height()) / (row_height_ + kLine);
    return std::max(fixed_rows_, row_count_ - std::max(1, fit));
}

int TStringGrid::max_left_col() const
{
    const int avail = viewport()->width() - fixed_width();
    int c = ColCount() - 1;
    if (c < fixed_cols_)
        return fixed_cols_;
    int used = col_widths_[c] + kLine;
    while (c - 1 >= fixed_cols_ && used + col_widths_[c - 1] + kLine <= avail) {
        --c;
        used += col_widths_[c] + kLine;
    }
    return c;
}

int TStringGrid::col_x(int col) const
{
    int x = 0;
    if (col < fixed_cols_) {
        for (int c = 0; c < col; ++c)
            x += col_widths_[c] + kLine;
        return x;
    }
    x = fixed_width();
    if (col >= left_col_) {
        for (int c = left_col_; c < col; ++c)
            x += col_widths_[c] + kLine;
    } else {
        for (int c = col; c < left_col_; ++c)
            x -= col_widths_[c] + kLine;
    }
    return x;
}

int TStringGrid::row_y(int row) const
{
    if (row < fixed_rows_)
        return row * (row_height_ + kLine);
    return fixed_height() + (row - top_row_) * (row_height_ + kLine);
}

QRect TStringGrid::cellRect(int col, int row) const
{
    if (col < 0 || col >= ColCount() || row < 0 || row >= row_count_)
        return {};
    if ((col >= fixed_cols_ && col < left_col_) || (row >= fixed_rows_ && row < top_row_))
        return {};
    const QRect rect(col_x(col), row_y(row), col_widths_[col], row_height_);
    if (rect.left() >= viewport()->width() || rect.top() >= viewport()->height())
        return {};
    return rect;
}

bool TStringGrid::cellAt(const QPoint& pos, int* col, int* row) const
{
    if (pos.x() < 0 || pos.y() < 0)
        return false;
    int r;
    if (pos.y() < fixed_height())
        r = pos.y() / (row_height_ + kLine);
    else
        r = top_row_ + (pos.y() - fixed_height()) / (row_height_ + kLine);
    if (r >= row_count_)
        return false;
    int c = -1;
    int x = 0;
    for (int i = 0; i < fixed_cols_ && c < 0; ++i) {
        x += col_widths_[i] + kLine;
        if (pos.x() < x)
            c = i;
    }
    for (int i = left_col_; i < ColCount() && c < 0; ++i) {
        x += col_widths_[i] + kLine;
        if (pos.x() < x)
            c = i;
    }
    if (c < 0)
        return false;
    *col = c;
    *row = r;
    return true;
}

// ---- scrolling -------------------------------------------------------------

void TStringGrid::update_scroll_bars()
{
    syncing_bars_ = true;
    top_row_ = std::clamp(top_row_, fixed_rows_, max_top_row());
    left_col_ = std::clamp(left_col_, fixed_cols_, max_left_col());
    verticalScrollBar()->setRange(0, max_top_row() - fixed_rows_);
    verticalScrollBar()->setSingleStep(1);
    verticalScrollBar()->setPageStep(std::max(1, VisibleRowCount()));
    verticalScrollBar()->setValue(top_row_ - fixed_rows_);
    horizontalScrollBar()->setRange(0, max_left_col() - fixed_cols_);
    horizontalScrollBar()->setSingleStep(1);
    horizontalScrollBar()->setPageStep(std::max(1, VisibleColCount()));
    horizontalScrollBar()->setValue(left_col_ - fixed_cols_);
    syncing_bars_ = false;
    place_editor();
}

void TStringGrid::scrollContentsBy(int, int)
{
    if (syncing_bars_)
        return;
    top_row_ = fixed_rows_ + verticalScrollBar()->value();
    left_col_ = fixed_cols_ + horizontalScrollBar()->value();
    place_editor();
    viewport()->update();
}

void TStringGrid::setTopRow(int row)
{
    row = std::clamp(row, fixed_rows_, max_top_row());
    if (row == top_row_)
        return;
    top_row_ = row;
    syncing_bars_ = true;
    verticalScrollBar()->setValue(top_row_ - fixed_rows_);
    syncing_bars_ = false;
    place_editor();
    viewport()->update();
}

void TStringGrid::setLeftCol(int col)
{
    col = std::clamp(col, fixed_cols_, max_left_col());
    if (col == left_col_)
        return;
    left_col_ = col;
    syncing_bars_ = true;
    horizontalScrollBar()->setValue(left_col_ - fixed_cols_);
    syncing_bars_ = false;
    place_editor();
    viewport()->update();
}

void TStringGrid::scroll_into_view(int col, int row)
{
    if (row >= fixed_rows_ && row < row_count_) {
        const int visible = std::max(1, VisibleRowCount());
        if (row < top_row_)
            setTopRow(row);
        else if (row >= top_row_ + visible)
            setTopRow(row - visible + 1);
    }
    if (col >= fixed_cols_ && col < ColCount()) {
        if (col < left_col_) {
            setLeftCol(col);
        } else {
            const int avail = viewport()->width() - fixed_width();
            int left = left_col_;
            auto span = [&] {
                int width = 0;
                for (int c = left; c <= col; ++c)
                    width += col_widths_[c] + kLine;
                return width;
            };
            while (left < col && span() > avail)
                ++left;
            setLeftCol(left);
        }
    }
}

// ---- current cell and selection ---------------------------------------------

bool TStringGrid::hasCurrentCell() const
{
    return cur_col_ >= fixed_cols_ && cur_col_ < ColCount() && cur_row_ >= fixed_rows_
        && cur_row_ < row_count_;
}

void TStringGrid::clamp_current()
{
    auto clamp_col = [&](int c) { return std::max(fixed_cols_, std::min(c, ColCount() - 1)); };
    auto clamp_row = [&](int r) { return std::max(fixed_rows_, std::min(r, row_count_ - 1)); };
    cur_col_ = clamp_col(cur_col_);
    cur_row_ = clamp_row(cur_row_);
    sel_col_ = clamp_col(sel_col_);
    sel_row_ = clamp_row(sel_row_);
    if (!range_select_) {
        sel_col_ = cur_col_;
        sel_row_ = cur_row_;
    }
}

TGridRect TStringGrid::Selection() const
{
    return { std::min(cur_col_, sel_col_), std::min(cur_row_, sel_row_), std::max(cur_col_, sel_col_),
        std::max(cur_row_, sel_row_) };
}

void TStringGrid::move_current(int col, int row, bool extend)
{
    col = std::clamp(col, fixed_cols_, std::max(fixed_cols_, ColCount() - 1));
    row = std::clamp(row, fixed_rows_, std::max(fixed_rows_, row_count_ - 1));
    if (!hasCurrentCell())
        return;
    if (extend && range_select_) {
        sel_col_ = col;
        sel_row_ = row;
    } else {
        if (editor_open_ && (col != edit_col_ || row != edit_row_))
            close_editor(false);
        cur_col_ = sel_col_ = col;
        cur_row_ = sel_row_ = row;
    }
    scroll_into_view(col, row);
    viewport()->update();
}

void TStringGrid::setCol(int col)
{
    move_current(col, cur_row_, false);
}

void TStringGrid::setRow(int row)
{
    move_current(cur_col_, row, false);
}

void TStringGrid::update_cell(int col, int row)
{
    const QRect rect = cellRect(col, row);
    if (!rect.isEmpty())
        viewport()->update(rect.adjusted(0, 0, kLine, kLine));
}

// ---- marks -------------------------------------------------------------------

void TStringGrid::setCellMark(int col, int row, const QColor& background, const QString& hint)
{
    if (col < fixed_cols_ || col >= ColCount() || row < fixed_rows_ || row >= row_count_)
        return;
    marks_[{ col, row }] = { background, hint };
    update_cell(col, row);
}

void TStringGrid::clearCellMark(int col, int row)
{
    if (marks_.erase({ col, row }))
        update_cell(col, row);
}

void TStringGrid::clearCellMarks()
{
    marks_.clear();
    viewport()->update();
}

QColor TStringGrid::CellMarkColor(int col, int row) const
{
    const auto mark = marks_.find({ col, row });
    return mark == marks_.end() ? QColor() : mark->second.background;
}

QString TStringGrid::CellHint(int col, int row) const
{
    const auto mark = marks_.find({ col, row });
    return mark == marks_.end() ? QString() : mark->second.hint;
}

bool TStringGrid::viewportEvent(QEvent* event)
{
    if (event->type() == QEvent::ToolTip) {
        const auto* help = static_cast<QHelpEvent*>(event);
        int col = 0, row = 0;
        const QString hint = cellAt(help->pos(), &col, &row) ? CellHint(col, row) : QString();
        if (hint.isEmpty())
            QToolTip::hideText();
        else
            QToolTip::showText(help->globalPos(), hint, viewport(), cellRect(col, row));
        return true;
    }
    return QAbstractScrollArea::viewportEvent(event);
}
