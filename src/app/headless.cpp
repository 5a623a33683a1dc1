#include "headless.h"

#include "engine.h"
#include "engine_host.h"
#include "errors.h"
#include "event_log.h"
#include "quit_signals.h"
#include "scomm.h"
#include "start_up.h"

#include <QCoreApplication>
#include <QDir>

#include <cstdio>
#include <memory>

int run_headless(int argc, char** argv, const CommandLine& options)
{
    QCoreApplication app(argc, argv);
    std::unique_ptr<EngineHost> host;
    bool quitting = false;
    install_quit_signals([&] {
        if (quitting)
            return;
        quitting = true;
        QCoreApplication::quit();
    });
    QString folder;
    try {
        folder = prepare_start({ options.workdir, [](const SchemaStep& step) {
                                    event_log::write("数据库",
                                        "正在升级数据库到结构版本 " + std::to_string(step.version) + "（" + step.what
                                            + "）……记录多时需要几分钟");
                                } });
        Engine::Options engine_options;
        engine_options.data_dir = folder;
        engine_options.start_port = options.port;
        engine_options.mqtt_url = options.mqtt;
        host = std::make_unique<EngineHost>(engine_options);
        host->start();
    } catch (const std::exception& e) {
        if (host)
            report_start_failure(e.what());
        return 1;
    }
    // A port another program holds is no case for waiting: say who holds it.
    std::string held;
    bool nothing_remembered = false;
    host->call([&](Engine& e) {
        if (e.serial()->last_open_busy())
            held = e.serial()->last_open_error();
        nothing_remembered = e.roster_shown().addresses.empty();
    });
    if (!held.empty()) {
        std::fprintf(stderr, "ai_station: %s\n", held.c_str());
        event_log::write("站点", "串口被占用，服务退出：" + held);
        return 1;
    }
    if (nothing_remembered) {
        event_log::write("巡扫", "没有记住的仪表：先巡扫地址 0..90");
        host->post([](Engine& e) { e.start_scan(91); }, "巡扫");
    }
    event_log::write("站点", "无窗口服务运行中");
    if (!quitting)
        app.exec();
    host->shutdown();
    event_log::write("站点", "无窗口服务已退出");
    host.reset();
    return 0;
}
