#include "upgrade_notice.h"

#include "event_log.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QLabel>
#include <QLocale>
#include <QScreen>
#include <QTime>

UpgradeNotice::UpgradeNotice() = default;
UpgradeNotice::~UpgradeNotice() = default;

void UpgradeNotice::starting(const SchemaStep& step)
{
    if (!label_) {
        clock_.start();
        label_ = std::make_unique<QLabel>();
        label_->setWindowTitle(QStringLiteral("AI仪表集中监控站"));
        label_->setAlignment(Qt::AlignCenter);
        label_->setMargin(24);
        label_->setMinimumWidth(460);
    }
    const QString what = QStringLiteral("结构版本 %1（%2）").arg(step.version).arg(QString::fromUtf8(step.what));
    lines_ << QStringLiteral("数据库升级到%1，开始于 %2")
                  .arg(what, QTime::currentTime().toString(QStringLiteral("HH:mm:ss")));
    label_->setText(QStringLiteral("正在升级数据库到%1……\n记录多时需要几分钟，请勿关闭程序。").arg(what));
    label_->adjustSize();
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        label_->move(screen->availableGeometry().center() - label_->rect().center());
    label_->show();
    label_->repaint();
    // Paint it, and nothing else: a stop request (SIGTERM comes through a
    // socket notifier) waits for start-up, which knows how to close.
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents | QEventLoop::ExcludeSocketNotifiers);
}

void UpgradeNotice::finish()
{
    if (!label_)
        return;
    for (const QString& line : lines_)
        event_log::write("数据库", line.toStdString());
    event_log::write("数据库", QStringLiteral("升级完成，用时 %1 秒")
                                   .arg(QLocale::c().toString(clock_.elapsed() / 1000.0, 'f', 1))
                                   .toStdString());
    label_.reset();
}
