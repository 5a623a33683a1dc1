// Repaint of a 725 x 320 chart holding 8 channels of N points each, into a
// QImage, for TiPlot, QCustomPlot (adaptive sampling on) and Qt Charts
// (QLineSeries), in one run, plus the cost of adding a point and the memory
// per point. Rows are named .../points:N/tail:T (tail 1: the newest 2 % of
// the history in view, 0: all of it).
// Run: build/bench/plot_bench [--points=1000000,10000000] [benchmark flags]
// (prints the times per repaint, their ratios and the bytes per point last)
#include "iPlot.h"

#include <QApplication>
#include <QChart>
#include <QChartView>
#include <QLineSeries>
#include <QPainter>
#include <QValueAxis>
#include <qcustomplot.h>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <malloc.h>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <string_view>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kWidth = 725;
constexpr int kHeight = 320;
constexpr int kChannels = 8;
// The scrolled view: the newest 2 % of the history.
constexpr double kTailShare = 0.02;

const QColor kColours[kChannels]
    = { Qt::red, Qt::yellow, Qt::blue, Qt::magenta, Qt::cyan, Qt::green, Qt::white, QColor(128, 0, 0) };

// Temperature-like series of channel c: slow swings, steps and noise; x = one
// point per second. Generated channel by channel, so no copy of all the data
// is held beside the chart being built.
template <class F> void for_each_point(int c, long n, F f)
{
    std::mt19937 rng(42 + c);
    std::normal_distribution<double> noise(0, 0.6);
    for (long i = 0; i < n; ++i)
        f(double(i),
            40 + 20 * c + 8 * std::sin(double(i) * 2e-4 + c) + double((i / 50'000) % 2) * 5 + noise(rng));
}

double rss_bytes()
{
    std::ifstream statm("/proc/self/statm");
    long pages = 0, resident = 0;
    statm >> pages >> resident;
    return double(resident) * double(sysconf(_SC_PAGESIZE));
}

// Resident set growth while loading, by peer and points per channel.
std::map<std::pair<std::string, long>, double> g_bytes_per_point;
// TiPlot's own account of its point stores, by points per channel.
std::map<long, double> g_store_bytes_per_point;

// One chart per peer at a time, for one number of points; building any chart
// first drops every other, so the peers never share the memory.
std::unique_ptr<TiPlot> g_ti;
std::unique_ptr<QCustomPlot> g_qcp;
std::unique_ptr<QChartView> g_charts;
long g_ti_n = 0, g_qcp_n = 0, g_charts_n = 0;

void drop_all()
{
    g_ti.reset();
    g_qcp.reset();
    g_charts.reset();
    g_ti_n = g_qcp_n = g_charts_n = 0;
    malloc_trim(0);
}

double available_bytes()
{
    std::ifstream meminfo("/proc/meminfo");
    std::string key;
    double kb = 0;
    while (meminfo >> key >> kb)
        if (key == "MemAvailable:")
            return kb * 1024;
        else
            meminfo.ignore(256, '\n');
    return 0;
}

// Whether a peer's chart of n points per channel is likely to fit in half the
// memory available now, judged by its bytes per point at the largest count
// already loaded (a first count is always tried). Sets the skip reason.
bool fits(benchmark::State& state, const char* peer, long n)
{
    double per_point = 0;
    for (const auto& [key, bpp] : g_bytes_per_point)
        if (key.first == peer && key.second < n)
            per_point = bpp;
    const double need = per_point * kChannels * double(n);
    const double have = available_bytes();
    if (per_point <= 0 || need < have / 2)
        return true;
    char why[200];
    std::snprintf(why, sizeof why,
        "skipped: %s would need about %.1f GB for %ld points/channel, %.1f GB available", peer, need / 1e9, n,
        have / 1e9);
    state.SkipWithError(why);
    return false;
}

template <class Chart, class Build>
Chart& chart_for(std::unique_ptr<Chart>& chart, long& built_n, long n, const char* peer, Build build)
{
    if (!chart || built_n != n) {
        drop_all();
        const double before = rss_bytes();
        chart = build(n);
        built_n = n;
        g_bytes_per_point[{ peer, n }] = (rss_bytes() - before) / (double(kChannels) * double(n));
    }
    return *chart;
}

// --- TiPlot -----------------------------------------------------------------

TiPlot& ti_plot(long n)
{
    return chart_for(g_ti, g_ti_n, n, "TiPlot", [](long points) {
        auto p = std::make_unique<TiPlot>();
        p->resize(kWidth, kHeight);
        p->setTitleText(QStringLiteral("实时温度曲线"));
        p->YAxis(0)->setTitle(QStringLiteral("温度值(℃)"));
        p->YAxis(0)->setTitleShow(true);
        p->XAxis(0)->setTitle(QStringLiteral("采样时间 t (分钟)"));
        p->XAxis(0)->setTitleShow(true);
        for (int c = 0; c < kChannels; ++c) {
            TiPlotChannel* ch = p->AddChannel(QStringLiteral("Channel %1").arg(c + 1), kColours[c]);
            ch->setTitleText(QStringLiteral("%1#").arg(c + 1));
            for_each_point(c, points, [ch](double x, double y) { ch->AddXY(x, y); });
        }
        return p;
    });
}

void BM_TiPlot_Repaint(benchmark::State& state)
{
    const long n = long(state.range(0));
    const bool tail = state.range(1) == 1;
    if (!fits(state, "TiPlot", n))
        return;
    TiPlot& p = ti_plot(n);
    p.XAxis(0)->setMin(tail ? double(n) * (1 - kTailShare) : 0);
    p.XAxis(0)->setSpan(tail ? double(n) * kTailShare : double(n));
    p.YAxis(0)->setMin(0);
    p.YAxis(0)->setSpan(220);
    QImage img(kWidth, kHeight, QImage::Format_RGB32);
    for (auto _ : state) {
        p.render(&img);
        benchmark::DoNotOptimize(img.constBits());
    }
    std::size_t bytes = 0;
    for (int c = 0; c < p.ChannelCount(); ++c)
        bytes += p.Channel(c)->Points().memory_bytes();
    const double per_point = double(bytes) / (double(kChannels) * double(n));
    state.counters["store_B/pt"] = per_point;
    g_store_bytes_per_point[n] = per_point;
    if (!tail)
        img.save(QStringLiteral("plot_bench_tiplot_%1.png").arg(n));
}

// AddXY on a shown chart: the repaint it asks for is coalesced into one.
void BM_TiPlot_AddXY(benchmark::State& state)
{
    drop_all();
    TiPlot p;
    p.resize(kWidth, kHeight);
    for (int c = 0; c < kChannels; ++c)
        p.AddChannel(QStringLiteral("Channel %1").arg(c + 1), kColours[c]);
    p.XAxis(0)->setSpan(200);
    p.show();
    QCoreApplication::processEvents();
    TiPlotChannel* ch = p.Channel(3);
    double x = 0;
    for (auto _ : state) {
        ch->AddXY(x, 50 + std::sin(x));
        x += 1.0 / 60;
    }
    state.SetItemsProcessed(state.iterations());
    state.counters["points_kept"] = double(ch->Count());
}

// --- QCustomPlot --------------------------------------------------------------

QCustomPlot& qcp_plot(long n)
{
    return chart_for(g_qcp, g_qcp_n, n, "QCustomPlot", [](long points) {
        auto p = std::make_unique<QCustomPlot>();
        p->resize(kWidth, kHeight);
        p->setBackground(Qt::black);
        p->plotLayout()->insertRow(0);
        p->plotLayout()->addElement(0, 0, new QCPTextElement(p.get(), QStringLiteral("实时温度曲线")));
        p->legend->setVisible(true);
        p->xAxis->setLabel(QStringLiteral("采样时间 t (分钟)"));
        p->yAxis->setLabel(QStringLiteral("温度值(℃)"));
        for (int c = 0; c < kChannels; ++c) {
            QCPGraph* g = p->addGraph();
            g->setPen(QPen(kColours[c], 1));
            g->setAdaptiveSampling(true);
            QVector<QCPGraphData> data;
            data.reserve(points);
            for_each_point(c, points, [&data](double x, double y) { data.append(QCPGraphData(x, y)); });
            g->data()->set(data, true);
            g->setName(QStringLiteral("%1#").arg(c + 1));
        }
        return p;
    });
}

void BM_QCustomPlot_Repaint(benchmark::State& state)
{
    const long n = long(state.range(0));
    const bool tail = state.range(1) == 1;
    if (!fits(state, "QCustomPlot", n))
        return;
    QCustomPlot& p = qcp_plot(n);
    p.xAxis->setRange(tail ? double(n) * (1 - kTailShare) : 0, double(n));
    p.yAxis->setRange(0, 220);
    QImage img(kWidth, kHeight, QImage::Format_RGB32);
    for (auto _ : state) {
        QCPPainter painter(&img);
        p.toPainter(&painter, kWidth, kHeight); // lays out and draws every layer
        painter.end();
        benchmark::DoNotOptimize(img.constBits());
    }
    if (!tail)
        img.save(QStringLiteral("plot_bench_qcustomplot_%1.png").arg(n));
}

// --- Qt Charts ----------------------------------------------------------------

QChartView& charts_view(long n)
{
    return chart_for(g_charts, g_charts_n, n, "Qt Charts", [](long points) {
        auto* chart = new QChart;
        chart->setTitle(QStringLiteral("实时温度曲线"));
        chart->setBackgroundBrush(Qt::black);
        auto* ax = new QValueAxis;
        auto* ay = new QValueAxis;
        chart->addAxis(ax, Qt::AlignBottom);
        chart->addAxis(ay, Qt::AlignLeft);
        for (int c = 0; c < kChannels; ++c) {
            auto* ls = new QLineSeries;
            {
                QList<QPointF> pts;
                pts.reserve(points);
                for_each_point(c, points, [&pts](double x, double y) { pts.append(QPointF(x, y)); });
                ls->replace(pts);
            }
            ls->setPen(QPen(kColours[c], 1));
            ls->setName(QStringLiteral("%1#").arg(c + 1));
            chart->addSeries(ls);
            ls->attachAxis(ax);
            ls->attachAxis(ay);
        }
        auto v = std::make_unique<QChartView>(chart);
        v->resize(kWidth, kHeight);
        v->show();
        QCoreApplication::processEvents();
        return v;
    });
}

void BM_QtCharts_Repaint(benchmark::State& state)
{
    const long n = long(state.range(0));
    const bool tail = state.range(1) == 1;
    if (!fits(state, "Qt Charts", n))
        return;
    QChartView& v = charts_view(n);
    auto* ax = static_cast<QValueAxis*>(v.chart()->axes(Qt::Horizontal).first());
    auto* ay = static_cast<QValueAxis*>(v.chart()->axes(Qt::Vertical).first());
    ax->setRange(tail ? double(n) * (1 - kTailShare) : 0, double(n));
    ay->setRange(0, 220);
    QCoreApplication::processEvents();
    QImage img(kWidth, kHeight, QImage::Format_RGB32);
    for (auto _ : state) {
        static_cast<QWidget&>(v).render(&img);
        benchmark::DoNotOptimize(img.constBits());
    }
    if (!tail)
        img.save(QStringLiteral("plot_bench_qtcharts_%1.png").arg(n));
}

// Remembers each run's wall and CPU time per iteration for the summary (the
// median when repetitions are asked for). CPU time is the fairer figure on a
// loaded machine: a repaint is single-threaded work.
class SummaryReporter : public benchmark::ConsoleReporter {
public:
    struct Times {
        double real_ms = -1, cpu_ms = -1;
    };
    std::map<std::string, Times> times;
    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& r : runs) {
            if (r.error_occurred || r.iterations <= 0)
                continue;
            std::string name = r.run_name.str();
            if (r.run_type == Run::RT_Aggregate && r.aggregate_name != "median")
                continue;
            times[name] = { r.real_accumulated_time / double(r.iterations) * 1e3,
                r.cpu_accumulated_time / double(r.iterations) * 1e3 };
        }
        ConsoleReporter::ReportRuns(runs);
    }
};

// "--points=1000000,10000000": the points per channel to run (removed from
// argv before the benchmark library sees the flags). Numbers only.
std::vector<long> take_points_flag(int& argc, char** argv)
{
    std::vector<long> points;
    constexpr std::string_view kFlag = "--points=";
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg(argv[i]);
        if (arg.substr(0, kFlag.size()) != kFlag)
            continue;
        std::string_view list = arg.substr(kFlag.size());
        while (!list.empty()) {
            const std::string_view item = list.substr(0, list.find(','));
            long v = 0;
            const auto [end, ec] = std::from_chars(item.data(), item.data() + item.size(), v);
            if (ec != std::errc() || end != item.data() + item.size() || v < 2) {
                std::fprintf(
                    stderr, "plot_bench: '%.*s' is not a number of points\n", int(item.size()), item.data());
                std::exit(2);
            }
            points.push_back(v);
            list.remove_prefix(std::min(list.size(), item.size() + 1));
        }
        std::memmove(argv + i, argv + i + 1, sizeof(char*) * std::size_t(argc - i));
        --argc;
        --i;
    }
    if (points.empty())
        points = { 1'000'000, 10'000'000 };
    return points;
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    const std::vector<long> points = take_points_flag(argc, argv);
    QApplication app(argc, argv);
    const struct {
        const char* name;
        void (*fn)(benchmark::State&);
    } peers[]
        = { { "BM_TiPlot_Repaint", BM_TiPlot_Repaint }, { "BM_QCustomPlot_Repaint", BM_QCustomPlot_Repaint },
              { "BM_QtCharts_Repaint", BM_QtCharts_Repaint } };
    for (const auto& peer : peers) {
        auto* b = benchmark::RegisterBenchmark(peer.name, peer.fn);
        b->ArgNames({ "points", "tail" })->Unit(benchmark::kMillisecond);
        for (long n : points)
            for (int tail : { 0, 1 })
                b->Args({ n, tail });
    }
    benchmark::RegisterBenchmark("BM_TiPlot_AddXY", BM_TiPlot_AddXY)
        ->Iterations(4'000'000)
        ->Unit(benchmark::kNanosecond);
    benchmark::Initialize(&argc, argv);
    SummaryReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);

    auto get = [&](const std::string& name) {
        auto it = reporter.times.find(name);
        return it == reporter.times.end() ? SummaryReporter::Times {} : it->second;
    };
    // "12.34 / 13.00", or "skipped" for a run that did not happen.
    auto times = [](const SummaryReporter::Times& t) {
        char text[40];
        if (t.cpu_ms < 0)
            std::snprintf(text, sizeof text, "%17s", "skipped");
        else
            std::snprintf(text, sizeof text, "%8.2f / %8.2f", t.cpu_ms, t.real_ms);
        return std::string(text);
    };
    auto ratio = [](double a, double b) {
        char text[16];
        if (a < 0 || b < 0)
            return std::string("-");
        std::snprintf(text, sizeof text, "%.2fx", a / b);
        return std::string(text);
    };
    const char* const peers_named[] = { "TiPlot", "QCustomPlot", "Qt Charts" };
    std::printf("\nRepaint of %d x %d, %d channels, into a QImage (CPU ms / wall ms per repaint):\n", kWidth,
        kHeight, kChannels);
    for (long n : points) {
        for (int tail : { 0, 1 }) {
            const std::string v = "/points:" + std::to_string(n) + "/tail:" + std::to_string(tail);
            SummaryReporter::Times t[3];
            for (int k = 0; k < 3; ++k)
                t[k] = get(std::string(peers[k].name) + v);
            std::printf(
                "  %9ld points/channel, %s:\n", n, tail ? "newest 2% visible" : "all history visible");
            for (int k = 0; k < 3; ++k)
                std::printf("      %-12s %s\n", peers_named[k], times(t[k]).c_str());
            std::printf("      CPU ratios: QCustomPlot/TiPlot %s, Qt Charts/TiPlot %s\n",
                ratio(t[1].cpu_ms, t[0].cpu_ms).c_str(), ratio(t[2].cpu_ms, t[0].cpu_ms).c_str());
        }
    }
    if (points.size() > 1) {
        const std::string first = "/points:" + std::to_string(points.front()) + "/tail:0";
        const std::string last = "/points:" + std::to_string(points.back()) + "/tail:0";
        std::printf(
            "  full view from %ld to %ld points/channel, CPU time grows:", points.front(), points.back());
        for (int k = 0; k < 3; ++k)
            std::printf(" %s %s", peers_named[k],
                ratio(get(std::string(peers[k].name) + last).cpu_ms,
                    get(std::string(peers[k].name) + first).cpu_ms)
                    .c_str());
        std::printf("\n");
    }
    for (const auto& [n, bpp] : g_store_bytes_per_point)
        std::printf("  TiPlot point stores, %9ld points/channel: %6.2f bytes/point\n", n, bpp);
    for (const auto& [key, bpp] : g_bytes_per_point)
        std::printf("  resident memory growth while loading, %-12s %9ld points/channel: %6.1f bytes/point\n",
            key.first.c_str(), key.second, bpp);
    drop_all();
    return 0;
}
