#include "health_view.h"

#include <QHeaderView>
#include <QLabel>
#include <QTableWidget>
#include <QVBoxLayout>

#include <cmath>

namespace {

const char* const kHeaders[] = { "地址", "请求", "应答", "超时", "校验错", "作废", "平均应答(ms)", "上次应答", "状态" };

QTableWidgetItem* cell(const QString& text)
{
    auto* item = new QTableWidgetItem(text);
    item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
    return item;
}

QString age_text(const std::optional<BusHealth::Clock::time_point>& last, BusHealth::Clock::time_point now)
{
    if (!last)
        return QStringLiteral("—");
    const auto s = std::chrono::duration_cast<std::chrono::seconds>(now - *last).count();
    if (s < 60)
        return QStringLiteral("%1 秒前").arg(s);
    if (s < 3600)
        return QStringLiteral("%1 分前").arg(s / 60);
    return QStringLiteral("%1 小时前").arg(s / 3600);
}

} // namespace

HealthView::HealthView(QWidget* parent)
    : QDialog(parent)
    , table_(new QTableWidget(this))
    , summary_(new QLabel(this))
{
    setObjectName(QStringLiteral("health_view"));
    setWindowTitle(QStringLiteral("总线状态"));
    table_->setObjectName(QStringLiteral("health_table"));
    table_->setColumnCount(static_cast<int>(std::size(kHeaders)));
    QStringList headers;
    for (const char* h : kHeaders)
        headers << QString::fromUtf8(h);
    table_->setHorizontalHeaderLabels(headers);
    table_->verticalHeader()->setVisible(false);
    table_->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(table_);
    layout->addWidget(summary_);
    resize(720, 360);
}

void HealthView::refresh(const BusHealth& health, BusHealth::Clock::time_point now)
{
    const std::vector<int> seen = health.addresses_seen();
    table_->setRowCount(static_cast<int>(seen.size()));
    for (int row = 0; row < static_cast<int>(seen.size()); ++row) {
        const int a = seen[static_cast<size_t>(row)];
        const BusHealth::Address& s = health.address(a);
        // An address that was asked but never answered is no better than one
        // that fell silent.
        const bool silent = health.silent(a) || (s.requests > 0 && s.replies == 0);
        const QString values[] = { QString::number(a), QString::number(s.requests), QString::number(s.replies),
            QString::number(s.timeouts), QString::number(s.bad_checks), QString::number(s.voided),
            s.replies ? QString::number(std::lround(s.mean_reply_ms())) : QStringLiteral("—"),
            age_text(s.last_reply, now), silent ? QStringLiteral("无应答") : QStringLiteral("正常") };
        for (int col = 0; col < static_cast<int>(std::size(values)); ++col) {
            QTableWidgetItem* item = cell(values[col]);
            if (col == 8 && silent)
                item->setForeground(Qt::red);
            table_->setItem(row, col, item);
        }
    }
    const BusHealth::Minute m = health.last_minute(now);
    summary_->setText(QStringLiteral("近一分钟：应答 %1，超时 %2，校验错 %3，作废 %4；不属于任何请求的数据块 %5 个")
                          .arg(m.replies)
                          .arg(m.timeouts)
                          .arg(m.bad_checks)
                          .arg(m.voided)
                          .arg(health.late_blocks()));
}
