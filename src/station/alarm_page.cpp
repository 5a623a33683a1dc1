#include "alarm_page.h"

#include "browser_pages.h"
#include "errors.h"
#include "station_db.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QTableView>
#include <QVBoxLayout>

void AlarmTableModel::set_events(std::vector<AlarmEvent> events)
{
    beginResetModel();
    events_ = std::move(events);
    endResetModel();
}

int AlarmTableModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(events_.size());
}

int AlarmTableModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant AlarmTableModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount())
        return QVariant();
    const AlarmEvent& e = events_[static_cast<std::size_t>(index.row())];
    if (role == Qt::ForegroundRole) {
        if (e.action != AlarmAction::Transition)
            return QColor(0, 0, 160);
        return e.raised ? QColor(200, 0, 0) : QColor(0, 110, 0);
    }
    if (role != Qt::DisplayRole)
        return QVariant();
    switch (index.column()) {
    case ColTime:
        return e.when.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    case ColAddress:
        return QStringLiteral("%1#").arg(e.address);
    case ColAlarm:
        return e.alarm;
    case ColState:
        switch (e.action) {
        case AlarmAction::Acknowledge:
            return QStringLiteral("确认（%1）").arg(e.acked_by);
        case AlarmAction::Shelve:
            return QStringLiteral("屏蔽（%1）：%2").arg(e.acked_by, e.note);
        case AlarmAction::Unshelve:
            return e.acked_by.isEmpty() ? QStringLiteral("屏蔽到期") : QStringLiteral("解除屏蔽（%1）").arg(e.acked_by);
        case AlarmAction::Transition:
            break;
        }
        return e.raised ? QStringLiteral("出现") : QStringLiteral("消失");
    default:
        return QVariant();
    }
}

QVariant AlarmTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole || orientation != Qt::Horizontal)
        return QVariant();
    static const char* const kTitles[] = { "时间", "地址", "报警", "状态" };
    return section >= 0 && section < ColumnCount ? QString::fromUtf8(kTitles[section]) : QVariant();
}

AlarmPage::AlarmPage(AlarmLog& log, QWidget* parent)
    : QWidget(parent)
    , log_(log)
    , model_(new AlarmTableModel(this))
    , table_(new QTableView(this))
    , address_box_(new QComboBox(this))
    , range_box_(new QCheckBox(QStringLiteral("按日期"), this))
    , from_edit_(new QDateEdit(QDate::currentDate(), this))
    , to_edit_(new QDateEdit(QDate::currentDate(), this))
    , count_label_(new QLabel(this))
    , export_bar_(new CsvExportBar(QStringLiteral("alarm_log.csv"), QStringLiteral("报警记录"), this))
{
    setObjectName(QStringLiteral("alarm_page"));
    table_->setObjectName(QStringLiteral("alarm_table"));
    table_->setModel(model_);
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->verticalHeader()->hide();
    table_->verticalHeader()->setDefaultSectionSize(table_->fontMetrics().height() + 4);
    table_->horizontalHeader()->setStretchLastSection(true);
    table_->setColumnWidth(AlarmTableModel::ColTime, 150);
    table_->setColumnWidth(AlarmTableModel::ColAddress, 60);
    table_->setColumnWidth(AlarmTableModel::ColAlarm, 70);

    address_box_->setObjectName(QStringLiteral("alarm_address_box"));
    address_box_->addItem(QStringLiteral("全部"));
    for (int a = 0; a <= 90; ++a)
        address_box_->addItem(QStringLiteral("%1#").arg(a), a);
    range_box_->setObjectName(QStringLiteral("alarm_range_box"));
    from_edit_->setObjectName(QStringLiteral("alarm_from"));
    to_edit_->setObjectName(QStringLiteral("alarm_to"));
    for (auto* e : { from_edit_, to_edit_ }) {
        e->setCalendarPopup(true);
        e->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
        e->setEnabled(false);
    }
    count_label_->setObjectName(QStringLiteral("alarm_count_label"));

    auto* top = new QHBoxLayout;
    top->addWidget(new QLabel(QStringLiteral("地址"), this));
    top->addWidget(address_box_);
    top->addSpacing(8);
    top->addWidget(range_box_);
    top->addWidget(from_edit_);
    top->addWidget(new QLabel(QStringLiteral("至"), this));
    top->addWidget(to_edit_);
    top->addSpacing(8);
    top->addWidget(count_label_, 1);
    auto* lay = new QVBoxLayout(this);
    lay->setContentsMargins(2, 2, 2, 2);
    lay->setSpacing(2);
    lay->addLayout(top);
    lay->addWidget(table_, 1);
    lay->addWidget(export_bar_);

    export_bar_->set_work_maker([this] {
        return [db_path = log_.db().file_path(), f = filter()](const QString& path, bool bom,
                   const std::function<void(int)>& progress, const std::atomic<bool>* cancel) {
            return export_alarms_csv(db_path, path, f, bom, progress, cancel);
        };
    });
    connect(export_bar_, &CsvExportBar::failed, this, &AlarmPage::database_error);
    connect(address_box_, &QComboBox::currentIndexChanged, this, &AlarmPage::refresh);
    connect(range_box_, &QCheckBox::toggled, this, [this](bool on) {
        from_edit_->setEnabled(on);
        to_edit_->setEnabled(on);
        refresh();
    });
    connect(from_edit_, &QDateEdit::dateChanged, this, &AlarmPage::refresh);
    connect(to_edit_, &QDateEdit::dateChanged, this, &AlarmPage::refresh);
    connect(&log_, &AlarmLog::appended, this, [this] {
        if (isVisible())
            refresh();
        else
            stale_ = true;
    });
}

AlarmFilter AlarmPage::filter() const
{
    AlarmFilter f;
    if (address_box_->currentIndex() > 0)
        f.address = address_box_->currentData().toInt();
    if (range_box_->isChecked()) {
        f.from = from_edit_->date();
        f.to = to_edit_->date();
    }
    return f;
}

void AlarmPage::refresh()
{
    stale_ = false;
    try {
        const AlarmFilter f = filter();
        model_->set_events(log_.newest(f, kShownRows));
        const qint64 total = log_.count(f);
        count_label_->setText(total > kShownRows
                ? QStringLiteral("共 %1 条，显示最新 %2 条").arg(total).arg(kShownRows)
                : QStringLiteral("共 %1 条").arg(total));
    } catch (const EStationError& e) {
        Q_EMIT database_error(QString::fromUtf8(e.what()));
    }
}

void AlarmPage::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (stale_)
        refresh();
}
