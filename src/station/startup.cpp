#include "error_box.h"
#include "form1.h"
#include "public_set.h"
#include "scomm.h"
#include "iComponent.h"
#include "iLedRound.h"

#include <QFont>
#include <QPushButton>
#include <QScreen>
#include <QTabWidget>
#include <QStringList>

TForm1::TForm1(QWidget* parent) : QMainWindow(parent)
{
    // Exceptions raised inside the widgets' own event handling go to the error box.
    set_widget_error_handler([](const QString& message) { ErrorBox::instance().show(message); });
    build_layout();
    FormCreate();
}

TForm1::~TForm1()
{
    delete SComm1_485;  // closes the port and joins its threads
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
}
