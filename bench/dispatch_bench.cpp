// One poll reply through the engine: SComm1_485ReceiveData, the reply
// window's decision -> decode, the parameter table, the ai_para update, the
// mea_tbl insert and the alarm watch, up to the end of command_dispose, with
// and without publishing to a Mosquitto broker started on localhost. The
// window is not part of it: it shows the reply on its own thread. The send
// pause is not part of it either. The database is a file on disk (the build
// directory, not a RAM disk). Reported per reply: median and 99th
// percentile, from every timed reply. BM_PublishMeasurement times the
// publishing step alone.
#include "engine.h"
#include "messages.h"
#include "mqtt_broker.h"
#include "publisher.h"
#include "station_settings.h"
#include "frame_codec.h"
#include "public_set.h"
#include "station_db.h"

#include <QCoreApplication>
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
// mqtt=1: publishing to a broker on localhost as well (the row's message
// built and queued once it is written; the network is the publisher's thread).
void BM_PollReply(benchmark::State& state)
{
    QDir().mkpath(QStringLiteral(BENCH_DATA_DIR));
    QTemporaryDir dir(QStringLiteral(BENCH_DATA_DIR "/dispatch-XXXXXX"));
    QFile::copy(QStringLiteral(STATION_DB_TEMPLATE), dir.filePath(QStringLiteral("control_db.sqlite")));
    QFile::setPermissions(
        dir.filePath(QStringLiteral("control_db.sqlite")), QFile::ReadOwner | QFile::WriteOwner);
    // No port: "com1" names nothing here.
    QFile::link(dir.filePath(QStringLiteral("no-such-device")), dir.filePath(QStringLiteral("com1")));
    public_set_reset();
    MqttBroker broker;
    const bool mqtt = state.range(1) == 1;
    if (mqtt) {
        if (!broker.start()) {
            state.SkipWithError("no Mosquitto broker could be started");
            return;
        }
        StationSettings(dir.path()).set_mqtt(bench_mqtt(broker.port()));
    }
    Engine::Options options;
    options.data_dir = dir.path();
    options.send_pause_ms = 0;
    Engine engine(options);
    engine.start();
    if (state.range(0) == 0)
        QSqlQuery(engine.database()->connection()).exec(QStringLiteral("PRAGMA synchronous=OFF"));
    QStringList errors;
    QObject::connect(&engine, &Engine::message, [&](const EngineMessage& m) {
        if (m.level == EngineMessage::Level::Error && m.source != QStringLiteral("串口"))
            errors << m.text;
    });

    // Four instruments, as after a scan; the poll has just asked address 1.
    for (int a : { 1, 2, 3, 5 })
        addr_enabled[a] = 1;
    engine.adopt_addresses();
    dec_places[1] = 1;

    std::vector<std::array<std::uint8_t, 10>> replies;
    for (int i = 0; i < 64; ++i)
        replies.push_back(poll_reply(2500, 2480 + i, 4000 + i, (i * 4) & 0xFC, -(1 + i % 3)));

    std::vector<double> samples;
    samples.reserve(100000);
    size_t i = 0;
    for (auto _ : state) {
        const auto& r = replies[i++ % replies.size()];
        LineRequest poll;
        poll.address = 1;
        engine.replies.request_sent(poll, std::chrono::steady_clock::now());
        const auto t0 = std::chrono::steady_clock::now();
        engine.SComm1_485ReceiveData(nullptr, reinterpret_cast<const char*>(r.data()), 10);
        engine.settle_replies(); // the reply window decided: the dispatch runs
        const auto t1 = std::chrono::steady_clock::now();
        const double seconds = std::chrono::duration<double>(t1 - t0).count();
        state.SetIterationTime(seconds);
        samples.push_back(seconds * 1e6);
        QCoreApplication::processEvents(); // queued signals, outside the timed part
        pace();
    }
    std::sort(samples.begin(), samples.end());
    if (!samples.empty()) {
        state.counters["median_us"] = samples[samples.size() / 2];
        state.counters["p99_us"] = samples[std::min(samples.size() - 1, samples.size() * 99 / 100)];
        state.counters["max_us"] = samples.back();
    }
    if (!errors.isEmpty())
        state.SkipWithError(errors.join(QLatin1Char('\n')).toStdString().c_str());
    engine.shutdown();
}
BENCHMARK(BM_PollReply)
    ->ArgNames({ "synced", "mqtt" })
    ->Args({ 1, 0 })
    ->Args({ 1, 1 })
    ->Args({ 0, 0 })
    ->Args({ 0, 1 })
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
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
