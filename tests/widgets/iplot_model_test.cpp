// TiPlot's object model: axis tracking, collections and their index errors,
// channel statistics, the title, and the toolbar's views.
#include "errors.h"
#include "iPlot.h"

#include <QImageReader>
#include <QMouseEvent>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
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

    // Live zoom keeps the newest end of the X axis and the centre of the Y axis.
    plot.zoom_in();
    EXPECT_DOUBLE_EQ(x->view_span(), 100);
    EXPECT_DOUBLE_EQ(x->view_min(), 400);
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
    EXPECT_DOUBLE_EQ(x->view_min(), 400);
    EXPECT_DOUBLE_EQ(x->view_span(), 100);

    plot.zoom_out(); // paused: around the centre 450
    EXPECT_DOUBLE_EQ(x->view_min(), 350);
    EXPECT_DOUBLE_EQ(x->view_span(), 200);

    plot.resume_scrolling(); // follows again at the live zoom (100)
    EXPECT_FALSE(plot.tracking_paused());
    EXPECT_DOUBLE_EQ(x->view_min(), 700);
    EXPECT_DOUBLE_EQ(x->view_span(), 100);

    plot.resume_tracking();
    EXPECT_DOUBLE_EQ(x->view_min(), 600);
    EXPECT_DOUBLE_EQ(x->view_span(), 200);
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

} // namespace
