// The engine's life: construction of its timers, start-up (database, queue,
// publisher, settings files, resume, port), shutdown, and the reports the
// window shows.
#include "engine.h"

#include "alarm_log.h"
#include "command_log.h"
#include "errors.h"
#include "event_log.h"
#include "publisher.h"
#include "messages.h"
#include "public_set.h"
#include "roster.h"
#include "row_queue.h"
#include "run_texts.h"
#include "run_timers.h"
#include "scomm.h"
#include "settings_file.h"
#include "station_db.h"
#include "ttimer.h"

#include <QDir>
#include <QTimer>

#include <cstdio>
#include <limits>

namespace {

// "com1" .. "com16" for the port box's fixed items 0..15.
constexpr int kFixedPorts = 16;

QString fixed_port_name(int index) { return QStringLiteral("com%1").arg(index + 1); }

const unsigned kBaudRates[] = { 4800, 9600, 19200 };

} // namespace

void register_engine_reports()
{
    static const bool done = [] {
        qRegisterMetaType<ReplyShown>();
        qRegisterMetaType<RosterShown>();
        qRegisterMetaType<SerialShown>();
        qRegisterMetaType<LinkShown>();
        qRegisterMetaType<RunShown>();
        qRegisterMetaType<CellMark>();
        qRegisterMetaType<EngineMessage>();
        qRegisterMetaType<StatusShown>();
        qRegisterMetaType<AlarmsShown>();
        qRegisterMetaType<std::vector<int>>();
        qRegisterMetaType<std::vector<ParamTable::Change>>();
        qRegisterMetaType<std::map<int, ParamSet>>();
        return true;
    }();
    (void)done;
}

Engine::Engine(const Options& opts, QObject* parent)
    : QObject(parent)
    , options(opts)
    , send_pause_ms(opts.send_pause_ms)
{
    register_engine_reports();
    messages.set_sink([this](const EngineMessage& m) { Q_EMIT message(m); });
    build_timers();
    SComm1_485 = std::make_unique<TSComm>();
    SComm1_485->SetOutx_XonXoffFlow(false);
    SComm1_485->SetCommName("com1");
    SComm1_485->SetBaudRate(19200);
    SComm1_485->OnReceiveData = [this](TSComm* sender, const char* buffer, unsigned short length) {
        run_reported("串口", [&] { SComm1_485ReceiveData(sender, buffer, length); });
    };
    SComm1_485->OnRequestHangup = [this](TSComm* sender) {
        run_reported("串口", [&] { SComm1_485RequestHangup(sender); });
    };
}

Engine::~Engine()
{
    shutdown(std::chrono::milliseconds(0));
    publisher.reset();
    SComm1_485.reset(); // closes the port and joins its threads
}

void Engine::build_timers()
{
    // The poll timer runs from creation; its interval follows the period.
    Timer1 = std::make_unique<TTimer>();
    Timer1->setInterval(period_s_ * 1000);
    Timer1->OnTimer = [this] { run_reported("巡检", [this] { Timer1Timer(); }); };

    iTimers1 = std::make_unique<RunTimers>();
    const int intervals[] = { 300, 500, 300, 300, 1000, 500, 300 };
    for (int k = 1; k <= 7; ++k) {
        iTimers1->SetEnabled(k, false);
        iTimers1->SetInterval(k, intervals[k - 1]);
    }
    iTimers1->OnTimer(1) = [this] { run_reported("参数", [this] { iTimers1Timer1(); }); };
    iTimers1->OnTimer(2) = [this] { run_reported("参数", [this] { iTimers1Timer2(); }); };
    iTimers1->OnTimer(3) = [this] { run_reported("巡扫", [this] { iTimers1Timer3(); }); };
    iTimers1->OnTimer(4) = [this] { run_reported("参数", [this] { iTimers1Timer4(); }); };
    iTimers1->OnTimer(5) = [this] { run_reported("参数", [this] { iTimers1Timer5(); }); };
    iTimers1->OnTimer(6) = [this] { run_reported("参数", [this] { set_run_tick(); }); };
    iTimers1->OnTimer(7) = [this] { run_reported("参数", [this] { set_run_tick(); }); };

    reply_timer = std::make_unique<QTimer>();
    reply_timer->setSingleShot(true);
    reply_timer->setTimerType(Qt::PreciseTimer);
    connect(reply_timer.get(), &QTimer::timeout, this, [this] { decide_replies(); });

    reconnect_timer = std::make_unique<QTimer>();
    reconnect_timer->setInterval(1000);
    connect(reconnect_timer.get(), &QTimer::timeout, this, [this] { run_reported("串口", [this] { reconnect_tick(); }); });

    status_timer = std::make_unique<QTimer>();
    status_timer->setInterval(options.status_interval_ms);
    connect(status_timer.get(), &QTimer::timeout, this, [this] { report_status(); });

    health_publish_timer = std::make_unique<QTimer>();
    health_publish_timer->setInterval(60 * 1000);
    connect(health_publish_timer.get(), &QTimer::timeout, this, [this] { publish_health(); });

    alarm_timer = std::make_unique<QTimer>();
    alarm_timer->setInterval(1000);
    connect(alarm_timer.get(), &QTimer::timeout, this, [this] { run_reported("报警", [this] { alarm_tick(); }); });
}

void Engine::run_reported(const char* source, const std::function<void()>& fn)
{
    try {
        fn();
    } catch (const std::exception& e) {
        messages.error(source, e.what());
    } catch (...) {
        messages.error(source, "未知错误");
    }
    // The cells it changed go out with it, before anything later.
    flush_param_changes();
}

void Engine::request(const std::function<void()>& fn, const char* source)
{
    try {
        fn();
    } catch (const std::exception& e) {
        post_refusal(source, e.what());
    } catch (...) {
        post_refusal(source, "未知错误");
    }
    // The cells it changed go out with it, before anything later.
    flush_param_changes();
}

void Engine::post_refusal(const std::string& source, const std::string& text)
{
    messages.post(EngineMessage::Level::Warning, source, text, true);
}

QString Engine::data_file(const QString& name) const
{
    return options.data_dir.isEmpty() ? QDir::current().filePath(name) : QDir(options.data_dir).filePath(name);
}

void Engine::start()
{
    if (started_)
        return;
    const QString dir = options.data_dir.isEmpty() ? QDir::currentPath() : options.data_dir;
    db = std::make_unique<StationDb>(dir);
    db->open_parameter_table();
    connect(db.get(), &StationDb::measurement_appended, this, &Engine::measurement_appended);
    connect(db.get(), &StationDb::parameter_stored, this, &Engine::parameter_stored);
    station_settings = std::make_unique<StationSettings>(dir);
    for (const QString& problem : station_settings->problems())
        messages.warning("设置", problem.toStdString());
    alarm_log = std::make_unique<AlarmLog>(*db);
    command_log = std::make_unique<CommandLog>(*db);
    connect(command_log.get(), &CommandLog::changed, this, &Engine::commands_changed);
    row_queue = std::make_unique<RowQueue>(*db, alarm_log.get());
    connect(alarm_log.get(), &AlarmLog::appended, this, &Engine::alarms_appended);
    connect_row_queue();
    restore_alarms();

    // Publishing starts before polling, so that every logged row goes out.
    MqttConfig mqtt = station_settings->mqtt();
    if (!options.mqtt_url.isEmpty()) {
        QString error;
        if (const auto from_url = with_mqtt_url(options.mqtt_url, mqtt, &error)) {
            mqtt = *from_url;
        } else {
            // The broker asked for is refused: nothing is published in this
            // run, rather than to the broker of station.ini.
            messages.error("MQTT", "--mqtt 未采用，本次不发布：" + error.toStdString());
            mqtt.enabled = false;
        }
    }
    apply_mqtt_config(mqtt);

    cur_addr = -1;
    reply_ok = 1;
    chart_clock = 0;
    chart_running = 0;
    run_seen = 0;
    inst_count = 0;
    read_settings_file();
    if (!options.start_port.isEmpty()) {
        // For this start only: save.txt and station.ini keep the choice
        // they hold until the operator chooses another port.
        const QString name = options.start_port;
        bool number = false;
        const int n = name.startsWith(QStringLiteral("com"), Qt::CaseInsensitive) ? name.mid(3).toInt(&number) : 0;
        port_from_command_line_ = true;
        if (number && n >= 1 && n <= kFixedPorts) {
            port_index_ = n - 1;
            open_name_ = fixed_port_name(n - 1);
        } else {
            port_index_ = kFixedPorts;
            open_name_ = name;
        }
    }
    resume_addresses();
    report_serial();
    report_roster();
    report_run();
    started_ = true;
    try {
        open_port();
    } catch (const ECommsError&) {
        // Said in the message; the engine watches for the device.
    }
    status_timer->start();
    alarm_timer->start();
    report_status();
    flush_param_changes();
}

void Engine::read_settings_file()
{
    port_index_ = 0;
    baud_index_ = 2;
    // A device past the fixed names is remembered by its path.
    port_device_ = station_settings->port_device();
    SettingsTargets targets;
    targets.show_port_text = [this](const QString& text) { port_line_ = text; };
    // An index that names no port keeps the default (COM1), and is reported.
    targets.set_port_index = [this](int index) {
        if (index < 0 || (index >= kFixedPorts && port_device_.isEmpty()))
            return false;
        port_index_ = index;
        return true;
    };
    targets.show_baud_text = [this](const QString& text) { baud_line_ = text; };
    targets.set_baud_index = [this](int index) {
        if (index < 0 || index > 2)
            return false;
        baud_index_ = index;
        return true;
    };
    // A period under a second would stop polling: the default stands.
    targets.set_period = [this](int period) {
        if (period < 1 || period > 86400)
            return false;
        set_period_value(period);
        return true;
    };
    const SettingsReadResult result = read_settings(data_file(kSettingsFileName), targets);
    for (const QString& problem : result.problems)
        messages.warning("设置", problem.toStdString());
    saved_port_index_ = port_index_;
    saved_port_device_ = port_device_;
    open_name_ = port_index_ < kFixedPorts ? fixed_port_name(port_index_) : port_device_;
    SComm1_485->SetBaudRate(kBaudRates[baud_index_]);
}

void Engine::set_period_value(int seconds)
{
    period_s_ = seconds < 0 ? 0 : seconds;
    const long long ms = static_cast<long long>(period_s_) * 1000;
    Timer1->setInterval(static_cast<int>(std::min<long long>(ms, std::numeric_limits<int>::max())));
}

void Engine::shutdown(std::chrono::milliseconds wait_for_db)
{
    if (shut_down_)
        return;
    shut_down_ = true;
    Timer1->setEnabled(false);
    for (int k = 1; k <= 7; ++k)
        iTimers1->SetEnabled(k, false);
    reconnect_timer->stop();
    status_timer->stop();
    alarm_timer->stop();
    if (!started_)
        return; // a station that did not start writes no settings
    port_wanted = false;
    SComm1_485->CloseComm();
    // The replies that came before the port closed are decided and logged.
    settle_replies();
    // Every queued row gets written, while the database lets it within the wait.
    if (!row_queue->drain(wait_for_db)) {
        const std::string lost = "关闭时数据库仍不可用：" + std::to_string(row_queue->waiting())
            + " 行测量值与报警记录未能写入，已丢失";
        messages.error("数据库", lost);
        std::fprintf(stderr, "ai_station: %s\n", lost.c_str());
    }
    try {
        file_save();
    } catch (const std::exception& e) {
        messages.error("设置", e.what());
    }
    messages.info("站点", "关闭，串口已关闭");
    publisher.reset(); // "offline", what waits gets its last chance
}

// --- Settings ------------------------------------------------------------------

void Engine::set_address_limit(int limit)
{
    if (limit < 1 || limit > kMaxAddress)
        throw EStationError("地址上限须为 1 到 90 之间的整数，仍为 " + std::to_string(address_limit_));
    address_limit_ = limit;
}

void Engine::set_period(int seconds)
{
    if (seconds < 1 || seconds > 86400) {
        report_serial(); // the box that asked shows the period in use again
        throw EStationError("采样周期须为 1 到 86400 秒，仍为 " + std::to_string(period_s_) + " 秒");
    }
    set_period_value(seconds);
    report_serial();
}

void Engine::set_port(int index, const QString& name)
{
    SComm1_485->CloseComm();
    port_index_ = index;
    open_name_ = name;
    port_from_command_line_ = false;
    if (index >= kFixedPorts)
        port_device_ = name;
    saved_port_index_ = index;
    saved_port_device_ = port_device_;
    report_serial();
    // The port reopens whether or not the choice could be saved.
    try {
        file_save();
    } catch (const std::exception& e) {
        messages.error("设置", e.what());
    }
    open_port();
}

void Engine::reopen_port()
{
    SComm1_485->CloseComm();
    try {
        file_save();
    } catch (const std::exception& e) {
        messages.error("设置", e.what());
    }
    try {
        open_port();
    } catch (const ECommsError&) {
        // Said in the message; the engine keeps trying.
    }
}

void Engine::set_baud(int index)
{
    if (index < 0 || index > 2)
        throw EStationError("波特率须为 4800、9600 或 19200");
    SComm1_485->CloseComm();
    baud_index_ = index;
    SComm1_485->SetBaudRate(kBaudRates[index]);
    report_serial();
    try {
        file_save();
    } catch (const std::exception& e) {
        messages.error("设置", e.what());
    }
    open_port();
}

void Engine::set_resume(bool on)
{
    station_settings->set_resume(on);
    report_serial();
}

void Engine::set_confirm_commands(bool on)
{
    station_settings->set_confirm_commands(on);
    report_serial();
}

void Engine::set_control_address(std::optional<int> address) { control_address_ = address; }

// --- Reports ---------------------------------------------------------------------

bool Engine::run_busy() const
{
    return scan_active || address_check || iTimers1->Enabled(1) || iTimers1->Enabled(2) || iTimers1->Enabled(4)
        || iTimers1->Enabled(5) || iTimers1->Enabled(6) || iTimers1->Enabled(7);
}

bool Engine::read_all_running() const { return iTimers1->Enabled(1); }

RunShown Engine::run_shown() const
{
    RunShown r;
    r.busy = run_busy();
    r.scanning = scan_active != 0;
    r.first_scan_done = first_scan_done;
    r.button8_allowed = button8_allowed;
    r.button9_allowed = button9_allowed;
    r.status = run_status_text;
    r.command = run_command_text;
    r.done = progress_done;
    r.total = progress_total;
    r.verify_text = verify_text;
    r.verify_detail = verify_detail;
    r.verify_clean = verify_clean;
    return r;
}

void Engine::report_run() { Q_EMIT run_changed(run_shown()); }

RosterShown Engine::roster_shown() const
{
    RosterShown r;
    r.addresses = roster::addresses();
    r.inst_count = inst_count;
    r.scanning = scan_active != 0;
    return r;
}

void Engine::report_roster(bool relabel)
{
    RosterShown r = roster_shown();
    r.relabel = relabel;
    Q_EMIT roster_changed(r);
}

SerialShown Engine::serial_shown() const
{
    SerialShown s;
    s.port_index = port_index_;
    s.port_name = open_name_;
    s.port_device = port_device_;
    s.baud_index = baud_index_;
    s.baud = SComm1_485->BaudRate();
    s.period = period_s_;
    s.resume = station_settings ? station_settings->resume() : true;
    s.confirm_commands = station_settings ? station_settings->confirm_commands() : true;
    s.port_line = port_line_;
    s.baud_line = baud_line_;
    return s;
}

void Engine::report_serial() { Q_EMIT serial_changed(serial_shown()); }

void Engine::flush_param_changes()
{
    if (param_table.changed())
        Q_EMIT param_cells(param_table.take_changes());
}

StatusShown Engine::status_shown() const
{
    StatusShown s;
    s.health = std::make_shared<const BusHealth>(health);
    if (row_queue) {
        s.storage_outage = row_queue->outage();
        s.rows_waiting = static_cast<qint64>(row_queue->waiting());
        s.rows_dropped = row_queue->dropped();
    }
    s.mqtt = mqtt_status_text();
    s.mqtt_ok = publisher && publisher->status().link == MqttPublisher::Link::Connected
        && publisher->status().dropped == 0;
    for (int address : roster::addresses())
        if (health.silent(address))
            s.silent.push_back(address);
    return s;
}

void Engine::report_status() { Q_EMIT status(status_shown()); }

void Engine::report_all()
{
    for (EngineMessage m : messages.backlog()) {
        m.refusal = false; // answered long ago
        Q_EMIT message(m);
    }
    report_serial();
    report_link();
    Q_EMIT alarms_changed(alarms_shown());
    Q_EMIT param_columns(param_table.addresses());
    std::vector<ParamTable::Change> cells;
    for (int address : param_table.addresses())
        for (int row = 1; row <= kParamRows; ++row)
            if (const QString text = param_table.cell(address, row); !text.isEmpty())
                cells.push_back({ address, row, text });
    Q_EMIT param_cells(cells);
    report_roster();
    report_run();
    report_status();
}
