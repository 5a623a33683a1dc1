// Repaint of a 725 x 320 chart holding 8 channels of 1,000,000 points each,
// into a QImage, for TiPlot, QCustomPlot (adaptive sampling on) and Qt Charts
// (QLineSeries), plus the cost of adding a point and the memory per point.
// Run: build/bench/plot_bench   (prints the three times and their ratios last)
#include "iPlot.h"

#include <QApplication>
#include <QChart>
#include <QChartView>
#include <QLineSeries>
#include <QPainter>
#include <QValueAxis>
#include <qcustomplot.h>

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <map>
#include <memory>
#include <random>
#include <unistd.h>

namespace {

constexpr int kWidth = 725;
constexpr int kHeight = 320;
constexpr int kChannels = 8;
constexpr int kPoints = 1'000'000;
// The scrolled view: the newest 2 % of the history.
constexpr double kTailSpan = kPoints * 0.02;

const QColor kColours[kChannels]
    = { Qt::red, Qt::yellow, Qt::blue, Qt::magenta, Qt::cyan, Qt::green, Qt::white, QColor(128, 0, 0) };

struct Series {
    QVector<double> x, y;
};

// Temperature-like series: slow swings, steps and noise; x = one point per second.
const std::vector<Series>& series()
{
    static const std::vector<Series> data = [] {
        std::vector<Series> s(kChannels);
        std::mt19937 rng(42);
        std::normal_distribution<double> noise(0, 0.6);
        for (int c = 0; c < kChannels; ++c) {
            s[c].x.resize(kPoints);
            s[c].y.resize(kPoints);
            for (int i = 0; i < kPoints; ++i) {
                s[c].x[i] = i;
                s[c].y[i] = 40 + 20 * c + 8 * std::sin(i * 2e-4 + c) + ((i / 50'000) % 2) * 5 + noise(rng);
            }
        }
        return s;
    }();
    return data;
}

double rss_bytes()
{
    std::ifstream statm("/proc/self/statm");
    long pages = 0, resident = 0;
    statm >> pages >> resident;
    return double(resident) * double(sysconf(_SC_PAGESIZE));
}

std::map<std::string, double> g_bytes_per_point; // by peer, from the resident set growth

// Built on first use, destroyed before the application object.
std::unique_ptr<TiPlot> g_ti;
std::unique_ptr<QCustomPlot> g_qcp;
std::unique_ptr<QChartView> g_charts;

// --- TiPlot -----------------------------------------------------------------

TiPlot& ti_plot()
{
    if (!g_ti)
        g_ti = [] {
            const auto& s = series();
            const double before = rss_bytes();
            auto p = std::make_unique<TiPlot>();
            p->resize(kWidth, kHeight);
            p->setTitleText(QStringLiteral("实时温度曲线"));
            p->YAxis(0)->setTitle(QStringLiteral("温度值(℃)"));
            p->YAxis(0)->setTitleShow(true);
            p->XAxis(0)->setTitle(QStringLiteral("采样时间(t)"));
            p->XAxis(0)->setTitleShow(true);
            for (int c = 0; c < kChannels; ++c) {
                TiPlotChannel* ch = p->AddChannel(QStringLiteral("Channel %1").arg(c + 1), kColours[c]);
                ch->setTitleText(QStringLiteral("%1#").arg(c + 1));
                for (int i = 0; i < kPoints; ++i)
                    ch->AddXY(s[c].x[i], s[c].y[i]);
            }
            g_bytes_per_point["TiPlot"] = (rss_bytes() - before) / (double(kChannels) * kPoints);
            return p;
        }();
    return *g_ti;
}

void set_ti_view(TiPlot& p, bool tail)
{
    p.XAxis(0)->setMin(tail ? kPoints - kTailSpan : 0);
    p.XAxis(0)->setSpan(tail ? kTailSpan : kPoints);
    p.YAxis(0)->setMin(0);
    p.YAxis(0)->setSpan(220);
}

void BM_TiPlot_Repaint(benchmark::State& state)
{
    TiPlot& p = ti_plot();
    set_ti_view(p, state.range(0) == 1);
    QImage img(kWidth, kHeight, QImage::Format_RGB32);
    for (auto _ : state) {
        p.render(&img);
        benchmark::DoNotOptimize(img.constBits());
    }
    std::size_t bytes = 0;
    for (int c = 0; c < p.ChannelCount(); ++c)
        bytes += p.Channel(c)->Points().memory_bytes();
    state.counters["store_B/pt"] = double(bytes) / (double(kChannels) * kPoints);
    if (state.range(0) == 0)
        img.save(QStringLiteral("plot_bench_tiplot.png"));
}
BENCHMARK(BM_TiPlot_Repaint)->ArgName("tail")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// AddXY on a shown chart: the repaint it asks for is coalesced into one.
void BM_TiPlot_AddXY(benchmark::State& state)
{
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
BENCHMARK(BM_TiPlot_AddXY)->Iterations(4'000'000)->Unit(benchmark::kNanosecond);

// --- QCustomPlot --------------------------------------------------------------

QCustomPlot& qcp_plot()
{
    if (!g_qcp)
        g_qcp = [] {
            const auto& s = series();
            const double before = rss_bytes();
            auto p = std::make_unique<QCustomPlot>();
            p->resize(kWidth, kHeight);
            p->setBackground(Qt::black);
            p->plotLayout()->insertRow(0);
            p->plotLayout()->addElement(0, 0, new QCPTextElement(p.get(), QStringLiteral("实时温度曲线")));
            p->legend->setVisible(true);
            p->xAxis->setLabel(QStringLiteral("采样时间(t)"));
            p->yAxis->setLabel(QStringLiteral("温度值(℃)"));
            for (int c = 0; c < kChannels; ++c) {
                QCPGraph* g = p->addGraph();
                g->setPen(QPen(kColours[c], 1));
                g->setAdaptiveSampling(true);
                g->setData(s[c].x, s[c].y, true);
                g->setName(QStringLiteral("%1#").arg(c + 1));
            }
            g_bytes_per_point["QCustomPlot"] = (rss_bytes() - before) / (double(kChannels) * kPoints);
            return p;
        }();
    return *g_qcp;
}

void BM_QCustomPlot_Repaint(benchmark::State& state)
{
    QCustomPlot& p = qcp_plot();
    const bool tail = state.range(0) == 1;
    p.xAxis->setRange(tail ? kPoints - kTailSpan : 0, kPoints);
    p.yAxis->setRange(0, 220);
    QImage img(kWidth, kHeight, QImage::Format_RGB32);
    for (auto _ : state) {
        QCPPainter painter(&img);
        p.toPainter(&painter, kWidth, kHeight); // lays out and draws every layer
        painter.end();
        benchmark::DoNotOptimize(img.constBits());
    }
    if (!tail)
        img.save(QStringLiteral("plot_bench_qcustomplot.png"));
}
BENCHMARK(BM_QCustomPlot_Repaint)->ArgName("tail")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// --- Qt Charts ----------------------------------------------------------------

QChartView& charts_view()
{
    if (!g_charts)
        g_charts = [] {
            const auto& s = series();
            const double before = rss_bytes();
            auto* chart = new QChart;
            chart->setTitle(QStringLiteral("实时温度曲线"));
            chart->setBackgroundBrush(Qt::black);
            auto* ax = new QValueAxis;
            auto* ay = new QValueAxis;
            chart->addAxis(ax, Qt::AlignBottom);
            chart->addAxis(ay, Qt::AlignLeft);
            for (int c = 0; c < kChannels; ++c) {
                auto* ls = new QLineSeries;
                QList<QPointF> pts;
                pts.reserve(kPoints);
                for (int i = 0; i < kPoints; ++i)
                    pts.append(QPointF(s[c].x[i], s[c].y[i]));
                ls->replace(pts);
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
            g_bytes_per_point["Qt Charts"] = (rss_bytes() - before) / (double(kChannels) * kPoints);
            return v;
        }();
    return *g_charts;
}

void BM_QtCharts_Repaint(benchmark::State& state)
{
    QChartView& v = charts_view();
    const bool tail = state.range(0) == 1;
    auto* ax = static_cast<QValueAxis*>(v.chart()->axes(Qt::Horizontal).first());
    auto* ay = static_cast<QValueAxis*>(v.chart()->axes(Qt::Vertical).first());
    ax->setRange(tail ? kPoints - kTailSpan : 0, kPoints);
    ay->setRange(0, 220);
    QCoreApplication::processEvents();
    QImage img(kWidth, kHeight, QImage::Format_RGB32);
    for (auto _ : state) {
        static_cast<QWidget&>(v).render(&img);
        benchmark::DoNotOptimize(img.constBits());
    }
    if (!tail)
        img.save(QStringLiteral("plot_bench_qtcharts.png"));
}
BENCHMARK(BM_QtCharts_Repaint)->ArgName("tail")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

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

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    SummaryReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);

    auto get = [&](const std::string& name) {
        auto it = reporter.times.find(name);
        return it == reporter.times.end() ? SummaryReporter::Times {} : it->second;
    };
    std::printf("\nRepaint of %d x %d, %d channels x %d points, into a QImage (CPU ms / wall ms):\n", kWidth,
        kHeight, kChannels, kPoints);
    for (const char* view : { "tail:0", "tail:1" }) {
        const std::string v(view);
        const auto ti = get("BM_TiPlot_Repaint/" + v);
        const auto qcp = get("BM_QCustomPlot_Repaint/" + v);
        const auto qc = get("BM_QtCharts_Repaint/" + v);
        std::printf("  %-20s TiPlot %6.2f / %6.2f   QCustomPlot %6.2f / %6.2f   Qt Charts %8.1f / %8.1f\n"
                    "  %-20s CPU ratios: QCustomPlot/TiPlot %.1fx, Qt Charts/TiPlot %.1fx\n",
            v == "tail:0" ? "all history visible" : "newest 2% visible", ti.cpu_ms, ti.real_ms, qcp.cpu_ms,
            qcp.real_ms, qc.cpu_ms, qc.real_ms, "", qcp.cpu_ms / ti.cpu_ms, qc.cpu_ms / ti.cpu_ms);
    }
    for (const auto& [peer, bpp] : g_bytes_per_point)
        std::printf("  resident memory growth while loading, %-12s %6.1f bytes/point\n", peer.c_str(), bpp);
    g_charts.reset();
    g_qcp.reset();
    g_ti.reset();
    return 0;
}
