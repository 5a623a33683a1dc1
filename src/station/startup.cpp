#include "error_box.h"
#include "errors.h"
#include "form1.h"
#include "public_set.h"
#include "scomm.h"
#include "iComponent.h"
#include "browser_pages.h"
#include "chart_history.h"
#include "history_view.h"
#include "measurement_history.h"
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
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLocale>
#include <QTime>
#include <QDir>
#include <QFileInfo>
#include <QFont>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QTabWidget>
#include <QStringList>

namespace {

// Shown while the database's layout is upgraded before the window exists: on a
// log of years the new index and summary take minutes, and an empty screen
// would look like a hang. What ran goes to the event log once it is open.
class UpgradeNotice {
public:
    void starting(const SchemaStep& step)
    {
        if (!label_) {
            clock_.start();
            label_ = std::make_unique<QLabel>();
            label_->setWindowTitle(QStringLiteral("AI仪表集中监控站"));
            label_->setAlignment(Qt::AlignCenter);
            label_->setMargin(24);
            label_->setMinimumWidth(460);
        }
        const QString what = QStringLiteral("结构版本 %1（%2）").arg(step.version).arg(QString::fromUtf8(step.what));
        lines_ << QStringLiteral("数据库升级到%1，开始于 %2")
                      .arg(what, QTime::currentTime().toString(QStringLiteral("HH:mm:ss")));
        label_->setText(QStringLiteral("正在升级数据库到%1……\n记录多时需要几分钟，请勿关闭程序。").arg(what));
        label_->adjustSize();
        if (const QScreen* screen = QGuiApplication::primaryScreen())
            label_->move(screen->availableGeometry().center() - label_->rect().center());
        label_->show();
        label_->repaint();
        // Paint it, and nothing else: a stop request (SIGTERM comes through a
        // socket notifier) waits for the window, which knows how to close.
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents | QEventLoop::ExcludeSocketNotifiers);
    }
    // Writes what ran and how long it took; closes the notice.
    void finish()
    {
        if (!label_)
            return;
        for (const QString& line : lines_)
            event_log::write("数据库", line.toStdString());
        event_log::write("数据库", QStringLiteral("升级完成，用时 %1 秒")
                                       .arg(QLocale::c().toString(clock_.elapsed() / 1000.0, 'f', 1))
                                       .toStdString());
        label_.reset();
    }

private:
    std::unique_ptr<QLabel> label_;
    QStringList lines_;
    QElapsedTimer clock_;
};

} // namespace

TForm1::TForm1(QWidget* parent, const QString& start_port, const QString& mqtt_url)
    : QMainWindow(parent)
    , start_port_(start_port)
{
    // Exceptions raised inside the widgets' own event handling go to the error box.
    set_widget_error_handler([](const QString& message) { ErrorBox::instance().show(message); });
    // Without its database the station does not start: this throws
    // EDatabaseError naming the file and the working directory.
    UpgradeNotice upgrade;
    db = std::make_unique<StationDb>(QString(), nullptr, [&upgrade](const SchemaStep& step) { upgrade.starting(step); });
    // The event log and the station's own settings live beside the database.
    const QString data_dir = QFileInfo(db->file_path()).absolutePath();
    event_log::open(QDir(data_dir).filePath(QStringLiteral("station.log")).toStdString());
    event_log::write("站点", "启动，数据库 " + db->file_path().toStdString());
    upgrade.finish();
    station_settings = std::make_unique<StationSettings>(data_dir);
    row_queue = std::make_unique<RowQueue>(*db);
    alarm_log = std::make_unique<AlarmLog>(*db);
    build_layout();
    data_folder_label->setText(QDir::toNativeSeparators(QFileInfo(db->file_path()).absolutePath()));
    build_browser_pages();
    connect_chart_history();
    connect_row_queue();
    // Publishing starts before polling, so that every logged row goes out.
    MqttConfig mqtt = station_settings->mqtt();
    if (!mqtt_url.isEmpty()) {
        QString error;
        if (const auto from_url = with_mqtt_url(mqtt_url, mqtt, &error)) {
            mqtt = *from_url;
        } else {
            // The broker asked for is refused: nothing is published in this
            // run, rather than to the broker of station.ini.
            event_log::write("MQTT", "--mqtt 未采用，本次不发布：" + error.toStdString());
            mqtt.enabled = false;
        }
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
    const QStringList problems = station_settings->problems() + read_settings_file();
    if (!start_port_.isEmpty()) {
        port_from_command_line_ = true;
        port_box->select_port(start_port_);
    }
    resume_addresses();
    preload_charts();
    QStringList messages;
    try {
        scomm_init();
    } catch (const ECommsError& e) {
        // The station watches for the device and opens it when it comes.
        messages << QString::fromUtf8(e.what());
    }
    messages << problems;
    settings_loaded_ = true;
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
