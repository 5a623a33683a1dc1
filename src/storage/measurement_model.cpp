#include "measurement_model.h"

#include "errors.h"
#include "measurement_audit.h"
#include "station_db.h"
#include "status_bits.h"

#include <QLocale>
#include <QSqlError>
#include <QSqlQuery>

namespace {

const char* const kFields[] = { "date", "time", "address", "sv", "pv", "mv", "val", "alm" };
// Characters a column shows in full: "2026-12-10", "05:33:19", "20#仪表",
// set values and the outputs to two decimals, "-1999.000" for the PV.
const int kWidths[] = { 10, 8, 9, 9, 10, 8, 9, 10 };

// The locale's long time form without the time-zone name.
QString long_time_format()
{
    QString f = QLocale().timeFormat(QLocale::LongFormat);
    f.remove(QLatin1Char('t'));
    return f.trimmed();
}

QString read_error(const QString& db_path, const QSqlQuery& q)
{
    return QStringLiteral("无法读取数据库 %1 的测量记录表 mea_tbl：%2")
        .arg(db_file_label(db_path), q.lastError().text());
}

} // namespace

MeasurementModel::MeasurementModel(StationDb& db, QObject* parent)
    : QAbstractTableModel(parent)
    , db_(db)
{
    connect(&db_, &StationDb::measurement_appended, this, &MeasurementModel::on_appended);
    try {
        refresh();
    } catch (const EStationError&) {
        // The page reports it when it is shown; an empty model until then.
        first_rowid_ = 0;
        last_rowid_ = -1;
    }
}

int MeasurementModel::display_width(int column)
{
    return column >= 0 && column < ColumnCount ? kWidths[column] : 0;
}

QString MeasurementModel::field_name(int column)
{
    return column >= 0 && column < ColumnCount ? QString::fromLatin1(kFields[column]) : QString();
}

QString MeasurementModel::display_text(int column, const QVariant& stored)
{
    if (stored.isNull() || !stored.isValid())
        return QString();
    switch (column) {
    case ColDate: {
        const QDateTime t = db_timestamp_from_text(stored.toString());
        // 2026-12-10 whatever the desktop's language.
        return t.isValid() ? t.date().toString(QStringLiteral("yyyy-MM-dd")) : stored.toString();
    }
    case ColTime: {
        const QDateTime t = db_timestamp_from_text(stored.toString());
        return t.isValid() ? t.time().toString(QStringLiteral("HH:mm:ss")) : stored.toString();
    }
    case ColSv:
    case ColMv:
    case ColVal:
        return QString::number(stored.toDouble(), 'f', 2);
    case ColPv:
        return QString::number(stored.toDouble(), 'f', 3);
    case ColAlm:
        return QString::fromStdString(alarm_names(static_cast<std::uint8_t>(stored.toInt())));
    default:
        return stored.toString();
    }
}

void MeasurementModel::refresh()
{
    QSqlQuery q(db_.connection());
    q.setForwardOnly(true);
    if (!q.exec(QStringLiteral("SELECT (SELECT min(rowid) FROM mea_tbl), (SELECT max(rowid) FROM mea_tbl)"))
        || !q.next())
        throw EDatabaseError(read_error(db_.file_path(), q).toStdString());
    const bool empty = q.value(0).isNull();
    const qint64 first = empty ? 0 : q.value(0).toLongLong();
    const qint64 last = empty ? -1 : q.value(1).toLongLong();
    q.finish();
    beginResetModel();
    first_rowid_ = first;
    // A view holds the row count in an int.
    last_rowid_ = std::min<qint64>(last, first + std::numeric_limits<int>::max() - 1);
    blocks_.clear();
    lru_.clear();
    armed_row_ = -1;
    pending_column_ = -1;
    pending_value_ = QVariant();
    endResetModel();
}

void MeasurementModel::on_appended(qint64 rowid)
{
    if (last_rowid_ < first_rowid_) {
        beginInsertRows(QModelIndex(), 0, 0);
        first_rowid_ = last_rowid_ = rowid;
        endInsertRows();
        return;
    }
    if (rowid <= last_rowid_ || rowid - first_rowid_ >= std::numeric_limits<int>::max())
        return;
    const int old_count = rowCount();
    beginInsertRows(QModelIndex(), old_count, static_cast<int>(rowid - first_rowid_));
    last_rowid_ = rowid;
    endInsertRows();
}

int MeasurementModel::rowCount(const QModelIndex& parent) const
{
    if (parent.isValid() || last_rowid_ < first_rowid_)
        return 0;
    return static_cast<int>(last_rowid_ - first_rowid_ + 1);
}

int MeasurementModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

const MeasurementModel::Block* MeasurementModel::block_for(qint64 rowid) const
{
    const qint64 key = rowid / kBlockRows;
    auto it = blocks_.find(key);
    if (it != blocks_.end()
        && (it->fetched_upto >= rowid || it->fetched_upto >= (key + 1) * kBlockRows - 1)) {
        lru_.removeOne(key);
        lru_.append(key);
        return &*it;
    }
    const qint64 lo = key * kBlockRows;
    const qint64 hi = lo + kBlockRows - 1;
    QSqlQuery q(db_.connection());
    q.setForwardOnly(true);
    q.prepare(QStringLiteral("SELECT rowid, \"date\", \"time\", address, sv, pv, mv, val, alm FROM mea_tbl "
                             "WHERE rowid BETWEEN ? AND ? ORDER BY rowid"));
    q.bindValue(0, lo);
    q.bindValue(1, hi);
    ++block_fetches_;
    if (!q.exec()) {
        // Every painted cell asks again: report a failure once, not per cell.
        const QString message = read_error(db_.file_path(), q);
        if (message != last_error_) {
            last_error_ = message;
            Q_EMIT database_error(message);
        }
        return nullptr;
    }
    last_error_.clear();
    Block b;
    b.fetched_upto = last_rowid_;
    b.rows.resize(kBlockRows);
    b.present.fill(false, kBlockRows);
    while (q.next()) {
        const qint64 id = q.value(0).toLongLong();
        if (id < lo || id > hi)
            continue;
        auto& r = b.rows[static_cast<qsizetype>(id - lo)];
        for (int c = 0; c < ColumnCount; ++c)
            r[static_cast<std::size_t>(c)] = q.value(c + 1);
        b.present[static_cast<qsizetype>(id - lo)] = true;
    }
    q.finish(); // never keep a read transaction open
    lru_.removeOne(key);
    lru_.append(key);
    while (lru_.size() > kMaxBlocks)
        blocks_.remove(lru_.takeFirst());
    return &*blocks_.insert(key, std::move(b));
}

QVariant MeasurementModel::stored_value(int row, int column) const
{
    const qint64 rowid = rowid_of(row);
    const Block* b = block_for(rowid);
    if (!b)
        return QVariant();
    const qsizetype i = static_cast<qsizetype>(rowid - (rowid / kBlockRows) * kBlockRows);
    if (!b->present[i])
        return QVariant();
    return b->rows[i][static_cast<std::size_t>(column)];
}

QVariant MeasurementModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount() || index.column() >= ColumnCount)
        return QVariant();
    const int col = index.column();
    if (role == Qt::TextAlignmentRole) {
        const bool number = col >= ColSv && col != ColAlm;
        return QVariant::fromValue(Qt::Alignment(number ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter);
    }
    if (role != Qt::DisplayRole && role != Qt::EditRole && role != Qt::ToolTipRole)
        return QVariant();
    QVariant v;
    if (index.row() == armed_row_ && col == pending_column_)
        v = pending_value_;
    else
        v = stored_value(index.row(), col);
    if (col == ColAlm && role != Qt::DisplayRole) // the editor and the tool tip show the byte
        return v.isNull() ? QString() : QString::number(v.toInt());
    if (role == Qt::ToolTipRole)
        return QVariant();
    if (role == Qt::EditRole && (col == ColSv || col == ColPv || col == ColMv || col == ColVal))
        return v.isNull() ? QString() : QString::number(v.toDouble(), 'g', 15);
    return display_text(col, v);
}

QVariant MeasurementModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole)
        return QVariant();
    if (orientation == Qt::Horizontal)
        return field_name(section);
    return QVariant();
}

Qt::ItemFlags MeasurementModel::flags(const QModelIndex& index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    const Qt::ItemFlags f = Qt::ItemIsSelectable | Qt::ItemIsEnabled;
    return index.row() == armed_row_ ? f | Qt::ItemIsEditable : f;
}

std::optional<QVariant> MeasurementModel::parse_edit(
    int column, const QVariant& value, const QVariant& stored) const
{
    const QString text = value.toString().trimmed();
    switch (column) {
    case ColDate:
    case ColTime: {
        QDateTime base = db_timestamp_from_text(stored.toString());
        if (!base.isValid())
            base = QDateTime(QDate::currentDate(), QTime(0, 0));
        if (column == ColDate) {
            QDate d = QDate::fromString(text, QStringLiteral("yyyy-MM-dd"));
            if (!d.isValid())
                d = QLocale().toDate(text, QLocale::ShortFormat);
            if (!d.isValid())
                return std::nullopt;
            base.setDate(d);
        } else {
            QTime t = QTime::fromString(text, QStringLiteral("HH:mm:ss"));
            if (!t.isValid())
                t = QTime::fromString(text, Qt::ISODate);
            if (!t.isValid())
                t = QLocale().toTime(text, long_time_format());
            if (!t.isValid())
                return std::nullopt;
            base.setTime(t);
        }
        return db_timestamp_text(base);
    }
    case ColAddress:
        return value.toString();
    case ColAlm: {
        bool ok = false;
        const int v = text.toInt(&ok);
        if (!ok || v < 0 || v > 255)
            return std::nullopt;
        return v;
    }
    default: {
        if (text.isEmpty())
            return QVariant(); // cleared field: NULL
        bool ok = false;
        const double v = text.toDouble(&ok);
        if (!ok)
            return std::nullopt;
        return v;
    }
    }
}

bool MeasurementModel::setData(const QModelIndex& index, const QVariant& value, int role)
{
    if (!index.isValid() || role != Qt::EditRole || index.row() >= rowCount() || index.row() != armed_row_
        || has_pending())
        return false;
    const QVariant stored = stored_value(index.row(), index.column());
    const auto parsed = parse_edit(index.column(), value, stored);
    if (!parsed)
        return false;
    if (parsed->isNull() == stored.isNull() && (stored.isNull() || *parsed == stored)) {
        arm_edit(-1); // nothing changed
        return true;
    }
    pending_column_ = index.column();
    pending_value_ = *parsed;
    Q_EMIT dataChanged(index, index, { Qt::DisplayRole, Qt::EditRole });
    Q_EMIT edit_ready();
    return true;
}

void MeasurementModel::arm_edit(int row)
{
    if (has_pending())
        discard_pending();
    armed_row_ = row >= 0 && row < rowCount() ? row : -1;
}

void MeasurementModel::discard_pending()
{
    const int row = armed_row_;
    const int col = pending_column_;
    armed_row_ = -1;
    pending_column_ = -1;
    pending_value_ = QVariant();
    if (row >= 0 && col >= 0)
        Q_EMIT dataChanged(index(row, col), index(row, col));
}

void MeasurementModel::post_pending()
{
    if (!has_pending())
        return;
    const qint64 rowid = rowid_of(armed_row_);
    const std::vector<FieldChange> changes { { field_name(pending_column_), pending_value_ } };
    // Dropped whatever the outcome: a failed write is reported, not retried.
    const int row = armed_row_;
    discard_pending();
    update_measurement_audited(db_.connection(), db_file_label(db_.file_path()), rowid, changes);
    blocks_.remove(rowid / kBlockRows);
    lru_.removeOne(rowid / kBlockRows);
    Q_EMIT dataChanged(index(row, 0), index(row, ColumnCount - 1));
}
