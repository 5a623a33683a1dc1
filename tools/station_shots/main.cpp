// Runs the station against the simulated demo bus in a temporary working
// directory, scans, reads all parameters, polls for a while, and saves a
// picture of every page of both page controls, of the trend chart, of the
// settings page with the port list open (taken from the screen, so it needs a
// display such as Xvfb), of the help window and of the MQTT settings, and of
// 报警一览 with alarms in every state and the status bar's flashing count.
//   station_shots OUT_DIR [POLL_SECONDS]
#include "active_alarms.h"
#include "browser_pages.h"
#include "command_list.h"
#include "aisim.h"
#include "engine.h"
#include "engine_host.h"
#include "form1.h"
#include "health_view.h"
#include "iAnalogOutput.h"
#include "help_window.h"
#include "ifonts.h"
#include "iPlot.h"
#include "message_list.h"
#include "mqtt_dialog.h"
#include "port_box.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QScreen>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QStatusBar>
#include <QTabWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <cstdio>
#include <functional>

static void pump_until(const std::function<bool()>& done, int ms)
{
    QDeadlineTimer deadline(ms);
    while (!done() && !deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
}

static void save(QWidget* w, const QString& path)
{
    QCoreApplication::processEvents();
    const bool ok = w->grab().save(path);
    std::printf("%s %s\n", ok ? "saved" : "FAILED", qPrintable(path));
}

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("ai_station"));
    QApplication::setApplicationDisplayName(QStringLiteral("AI仪表集中监控站"));
    install_font_substitutions();
    if (argc < 2) {
        std::fprintf(stderr, "usage: station_shots OUT_DIR [POLL_SECONDS]\n");
        return 2;
    }
    const QString out = QDir(QString::fromLocal8Bit(argv[1])).absolutePath();
    const int poll_seconds = argc > 2 ? std::atoi(argv[2]) : 60;
    QDir().mkpath(out);

    QTemporaryDir work;
    QDir::setCurrent(work.path());
    QFile::copy(QString::fromUtf8(STATION_DB_TEMPLATE), work.filePath(QStringLiteral("control_db.sqlite")));
    QFile settings(work.filePath(QStringLiteral("save.txt")));
    settings.open(QIODevice::WriteOnly);
    settings.write("0\r\n1\r\n1\r\n");  // COM1, 9600 baud, 1 s period
    settings.close();

    aisim::BusOptions options;
    options.addresses = {1, 2, 3, 5};
    options.speed = 30;
    aisim::Bus bus(options);
    bus.set_param(1, 51, 80);
    bus.set_param(2, 51, 150);
    bus.set_param(3, 22, 9);
    bus.set_param(3, 51, 220);
    bus.set_param(5, 40, 3);
    for (auto [code, value] : {std::pair{51, 60.0}, {52, 2.0}, {53, 180.0}, {54, 3.0}, {55, 120.0}, {56, 2.0}})
        bus.set_param(5, code, value);
    bus.set_pv(3, 25);
    // Address 1 works above its high limit: a lasting alarm on the panels.
    bus.set_param(1, 3, 50);
    bus.start_pty(work.filePath(QStringLiteral("com1")).toStdString());

    Engine::Options engine_options;
    engine_options.data_dir = work.path();
    EngineHost host(engine_options);
    host.start();
    TForm1 form(host);
    form.show();
    form.Button_scanClick(form.Button_scan);
    pump_until([&] { return form.run.scanning; }, 5000);
    pump_until([&] { return !form.run.scanning; }, 40000);
    form.Button3Click(form.Button3);
    pump_until([&] { return form.run.busy; }, 5000);
    pump_until([&] { return !form.run.busy; }, 120000);
    // The line of a plant: a few replies lost, spoilt, split or late, so that
    // the status bar and the bus-health view have something to show.
    aisim::Faults faults;
    faults.drop = faults.corrupt = faults.split = faults.late = faults.noise = 0.03;
    bus.set_faults(faults);
    // Alarm limits moved while polling, so that alarms come and go on the
    // alarm page: address 1's high alarm clears and returns, address 3 has a
    // low alarm for a while.
    pump_until([] { return false; }, poll_seconds * 400);
    bus.set_param(1, 3, 100);
    bus.set_param(3, 4, 300);
    pump_until([] { return false; }, poll_seconds * 200);
    bus.set_param(1, 3, 50);
    bus.set_param(3, 4, 0);
    pump_until([] { return false; }, poll_seconds * 400);

    const QString names1[] = {"online", "parameters", "settings", "data1", "data2", "data3", "about", "alarms",
                              "active_alarms"};
    for (int i = 0; i < form.PageControl1->count(); ++i) {
        form.PageControl1->setCurrentIndex(i);
        // Showing the parameter page moves the lower control; keep the trend in view.
        form.PageControl2->setCurrentIndex(0);
        save(&form, out + QStringLiteral("/upper_%1_%2.png").arg(i + 1).arg(names1[i]));
    }
    form.PageControl1->setCurrentIndex(3);
    const QString names2[] = {"trend1", "trend2", "trend3", "log", "param_sets", "dev1", "dev2", "dev3"};
    for (int i = 0; i < form.PageControl2->count(); ++i) {
        form.PageControl2->setCurrentIndex(i);
        save(&form, out + QStringLiteral("/lower_%1_%2.png").arg(i + 1).arg(names2[i]));
    }
    save(form.iPlot[0], out + QStringLiteral("/demo_trend.png"));

    // The settings page with the port list open, as the screen shows it.
    form.PageControl1->setCurrentWidget(form.TabSheet3);
    form.port_box->showPopup();
    pump_until([] { return false; }, 500);
    const QRect frame = form.frameGeometry();
    const bool grabbed = QGuiApplication::primaryScreen()
                             ->grabWindow(0, frame.x(), frame.y(), frame.width(), frame.height())
                             .save(out + QStringLiteral("/settings_port_list.png"));
    std::printf("%s %s\n", grabbed ? "saved" : "FAILED", qPrintable(out + QStringLiteral("/settings_port_list.png")));
    form.port_box->hidePopup();

    save(form.statusBar(), out + QStringLiteral("/status_bar.png"));
    form.show_health_view();
    save(form.health_view, out + QStringLiteral("/bus_health.png"));
    form.health_view->close();

    // The MQTT settings as an operator fills them in for a plant's broker.
    MqttConfig mqtt;
    mqtt.enabled = true;
    mqtt.host = QStringLiteral("historian.plant.local");
    mqtt.port = 8883;
    mqtt.tls = true;
    mqtt.ca_file = QStringLiteral("/etc/ssl/plant/ca.pem");
    mqtt.user = QStringLiteral("station");
    mqtt.password = QStringLiteral("example");
    mqtt.prefix = QStringLiteral("plant");
    mqtt.station = QStringLiteral("kiln-hall");
    MqttDialog mqtt_dialog(mqtt, &form);
    mqtt_dialog.show();
    save(&mqtt_dialog, out + QStringLiteral("/mqtt_settings.png"));
    mqtt_dialog.close();

    // A trend chart over the last ten minutes, with the cross-hair read-out.
    form.PageControl1->setCurrentIndex(3);
    form.PageControl2->setCurrentIndex(0);
    TiPlot* trend = form.iPlot[0];
    trend->choose_span(0);
    QCoreApplication::processEvents();
    // The mouse over the middle of the curves.
    const QRect area = trend->plot_area();
    const TiPlotXAxis& x = *trend->XAxis(0);
    const double middle = (trend->Channel(0)->XMin() + trend->Channel(0)->XMax()) / 2;
    const QPointF at(area.left() + (middle - x.view_min()) / x.view_span() * (area.width() - 1),
                     area.top() + area.height() * 0.4);
    QMouseEvent move(QEvent::MouseMove, at, trend->mapToGlobal(at), Qt::NoButton, Qt::NoButton, {});
    QCoreApplication::sendEvent(trend, &move);
    save(&form, out + QStringLiteral("/lower_1_trend1_10min_readout.png"));
    trend->choose_span(3);

    form.N11Click(nullptr);
    save(form.help, out + QStringLiteral("/help_window.png"));
    form.help->close();

    // A set value for instrument 3 on a quiet line: the question the operator answers before
    // it goes out (drawn as the box shows it, then answered yes), and the
    // command record with what came of it.
    bus.set_faults(aisim::Faults{});
    form.PageControl1->setCurrentIndex(3);
    form.ComboBox7->setCurrentText(QStringLiteral("3"));
    form.ComboBox7Change();
    pump_until([] { return false; }, 1500);
    form.iAnalogOutput2->SetValue(230);
    OperatorPrompts::instance().ask = [&out](QWidget* parent, const QString& title, const QString& text) {
        QMessageBox box(QMessageBox::Question, title, text, QMessageBox::Yes | QMessageBox::No, parent);
        box.button(QMessageBox::Yes)->setText(QStringLiteral("是"));
        box.button(QMessageBox::No)->setText(QStringLiteral("否"));
        box.show();
        pump_until([] { return false; }, 300);
        save(&box, out + QStringLiteral("/confirm_command.png"));
        return true;
    };
    form.Button9Click(form.Button9);
    pump_until([] { return false; }, 3000);
    form.show_command_list();
    pump_until([] { return false; }, 300);
    save(form.command_list, out + QStringLiteral("/command_list.png"));
    form.command_list->close();

    // The message list after the scan, the faulty line and a pulled cable:
    // the line goes, the station says so, retries and reopens it. While it
    // is gone the panels are grey.
    bus.stop();
    pump_until([] { return false; }, 4000);
    save(&form, out + QStringLiteral("/panels_disconnected.png"));
    bus.start_pty(work.filePath(QStringLiteral("com1")).toStdString());
    pump_until([] { return false; }, 8000);
    form.show_message_list();
    pump_until([] { return false; }, 300);
    save(form.message_list, out + QStringLiteral("/message_list.png"));
    form.message_list->close();
    // 报警一览 with an alarm in every state: the alarms the bus raises
    // (address 1's high alarm, acknowledged; address 2's high alarm,
    // shelved with its reason; address 3's low alarm, unacknowledged), and a chattering deviation alarm of address 2
    // (twelve transitions within a minute, handed to the engine here as a
    // line would bring them) collapsed into one line with its count. Then
    // the status bar in both phases of its flash.
    bus.set_param(2, 3, 0); // address 2 above its high limit
    bus.set_param(3, 4, 300); // address 3 below its low limit
    const auto listed = [&](int address, const char* alarm) {
        return std::any_of(form.alarms.lines.begin(), form.alarms.lines.end(), [&](const AlarmLine& l) {
            return l.address == address && l.alarm == QLatin1String(alarm) && l.active;
        });
    };
    pump_until([&] { return listed(2, "HIAL") && listed(3, "LoAL"); }, 20000);
    host.call([](Engine& e) {
        const QDateTime now = QDateTime::currentDateTime();
        std::vector<AlarmEvent> chatter;
        for (int i = 0; i < 12; ++i)
            chatter.push_back(e.alarm_board.transition(2, QStringLiteral("HdAL"), i % 2 == 0, now.addSecs(2 * i - 24)));
        e.record_alarm_events(chatter, true);
    });
    pump_until([] { return false; }, 300);
    form.PageControl1->setCurrentWidget(form.TabSheet_active);
    ActiveAlarmPage* page = form.active_alarm_page;
    const auto select = [&](const QString& alarm, int address) {
        for (int r = 0; r < page->model()->rowCount(); ++r) {
            const AlarmLine& l = page->model()->lines()[static_cast<std::size_t>(r)];
            if (l.alarm == alarm && (address < 0 || l.address == address) && !l.acked) {
                page->table()->selectRow(r);
                return true;
            }
        }
        return false;
    };
    if (select(QStringLiteral("HIAL"), 1))
        page->ack_button()->click();
    page->ask_shelve = [](const AlarmLine&, int& hours, QString& reason) {
        hours = 8;
        reason = QStringLiteral("停炉检修");
        return true;
    };
    if (select(QStringLiteral("HIAL"), 2))
        page->shelve_button()->click();
    pump_until([] { return false; }, 500);
    page->table()->clearSelection();
    page->model()->set_flash(true);
    form.alarm_flash_on = false;
    form.alarm_flash_tick();
    save(&form, out + QStringLiteral("/upper_9_active_alarms_states.png"));
    save(form.statusBar(), out + QStringLiteral("/status_bar_alarms_on.png"));
    form.alarm_flash_tick();
    page->model()->set_flash(false);
    save(form.statusBar(), out + QStringLiteral("/status_bar_alarms_off.png"));
    save(page, out + QStringLiteral("/active_alarms_flash_off.png"));

    form.close();
    bus.stop();
    return 0;
}
