#include "iPlotChannel.h"

#include "iPlot.h"

#include <algorithm>
#include <cmath>

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
    apply_memory_limit();
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

void TiPlotChannel::set_memory_limit(const TiPlotMemoryLimit& limit)
{
    limit_ = limit;
    apply_memory_limit();
}

void TiPlotChannel::apply_memory_limit()
{
    const std::size_t chunk = TiPlotPointStore::kChunkPoints;
    const double newest = points_.size() ? points_.x(points_.size() - 1) : 0.0;
    std::size_t drop = 0;
    while (drop + 1 < points_.chunk_count()) {
        const bool too_many = limit_.points > 0 && points_.size() - (drop + 1) * chunk >= limit_.points;
        const bool too_old = limit_.x_age > 0 && points_.bounds(TiPlotPointStore::kChunkLevels, drop).x_max < newest - limit_.x_age;
        if (!too_many && !too_old)
            break;
        ++drop;
    }
    if (drop == 0)
        return;
    // The statistics lose the dropped points: their sums go, the bounds are
    // those of the chunks that stay.
    for (std::size_t i = 0; i < drop * chunk; ++i) {
        x_sum_ -= points_.x(i);
        y_sum_ -= points_.y(i);
    }
    points_.drop_front_chunks(drop);
    count_ = std::int64_t(points_.size());
    const int top = points_.top_level();
    TiPlotBounds all = points_.bounds(top, 0);
    for (std::size_t b = 1; b < points_.block_count(top); ++b) {
        const TiPlotBounds o = points_.bounds(top, b);
        all = { std::min(all.x_min, o.x_min), std::max(all.x_max, o.x_max), std::min(all.y_min, o.y_min),
            std::max(all.y_max, o.y_max) };
    }
    x_min_ = all.x_min;
    x_max_ = all.x_max;
    y_min_ = all.y_min;
    y_max_ = all.y_max;
    fetched_.reset();
}

void TiPlotChannel::set_history(std::shared_ptr<TiPlotHistory> source)
{
    history_ = std::move(source);
    history_changed();
}

void TiPlotChannel::history_changed()
{
    fetched_.reset();
    changed();
}

const TiPlotPoints* TiPlotChannel::history_points(const TiPlotTraceView& view) const
{
    const double before = count_ > 0 ? points_.x(0) : HUGE_VAL;
    if (!history_ || !(view.x_min < before) || view.width <= 0)
        return nullptr;
    if (fetched_) {
        const TiPlotTraceView& f = fetched_->view;
        const double column = view.x_span / std::max(1, view.width - 1);
        if (f.width == view.width && f.x_span == view.x_span && fetched_->before == before
            && std::abs(f.x_min - view.x_min) < column)
            return &fetched_->points;
    }
    auto fetch = std::make_unique<HistoryFetch>();
    fetch->view = view;
    fetch->before = before;
    history_->fetch(view, before, fetch->points);
    if (count_ > 0 && fetch->points.size() > 0)
        fetch->points.append(points_.x(0), points_.y(0));
    fetched_ = std::move(fetch);
    return &fetched_->points;
}

double TiPlotChannel::first_x() const
{
    const double held = count_ > 0 ? points_.x(0) : HUGE_VAL;
    if (!history_)
        return held;
    return std::min(held, history_->first_x(held));
}
