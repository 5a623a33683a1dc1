#include "command_list.h"

#include "command_log.h"
#include "errors.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

CommandList::CommandList(CommandLog& log, QWidget* parent)
    : QDialog(parent)
    , log_(log)
    , table_(new QTableWidget(0, 5, this))
    , note_(new QLabel(this))
{
    setObjectName(QStringLiteral("command_list"));
    setWindowTitle(QStringLiteral("控制命令记录"));
    resize(760, 420);
    table_->setObjectName(QStringLiteral("command_table"));
    table_->setHorizontalHeaderLabels({ QStringLiteral("时间"), QStringLiteral("地址"), QStringLiteral("命令"),
        QStringLiteral("数值"), QStringLiteral("结果") });
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->verticalHeader()->setVisible(false);
    table_->horizontalHeader()->setStretchLastSection(true);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    buttons->button(QDialogButtonBox::Close)->setText(QStringLiteral("关闭"));
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::close);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(note_);
    layout->addWidget(table_);
    layout->addWidget(buttons);
    connect(&log_, &CommandLog::changed, this, [this] {
        if (isVisible())
            refresh();
    });
}

void CommandList::showEvent(QShowEvent* event)
{
    refresh();
    QDialog::showEvent(event);
}

void CommandList::refresh()
{
    std::vector<CommandRecord> rows;
    try {
        rows = log_.newest(kRows);
    } catch (const EStationError& e) {
        note_->setText(QString::fromStdString(e.what()));
        table_->setRowCount(0);
        return;
    }
    note_->setText(QStringLiteral("最近 %1 条命令，最新的在前").arg(rows.size()));
    table_->setRowCount(static_cast<int>(rows.size()));
    for (int i = 0; i < static_cast<int>(rows.size()); ++i) {
        const CommandRecord& r = rows[static_cast<size_t>(i)];
        const QString value = r.value ? QString::number(*r.value, 'g', 7) : QString();
        const QString cells[] = { r.when.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")), QString::number(r.address),
            r.command, value, r.result };
        for (int c = 0; c < 5; ++c)
            table_->setItem(i, c, new QTableWidgetItem(cells[c]));
    }
    table_->resizeColumnsToContents();
    // The result takes what is left of the width: resizing to contents
    // would otherwise leave a gap after it.
    table_->horizontalHeader()->setSectionResizeMode(4, QHeaderView::Stretch);
}
