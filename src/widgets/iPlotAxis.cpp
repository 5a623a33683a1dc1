#include "iPlotAxis.h"

#include <QDateTime>
#include <QTimeZone>

#include <algorithm>
#include <cmath>

TiPlotAxis::TiPlotAxis(TiPlot* owner, const QString& name, bool horizontal)
    : TiPlotObject(owner, name)
    , horizontal_(horizontal)
    , title_(name)
    , tracking_style_(horizontal ? iptsScrollSmooth : iptsScaleMinMax)
    , align_first_(horizontal ? ipafsAuto : ipafsNone)
{
    title_font_.setFamily(QStringLiteral("Arial"));
    title_font_.setPixelSize(13);
    title_font_.setBold(true);
    labels_font_.setFamily(QStringLiteral("Arial"));
    labels_font_.setPixelSize(11);
}

void TiPlotAxis::setMin(double value)
{
    if (std::isnan(value))
        return;
    value = std::clamp(value, -1e300, 1e300);
    if (value == min_)
        return;
    min_ = value;
    changed();
}

void TiPlotAxis::setSpan(double value)
{
    if (std::isnan(value))
        return;
    value = std::clamp(value, 1e-300, 1e300);
    if (value == span_)
        return;
    span_ = value;
    changed();
}

void TiPlotAxis::setTitle(const QString& title)
{
    if (title == title_)
        return;
    title_ = title;
    changed();
}

void TiPlotAxis::setTitleShow(bool show)
{
    if (show == title_show_)
        return;
    title_show_ = show;
    changed();
}

void TiPlotAxis::setLabelsFont(const QFont& font)
{
    if (font == labels_font_)
        return;
    labels_font_ = font;
    changed();
}

void TiPlotAxis::setLabelsFontColor(const QColor& color)
{
    if (color == labels_color_)
        return;
    labels_color_ = color;
    changed();
}

void TiPlotAxis::track(double v)
{
    if (!tracking_enabled_ || std::isnan(v))
        return;
    last_ = v;
    if (keep_all_) {
        const double end = std::max(min_ + span_, v);
        const double start = first_received_ ? std::min(min_, v) : v;
        first_received_ = true;
        setMin(start);
        setSpan(end - start);
        return;
    }
    double a = min_;
    double e = span_;
    if (!first_received_) {
        first_received_ = true;
        switch (align_first_) {
        case ipafsMin:
            a = v;
            break;
        case ipafsMax:
            a = v - span_;
            break;
        case ipafsAuto:
            if (v < min_ || v > min_ + span_)
                a = v;
            break;
        case ipafsNone:
            break;
        }
    }
    switch (tracking_style_) {
    case iptsScrollSmooth:
        if (v > a + span_)
            a = v - e;
        else if (v < min_)
            a = v;
        break;
    case iptsScaleMinMax:
        if (v > a + span_)
            e = v - a;
        if (v < a)
            a = v;
        break;
    default:
        break;
    }
    setMin(a);
    setSpan(e);
}

void TiPlotAxis::hold_view(double min, double span)
{
    if (!std::isfinite(min) || !std::isfinite(span) || span <= 0)
        return;
    view_.emplace(std::clamp(min, -1e300, 1e300), std::clamp(span, 1e-300, 1e300));
    changed();
}

double TiPlotAxis::view_min() const
{
    if (view_)
        return view_->first;
    if (view_scale_ == 1.0)
        return min_;
    const double shown = view_span();
    if (shown >= span_ || !first_received_)
        return horizontal_ ? min_ + span_ - shown : min_ + (span_ - shown) / 2;
    const double anchored = horizontal_ ? last_ - shown : last_ - shown / 2;
    return std::clamp(anchored, min_, min_ + span_ - shown);
}

double TiPlotAxis::view_span() const
{
    if (view_)
        return view_->second;
    return std::clamp(span_ * view_scale_, 1e-300, 1e300);
}

void TiPlotAxis::set_view_scale(double scale)
{
    if (!std::isfinite(scale) || scale <= 0 || scale == view_scale_)
        return;
    view_scale_ = scale;
    changed();
}

void TiPlotAxis::release_view()
{
    if (!view_)
        return;
    view_.reset();
    changed();
}

TiPlotXAxis::TiPlotXAxis(TiPlot* owner, const QString& name)
    : TiPlotAxis(owner, name, true)
{
}

TiPlotYAxis::TiPlotYAxis(TiPlot* owner, const QString& name)
    : TiPlotAxis(owner, name, false)
{
}

TiPlotTicks compute_ticks(double min, double span, int pixels, int min_gap)
{
    TiPlotTicks t;
    if (!(span > 0) || pixels <= 0 || min_gap <= 0 || !std::isfinite(min) || !std::isfinite(span))
        return t;
    const double max_ticks = std::max(1.0, double(pixels) / min_gap);
    const double raw = span / max_ticks;
    const double mag = std::pow(10.0, std::floor(std::log10(raw)));
    double step = 10 * mag;
    for (double m : { 1.0, 2.0, 5.0 }) {
        if (m * mag >= raw) {
            step = m * mag;
            break;
        }
    }
    if (!std::isfinite(step) || step <= 0)
        return t;
    t.step = step;
    t.decimals = std::max(0, int(-std::floor(std::log10(step) + 1e-9)));
    const double first = std::ceil(min / step - 1e-9) * step;
    for (int k = 0;; ++k) {
        const double v = first + k * step;
        if (v > min + span * (1 + 1e-9) || k > 1000)
            break;
        t.values.push_back(std::abs(v) < step * 1e-9 ? 0.0 : v);
    }
    return t;
}

void TiPlotAxis::setTimeScale(bool on)
{
    if (on == time_scale_)
        return;
    time_scale_ = on;
    changed();
}

TiPlotTicks compute_time_ticks(double min, double span, int pixels, int min_gap)
{
    TiPlotTicks t;
    if (!(span > 0) || pixels <= 0 || min_gap <= 0 || !std::isfinite(min) || !std::isfinite(span))
        return t;
    constexpr double kDay = 1440;
    static const double kSteps[] = { 1.0 / 6, 1.0 / 3, 0.5, 1, 2, 5, 10, 15, 30, 60, 120, 180, 360, 720, kDay,
        2 * kDay, 7 * kDay, 14 * kDay, 28 * kDay, 56 * kDay, 112 * kDay, 364 * kDay };
    const double raw = span / std::max(1.0, double(pixels) / min_gap);
    double step = kSteps[std::size(kSteps) - 1];
    for (double s : kSteps)
        if (s >= raw) {
            step = s;
            break;
        }
    if (span / step > 1000)
        return t;
    t.step = step;
    // Whole seconds, so the ticks fall exactly on the clock's marks.
    const double step_s = std::round(step * 60);
    const double first_s = std::ceil(min * 60 / step_s - 1e-9) * step_s;
    for (int k = 0;; ++k) {
        const double v = (first_s + k * step_s) / 60;
        if (v > min + span * (1 + 1e-12) || k > 1000)
            break;
        t.values.push_back(v);
    }
    return t;
}

QString plot_clock_text(double minutes, const QString& format)
{
    if (!std::isfinite(minutes) || std::abs(minutes) > 1e12)
        return QString();
    const auto ms = static_cast<qint64>(std::llround(minutes * 60000.0));
    return QDateTime::fromMSecsSinceEpoch(ms, QTimeZone::utc()).toString(format);
}

QString time_tick_text(double minutes, double step)
{
    if (step < 1)
        return plot_clock_text(minutes, QStringLiteral("HH:mm:ss"));
    const auto whole = static_cast<qint64>(std::llround(minutes));
    if (step >= 1440 || whole % 1440 == 0)
        return plot_clock_text(minutes, QStringLiteral("MM-dd"));
    return plot_clock_text(minutes, QStringLiteral("HH:mm"));
}
