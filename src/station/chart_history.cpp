#include "chart_history.h"

#include "station_db.h"

#include <cmath>

namespace {
constexpr double kTicksPerMinute = 1024;
constexpr double kTicksPerMs = kTicksPerMinute / 60000.0;
constexpr qint64 kGapFloorMs = 10'000;
} // namespace

double chart_x(qint64 clock_ms)
{
    return std::round(double(clock_ms) * kTicksPerMs) / kTicksPerMinute;
}

qint64 chart_ms_at(double x)
{
    if (!(x > -1e12))
        return INT64_MIN;
    if (!(x < 1e12))
        return INT64_MAX;
    // Near x * 60000 and a little below it, then up to the first that maps to x or more.
    auto ms = static_cast<qint64>(std::floor(x * 60000.0)) - 60;
    while (chart_x(ms) < x)
        ++ms;
    return ms;
}

double chart_x(const QDateTime& when)
{
    return chart_x(db_clock_ms(when));
}

TiPlotMemoryLimit chart_memory_limit(double days)
{
    return { static_cast<std::size_t>(days * 86400), days * 24 * 60 };
}

LogHistory::LogHistory(MeasurementHistory& log, LogField field, std::function<double(double)> shape)
    : log_(log)
    , field_(field)
    , shape_(std::move(shape))
{
}

void LogHistory::fetch(const TiPlotTraceView& view, double before, TiPlotPoints& out)
{
    if (address_ < 0)
        return;
    TiPlotColumnReducer reducer(view, out);
    const TiPlotColumns& columns = reducer.columns();
    if (!columns.usable())
        return;
    // The rows whose columns are in view (column c holds px in [c, c + 1)),
    // and none whose x is `before` or later: those the channel holds.
    const double per_px = view.x_span / (view.width - 1);
    const qint64 before_ms = chart_ms_at(before);
    const qint64 from_ms = chart_ms_at(view.x_min - 0.5 * per_px);
    const qint64 to_ms = std::min(chart_ms_at(view.x_min + (view.width - 0.5) * per_px), before_ms);
    auto shaped = [this](double v) { return shape_ ? shape_(v) : v; };
    // A silence in the log (a step more than three times the step before it
    // and longer than kGapFloorMs: the instrument stopped answering, the
    // station was closed) breaks the line, as on the live charts.
    qint64 last_ms = 0;
    qint64 last_step = -1;
    bool any = false;
    auto add = [&](const LogRun& r) {
        if (any) {
            const qint64 step = r.first_ms - last_ms;
            if (last_step >= 0 && step > kGapFloorMs && step > 3 * last_step)
                reducer.add_break(chart_x(r.first_ms));
            last_step = step;
        }
        any = true;
        last_ms = r.last_ms;
        reducer.add_run(chart_x(r.first_ms), shaped(r.first), chart_x(r.last_ms), shaped(r.last), shaped(r.min),
            shaped(r.max));
    };
    if (const std::optional<LogRun> r = log_.row_before(address_, field_, from_ms))
        add(*r);
    std::function<bool(qint64, qint64)> whole;
    if (per_px * 60000.0 >= 120000.0)
        whole = [&](qint64 first, qint64 last) {
            return columns.column(chart_x(first)) == columns.column(chart_x(last));
        };
    log_.read(address_, field_, from_ms, to_ms, whole, add);
    if (const std::optional<LogRun> r = log_.row_from(address_, field_, to_ms, before_ms))
        add(*r);
    reducer.finish();
}

double LogHistory::first_x(double before)
{
    if (address_ < 0)
        return HUGE_VAL;
    const std::optional<LogRun> r = log_.row_from(address_, field_, 0, chart_ms_at(before));
    return r ? chart_x(r->first_ms) : HUGE_VAL;
}
