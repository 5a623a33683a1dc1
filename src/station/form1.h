#pragma once
// The station's main window. One class; its member functions live in one file
// per concern:
//   form1_layout.cpp  builds the window (regions, pages, menu)
//   startup.cpp       FormCreate, scomm_init, settings read/save
//   navigation.cpp    menu handlers, about page, help window, FormClose
// (further concerns add their own file).
#include "bus_health.h"
#include "alarm_watch.h"
#include "param_verify.h"
#include "reply_matcher.h"
#include "set_run.h"
#include "station_settings.h"

#include <QMainWindow>
#include <QString>
#include <QStringList>
#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QAction;
class QCheckBox;
class QComboBox;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QTabWidget;
class QTimer;
class TTimer;
class TSComm;
class QWidget;
class PortBox;
class Thelp;
class StationDb;
class AlarmLog;
class AlarmPage;
class MeasurementPage;
class ParamPage;
class TStringGrid;
class TiSevenSegmentAnalog;
class TiLedRectangle;
class TiLedRound;
class TiAnalogOutput;
class TiIntegerOutput;
class TiTimers;
class TiPlot;
class RowQueue;
class StationSettings;
class HealthView;
class HistoryView;
class LogHistory;
class MeasurementHistory;
class QDateTime;
class MqttPublisher;
class Topics;
struct AlarmEvent;
struct MeasurementRow;
struct SetSource;

class TForm1 : public QMainWindow {
    Q_OBJECT
public:
    // `start_port` (a port name or a device path, empty for none) is opened
    // at start instead of the port save.txt names. `mqtt_url`
    // ("mqtt://[user:password@]host:port/prefix", empty for none) publishes
    // to that broker for this run, whatever station.ini says.
    explicit TForm1(QWidget* parent = nullptr, const QString& start_port = QString(),
                    const QString& mqtt_url = QString());
    ~TForm1() override;

    // Start-up sequence; runs once from the constructor. An exception in a step
    // is shown in the error box and skips the remaining steps.
    void FormCreate(QObject* Sender = nullptr);

    // Menu handlers.
    void N2Click(QObject* Sender);
    void N5Click(QObject* Sender);
    void N9Click(QObject* Sender);
    void N141Click(QObject* Sender);
    void N581Click(QObject* Sender);
    void N9121Click(QObject* Sender);
    void about1Click(QObject* Sender);
    void N11Click(QObject* Sender);
    void N10Click(QObject* Sender);
    void N3Click(QObject* Sender);

    // Window regions.
    QWidget* Panel1 = nullptr;
    QGroupBox* GroupBox3 = nullptr;  // main panel
    QFrame* Panel3 = nullptr;        // status strip
    QGroupBox* GroupBox4 = nullptr;  // control group
    QFrame* Panel2 = nullptr;        // banner
    QLabel* banner_label = nullptr;
    QTabWidget* PageControl1 = nullptr;
    QTabWidget* PageControl2 = nullptr;

    // Pages of the upper page control, in tab order.
    QWidget* TabSheet10 = nullptr;  // 在线AI
    QWidget* TabSheet2 = nullptr;   // 读写参数
    QWidget* TabSheet3 = nullptr;   // 系统设置
    QWidget* TabSheet4 = nullptr;   // 数据显示1
    QWidget* TabSheet6 = nullptr;   // 数据显示2
    QWidget* TabSheet5 = nullptr;   // 数据显示3
    QWidget* TabSheet12 = nullptr;  // about
    // Pages of the lower page control, in tab order.
    QWidget* TabSheet7 = nullptr;   // 波形0-3
    QWidget* TabSheet8 = nullptr;   // 波形4-7
    QWidget* TabSheet9 = nullptr;   // 波形8-11
    QWidget* TabSheet13 = nullptr;  // 数据浏览
    QWidget* TabSheet14 = nullptr;  // 仪表参数
    QWidget* TabSheet1 = nullptr;   // 偏差0-3
    QWidget* TabSheet11 = nullptr;  // 偏差4-7
    QWidget* TabSheet15 = nullptr;  // 偏差8-11

    // Address table page.
    std::array<QGroupBox*, 9> address_groups{};  // GroupBox35 .. GroupBox43
    std::array<QCheckBox*, 90> addr_check{};     // CheckBox1 .. CheckBox90, index = address
    QComboBox* ComboBox10 = nullptr;
    QPushButton* Button_scan = nullptr;

    // Parameter page.
    TStringGrid* StringGrid1 = nullptr;
    QLabel* Label15 = nullptr;
    QLabel* Label67 = nullptr;
    QLabel* Label72 = nullptr;
    QPushButton* Button3 = nullptr;
    QPushButton* Button1 = nullptr;
    QPushButton* Button4 = nullptr;
    QPushButton* Button14 = nullptr;
    QPushButton* Button12 = nullptr;
    QProgressBar* run_progress = nullptr;

    // Settings page.
    QGroupBox* GroupBox8 = nullptr;
    QGroupBox* GroupBox5 = nullptr;
    QGroupBox* GroupBox12 = nullptr;
    QComboBox* ComboBox1 = nullptr;
    PortBox* port_box = nullptr;  // ComboBox1 as the port selector
    QComboBox* ComboBox2 = nullptr;
    QLabel* port_device_label = nullptr;
    QLabel* data_folder_label = nullptr;  // the folder holding the database and settings
    QPushButton* Button15 = nullptr;
    QComboBox* ComboBox8 = nullptr;
    QComboBox* ComboBox4 = nullptr;
    QPushButton* Button16 = nullptr;
    QComboBox* ComboBox5 = nullptr;
    // The command monitor keeps the newest kMemoLines lines of each log.
    static constexpr int kMemoLines = 10000;
    QPlainTextEdit* Memo1 = nullptr;
    QPlainTextEdit* Memo2 = nullptr;
    QLineEdit* Edit1 = nullptr;
    QLineEdit* Edit2 = nullptr;

    // Control group.
    QPushButton* Button5 = nullptr;
    QPushButton* Button6 = nullptr;
    QPushButton* Button7 = nullptr;
    QPushButton* Button8 = nullptr;
    QPushButton* Button9 = nullptr;
    QComboBox* ComboBox7 = nullptr;
    QComboBox* ComboBox6 = nullptr;  // on the page 偏差4-7

    // Main panel.
    TiSevenSegmentAnalog* iSevenSegmentAnalog_sv = nullptr;
    TiSevenSegmentAnalog* iSevenSegmentAnalog_pv = nullptr;
    TiSevenSegmentAnalog* iSevenSegmentAnalog_mv = nullptr;
    TiSevenSegmentAnalog* iSevenSegmentAnalog_val = nullptr;
    std::array<TiLedRectangle*, 6> main_alarm_led{};  // iLedRectangle1 .. iLedRectangle6
    TiLedRound* iLedRound1 = nullptr;                 // communication LED
    QLabel* Label28 = nullptr;
    QLabel* Label16 = nullptr;

    // Widget tables of the twelve instrument panels, filled once by
    // init_isevensegmentanlaog. Slot-indexed tables count from 1 (entry 0 is
    // unused), alarm_led from 1 to 72, panel_box from 0.
    std::array<TiSevenSegmentAnalog*, 13> sv_disp{};
    std::array<TiSevenSegmentAnalog*, 13> pv_disp{};
    std::array<TiSevenSegmentAnalog*, 13> mv_disp{};
    std::array<TiSevenSegmentAnalog*, 13> val_disp{};
    std::array<TiLedRound*, 13> run_led{};
    std::array<TiLedRectangle*, 73> alarm_led{};
    std::array<QLabel*, 13> panel_label{};
    std::array<QLabel*, 13> segment_label{};
    std::array<QGroupBox*, 12> panel_box{};

    // Charts iPlot1 .. iPlot6 (three trend, three deviation).
    std::array<TiPlot*, 6> iPlot{};

    // Entry boxes and the multi-timer.
    TiAnalogOutput* iAnalogOutput1 = nullptr;
    TiAnalogOutput* iAnalogOutput2 = nullptr;
    TiIntegerOutput* iIntegerOutput1 = nullptr;
    TiTimers* iTimers1 = nullptr;

    // panels.cpp
    void init_isevensegmentanlaog();
    int get_dis_pos(int address) const;
    void dis_alarm(int panel);
    void set_comm_led(bool lit);

    // charts.cpp
    void iplot_init();
    // Plots one reply of the instrument in `slot` (1..12) at `address`, at
    // the time its row is logged with.
    void plot_reply(int slot, int address, const QDateTime& when);
    // Adds one point (chart x, pv, sv) to the slot's trend and deviation
    // channels and points their log sources at `address`.
    void plot_point(int slot, int address, double x, double pv, double sv);
    // Gives every chart channel its memory limit (station settings) and the
    // log as the source of its older points.
    void connect_chart_history();
    // Fills the charts of the addresses polled now with the log's last hours.
    static constexpr int kChartPreloadHours = 8;
    void preload_charts();
    // The history view ("历史曲线"), made on first use.
    HistoryView* history_view = nullptr;
    void show_history_view();

    // scan.cpp
    void checkbox_change(QCheckBox* box);
    void Button_scanClick(QObject* Sender);
    void mark_found_address(int address);
    // Ends taking up the addresses found: grid columns, stored sets, run
    // buttons, and remembers them for the next start (scan end, resume).
    void adopt_addresses();
    // Remembers the enabled addresses and their decimal places.
    void remember_addresses();
    // At start: the remembered addresses are polled without a scan.
    void resume_addresses();
    void iTimers1Timer3(QObject* Sender);
    int scan_limit = 0; // the limit read when the scan started

    // storage.cpp
    void store_parameter(int address, int code, float value);
    // Rows wait here while the database is unavailable.
    std::unique_ptr<RowQueue> row_queue;
    void connect_row_queue();
    // The station's own settings beside the database (station.ini).
    std::unique_ptr<StationSettings> station_settings;
    QCheckBox* resume_check = nullptr;
    void append_measurement(int address, const QDateTime& when);
    // Logs the alarms that came or went with this poll reply's status byte.
    void log_alarms(int address);
    AlarmWatch alarm_watch;
    void get_AI_database(int address);
    void ai_para_first();
    void file_save();

    // param_runs.cpp: the read and write runs; keeps runs, the scan and the
    // commands apart.
    void Button3Click(QObject* Sender);
    void Button1Click(QObject* Sender);
    void Button4Click(QObject* Sender);
    void Button14Click(QObject* Sender);
    void Button12Click(QObject* Sender);
    void iTimers1Timer1(QObject* Sender);
    void iTimers1Timer2(QObject* Sender);
    void iTimers1Timer4(QObject* Sender);
    void iTimers1Timer5(QObject* Sender);
    bool read_all_running() const;
    bool run_busy() const;
    void update_run_buttons();
    bool first_scan_done = false;
    // The column write in progress: its instrument, where its requests go
    // (the new address once code 34 is written), and what was answered.
    struct ColumnWrite {
        bool active = false;
        int address = -1;
        int target = -1;
        size_t next = 0;
        int sent = 0;
        int requests = 0; // writes and read-backs sent
        int answered = 0;
        int silent_in_row = 0;
        int baud = 0;
        std::vector<int> unanswered_codes;
    } column_write;
    // Verified writes and parameter sets. readback.cpp: every parameter write is
    // read back on the next tick of its run (a command's at once) and the
    // cell marked with the verdict. set_run.cpp: channel 6, copying a set to
    // several instruments and reading instruments for a comparison.
    // param_sets.cpp: sets from the grid, ai_para and files; the page's
    // buttons and menu items for export, import, comparison and copy.
    QLabel* verify_label = nullptr;
    QPushButton* export_button = nullptr;
    QPushButton* import_button = nullptr;
    QPushButton* compare_button = nullptr;
    QPushButton* copy_button = nullptr;
    std::optional<WrittenValue> readback_due;
    ReadbackLedger readbacks;
    WriteTally run_tally;
    SetRun set_run;
    // Sends a run's write of `value` (clamped) to `address` and counts it for
    // `instrument`, whose read-back then falls due.
    void send_run_write(int address, int code, float value, int instrument);
    void expect_readback(int address, int code, float value);
    bool send_due_readback();
    bool run_replies_pending() const;
    void note_param_outcome(const ReplyOutcome& outcome);
    void show_verification(const WriteTally& tally);
    void set_run_tick(QObject* Sender); // channels 6 (copy) and 7 (inspection)
    void start_copy(const ParamSet& set, const std::vector<int>& targets, bool with_address_and_baud);
    void start_inspection(const std::vector<int>& addresses,
                          std::function<void(bool complete, const std::map<int, ParamSet>& sets)> done);
    ParamSet set_of(const SetSource& source) const;
    ParamSet grid_column_set(int address) const;
    ParamSet stored_set(int address) const;
    std::string export_param_set(bool from_grid, int address, const QString& path) const;
    std::string import_param_set(const QString& path, int address);
    void ExportSetClick(QObject* Sender);
    void ImportSetClick(QObject* Sender);
    void CompareSetsClick(QObject* Sender);
    void CopySetClick(QObject* Sender);
    bool button8_allowed = true;  // as the last "HAND" left it
    bool button9_allowed = true;  // as the last "RUN/HOLD" left it

    // control.cpp: commands and instrument settings.
    void Button5Click(QObject* Sender);
    void Button6Click(QObject* Sender);
    void Button7Click(QObject* Sender);
    void Button8Click(QObject* Sender);
    void Button9Click(QObject* Sender);
    void ComboBox1Change(QObject* Sender);
    void ComboBox2Change(QObject* Sender);
    void Button15Click(QObject* Sender);
    void Button16Click(QObject* Sender);
    void update_port_label();
    // The line hung up (a USB adapter pulled out): the port is closed, the
    // event logged and shown in the status bar, and the station watches for
    // the device to come back (link.cpp).
    void SComm1_485RequestHangup(TSComm* Sender);

    // link.cpp: the port the operator wants open, opened and reopened.
    // Opens the port with CommName and BaudRate; throws ECommsError.
    void open_port();
    // Tries again while the wanted port is closed (a hang-up, a device that
    // was not there at start); stops once it is open.
    void reconnect_tick();
    void port_opened(const QString& state);
    bool port_wanted = false;
    QTimer* reconnect_timer = nullptr;
    std::string reconnect_reason; // the last reason the port did not open
    QString reopen_link; // the "comN" link the open went through, if any
    std::string reopen_device; // the device it opened
    // Re-choosing the port box's current item reopens the port: the box
    // reports a choice of the same item only through `activated`.
    bool port_text_just_changed = false;

    // status_bar.cpp: device, link state and baud rate, the last minute's
    // replies, time-outs and bad checks, and the database's state.
    void build_status_bar();
    void update_status_bar();
    QLabel* status_device = nullptr;
    QLabel* status_link = nullptr;
    QLabel* status_minute = nullptr;
    QLabel* status_storage = nullptr;
    QTimer* status_timer = nullptr;
    QString link_state;

    // publishing.cpp: each logged row, each alarm transition and, every
    // minute, the bus counters go to an MQTT broker when one is configured
    // (station.ini, the dialog, or --mqtt for one run). Only sends.
    std::unique_ptr<MqttPublisher> publisher;
    std::unique_ptr<Topics> topics;
    MqttConfig mqtt_config; // in force: the file's, or the command line's
    QString mqtt_problem; // why the configured publishing cannot run
    QTimer* health_publish_timer = nullptr;
    QLabel* status_mqtt = nullptr;
    // Starts publishing with `config` (stops what ran before); off when
    // it is disabled or unusable (the reason logged and shown).
    void apply_mqtt_config(const MqttConfig& config);
    void publish_measurement(const MeasurementRow& row);
    void publish_alarms(const std::vector<AlarmEvent>& events);
    void publish_health();
    // The MQTT settings dialog; OK stores and applies them.
    void show_mqtt_dialog();
    QString mqtt_status_text() const;

    // Bus health per address and the view that shows it (health_view.cpp).
    BusHealth health;
    HealthView* health_view = nullptr;
    void show_health_view();
    // Marks each panel whose instrument has been silent for three sweeps.
    void update_silence_marks();
    std::array<QLabel*, 13> silent_label{};
    // Raised by an address or baud-rate write; the next poll tick clears it
    // together with write_pending, so monitoring resumes whether or not the
    // instrument answered.
    bool setup_write_pending = false;

    // control.cpp
    void iIntegerOutput1Change(QObject* Sender);

    // poll.cpp
    int address_limit() const;
    int poll_period() const;

    // About page.
    QLabel* about_picture = nullptr;
    QLabel* about_badge = nullptr;

    // Menu.
    QMenu* help_menu = nullptr;

    // Poll timer and the serial port.
    TTimer* Timer1 = nullptr;
    TSComm* SComm1_485 = nullptr;

    // poll.cpp
    void Timer1Timer(QObject* Sender);
    // Logs and sends one request frame, opens its reply window and pauses.
    bool scomm485_write_command(const std::string& frame, RequestKind kind);
    // Which request each received block answers; decided a little after the
    // request's window closes (see ReplyMatcher).
    ReplyMatcher replies;
    QTimer* reply_timer = nullptr;
    // Decides every open reply window at once and handles the outcomes, as if
    // the windows had closed (tests; the line's timing is not waited for).
    void settle_replies();
    // Last address served by the current poll sweep; -1 between sweeps.
    int poll_pos = -1;
    void SComm1_485ReceiveData(TSComm* Sender, const char* Buffer, unsigned short BufferLength);
    // How long the main thread pauses after queueing a request, keeping the
    // half-duplex bus free for the reply. Tests shorten it; the station keeps 200.
    int send_pause_ms = 200;
    // Observer of every frame handed to the serial component (tests record sends).
    std::function<void(const std::string& frame)> on_frame_sent;

    // dispatch.cpp: one reply to `request`, its 10 bytes at `reply`.
    void command_dispose(const LineRequest& request, const std::uint8_t* reply);

    // startup.cpp
    void scomm_init();

    // The database, opened while the window is created (the station does not
    // start without it), and its browser pages.
    std::unique_ptr<StationDb> db;
    // The log as the charts read it (after db: it goes first).
    std::unique_ptr<MeasurementHistory> chart_log;
    std::array<std::array<std::shared_ptr<LogHistory>, 8>, 6> chart_history{};
    std::unique_ptr<AlarmLog> alarm_log;
    MeasurementPage* measurement_page = nullptr;
    ParamPage* param_page = nullptr;
    // The alarm history page, after "about" on the upper page control.
    QWidget* TabSheet_alarm = nullptr;
    AlarmPage* alarm_page = nullptr;

    // The help window, created when first shown.
    Thelp* help = nullptr;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    // form1_layout.cpp
    void build_layout();
    void build_regions();
    void build_pages();
    void build_address_page();
    void build_parameter_page();
    void build_settings_page();
    void build_control_group();
    void build_status_strip();
    void build_about_page();
    void build_menu();
    void build_main_panel();
    void build_instrument_panels();
    void build_charts();
    void build_timers();
    void connect_handlers();
    // Connects a button's click to a handler run through the error box guard.
    void connect_click(QPushButton* button, void (TForm1::*handler)(QObject*));
    void connect_run_handlers();
    void connect_control_handlers();

    // startup.cpp
    QString start_port_;
    // The port --port chose applies to this start only: until the operator
    // picks a port, saving keeps the port index save.txt had (read by
    // read_settings_file) and leaves the device of station.ini alone.
    bool port_from_command_line_ = false;
    int kept_port_index_ = 0;
    // Set when start-up has read the settings and finished; a station that
    // did not start writes no settings file (it never read them).
    bool settings_loaded_ = false;
    void form_create_steps();
    QStringList read_settings_file();
    void set_index_silently(QComboBox* box, int index);

    // storage.cpp
    void build_browser_pages();

    // poll.cpp
    void arm_reply_timer();
    void decide_replies();
    void handle_outcomes(const std::vector<ReplyOutcome>& outcomes);
    void handle_outcome(const ReplyOutcome& outcome);
    void end_command();
    bool deciding_replies = false;

    // param_runs.cpp
    int run_last_code() const;
    // The last code a run sends for an instrument with `segments` program segments.
    static int last_code_for(int segments);
    void set_progress(int done, int total);
    void end_column_run(int channel, const QString& status);
    int run_column(int address);
    std::pair<int, int> column_and_segments(int address) const;
    int column_run_step(int channel);
    float column_value(int col, int code, int dec) const;
    void note_write_outcome(const ReplyOutcome& outcome);
    void finish_column_write();
    int read_all_sent = 0;

    // readback.cpp, set_run.cpp, param_sets.cpp
    void expect_command_readback(int address, int code, float value);
    void send_readback(const WrittenValue& write);
    ReadbackLedger command_readbacks; // commands whose read-back goes out once they are decided
    void mark_checked_cell(const ReadbackCheck& check);
    void note_set_run_outcome(const ReplyOutcome& outcome);
    void set_run_progress();
    void finish_set_run();
    void build_param_set_buttons(int x, int y);
    void add_param_set_actions(QMenu* menu);

    // control.cpp
    int take_control_address() const;
    float read_grid_value(int address, int row) const;
    void send_command(int address, int code, float value);

    // parameters.cpp
    void strgrid_init();
    void TabSheet2Show();

public:
    // param_runs.cpp
    void StringGrid1SetEditText(int ACol, int ARow, const QString& Value);

private:

    // navigation.cpp
    void FormClose();
};

// The selected item of an editable box: the item whose text the box shows
// (typing an item's text exactly selects it), or -1 when the text matches none.
int combo_selected_index(QComboBox* box);

// True when bit `bit` (0 = least significant) of value is 1; false for bits
// outside 0..7.
bool gethexbit(std::uint8_t value, int bit);

// A caption as the form draws it: a TiLabel in Kai, 20 pixels, bold, at (x, y)
// and as large as its text.
class TiLabel;
TiLabel* make_kai_label(QWidget* parent, const QString& name, const QString& text, int x, int y);

// Decodes a JPEG held in memory with libjpeg-turbo; a null image when the data
// does not decode.
class QImage;
QImage decode_jpeg(const QByteArray& data);

