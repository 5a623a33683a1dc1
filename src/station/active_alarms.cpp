#include "active_alarms.h"

#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>

namespace {

QString time_text(const QDateTime& t)
{
    return t.isValid() ? t.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) : QString();
}

} // namespace

void ActiveAlarmModel::set_lines(std::vector<AlarmLine> lines)
{
    beginResetModel();
    lines_ = std::move(lines);
    endResetModel();
}

void ActiveAlarmModel::set_flash(bool on)
{
    if (flash_ == on)
        return;
    flash_ = on;
    if (!lines_.empty())
        Q_EMIT dataChanged(index(0, 0), index(rowCount() - 1, ColumnCount - 1), { Qt::BackgroundRole });
}

int ActiveAlarmModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(lines_.size());
}

int ActiveAlarmModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QColor ActiveAlarmModel::state_colour(AlarmState state)
{
    switch (state) {
    case AlarmState::ActiveUnacked:
        return QColor(255, 80, 80);
    case AlarmState::ClearedUnacked:
        return QColor(255, 200, 80);
    case AlarmState::ActiveAcked:
        return QColor(255, 190, 190);
    case AlarmState::Shelved:
        return QColor(200, 200, 215);
    case AlarmState::Cleared:
        break;
    }
    return QColor(255, 255, 255);
}

QVariant ActiveAlarmModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount())
        return QVariant();
    const AlarmLine& l = lines_[static_cast<std::size_t>(index.row())];
    const AlarmState state = l.state();
    if (role == Qt::BackgroundRole) {
        const bool unacked = state == AlarmState::ActiveUnacked || state == AlarmState::ClearedUnacked;
        return unacked && !flash_ ? QColor(255, 255, 255) : state_colour(state);
    }
    if (role != Qt::DisplayRole)
        return QVariant();
    switch (index.column()) {
    case ColAddress:
        return QStringLiteral("%1#").arg(l.address);
    case ColAlarm:
        return l.alarm;
    case ColRaised:
        return time_text(l.raised_at);
    case ColCleared:
        return time_text(l.cleared_at);
    case ColState:
        if (state == AlarmState::Shelved)
            return QStringLiteral("已屏蔽至 %1（%2）").arg(time_text(l.shelved_until), l.shelve_reason);
        return alarm_state_text(state) + (l.quiet ? QStringLiteral("（不发声）") : QString());
    case ColUser:
        return l.acked ? l.acked_by : QString();
    case ColCount:
        return l.flood() ? QStringLiteral("×%1/分钟").arg(l.recent) : QString();
    default:
        return QVariant();
    }
}

QVariant ActiveAlarmModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole || orientation != Qt::Horizontal)
        return QVariant();
    static const char* const kTitles[] = { "地址", "报警", "出现时间", "消失时间", "状态", "确认人", "频繁" };
    return section >= 0 && section < ColumnCount ? QString::fromUtf8(kTitles[section]) : QVariant();
}

namespace {

QTableView* make_table(QAbstractTableModel* model, const QString& name, QWidget* parent)
{
    auto* t = new QTableView(parent);
    t->setObjectName(name);
    t->setModel(model);
    t->setEditTriggers(QAbstractItemView::NoEditTriggers);
    t->setSelectionBehavior(QAbstractItemView::SelectRows);
    t->setSelectionMode(QAbstractItemView::SingleSelection);
    t->verticalHeader()->hide();
    t->verticalHeader()->setDefaultSectionSize(t->fontMetrics().height() + 4);
    t->horizontalHeader()->setStretchLastSection(true);
    t->setColumnWidth(ActiveAlarmModel::ColAddress, 50);
    t->setColumnWidth(ActiveAlarmModel::ColAlarm, 60);
    t->setColumnWidth(ActiveAlarmModel::ColRaised, 150);
    t->setColumnWidth(ActiveAlarmModel::ColCleared, 150);
    t->setColumnWidth(ActiveAlarmModel::ColState, 110);
    t->setColumnWidth(ActiveAlarmModel::ColUser, 80);
    return t;
}

QPushButton* make_button(const QString& text, const char* name, QWidget* parent)
{
    auto* b = new QPushButton(text, parent);
    b->setObjectName(QString::fromLatin1(name));
    return b;
}

} // namespace

ActiveAlarmPage::ActiveAlarmPage(QWidget* parent)
    : QWidget(parent)
    , model_(new ActiveAlarmModel(this))
    , shelved_model_(new ActiveAlarmModel(this))
    , table_(make_table(model_, QStringLiteral("active_alarm_table"), this))
    , shelved_table_(make_table(shelved_model_, QStringLiteral("shelved_alarm_table"), this))
    , summary_(new QLabel(this))
    , ack_(make_button(QStringLiteral("确认"), "alarm_ack", this))
    , ack_all_(make_button(QStringLiteral("全部确认"), "alarm_ack_all", this))
    , silence_(make_button(QStringLiteral("消音"), "alarm_silence", this))
    , shelve_(make_button(QStringLiteral("屏蔽"), "alarm_shelve", this))
    , unshelve_(make_button(QStringLiteral("解除屏蔽"), "alarm_unshelve", this))
    , quiet_edit_(new QLineEdit(this))
    , quiet_apply_(make_button(QStringLiteral("应用"), "alarm_quiet_apply", this))
    , quiet_hint_(new QLabel(this))
    , flash_timer_(new QTimer(this))
{
    shelved_table_->setColumnWidth(ActiveAlarmModel::ColState, 300);
    setObjectName(QStringLiteral("active_alarm_page"));
    summary_->setObjectName(QStringLiteral("active_alarm_summary"));
    auto* buttons = new QHBoxLayout;
    for (QPushButton* b : { ack_, ack_all_, silence_, shelve_ })
        buttons->addWidget(b);
    buttons->addSpacing(12);
    buttons->addWidget(summary_, 1);
    auto* shelved_bar = new QHBoxLayout;
    shelved_bar->addWidget(new QLabel(QStringLiteral("已屏蔽"), this));
    shelved_bar->addStretch(1);
    shelved_bar->addWidget(unshelve_);
    quiet_edit_->setObjectName(QStringLiteral("alarm_quiet_edit"));
    quiet_edit_->setPlaceholderText(QStringLiteral("例如 3, 7"));
    quiet_edit_->setMaximumWidth(160);
    quiet_hint_->setObjectName(QStringLiteral("alarm_quiet_hint"));
    quiet_hint_->setStyleSheet(QStringLiteral("color: rgb(200, 0, 0);"));
    auto* quiet_bar = new QHBoxLayout;
    quiet_bar->addWidget(new QLabel(QStringLiteral("不发声的地址（仍列出并记录）"), this));
    quiet_bar->addWidget(quiet_edit_);
    quiet_bar->addWidget(quiet_apply_);
    quiet_bar->addWidget(quiet_hint_, 1);
    auto* lay = new QVBoxLayout(this);
    lay->setContentsMargins(2, 2, 2, 2);
    lay->setSpacing(2);
    lay->addLayout(buttons);
    lay->addWidget(table_, 3);
    lay->addLayout(shelved_bar);
    lay->addWidget(shelved_table_, 1);
    lay->addLayout(quiet_bar);

    ask_shelve = [this](const AlarmLine& line, int& hours, QString& reason) {
        return default_ask_shelve(line, hours, reason);
    };
    connect(ack_, &QPushButton::clicked, this, [this] {
        if (const AlarmLine* l = selected(table_, model_))
            Q_EMIT acknowledge_requested(l->address, l->alarm);
    });
    connect(ack_all_, &QPushButton::clicked, this, &ActiveAlarmPage::acknowledge_all_requested);
    connect(silence_, &QPushButton::clicked, this, &ActiveAlarmPage::silence_requested);
    connect(shelve_, &QPushButton::clicked, this, [this] {
        const AlarmLine* l = selected(table_, model_);
        if (!l)
            return;
        const AlarmLine line = *l;
        int hours = 1;
        QString reason;
        if (ask_shelve(line, hours, reason))
            Q_EMIT shelve_requested(line.address, line.alarm, hours, reason);
    });
    connect(unshelve_, &QPushButton::clicked, this, [this] {
        if (const AlarmLine* l = selected(shelved_table_, shelved_model_))
            Q_EMIT unshelve_requested(l->address, l->alarm);
    });
    connect(quiet_apply_, &QPushButton::clicked, this, [this] {
        // Digits only, whatever the desktop's language; commas or spaces between.
        std::set<int> addresses;
        const QStringList words
            = quiet_edit_->text().split(QRegularExpression(QStringLiteral("[,，\\s]+")), Qt::SkipEmptyParts);
        for (const QString& w : words) {
            bool ok = false;
            const int a = w.toInt(&ok);
            if (!ok || a < 0 || a > 90) {
                quiet_hint_->setText(QStringLiteral("不是 0..90 的地址：%1").arg(w));
                return;
            }
            addresses.insert(a);
        }
        quiet_hint_->clear();
        Q_EMIT quiet_requested(addresses);
    });
    for (QTableView* t : { table_, shelved_table_ })
        connect(t->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &ActiveAlarmPage::update_buttons);
    flash_timer_->setInterval(kFlashMs);
    connect(flash_timer_, &QTimer::timeout, this, &ActiveAlarmPage::flash_tick);
    flash_timer_->start();
    update_buttons();
}

void ActiveAlarmPage::flash_tick()
{
    model_->set_flash(!model_->flash());
}

void ActiveAlarmPage::show_alarms(const AlarmsShown& alarms)
{
    // The selection follows its alarm through the new order.
    const AlarmLine* was = selected(table_, model_);
    const std::pair<int, QString> keep = was ? std::pair(was->address, was->alarm) : std::pair(-1, QString());
    std::vector<AlarmLine> listed, shelved;
    for (const AlarmLine& l : alarms.lines)
        (l.shelved() ? shelved : listed).push_back(l);
    model_->set_lines(std::move(listed));
    shelved_model_->set_lines(std::move(shelved));
    for (int row = 0; row < model_->rowCount(); ++row) {
        const AlarmLine& l = model_->lines()[static_cast<std::size_t>(row)];
        if (l.address == keep.first && l.alarm == keep.second)
            table_->selectRow(row);
    }
    sounding_ = alarms.sounding;
    if (!quiet_edit_->hasFocus()) {
        QStringList quiet;
        for (int a : alarms.quiet)
            quiet << QString::number(a);
        quiet_edit_->setText(quiet.join(QStringLiteral(", ")));
    }
    summary_->setText(QStringLiteral("未确认 %1 条，共 %2 条，已屏蔽 %3 条%4")
                          .arg(alarms.unacked)
                          .arg(model_->rowCount())
                          .arg(shelved_model_->rowCount())
                          .arg(alarms.sounding ? QStringLiteral("，报警声响") : QString()));
    update_buttons();
}

const AlarmLine* ActiveAlarmPage::selected(QTableView* table, ActiveAlarmModel* model) const
{
    const QModelIndexList rows = table->selectionModel()->selectedRows();
    if (rows.isEmpty() || rows.front().row() >= model->rowCount())
        return nullptr;
    return &model->lines()[static_cast<std::size_t>(rows.front().row())];
}

void ActiveAlarmPage::update_buttons()
{
    const AlarmLine* l = selected(table_, model_);
    ack_->setEnabled(l && !l->acked);
    shelve_->setEnabled(l != nullptr);
    ack_all_->setEnabled(std::any_of(
        model_->lines().begin(), model_->lines().end(), [](const AlarmLine& line) { return !line.acked; }));
    silence_->setEnabled(sounding_);
    unshelve_->setEnabled(selected(shelved_table_, shelved_model_) != nullptr);
}

bool ActiveAlarmPage::default_ask_shelve(const AlarmLine& line, int& hours, QString& reason)
{
    QDialog dialog(this);
    dialog.setObjectName(QStringLiteral("shelve_dialog"));
    dialog.setWindowTitle(QStringLiteral("屏蔽 %1# %2").arg(line.address).arg(line.alarm));
    auto* length = new QComboBox(&dialog);
    length->addItem(QStringLiteral("1 小时"), 1);
    length->addItem(QStringLiteral("8 小时"), 8);
    auto* why = new QLineEdit(&dialog);
    why->setObjectName(QStringLiteral("shelve_reason"));
    auto* box = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    box->button(QDialogButtonBox::Ok)->setEnabled(false);
    connect(why, &QLineEdit::textChanged, &dialog, [box](const QString& text) {
        box->button(QDialogButtonBox::Ok)->setEnabled(!text.trimmed().isEmpty());
    });
    connect(box, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    connect(box, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    auto* form = new QFormLayout(&dialog);
    form->addRow(QStringLiteral("时长"), length);
    form->addRow(QStringLiteral("原因"), why);
    form->addRow(box);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    hours = length->currentData().toInt();
    reason = why->text().trimmed();
    return true;
}
