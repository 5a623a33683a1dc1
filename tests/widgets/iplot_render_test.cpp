// What a configured chart draws: black background, the title, traces in their
// colours inside the plot, the legend with every channel's colour, scale labels
// in the colour chosen for them.
#include "iPlot.h"

#include <QImage>
#include <QPainter>

#include <gtest/gtest.h>

#include <cmath>

namespace {

const QColor kTrendColours[8] = { QColor(255, 0, 0), QColor(255, 255, 0), QColor(0, 0, 255),
    QColor(255, 0, 255), QColor(0, 255, 255), QColor(0, 255, 0), QColor(255, 255, 255), QColor(128, 0, 0) };

// A trend chart as the main window sets it up, with four instruments' PV and
// SV over 260 minutes (so the X axis has scrolled).
void make_trend_chart(TiPlot& plot)
{
    plot.resize(725, 320);
    for (int i = 0; i < 8; ++i)
        plot.AddChannel(QStringLiteral("Channel %1").arg(i + 1), kTrendColours[i]);
    plot.setTitleText(QStringLiteral("实时温度曲线"));
    plot.YAxis(0)->setTitle(QStringLiteral("温度值(℃)"));
    plot.YAxis(0)->setTitleShow(true);
    plot.XAxis(0)->setTitle(QStringLiteral("采样时间(t)"));
    plot.XAxis(0)->setTitleShow(true);
    plot.XAxis(0)->setSpan(200);
    plot.XAxis(0)->setLabelsFontColor(QColor(255, 0, 0));
    const int addresses[4] = { 1, 2, 5, 17 };
    for (int t = 0; t <= 260 * 6; ++t) { // a point every 10 s
        const double x = t / 6.0;
        for (int p = 0; p < 4; ++p) {
            // Heating from room temperature toward SV, SV raised at 150 min.
            const double sv = 40 + 20 * p + (x >= 150 ? 15 : 0);
            const double from = x >= 150 ? 15.0 : sv - 20;
            const double age = x >= 150 ? x - 150 : x;
            const double pv = sv - from * std::exp(-age / (12.0 + 4 * p)) * std::cos(age / (9.0 + 2 * p))
                + 0.4 * std::sin(t * 0.7 + p);
            plot.Channel(2 * p)->AddXY(x, pv);
            plot.Channel(2 * p)->setTitleText(QStringLiteral("%1#").arg(addresses[p]));
            plot.Channel(2 * p + 1)->AddXY(x, sv);
            plot.Channel(2 * p + 1)->setTitleText(QStringLiteral("%1#set").arg(addresses[p]));
        }
    }
}

QImage render(const TiPlot& plot)
{
    QImage img(plot.size(), QImage::Format_RGB32);
    QPainter p(&img);
    plot.paint_plot(p, plot.size());
    return img;
}

int count_colour(const QImage& img, const QRect& r, const QColor& c)
{
    int n = 0;
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x)
            n += img.pixelColor(x, y) == c ? 1 : 0;
    return n;
}

TEST(PlotRender, TrendChartShowsTitleTracesAndLegend)
{
    TiPlot plot;
    make_trend_chart(plot);
    EXPECT_DOUBLE_EQ(plot.XAxis(0)->Min(), 60) << "scrolled to keep the newest point at the right end";
    const QImage img = render(plot);
    if (!qEnvironmentVariableIsEmpty("IPLOT_SAVE_PNG"))
        img.save(qEnvironmentVariable("IPLOT_SAVE_PNG"));

    EXPECT_EQ(img.pixelColor(1, img.height() - 2), QColor(Qt::black));
    // Title: white text centred in the top rows.
    EXPECT_GT(count_colour(img, QRect(250, 0, 225, 24), Qt::white), 20);
    // Every channel's colour shows, both in the traces and in the legend on the right.
    const QRect legend(img.width() - 110, 30, 110, 180);
    const QRect traces(60, 40, 500, 220);
    for (const QColor& c : kTrendColours) {
        EXPECT_GT(count_colour(img, legend, c), 20) << c.name().toStdString();
        EXPECT_GT(count_colour(img, traces, c), 100) << c.name().toStdString();
    }
}

TEST(PlotRender, LabelsFontColourRecoloursOnlyTheScaleLabels)
{
    TiPlot plot;
    plot.resize(500, 260);
    const QImage white = render(plot);
    plot.XAxis(0)->setLabelsFontColor(QColor(255, 0, 0));
    const QImage red = render(plot);
    int changed = 0;
    for (int y = 0; y < white.height(); ++y)
        for (int x = 0; x < white.width(); ++x) {
            if (white.pixel(x, y) == red.pixel(x, y))
                continue;
            ++changed;
            const QColor c = red.pixelColor(x, y);
            ASSERT_EQ(c.green(), 0) << x << "," << y;
            ASSERT_EQ(c.blue(), 0) << x << "," << y;
            ASSERT_GT(y, white.height() - 45) << "only the X scale, under the plot, changes";
        }
    EXPECT_GT(changed, 30);
}

TEST(PlotRender, DeviationTraceOnTheAxisLimitsStaysVisible)
{
    TiPlot plot;
    plot.resize(725, 340);
    TiPlotChannel* c = plot.AddChannel(QStringLiteral("Channel1"), QColor(255, 0, 0));
    plot.YAxis(0)->setMin(-0.5);
    plot.YAxis(0)->setSpan(1);
    for (int t = 0; t < 100; ++t)
        c->AddXY(t, t < 50 ? -0.5 : 0.5); // clamped deviations on both limits
    EXPECT_DOUBLE_EQ(plot.YAxis(0)->Min(), -0.5);
    EXPECT_DOUBLE_EQ(plot.YAxis(0)->Span(), 1);
    const QImage img = render(plot);
    // Both horizontal runs are drawn: count red pixels per row, expect two long rows.
    int long_rows = 0;
    for (int y = 0; y < img.height(); ++y)
        long_rows += count_colour(img, QRect(0, y, img.width() - 120, 1), QColor(255, 0, 0)) > 200 ? 1 : 0;
    EXPECT_EQ(long_rows, 2);
}

} // namespace
