// Runs the station against a simulated bus in a temporary working directory
// and saves two pictures: the parameter page after a column write whose
// read-backs found one value the instrument did not take, and the comparison
// of an instrument read now with the set saved before (and the copy dialog).
//   param_set_shots OUT_DIR
#include "aisim.h"
#include "engine.h"
#include "engine_host.h"
#include "error_box.h"
#include "form1.h"
#include "ifonts.h"
#include "param_set_dialogs.h"
#include "param_source_box.h"
#include "param_grid.h"
#include "string_grid.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDeadlineTimer>
#include <QHelpEvent>
#include <QScreen>
#include <QToolTip>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QThread>
#include <cstdio>
#include <functional>

static bool pump_until(const std::function<bool()>& done, int ms)
{
    QDeadlineTimer deadline(ms);
    while (!done() && !deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
    return done();
}

static void save(QWidget* w, const QString& path)
{
    QCoreApplication::processEvents();
    const bool ok = w->grab().save(path);
    std::printf("%s %s\n", ok ? "saved" : "FAILED", qPrintable(path));
}

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("AI仪表集中监控站"));
    install_font_substitutions();
    if (argc < 2) {
        std::fprintf(stderr, "usage: param_set_shots OUT_DIR\n");
        return 2;
    }
    const QString out = QDir(QString::fromLocal8Bit(argv[1])).absolutePath();
    QDir().mkpath(out);

    QTemporaryDir work;
    QDir::setCurrent(work.path());
    QFile::copy(QString::fromUtf8(STATION_DB_TEMPLATE), work.filePath(QStringLiteral("control_db.sqlite")));
    QFile settings(work.filePath(QStringLiteral("save.txt")));
    settings.open(QIODevice::WriteOnly);
    settings.write("0\r\n1\r\n1\r\n"); // COM1, 9600 baud, 1 s period
    settings.close();

    aisim::BusOptions options;
    options.addresses = { 1, 2 };
    options.speed = 0;
    aisim::Bus bus(options);
    bus.set_param(1, 13, 345);
    bus.set_param(1, 21, 0.5);
    bus.start_pty(work.filePath(QStringLiteral("com1")).toStdString());

    // The end-of-run message would be a modal box; it is printed instead.
    ErrorBox::instance().set_presenter([](const QString& m) { std::printf("message: %s\n", qPrintable(m)); });
    Engine::Options engine_options;
    engine_options.data_dir = QDir::currentPath();
    EngineHost host(engine_options);
    host.start();
    TForm1 form(host);
    form.show();
    form.ComboBox10->setEditText(QStringLiteral("3"));
    form.Button_scanClick(form.Button_scan);
    pump_until([&] { return form.run.scanning; }, 5000);
    pump_until([&] { return !form.run.scanning; }, 20000);
    form.Button3Click(form.Button3);
    pump_until([&] { return form.run.busy; }, 5000);
    pump_until([&] { return !form.run.busy; }, 120000);
    const QString saved = work.filePath(QStringLiteral("instrument1.csv"));
    std::printf("%s\n", form.export_param_set(true, 1, saved).c_str());

    // Instrument 1 keeps its LoAL whatever is written; the operator sets
    // -125.00 and two other values and writes the column.
    bus.ignore_writes(1, 4);
    const int col = value_column_of(*form.StringGrid1, 1);
    // Edits as the operator makes them in the grid: into the engine's table.
    host.call([](Engine& e) {
        e.edit_cell(1, 5, QStringLiteral("-125.00"));
        e.edit_cell(1, 14, QStringLiteral("400"));
        e.edit_cell(1, 8, QStringLiteral("0.80"));
    });
    form.ComboBox7->setEditText(QStringLiteral("1"));
    form.PageControl1->setCurrentWidget(form.TabSheet2);
    form.Button14Click(form.Button14);
    pump_until([&] { return form.run.busy; }, 5000);
    pump_until([&] { return !form.run.busy; }, 120000);
    form.StringGrid1->setTopRow(1);
    form.PageControl2->setCurrentIndex(0);
    // The mismatched cell's tooltip, as hovering shows it. A tooltip is a
    // window of its own, so this picture is taken from the screen.
    const QRect cell = form.StringGrid1->cellRect(col, 5);
    QHelpEvent hover(QEvent::ToolTip, cell.center(), form.StringGrid1->viewport()->mapToGlobal(cell.center()));
    QApplication::sendEvent(form.StringGrid1->viewport(), &hover);
    pump_until([] { return false; }, 500);
    const QRect frame = form.frameGeometry();
    const bool ok = form.screen()->grabWindow(0, frame.x(), frame.y(), frame.width(), frame.height())
                        .save(out + QStringLiteral("/param_write_verified.png"));
    std::printf("%s %s\n", ok ? "saved" : "FAILED", qPrintable(out + QStringLiteral("/param_write_verified.png")));
    QToolTip::hideText();

    // The instrument now against the set saved before the write.
    form.CompareSetsClick(nullptr);
    auto* view = form.findChild<ParamCompareDialog*>();
    view->side_a->set_kind(SetSourceKind::Instrument);
    view->side_b->set_kind(SetSourceKind::File);
    view->side_b->set_path(saved);
    view->findChild<QPushButton*>(QStringLiteral("compare_button"))->click();
    pump_until([&] { return !view->count_label()->text().isEmpty(); }, 60000);
    save(view, out + QStringLiteral("/param_compare.png"));
    view->differences_only()->setChecked(true);
    save(view, out + QStringLiteral("/param_compare_differences.png"));
    view->close();

    ParamCopyDialog copy(form.roster.addresses, 1, &form);
    copy.show();
    save(&copy, out + QStringLiteral("/param_copy_dialog.png"));
    copy.close();
    form.close();
    bus.stop();
    return 0;
}
