#include "error_box.h"
#include "errors.h"
#include "form1.h"
#include "public_set.h"
#include "scomm.h"
#include "iComponent.h"
#include "browser_pages.h"
#include "convert.h"
#include "alarm_log.h"
#include "alarm_page.h"
#include "station_db.h"
#include "iLedRound.h"
#include "event_log.h"
#include "port_box.h"
#include "row_queue.h"
#include "station_settings.h"
#include "mqtt_config.h"
#include "publisher.h"
#include "messages.h"

#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QFont>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QTabWidget>
#include <QStringList>

TForm1::TForm1(QWidget* parent, const QString& start_port, const QString& mqtt_url)
    : QMainWindow(parent)
    , start_port_(start_port)
{
    // Exceptions raised inside the widgets' own event handling go to the error box.
    set_widget_error_handler([](const QString& message) { ErrorBox::instance().show(message); });
    // Without its database the station does not start: this throws
    // EDatabaseError naming the file and the working directory.
    db = std::make_unique<StationDb>();
    // The event log and the station's own settings live beside the database.
    const QString data_dir = QFileInfo(db->file_path()).absolutePath();
    event_log::open(QDir(data_dir).filePath(QStringLiteral("station.log")).toStdString());
    event_log::write("站点", "启动，数据库 " + db->file_path().toStdString());
    station_settings = std::make_unique<StationSettings>(data_dir);
    row_queue = std::make_unique<RowQueue>(*db);
    alarm_log = std::make_unique<AlarmLog>(*db);
    build_layout();
    data_folder_label->setText(QDir::toNativeSeparators(QFileInfo(db->file_path()).absolutePath()));
    build_browser_pages();
    connect_row_queue();
    // Publishing starts before polling, so that every logged row goes out.
    MqttConfig mqtt = station_settings->mqtt();
    if (!mqtt_url.isEmpty()) {
        QString error;
        if (const auto from_url = with_mqtt_url(mqtt_url, mqtt, &error))
            mqtt = *from_url;
        else
            event_log::write("MQTT", error.toStdString());
    }
    apply_mqtt_config(mqtt);
    FormCreate();
}

TForm1::~TForm1()
{
    publisher.reset(); // "offline", what waits gets its last chance
    delete SComm1_485;  // closes the port and joins its threads
    // The browser pages refer to the database: they go before it.
    delete measurement_page;
    delete param_page;
    delete alarm_page;
}

void TForm1::FormCreate(QObject*)
{
    run_guarded([this] { form_create_steps(); });
}

void TForm1::form_create_steps()
{
    Button3->setEnabled(false);
    Button12->setEnabled(false);
    Button14->setEnabled(false);
    iLedRound1->SetActive(false);
    strgrid_init();
    resize(1030, 800);
    if (const QScreen* s = screen())
        move(s->availableGeometry().center() - rect().center());
    chart_clock = 0;
    chart_running = 0;
    run_seen = 0;
    inst_count = 0;
    init_isevensegmentanlaog();
    iplot_init();
    cur_addr = -1;
    reply_ok = 1;
    PageControl1->setCurrentWidget(TabSheet10);
    db->open_parameter_table();
    ai_para_first();
    // A missing settings file is a first start: the form's values stand. A
    // line that cannot be read keeps its default and is reported, after the
    // port has been opened, so that nothing waits for the operator.
    const QStringList problems = read_settings_file();
    if (!start_port_.isEmpty())
        port_box->select_port(start_port_);
    resume_addresses();
    QStringList messages;
    try {
        scomm_init();
    } catch (const ECommsError& e) {
        // The station watches for the device and opens it when it comes.
        messages << QString::fromUtf8(e.what());
    }
    messages << problems;
    if (!messages.isEmpty())
        ErrorBox::instance().show(messages.join(QLatin1Char('\n')));
}

void TForm1::scomm_init()
{
    // A listed item names its port (a device keeps the case of its path); a
    // typed text is taken in lower case.
    const int port = combo_selected_index(ComboBox1);
    SComm1_485->SetCommName(port >= 0 ? port_box->port_name(port) : ComboBox1->currentText().toLower().toStdString());
    SComm1_485->SetBaudRate(static_cast<std::uint32_t>(str_to_int(ComboBox2->currentText().toStdString())));
    update_port_label();
    open_port(); // shows the deviation pages once open
}
