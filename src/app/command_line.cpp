#include "command_line.h"

#include "mqtt_config.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>

#include <cstdio>
#include <cstring>

namespace {

struct Parser {
    QCommandLineParser parser;
    // Our own --help and --version, so that their descriptions are Chinese.
    QCommandLineOption help { { QStringLiteral("h"), QStringLiteral("help") }, QStringLiteral("显示本说明后退出。") };
    QCommandLineOption version { { QStringLiteral("v"), QStringLiteral("version") },
        QStringLiteral("显示程序名称与版本后退出。") };
    QCommandLineOption workdir { QStringLiteral("workdir"),
        QStringLiteral("数据库、save.txt 与 station.ini 放在文件夹 DIR 中（没有时创建，并由安装的或构建目录中的模板建立数据库）。"),
        QStringLiteral("DIR") };
    QCommandLineOption port { QStringLiteral("port"),
        QStringLiteral("本次启动打开此串口，而不是 save.txt 中的串口：COM1 .. COM16，"
                       "或设备路径，如 /dev/serial/by-id/usb-... 或 /dev/ttyUSB0。只用于本次启动，"
                       "save.txt 与 station.ini 保留原来的串口。"),
        QStringLiteral("NAME") };
    QCommandLineOption mqtt { QStringLiteral("mqtt"),
        QStringLiteral("本次运行把测量值发布到此 MQTT 服务器，不论 station.ini 如何设置："
                       "mqtt://[用户:密码@]主机:端口/前缀（TLS 用 mqtts://）。只用网址中的用户与密码；"
                       "没有 TLS 时只有 MQTT 设置允许明文密码才发送密码。本站只发布，不订阅任何主题。"),
        QStringLiteral("URL") };
    QCommandLineOption headless { QStringLiteral("headless"),
        QStringLiteral("无窗口运行（服务）：巡检记住的仪表（没有时先巡扫 0..90），记录测量值、报警与事件日志，"
                       "设置了 MQTT 时发布。SIGTERM 或 SIGINT 时写完队列、关闭串口后退出。") };

    Parser()
    {
        parser.setApplicationDescription(QStringLiteral(
            "AI 系列温控器集中监控站（一条 RS-485 线路）。\n\n"
            "文件：工作目录含 control_db.sqlite 时，control_db.sqlite、save.txt、station.ini 与 station.log "
            "都在工作目录中；否则在 $XDG_DATA_HOME/ai_station（~/.local/share/ai_station），首次启动时在那里建立数据库。"));
        parser.addOption(help);
        parser.addOption(version);
        parser.addOption(workdir);
        parser.addOption(port);
        parser.addOption(mqtt);
        parser.addOption(headless);
    }
};

void print(std::FILE* to, const QString& text)
{
    std::fputs(text.toLocal8Bit().constData(), to);
}

// Prints what --help or --version asks for; false when neither is set.
bool answer(const Parser& p)
{
    if (p.parser.isSet(p.help)) {
        // The toolkit's headings in Chinese; the option names stay as they are.
        QString text = p.parser.helpText();
        text.replace(QStringLiteral("Usage:"), QStringLiteral("用法："));
        text.replace(QStringLiteral("Options:"), QStringLiteral("选项："));
        text.replace(QStringLiteral("[options]"), QStringLiteral("[选项]"));
        print(stdout, text);
        return true;
    }
    if (p.parser.isSet(p.version)) {
        print(stdout, QStringLiteral("%1 %2\n").arg(QCoreApplication::applicationName(),
                                                    QCoreApplication::applicationVersion()));
        return true;
    }
    return false;
}

} // namespace

std::optional<int> answer_help_or_version(int& argc, char** argv)
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    Parser p;
    // The toolkit's options are still in the list here: read single-dash
    // words whole, so that none of them is taken for -h or -v.
    p.parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    (void)p.parser.parse(arguments);
    if (!p.parser.isSet(p.help) && !p.parser.isSet(p.version))
        return std::nullopt;
    // A core application (no display) gives the help text the program's name.
    const QCoreApplication app(argc, argv);
    answer(p);
    return 0;
}

bool wants_headless(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "--headless") == 0 || std::strcmp(argv[i], "-headless") == 0)
            return true;
    return false;
}

std::optional<int> parse_command_line(const QStringList& arguments, CommandLine* options)
{
    Parser p;
    if (!p.parser.parse(arguments)) {
        // Our sentence; the toolkit's own words only as the detail.
        print(stderr, QStringLiteral("命令行选项有误（%1）\n请用 --help 查看用法。\n").arg(p.parser.errorText()));
        return 2;
    }
    if (answer(p))
        return 0;
    if (!p.parser.positionalArguments().isEmpty()) {
        print(stderr, QStringLiteral("多余的参数 '%1'。\n请用 --help 查看用法。\n")
                          .arg(p.parser.positionalArguments().constFirst()));
        return 2;
    }
    // Relative paths mean the folder the station was started in (it then
    // works in its data folder).
    options->workdir = p.parser.value(p.workdir);
    if (!options->workdir.isEmpty())
        options->workdir = QDir::current().absoluteFilePath(options->workdir);
    options->port = p.parser.value(p.port);
    if (options->port.contains(QLatin1Char('/')) && QDir::isRelativePath(options->port))
        options->port = QDir::current().absoluteFilePath(options->port);
    options->headless = p.parser.isSet(p.headless);
    options->mqtt = p.parser.value(p.mqtt);
    if (!options->mqtt.isEmpty()) {
        // The URL itself is checked here. Whether its password may go without
        // TLS is for the MQTT settings of station.ini to say: judged at start.
        MqttConfig syntax_only;
        syntax_only.allow_plain_password = true;
        QString error;
        if (!with_mqtt_url(options->mqtt, syntax_only, &error)) {
            print(stderr, QStringLiteral("--mqtt：%1\n请用 --help 查看用法。\n").arg(error));
            return 2;
        }
    }
    return std::nullopt;
}
