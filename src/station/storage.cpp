// The browser pages of the log, the parameter sets and the alarm history,
// on the window's own connection to the database.
#include "alarm_log.h"
#include "alarm_page.h"
#include "browser_pages.h"
#include "error_box.h"
#include "form1.h"
#include "station_db.h"

#include <QTabWidget>
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
