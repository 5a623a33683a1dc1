// The three trend and three deviation charts, their start-up configuration,
// the rule that plots one reply, and their history: the log draws what a
// chart no longer holds, and a restart begins with the log's last hours.
#include "chart_history.h"
#include "error_box.h"
#include "form1.h"
#include "history_view.h"
#include "icolors.h"
#include "iPlot.h"
#include "station_db.h"
#include "station_settings.h"

#include <QDateTime>

#include <algorithm>
#include <cmath>

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
        // The legend names a channel by its address once a point arrives;
        // until then it says which curve the channel will carry.
        const QString legend = trend ? QStringLiteral("第%1台%2").arg(i / 2 + 1).arg(i % 2 == 0 ? QStringLiteral("测量值") : QStringLiteral("给定值"))
                                     : QStringLiteral("第%1台偏差").arg(i + 1);
        plot->AddChannel(title, tcolor(kTrendColors[i]))->setTitleText(legend);
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
    // X is the wall-clock time of each reply, in minutes. The toolbar's time
    // spans (200 minutes is the form's); the days beyond the points held come
    // from the log. The cross-hair read-out of the data cursor.
    x->setTimeScale(true);
    plot->set_span_choices(chart_span_choices());
    plot->DataCursorManager().Items(0)->setVisible(true);
    plot->readout_x_text = [](double minutes) {
        return plot_clock_text(minutes, QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    };
    return plot;
}

}  // namespace

std::vector<TiPlot::SpanChoice> chart_span_choices()
{
    return {{QStringLiteral("10分钟"), 10},       {QStringLiteral("1小时"), 60},
            {QStringLiteral("8小时"), 480},        {QStringLiteral("200分钟"), 200},
            {QStringLiteral("24小时"), 24 * 60},   {QStringLiteral("7天"), 7 * 24 * 60},
            {QStringLiteral("30天"), 30 * 24 * 60}, {QStringLiteral("全部"), 0}};
}

double clamp_deviation(double d)
{
    if (d > 0.5)
        return 0.5;
    if (d < -0.5)
        return -0.5;
    return d;
}

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
        plot->XAxis(0)->setTitle(QStringLiteral("采样时间(t)"));
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

void TForm1::connect_chart_history()
{
    chart_log = std::make_unique<MeasurementHistory>(db->connection(), db_file_label(db->file_path()));
    // How much each channel holds in memory: station.ini, read here only
    // (the engine owns the file and writes it).
    const TiPlotMemoryLimit limit = chart_memory_limit(StationSettings(database_path()).chart_memory_days());
    for (size_t chart = 0; chart < iPlot.size(); ++chart) {
        for (int ch = 0; ch < iPlot[chart]->ChannelCount(); ++ch) {
            const bool trend = chart < 3;
            auto source = trend ? std::make_shared<LogHistory>(*chart_log, ch % 2 == 0 ? LogField::Pv : LogField::Sv)
                                : std::make_shared<LogHistory>(*chart_log, LogField::Deviation, clamp_deviation);
            chart_history[chart][static_cast<size_t>(ch)] = source;
            iPlot[chart]->Channel(ch)->set_history(source);
            iPlot[chart]->Channel(ch)->set_memory_limit(limit);
        }
    }
}

void TForm1::preload_charts()
{
    // The last hours of the log for the addresses polled now, each on its
    // slot's channels, so that a restarted station shows them at once.
    if (roster.addresses.empty())
        return;
    const qint64 now = db_clock_ms(QDateTime::currentDateTime());
    for (const LogRow& row : chart_log->rows(now - kChartPreloadHours * 3'600'000, now + 1))
        if (std::find(roster.addresses.begin(), roster.addresses.end(), row.address) != roster.addresses.end())
            plot_point(get_dis_pos(row.address), row.address, chart_x(row.ms), row.pv, row.sv);
}

void TForm1::plot_point(int slot, int address, double x, double pv, double sv)
{
    if (slot < 1 || slot > 12)
        return;
    const size_t group = static_cast<size_t>((slot - 1) / 4);
    const int position = (slot - 1) % 4;
    const QString name = QString::number(address);
    // A gap in the answers (more than three polls of this address missed: a
    // silent instrument, a closed port, a restart) breaks the line: nothing
    // is drawn across the time nothing was heard.
    // A gap is a step more than three times the one before it and longer
    // than three polls and a half at the present pace, so that a log written
    // at a slower pace is not cut at every point.
    const double poll_minutes = std::max(1, serial.period) * std::max<std::size_t>(1, roster.addresses.size()) / 60.0;
    const auto last = last_plot_x.find(address);
    const double step = last == last_plot_x.end() ? -1 : x - last->second;
    const auto before = last_plot_step.find(address);
    const bool gap = step > 3.5 * poll_minutes && before != last_plot_step.end() && step > 3 * before->second;
    last_plot_x[address] = x;
    if (step >= 0)
        last_plot_step[address] = step;
    auto add = [&](size_t chart, int channel, double y, const QString& title) {
        TiPlotChannel* c = iPlot[chart]->Channel(channel);
        if (gap)
            c->AddXY(x, std::nan(""));
        c->AddXY(x, y);
        c->setTitleText(title);
        // The log draws the channel's older part for the address it shows now.
        if (LogHistory* source = chart_history[chart][static_cast<size_t>(channel)].get();
            source && source->address() != address) {
            source->set_address(address);
            c->history_changed();
        }
    };
    add(group, 2 * position, pv, name + QStringLiteral("#"));
    add(group, 2 * position + 1, sv, name + QStringLiteral("#set"));
    add(3 + group, position, clamp_deviation(pv - sv), name + QStringLiteral("#"));
}

void TForm1::plot_reply(const ReplyShown& r)
{
    if (r.slot < 1 || r.slot > 12)
        return;
    plot_point(r.slot, r.address, chart_x(r.arrived), r.pv, r.sv);
}

void TForm1::show_history_view()
{
    if (!history_view) {
        history_view = new HistoryView(db->file_path(), this);
        connect(history_view, &HistoryView::database_error, this,
                [](const QString& message) { ErrorBox::instance().show(message); });
    }
    history_view->show();
    history_view->raise();
    history_view->activateWindow();
}
