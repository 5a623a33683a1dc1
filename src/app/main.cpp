// The station's application object: reads the command line, settles the
// folder the station works in, sets up fonts, creates the main window (which
// runs its start-up) and runs the message loop until it closes.
#include "command_line.h"
#include "data_folder.h"
#include "errors.h"
#include "form1.h"
#include "ifonts.h"
#include "error_box.h"
#include "event_log.h"
#include "quit_signals.h"

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QIcon>
#include <QLibraryInfo>
#include <QTranslator>
#include <exception>
#include <memory>

int main(int argc, char** argv)
{
    QApplication::setApplicationName(QStringLiteral("ai_station"));
    QApplication::setApplicationVersion(QStringLiteral(STATION_VERSION));
    if (const auto code = answer_help_or_version(argc, argv))
        return *code;

    QApplication app(argc, argv);
    QApplication::setApplicationDisplayName(QStringLiteral("AI仪表集中监控站"));
    QApplication::setDesktopFileName(QStringLiteral("ai_station"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/ai_station.png")));
    CommandLine options;
    if (const auto code = parse_command_line(QApplication::arguments(), &options))
        return *code;

    std::unique_ptr<TForm1> form;
    bool quit_requested = false;
    install_quit_signals([&] {
        quit_requested = true;
        // A box still open from start-up is answered first, so that start-up
        // can finish and the window close as usual; a message raised after
        // the request (start-up may still be running) goes to the event log
        // only, so that no box waits for an answer nobody will give.
        ErrorBox::instance().set_presenter([](const QString&) {});
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* dialog = qobject_cast<QDialog*>(w); dialog && dialog->isVisible())
                dialog->reject();
        if (form)
            form->close();
    });

    install_font_substitutions();
    // Qt's own dialogs and buttons (file dialog, OK/Cancel) in Chinese, as the
    // rest of the station; without the translation files they stay English.
    QTranslator qt_chinese;
    if (qt_chinese.load(QStringLiteral("qtbase_zh_CN"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(&qt_chinese);
    try {
        const DataFolder folder = prepare_data_folder(
            { options.workdir, QDir::currentPath(), user_data_folder(), installed_template_paths() });
        // The station works in its data folder: the database, save.txt,
        // station.ini and comN links are all found there by their names.
        if (!QDir::setCurrent(folder.path))
            throw EDatabaseError(QStringLiteral("无法进入数据目录 %1")
                                     .arg(QDir::toNativeSeparators(folder.path))
                                     .toStdString());
        // The event log is open before the database is looked at, so that a
        // refused database is on record (station.log) and not only in a box.
        event_log::open(QDir(folder.path).filePath(QStringLiteral("station.log")).toStdString());
        form = std::make_unique<TForm1>(nullptr, options.port, options.mqtt);
    } catch (const std::exception& e) {
        // No database, or the window could not be created: the station does
        // not start. The error box writes the message to the event log (and
        // standard error) before it shows it; nothing is saved on the way out.
        ErrorBox::instance().show(QStringLiteral("站点未能启动：%1").arg(QString::fromUtf8(e.what())));
        return 1;
    }
    if (quit_requested) {
        form->close();
        return 0;
    }
    form->show();
    return app.exec();
}
