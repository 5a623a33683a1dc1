#include "iPlotChannel.h"

#include "iPlot.h"

#include <algorithm>

TiPlotChannel::TiPlotChannel(TiPlot* owner, const QString& name)
    : TiPlotObject(owner, name)
{
}

void TiPlotChannel::setTitleText(const QString& text)
{
    if (text == title_text_)
        return;
    title_text_ = text;
    changed();
}

void TiPlotChannel::setColor(const QColor& color)
{
    if (color == color_)
        return;
    color_ = color;
    changed();
}

void TiPlotChannel::setXAxisName(const QString& name)
{
    if (name == x_axis_name_)
        return;
    x_axis_name_ = name;
    changed();
}

void TiPlotChannel::setYAxisName(const QString& name)
{
    if (name == y_axis_name_)
        return;
    y_axis_name_ = name;
    changed();
}

TiPlotXAxis* TiPlotChannel::XAxis() const
{
    return Owner() ? Owner()->XAxisManager().Find(x_axis_name_) : nullptr;
}

TiPlotYAxis* TiPlotChannel::YAxis() const
{
    return Owner() ? Owner()->YAxisManager().Find(y_axis_name_) : nullptr;
}

void TiPlotChannel::AddXY(double x, double y)
{
    points_.append(x, y);
    if (count_ == 0) {
        x_min_ = x_max_ = x;
        y_min_ = y_max_ = y;
    } else {
        x_min_ = std::min(x_min_, x);
        x_max_ = std::max(x_max_, x);
        y_min_ = std::min(y_min_, y);
        y_max_ = std::max(y_max_, y);
    }
    ++count_;
    x_sum_ += x;
    y_sum_ += y;
    if (x_tracking_)
        if (TiPlotXAxis* axis = XAxis())
            axis->track(x);
    if (y_tracking_)
        if (TiPlotYAxis* axis = YAxis())
            axis->track(y);
    changed();
}

double TiPlotChannel::DataX(std::int64_t index) const
{
    if (index < 0 || index >= count_)
        throw_list_index_error(int(std::clamp<std::int64_t>(index, INT32_MIN, INT32_MAX)));
    return points_.x(std::size_t(index));
}

double TiPlotChannel::DataY(std::int64_t index) const
{
    if (index < 0 || index >= count_)
        throw_list_index_error(int(std::clamp<std::int64_t>(index, INT32_MIN, INT32_MAX)));
    return points_.y(std::size_t(index));
}
