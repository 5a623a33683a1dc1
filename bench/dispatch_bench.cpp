// One poll reply through the station window: SComm1_485ReceiveData, the reply
// window's decision -> decode,
// main panel, grid, ai_para update, chart points, instrument panel, mea_tbl
// insert, up to the end of command_dispose. The send pause is not part of it.
// The database is a file on disk (the build directory, not a RAM disk); the
// three channels the reply draws into already hold a million points each.
// Reported per reply: median and 99th percentile, from every timed reply.
//
// The station publishes to a Mosquitto broker started on localhost, on every
// other run of 64 replies: the replies without publishing and those with it run under the
// same load, so the difference of their figures is what publishing adds to a
// reply (the row's message built and queued; the network is the publisher
// thread's). Without a broker only the replies without publishing are timed.
// BM_PublishMeasurement times the publishing step alone.
#include "error_box.h"
#include "messages.h"
#include "mqtt_broker.h"
#include "publisher.h"
#include "station_settings.h"
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
#include <thread>
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

// Replies come tens of milliseconds apart on the line. The benchmarks keep a
// rhythm outside the timed part (the same pause with and without
// publishing), so that the publisher thread and the broker do their share
// between replies: what is measured is the cost a reply carries, not a flood
// the line cannot make.
void pace()
{
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
}

MqttConfig bench_mqtt(int port)
{
    MqttConfig c;
    c.enabled = true;
    c.host = QStringLiteral("127.0.0.1");
    c.port = port;
    c.prefix = QStringLiteral("bench");
    c.station = QStringLiteral("dispatch");
    return c;
}

// synced=1: the database as the station opens it (each commit synced to
// disk); synced=0: syncing off, to show the cost of the work itself.
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
    MqttBroker broker;
    if (broker.start())
        StationSettings(dir.path()).set_mqtt(bench_mqtt(broker.port()));
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

        // Publishing is switched off for a reply by holding the publisher aside.
        std::unique_ptr<MqttPublisher> publisher = std::move(form.publisher);
        std::vector<double> samples, publishing_samples;
        samples.reserve(100000);
        publishing_samples.reserve(100000);
        size_t i = 0;
        for (auto _ : state) {
            // In alternate runs of 64 replies, so that each side sees every
            // one of the 64 replies below (they differ in their alarm bits).
            const bool publishing = publisher && (i / replies.size()) % 2 == 1;
            if (publishing)
                form.publisher = std::move(publisher);
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
            (publishing ? publishing_samples : samples).push_back(seconds * 1e6);
            if (publishing)
                publisher = std::move(form.publisher);
            QApplication::processEvents(); // repaints and queued signals, outside the timed part
            pace();
        }
        const auto median = [](std::vector<double>& v) { return v[v.size() / 2]; };
        const auto p99 = [](std::vector<double>& v) { return v[std::min(v.size() - 1, v.size() * 99 / 100)]; };
        std::sort(samples.begin(), samples.end());
        std::sort(publishing_samples.begin(), publishing_samples.end());
        if (!samples.empty()) {
            state.counters["median_us"] = median(samples);
            state.counters["p99_us"] = p99(samples);
            state.counters["max_us"] = samples.back();
        }
        if (!publishing_samples.empty() && !samples.empty()) {
            state.counters["mqtt_median_us"] = median(publishing_samples);
            state.counters["mqtt_p99_us"] = p99(publishing_samples);
            state.counters["added_median_us"] = median(publishing_samples) - median(samples);
            state.counters["added_p99_us"] = p99(publishing_samples) - p99(samples);
            state.counters["mqtt_sent"] = static_cast<double>(publisher->status().sent);
            state.counters["mqtt_dropped"] = static_cast<double>(publisher->status().dropped);
        }
        form.publisher = std::move(publisher);
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
    ->MinTime(4.0)
    ->Unit(benchmark::kMicrosecond);

// What publishing adds to one reply, alone: the row's payload built and the
// message queued for the publisher thread, which sends it to the broker.
void BM_PublishMeasurement(benchmark::State& state)
{
    MqttBroker broker;
    if (!broker.start()) {
        state.SkipWithError("no Mosquitto broker could be started");
        return;
    }
    const MqttConfig config = bench_mqtt(broker.port());
    const Topics topics(config);
    MqttPublisher publisher(config);
    MeasurementRow row;
    row.address = 1;
    row.sv = 250.0;
    row.mv = 40.0;
    row.val = 1.0;
    // Timed apart: building the topic and payload, and queueing the message
    // (which wakes the publisher thread).
    std::vector<double> samples, build, queue;
    int i = 0;
    for (auto _ : state) {
        row.when = QDateTime::currentDateTime();
        row.pv = 248.0 + (i % 100) / 10.0;
        row.alm = (i++ * 4) & 0xFC;
        const auto t0 = std::chrono::steady_clock::now();
        QByteArray topic = topics.measurement(row.address);
        QByteArray payload = measurement_payload(row);
        const auto t1 = std::chrono::steady_clock::now();
        publisher.publish(std::move(topic), std::move(payload));
        const auto t2 = std::chrono::steady_clock::now();
        state.SetIterationTime(std::chrono::duration<double>(t2 - t0).count());
        samples.push_back(std::chrono::duration<double, std::micro>(t2 - t0).count());
        build.push_back(std::chrono::duration<double, std::micro>(t1 - t0).count());
        queue.push_back(std::chrono::duration<double, std::micro>(t2 - t1).count());
        pace();
    }
    for (auto* v : { &samples, &build, &queue })
        std::sort(v->begin(), v->end());
    const auto p99 = [](const std::vector<double>& v) { return v[std::min(v.size() - 1, v.size() * 99 / 100)]; };
    if (!samples.empty()) {
        state.counters["median_us"] = samples[samples.size() / 2];
        state.counters["p99_us"] = p99(samples);
        state.counters["build_median_us"] = build[build.size() / 2];
        state.counters["build_p99_us"] = p99(build);
        state.counters["queue_median_us"] = queue[queue.size() / 2];
        state.counters["queue_p99_us"] = p99(queue);
    }
    state.counters["dropped"] = static_cast<double>(publisher.status().dropped);
}
BENCHMARK(BM_PublishMeasurement)->UseManualTime()->MinTime(0.05)->Unit(benchmark::kMicrosecond);

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
