#pragma once
// A plot channel: a trace of (x, y) points drawn against one X and one Y axis
// (by name), with running statistics. Every point is kept; see
// iPlotPointStore.h for how that stays cheap to hold and to draw.
#include "iPlotObjects.h"
#include "iPlotPointStore.h"

#include <cstdint>

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
    TiPlotPointStore points_;
    std::int64_t count_ = 0;
    double x_min_ = 0, x_max_ = 0, y_min_ = 0, y_max_ = 0, x_sum_ = 0, y_sum_ = 0;
};
