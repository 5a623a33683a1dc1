// The grid's painting, its keyboard and mouse, and the in-place editor.
#include "string_grid.h"

#include <QFocusEvent>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <QToolTip>
#include <algorithm>

// ---- painting ----------------------------------------------------------------

void TStringGrid::paintEvent(QPaintEvent* event)
{
    QPainter p(viewport());
    const QPalette& pal = palette();
    const QRect clip = event->rect();
    p.fillRect(clip, pal.base());

    // Visible columns and rows: the fixed ones, then the scrolled ones that
    // reach into the viewport.
    std::vector<int> cols;
    int x = 0;
    for (int c = 0; c < fixed_cols_; ++c)
        cols.push_back(c), x += col_widths_[c] + kLine;
    for (int c = left_col_; c < ColCount() && x < viewport()->width(); ++c)
        cols.push_back(c), x += col_widths_[c] + kLine;
    std::vector<int> rows;
    int y = 0;
    for (int r = 0; r < fixed_rows_; ++r)
        rows.push_back(r), y += row_height_ + kLine;
    for (int r = top_row_; r < row_count_ && y < viewport()->height(); ++r)
        rows.push_back(r), y += row_height_ + kLine;

    const TGridRect sel = Selection();
    const bool focused = hasFocus();
    const QColor fixed_line = pal.color(QPalette::Dark);
    const QColor cell_line = pal.color(QPalette::Midlight).darker(115);
    for (int r : rows) {
        for (int c : cols) {
            const QRect rect(col_x(c), row_y(r), col_widths_[c], row_height_);
            const QRect outer = rect.adjusted(0, 0, kLine, kLine);
            if (!outer.intersects(clip))
                continue;
            const bool fixed = c < fixed_cols_ || r < fixed_rows_;
            const bool current = c == cur_col_ && r == cur_row_;
            const bool highlighted = !fixed && sel.contains(c, r) && !(current && focused);
            QColor text_color;
            if (fixed) {
                p.fillRect(rect, pal.button());
                text_color = pal.color(QPalette::ButtonText);
            } else if (highlighted) {
                p.fillRect(rect, pal.highlight());
                text_color = pal.color(QPalette::HighlightedText);
            } else {
                if (const auto mark = marks_.find({ c, r }); mark != marks_.end())
                    p.fillRect(rect, mark->second.background);
                text_color = pal.color(QPalette::Text);
            }
            const QString& text = cells_[c][r];
            if (!text.isEmpty() && !(editor_open_ && c == edit_col_ && r == edit_row_)) {
                p.setPen(text_color);
                p.drawText(rect.adjusted(kPadding, 0, -kPadding, 0), col_align_[c] | Qt::AlignVCenter, text);
            }
            p.setPen(fixed ? fixed_line : cell_line);
            p.drawLine(rect.right() + 1, rect.top(), rect.right() + 1, rect.bottom() + 1);
            p.drawLine(rect.left(), rect.bottom() + 1, rect.right() + 1, rect.bottom() + 1);
            if (current && focused && !fixed && !editor_open_) {
                QPen pen(pal.color(QPalette::Text));
                pen.setStyle(Qt::DotLine);
                p.setPen(pen);
                p.drawRect(rect.adjusted(1, 1, -2, -2));
            }
        }
    }
}

void TStringGrid::resizeEvent(QResizeEvent* event)
{
    QAbstractScrollArea::resizeEvent(event);
    update_scroll_bars();
}

void TStringGrid::focusInEvent(QFocusEvent* event)
{
    QAbstractScrollArea::focusInEvent(event);
    viewport()->update();
}

void TStringGrid::focusOutEvent(QFocusEvent* event)
{
    QAbstractScrollArea::focusOutEvent(event);
    viewport()->update();
}

// ---- keyboard and mouse --------------------------------------------------------

void TStringGrid::keyPressEvent(QKeyEvent* event)
{
    if (!hasCurrentCell()) {
        QAbstractScrollArea::keyPressEvent(event);
        return;
    }
    const bool extend = event->modifiers() & Qt::ShiftModifier;
    const bool ctrl = event->modifiers() & Qt::ControlModifier;
    const int col = extend && range_select_ ? sel_col_ : cur_col_;
    const int row = extend && range_select_ ? sel_row_ : cur_row_;
    const int page = std::max(1, VisibleRowCount());
    switch (event->key()) {
    case Qt::Key_Left:
        move_current(col - 1, row, extend);
        return;
    case Qt::Key_Right:
        move_current(col + 1, row, extend);
        return;
    case Qt::Key_Up:
        move_current(col, row - 1, extend);
        return;
    case Qt::Key_Down:
        move_current(col, row + 1, extend);
        return;
    case Qt::Key_PageUp:
        move_current(col, row - page, extend);
        return;
    case Qt::Key_PageDown:
        move_current(col, row + page, extend);
        return;
    case Qt::Key_Home:
        move_current(fixed_cols_, ctrl ? fixed_rows_ : row, extend);
        return;
    case Qt::Key_End:
        move_current(ColCount() - 1, ctrl ? row_count_ - 1 : row, extend);
        return;
    case Qt::Key_F2:
    case Qt::Key_Return:
    case Qt::Key_Enter:
        showEditor();
        return;
    default:
        break;
    }
    // A printable key opens the editor and becomes its first keystroke, so the
    // typed text replaces the cell's (the editor opens with its text selected).
    const QString text = event->text();
    const bool command = event->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier);
    if (!command && !text.isEmpty() && text.at(0).isPrint() && showEditor()) {
        QKeyEvent copy(event->type(), event->key(), event->modifiers(), event->text(), event->isAutoRepeat(),
            event->count());
        editor_->event(&copy);
        return;
    }
    QAbstractScrollArea::keyPressEvent(event);
}

void TStringGrid::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        QAbstractScrollArea::mousePressEvent(event);
        return;
    }
    setFocus(Qt::MouseFocusReason);
    int col, row;
    if (!cellAt(event->position().toPoint(), &col, &row) || col < fixed_cols_ || row < fixed_rows_)
        return;
    if (editor_open_)
        close_editor(false);
    move_current(col, row, event->modifiers() & Qt::ShiftModifier);
}

void TStringGrid::mouseMoveEvent(QMouseEvent* event)
{
    if (!(event->buttons() & Qt::LeftButton) || !range_select_ || editor_open_)
        return;
    int col, row;
    const QPoint pos = event->position().toPoint();
    if (cellAt(pos, &col, &row)) {
        move_current(col, row, true);
        return;
    }
    // Dragging past the right or bottom edge scrolls on.
    if (pos.x() >= viewport()->width())
        move_current(sel_col_ + 1, sel_row_, true);
    else if (pos.y() >= viewport()->height())
        move_current(sel_col_, sel_row_ + 1, true);
}

void TStringGrid::mouseDoubleClickEvent(QMouseEvent* event)
{
    int col, row;
    if (event->button() != Qt::LeftButton || !cellAt(event->position().toPoint(), &col, &row)
        || col < fixed_cols_ || row < fixed_rows_)
        return;
    move_current(col, row, false);
    showEditor();
}

// ---- the in-place editor -----------------------------------------------------------

bool TStringGrid::showEditor()
{
    if (!editing_enabled_ || !hasCurrentCell())
        return false;
    if (editor_open_)
        return true;
    if (!editor_) {
        editor_ = new QLineEdit(viewport());
        editor_->setFrame(false);
        editor_->hide();
        editor_->installEventFilter(this);
        connect(editor_, &QLineEdit::textChanged, this,
            [this](const QString& text) { editor_text_changed(text); });
    }
    scroll_into_view(cur_col_, cur_row_);
    const QRect rect = cellRect(cur_col_, cur_row_);
    if (rect.isEmpty() || rect.left() < fixed_width() || rect.top() < fixed_height())
        return false; // no room to show the editor
    edit_col_ = cur_col_;
    edit_row_ = cur_row_;
    edit_original_ = cells_[edit_col_][edit_row_];
    setting_editor_text_ = true;
    editor_->setText(edit_original_);
    setting_editor_text_ = false;
    editor_open_ = true;
    editor_->setGeometry(rect);
    editor_->show();
    editor_->setFocus(Qt::OtherFocusReason);
    editor_->selectAll();
    update_cell(edit_col_, edit_row_);
    report(edit_col_, edit_row_, edit_original_);
    return true;
}

void TStringGrid::hideEditor()
{
    close_editor(false);
}

void TStringGrid::place_editor()
{
    if (!editor_open_)
        return;
    const QRect rect = cellRect(edit_col_, edit_row_);
    // The editor follows its cell; once the cell leaves the scrolled area (or
    // would slide under the fixed columns) the edit is finished.
    if (rect.isEmpty() || rect.left() < fixed_width() || rect.top() < fixed_height()) {
        close_editor(false);
        return;
    }
    editor_->setGeometry(rect);
}

void TStringGrid::editor_text_changed(const QString& text)
{
    if (setting_editor_text_ || !editor_open_)
        return;
    cells_[edit_col_][edit_row_] = text;
    report(edit_col_, edit_row_, text);
}

void TStringGrid::close_editor(bool restore)
{
    if (!editor_open_)
        return;
    editor_open_ = false; // first: hiding the editor moves focus and re-enters here
    const int col = edit_col_;
    const int row = edit_row_;
    if (restore)
        cells_[col][row] = edit_original_;
    const QString text = cells_[col][row];
    const bool had_focus = editor_->hasFocus();
    editor_->hide();
    if (had_focus)
        setFocus(Qt::OtherFocusReason);
    update_cell(col, row);
    report(col, row, text);
}

void TStringGrid::report(int col, int row, const QString& text)
{
    if (OnSetEditText)
        OnSetEditText(col, row, text);
}

bool TStringGrid::eventFilter(QObject* watched, QEvent* event)
{
    if (watched != editor_ || !editor_open_)
        return QAbstractScrollArea::eventFilter(watched, event);
    if (event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        switch (key->key()) {
        case Qt::Key_Return:
        case Qt::Key_Enter:
            close_editor(false);
            return true;
        case Qt::Key_Escape:
            close_editor(true);
            return true;
        case Qt::Key_Up:
        case Qt::Key_Down:
        case Qt::Key_PageUp:
        case Qt::Key_PageDown:
            close_editor(false);
            keyPressEvent(key);
            return true;
        default:
            break;
        }
    } else if (event->type() == QEvent::FocusOut) {
        const auto reason = static_cast<QFocusEvent*>(event)->reason();
        // The editor's own context menu and a switch to another window keep it open.
        if (reason != Qt::PopupFocusReason && reason != Qt::ActiveWindowFocusReason)
            close_editor(false);
    }
    return QAbstractScrollArea::eventFilter(watched, event);
}
