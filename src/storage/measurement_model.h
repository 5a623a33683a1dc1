#pragma once
// Table model of mea_tbl for the measurement browser (DBGrid5).
//
// The log grows for years, so nothing is loaded up front: the row count comes
// from min(rowid) and max(rowid) (two index look-ups), row r is the row with
// rowid = min + r, and the rows on screen are fetched in blocks by key range
// (WHERE rowid BETWEEN a AND b). Every statement is read to its end and
// finished at once, so the browser never holds a read transaction open: the
// WAL can be checkpointed and the station's own appends never wait for it.
// A rowid missing from the key range (a row deleted by another program) shows
// as an empty row.
//
// New rows appended through the StationDb are inserted at the end without
// moving the current row.
//
// The log is a record: a row takes an edit only after arm_edit() named it
// (the page's edit button), and setData() refuses every other cell. An
// accepted edit waits as pending (edit_ready) until the page has asked the
// operator: post_pending() writes it together with its trace in mea_audit,
// discard_pending() drops it. Either ends the armed state.
#include <QAbstractTableModel>
#include <QDateTime>
#include <QHash>
#include <QList>
#include <QVariant>

#include <array>
#include <optional>

class StationDb;

class MeasurementModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { ColDate, ColTime, ColAddress, ColSv, ColPv, ColMv, ColVal, ColAlm, ColumnCount };

    explicit MeasurementModel(StationDb& db, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;

    // Re-reads the key range and drops every cached block (rows written by
    // another program become visible). Throws EDatabaseError.
    void refresh();

    // Allows editing the cells of `row` (one row at a time); -1 or a row
    // outside the table allows none.
    void arm_edit(int row);
    int armed_row() const { return armed_row_; }

    // Writes the pending edit with its audit trace, if any, and disarms.
    // Throws EDatabaseError; the edit is dropped then.
    void post_pending();
    // Drops the pending edit and disarms.
    void discard_pending();
    bool has_pending() const { return pending_column_ >= 0; }
    // The pending edit: its row, column and new value.
    int pending_row() const { return armed_row_; }
    int pending_column() const { return pending_column_; }
    QVariant pending_value() const { return pending_value_; }

    // Display width in characters of each column (date 10, time 11, ...).
    static int display_width(int column);
    // Field name of a column ("date", "time", "address", ...).
    static QString field_name(int column);
    // Display text of a stored value in a column ("#0.00", short date, the
    // names of the alarm bits for alm, ...).
    static QString display_text(int column, const QVariant& stored);

    qint64 rowid_of(int row) const { return first_rowid_ + row; }
    // The value the row holds in the database (without a pending edit).
    QVariant stored(int row, int column) const { return stored_value(row, column); }
    // Number of block queries run so far (tests check that browsing stays lazy).
    int block_fetches() const { return block_fetches_; }

Q_SIGNALS:
    // A database error while fetching or posting; the page shows it.
    void database_error(const QString& message) const;
    // An edit of the armed row was accepted and waits for post_pending() or
    // discard_pending().
    void edit_ready();

private:
    struct Block {
        qint64 fetched_upto = 0; // last_rowid_ when the block was read
        QList<std::array<QVariant, ColumnCount>> rows; // index = rowid - block start
        QList<bool> present;
    };
    static constexpr int kBlockRows = 256;
    static constexpr int kMaxBlocks = 64;

    void on_appended(qint64 rowid);
    const Block* block_for(qint64 rowid) const;
    QVariant stored_value(int row, int column) const;
    std::optional<QVariant> parse_edit(int column, const QVariant& value, const QVariant& stored) const;

    StationDb& db_;
    qint64 first_rowid_ = 0;
    qint64 last_rowid_ = -1; // first > last: empty
    mutable QHash<qint64, Block> blocks_;
    mutable QList<qint64> lru_;
    mutable int block_fetches_ = 0;
    mutable QString last_error_; // the fetch failure last reported
    int armed_row_ = -1;
    int pending_column_ = -1;
    QVariant pending_value_;
};
