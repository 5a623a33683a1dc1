#pragma once
// A plot channel: a trace of (x, y) points drawn against one X and one Y axis
// (by name), with running statistics. The channel holds its points in memory
// (iPlotPointStore.h tells how that stays cheap to hold and to draw), all of
// them or, with a memory limit, the recent ones; a history source may supply
// the older points when a view reaches back beyond them.
#include "iPlotObjects.h"
#include "iPlotPointStore.h"

#include <cstdint>
#include <memory>

// Where a channel finds the points older than those it holds (a log on
// disk). fetch fills `out` with the source's points of x in [view.x_min,
// min(view end, before)), reduced to the view's columns with
// TiPlotColumnReducer so that they draw exactly as all of them would, plus
// the last point left of the view and the first point right of it that lies
// before `before`, so that the trace enters and leaves the view as it should.
// Points at or after `before` are the channel's own and never come from the
// source.
class TiPlotHistory {
public:
    virtual ~TiPlotHistory() = default;
    virtual void fetch(const TiPlotTraceView& view, double before, TiPlotPoints& out) = 0;
    // The x of the source's first point before `before`; +infinity when it
    // has none. The toolbar's spans reach back to it.
    virtual double first_x(double before) = 0;
};

// How much a channel holds in memory: at most `points` points, and no chunk
// of points (4096) whose newest point is more than `x_age` older than the
// channel's newest. Both are kept within one chunk: the oldest chunk goes
// when the rest still satisfy the limit.
struct TiPlotMemoryLimit {
    std::size_t points = 0; // 0: no limit
    double x_age = 0; // 0 or less: no limit
};

class TiPlotXAxis;
class TiPlotYAxis;

class TiPlotChannel : public TiPlotObject {
public:
    TiPlotChannel(TiPlot* owner, const QString& name);

    const QString& TitleText() const { return title_text_; }
    void setTitleText(const QString& text);
    const QColor& Color() const { return color_; }
    void setColor(const QColor& color);
    const QString& XAxisName() const { return x_axis_name_; }
    void setXAxisName(const QString& name);
    const QString& YAxisName() const { return y_axis_name_; }
    void setYAxisName(const QString& name);
    bool XAxisTrackingEnabled() const { return x_tracking_; }
    void setXAxisTrackingEnabled(bool on) { x_tracking_ = on; }
    bool YAxisTrackingEnabled() const { return y_tracking_; }
    void setYAxisTrackingEnabled(bool on) { y_tracking_ = on; }

    // Appends a point, updates the statistics, gives x and y to the tracking
    // of the channel's axes and asks for a repaint.
    void AddXY(double x, double y);

    // Points held in memory: Count(), DataX/DataY and the statistics below
    // speak of them only.
    void set_memory_limit(const TiPlotMemoryLimit& limit);
    const TiPlotMemoryLimit& memory_limit() const { return limit_; }

    // The source of the points older than those held (none by default).
    // Setting a source, or telling that its points changed, drops what was
    // fetched from it.
    void set_history(std::shared_ptr<TiPlotHistory> source);
    TiPlotHistory* history() const { return history_.get(); }
    void history_changed();
    // The points of the source to draw in `view` in front of those held, the
    // first held point joined on: null when the view starts at or after the
    // first held point or there is no source. Fetched when the view's width
    // or span, or the first held point, differs from the last fetch, or its
    // start moved by a column or more (so a scrolling view fetches about
    // once per column of time, and a still view is drawn exactly).
    const TiPlotPoints* history_points(const TiPlotTraceView& view) const;
    // The x of the oldest point the channel can draw: the source's first
    // point before the held ones, else the first held point; +infinity for
    // none.
    double first_x() const;

    std::int64_t Count() const { return count_; }
    double DataX(std::int64_t index) const; // index checked: "List index out of bounds (%d)"
    double DataY(std::int64_t index) const;
    // Statistics; all 0 while the channel has no point.
    double XMin() const { return x_min_; }
    double XMax() const { return x_max_; }
    double YMin() const { return y_min_; }
    double YMax() const { return y_max_; }
    double XSum() const { return x_sum_; }
    double YSum() const { return y_sum_; }
    double XMean() const { return count_ ? x_sum_ / double(count_) : 0.0; }
    double YMean() const { return count_ ? y_sum_ / double(count_) : 0.0; }

    const TiPlotPointStore& Points() const { return points_; }
    TiPlotXAxis* XAxis() const; // the axis named XAxisName, or null
    TiPlotYAxis* YAxis() const;

private:
    QString title_text_;
    QColor color_ = Qt::red;
    QString x_axis_name_ = QStringLiteral("X-Axis 1");
    QString y_axis_name_ = QStringLiteral("Y-Axis 1");
    bool x_tracking_ = true;
    bool y_tracking_ = true;
    void apply_memory_limit();

    TiPlotPointStore points_;
    TiPlotMemoryLimit limit_;
    std::shared_ptr<TiPlotHistory> history_;
    struct HistoryFetch {
        TiPlotTraceView view;
        double before = 0;
        TiPlotPoints points;
    };
    mutable std::unique_ptr<HistoryFetch> fetched_;
    std::int64_t count_ = 0;
    double x_min_ = 0, x_max_ = 0, y_min_ = 0, y_max_ = 0, x_sum_ = 0, y_sum_ = 0;
};
