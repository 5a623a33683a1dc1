#include "message_list.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

QString key_of(const EngineMessage& m) { return m.source + QChar(0) + m.text; }

QColor colour_of(EngineMessage::Level level)
{
    switch (level) {
    case EngineMessage::Level::Error:
        return QColor(200, 0, 0);
    case EngineMessage::Level::Warning:
        return QColor(170, 100, 0);
    case EngineMessage::Level::Info:
        break;
    }
    return QColor(0, 0, 0);
}

} // namespace

MessageList::MessageList(QWidget* parent)
    : QDialog(parent)
    , tree_(new QTreeWidget(this))
    , summary_(new QLabel(this))
{
    setObjectName(QStringLiteral("message_list"));
    setWindowTitle(QStringLiteral("消息"));
    setModal(false);
    resize(760, 360);
    tree_->setObjectName(QStringLiteral("message_tree"));
    tree_->setColumnCount(4);
    tree_->setHeaderLabels({ QStringLiteral("时间"), QStringLiteral("来源"), QStringLiteral("内容"),
        QStringLiteral("次数") });
    tree_->setRootIsDecorated(false);
    tree_->setUniformRowHeights(false);
    tree_->setWordWrap(true);
    tree_->header()->setSectionResizeMode(ColTime, QHeaderView::ResizeToContents);
    tree_->header()->setSectionResizeMode(ColSource, QHeaderView::ResizeToContents);
    tree_->header()->setSectionResizeMode(ColText, QHeaderView::Stretch);
    tree_->header()->setSectionResizeMode(ColCount, QHeaderView::ResizeToContents);
    tree_->header()->setStretchLastSection(false);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    buttons->button(QDialogButtonBox::Close)->setText(QStringLiteral("关闭"));
    auto* clear = buttons->addButton(QStringLiteral("清空"), QDialogButtonBox::ResetRole);
    clear->setObjectName(QStringLiteral("message_clear"));
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::hide);
    connect(clear, &QPushButton::clicked, this, [this] {
        tree_->clear();
        lines_.clear();
        summary_->clear();
    });
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(tree_);
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(summary_, 1);
    bottom->addWidget(buttons);
    layout->addLayout(bottom);
}

bool MessageList::add(const EngineMessage& m)
{
    const QString key = key_of(m);
    const QString time = m.time.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    QTreeWidgetItem* line = lines_.value(key);
    const bool fresh = line == nullptr;
    if (line) {
        // A repeat: one line, counted, moved to the top with its latest time.
        const int count = line->data(ColCount, Qt::UserRole).toInt() + 1;
        delete tree_->takeTopLevelItem(tree_->indexOfTopLevelItem(line));
        line = new QTreeWidgetItem;
        line->setData(ColCount, Qt::UserRole, count);
        line->setText(ColCount, QString::number(count));
    } else {
        line = new QTreeWidgetItem;
        line->setData(ColCount, Qt::UserRole, 1);
        line->setText(ColCount, QStringLiteral("1"));
    }
    line->setText(ColTime, time);
    line->setText(ColSource, m.source);
    line->setText(ColText, m.text);
    line->setToolTip(ColText, m.text);
    for (int c = 0; c < 4; ++c)
        line->setForeground(c, colour_of(m.level));
    tree_->insertTopLevelItem(0, line);
    lines_.insert(key, line);
    while (tree_->topLevelItemCount() > kMaxLines) {
        QTreeWidgetItem* oldest = tree_->takeTopLevelItem(tree_->topLevelItemCount() - 1);
        lines_.remove(key_of(EngineMessage { {}, oldest->text(ColSource), oldest->text(ColText), {}, false }));
        delete oldest;
    }
    summary_->setText(QStringLiteral("共 %1 条").arg(tree_->topLevelItemCount()));
    if (isVisible() && isActiveWindow()) {
        mark_read();
    } else {
        ++unread_;
        Q_EMIT unread_changed(unread_);
    }
    return fresh;
}

void MessageList::mark_read()
{
    if (unread_ == 0)
        return;
    unread_ = 0;
    Q_EMIT unread_changed(0);
}

void MessageList::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    mark_read();
}
