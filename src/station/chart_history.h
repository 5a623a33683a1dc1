#pragma once
// The charts' time axis and their history source: every chart point stands
// at the wall-clock time of its reply, the time its row carries in the log,
// so the points a chart holds and the rows of the log fall on one axis and a
// view reaching back beyond the held points is drawn on from the log.
#include "iPlot.h"
#include "measurement_history.h"

#include <QDateTime>

#include <functional>
#include <vector>

// The time spans of the charts' toolbar (minutes; 0 for all held points).
std::vector<TiPlot::SpanChoice> chart_span_choices();
// The deviation charts' value of pv - sv: within -0.5 .. 0.5.
double clamp_deviation(double deviation);

// Chart x of a logged time: minutes of the clock (TiPlotAxis::TimeScale),
// in whole 1024ths of a minute (about 59 ms). On that grid the offset of a
// point from its chunk's first point is a float without rounding for eleven
// days, so a point held in memory and the same row read from the log fall in
// the same pixel column to the last bit.
double chart_x(qint64 clock_ms);
double chart_x(const QDateTime& when);
// The first clock millisecond whose chart x is `x` or more.
qint64 chart_ms_at(double x);

// How much a chart channel holds in memory for `days` (the station
// settings): that many days at one point a second, and nothing older.
TiPlotMemoryLimit chart_memory_limit(double days);

// One channel's older points from the log: the rows of one address, one
// field, shaped by `shape` (a non-decreasing function, such as the deviation
// charts' clamp; identity when empty), reduced to the view's columns. Rows
// are read a minute at a time from the minute table where a column is two
// minutes wide or more.
class LogHistory : public TiPlotHistory {
public:
    LogHistory(MeasurementHistory& log, LogField field, std::function<double(double)> shape = {});
    // The address whose rows are drawn; -1 for none.
    void set_address(int address) { address_ = address; }
    int address() const { return address_; }
    void fetch(const TiPlotTraceView& view, double before, TiPlotPoints& out) override;
    double first_x(double before) override;

private:
    MeasurementHistory& log_;
    LogField field_;
    std::function<double(double)> shape_;
    int address_ = -1;
};
