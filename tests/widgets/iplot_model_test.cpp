// TiPlot's object model: axis tracking, collections and their index errors,
// channel statistics, the title, and the toolbar's views.
#include "errors.h"
#include "iPlot.h"

#include <QDate>
#include <QImageReader>
#include <QMouseEvent>
#include <QPainter>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <optional>
#include <string>
#include <vector>

namespace {

struct TrackingCase {
    const char* name;
    bool horizontal;
    TiPlotTrackingStyle style;
    TiPlotAlignFirstStyle align;
    double min, span;
    // Each value is tracked in turn; after it the axis must show want_min/want_span.
    struct Step {
        double v, want_min, want_span;
    };
    std::vector<Step> steps;
};

const std::vector<TrackingCase> kTracking = {
    { "x_scrolls_past_end_then_falls_back", true, iptsScrollSmooth, ipafsAuto, 0, 200,
        { { 0, 0, 200 }, { 100, 0, 200 }, { 200, 0, 200 }, { 250, 50, 200 }, { 30, 30, 200 } } },
    { "x_first_value_outside_moves_start", true, iptsScrollSmooth, ipafsAuto, 0, 200,
        { { 500, 500, 200 }, { 701, 501, 200 } } },
    { "x_first_value_below_moves_start", true, iptsScrollSmooth, ipafsAuto, 0, 200, { { -40, -40, 200 } } },
    { "x_clock_wraps_back_to_small_values", true, iptsScrollSmooth, ipafsAuto, 0, 200,
        { { 1000, 1000, 200 }, { 1092.25, 1000, 200 }, { 1300, 1100, 200 }, { 0.5, 0.5, 200 },
            { 1, 0.5, 200 } } },
    { "y_grows_up_then_start_moves_down", false, iptsScaleMinMax, ipafsNone, 0, 100,
        { { 150, 0, 150 }, { -20, -20, 150 } } },
    { "y_first_value_outside_is_not_aligned", false, iptsScaleMinMax, ipafsNone, 0, 100,
        { { -30, -30, 100 }, { 50, -30, 100 }, { 80, -30, 110 } } },
    { "deviation_axis_keeps_range_inside", false, iptsScaleMinMax, ipafsNone, -0.5, 1.0,
        { { -0.5, -0.5, 1.0 }, { 0.5, -0.5, 1.0 }, { 0.3, -0.5, 1.0 }, { 0, -0.5, 1.0 },
            { -0.49, -0.5, 1.0 } } },
    { "align_min_and_max_formulae", true, iptsScrollSmooth, ipafsMin, 0, 200, { { 120, 120, 200 } } },
    { "align_max", true, iptsScrollSmooth, ipafsMax, 0, 200, { { 120, -80, 200 } } },
    { "unbuilt_style_leaves_axis", true, iptsExpandCollapse, ipafsNone, 0, 100, { { 500, 0, 100 } } },
};

void PrintTo(const TrackingCase& c, std::ostream* os)
{
    *os << c.name;
}

class TrackingTest : public ::testing::TestWithParam<TrackingCase> { };

TEST_P(TrackingTest, AxisFollowsValues)
{
    const TrackingCase& c = GetParam();
    TiPlot plot;
    TiPlotAxis* axis = c.horizontal ? static_cast<TiPlotAxis*>(plot.XAxis(0)) : plot.YAxis(0);
    axis->setTrackingStyle(c.style);
    axis->setTrackingAlignFirstStyle(c.align);
    axis->setMin(c.min);
    axis->setSpan(c.span);
    for (const auto& s : c.steps) {
        axis->track(s.v);
        EXPECT_DOUBLE_EQ(axis->Min(), s.want_min) << "after " << s.v;
        EXPECT_DOUBLE_EQ(axis->Span(), s.want_span) << "after " << s.v;
    }
}

INSTANTIATE_TEST_SUITE_P(Plot, TrackingTest, ::testing::ValuesIn(kTracking),
    [](const auto& param_info) { return std::string(param_info.param.name); });

TEST(PlotTracking, DefaultsAndSwitchesRouteValuesThroughChannels)
{
    TiPlot plot;
    EXPECT_EQ(plot.XAxis(0)->TrackingStyle(), iptsScrollSmooth);
    EXPECT_EQ(plot.XAxis(0)->TrackingAlignFirstStyle(), ipafsAuto);
    EXPECT_EQ(plot.YAxis(0)->TrackingStyle(), iptsScaleMinMax);
    EXPECT_EQ(plot.YAxis(0)->TrackingAlignFirstStyle(), ipafsNone);

    TiPlotChannel* ch = plot.AddChannel(QStringLiteral("Channel 1"));
    ch->AddXY(150, 130); // first x beyond 0..100 moves the start; y grows the span
    EXPECT_DOUBLE_EQ(plot.XAxis(0)->Min(), 150);
    EXPECT_DOUBLE_EQ(plot.YAxis(0)->Span(), 130);

    ch->setXAxisTrackingEnabled(false);
    ch->AddXY(900, 10);
    EXPECT_DOUBLE_EQ(plot.XAxis(0)->Min(), 150);
    EXPECT_DOUBLE_EQ(plot.YAxis(0)->Min(), 0);

    ch->setYAxisTrackingEnabled(false);
    ch->AddXY(900, -50);
    EXPECT_DOUBLE_EQ(plot.YAxis(0)->Min(), 0);

    // An axis with tracking off ignores values and does not use up its first value.
    TiPlot other;
    other.XAxis(0)->setTrackingEnabled(false);
    other.XAxis(0)->track(500);
    EXPECT_DOUBLE_EQ(other.XAxis(0)->Min(), 0);
    EXPECT_FALSE(other.XAxis(0)->FirstValueReceived());
}

TEST(PlotAxis, MinAndSpanKeptWithinLimits)
{
    TiPlot plot;
    TiPlotAxis* a = plot.YAxis(0);
    a->setSpan(0);
    EXPECT_DOUBLE_EQ(a->Span(), 1e-300);
    a->setSpan(-5);
    EXPECT_DOUBLE_EQ(a->Span(), 1e-300);
    a->setSpan(1e301);
    EXPECT_DOUBLE_EQ(a->Span(), 1e300);
    a->setMin(-1e305);
    EXPECT_DOUBLE_EQ(a->Min(), -1e300);
    a->setMin(std::numeric_limits<double>::infinity());
    EXPECT_DOUBLE_EQ(a->Min(), 1e300);
    a->setMin(std::nan(""));
    EXPECT_DOUBLE_EQ(a->Min(), 1e300);
}

TEST(PlotCollections, IndexOutsideRaisesAndAddsNothing)
{
    TiPlot plot;
    for (int i = 0; i < 4; ++i)
        plot.AddChannel(QStringLiteral("Channel %1").arg(i + 1));
    for (int bad : { 4, -1, 100 }) {
        try {
            plot.Channel(bad)->AddXY(1, 1);
            FAIL() << "no exception for " << bad;
        } catch (const EListError& e) {
            EXPECT_EQ(std::string(e.what()), "List index out of bounds (" + std::to_string(bad) + ")");
        }
    }
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(plot.Channel(i)->Count(), 0);
    EXPECT_THROW(plot.XAxis(1), EListError);
    EXPECT_THROW(plot.YAxis(-1), EListError);
    EXPECT_THROW(plot.Channel(0)->DataX(0), EListError);

    // The form's objects, by name, in design order.
    EXPECT_EQ(plot.ToolBarManager().Items(0)->Name(), QStringLiteral("Toolbar 1"));
    EXPECT_DOUBLE_EQ(plot.ToolBarManager().Items(0)->ZoomFactor(), 2.0);
    EXPECT_EQ(plot.LegendManager().Items(0)->Orientation(), ioVertical);
    EXPECT_EQ(plot.DataViewManager().Items(0)->Name(), QStringLiteral("Data View 1"));
    EXPECT_TRUE(plot.DataViewManager().Items(0)->GridShow());
    EXPECT_FALSE(plot.DataCursorManager().Items(0)->Visible());
    EXPECT_EQ(plot.TitleText(), QStringLiteral("Untitled"));
    EXPECT_EQ(plot.Channel(3)->Name(), QStringLiteral("Channel 4"));
    EXPECT_EQ(plot.Channel(3)->XAxisName(), QStringLiteral("X-Axis 1"));
    EXPECT_EQ(plot.Channel(3)->YAxis(), plot.YAxis(0));
}

TEST(PlotChannel, StatisticsAfterAFewPoints)
{
    TiPlot plot;
    TiPlotChannel* c = plot.AddChannel(QStringLiteral("Channel 1"));
    EXPECT_EQ(c->Count(), 0);
    EXPECT_DOUBLE_EQ(c->XMean(), 0);
    EXPECT_DOUBLE_EQ(c->YMax(), 0);

    c->AddXY(1, 10);
    c->AddXY(3, -2);
    c->AddXY(2, 4.5);
    c->AddXY(-1, 7.5);
    EXPECT_EQ(c->Count(), 4);
    EXPECT_DOUBLE_EQ(c->XMin(), -1);
    EXPECT_DOUBLE_EQ(c->XMax(), 3);
    EXPECT_DOUBLE_EQ(c->YMin(), -2);
    EXPECT_DOUBLE_EQ(c->YMax(), 10);
    EXPECT_DOUBLE_EQ(c->XSum(), 5);
    EXPECT_DOUBLE_EQ(c->YSum(), 20);
    EXPECT_DOUBLE_EQ(c->XMean(), 1.25);
    EXPECT_DOUBLE_EQ(c->YMean(), 5);
    EXPECT_DOUBLE_EQ(c->DataX(1), 3);
    EXPECT_DOUBLE_EQ(c->DataY(3), 7.5);
}

TEST(PlotTitle, SetsFirstLabelAndIsIgnoredWithoutLabel)
{
    TiPlot plot;
    plot.setTitleText(QStringLiteral("实时温度曲线"));
    EXPECT_EQ(plot.LabelManager().Items(0)->Caption(), QStringLiteral("实时温度曲线"));

    plot.LabelManager().Clear();
    plot.setTitleText(QStringLiteral("实时偏差曲线"));
    EXPECT_EQ(plot.LabelManager().Count(), 0);
    EXPECT_TRUE(plot.TitleText().isEmpty());
}

TEST(PlotToolbar, PauseHoldsViewZoomScalesResumeFollowsTracking)
{
    TiPlot plot;
    TiPlotAxis* x = plot.XAxis(0);
    x->setSpan(200);
    TiPlotChannel* c = plot.AddChannel(QStringLiteral("Channel 1"));
    c->AddXY(300, 50); // first value: Min 300
    ASSERT_DOUBLE_EQ(x->Min(), 300);

    // Live zoom keeps the newest point in view, inside the axis range: here
    // at the start of the X axis, and in the middle of the Y axis.
    plot.zoom_in();
    EXPECT_DOUBLE_EQ(x->view_span(), 100);
    EXPECT_DOUBLE_EQ(x->view_min(), 300);
    EXPECT_DOUBLE_EQ(plot.YAxis(0)->view_span(), 50);
    EXPECT_DOUBLE_EQ(plot.YAxis(0)->view_min(), 25);
    EXPECT_DOUBLE_EQ(x->Span(), 200) << "zoom never changes the tracked axis";

    // Pause by clicking the first toolbar button: the view stays while points arrive.
    const QPointF at = plot.tool_button_rect(TiPlot::tbPause).center();
    QMouseEvent press(QEvent::MouseButtonPress, at, plot.mapToGlobal(at), Qt::LeftButton, Qt::LeftButton, {});
    QCoreApplication::sendEvent(&plot, &press);
    ASSERT_TRUE(plot.tracking_paused());
    c->AddXY(800, 50);
    EXPECT_DOUBLE_EQ(x->Min(), 600);
    EXPECT_DOUBLE_EQ(x->view_min(), 300);
    EXPECT_DOUBLE_EQ(x->view_span(), 100);

    plot.zoom_out(); // paused: around the centre 350
    EXPECT_DOUBLE_EQ(x->view_min(), 250);
    EXPECT_DOUBLE_EQ(x->view_span(), 200);

    plot.resume_scrolling(); // follows again at the live zoom (100)
    EXPECT_FALSE(plot.tracking_paused());
    EXPECT_DOUBLE_EQ(x->view_min(), 700);
    EXPECT_DOUBLE_EQ(x->view_span(), 100);

    plot.resume_tracking();
    EXPECT_DOUBLE_EQ(x->view_min(), 600);
    EXPECT_DOUBLE_EQ(x->view_span(), 200);
}

// A chart set up as the station's trend charts (200-minute X axis from 0,
// Y 0..100) after five minutes of points every 2 s.
struct FiveMinuteChart {
    TiPlot plot;
    TiPlotChannel* pv = nullptr;
    FiveMinuteChart()
    {
        plot.resize(725, 320);
        plot.XAxis(0)->setSpan(200);
        pv = plot.AddChannel(QStringLiteral("Channel 1"), Qt::red);
        for (int t = 0; t <= 150; ++t)
            pv->AddXY(t * 2 / 60.0, 20 + t * 0.1);
    }
};

// The newest point must stay in view while live, however far one zooms in,
// and the trace must be drawn there.
TEST(PlotToolbar, LiveZoomKeepsTheNewestPointInView)
{
    FiveMinuteChart c;
    const double newest_x = c.pv->DataX(c.pv->Count() - 1);
    const double newest_y = c.pv->DataY(c.pv->Count() - 1);
    for (int zoom = 1; zoom <= 5; ++zoom) {
        c.plot.zoom_in();
        const TiPlotAxis& x = *c.plot.XAxis(0);
        const TiPlotAxis& y = *c.plot.YAxis(0);
        SCOPED_TRACE(zoom);
        EXPECT_LE(x.view_min(), newest_x);
        EXPECT_GE(x.view_min() + x.view_span(), newest_x);
        EXPECT_LE(y.view_min(), newest_y);
        EXPECT_GE(y.view_min() + y.view_span(), newest_y);
        EXPECT_DOUBLE_EQ(x.view_span(), 200 / std::pow(2.0, zoom));
    }
    QImage img(c.plot.size(), QImage::Format_RGB32);
    QPainter p(&img);
    c.plot.paint_plot(p, c.plot.size());
    p.end();
    int red = 0;
    for (int yy = 0; yy < img.height(); ++yy)
        for (int xx = 0; xx < img.width(); ++xx)
            red += img.pixel(xx, yy) == qRgb(255, 0, 0) ? 1 : 0;
    EXPECT_GT(red, 100) << "the curve is drawn in the zoomed view";

    // Zooming further in than the data reaches keeps the newest point at the
    // right end once the history is longer than the view.
    for (int t = 151; t <= 600; ++t)
        c.pv->AddXY(t * 2 / 60.0, 35);
    EXPECT_DOUBLE_EQ(c.plot.XAxis(0)->view_min() + c.plot.XAxis(0)->view_span(), 20.0);
}

// The span button: a chosen span shows the newest history (the oldest at the
// left while the history is shorter), all history widens with every point,
// and a choice drops pause and zoom.
TEST(PlotToolbar, SpanChoicesShowTheNewestHistoryOrAllOfIt)
{
    FiveMinuteChart c; // points at x 0 .. 5
    c.plot.set_span_choices({ { QStringLiteral("10分钟"), 10 }, { QStringLiteral("1小时"), 60 },
        { QStringLiteral("200分钟"), 200 }, { QStringLiteral("全部"), 0 } });
    TiPlotAxis& x = *c.plot.XAxis(0);
    EXPECT_EQ(c.plot.chosen_span(), 2);
    EXPECT_FALSE(c.plot.tool_button_rect(TiPlot::tbSpan).isEmpty());
    EXPECT_TRUE(c.plot.toolbar_rect().contains(c.plot.tool_button_rect(TiPlot::tbSave)));
    c.plot.zoom_in();
    c.plot.pause_tracking();

    const struct {
        int choice;
        double add_up_to; // points every 2 s up to this x first (0: none)
        double want_min, want_span;
    } steps[] = {
        { 0, 0, 0, 10 }, // shorter history: from its start
        { -1, 30, 20, 10 }, // live: scrolls with the newest point
        { 2, 0, 0, 200 },
        { 3, 0, 0, 30 }, // all history
        { -1, 40, 0, 40 }, // and it widens
        { 1, 0, 0, 60 },
        { -1, 100, 40, 60 },
    };
    double last = 5;
    for (const auto& s : steps) {
        for (; last < s.add_up_to - 1e-9; last += 2 / 60.0)
            c.pv->AddXY(last + 2 / 60.0, 25);
        if (s.choice >= 0) {
            c.plot.choose_span(s.choice);
            EXPECT_EQ(c.plot.chosen_span(), s.choice);
        }
        SCOPED_TRACE(s.choice);
        EXPECT_NEAR(x.Min(), s.want_min, 0.05);
        EXPECT_NEAR(x.Span(), s.want_span, 0.05);
        EXPECT_FALSE(c.plot.tracking_paused());
        EXPECT_DOUBLE_EQ(x.view_span(), x.Span()) << "no zoom left";
    }
}

// The cross-hair read-out: the X under the mouse and each channel's nearest
// point, only while the data cursor is visible and the mouse is over the plot.
TEST(PlotReadout, ShowsEachChannelsValueUnderTheMouse)
{
    TiPlot plot;
    plot.resize(725, 320);
    TiPlotChannel* up = plot.AddChannel(QStringLiteral("Channel 1"), Qt::red);
    TiPlotChannel* down = plot.AddChannel(QStringLiteral("Channel 2"), Qt::yellow);
    TiPlotChannel* empty = plot.AddChannel(QStringLiteral("Channel 3"), Qt::blue);
    for (int i = 0; i <= 100; ++i) {
        up->AddXY(i * 0.5, i);
        down->AddXY(i * 0.5, 100 - i);
    }
    QImage img(plot.size(), QImage::Format_RGB32);
    auto paint = [&] {
        QPainter p(&img);
        plot.paint_plot(p, plot.size());
    };
    paint();
    const QRect area = plot.plot_area();
    ASSERT_GT(area.width(), 100);
    auto move_to = [&](double x) {
        const QPointF at(area.left() + x / 100 * (area.width() - 1), area.center().y());
        QMouseEvent move(QEvent::MouseMove, at, plot.mapToGlobal(at), Qt::NoButton, Qt::NoButton, {});
        QCoreApplication::sendEvent(&plot, &move);
    };

    move_to(20);
    EXPECT_FALSE(plot.current_readout()) << "the data cursor is hidden by default";
    plot.DataCursorManager().Items(0)->setVisible(true);
    std::optional<TiPlot::Readout> r = plot.current_readout();
    ASSERT_TRUE(r);
    EXPECT_NEAR(r->x, 20, 0.1);
    ASSERT_EQ(r->values.size(), 2u) << "a channel without points has no value";
    EXPECT_EQ(r->values[0].channel, 0);
    EXPECT_DOUBLE_EQ(r->values[0].x, 20);
    EXPECT_DOUBLE_EQ(r->values[0].y, 40);
    EXPECT_EQ(r->values[1].channel, 1);
    EXPECT_DOUBLE_EQ(r->values[1].y, 60);
    (void)empty;

    // Drawn: the cross-hair changes the picture.
    const QImage without = img;
    paint();
    EXPECT_NE(img, without);

    // Past the newest point there is no value under the mouse.
    move_to(80);
    r = plot.current_readout();
    ASSERT_TRUE(r);
    EXPECT_NEAR(r->x, 80, 0.1);
    EXPECT_TRUE(r->values.empty());

    // A zoomed view shows only points inside it.
    plot.XAxis(0)->hold_view(60, 40);
    EXPECT_TRUE(plot.readout_at(70).values.empty());

    QEvent leave(QEvent::Leave);
    QCoreApplication::sendEvent(&plot, &leave);
    EXPECT_FALSE(plot.current_readout());
}

TEST(PlotToolbar, SavePngWritesTheChart)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    TiPlot plot;
    plot.resize(400, 250);
    const QString path = dir.filePath(QStringLiteral("chart.png"));
    ASSERT_TRUE(plot.save_png(path));
    QImageReader reader(path);
    EXPECT_EQ(reader.format(), "png");
    EXPECT_EQ(reader.size(), QSize(400, 250));
    EXPECT_FALSE(plot.save_png(dir.filePath(QStringLiteral("missing/chart.png"))));
}

// A time axis (minutes of the clock): ticks on whole clock marks spaced at
// least the gap apart, read as the clock shows them; days at midnight.
TEST(PlotTimeAxis, TicksFallOnClockMarksAndReadAsTimes)
{
    // 2026-03-01 13:07:23 as minutes from 1970-01-01 00:00.
    const double t0 = (QDate(2026, 3, 1).toJulianDay() - QDate(1970, 1, 1).toJulianDay()) * 1440.0 + 13 * 60 + 7 + 23 / 60.0;
    const struct {
        const char* name;
        double span;
        double step;
        const char* first_text;
    } cases[] = {
        { "half a minute", 0.5, 1.0 / 6, "13:07:30" },
        { "ten minutes", 10, 1, "13:08" },
        { "24 hours", 1440, 180, "15:00" },
        { "30 days", 30 * 1440, 7 * 1440, "03-05" },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const TiPlotTicks t = compute_time_ticks(t0, c.span, 725, 70);
        EXPECT_DOUBLE_EQ(t.step, c.step);
        ASSERT_GE(t.values.size(), 2u);
        EXPECT_LE(double(t.values.size() - 1) * 70, 725.0 * (1 + c.step / c.span));
        for (double v : t.values) {
            EXPECT_GE(v, t0);
            EXPECT_LE(v, t0 + c.span);
            const double seconds = v * 60 / std::round(c.step * 60);
            EXPECT_NEAR(seconds, std::round(seconds), 1e-6);
        }
        EXPECT_EQ(time_tick_text(t.values.front(), t.step), QString::fromLatin1(c.first_text));
    }
    // Midnight on an hour's step reads as the day.
    const double midnight = std::ceil(t0 / 1440) * 1440;
    EXPECT_EQ(time_tick_text(midnight, 180), QStringLiteral("03-02"));
    EXPECT_EQ(plot_clock_text(t0, QStringLiteral("yyyy-MM-dd HH:mm:ss")), QStringLiteral("2026-03-01 13:07:23"));
    EXPECT_TRUE(compute_time_ticks(t0, 0, 725, 70).values.empty());
}

} // namespace
