// The three trend and three deviation charts, their start-up configuration and
// the rule that plots one reply.
#include "form1.h"
#include "icolors.h"
#include "iPlot.h"
#include "public_set.h"

namespace {

const TColor kTrendColors[8] = {clRed, clYellow, clBlue, clFuchsia, clAqua, clLime, clWhite, clMaroon};

TiPlot* make_chart(QWidget* page, const QString& name, bool trend)
{
    auto* plot = new TiPlot(page);
    plot->setObjectName(name);
    // The page is a few pixels lower than the designed chart height; the chart
    // takes the page's full width and height so that nothing is cut off.
    plot->setGeometry(2, 2, 725, trend ? 320 : 326);
    const int channels = trend ? 8 : 4;
    for (int i = 0; i < channels; ++i) {
        QString title = QStringLiteral("Channel %1").arg(i + 1);
        if (!trend && i == 0)
            title = QStringLiteral("Channel1");
        plot->AddChannel(title, tcolor(kTrendColors[i]));
    }
    TiPlotXAxis* x = plot->XAxis(0);
    x->setMin(0);
    x->setSpan(100);
    x->setTrackingStyle(iptsScrollSmooth);
    x->setTrackingAlignFirstStyle(ipafsAuto);
    TiPlotYAxis* y = plot->YAxis(0);
    y->setMin(trend ? 0 : -0.5);
    y->setSpan(trend ? 100 : 1.0);
    y->setTrackingStyle(iptsScaleMinMax);
    y->setTrackingAlignFirstStyle(ipafsNone);
    // The toolbar's time spans (X in minutes; 200 minutes is the form's), and
    // the cross-hair read-out of the data cursor.
    plot->set_span_choices({{QStringLiteral("10分钟"), 10},
                            {QStringLiteral("1小时"), 60},
                            {QStringLiteral("8小时"), 480},
                            {QStringLiteral("200分钟"), 200},
                            {QStringLiteral("全部"), 0}});
    plot->DataCursorManager().Items(0)->setVisible(true);
    plot->readout_x_text = [](double minutes) {
        return QStringLiteral("t = %1 分钟").arg(QString::number(minutes, 'f', 2));
    };
    return plot;
}

}  // namespace

void TForm1::build_charts()
{
    QWidget* pages[6] = {TabSheet7, TabSheet8, TabSheet9, TabSheet1, TabSheet11, TabSheet15};
    for (int i = 0; i < 6; ++i)
        iPlot[static_cast<size_t>(i)] = make_chart(pages[i], QStringLiteral("iPlot%1").arg(i + 1), i < 3);
}

void TForm1::iplot_init()
{
    for (int i = 0; i < 6; ++i)
        iPlot[static_cast<size_t>(i)]->setTitleText(i < 3 ? QStringLiteral("实时温度曲线")
                                                           : QStringLiteral("实时偏差曲线"));
    for (TiPlot* plot : iPlot) {
        plot->YAxis(0)->setTitle(QStringLiteral("温度值(℃)"));
        plot->YAxis(0)->setTitleShow(true);
    }
    for (TiPlot* plot : iPlot)
        plot->XAxis(0)->setTitle(QStringLiteral("采样时间 t (分钟)"));
    for (int i = 0; i < 6; ++i) {
        TiPlot* plot = iPlot[static_cast<size_t>(i)];
        plot->XAxis(0)->setTitleShow(true);
        plot->XAxis(0)->setSpan(200);
        if (i >= 3) {
            plot->YAxis(0)->setSpan(1);
            plot->YAxis(0)->setMin(-0.5);
        }
    }
    iPlot[0]->XAxis(0)->setLabelsFontColor(tcolor(clRed));
}

void TForm1::plot_reply(int slot, int address)
{
    if (slot < 1 || slot > 12)
        return;
    const int group = (slot - 1) / 4;
    const int position = (slot - 1) % 4;
    const double x = chart_clock / 60.0;
    const QString name = QString::number(address);

    TiPlot* trend = iPlot[static_cast<size_t>(group)];
    trend->Channel(2 * position)->AddXY(x, pv_value);
    trend->Channel(2 * position)->setTitleText(name + QStringLiteral("#"));
    trend->Channel(2 * position + 1)->AddXY(x, sv_value);
    trend->Channel(2 * position + 1)->setTitleText(name + QStringLiteral("#set"));

    deviation = pv_value - sv_value;
    if (deviation > 0.5)
        deviation = 0.5;
    if (deviation < -0.5)
        deviation = -0.5;
    TiPlot* dev = iPlot[static_cast<size_t>(3 + group)];
    dev->Channel(position)->AddXY(x, deviation);
    dev->Channel(position)->setTitleText(name + QStringLiteral("#"));
}
