#include "record_grid.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QScrollBar>
#include <QTableView>
#include <QWheelEvent>

RecordWindowModel::RecordWindowModel(QAbstractItemModel* source, QObject* parent)
    : QAbstractTableModel(parent)
    , source_(source)
{
    connect(source_, &QAbstractItemModel::dataChanged, this, &RecordWindowModel::on_source_changed);
}

void RecordWindowModel::set_window(int top, int size, bool force)
{
    size = std::max(size, 1);
    const int rows = std::clamp(source_->rowCount() - top, 0, size);
    if (!force && top == top_ && size == size_ && rows == rows_)
        return;
    // Rows are inserted or removed at the end and the rest is reported as
    // changed; a model reset would make the view forget its column widths.
    if (rows > rows_) {
        beginInsertRows(QModelIndex(), rows_, rows - 1);
        top_ = top;
        size_ = size;
        rows_ = rows;
        endInsertRows();
    } else if (rows < rows_) {
        beginRemoveRows(QModelIndex(), rows, rows_ - 1);
        top_ = top;
        size_ = size;
        rows_ = rows;
        endRemoveRows();
    } else {
        top_ = top;
        size_ = size;
    }
    if (rows_ > 0)
        Q_EMIT dataChanged(index(0, 0), index(rows_ - 1, columnCount() - 1));
    Q_EMIT headerDataChanged(Qt::Vertical, 0, std::max(rows_ - 1, 0));
}

int RecordWindowModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : rows_;
}

int RecordWindowModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : source_->columnCount();
}

QModelIndex RecordWindowModel::source_index(const QModelIndex& index) const
{
    if (!index.isValid())
        return QModelIndex();
    return source_->index(top_ + index.row(), index.column());
}

QVariant RecordWindowModel::data(const QModelIndex& index, int role) const
{
    return source_->data(source_index(index), role);
}

bool RecordWindowModel::setData(const QModelIndex& index, const QVariant& value, int role)
{
    return source_->setData(source_index(index), value, role);
}

QVariant RecordWindowModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Vertical)
        return source_->headerData(top_ + section, orientation, role);
    return source_->headerData(section, orientation, role);
}

Qt::ItemFlags RecordWindowModel::flags(const QModelIndex& index) const
{
    return source_->flags(source_index(index));
}

void RecordWindowModel::on_source_changed(
    const QModelIndex& from, const QModelIndex& to, const QList<int>& roles)
{
    const int lo = std::max(from.row(), top_);
    const int hi = std::min(to.row(), top_ + rows_ - 1);
    if (lo > hi)
        return;
    Q_EMIT dataChanged(index(lo - top_, from.column()), index(hi - top_, to.column()), roles);
}

// ---------------------------------------------------------------------------

RecordGrid::RecordGrid(QAbstractItemModel* source, QWidget* parent)
    : QWidget(parent)
    , source_(source)
    , window_(new RecordWindowModel(source, this))
    , view_(new QTableView(this))
    , bar_(new QScrollBar(Qt::Vertical, this))
{
    view_->setModel(window_);
    view_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    view_->setVerticalScrollMode(QAbstractItemView::ScrollPerItem);
    view_->installEventFilter(this);
    view_->viewport()->installEventFilter(this);
    auto* lay = new QHBoxLayout(this);
    lay->setContentsMargins(0, 0, 0, 0);
    lay->setSpacing(0);
    lay->addWidget(view_, 1);
    lay->addWidget(bar_);
    connect(bar_, &QScrollBar::valueChanged, this, &RecordGrid::scroll_to_top);
    connect(view_->selectionModel(), &QItemSelectionModel::currentChanged, this,
        [this](const QModelIndex& cur) { on_view_current_changed(cur); });
    connect(source_, &QAbstractItemModel::rowsInserted, this, &RecordGrid::sync);
    connect(source_, &QAbstractItemModel::rowsRemoved, this, &RecordGrid::sync);
    connect(source_, &QAbstractItemModel::modelReset, this, [this] {
        current_ = std::min(current_, record_count() - 1);
        window_->set_window(top_, window_->size(), true);
        sync();
    });
    sync();
}

int RecordGrid::record_count() const
{
    return source_->rowCount();
}

int RecordGrid::rows_on_screen() const
{
    const int row_h = std::max(view_->verticalHeader()->defaultSectionSize(), 1);
    const int header_h = view_->horizontalHeader()->isVisible() ? view_->horizontalHeader()->height() : 0;
    const int avail = view_->height() - header_h - 2 * view_->frameWidth();
    const int fit = avail / row_h;
    // Rows partly visible at the bottom are not counted as on screen.
    return std::max(fit, 1);
}

void RecordGrid::sync()
{
    if (syncing_)
        return;
    syncing_ = true;
    const int count = record_count();
    const int size = rows_on_screen();
    top_ = std::clamp(top_, 0, std::max(count - size, 0));
    // One extra row fills a partly visible last line.
    window_->set_window(top_, size + 1);
    {
        const QSignalBlocker block(bar_);
        bar_->setRange(0, std::max(count - size, 0));
        bar_->setPageStep(size);
        bar_->setSingleStep(1);
        bar_->setValue(top_);
    }
    if (current_ >= 0 && current_ >= top_ && current_ < top_ + size + 1 && current_ < count) {
        const QModelIndex target = window_->index(current_ - top_, current_column_);
        if (view_->currentIndex() != target)
            view_->setCurrentIndex(target);
    } else if (view_->currentIndex().isValid()) {
        view_->selectionModel()->clear();
    }
    syncing_ = false;
}

void RecordGrid::scroll_to_top(int top)
{
    top_ = top;
    sync();
}

void RecordGrid::set_current(int record)
{
    const int previous = current_;
    current_ = record;
    if (record != previous)
        Q_EMIT current_record_changed(record, previous);
}

void RecordGrid::go_to_record(int record)
{
    const int count = record_count();
    if (count == 0)
        return;
    record = std::clamp(record, 0, count - 1);
    const int size = rows_on_screen();
    if (record < top_)
        top_ = record;
    else if (record >= top_ + size)
        top_ = record - size + 1;
    if (view_->currentIndex().isValid())
        current_column_ = view_->currentIndex().column();
    set_current(record);
    sync();
}

void RecordGrid::edit_current()
{
    if (current_ < 0)
        return;
    go_to_record(current_);
    view_->setFocus();
    view_->edit(window_->index(current_ - top_, current_column_));
}

void RecordGrid::on_view_current_changed(const QModelIndex& current)
{
    if (syncing_ || !current.isValid())
        return;
    current_column_ = current.column();
    set_current(window_->top() + current.row());
}

void RecordGrid::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    sync();
}

bool RecordGrid::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::Wheel && watched == view_->viewport()) {
        auto* w = static_cast<QWheelEvent*>(event);
        const int steps = w->angleDelta().y() / 40; // three rows per notch
        if (steps != 0)
            bar_->setValue(bar_->value() - steps);
        return true;
    }
    if (event->type() == QEvent::KeyPress && watched == view_) {
        auto* k = static_cast<QKeyEvent*>(event);
        const int cur = std::max(current_, 0);
        const int page = rows_on_screen();
        switch (k->key()) {
        case Qt::Key_Up:
            go_to_record(cur - 1);
            return true;
        case Qt::Key_Down:
            go_to_record(current_ < 0 ? 0 : cur + 1);
            return true;
        case Qt::Key_PageUp:
            go_to_record(cur - page);
            return true;
        case Qt::Key_PageDown:
            go_to_record(cur + page);
            return true;
        case Qt::Key_Home:
            if (k->modifiers() & Qt::ControlModifier) {
                go_to_record(0);
                return true;
            }
            break;
        case Qt::Key_End:
            if (k->modifiers() & Qt::ControlModifier) {
                go_to_record(record_count() - 1);
                return true;
            }
            break;
        default:
            break;
        }
    }
    return QWidget::eventFilter(watched, event);
}
