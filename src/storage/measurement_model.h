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
// moving the current row. Edits are kept for the current row and written when
// post_pending() runs (the page calls it when the cursor leaves the row).
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

    // Writes the edits of the pending row, if any. Throws EDatabaseError;
    // the edits stay pending then.
    void post_pending();
    bool has_pending() const { return pending_row_ >= 0; }

    // Display width in characters of each column (date 10, time 11, ...).
    static int display_width(int column);
    // Field name of a column ("date", "time", "address", ...).
    static QString field_name(int column);
    // Display text of a stored value in a column ("#0.00", short date, ...).
    static QString display_text(int column, const QVariant& stored);

    qint64 rowid_of(int row) const { return first_rowid_ + row; }
    // Number of block queries run so far (tests check that browsing stays lazy).
    int block_fetches() const { return block_fetches_; }

Q_SIGNALS:
    // A database error while fetching or posting; the page shows it.
    void database_error(const QString& message) const;

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
    int pending_row_ = -1;
    std::array<std::optional<QVariant>, ColumnCount> pending_ {};
};
