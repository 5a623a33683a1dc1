#include "error_box.h"
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

#include <QFont>
#include <QComboBox>
#include <QPushButton>
#include <QScreen>
#include <QTabWidget>
#include <QStringList>

TForm1::TForm1(QWidget* parent) : QMainWindow(parent)
{
    // Exceptions raised inside the widgets' own event handling go to the error box.
    set_widget_error_handler([](const QString& message) { ErrorBox::instance().show(message); });
    // Without its database the station does not start: this throws
    // EDatabaseError naming the file and the working directory.
    db = std::make_unique<StationDb>();
    alarm_log = std::make_unique<AlarmLog>(*db);
    build_layout();
    build_browser_pages();
    FormCreate();
}

TForm1::~TForm1()
{
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
    read_settings_file();
    scomm_init();
}

void TForm1::scomm_init()
{
    SComm1_485->SetCommName(ComboBox1->currentText().toLower().toStdString());
    SComm1_485->SetBaudRate(static_cast<std::uint32_t>(str_to_int(ComboBox2->currentText().toStdString())));
    update_port_label();
    SComm1_485->OpenComm();
    update_port_label();
    PageControl2->setTabVisible(PageControl2->indexOf(TabSheet1), true);
    PageControl2->setTabVisible(PageControl2->indexOf(TabSheet11), true);
}
