#include "param_table_model.h"

#include "errors.h"
#include "station_db.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>

namespace {

constexpr int kColumns = ParamTableModel::kFirstValueColumn + kDbAddressCount;

QString column_field(int column)
{
    if (column == 0)
        return QStringLiteral("id");
    if (column == 1)
        return QStringLiteral("MyDTL");
    return QStringLiteral("no%1").arg(column - ParamTableModel::kFirstValueColumn);
}

} // namespace

ParamTableModel::ParamTableModel(StationDb& db, QObject* parent)
    : QAbstractTableModel(parent)
    , db_(db)
{
    connect(&db_, &StationDb::parameter_stored, this, &ParamTableModel::on_stored);
}

void ParamTableModel::reload()
{
    QStringList cols;
    for (int c = 0; c < kColumns; ++c)
        cols << column_field(c);
    QSqlQuery q(db_.connection());
    q.setForwardOnly(true);
    if (!q.exec(QStringLiteral("SELECT %1 FROM ai_para ORDER BY id").arg(cols.join(QStringLiteral(", ")))))
        throw EDatabaseError(QStringLiteral("无法读取数据库 %1 的参数表 ai_para：%2")
                                 .arg(db_file_label(db_.file_path()), q.lastError().text())
                                 .toStdString());
    QList<QList<QVariant>> rows;
    std::vector<int> row_of_id;
    while (q.next()) {
        QList<QVariant> r;
        r.reserve(kColumns);
        for (int c = 0; c < kColumns; ++c)
            r << q.value(c);
        const qint64 id = r[0].toLongLong();
        if (id >= 0 && id < 100000) {
            if (static_cast<std::size_t>(id) >= row_of_id.size())
                row_of_id.resize(static_cast<std::size_t>(id) + 1, -1);
            row_of_id[static_cast<std::size_t>(id)] = static_cast<int>(rows.size());
        }
        rows << r;
    }
    q.finish();
    beginResetModel();
    rows_ = std::move(rows);
    row_of_id_ = std::move(row_of_id);
    loaded_ = true;
    pending_row_ = -1;
    pending_.fill(std::nullopt, kColumns);
    endResetModel();
}

QString ParamTableModel::value_text(int address, const QVariant& stored, bool for_editing)
{
    if (!stored.isValid() || stored.isNull())
        return QString();
    const double v = stored.toDouble();
    const bool plain_editor = address <= 5 || address == 86 || address == 89;
    if (for_editing && plain_editor)
        return QString::number(v, 'g', 15);
    return QString::number(v, 'f', 3);
}

int ParamTableModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int ParamTableModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : kColumns;
}

QVariant ParamTableModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= rows_.size() || index.column() >= kColumns)
        return QVariant();
    const int col = index.column();
    if (role == Qt::TextAlignmentRole)
        return QVariant::fromValue(
            Qt::Alignment(col == 1 ? Qt::AlignLeft : Qt::AlignRight) | Qt::AlignVCenter);
    if (role != Qt::DisplayRole && role != Qt::EditRole)
        return QVariant();
    const QVariant v
        = (index.row() == pending_row_ && pending_[col]) ? *pending_[col] : rows_[index.row()][col];
    if (col >= kFirstValueColumn)
        return value_text(col - kFirstValueColumn, v, role == Qt::EditRole);
    return v.toString();
}

QVariant ParamTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole || orientation != Qt::Horizontal)
        return QVariant();
    if (section == 0)
        return QStringLiteral("序号");
    if (section == 1)
        return QStringLiteral("参数");
    return column_field(section);
}

Qt::ItemFlags ParamTableModel::flags(const QModelIndex& index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    Qt::ItemFlags f = Qt::ItemIsSelectable | Qt::ItemIsEnabled;
    if (index.column() != 0) // the key is read-only
        f |= Qt::ItemIsEditable;
    return f;
}

bool ParamTableModel::setData(const QModelIndex& index, const QVariant& value, int role)
{
    if (!index.isValid() || role != Qt::EditRole || index.column() == 0 || index.row() >= rows_.size())
        return false;
    if (pending_row_ >= 0 && pending_row_ != index.row()) {
        try {
            post_pending();
        } catch (const EStationError& e) {
            Q_EMIT database_error(QString::fromUtf8(e.what()));
            return false;
        }
    }
    QVariant parsed;
    if (index.column() == 1) {
        parsed = value.toString();
    } else {
        const QString text = value.toString().trimmed();
        if (!text.isEmpty()) {
            bool ok = false;
            const double v = text.toDouble(&ok);
            if (!ok)
                return false;
            parsed = v;
        }
    }
    pending_row_ = index.row();
    pending_[index.column()] = parsed;
    Q_EMIT dataChanged(index, index, { Qt::DisplayRole, Qt::EditRole });
    return true;
}

void ParamTableModel::post_pending()
{
    if (pending_row_ < 0)
        return;
    QStringList sets;
    QVariantList values;
    for (int c = 1; c < kColumns; ++c) {
        if (pending_[c]) {
            sets << column_field(c) + QStringLiteral(" = ?");
            values << *pending_[c];
        }
    }
    QSqlQuery q(db_.connection());
    q.prepare(QStringLiteral("UPDATE ai_para SET %1 WHERE id = ?").arg(sets.join(QStringLiteral(", "))));
    for (int i = 0; i < values.size(); ++i)
        q.bindValue(i, values[i]);
    q.bindValue(static_cast<int>(values.size()), rows_[pending_row_][0]);
    if (!q.exec())
        throw EDatabaseError(QStringLiteral("无法保存数据库 %1 参数表 ai_para 中序号为 %2 的一行：%3")
                                 .arg(db_file_label(db_.file_path()))
                                 .arg(rows_[pending_row_][0].toString())
                                 .arg(q.lastError().text())
                                 .toStdString());
    q.finish();
    const int row = pending_row_;
    for (int c = 1; c < kColumns; ++c) {
        if (pending_[c])
            rows_[row][c] = *pending_[c];
    }
    pending_row_ = -1;
    pending_.fill(std::nullopt, kColumns);
    Q_EMIT dataChanged(index(row, 0), index(row, kColumns - 1));
}

void ParamTableModel::on_stored(int address, int code, double value)
{
    const int id = code + 1;
    if (!loaded_ || id < 0 || static_cast<std::size_t>(id) >= row_of_id_.size())
        return;
    const int row = row_of_id_[static_cast<std::size_t>(id)];
    if (row < 0)
        return;
    const int col = kFirstValueColumn + address;
    rows_[row][col] = value;
    const QModelIndex i = index(row, col);
    Q_EMIT dataChanged(i, i, { Qt::DisplayRole, Qt::EditRole });
}
