// The window's construction: its widgets, its own connection to the
// database, and the engine's reports connected to the widgets that show them.
#include "error_box.h"
#include "form1.h"

#include "alarm_log.h"
#include "alarm_page.h"
#include "browser_pages.h"
#include "chart_history.h"
#include "command_list.h"
#include "command_log.h"
#include "history_view.h"
#include "measurement_history.h"

#include "engine.h"
#include "engine_host.h"
#include "iComponent.h"
#include "iLedRound.h"
#include "iPlot.h"
#include "iPlotChannel.h"
#include "message_list.h"
#include "station_db.h"
#include "string_grid.h"

#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QTabWidget>

TForm1::TForm1(EngineHost& host, QWidget* parent)
    : QMainWindow(parent)
    , host_(host)
{
    // Exceptions raised inside the widgets' own event handling go to the error box.
    set_widget_error_handler([](const QString& message) { ErrorBox::instance().show(message); });
    // The window's own connection: the browser pages and the charts read the
    // log here, on the window's thread, while the engine writes on its own.
    db = std::make_unique<StationDb>(database_path());
    alarm_log = std::make_unique<AlarmLog>(*db);
    command_log = std::make_unique<CommandLog>(*db);
    build_layout();
    data_folder_label->setText(QDir::toNativeSeparators(QFileInfo(db->file_path()).absolutePath()));
    build_browser_pages();
    build_active_alarms();
    connect_chart_history();
    FormCreate();
    connect_engine();
}

TForm1::~TForm1()
{
    // The browser pages refer to the database: they go before it.
    delete measurement_page;
    delete param_page;
    delete alarm_page;
    delete history_view;
    delete command_list;
    // The charts read the log through the window's connection: they let go
    // of it before the connection closes.
    for (TiPlot* plot : iPlot)
        for (int ch = 0; ch < plot->ChannelCount(); ++ch)
            plot->Channel(ch)->set_history(nullptr);
    chart_history = {};
    chart_log.reset();
    alarm_log.reset();
    command_log.reset();
    db.reset();
}

QString TForm1::database_path() const
{
    const Engine::Options& o = host_.engine()->options;
    return o.data_dir.isEmpty() ? QDir::currentPath() : o.data_dir;
}

void TForm1::FormCreate(QObject*)
{
    run_guarded([this] {
        Button3->setEnabled(false);
        Button12->setEnabled(false);
        Button14->setEnabled(false);
        iLedRound1->SetActive(false);
        strgrid_init();
        resize(1030, 800);
        if (const QScreen* s = screen())
            move(s->availableGeometry().center() - rect().center());
        init_isevensegmentanlaog();
        iplot_init();
        PageControl1->setCurrentWidget(TabSheet10);
    });
}

void TForm1::ask(std::function<void(Engine&)> fn, const char* source)
{
    host_.post(std::move(fn), source);
}

void TForm1::connect_engine()
{
    Engine* e = host_.engine();
    // Queued across threads, direct when a test runs the engine on this one.
    connect(e, &Engine::reply_shown, this, [this](const ReplyShown& r) { run_guarded([&] { show_reply(r); }); });
    connect(e, &Engine::roster_changed, this, [this](const RosterShown& r) { run_guarded([&] { show_roster(r); }); });
    connect(e, &Engine::address_found, this, [this](int a) { run_guarded([&] { add_found_address(a); }); });
    connect(e, &Engine::serial_changed, this, [this](const SerialShown& s) { run_guarded([&] { show_serial(s); }); });
    connect(e, &Engine::link_changed, this, [this](const LinkShown& l) { run_guarded([&] { show_link(l); }); });
    connect(e, &Engine::run_changed, this, [this](const RunShown& r) { run_guarded([&] { show_run(r); }); });
    connect(e, &Engine::param_columns, this,
        [this](const std::vector<int>& a) { run_guarded([&] { show_param_columns(a); }); });
    connect(e, &Engine::param_cells, this,
        [this](const std::vector<ParamTable::Change>& c) { run_guarded([&] { show_param_cells(c); }); });
    connect(e, &Engine::param_mark, this, [this](const CellMark& m) { run_guarded([&] { show_param_mark(m); }); });
    connect(e, &Engine::param_top_row, this, [this](int row) { StringGrid1->setTopRow(row); });
    connect(e, &Engine::message, this, [this](const EngineMessage& m) { run_guarded([&] { show_message(m); }); });
    connect(e, &Engine::status, this, [this](const StatusShown& s) { run_guarded([&] { show_status(s); }); });
    connect(e, &Engine::alarms_changed, this, [this](const AlarmsShown& a) { run_guarded([&] { show_alarms(a); }); });
    connect(e, &Engine::comm_led, this, [this](bool lit) { set_comm_led(lit); });
    connect(e, &Engine::frame_sent, this,
        [this](const QByteArray& frame, int address) { show_frame_sent(frame, address); });
    connect(e, &Engine::frame_received, this, [this](const QByteArray& block) { show_frame_received(block); });
    connect(e, &Engine::inspection_done, this, [this](int id, bool complete, const std::map<int, ParamSet>& sets) {
        const auto it = inspections.find(id);
        if (it == inspections.end())
            return;
        const auto done = std::move(it->second);
        inspections.erase(it);
        run_guarded([&] { done(complete, sets); });
    });
    // The browser pages follow the log as the engine writes it.
    connect(e, &Engine::measurement_appended, db.get(), &StationDb::measurement_appended);
    connect(e, &Engine::parameter_stored, db.get(), &StationDb::parameter_stored);
    connect(e, &Engine::alarms_appended, alarm_log.get(), &AlarmLog::appended);
    connect(e, &Engine::commands_changed, command_log.get(), &CommandLog::changed);
    // What the engine holds now, for a window that comes after its start.
    ask([](Engine& engine) { engine.report_all(); }, "窗口");
}
