// The engine's use of the database and the settings files: the parameter
// store, the log of rows and alarm transitions through the row queue, the
// stored sets of the instruments, and save.txt.
#include "engine.h"

#include "alarm_log.h"
#include "param_catalogue.h"
#include "public_set.h"
#include "row_queue.h"
#include "settings_file.h"
#include "station_db.h"
#include "station_settings.h"
#include "status_bits.h"

void Engine::connect_row_queue()
{
    connect(row_queue.get(), &RowQueue::outage_began, this, [this](const QString& reason) {
        messages.error("数据库", "数据库暂不可用：" + reason.toStdString() + "；测量值与报警记录暂存内存，恢复后按顺序补写");
        report_status();
    });
    connect(row_queue.get(), &RowQueue::outage_ended, this, [this](qint64 rows) {
        messages.info("数据库", "数据库已恢复，补写 " + std::to_string(rows) + " 行");
        report_status();
    });
    connect(row_queue.get(), &RowQueue::rows_dropped, this, [this](quint64 total) {
        // One message per hundred dropped rows keeps the log readable in a long outage.
        if (total == 1 || total % 100 == 0)
            messages.error("数据库", "内存队列已满，已丢弃最早的 " + std::to_string(total) + " 行测量值与报警记录");
    });
    connect(row_queue.get(), &RowQueue::written, this,
        [this](const std::vector<MeasurementRow>& rows, const std::vector<AlarmEvent>& alarms) {
            publish_written(rows, alarms);
        });
}

void Engine::store_parameter(int address, int code, float value) { row_queue->store_parameter(address, code, value); }

void Engine::append_measurement(int address, const QDateTime& when)
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
}

void Engine::log_alarms(int address, const QDateTime& when)
{
    std::vector<AlarmEvent> events;
    bool raised = false;
    for (const AlarmTransition& t : alarm_watch.feed(address, alarm_byte)) {
        const std::string_view name = alarm_name(t.bit);
        events.push_back(alarm_board.transition(
            t.address, QString::fromLatin1(name.data(), static_cast<qsizetype>(name.size())), t.raised, when));
        raised = raised || t.raised;
    }
    record_alarm_events(events, raised);
}

void Engine::get_AI_database(int address)
{
    const ParamColumn column = db->load_param_column(address, dec_places_of(address));
    for (int code = 1; code < static_cast<int>(column.texts.size()); ++code)
        if (column.loaded[static_cast<size_t>(code)])
            param_table.set_cell(address, code + 1, column.texts[static_cast<size_t>(code)]);
    cur_code = kLastParamCode;
    para_value = column.last_value;
}

void Engine::file_save()
{
    ::file_save(data_file(kSettingsFileName), saved_port_index_, baud_index_, period_s_);
    // A device past the fixed names is remembered by its path: its index
    // changes with the devices present.
    station_settings->set_port_device(saved_port_index_ >= 16 ? saved_port_device_ : QString());
}
