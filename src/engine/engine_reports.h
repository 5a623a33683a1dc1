#pragma once
// What the engine tells whoever watches it (the window, a test): plain
// values, copied into each report, so that a report can cross from the
// engine's thread to the window's without sharing anything.
#include "alarm_board.h"
#include "bus_health.h"
#include "reply_matcher.h"

#include <QDateTime>
#include <QMetaType>
#include <QString>

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <vector>

// One valid reply as the station shows it. Every valid reply reaches the main
// panel; a poll reply also reaches its instrument's panel, the charts and the
// log.
struct ReplyShown {
    int address = 0;
    int code = 0;
    RequestKind kind = RequestKind::Poll;
    QDateTime arrived; // when the reply's first byte arrived
    double sv = 0;
    double pv = 0;
    double mv = 0; // output in percent
    float val = 0; // the requested parameter's value
    std::uint8_t alarm = 0; // the status byte
    int sv_precision = 0; // decimals the SV and PV displays show
    int pv_precision = 0;
    int slot = 0; // 1-based rank of the address among the enabled ones; 0 when not enabled
    // Program segment text for the main panel and the slot's panel (a code-0
    // reply that is no command's); empty when the reply carries none.
    QString segment;
    bool has_segment = false;
    // Run state for the slot's run lamp (a code-10 reply of the control
    // address outside a run): 0 stopped, 1 unlit, 2 running; -1 no change.
    int run_state = -1;
};

// The addresses polled and how the panels are laid out.
struct RosterShown {
    std::vector<int> addresses; // enabled, ascending
    int inst_count = 0; // panels in use (the form's count)
    bool scanning = false;
    // True when the panels were laid out again by a box change: their number
    // labels then read "0#仪表", "1#仪表", … until their first replies.
    bool relabel = false;
};

// The serial choice, the sampling period and the resume switch, as the
// settings page shows them.
struct SerialShown {
    int port_index = -1; // item of the port box; -1 when none
    QString port_name; // what is opened: "com1" or a device path
    QString port_device; // a device path remembered for items past the fixed names
    int baud_index = -1; // 0 4800, 1 9600, 2 19200; -1 none
    unsigned baud = 0;
    int period = 2; // seconds
    bool resume = true;
    bool confirm_commands = true; // ask before a command goes out
    QString port_line; // save.txt's first line as read (shown in Edit1)
    QString baud_line; // its second line (Edit2)
};

// The line's state for the status bar and the settings page.
struct LinkShown {
    QString comm_name;
    QString device; // the device it opened or stands for
    bool open = false;
    QString state; // "已打开", "已断开，等待设备", …
    unsigned baud = 0;
    QString port_label; // "com1 → /dev/pts/3（已打开）"
};

// What the parameter page shows about the run in progress.
struct RunShown {
    bool busy = false; // a scan, a run, a copy or an inspection
    bool scanning = false;
    bool first_scan_done = false;
    bool button8_allowed = true;
    bool button9_allowed = true;
    QString status; // Label15
    QString command; // Label67
    int done = 0; // progress
    int total = 1;
    QString verify_text; // the last write's read-backs at a glance
    QString verify_detail;
    bool verify_clean = true;
};

// A cell mark of the parameter grid after a read-back.
struct CellMark {
    int address = 0;
    int row = 0;
    enum class Kind { None, Mismatch, Unverified } kind = Kind::None;
    QString hint;
};

// One message of the engine: the line, storage, a run's result, a read-back
// mismatch, a refusal. Each also goes to the event log.
struct EngineMessage {
    enum class Level { Info, Warning, Error };
    QDateTime time;
    QString source; // "串口", "数据库", "参数", …
    QString text;
    Level level = Level::Info;
    // True when it answers a request of the operator's that was refused; the
    // window may then show it in a box as well.
    bool refusal = false;
    quint64 id = 0; // numbered from 1 in the order the engine said them
};

// Once a second: the bus counters, the database queue and the publisher.
struct StatusShown {
    std::shared_ptr<const BusHealth> health;
    bool storage_outage = false;
    qint64 rows_waiting = 0;
    quint64 rows_dropped = 0;
    QString mqtt; // empty when not publishing
    bool mqtt_ok = false;
    std::vector<int> silent; // addresses silent for three polls
};

// The active-alarm list and its annunciation, after every change.
struct AlarmsShown {
    std::vector<AlarmLine> lines; // in the board's order (shelved ones last)
    int unacked = 0;
    bool sounding = false;
    bool silenced = false; // 消音 holds until a new alarm
    std::set<int> quiet; // addresses whose alarms never sound
    // Raised by the change this report follows: the sound starts again.
    bool new_alarm = false;
};

Q_DECLARE_METATYPE(ReplyShown)
Q_DECLARE_METATYPE(RosterShown)
Q_DECLARE_METATYPE(SerialShown)
Q_DECLARE_METATYPE(LinkShown)
Q_DECLARE_METATYPE(RunShown)
Q_DECLARE_METATYPE(CellMark)
Q_DECLARE_METATYPE(EngineMessage)
Q_DECLARE_METATYPE(StatusShown)
Q_DECLARE_METATYPE(AlarmsShown)

// Registers the report types for queued connections (once, any thread).
void register_engine_reports();
