#pragma once
// A grid over a table of any length that shows it one screenful at a time.
//
// A QTableView keeps per-row state in its vertical header (memory and time
// in proportion to the row count), so a view over a 10-million-row model
// takes seconds to set up and each appended row costs a pass over that state.
// RecordGrid gives its QTableView only the rows that fit on screen (through
// RecordWindowModel) and drives a scroll bar of its own over the whole record
// range; the current record, keyboard moves and the wheel work in record
// numbers. Editing goes straight through to the source model.
#include <QAbstractTableModel>
#include <QWidget>

class QScrollBar;
class QTableView;

// What a navigator moves over: a range of records with a current one.
class RecordCursor {
public:
    virtual ~RecordCursor() = default;
    virtual int record_count() const = 0;
    virtual int current_record() const = 0; // -1 when none
    virtual void go_to_record(int record) = 0;
};

// Rows top .. top + size - 1 of a source model.
class RecordWindowModel : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit RecordWindowModel(QAbstractItemModel* source, QObject* parent = nullptr);

    // Shows source rows top .. top + size - 1 (fewer at the end of the
    // source). `force` reports every shown row as changed even when the
    // window did not move (the source was re-read).
    void set_window(int top, int size, bool force = false);
    int top() const { return top_; }
    int size() const { return size_; }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

private:
    QModelIndex source_index(const QModelIndex& index) const;
    void on_source_changed(const QModelIndex& from, const QModelIndex& to, const QList<int>& roles);

    QAbstractItemModel* source_;
    int top_ = 0;
    int size_ = 1;
    int rows_ = 0; // rows shown; changes only with the signals of set_window
};

class RecordGrid : public QWidget, public RecordCursor {
    Q_OBJECT
public:
    explicit RecordGrid(QAbstractItemModel* source, QWidget* parent = nullptr);

    QTableView* view() const { return view_; }
    QScrollBar* scroll_bar() const { return bar_; }
    int top_record() const { return top_; }
    int rows_on_screen() const;

    int record_count() const override;
    int current_record() const override { return current_; }
    void go_to_record(int record) override;
    // Opens the view's editor on the current cell (the source decides
    // whether the cell takes an edit).
    void edit_current();

Q_SIGNALS:
    void current_record_changed(int record, int previous);

protected:
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void scroll_to_top(int top);
    void sync();
    void on_view_current_changed(const QModelIndex& current);
    void set_current(int record);

    QAbstractItemModel* source_;
    RecordWindowModel* window_;
    QTableView* view_;
    QScrollBar* bar_;
    int top_ = 0;
    int current_ = -1;
    int current_column_ = 0;
    bool syncing_ = false;
};
