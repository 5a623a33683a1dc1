// One poll reply through the station window: SComm1_485ReceiveData, the reply
// window's decision -> decode,
// main panel, grid, ai_para update, chart points, instrument panel, mea_tbl
// insert, up to the end of command_dispose. The send pause is not part of it.
// The database is a file on disk (the build directory, not a RAM disk); the
// three channels the reply draws into already hold a million points each.
// Reported per reply: median and 99th percentile, from every timed reply.
#include "error_box.h"
#include "form1.h"
#include "frame_codec.h"
#include "iPlot.h"
#include "iPlotChannel.h"
#include "param_grid.h"
#include "public_set.h"
#include "station_db.h"
#include "string_grid.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <vector>

namespace {

constexpr std::int64_t kPrefilledPoints = 1'000'000;

std::array<std::uint8_t, 10> poll_reply(int sv, int pv, int mv, int status, int raw)
{
    const int a = sv - pv;
    std::array<std::uint8_t, 10> r { static_cast<std::uint8_t>(a & 0xFF),
        static_cast<std::uint8_t>((a >> 8) & 0xFF), static_cast<std::uint8_t>(sv & 0xFF),
        static_cast<std::uint8_t>((sv >> 8) & 0xFF), static_cast<std::uint8_t>(mv & 0xFF),
        static_cast<std::uint8_t>((mv >> 8) & 0xFF), static_cast<std::uint8_t>(status),
        static_cast<std::uint8_t>(raw & 0xFF), static_cast<std::uint8_t>((raw >> 8) & 0xFF), 0 };
    int sum = 0;
    for (int i = 0; i < 9; ++i)
        sum = (sum + r[static_cast<size_t>(i)]) & 0xFF;
    r[9] = static_cast<std::uint8_t>(sum & 0xF0);
    return r;
}

// Argument 1: the database as the station opens it (each commit synced to
// disk). Argument 0: syncing off, to show the cost of the work itself.
void BM_PollReply(benchmark::State& state)
{
    QDir().mkpath(QStringLiteral(BENCH_DATA_DIR));
    QTemporaryDir dir(QStringLiteral(BENCH_DATA_DIR "/dispatch-XXXXXX"));
    const QString old_cwd = QDir::currentPath();
    QDir::setCurrent(dir.path());
    QFile::copy(QStringLiteral(STATION_DB_TEMPLATE), dir.filePath(QStringLiteral("control_db.sqlite")));
    QFile::setPermissions(
        dir.filePath(QStringLiteral("control_db.sqlite")), QFile::ReadOwner | QFile::WriteOwner);
    QStringList errors;
    const auto old_presenter = ErrorBox::instance().set_presenter([&](const QString& m) { errors << m; });
    public_set_reset();
    {
        TForm1 form;
        errors.clear(); // no settings file here: the port stays closed
        if (state.range(0) == 0)
            QSqlQuery(form.db->connection()).exec(QStringLiteral("PRAGMA synchronous=OFF"));
        form.send_pause_ms = 0;
        form.show();

        // Four instruments, as after a scan; the poll has just asked address 1.
        for (int a : { 1, 2, 3, 5 })
            addr_enabled[a] = 1;
        layout_value_columns(*form.StringGrid1, { 1, 2, 3, 5 });
        dec_places[1] = 1;
        form.Timer1Timer(nullptr);

        for (TiPlotChannel* ch :
            { form.iPlot[0]->Channel(0), form.iPlot[0]->Channel(1), form.iPlot[3]->Channel(0) })
            for (std::int64_t i = 0; i < kPrefilledPoints; ++i)
                ch->AddXY(static_cast<double>(i) / 30.0, 200.0 + static_cast<double>(i % 100) / 10.0);
        QApplication::processEvents();

        std::vector<std::array<std::uint8_t, 10>> replies;
        for (int i = 0; i < 64; ++i)
            replies.push_back(poll_reply(2500, 2480 + i, 4000 + i, (i * 4) & 0xFC, -(1 + i % 3)));

        std::vector<double> samples;
        samples.reserve(100000);
        size_t i = 0;
        for (auto _ : state) {
            // The poll tick's part of the state: the request in flight.
            cur_addr = 1;
            cur_code = 0;
            cur_slot = 1;
            chart_clock = static_cast<std::uint16_t>(chart_clock + 2);
            const auto& r = replies[i++ % replies.size()];
            LineRequest poll;
            poll.address = 1;
            form.replies.request_sent(poll, std::chrono::steady_clock::now());
            const auto t0 = std::chrono::steady_clock::now();
            form.SComm1_485ReceiveData(nullptr, reinterpret_cast<const char*>(r.data()), 10);
            form.settle_replies(); // the reply window decided: the dispatch runs
            const auto t1 = std::chrono::steady_clock::now();
            const double seconds = std::chrono::duration<double>(t1 - t0).count();
            state.SetIterationTime(seconds);
            samples.push_back(seconds * 1e6);
            QApplication::processEvents(); // repaints and queued signals, outside the timed part
        }
        std::sort(samples.begin(), samples.end());
        if (!samples.empty()) {
            state.counters["median_us"] = samples[samples.size() / 2];
            state.counters["p99_us"] = samples[std::min(samples.size() - 1, samples.size() * 99 / 100)];
            state.counters["max_us"] = samples.back();
        }
        state.counters["chart_points"] = static_cast<double>(form.iPlot[0]->Channel(0)->Count());
        if (!errors.isEmpty())
            state.SkipWithError(errors.join(QLatin1Char('\n')).toStdString().c_str());
    }
    ErrorBox::instance().set_presenter(old_presenter);
    QDir::setCurrent(old_cwd);
}
BENCHMARK(BM_PollReply)
    ->ArgName("synced")
    ->Arg(1)
    ->Arg(0)
    ->UseManualTime()
    ->MinTime(5.0)
    ->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
