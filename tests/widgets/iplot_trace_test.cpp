// The point store's min/max pyramid and the decimated trace drawing: for
// random series (x running forward, falling back, or jumping about) the pixels
// the decimated render covers must match a render of every segment.
#include "iPlotPointStore.h"

#include <QImage>
#include <QPainter>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <random>
#include <string>
#include <vector>

namespace {

TEST(PlotPointStore, PyramidBoundsMatchThePointsAtEverySize)
{
    std::mt19937 rng(7);
    std::normal_distribution<double> step(0.0, 1.0);
    TiPlotPointStore store;
    double x = 0, y = 0;
    // Sizes around block and chunk edges, and past the first level above a chunk.
    for (std::size_t target : { 1u, 15u, 16u, 17u, 4096u, 4097u, 65536u, 65537u, 70001u }) {
        while (store.size() < target) {
            x += std::abs(step(rng)) - 0.2; // mostly forward, sometimes back
            y += step(rng);
            store.append(x, y);
        }
        for (int level = 1; level <= store.top_level(); ++level) {
            const std::size_t width = std::size_t(1) << (4 * level);
            ASSERT_EQ(store.block_count(level), (store.size() + width - 1) / width);
            for (std::size_t b = 0; b < store.block_count(level); ++b) {
                TiPlotBounds want { store.x(b * width), store.x(b * width), store.y(b * width),
                    store.y(b * width) };
                for (std::size_t i = b * width; i < std::min(store.size(), (b + 1) * width); ++i) {
                    want.x_min = std::min(want.x_min, store.x(i));
                    want.x_max = std::max(want.x_max, store.x(i));
                    want.y_min = std::min(want.y_min, store.y(i));
                    want.y_max = std::max(want.y_max, store.y(i));
                }
                const TiPlotBounds got = store.bounds(level, b);
                ASSERT_EQ(got.x_min, want.x_min) << "size " << target << " level " << level << " block " << b;
                ASSERT_EQ(got.x_max, want.x_max);
                ASSERT_EQ(got.y_min, want.y_min);
                ASSERT_EQ(got.y_max, want.y_max);
            }
        }
        EXPECT_EQ(store.block_count(store.top_level()), 1u) << "size " << target;
    }
}

TEST(PlotPointStore, HoldsAMillionPointsInUnderTenBytesEach)
{
    TiPlotPointStore store;
    for (int i = 0; i < 1'000'000; ++i)
        store.append(i * 0.5, (i % 977) * 0.25);
    EXPECT_LE(double(store.memory_bytes()) / double(store.size()), 10.0);
    EXPECT_EQ(store.x(999'999), 999'999 * 0.5);
    EXPECT_EQ(store.y(977 + 3), 0.75);
}

// Points are held as floats: x relative to its chunk's first x, so a clock in
// minutes keeps its fine steps however long it runs; y to seven digits; values
// beyond the float range are held at its end, NaN stays NaN.
TEST(PlotPointStore, KeepsTheDigitsAChartNeeds)
{
    TiPlotPointStore store;
    const double step = 2.0 / 60; // a 2-s poll in minutes
    for (int i = 0; i < 3 * 4096; ++i)
        store.append(1e6 + i * step, 25.3 + (i % 10) * 0.001);
    for (std::size_t i :
        { std::size_t(0), std::size_t(4095), std::size_t(4096), std::size_t(3 * 4096 - 1) }) {
        EXPECT_NEAR(store.x(i), 1e6 + double(i) * step, 1e-6) << i;
        EXPECT_NEAR(store.y(i), 25.3 + double(i % 10) * 0.001, 2e-6) << i;
    }
    TiPlotPointStore edges;
    edges.append(0, 1e300);
    edges.append(1, -1e300);
    edges.append(2, std::nan(""));
    EXPECT_EQ(edges.y(0), double(std::numeric_limits<float>::max()));
    EXPECT_EQ(edges.y(1), -double(std::numeric_limits<float>::max()));
    EXPECT_TRUE(std::isnan(edges.y(2)));
}

struct SeriesCase {
    const char* name;
    std::size_t points;
    std::function<void(std::mt19937&, std::size_t, double&, double&)> next; // point i -> (x, y)
    TiPlotTraceView view;
};

// 160 x 90 pixels; x ranges chosen so each case puts many points per column.
const std::vector<SeriesCase> kSeries = {
    { "dense_forward", 200'000,
        [](std::mt19937& r, std::size_t i, double& x, double& y) {
            x = double(i) * 0.005;
            y += std::normal_distribution<double>(0, 1)(r);
        },
        { 0, 1000, -400, 800, 160, 90 } },
    { "dense_with_falls_back", 150'000,
        [](std::mt19937& r, std::size_t i, double& x, double& y) {
            // A clock that wraps three times: sweeps overlap the same columns.
            x = double(i % 40'000) * 0.025;
            y = 50 * std::sin(double(i) * 0.0003) + std::normal_distribution<double>(0, 3)(r)
                + double(i / 40'000) * 40;
        },
        { 0, 1000, -100, 300, 160, 90 } },
    { "partial_view_and_clipped_y", 120'000,
        [](std::mt19937& r, std::size_t i, double& x, double& y) {
            x = double(i) * 0.01 - 300;
            y = 80 * std::sin(double(i) * 0.0011) + std::normal_distribution<double>(0, 5)(r);
        },
        { 200, 400, -60, 100, 160, 90 } },
    { "random_x", 3000,
        [](std::mt19937& r, std::size_t, double& x, double& y) {
            x = std::uniform_real_distribution<double>(-20, 120)(r);
            y = std::uniform_real_distribution<double>(-20, 120)(r);
        },
        { 0, 100, 0, 100, 160, 90 } },
    { "sparse_segments_span_columns", 40,
        [](std::mt19937& r, std::size_t i, double& x, double& y) {
            x = double(i) * 2.7 + std::uniform_real_distribution<double>(0, 1)(r);
            y = std::uniform_real_distribution<double>(0, 100)(r);
        },
        { 0, 100, 0, 100, 160, 90 } },
    { "breaks_across_gaps", 100'000,
        [](std::mt19937& r, std::size_t i, double& x, double& y) {
            // Four pieces 100 apart in x, each ended by a break (NaN): no line
            // may cross the gaps.
            x = double(i) * 0.01 + double(i / 25'000) * 100;
            y = 100 * std::sin(double(i) * 0.001) + std::normal_distribution<double>(0, 2)(r);
            if (i % 25'000 == 24'999)
                y = std::nan("");
        },
        { 0, 1400, -150, 300, 160, 90 } },
    { "steps_back_by_small_amounts", 60'000,
        [](std::mt19937& r, std::size_t, double& x, double& y) {
            x += std::uniform_real_distribution<double>(-0.004, 0.006)(r);
            y += std::normal_distribution<double>(0, 0.5)(r);
        },
        { 0, 60, -150, 300, 160, 90 } },
};

QImage spans_image(const std::vector<TiPlotSpan>& spans, const TiPlotTraceView& v)
{
    QImage img(v.width, v.height, QImage::Format_RGB32);
    img.fill(Qt::black);
    QPainter p(&img);
    for (const TiPlotSpan& s : spans)
        p.fillRect(s.column, s.row_top, 1, s.row_bottom - s.row_top + 1, Qt::white);
    return img;
}

// Every segment drawn by QPainter (aliased, 1 pixel) in the same mapping.
QImage painter_image(const TiPlotPointStore& st, const TiPlotTraceView& v)
{
    QImage img(v.width, v.height, QImage::Format_RGB32);
    img.fill(Qt::black);
    QPainter p(&img);
    p.setPen(QPen(Qt::white, 1));
    auto map = [&](std::size_t i) {
        return QPointF((st.x(i) - v.x_min) * (v.width - 1) / v.x_span,
            (v.y_min + v.y_span - st.y(i)) * (v.height - 1) / v.y_span);
    };
    if (st.size() == 1)
        p.drawPoint(map(0));
    for (std::size_t i = 1; i < st.size(); ++i)
        if (!std::isnan(st.y(i - 1)) && !std::isnan(st.y(i))) // a break lifts the pen
            p.drawLine(map(i - 1), map(i));
    return img;
}

bool lit(const QImage& img, int x, int y)
{
    return (img.pixel(x, y) & 0xffffff) != 0;
}

// Pixels lit in `a` with no lit pixel of `b` within `radius` (Chebyshev).
int unmatched(const QImage& a, const QImage& b, int radius)
{
    int count = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) {
            if (!lit(a, x, y))
                continue;
            bool found = false;
            for (int dy = -radius; dy <= radius && !found; ++dy)
                for (int dx = -radius; dx <= radius && !found; ++dx) {
                    const int xx = x + dx, yy = y + dy;
                    found = xx >= 0 && yy >= 0 && xx < b.width() && yy < b.height() && lit(b, xx, yy);
                }
            count += found ? 0 : 1;
        }
    return count;
}

int lit_count(const QImage& img)
{
    int n = 0;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x)
            n += lit(img, x, y) ? 1 : 0;
    return n;
}

void PrintTo(const SeriesCase& c, std::ostream* os)
{
    *os << c.name;
}

void fill(TiPlotPointStore& store, const SeriesCase& c, std::mt19937& rng)
{
    double x = 0, y = 0;
    for (std::size_t i = 0; i < c.points; ++i) {
        c.next(rng, i, x, y);
        store.append(x, y);
    }
}

class DecimatedTraceTest : public ::testing::TestWithParam<SeriesCase> { };

TEST_P(DecimatedTraceTest, CoversTheSamePixelsAsEverySegment)
{
    const SeriesCase& c = GetParam();
    std::mt19937 rng(1234);
    TiPlotPointStore store;
    fill(store, c, rng);
    std::vector<TiPlotSpan> decimated, every;
    render_trace(store, c.view, decimated);
    render_trace_every_segment(store, c.view, every);
    const QImage dec_img = spans_image(decimated, c.view);
    const QImage every_img = spans_image(every, c.view);
    const QImage painter_img = painter_image(store, c.view);

    if (!qEnvironmentVariableIsEmpty("IPLOT_DUMP")) {
        dec_img.save(QStringLiteral("/tmp/%1_dec.png").arg(QString::fromUtf8(c.name)));
        painter_img.save(QStringLiteral("/tmp/%1_painter.png").arg(QString::fromUtf8(c.name)));
    }
    ASSERT_GT(lit_count(dec_img), c.view.width / 2) << "the trace must be visible";
    // Same sweep rule, so the same pixels exactly.
    EXPECT_EQ(dec_img, every_img);
    // Against QPainter's own line drawing: equal within one pixel either way.
    EXPECT_EQ(unmatched(dec_img, painter_img, 1), 0);
    EXPECT_EQ(unmatched(painter_img, dec_img, 1), 0);
    // And far fewer spans than points once points are dense.
    if (c.points > 10'000) {
        EXPECT_LT(decimated.size(), c.points / 20);
    }
}

INSTANTIATE_TEST_SUITE_P(Plot, DecimatedTraceTest, ::testing::ValuesIn(kSeries),
    [](const auto& param_info) { return std::string(param_info.param.name); });

// The pyramid search finds the point nearest in x, the newest of equally near
// ones, whatever the series does.
TEST_P(DecimatedTraceTest, NearestPointMatchesAFullScan)
{
    const SeriesCase& c = GetParam();
    std::mt19937 rng(99);
    TiPlotPointStore store;
    fill(store, c, rng);
    std::uniform_real_distribution<double> query(c.view.x_min - 10, c.view.x_min + c.view.x_span + 10);
    for (int k = 0; k < 200; ++k) {
        const double q = k == 0 ? store.x(store.size() / 2) : query(rng);
        std::ptrdiff_t want = -1;
        double best = HUGE_VAL;
        for (std::size_t i = 0; i < store.size(); ++i)
            if (std::abs(store.x(i) - q) <= best) {
                best = std::abs(store.x(i) - q);
                want = std::ptrdiff_t(i);
            }
        ASSERT_EQ(nearest_point(store, q), want) << "query " << q;
    }
    EXPECT_EQ(nearest_point(store, std::nan("")), -1);
    EXPECT_EQ(nearest_point(TiPlotPointStore(), 1.0), -1);
}

TEST(PlotTrace, SinglePointAndPointsOnTheAxisEdgesAreDrawn)
{
    TiPlotPointStore one;
    one.append(50, 50);
    std::vector<TiPlotSpan> spans;
    const TiPlotTraceView v { 0, 100, 0, 100, 101, 101 };
    render_trace(one, v, spans);
    ASSERT_EQ(spans.size(), 1u);
    EXPECT_EQ(spans[0].column, 50);
    EXPECT_EQ(spans[0].row_top, 50);

    // A trace lying on Min of the Y axis (a clamped deviation) sits on the last row.
    TiPlotPointStore edge;
    edge.append(0, 0);
    edge.append(100, 0);
    spans.clear();
    render_trace(edge, v, spans);
    ASSERT_EQ(spans.size(), 101u);
    EXPECT_EQ(spans.front().column, 0);
    EXPECT_EQ(spans.back().column, 100);
    for (const TiPlotSpan& s : spans)
        EXPECT_EQ(s.row_top, 100);

    // A break between two points: each is drawn, nothing between them.
    TiPlotPointStore broken;
    broken.append(10, 50);
    broken.append(10, std::nan(""));
    broken.append(90, 50);
    spans.clear();
    render_trace(broken, v, spans);
    ASSERT_EQ(spans.size(), 2u);
    EXPECT_EQ(spans[0].column, 10);
    EXPECT_EQ(spans[1].column, 90);
    // Its bounds hold the two points only.
    EXPECT_EQ(broken.bounds(broken.top_level(), 0).y_min, 50);
    EXPECT_EQ(broken.bounds(broken.top_level(), 0).y_max, 50);
}

} // namespace
