#pragma once
// A grid of text cells with fixed title rows and columns, an in-place editor
// and rectangular selection.
//
// Cells are addressed (column, row) from 0. The first FixedCols columns and
// FixedRows rows stay in place while the rest scrolls by whole cells: TopRow
// is the first scrollable row shown under the fixed rows, LeftCol the first
// scrollable column shown beside the fixed columns. Only scrollable cells can
// become current, be selected or be edited.
//
// While the editor is open, every change of its text is stored in the cell at
// once, so Cells() always reads what the operator sees. OnSetEditText receives
// the editor's text when the editor opens on a cell, after each change, and
// when it closes (the final text; Escape restores and reports the text the
// cell had when the editor opened). The callback runs inside Qt event
// handlers: it must not let an exception escape (wrap it with guarded()).
#include <QAbstractScrollArea>
#include <QColor>
#include <QString>
#include <functional>
#include <map>
#include <vector>

class QLineEdit;

struct TGridRect {
    int Left = 0;
    int Top = 0;
    int Right = 0;
    int Bottom = 0;
    bool contains(int col, int row) const
    {
        return col >= Left && col <= Right && row >= Top && row <= Bottom;
    }
    bool operator==(const TGridRect&) const = default;
};

class TStringGrid : public QAbstractScrollArea {
    Q_OBJECT
public:
    explicit TStringGrid(QWidget* parent = nullptr);
    ~TStringGrid() override;

    // Cell texts. Reading outside the grid gives an empty text; writing outside
    // it is ignored.
    QString Cells(int col, int row) const;
    void setCells(int col, int row, const QString& text);

    int ColCount() const { return static_cast<int>(cells_.size()); }
    int RowCount() const { return row_count_; }
    // Shrinking closes an editor on a removed cell first (reporting its text).
    // The fixed columns and rows are kept: a grid may have no scrollable column
    // (then it has no current cell and nothing can be edited).
    void setColCount(int count);
    void setRowCount(int count);

    int FixedCols() const { return fixed_cols_; }
    int FixedRows() const { return fixed_rows_; }
    void setFixedCols(int count);
    void setFixedRows(int count);

    int DefaultColWidth() const { return default_col_width_; }
    void setDefaultColWidth(int width); // applies to every column
    int ColWidths(int col) const;
    void setColWidths(int col, int width);
    int DefaultRowHeight() const { return row_height_; }
    void setDefaultRowHeight(int height);

    // A mark on a scrollable cell: a background colour and a tooltip, kept
    // whatever the cell's text until cleared (or the cell leaves the grid).
    void setCellMark(int col, int row, const QColor& background, const QString& hint);
    void clearCellMark(int col, int row);
    void clearCellMarks();
    QColor CellMarkColor(int col, int row) const; // invalid when the cell has no mark
    QString CellHint(int col, int row) const;

    // Horizontal placement of a column's texts (left by default).
    void setColAlignment(int col, Qt::Alignment alignment);

    int TopRow() const { return top_row_; }
    void setTopRow(int row); // clamped to the rows that can be scrolled to
    int LeftCol() const { return left_col_; }
    void setLeftCol(int col);
    int VisibleRowCount() const; // whole scrollable rows in view
    int VisibleColCount() const;

    // The current cell (where the editor opens); setting it collapses the
    // selection onto it and scrolls it into view.
    int Col() const { return cur_col_; }
    int Row() const { return cur_row_; }
    void setCol(int col);
    void setRow(int row);
    bool hasCurrentCell() const;
    TGridRect Selection() const;

    bool Editing() const { return editing_enabled_; }
    void setEditing(bool enabled);
    bool RangeSelect() const { return range_select_; }
    void setRangeSelect(bool enabled);

    bool EditorMode() const { return editor_open_; }
    // Opens the editor on the current cell; false when nothing can be edited.
    bool showEditor();
    // Closes the editor keeping its text (no effect when it is closed).
    void hideEditor();
    // The editor widget while it is open (for tests and focus handling).
    QLineEdit* inplaceEditor() const { return editor_open_ ? editor_ : nullptr; }

    // Geometry of a cell in viewport coordinates; empty when it is not shown.
    QRect cellRect(int col, int row) const;
    // The cell under a viewport point; false outside the cells.
    bool cellAt(const QPoint& pos, int* col, int* row) const;

    std::function<void(int col, int row, const QString& text)> OnSetEditText;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    bool viewportEvent(QEvent* event) override;

private:
    static constexpr int kLine = 1; // grid line width between cells
    static constexpr int kPadding = 2; // text inset from the cell edges
    int fixed_width() const; // pixels taken by the fixed columns
    int fixed_height() const; // pixels taken by the fixed rows
    int max_top_row() const;
    int max_left_col() const;
    int col_x(int col) const; // left edge in viewport coordinates (may be off view)
    int row_y(int row) const;
    void update_scroll_bars();
    void clamp_current();
    void move_current(int col, int row, bool extend);
    void scroll_into_view(int col, int row);
    void update_cell(int col, int row);
    void place_editor();
    void close_editor(bool restore);
    void editor_text_changed(const QString& text);
    void report(int col, int row, const QString& text);

    std::vector<std::vector<QString>> cells_; // [column][row]
    struct CellMark {
        QColor background;
        QString hint;
    };
    std::map<std::pair<int, int>, CellMark> marks_; // (column, row)
    std::vector<int> col_widths_;
    std::vector<Qt::Alignment> col_align_;
    int row_count_ = 0;
    int fixed_cols_ = 0;
    int fixed_rows_ = 0;
    int default_col_width_ = 64;
    int row_height_ = 24;
    int top_row_ = 1;
    int left_col_ = 1;
    int cur_col_ = 1;
    int cur_row_ = 1;
    int sel_col_ = 1; // the moving corner of the selection (current cell is the other)
    int sel_row_ = 1;
    bool editing_enabled_ = false;
    bool range_select_ = false;
    bool syncing_bars_ = false;

    QLineEdit* editor_ = nullptr;
    bool editor_open_ = false;
    bool setting_editor_text_ = false;
    int edit_col_ = -1;
    int edit_row_ = -1;
    QString edit_original_;
};
