#include "command_line.h"

#include "mqtt_config.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>

#include <cstdio>

namespace {

struct Parser {
    QCommandLineParser parser;
    QCommandLineOption help;
    QCommandLineOption version;
    QCommandLineOption workdir { QStringLiteral("workdir"),
        QStringLiteral("Keep the database, save.txt and station.ini in DIR (created when missing; the "
                       "database is created there from the installed template)."),
        QStringLiteral("DIR") };
    QCommandLineOption port { QStringLiteral("port"),
        QStringLiteral("Open this serial port at start instead of the one save.txt names: COM1 .. COM16, "
                       "or a device such as /dev/serial/by-id/usb-... or /dev/ttyUSB0. For this start only: "
                       "save.txt and station.ini keep their port."),
        QStringLiteral("NAME") };
    QCommandLineOption mqtt { QStringLiteral("mqtt"),
        QStringLiteral("Publish the measurements to this MQTT broker for this run, whatever station.ini says: "
                       "mqtt://[user:password@]host:port/prefix (mqtts:// for TLS). Only the credentials in the URL "
                       "are used; a password goes without TLS only when the MQTT settings allow it. The station "
                       "only publishes; it subscribes to nothing."),
        QStringLiteral("URL") };

    Parser()
        : help(parser.addHelpOption())
        , version(parser.addVersionOption())
    {
        parser.setApplicationDescription(QStringLiteral(
            "Supervision station for AI-series temperature controllers on one RS-485 line.\n\n"
            "Files: control_db.sqlite, save.txt and station.ini live in the working directory when it "
            "holds control_db.sqlite, otherwise in $XDG_DATA_HOME/ai_station (~/.local/share/ai_station), "
            "where the database is created on first start."));
        parser.addOption(workdir);
        parser.addOption(port);
        parser.addOption(mqtt);
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
        print(stdout, p.parser.helpText());
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

std::optional<int> parse_command_line(const QStringList& arguments, CommandLine* options)
{
    Parser p;
    if (!p.parser.parse(arguments)) {
        print(stderr, p.parser.errorText() + QStringLiteral("\nTry '--help'.\n"));
        return 2;
    }
    if (answer(p))
        return 0;
    if (!p.parser.positionalArguments().isEmpty()) {
        print(stderr, QStringLiteral("Unexpected argument '%1'.\nTry '--help'.\n")
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
    options->mqtt = p.parser.value(p.mqtt);
    if (!options->mqtt.isEmpty()) {
        // The URL itself is checked here. Whether its password may go without
        // TLS is for the MQTT settings of station.ini to say: judged at start.
        MqttConfig syntax_only;
        syntax_only.allow_plain_password = true;
        QString error;
        if (!with_mqtt_url(options->mqtt, syntax_only, &error)) {
            print(stderr, QStringLiteral("--mqtt: %1\nTry '--help'.\n").arg(error));
            return 2;
        }
    }
    return std::nullopt;
}
