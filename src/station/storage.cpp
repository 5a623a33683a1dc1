// The station's use of the database and the settings file.
#include "alarm_log.h"
#include "alarm_page.h"
#include "browser_pages.h"
#include "error_box.h"
#include "form1.h"
#include "iIntegerOutput.h"
#include "param_catalogue.h"
#include "param_grid.h"
#include "event_log.h"
#include "row_queue.h"
#include "public_set.h"
#include "port_box.h"
#include "settings_file.h"
#include "station_db.h"
#include "station_settings.h"
#include "status_bits.h"

#include <QComboBox>
#include <QDateTime>
#include <QDir>
#include <QLineEdit>
#include <QVBoxLayout>

void TForm1::build_browser_pages()
{
    auto* measurements = new MeasurementPage(*db, TabSheet13);
    measurements->setObjectName(QStringLiteral("measurement_page"));
    auto* layout13 = new QVBoxLayout(TabSheet13);
    layout13->setContentsMargins(2, 2, 2, 2);
    layout13->addWidget(measurements);
    auto* params = new ParamPage(*db, TabSheet14);
    params->setObjectName(QStringLiteral("param_page"));
    auto* layout14 = new QVBoxLayout(TabSheet14);
    layout14->setContentsMargins(2, 2, 2, 2);
    layout14->addWidget(params);
    // The deviation chart covers its whole page; the empty segment grid lies under it.
    QTableView* segments = make_dbgrid1(TabSheet11);
    segments->setGeometry(0, 0, 420, 200);
    segments->lower();
    measurement_page = measurements;
    param_page = params;

    // The alarm history, on its own page after "about" (the form's pages keep
    // their places).
    TabSheet_alarm = new QWidget;
    TabSheet_alarm->setObjectName(QStringLiteral("TabSheet_alarm"));
    PageControl1->addTab(TabSheet_alarm, QStringLiteral("报警记录"));
    alarm_page = new AlarmPage(*alarm_log, TabSheet_alarm);
    auto* layout_alarm = new QVBoxLayout(TabSheet_alarm);
    layout_alarm->setContentsMargins(2, 2, 2, 2);
    layout_alarm->addWidget(alarm_page);

    auto show_error = [](const QString& message) { ErrorBox::instance().show(message); };
    connect(measurements, &MeasurementPage::database_error, this, show_error);
    connect(params, &ParamPage::database_error, this, show_error);
    connect(alarm_page, &AlarmPage::database_error, this, show_error);
}

void TForm1::store_parameter(int address, int code, float value) { row_queue->store_parameter(address, code, value); }

void TForm1::connect_row_queue()
{
    connect(row_queue.get(), &RowQueue::outage_began, this, [this](const QString& reason) {
        event_log::write("数据库", "数据库暂不可用：" + reason.toStdString() + "；测量值暂存内存，恢复后按顺序补写");
        update_status_bar();
    });
    connect(row_queue.get(), &RowQueue::outage_ended, this, [this](qint64 rows) {
        event_log::write("数据库", "数据库已恢复，补写 " + std::to_string(rows) + " 行");
        update_status_bar();
    });
    connect(row_queue.get(), &RowQueue::rows_dropped, this, [this](quint64 total) {
        // One line per hundred dropped rows keeps the log readable in a long outage.
        if (total == 1 || total % 100 == 0)
            event_log::write("数据库", "内存队列已满，已丢弃最早的 " + std::to_string(total) + " 行测量值");
        update_status_bar();
    });
    connect(row_queue.get(), &RowQueue::waiting_changed, this, [this] { update_status_bar(); });
}

void TForm1::append_measurement(int address, const QDateTime& when)
{
    MeasurementRow row;
    row.when = when;
    row.address = address;
    row.sv = sv_value;
    row.pv = pv_value;
    row.mv = mv_raw / 100.0;
    row.val = para_value;
    row.alm = alarm_byte;
    row_queue->append_measurement(row);
    publish_measurement(row);
}

void TForm1::log_alarms(int address)
{
    const QDateTime now = QDateTime::currentDateTime();
    std::vector<AlarmEvent> events;
    for (const AlarmTransition& t : alarm_watch.feed(address, alarm_byte)) {
        const std::string_view name = alarm_name(t.bit);
        events.push_back({now, t.address, QString::fromLatin1(name.data(), static_cast<qsizetype>(name.size())),
                          t.raised});
    }
    alarm_log->append(events);
    publish_alarms(events);
}

void TForm1::get_AI_database(int address)
{
    const ParamColumn column = db->load_param_column(address, dec_places_of(address));
    for (int code = 1; code < static_cast<int>(column.texts.size()); ++code)
        if (column.loaded[static_cast<size_t>(code)])
            StringGrid1->setCells(db_load_col, code + 1, column.texts[static_cast<size_t>(code)]);
    cur_code = kLastParamCode;
    para_value = column.last_value;
}

void TForm1::ai_para_first()
{
    if (param_page)
        param_page->navigator()->first();
}

void TForm1::file_save()
{
    // Settings that were never read (start-up failed before) are not written:
    // the form's defaults would replace what the files hold.
    if (!settings_loaded_)
        return;
    // A port from --port is for this start only: save.txt keeps its own.
    const int port = port_from_command_line_ ? kept_port_index_ : combo_selected_index(ComboBox1);
    ::file_save(QDir::current().filePath(kSettingsFileName), port,
                combo_selected_index(ComboBox2),
                iIntegerOutput1->Value());
    // A device past the fixed names is remembered by its path: its index
    // changes with the devices present.
    if (!port_from_command_line_)
        station_settings->set_port_device(port >= PortBox::kFixedCount ? ComboBox1->itemText(port) : QString());
}

QStringList TForm1::read_settings_file()
{
    SettingsTargets targets;
    targets.show_port_text = [this](const QString& text) { Edit1->setText(text); };
    // An index that names no item keeps the form's default (reported). What
    // line 1 held is kept for a start whose port comes from --port.
    kept_port_index_ = combo_selected_index(ComboBox1);
    targets.set_port_index = [this](int index) {
        if (index < 0)
            return false;
        if (index < PortBox::kFixedCount) {
            set_index_silently(ComboBox1, index);
            kept_port_index_ = index;
            return true;
        }
        // A device: the one remembered by its path, whatever its place now.
        const QString device = station_settings->port_device();
        if (device.isEmpty())
            return false;
        port_box->select_port(device);
        kept_port_index_ = index;
        return true;
    };
    targets.show_baud_text = [this](const QString& text) { Edit2->setText(text); };
    targets.set_baud_index = [this](int index) {
        if (index < 0 || index >= ComboBox2->count())
            return false;
        set_index_silently(ComboBox2, index);
        return true;
    };
    targets.set_period = [this](int period) {
        iIntegerOutput1->SetValue(period);
        return true;
    };
    return read_settings(QDir::current().filePath(kSettingsFileName), targets).problems;
}

void TForm1::set_index_silently(QComboBox* box, int index)
{
    // Setting an item index from the settings does not raise the change handler;
    // an index outside the list leaves no selection.
    const QSignalBlocker blocker(box);
    box->setCurrentIndex(index >= 0 && index < box->count() ? index : -1);
}
