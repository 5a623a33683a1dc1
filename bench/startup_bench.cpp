// Start-up cost of the station, measured in fresh processes: each iteration
// runs this program again as a child that creates the application and the
// engine on its thread and the main window (database open, grid, panels,
// charts, settings, port) in a
// temporary working directory, and reports the time from its own process start
// to the first paint of the window and its resident memory at that moment.
//   startup_bench                 (offscreen unless QT_QPA_PLATFORM says otherwise)
#include "engine.h"
#include "engine_host.h"
#include "error_box.h"
#include "form1.h"
#include "ifonts.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace {

char g_self[4096];

// Seconds since this process started (from /proc: start time in clock ticks
// since boot, against the system uptime).
double process_age_seconds()
{
    std::ifstream stat("/proc/self/stat");
    std::string content((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    const auto close = content.rfind(')');
    std::istringstream fields(content.substr(close + 2));
    std::string field;
    for (int i = 3; i <= 22; ++i) {
        fields >> field;
        if (i == 22)
            break;
    }
    const double start_ticks = std::stod(field);
    std::ifstream uptime_file("/proc/uptime");
    double uptime = 0;
    uptime_file >> uptime;
    return uptime - start_ticks / static_cast<double>(sysconf(_SC_CLK_TCK));
}

long resident_kib()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stol(line.substr(6));
    return -1;
}

class FirstPaint : public QObject {
public:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Paint && !done) {
            done = true;
            // Report once the paint has been handled.
            QTimer::singleShot(0, [] {
                std::printf("%.6f %ld\n", process_age_seconds(), resident_kib());
                std::fflush(stdout);
                QCoreApplication::exit(0);
            });
        }
        return QObject::eventFilter(watched, event);
    }
    bool done = false;
};

int child(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    install_font_substitutions();
    ErrorBox::instance().set_presenter([](const QString& m) { std::fprintf(stderr, "%s\n", qPrintable(m)); });
    Engine::Options options;
    options.data_dir = QDir::currentPath();
    EngineHost host(options);
    host.start();
    TForm1 form(host);
    FirstPaint watcher;
    form.installEventFilter(&watcher);
    form.show();
    return app.exec();
}

void BM_StartupToFirstPaint(benchmark::State& state)
{
    QTemporaryDir dir;
    QFile::copy(QString::fromUtf8(STATION_DB_TEMPLATE), dir.filePath(QStringLiteral("control_db.sqlite")));
    QFile settings(dir.filePath(QStringLiteral("save.txt")));
    settings.open(QIODevice::WriteOnly);
    settings.write("0\r\n1\r\n2\r\n");
    settings.close();
    double rss_sum = 0;
    for (auto _ : state) {
        int out[2];
        if (pipe(out) != 0)
            state.SkipWithError("pipe");
        const pid_t pid = fork();
        if (pid == 0) {
            dup2(out[1], 1);
            ::close(out[0]);
            if (chdir(dir.path().toLocal8Bit().constData()) != 0)
                _exit(3);
            execl(g_self, g_self, "--child", static_cast<char*>(nullptr));
            _exit(4);
        }
        ::close(out[1]);
        char buf[128] = {};
        const ssize_t n = read(out[0], buf, sizeof buf - 1);
        ::close(out[0]);
        int status = 0;
        waitpid(pid, &status, 0);
        double seconds = 0;
        long rss = 0;
        if (n <= 0 || std::sscanf(buf, "%lf %ld", &seconds, &rss) != 2) {
            state.SkipWithError("child reported nothing");
            break;
        }
        state.SetIterationTime(seconds);
        rss_sum += static_cast<double>(rss);
    }
    state.counters["rss_MiB"] = benchmark::Counter(rss_sum / 1024.0, benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_StartupToFirstPaint)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(10);

}  // namespace

int main(int argc, char** argv)
{
    const ssize_t len = readlink("/proc/self/exe", g_self, sizeof g_self - 1);
    if (len > 0)
        g_self[len] = '\0';
    if (argc > 1 && std::strcmp(argv[1], "--child") == 0)
        return child(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
