#pragma once
// Table model of ai_para for the parameter-set browser (DBGrid6): columns id
// ("序号"), MyDTL ("参数") and no0 .. no89. The table is small (411 rows), so
// reload() reads it whole and finishes the statement; stores made through the
// StationDb while the page is open update the shown cell. Edits are kept for
// the current row and written by post_pending() (when the cursor leaves it).
#include <QAbstractTableModel>
#include <QList>
#include <QVariant>

#include <optional>
#include <vector>

class StationDb;

class ParamTableModel : public QAbstractTableModel {
    Q_OBJECT
public:
    static constexpr int kFirstValueColumn = 2; // column of no0

    explicit ParamTableModel(StationDb& db, QObject* parent = nullptr);

    // Reads the whole table. Throws EDatabaseError.
    void reload();
    bool loaded() const { return loaded_; }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;

    // Writes the edits of the pending row. Throws EDatabaseError (the edits
    // stay pending).
    void post_pending();
    bool has_pending() const { return pending_row_ >= 0; }

    // "#0.000" for no0..no89; the editor shows no0..no5, no86 and no89 in the
    // plain number form and the other value fields with "#0.000".
    static QString value_text(int address, const QVariant& stored, bool for_editing);

Q_SIGNALS:
    void database_error(const QString& message) const;

private:
    void on_stored(int address, int code, double value);

    StationDb& db_;
    bool loaded_ = false;
    QList<QList<QVariant>> rows_; // as stored: id, MyDTL, no0..no89
    std::vector<int> row_of_id_; // id -> row, -1 when absent
    int pending_row_ = -1;
    QList<std::optional<QVariant>> pending_;
};
