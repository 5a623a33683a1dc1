#pragma once
// The acquisition engine: the serial line, the poll cycle, the reply windows
// and the dispatch of every reply, the scan, the parameter runs and the
// control commands, the row queue and the database writes, the alarm watch,
// bus health and the publisher. No widgets: the window shows what the engine
// reports and asks it to act, and the headless service runs it alone.
//
// Thread contract: an Engine belongs to the thread that created it (the
// station gives it a thread of its own, see EngineHost; tests create it on
// theirs). Every member function is called on that thread; the serial
// component raises its events there. The engine never calls into a window
// and never waits for one: it reports through the signals below, whose
// arguments are plain copies, so a window on another thread gets them
// queued and can take as long as it likes to show them.
//
// One concern per file:
//   engine.cpp        construction, start, shutdown, settings, reports
//   poll.cpp          Timer1Timer, scomm485_write_command, SComm1_485ReceiveData,
//                     the reply windows
//   dispatch.cpp      command_dispose
//   scan.cpp          the address table, the scan and its end, resume
//   param_runs.cpp    read-all, column read, column write, selected write, edits
//   readback.cpp      read-back of every parameter write
//   set_runs.cpp      copy to several instruments, reading sets for a comparison
//   control.cpp       control commands, address and baud-rate writes
//   command_journal.cpp  every command in the event log and command_log
//   address_check.cpp the probe of an address before an instrument moves there
//   link.cpp          the port wanted open: open, hang-up, reconnect
//   storage.cpp       the row queue, the parameter store, alarm transitions
//   publishing.cpp    measurements, alarms and bus counters to MQTT
//   alarms.cpp        the active-alarm list: acknowledgement, silence, shelving
#include "alarm_board.h"
#include "alarm_watch.h"
#include "bus_health.h"
#include "engine_reports.h"
#include "message_center.h"
#include "mqtt_config.h"
#include "param_set.h"
#include "param_table.h"
#include "param_verify.h"
#include "reply_matcher.h"
#include "set_run.h"
#include "station_settings.h"

#include <QObject>
#include <QString>

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

class AlarmLog;
class CommandLog;
class MqttPublisher;
class QTimer;
class RowQueue;
class RunTimers;
class StationDb;
class TSComm;
class TTimer;
class Topics;
struct AlarmEvent;
struct MeasurementRow;

class Engine : public QObject {
    Q_OBJECT
public:
    struct Options {
        // The folder holding control_db.sqlite, save.txt, station.ini and any
        // comN links (the working directory when empty).
        QString data_dir;
        // A port name or device path opened at this start instead of the one
        // save.txt names; it is not remembered.
        QString start_port;
        // "mqtt://[user:password@]host:port/prefix" for this run, whatever
        // station.ini says (empty: station.ini's).
        QString mqtt_url;
        // How long the engine pauses after queueing a request, keeping the
        // half-duplex bus free for the reply. Tests shorten it.
        int send_pause_ms = 200;
        // Interval of the status report (bus counters, queue, publisher).
        int status_interval_ms = 1000;
    };

    explicit Engine(const Options& options, QObject* parent = nullptr);
    ~Engine() override;

    // Opens the database (throws EDatabaseError naming the file when it
    // cannot), the row queue and the publisher, reads save.txt and
    // station.ini, resumes the remembered addresses and opens the port (a
    // port that does not open is a message; the engine keeps trying).
    void start();
    // Closing: the port closed, every open reply window decided, every queued
    // row written (waiting up to `wait_for_db` for a database that is away;
    // what is still lost then is counted in the event log and on stderr),
    // save.txt written, the publisher closed. Safe to call twice.
    void shutdown(std::chrono::milliseconds wait_for_db = std::chrono::seconds(10));
    bool started() const { return started_; }

    // --- Requests (the window's buttons, boxes and menus) --------------------
    // Each either acts or throws EStationError/EConvertError with the reason
    // in Chinese; request() runs one and turns what it throws into a refusal
    // message (never a box).
    void request(const std::function<void()>& fn, const char* source = "操作");

    // Address table.
    void checkbox_change(int address, bool ticked); // boxes of addresses 0..11
    void set_address_limit(int limit); // 地址上限, 1..90
    int address_limit() const { return address_limit_; }
    // Starts a scan of the addresses below the limit (`limit` < 0: the
    // address limit; the headless service scans 0..90 with 91).
    void start_scan(int limit = -1);

    // Sampling period in seconds (1 .. 86400); polling never stops for it.
    void set_period(int seconds);
    int poll_period() const { return period_s_; }
    // The port: the port box's item `index` and the name it opens (a
    // "comN" name or a device path). Closes the port, remembers the choice
    // (a failed save is a message), reopens it.
    void set_port(int index, const QString& name);
    // Closes, saves and reopens the port in use (the operator typed a text
    // that names no item); a port that does not open is a message only.
    void reopen_port();
    // The baud rate: 0 4800, 1 9600, 2 19200.
    void set_baud(int index);
    void set_resume(bool on);
    // Whether the window asks before it sends a command (station.ini).
    void set_confirm_commands(bool on);
    // The control address (控制地址); nothing when the box holds no address.
    void set_control_address(std::optional<int> address);
    std::optional<int> control_address() const { return control_address_; }

    // Control commands to `address` (the control address of the window).
    void run_hold(int address); // RUN/HOLD
    void hand(int address); // HAND
    void stop_instrument(int address); // STOP
    void manual_output(int address, double value); // 手动调功
    void set_value(int address, double value); // 给定值
    // The settings page's writes to the instrument at `old_address`.
    void write_address(int old_address, int new_address);
    void write_baud(int old_address, int baud_index);

    // Parameter runs.
    void start_read_all(); // 遍读
    void start_column_read(); // 读一列, of the control address
    void stop_runs(); // 停止
    void start_column_write(int address); // 写一列
    void start_selected_write(); // 选择写
    // An edit of the operator's in the grid: checked, put into the cell and
    // queued for 选择写.
    void edit_cell(int address, int row, const QString& text);
    // A set put into an instrument's column (import); nothing is sent.
    void put_set(int address, const ParamSet& set);
    // The set a column write of `address` would send: codes 1 up to the last
    // program segment pair its "程序段数Pno" cell asks for, each cell checked
    // as the column write checks it. Throws EStationError.
    ParamSet grid_column_set(int address) const;
    // The decimal places the instrument at `address` last reported.
    int decimal_places(int address) const;
    // Writes `set` to every target, each write read back.
    void start_copy(const ParamSet& set, const std::vector<int>& targets, bool with_address_and_baud);
    // What start_copy refuses before anything goes out (the probe of a new
    // address aside); throws EStationError.
    void check_copy(const ParamSet& set, const std::vector<int>& targets, bool with_address_and_baud) const;
    // Reads the sets of `addresses` for a comparison; inspection_done(id, …)
    // follows.
    void start_inspection(const std::vector<int>& addresses, int id);

    // The active-alarm list. `user` is the desktop user who acts; each
    // action is logged (event log, alarm_log) and published. Acknowledging
    // or shelving an alarm that is not listed does nothing.
    void acknowledge_alarm(int address, const QString& alarm, const QString& user); // 确认
    void acknowledge_all_alarms(const QString& user); // 全部确认
    void silence_alarms(); // 消音
    // 屏蔽 for 1 or 8 hours with a reason (not empty); throws EStationError.
    void shelve_alarm(int address, const QString& alarm, int hours, const QString& reason, const QString& user);
    void unshelve_alarm(int address, const QString& alarm, const QString& user);
    // Addresses whose alarms are listed and logged but never sounded;
    // stored in station.ini.
    void set_quiet_alarm_addresses(const std::set<int>& addresses);
    AlarmsShown alarms_shown() const;

    // Publishing: stores the settings in station.ini and applies them.
    void set_mqtt(const MqttConfig& config);
    MqttConfig mqtt_settings() const { return mqtt_config; }

    // Reports everything the window shows (a window that comes after the start).
    void report_all();

    // --- What the window shows, readable on the engine's thread ---------------
    const ParamTable& params() const { return param_table; }
    bool run_busy() const;
    bool read_all_running() const;
    const BusHealth& bus_health() const { return health; }
    RunShown run_shown() const;
    LinkShown link_shown() const;
    SerialShown serial_shown() const;
    RosterShown roster_shown() const;
    StatusShown status_shown() const;
    StationDb* database() const { return db.get(); }
    // Messages waiting for the broker (0 when not publishing).
    std::size_t mqtt_waiting() const;
    TSComm* serial() const { return SComm1_485.get(); }
    RowQueue* rows() const { return row_queue.get(); }

Q_SIGNALS:
    void reply_shown(const ReplyShown& reply);
    void roster_changed(const RosterShown& roster);
    // A scan found this address (it joins the control-address lists).
    void address_found(int address);
    void serial_changed(const SerialShown& serial);
    void link_changed(const LinkShown& link);
    void run_changed(const RunShown& run);
    // The parameter table's columns were laid out again.
    void param_columns(const std::vector<int>& addresses);
    // Cells that changed, in order.
    void param_cells(const std::vector<ParamTable::Change>& changes);
    void param_mark(const CellMark& mark);
    // The read-all run shows the row it has reached.
    void param_top_row(int row);
    void message(const EngineMessage& message);
    void status(const StatusShown& status);
    // The communication lamp: lit when a reply arrived, dark when a request went out.
    void comm_led(bool lit);
    // Each frame handed to the serial component (its address is `address`),
    // and each 10-byte block received, for the command monitor.
    void frame_sent(const QByteArray& frame, int address);
    void frame_received(const QByteArray& block);
    // An inspection ended: the sets read (complete), or what it got when it
    // was stopped.
    void inspection_done(int id, bool complete, const std::map<int, ParamSet>& sets);
    // Rows and alarm transitions written to the log (browser pages follow).
    void measurement_appended(qint64 rowid);
    void parameter_stored(int address, int code, double value);
    void alarms_appended();
    // The active-alarm list changed.
    void alarms_changed(const AlarmsShown& alarms);
    // command_log changed: a command was sent or its result is known.
    void commands_changed();

public:
    // --- The engine's own state and operations ------------------------------
    // Kept public for the engine's tests, which drive the handlers without
    // the line's timing. The window never touches them.

    Options options;
    MessageCenter messages;

    // The poll timer and the serial port.
    std::unique_ptr<TTimer> Timer1;
    std::unique_ptr<TSComm> SComm1_485;
    std::unique_ptr<RunTimers> iTimers1;

    // poll.cpp
    void Timer1Timer();
    // Logs and sends one request frame, opens its reply window and pauses.
    bool scomm485_write_command(const std::string& frame, RequestKind kind);
    void SComm1_485ReceiveData(TSComm* Sender, const char* Buffer, unsigned short BufferLength);
    // Decides every open reply window at once and handles the outcomes
    // (tests; the port's closing).
    void settle_replies();
    ReplyMatcher replies;
    int poll_pos = -1; // last address served by the current sweep
    int send_pause_ms = 200;
    std::function<void(const std::string& frame)> on_frame_sent; // tests

    // dispatch.cpp
    void command_dispose(const LineRequest& request, const std::uint8_t* reply,
        std::chrono::steady_clock::time_point arrived);

    // scan.cpp
    void iTimers1Timer3();
    void mark_found_address(int address);
    void adopt_addresses();
    void remember_addresses();
    void resume_addresses();
    int scan_limit = 0;
    bool first_scan_done = false;

    // storage.cpp
    void connect_row_queue();
    void store_parameter(int address, int code, float value);
    void append_measurement(int address, const QDateTime& when);
    void log_alarms(int address, const QDateTime& when);
    void get_AI_database(int address);
    // Writes save.txt; throws EInOutError.
    void file_save();
    std::unique_ptr<StationDb> db;
    std::unique_ptr<RowQueue> row_queue;
    std::unique_ptr<AlarmLog> alarm_log;
    std::unique_ptr<CommandLog> command_log;
    std::unique_ptr<StationSettings> station_settings;
    AlarmWatch alarm_watch;

    // alarms.cpp
    // The clock of the alarm list (acknowledgements, shelves and their
    // expiry); tests set their own.
    std::function<QDateTime()> alarm_clock = [] { return QDateTime::currentDateTime(); };
    AlarmBoard alarm_board;
    // Ends the shelves that have run out (a timer, once a second).
    void alarm_tick();
    void restore_alarms();
    // Logs, stores and publishes the rows of alarm changes, then reports.
    void record_alarm_events(const std::vector<AlarmEvent>& events, bool new_alarm = false);

    // param_runs.cpp
    void iTimers1Timer1();
    void iTimers1Timer2();
    void iTimers1Timer4();
    void iTimers1Timer5();
    static int last_code_for(int segments);
    struct ColumnWrite {
        bool active = false;
        int address = -1;
        int target = -1;
        size_t next = 0;
        int sent = 0;
        int requests = 0;
        int answered = 0;
        int silent_in_row = 0;
        int baud = 0;
        std::vector<int> unanswered_codes;
    } column_write;
    ParamTable param_table;
    bool button8_allowed = true; // as the last HAND left it
    bool button9_allowed = true; // as the last RUN/HOLD left it

    // readback.cpp
    std::optional<WrittenValue> readback_due;
    ReadbackLedger readbacks;
    ReadbackLedger command_readbacks;
    WriteTally run_tally;
    void send_run_write(int address, int code, float value, int instrument);
    void expect_readback(int address, int code, float value);
    bool send_due_readback();
    bool run_replies_pending() const;
    void note_param_outcome(const ReplyOutcome& outcome);

    // set_runs.cpp
    SetRun set_run;
    // Starts a copy whose checks have passed.
    void begin_copy(const ParamSet& set, const std::vector<int>& targets, bool with_address_and_baud);
    void set_run_tick();

    // link.cpp
    void open_port();
    void reconnect_tick();
    void SComm1_485RequestHangup(TSComm* Sender);
    bool port_wanted = false;

    // control.cpp
    void send_command(int address, int code, float value);
    bool setup_write_pending = false;

    // command_journal.cpp
    struct SentCommand {
        qint64 id = 0; // its row of command_log; 0 when it could not be written
        int address = 0;
        int code = 0;
        RequestKind kind = RequestKind::Command;
        QString name; // "给定值", "STOP", "写通讯地址", ...
        std::optional<double> value;
    };
    void record_command(int address, int code, RequestKind kind, const QString& name,
        std::optional<double> value);
    void note_command_outcome(const ReplyOutcome& outcome, bool check_ok);
    void note_command_check(const ReadbackCheck& check);
    std::deque<SentCommand> commands_in_flight; // waiting for their reply window
    std::deque<SentCommand> commands_checking; // answered, waiting for the read-back

    // address_check.cpp
    struct AddressCheck {
        int address = 0;
        std::string source; // of the refusal message
        std::string not_sent; // "写地址未发送", ...
        std::function<void()> then; // what goes out when the address is free
    };
    // Throws when `address` is polled; otherwise probes it and runs `then`
    // when nobody answers (a refusal message when someone does).
    void check_address_free(int address, const char* source, const std::string& not_sent,
        std::function<void()> then);
    void note_address_check(const ReplyOutcome& outcome);
    std::optional<AddressCheck> address_check;

    // publishing.cpp
    void apply_mqtt_config(const MqttConfig& config);
    void publish_health();
    MqttConfig mqtt_config;
    QString mqtt_problem;

    BusHealth health;

private:
    // engine.cpp
    void build_timers();
    void read_settings_file();
    void set_period_value(int seconds);
    // A file of the data folder.
    QString data_file(const QString& name) const;
    void report_run();
    void report_roster(bool relabel = false);
    void report_serial();
    void report_link();
    void report_status();
    void flush_param_changes();
    void post_refusal(const std::string& source, const std::string& text);
    // Runs fn; whatever it throws becomes a message of `source`.
    void run_reported(const char* source, const std::function<void()>& fn);

    // poll.cpp
    void arm_reply_timer();
    void decide_replies();
    void handle_outcomes(const std::vector<ReplyOutcome>& outcomes);
    void handle_outcome(const ReplyOutcome& outcome);
    void end_command();
    bool deciding_replies = false;
    // The wall-clock time of a steady-clock instant (a block's first byte).
    static QDateTime wall_time(std::chrono::steady_clock::time_point at);

    // param_runs.cpp
    int run_last_code() const;
    void set_progress(int done, int total);
    void end_column_run(int channel, const QString& status);
    int run_column(int address);
    std::pair<int, int> column_and_segments(int address) const;
    void column_run_step(int channel);
    float column_value(int address, int code, int dec) const;
    void note_write_outcome(const ReplyOutcome& outcome);
    void finish_column_write();
    int read_all_sent = 0;
    int param_top_row_ = 1;
    QString run_status_text;
    QString run_command_text;
    int progress_done = 0;
    int progress_total = 1;

    // readback.cpp
    void expect_command_readback(int address, int code, float value);
    void send_readback(const WrittenValue& write);
    void mark_checked_cell(const ReadbackCheck& check);
    void show_verification(const WriteTally& tally);
    void report_verification(const ReadbackCheck& check);
    QString verify_text;
    QString verify_detail;
    bool verify_clean = true;

    // set_runs.cpp
    void note_set_run_outcome(const ReplyOutcome& outcome);
    void set_run_progress();
    void finish_set_run();
    int inspection_id = 0;

    // control.cpp
    float read_param_value(int address, int row) const;

    // command_journal.cpp
    void set_command_result(const SentCommand& command, const QString& result);

    // link.cpp
    void port_opened(const QString& state);
    QString link_state;
    std::string reconnect_reason;
    QString reopen_link;
    std::string reopen_device;

    // publishing.cpp
    void publish_written(const std::vector<MeasurementRow>& rows, const std::vector<AlarmEvent>& alarms);
    QString mqtt_status_text() const;

    // Settings the window's boxes used to hold.
    int address_limit_ = 8;
    int period_s_ = 2;
    int port_index_ = 0; // the port in use: its item, and the name it opens
    QString open_name_ = QStringLiteral("com1");
    QString port_device_;
    int saved_port_index_ = 0; // what save.txt and station.ini keep (not --port)
    QString saved_port_device_;
    int baud_index_ = 2;
    QString port_line_, baud_line_;
    std::optional<int> control_address_ = 0;
    bool port_from_command_line_ = false;

    std::unique_ptr<QTimer> reply_timer;
    std::unique_ptr<QTimer> reconnect_timer;
    std::unique_ptr<QTimer> status_timer;
    std::unique_ptr<QTimer> health_publish_timer;
    std::unique_ptr<QTimer> alarm_timer;
    std::unique_ptr<MqttPublisher> publisher;
    std::unique_ptr<Topics> topics;
    bool started_ = false;
    bool shut_down_ = false;
};
