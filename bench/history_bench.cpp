// History: a chart channel appending for ever holds a flat amount of memory
// under the default limit; a 30-day span of one address is drawn from a
// 10-million-row log as fast as a live view; the history view opens at once
// on that log.
#include "chart_history.h"
#include "history_view.h"
#include "iPlot.h"
#include "station_db.h"
#include "station_settings.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <unistd.h>

namespace {

constexpr qint64 kBigRows = 10'000'000;
constexpr int kBigAddresses = 4;
// The log's first row: rows follow one a second, the addresses in turn.
const QDateTime kLogStart(QDate(2026, 1, 1), QTime(0, 0));

double rss_mib()
{
    std::ifstream statm("/proc/self/statm");
    long pages = 0, resident = 0;
    statm >> pages >> resident;
    return double(resident) * double(sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
}

// Appends points one a second to one channel under the station's default
// memory limit (a fresh settings file gives the default), as a station
// polling one instrument every second would for points / 86400 days.
void BM_ChartMemory(benchmark::State& state)
{
    QTemporaryDir dir;
    const double days = StationSettings(dir.path()).chart_memory_days();
    const double rss_before = rss_mib();
    for (auto _ : state) {
        TiPlot plot;
        TiPlotChannel* c = plot.AddChannel(QStringLiteral("pv"));
        c->set_memory_limit(chart_memory_limit(days));
        const qint64 start = db_clock_ms(kLogStart);
        for (qint64 i = 0; i < state.range(0); ++i)
            c->AddXY(chart_x(start + i * 1000), 100.0 + double(i % 977) * 0.25);
        state.counters["rss_MiB"] = rss_mib();
        state.counters["rss_before_MiB"] = rss_before;
        state.counters["held_points"] = double(c->Count());
        state.counters["store_MiB"] = double(c->Points().memory_bytes()) / (1024.0 * 1024.0);
        state.counters["limit_days"] = days;
    }
}
BENCHMARK(BM_ChartMemory)->ArgName("points")->Arg(20'000'000)->Iterations(1)->Unit(benchmark::kMillisecond);

// The 10-million-row log of four addresses, written once and kept in the
// build directory: one row a second, the addresses in turn (116 days), PV a
// slow firing curve with noise, SV stepping, written into a file of the
// current layout so that the triggers build the minute table as the station
// would.
QString big_dir()
{
    const QString d = QStringLiteral(BENCH_BIG_DIR "/history");
    const QString path = QDir(d).filePath(QStringLiteral("control_db.sqlite"));
    if (QFileInfo::exists(path))
        return d;
    const QString tmp = QStringLiteral(BENCH_BIG_DIR "/history.tmp");
    QDir(tmp).removeRecursively();
    QDir().mkpath(tmp);
    const QString tmp_path = QDir(tmp).filePath(QStringLiteral("control_db.sqlite"));
    QFile::copy(QStringLiteral(STATION_DB_TEMPLATE), tmp_path);
    QFile::setPermissions(tmp_path, QFile::ReadOwner | QFile::WriteOwner);
    std::fprintf(stderr, "writing a log of %lld rows (once)...\n", static_cast<long long>(kBigRows));
    {
        StationDb db(tmp); // the current layout, with the minute table's triggers
        QSqlQuery q(db.connection());
        q.exec(QStringLiteral("PRAGMA synchronous=OFF"));
        q.exec(QStringLiteral(
            "WITH RECURSIVE s(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM s WHERE i < %1 - 1) "
            "INSERT INTO mea_tbl (\"date\", \"time\", address, sv, pv, mv, val, alm) "
            "SELECT t, t, (i % %2 + 1) || '#仪表', 200 + ((i / 86400) % 5) * 50, "
            "25 + (200 + ((i / 86400) % 5) * 50 - 25) * min(1.0, (i % 86400) / 20000.0) + (i % 7) * 0.1, "
            "45.5, 0, 0 FROM (SELECT i, strftime('%Y-%m-%d %H:%M:%f', '%3', '+' || i || ' seconds') AS t FROM s)")
                   .arg(kBigRows)
                   .arg(kBigAddresses)
                   .arg(db_timestamp_text(kLogStart)));
    }
    QDir().rename(tmp, d);
    return d;
}

// One address over `days` ending at the log's last row, read from the log
// and drawn at 725 pixel columns (a chart's width), every time afresh.
void BM_HistorySpan(benchmark::State& state)
{
    const QString d = big_dir();
    StationDb db(d);
    const qint64 end = db_clock_ms(kLogStart) + kBigRows * 1000;
    TiPlotTraceView view;
    view.x_span = double(state.range(0)) * 24 * 60;
    view.x_min = chart_x(end) - view.x_span;
    view.width = 725;
    view.height = 320;
    view.y_min = 0;
    view.y_span = 500;
    std::size_t points = 0;
    std::vector<TiPlotSpan> spans;
    for (auto _ : state) {
        // A reader of its own each time, so that no read is reused.
        MeasurementHistory log(db.connection(), db_file_label(db.file_path()));
        LogHistory source(log, LogField::Pv);
        source.set_address(2);
        TiPlotPoints reduced;
        source.fetch(view, HUGE_VAL, reduced);
        spans.clear();
        render_points(reduced, view, spans);
        points = reduced.size();
        benchmark::DoNotOptimize(spans.data());
    }
    state.counters["points_drawn"] = double(points);
    state.counters["columns_lit"] = double(spans.size());
    state.counters["log_rows"] = double(kBigRows);
}
BENCHMARK(BM_HistorySpan)->ArgName("days")->Arg(1)->Arg(7)->Arg(30)->Unit(benchmark::kMillisecond)->UseRealTime();

// The history view opened on the 10-million-row log and shown: the log's
// addresses and times read, its last 24 hours of four addresses drawn.
void BM_HistoryOpen(benchmark::State& state)
{
    const QString d = big_dir();
    const QString path = QDir(d).filePath(QStringLiteral("control_db.sqlite"));
    for (auto _ : state) {
        HistoryView view(path);
        view.show();
        QApplication::processEvents();
        view.chart()->repaint();
        if (view.chosen_addresses().size() != kBigAddresses)
            state.SkipWithError("not every address chosen");
    }
}
BENCHMARK(BM_HistoryOpen)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QDir().mkpath(QStringLiteral(BENCH_BIG_DIR));
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
