#pragma once
// The station's main window: a view of the engine and its remote control.
// It shows what the engine reports (replies, the roster, the parameter
// table, the runs, the line, messages, counters) and asks the engine to act
// (scan, runs, commands, settings). It never decides, logs or publishes
// anything itself, and nothing it does (a dialog, a modal box, a slow
// repaint) can hold the engine up: the engine runs on its own thread and
// reports by queued signals.
//
// One class; its member functions live in one file per concern:
//   form1_layout.cpp  builds the window (regions, pages, menu)
//   startup.cpp       construction, the connection to the engine, FormCreate
//   panels.cpp        the main panel and the twelve instrument panels
//   charts.cpp        the trend and deviation charts, the history view
//   scan.cpp          the address page: boxes, limit, scan
//   param_view.cpp    the parameter page: the grid, the runs, edits
//   param_sets.cpp    export, import, comparison and copy of parameter sets
//   control.cpp       the control group and the settings page
//   status_bar.cpp    the status bar, the line, the bus-health view
//   storage.cpp       the browser pages on the window's own connection
//   navigation.cpp    menu handlers, about page, help window, MQTT dialog, closing
//   annunciation.cpp  the active-alarm page, the status bar's alarm count, the sound
#include "engine_reports.h"
#include "param_table.h"

#include <QDateTime>
#include <QMainWindow>
#include <QString>
#include <QStringList>

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <vector>

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
class AlarmLog;
class CommandList;
class CommandLog;
class TiEditCustom;
class AlarmPage;
class ActiveAlarmPage;
class Engine;
class EngineHost;
class HealthView;
class HistoryView;
class LogHistory;
class MeasurementHistory;
class MeasurementPage;
class MessageList;
class ParamPage;
class PortBox;
class StationDb;
class TStringGrid;
class Thelp;
class TiAnalogOutput;
class TiIntegerOutput;
class TiLedRectangle;
class TiLedRound;
class TiPlot;
class TiSevenSegmentAnalog;
struct MqttConfig;
struct ParamSet;
struct SetSource;

class TForm1 : public QMainWindow {
    Q_OBJECT
public:
    // The window of the engine `host` runs (started or not: the window shows
    // whatever it reports from now on). The window opens its own connection
    // to the engine's database for the browser pages, the charts' history
    // and the history view; throws EDatabaseError when it cannot.
    explicit TForm1(EngineHost& host, QWidget* parent = nullptr);
    ~TForm1() override;

    // The window's part of start-up: fixed texts, the grid's fixed part, the
    // panels' widget tables, the charts' configuration, the first page.
    void FormCreate(QObject* Sender = nullptr);

    EngineHost& host() const { return host_; }

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
    QLabel* verify_label = nullptr;
    QPushButton* export_button = nullptr;
    QPushButton* import_button = nullptr;
    QPushButton* compare_button = nullptr;
    QPushButton* copy_button = nullptr;

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
    QCheckBox* resume_check = nullptr;
    QCheckBox* confirm_check = nullptr; // ask before a command goes out
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
    std::array<QLabel*, 13> silent_label{};
    QLabel* main_stale_label = nullptr; // why and how old the main panel's values are
    std::array<QGroupBox*, 12> panel_box{};

    // Charts iPlot1 .. iPlot6 (three trend, three deviation).
    std::array<TiPlot*, 6> iPlot{};

    // Entry boxes.
    TiAnalogOutput* iAnalogOutput1 = nullptr;
    TiAnalogOutput* iAnalogOutput2 = nullptr;
    TiIntegerOutput* iIntegerOutput1 = nullptr;

    // About page.
    QLabel* about_picture = nullptr;
    QLabel* about_badge = nullptr;
    QMenu* help_menu = nullptr;

    // Status bar fields.
    QLabel* status_messages = nullptr;
    QLabel* status_storage = nullptr;
    QLabel* status_device = nullptr;
    QLabel* status_link = nullptr;
    QLabel* status_minute = nullptr;
    QLabel* status_mqtt = nullptr;
    QLabel* status_alarms = nullptr; // unacknowledged alarms, flashing

    // Secondary windows, made on first use.
    Thelp* help = nullptr;
    HealthView* health_view = nullptr;
    HistoryView* history_view = nullptr;
    MessageList* message_list = nullptr;
    CommandList* command_list = nullptr;

    // The browser pages (on the window's own connection).
    MeasurementPage* measurement_page = nullptr;
    ParamPage* param_page = nullptr;
    QWidget* TabSheet_alarm = nullptr;
    AlarmPage* alarm_page = nullptr;
    QWidget* TabSheet_active = nullptr;
    ActiveAlarmPage* active_alarm_page = nullptr;

    // --- What the engine reported last ------------------------------------------
    RosterShown roster;
    RunShown run;
    LinkShown link;
    SerialShown serial;
    StatusShown status;
    AlarmsShown alarms;

    // --- Showing the engine's reports (one slot per report) ------------------------
    // panels.cpp
    void show_reply(const ReplyShown& reply);
    void show_roster(const RosterShown& shown);
    void show_silence(const std::vector<int>& silent);
    void set_comm_led(bool lit);
    void set_displays_live(const std::vector<TiSevenSegmentAnalog*>& displays, bool live);
    // When each address last answered, and the address the main panel shows.
    std::map<int, QDateTime> last_reply_at;
    int main_panel_address = -1;
    int get_dis_pos(int address) const; // the slot of an address: its rank among the enabled
    // charts.cpp
    void plot_reply(const ReplyShown& reply);
    void plot_point(int slot, int address, double x, double pv, double sv);
    std::map<int, double> last_plot_x; // each address's last point on the charts
    std::map<int, double> last_plot_step; // and the step that led to it
    // scan.cpp
    void add_found_address(int address);
    // param_view.cpp
    void show_param_columns(const std::vector<int>& addresses);
    void show_param_cells(const std::vector<ParamTable::Change>& changes);
    void show_param_mark(const CellMark& mark);
    void show_run(const RunShown& shown);
    // control.cpp
    void show_serial(const SerialShown& shown);
    // status_bar.cpp
    void show_link(const LinkShown& shown);
    void show_status(const StatusShown& shown);
    void show_message(const EngineMessage& message);
    void show_frame_sent(const QByteArray& frame, int address);
    void show_frame_received(const QByteArray& block);

    // --- Handlers: the operator's actions ---------------------------------------------
    // scan.cpp
    void checkbox_change(QCheckBox* box);
    void Button_scanClick(QObject* Sender);
    void ComboBox10Commit();
    int last_address_limit = 8; // the last limit the box committed
    // param_view.cpp
    void Button3Click(QObject* Sender);
    void Button1Click(QObject* Sender);
    void Button4Click(QObject* Sender);
    void Button14Click(QObject* Sender);
    void Button12Click(QObject* Sender);
    void StringGrid1SetEditText(int ACol, int ARow, const QString& Value);
    void update_run_buttons();
    // param_sets.cpp
    void ExportSetClick(QObject* Sender);
    void ImportSetClick(QObject* Sender);
    void CompareSetsClick(QObject* Sender);
    void CopySetClick(QObject* Sender);
    ParamSet grid_column_set(int address) const;
    ParamSet stored_set(int address) const;
    ParamSet set_of(const SetSource& source) const;
    std::string export_param_set(bool from_grid, int address, const QString& path) const;
    std::string import_param_set(const QString& path, int address);
    // control.cpp
    void Button5Click(QObject* Sender);
    void Button6Click(QObject* Sender);
    void Button7Click(QObject* Sender);
    void Button8Click(QObject* Sender);
    void Button9Click(QObject* Sender);
    void Button15Click(QObject* Sender);
    void Button16Click(QObject* Sender);
    void ComboBox1Change(QObject* Sender);
    void ComboBox2Change(QObject* Sender);
    void ComboBox7Change();
    void iIntegerOutput1Change(QObject* Sender);
    // The control address the box holds; throws EConvertError naming the
    // box when it holds no address 0..90.
    int take_control_address() const;
    // navigation.cpp
    void show_mqtt_dialog();
    void show_health_view();
    void show_history_view();
    void show_message_list();
    // annunciation.cpp
    // The desktop user acting on alarms (the login name).
    static QString desktop_user();
    void show_alarms(const AlarmsShown& shown);
    // One flash of the status bar's alarm count; one repeat of the sound
    // while it sounds (timers; tests call them).
    void alarm_flash_tick();
    void alarm_beep_tick();
    // What sounds: the desktop's beep; tests count.
    std::function<void()> beep;
    int beeps = 0; // signals given since the start
    bool alarm_flash_on = true;
    QTimer* alarm_flash_timer = nullptr;
    QTimer* alarm_beep_timer = nullptr;
    void show_command_list();
    // Asks before quitting would abort a run or drop unsent MQTT messages
    // (naming them and their count); true when nothing is lost or the
    // operator agrees.
    bool confirm_quit();

    // The engine's database file (the window's connection reads the same file).
    QString database_path() const;
    StationDb& database() const { return *db; }

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
    void build_status_bar();
    void build_param_set_buttons(int x, int y);
    void add_param_set_actions(QMenu* menu);
    void connect_handlers();
    // Connects a button's click to a handler run through the error box guard.
    void connect_click(QPushButton* button, void (TForm1::*handler)(QObject*));
    void connect_control_handlers();
    void connect_run_handlers();

    // startup.cpp
    void connect_engine();
    // Hands an operator's request to the engine; a refusal comes back as a
    // message (and a box: it answers the operator's own action).
    void ask(std::function<void(Engine&)> fn, const char* source);

    // panels.cpp
    void init_isevensegmentanlaog();
    void dis_alarm(int panel, std::uint8_t alarm);

    // charts.cpp
    void iplot_init();
    void connect_chart_history();
    static constexpr int kChartPreloadHours = 8;
    void preload_charts();
    bool charts_preloaded = false;
    std::unique_ptr<MeasurementHistory> chart_log;
    std::array<std::array<std::shared_ptr<LogHistory>, 8>, 6> chart_history{};

    // param_view.cpp
    void strgrid_init();
    void TabSheet2Show();
    // The grid column of an address; 0 when none.
    int column_of(int address) const;

    // control.cpp
    void update_port_label();
    bool port_text_just_changed = false;
    bool showing_serial = false; // the boxes are being set from a report
    // Asks the operator before `command` goes to the instrument at `address`
    // (unless the settings turned asking off); false when the answer is no.
    bool confirm_command(int address, const QString& command, const QString& value) const;
    // Says at the box why the operator's text was refused.
    void entry_refused(TiEditCustom* box, const QString& caption, const QString& refused);
    // The set value and manual output each instrument last reported, loaded
    // into the entry boxes when it becomes the control address.
    struct ControlValues {
        double sv = 0;
        double mp = 0;
    };
    std::map<int, ControlValues> control_values;
    void load_control_values(int address);

    // status_bar.cpp
    void update_status_bar();
    int unread_messages = 0;
    std::set<quint64> seen_messages;

    // storage.cpp
    void build_browser_pages();
    // annunciation.cpp
    void build_active_alarms();
    void update_alarm_field();

    // navigation.cpp
    void FormClose();

    // param_sets.cpp
    std::map<int, std::function<void(bool, const std::map<int, ParamSet>&)>> inspections;
    int next_inspection = 1;

    EngineHost& host_;
    std::unique_ptr<StationDb> db;
    std::unique_ptr<AlarmLog> alarm_log;
    std::unique_ptr<CommandLog> command_log;
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
