#include "error_box.h"
#include "form1.h"
#include "public_set.h"
#include "scomm.h"

#include <QFont>
#include <QPushButton>
#include <QScreen>
#include <QTabWidget>
#include <QStringList>

TForm1::TForm1(QWidget* parent) : QMainWindow(parent)
{
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
    strgrid_init();
    resize(1030, 800);
    if (const QScreen* s = screen())
        move(s->availableGeometry().center() - rect().center());
    chart_clock = 0;
    chart_running = 0;
    run_seen = 0;
    inst_count = 0;
    cur_addr = -1;
    reply_ok = 1;
    PageControl1->setCurrentWidget(TabSheet10);
}

void install_font_substitutions()
{
    // The form names the Kai face by its Windows name; Debian ships it as
    // "AR PL UKai CN" (fonts-arphic-ukai).
    QFont::insertSubstitutions(QStringLiteral("楷体_GB2312"),
                               {QStringLiteral("AR PL UKai CN"), QStringLiteral("AR PL UKai TW")});
    QFont::insertSubstitutions(QStringLiteral("MS Sans Serif"),
                               {QStringLiteral("DejaVu Sans"), QStringLiteral("WenQuanYi Micro Hei")});
}
