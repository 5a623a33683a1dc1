#pragma once
// Plot axes: range (Min, Span), title, scale labels, and tracking, the rule by
// which values added to channels move the axis.
#include "iPlotObjects.h"

#include <optional>
#include <vector>

enum TiPlotTrackingStyle {
    iptsScaleMinMax,
    iptsScaleMax,
    iptsScaleMin,
    iptsScrollSmooth,
    iptsScrollPage,
    iptsExpandCollapse
};

enum TiPlotAlignFirstStyle { ipafsMin, ipafsMax, ipafsAuto, ipafsNone };

class TiPlotAxis : public TiPlotObject {
public:
    TiPlotAxis(TiPlot* owner, const QString& name, bool horizontal);

    bool Horizontal() const { return horizontal_; }

    // Min is kept within -1e300 .. 1e300, Span within 1e-300 .. 1e300; NaN is
    // refused. Setting the present value does nothing.
    double Min() const { return min_; }
    void setMin(double value);
    double Span() const { return span_; }
    void setSpan(double value);
    double Max() const { return min_ + span_; }

    const QString& Title() const { return title_; }
    void setTitle(const QString& title);
    bool TitleShow() const { return title_show_; }
    void setTitleShow(bool show);
    const QFont& TitleFont() const { return title_font_; }
    const QFont& LabelsFont() const { return labels_font_; }
    void setLabelsFont(const QFont& font);
    const QColor& LabelsFontColor() const { return labels_color_; }
    void setLabelsFontColor(const QColor& color);

    // A time axis: values are minutes of the wall clock counted from
    // 1970-01-01 00:00 (as the clock reads, no time zone), ticks fall on
    // whole seconds, minutes, hours or days and read as clock times.
    bool TimeScale() const { return time_scale_; }
    void setTimeScale(bool on);

    bool TrackingEnabled() const { return tracking_enabled_; }
    void setTrackingEnabled(bool on) { tracking_enabled_ = on; }
    TiPlotTrackingStyle TrackingStyle() const { return tracking_style_; }
    void setTrackingStyle(TiPlotTrackingStyle s) { tracking_style_ = s; }
    TiPlotAlignFirstStyle TrackingAlignFirstStyle() const { return align_first_; }
    void setTrackingAlignFirstStyle(TiPlotAlignFirstStyle s) { align_first_ = s; }
    // Kept for the form's settings; tracking does not compress.
    double TrackingScrollCompressMax() const { return compress_max_; }
    void setTrackingScrollCompressMax(double v) { compress_max_ = v; }

    // Gives a value added to a channel to this axis. Built styles:
    // iptsScrollSmooth (the newest value stays at the right end; a smaller
    // value than Min moves Min back to it) and iptsScaleMinMax (the axis grows
    // upward to reach a larger value and its start moves down to a smaller
    // one, keeping the length). The other styles leave the axis as it is. The
    // first value ever received is placed by TrackingAlignFirstStyle first.
    void track(double v);
    bool FirstValueReceived() const { return first_received_; }
    // The last value tracked (0 before the first).
    double LastValue() const { return last_; }
    // While on, tracked values widen the axis instead of moving it: a larger
    // value moves the end up to it, a smaller one the start down to it, so
    // the axis always spans everything it received since (the toolbar's
    // "all history"). Min and Span stay settable.
    bool TrackingKeepsAll() const { return keep_all_; }
    void setTrackingKeepsAll(bool on) { keep_all_ = on; }

    // The range drawn. Normally Min .. Min + Span. The toolbar may scale it
    // and may hold a fixed view of its own (paused) while tracking goes on
    // underneath. Zoomed in while live, the view stays inside Min .. Min +
    // Span and keeps the last tracked value in sight: a horizontal axis puts
    // it at the right end (history to its left) once there is history enough,
    // a vertical one centres it. Zoomed out, a horizontal axis keeps its right
    // end and a vertical one its centre.
    double view_min() const;
    double view_span() const;
    double view_scale() const { return view_scale_; }
    void set_view_scale(double scale);
    bool view_held() const { return view_.has_value(); }
    void hold_view(double min, double span);
    void release_view();

private:
    bool horizontal_;
    double min_ = 0;
    double span_ = 100;
    QString title_;
    bool title_show_ = false;
    QFont title_font_;
    QFont labels_font_;
    QColor labels_color_ = Qt::white;
    bool time_scale_ = false;
    bool tracking_enabled_ = true;
    TiPlotTrackingStyle tracking_style_;
    TiPlotAlignFirstStyle align_first_;
    double compress_max_ = 0;
    bool first_received_ = false;
    double last_ = 0;
    bool keep_all_ = false;
    std::optional<std::pair<double, double>> view_;
    double view_scale_ = 1.0;
};

class TiPlotXAxis : public TiPlotAxis {
public:
    TiPlotXAxis(TiPlot* owner, const QString& name);
};

class TiPlotYAxis : public TiPlotAxis {
public:
    TiPlotYAxis(TiPlot* owner, const QString& name);
};

// Scale ticks for a range drawn over `pixels`: steps of 1, 2 or 5 x 10^k so
// that ticks are at least `min_gap` pixels apart. `decimals` is the number of
// digits after the point that tells the ticks apart.
struct TiPlotTicks {
    std::vector<double> values;
    double step = 0;
    int decimals = 0;
};
TiPlotTicks compute_ticks(double min, double span, int pixels, int min_gap);

// Ticks of a time axis (minutes, see TiPlotAxis::TimeScale): steps of 10, 20
// or 30 seconds, 1 .. 30 minutes, 1 .. 12 hours or whole days, at multiples
// of the step counted from midnight. `step` is in minutes.
TiPlotTicks compute_time_ticks(double min, double span, int pixels, int min_gap);
// A tick's text on a time axis: "HH:mm:ss" below a minute's step, "HH:mm"
// below a day's ("MM-dd" at midnight), "MM-dd" for days.
QString time_tick_text(double minutes, double step);
// A value of a time axis as the clock and calendar read it, in `format`
// (QDateTime's), e.g. "yyyy-MM-dd HH:mm:ss".
QString plot_clock_text(double minutes, const QString& format);
