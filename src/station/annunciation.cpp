// The alarms the operator has to deal with: the page 报警一览 and its
// requests to the engine (acknowledged in the desktop user's name), the
// status bar's count of unacknowledged alarms, which flashes while there
// are any, and the sound, repeated while the engine says the alarms sound.
#include "active_alarms.h"
#include "engine.h"
#include "form1.h"

#include <QApplication>
#include <QLabel>
#include <QMenu>
#include <QStatusBar>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>

#include <pwd.h>
#include <unistd.h>

namespace {

constexpr int kBeepMs = 2000;

} // namespace

QString TForm1::desktop_user()
{
    if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_name && *pw->pw_name)
        return QString::fromLocal8Bit(pw->pw_name);
    return qEnvironmentVariable("USER");
}

void TForm1::build_active_alarms()
{
    TabSheet_active = new QWidget;
    TabSheet_active->setObjectName(QStringLiteral("TabSheet_active"));
    PageControl1->addTab(TabSheet_active, QStringLiteral("报警一览"));
    // Nine captions overflow the upper control: its tabs scroll, and the
    // page is also in the menu 显示 and behind the status bar's count.
    PageControl1->setUsesScrollButtons(true);
    if (auto* display = findChild<QMenu*>(QStringLiteral("N4"))) {
        QAction* item = display->addAction(QStringLiteral("报警一览"));
        item->setObjectName(QStringLiteral("active_alarms_item"));
        connect(item, &QAction::triggered, this, [this] { PageControl1->setCurrentWidget(TabSheet_active); });
    }
    active_alarm_page = new ActiveAlarmPage(TabSheet_active);
    auto* layout = new QVBoxLayout(TabSheet_active);
    layout->setContentsMargins(2, 2, 2, 2);
    layout->addWidget(active_alarm_page);

    ActiveAlarmPage* page = active_alarm_page;
    connect(page, &ActiveAlarmPage::acknowledge_requested, this, [this](int address, const QString& alarm) {
        ask([address, alarm, user = desktop_user()](Engine& e) { e.acknowledge_alarm(address, alarm, user); },
            "报警");
    });
    connect(page, &ActiveAlarmPage::acknowledge_all_requested, this,
        [this] { ask([user = desktop_user()](Engine& e) { e.acknowledge_all_alarms(user); }, "报警"); });
    connect(page, &ActiveAlarmPage::silence_requested, this,
        [this] { ask([](Engine& e) { e.silence_alarms(); }, "报警"); });
    connect(page, &ActiveAlarmPage::shelve_requested, this,
        [this](int address, const QString& alarm, int hours, const QString& reason) {
            ask([=, user = desktop_user()](
                    Engine& e) { e.shelve_alarm(address, alarm, hours, reason, user); },
                "报警");
        });
    connect(page, &ActiveAlarmPage::quiet_requested, this, [this](const std::set<int>& addresses) {
        ask([addresses](Engine& e) { e.set_quiet_alarm_addresses(addresses); }, "报警");
    });
    connect(page, &ActiveAlarmPage::unshelve_requested, this, [this](int address, const QString& alarm) {
        ask([address, alarm, user = desktop_user()](Engine& e) { e.unshelve_alarm(address, alarm, user); },
            "报警");
    });

    status_alarms = new QLabel(statusBar());
    status_alarms->setObjectName(QStringLiteral("status_alarms"));
    status_alarms->setContentsMargins(6, 0, 6, 0);
    status_alarms->setTextFormat(Qt::RichText);
    status_alarms->setToolTip(QStringLiteral("单击查看报警一览"));
    statusBar()->insertWidget(0, status_alarms);
    connect(status_alarms, &QLabel::linkActivated, this,
        [this] { PageControl1->setCurrentWidget(TabSheet_active); });

    beep = [] { QApplication::beep(); };
    alarm_flash_timer = new QTimer(this);
    alarm_flash_timer->setInterval(ActiveAlarmPage::kFlashMs);
    connect(alarm_flash_timer, &QTimer::timeout, this, &TForm1::alarm_flash_tick);
    alarm_beep_timer = new QTimer(this);
    alarm_beep_timer->setInterval(kBeepMs);
    connect(alarm_beep_timer, &QTimer::timeout, this, &TForm1::alarm_beep_tick);
    update_alarm_field();
}

void TForm1::show_alarms(const AlarmsShown& shown)
{
    alarms = shown;
    active_alarm_page->show_alarms(shown);
    if (shown.unacked > 0) {
        if (!alarm_flash_timer->isActive())
            alarm_flash_timer->start();
    } else {
        alarm_flash_timer->stop();
        alarm_flash_on = true;
    }
    if (shown.sounding) {
        // A new alarm is heard at once; the rest repeats with the timer.
        if (shown.new_alarm || !alarm_beep_timer->isActive())
            alarm_beep_tick();
        alarm_beep_timer->start();
    } else {
        alarm_beep_timer->stop();
    }
    update_alarm_field();
}

void TForm1::alarm_flash_tick()
{
    alarm_flash_on = !alarm_flash_on;
    update_alarm_field();
}

void TForm1::alarm_beep_tick()
{
    if (!alarms.sounding)
        return;
    ++beeps;
    if (beep)
        beep();
}

void TForm1::update_alarm_field()
{
    if (!status_alarms)
        return;
    const int n = alarms.unacked;
    status_alarms->setVisible(n > 0 || !alarms.lines.empty());
    const QString colour
        = n > 0 && alarm_flash_on ? QStringLiteral("rgb(255, 255, 255)") : QStringLiteral("rgb(200, 0, 0)");
    status_alarms->setText(n > 0
            ? QStringLiteral(
                "<a href=\"alarms\" style=\"color: %1; text-decoration: none;\">未确认报警 %2 条%3</a>")
                  .arg(colour)
                  .arg(n)
                  .arg(alarms.silenced ? QStringLiteral("（已消音）") : QString())
            : QStringLiteral("<a href=\"alarms\">报警 %1 条</a>").arg(alarms.lines.size()));
    status_alarms->setAutoFillBackground(true);
    status_alarms->setStyleSheet(n > 0 && alarm_flash_on
            ? QStringLiteral("background: rgb(220, 0, 0); font-weight: bold;")
            : QStringLiteral("font-weight: bold;"));
}
