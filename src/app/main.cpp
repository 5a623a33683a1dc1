// The station's application object: reads the command line, settles the
// folder the station works in, starts the engine on its own thread and
// shows the window (or, with --headless, runs the engine alone), and runs
// the message loop until it closes.
#include "command_line.h"
#include "engine.h"
#include "engine_host.h"
#include "error_box.h"
#include "errors.h"
#include "form1.h"
#include "headless.h"
#include "ifonts.h"
#include "quit_signals.h"
#include "start_up.h"
#include "upgrade_notice.h"

#include <QApplication>
#include <QDialog>
#include <QIcon>
#include <QLibraryInfo>
#include <QMessageBox>
#include <QTranslator>
#include <exception>
#include <memory>

int main(int argc, char** argv)
{
    QApplication::setApplicationName(QStringLiteral("ai_station"));
    QApplication::setApplicationVersion(QStringLiteral(STATION_VERSION));
    if (const auto code = answer_help_or_version(argc, argv))
        return *code;
    if (wants_headless(argc, argv)) {
        // No display: the options are read on a core application.
        CommandLine options;
        {
            QCoreApplication probe(argc, argv);
            if (const auto code = parse_command_line(QCoreApplication::arguments(), &options))
                return *code;
        }
        return run_headless(argc, argv, options);
    }

    QApplication app(argc, argv);
    QApplication::setApplicationDisplayName(QStringLiteral("AI仪表集中监控站"));
    QApplication::setDesktopFileName(QStringLiteral("ai_station"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/ai_station.png")));
    // Qt's own dialogs and buttons (file dialog, OK/Cancel) in Chinese, as the
    // rest of the station; without the translation files they stay English.
    QTranslator qt_chinese;
    if (qt_chinese.load(QStringLiteral("qtbase_zh_CN"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(&qt_chinese);
    CommandLine options;
    if (const auto code = parse_command_line(QApplication::arguments(), &options))
        return *code;

    std::unique_ptr<EngineHost> host;
    std::unique_ptr<TForm1> form;
    bool quit_requested = false;
    install_quit_signals([&] {
        quit_requested = true;
        // A box still open is answered first, so that the window can close as
        // usual; a message raised after the request goes to the event log
        // only, so that no box waits for an answer nobody will give.
        ErrorBox::instance().set_presenter([](const QString&) {});
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* dialog = qobject_cast<QDialog*>(w); dialog && dialog->isVisible())
                dialog->reject();
        if (form)
            form->close();
    });

    install_font_substitutions();
    try {
        UpgradeNotice upgrade;
        const QString folder
            = prepare_start({ options.workdir, [&upgrade](const SchemaStep& step) { upgrade.starting(step); } });
        upgrade.finish();
        Engine::Options engine_options;
        engine_options.data_dir = folder;
        engine_options.start_port = options.port;
        engine_options.mqtt_url = options.mqtt;
        host = std::make_unique<EngineHost>(engine_options);
        try {
            host->start();
        } catch (const std::exception& e) {
            report_start_failure(e.what());
            throw;
        }
        try {
            form = std::make_unique<TForm1>(*host);
        } catch (const std::exception& e) {
            report_start_failure(e.what()); // on standard error as well as in the box
            throw;
        }
    } catch (const std::exception& e) {
        // No database, or the window could not be created: the station does
        // not start, and writes no settings file.
        if (!quit_requested)
            QMessageBox::critical(nullptr, QApplication::applicationDisplayName(),
                QStringLiteral("站点未能启动：%1").arg(QString::fromUtf8(e.what())));
        return 1;
    }
    if (quit_requested) {
        form->close();
        return 0;
    }
    form->show();
    const int code = app.exec();
    form.reset();
    host.reset();
    return code;
}
