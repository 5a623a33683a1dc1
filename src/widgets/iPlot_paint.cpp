// Drawing the plot: its geometry, the toolbar, the axes, the channels, the
// legend and the cross-hair read-out.
#include "iPlot.h"

#include "iComponent.h"

#include <QFontMetrics>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>
// ---------------------------------------------------------------------------
// Geometry and drawing

namespace {

constexpr int kMargin = 6;
constexpr int kButton = 18;
constexpr int kSpanButton = 58;
constexpr int kButtonGap = 3;

QString tick_text(double v, int decimals)
{
    if (std::abs(v) >= 1e7)
        return QString::number(v, 'g', 6);
    return QString::number(v, 'f', std::min(decimals, 12));
}

QFont legend_font()
{
    QFont f(QStringLiteral("Arial"));
    f.setPixelSize(11);
    return f;
}

void draw_tool_icon(QPainter& p, const QRect& r, TiPlot::ToolButton b, bool paused, const QString& span_text)
{
    p.save();
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setPen(QColor(110, 110, 110));
    p.setBrush(QColor(45, 45, 45));
    p.drawRoundedRect(QRectF(r).adjusted(0.5, 0.5, -0.5, -0.5), 3, 3);
    const QPointF c = QRectF(r).center();
    const QColor ink(220, 220, 220);
    p.setPen(QPen(ink, 1.5));
    p.setBrush(ink);
    switch (b) {
    case TiPlot::tbPause:
        if (paused) { // play: resume
            QPolygonF tri { QPointF(c.x() - 3, c.y() - 5), QPointF(c.x() + 5, c.y()),
                QPointF(c.x() - 3, c.y() + 5) };
            p.drawPolygon(tri);
        } else {
            p.setPen(Qt::NoPen);
            p.drawRect(QRectF(c.x() - 4, c.y() - 5, 3, 10));
            p.drawRect(QRectF(c.x() + 1, c.y() - 5, 3, 10));
        }
        break;
    case TiPlot::tbZoomIn:
    case TiPlot::tbZoomOut:
        p.setBrush(Qt::NoBrush);
        p.drawEllipse(QPointF(c.x() - 1.5, c.y() - 1.5), 4.5, 4.5);
        p.drawLine(QPointF(c.x() + 2, c.y() + 2), QPointF(c.x() + 6, c.y() + 6));
        p.setPen(QPen(ink, 1.2));
        p.drawLine(QPointF(c.x() - 4, c.y() - 1.5), QPointF(c.x() + 1, c.y() - 1.5));
        if (b == TiPlot::tbZoomIn)
            p.drawLine(QPointF(c.x() - 1.5, c.y() - 4), QPointF(c.x() - 1.5, c.y() + 1));
        break;
    case TiPlot::tbTrack: { // arrow to the newest end
        p.drawLine(QPointF(c.x() - 5, c.y()), QPointF(c.x() + 1, c.y()));
        QPolygonF tri { QPointF(c.x(), c.y() - 4), QPointF(c.x() + 4, c.y()), QPointF(c.x(), c.y() + 4) };
        p.drawPolygon(tri);
        p.drawLine(QPointF(c.x() + 5.5, c.y() - 5), QPointF(c.x() + 5.5, c.y() + 5));
        break;
    }
    case TiPlot::tbSpan: {
        QFont f = legend_font();
        p.setFont(f);
        p.setPen(ink);
        p.drawText(QRectF(r).adjusted(2, 0, -10, 0), Qt::AlignCenter, span_text);
        QPolygonF tri { QPointF(r.right() - 8, c.y() - 1.5), QPointF(r.right() - 3, c.y() - 1.5),
            QPointF(r.right() - 5.5, c.y() + 1.5) };
        p.setPen(Qt::NoPen);
        p.drawPolygon(tri);
        break;
    }
    case TiPlot::tbSave: {
        p.setBrush(Qt::NoBrush);
        p.setPen(QPen(ink, 1.2));
        const QRectF body(c.x() - 5, c.y() - 5, 10, 10);
        p.drawRect(body);
        p.setBrush(ink);
        p.drawRect(QRectF(c.x() - 3, c.y() - 5, 6, 3.5));
        p.setBrush(Qt::NoBrush);
        p.drawRect(QRectF(c.x() - 3, c.y() + 1, 6, 4));
        break;
    }
    case TiPlot::tbCount:
        break;
    }
    p.restore();
}

} // namespace

QRect TiPlot::tool_button_rect(ToolButton button) const
{
    if (toolbars_.Count() == 0 || !toolbars_.Items(0)->Visible() || button >= tbCount)
        return {};
    auto shown = [this](int b) { return b != tbSpan || !span_choices_.empty(); };
    if (!shown(button))
        return {};
    const bool vertical = toolbars_.Items(0)->Orientation() == ioVertical;
    auto width = [](int b) { return b == tbSpan ? kSpanButton : kButton; };
    int pos = kMargin;
    for (int b = 0; b < button; ++b)
        if (shown(b))
            pos += (vertical ? kButton : width(b)) + kButtonGap;
    if (vertical)
        return QRect(kMargin, pos, width(button), kButton);
    return QRect(pos, kMargin, width(button), kButton);
}

QRect TiPlot::toolbar_rect() const
{
    QRect all;
    for (int b = 0; b < tbCount; ++b)
        all |= tool_button_rect(ToolButton(b));
    return all;
}

void TiPlot::paint_plot(QPainter& p, const QSize& size) const
{
    const int w = size.width();
    const int h = size.height();
    p.save();
    p.fillRect(QRect(0, 0, w, h), background_);

    // Toolbar.
    const int chosen = chosen_span();
    const QString span_text = chosen >= 0 ? span_choices_[std::size_t(chosen)].label
        : x_axes_.Count() > 0             ? tick_text(x_axes_.Items(0)->Span(), 0)
                                          : QString();
    int top = kMargin;
    int left = kMargin;
    for (int b = 0; b < tbCount; ++b) {
        const QRect r = tool_button_rect(ToolButton(b));
        if (r.isEmpty())
            continue;
        draw_tool_icon(p, r, ToolButton(b), paused_, span_text);
        top = std::max(top, r.bottom() + 1);
        if (toolbars_.Items(0)->Orientation() == ioVertical)
            left = std::max(left, r.right() + 1 + kMargin);
    }

    // Title (first label).
    if (labels_.Count() > 0 && labels_.Items(0)->Visible()) {
        const TiPlotLabel& l = *labels_.Items(0);
        p.setFont(l.Font());
        p.setPen(l.FontColor());
        const int th = QFontMetrics(l.Font()).height();
        p.drawText(QRect(0, 2, w, th), int(l.Alignment() | Qt::AlignVCenter), l.Caption());
        top = std::max(top, 2 + th);
    }
    top += 8;

    const TiPlotXAxis* xa = nullptr;
    for (int i = 0; i < x_axes_.Count() && !xa; ++i)
        if (x_axes_.Items(i)->Visible())
            xa = x_axes_.Items(i);
    const TiPlotYAxis* ya = nullptr;
    for (int i = 0; i < y_axes_.Count() && !ya; ++i)
        if (y_axes_.Items(i)->Visible())
            ya = y_axes_.Items(i);

    // Legend on the right: one row per channel, colour sample then title.
    const QFont lf = legend_font();
    const QFontMetrics lfm(lf);
    const TiPlotLegend* legend
        = legends_.Count() > 0 && legends_.Items(0)->Visible() ? legends_.Items(0) : nullptr;
    int legend_w = 0;
    auto legend_text
        = [](const TiPlotChannel& c) { return c.TitleText().isEmpty() ? c.Name() : c.TitleText(); };
    if (legend && channels_.Count() > 0) {
        for (int i = 0; i < channels_.Count(); ++i)
            if (channels_.Items(i)->Visible())
                legend_w = std::max(legend_w, lfm.horizontalAdvance(legend_text(*channels_.Items(i))));
        legend_w += 34;
    }

    const int x_label_h = xa ? QFontMetrics(xa->LabelsFont()).height() : 0;
    const int x_title_h = xa && xa->TitleShow() ? QFontMetrics(xa->TitleFont()).height() : 0;
    const int bottom = h - kMargin - x_title_h - (x_title_h ? 2 : 0) - x_label_h - 6;
    const int plot_top = top + (ya ? QFontMetrics(ya->LabelsFont()).height() / 2 : 0);

    TiPlotTicks y_ticks;
    int y_label_w = 0;
    if (ya) {
        y_ticks = compute_ticks(ya->view_min(), ya->view_span(), std::max(1, bottom - plot_top), 28);
        const QFontMetrics fm(ya->LabelsFont());
        for (double v : y_ticks.values)
            y_label_w = std::max(y_label_w, fm.horizontalAdvance(tick_text(v, y_ticks.decimals)));
    }
    const int y_title_w = ya && ya->TitleShow() ? QFontMetrics(ya->TitleFont()).height() + 4 : 0;
    const int plot_left = left + y_title_w + y_label_w + 8;
    const int plot_right = w - kMargin - (legend_w ? legend_w + 8 : 0) - 1;
    const QRect plot(
        QPoint(plot_left, plot_top), QPoint(std::max(plot_left, plot_right), std::max(plot_top, bottom)));
    plot_area_ = plot;

    TiPlotTicks x_ticks;
    if (xa) {
        const QFontMetrics fm(xa->LabelsFont());
        if (xa->TimeScale()) {
            const int sample = fm.horizontalAdvance(QStringLiteral("00:00:00"));
            x_ticks = compute_time_ticks(xa->view_min(), xa->view_span(), plot.width(), sample + 16);
        } else {
            const int sample = fm.horizontalAdvance(tick_text(xa->view_min() + xa->view_span(), 6));
            x_ticks
                = compute_ticks(xa->view_min(), xa->view_span(), plot.width(), std::max(50, sample / 2 + 30));
        }
    }
    auto x_tick_text = [&](double v) {
        return xa->TimeScale() ? time_tick_text(v, x_ticks.step) : tick_text(v, x_ticks.decimals);
    };

    auto x_pos
        = [&](double v) { return plot.left() + (v - xa->view_min()) / xa->view_span() * (plot.width() - 1); };
    auto y_pos = [&](double v) {
        return plot.top() + (ya->view_min() + ya->view_span() - v) / ya->view_span() * (plot.height() - 1);
    };

    // Grid lines.
    const TiPlotDataView* dv = data_views_.Count() > 0 ? data_views_.Items(0) : nullptr;
    if (dv && dv->Visible() && dv->GridShow()) {
        QPen grid(dv->GridLineColor(), 0, Qt::DotLine);
        p.setPen(grid);
        if (xa)
            for (double v : x_ticks.values)
                p.drawLine(
                    QPointF(std::round(x_pos(v)), plot.top()), QPointF(std::round(x_pos(v)), plot.bottom()));
        if (ya)
            for (double v : y_ticks.values)
                p.drawLine(
                    QPointF(plot.left(), std::round(y_pos(v))), QPointF(plot.right(), std::round(y_pos(v))));
    }

    // Traces, clipped to the plot area.
    p.save();
    p.setClipRect(plot);
    std::vector<TiPlotSpan> spans;
    for (int i = 0; i < channels_.Count(); ++i) {
        const TiPlotChannel& c = *channels_.Items(i);
        const TiPlotAxis* cx = c.XAxis();
        const TiPlotAxis* cy = c.YAxis();
        if (!c.Visible() || !cx || !cy || (c.Count() == 0 && !c.history()))
            continue;
        TiPlotTraceView view;
        view.x_min = cx->view_min();
        view.x_span = cx->view_span();
        view.y_min = cy->view_min();
        view.y_span = cy->view_span();
        view.width = plot.width();
        view.height = plot.height();
        spans.clear();
        // The points older than those held, then the held ones; the first
        // held point ends the older part, so the two join.
        if (const TiPlotPoints* older = c.history_points(view))
            render_points(*older, view, spans);
        render_trace(c.Points(), view, spans);
        for (const TiPlotSpan& s : spans)
            p.fillRect(
                plot.left() + s.column, plot.top() + s.row_top, 1, s.row_bottom - s.row_top + 1, c.Color());
    }
    p.restore();

    // Frame and scales.
    p.setPen(QColor(150, 150, 150));
    p.setBrush(Qt::NoBrush);
    p.drawRect(plot.adjusted(-1, -1, 0, 0));
    if (ya) {
        const QFontMetrics fm(ya->LabelsFont());
        p.setFont(ya->LabelsFont());
        for (double v : y_ticks.values) {
            const int y = int(std::round(y_pos(v)));
            p.setPen(QColor(200, 200, 200));
            p.drawLine(plot.left() - 5, y, plot.left() - 2, y);
            p.setPen(ya->LabelsFontColor());
            p.drawText(QRect(plot.left() - 8 - y_label_w, y - fm.height() / 2, y_label_w, fm.height()),
                Qt::AlignRight | Qt::AlignVCenter, tick_text(v, y_ticks.decimals));
        }
        if (ya->TitleShow()) {
            p.save();
            p.setFont(ya->TitleFont());
            p.setPen(Qt::white);
            const int th = QFontMetrics(ya->TitleFont()).height();
            p.translate(left, plot.center().y());
            p.rotate(-90);
            p.drawText(
                QRect(-plot.height() / 2 - 40, 0, plot.height() + 80, th), Qt::AlignCenter, ya->Title());
            p.restore();
        }
    }
    if (xa) {
        const QFontMetrics fm(xa->LabelsFont());
        p.setFont(xa->LabelsFont());
        for (double v : x_ticks.values) {
            const int x = int(std::round(x_pos(v)));
            p.setPen(QColor(200, 200, 200));
            p.drawLine(x, plot.bottom() + 2, x, plot.bottom() + 5);
            p.setPen(xa->LabelsFontColor());
            const QString t = x_tick_text(v);
            const int tw = fm.horizontalAdvance(t);
            p.drawText(QRect(x - tw / 2 - 2, plot.bottom() + 6, tw + 4, fm.height()), Qt::AlignCenter, t);
        }
        if (xa->TitleShow()) {
            p.setFont(xa->TitleFont());
            p.setPen(Qt::white);
            p.drawText(QRect(plot.left(), plot.bottom() + 6 + x_label_h + 2, plot.width(), x_title_h),
                Qt::AlignCenter, xa->Title());
        }
    }

    // Legend.
    if (legend_w) {
        const int row = lfm.height() + 3;
        int visible = 0;
        for (int i = 0; i < channels_.Count(); ++i)
            visible += channels_.Items(i)->Visible() ? 1 : 0;
        const QRect box(w - kMargin - legend_w, plot.top(), legend_w, visible * row + 6);
        p.setPen(QColor(110, 110, 110));
        p.setBrush(Qt::NoBrush);
        p.drawRect(box.adjusted(0, 0, -1, -1));
        p.setFont(lf);
        int y = box.top() + 3;
        for (int i = 0; i < channels_.Count(); ++i) {
            const TiPlotChannel& c = *channels_.Items(i);
            if (!c.Visible())
                continue;
            const int mid = y + row / 2;
            p.fillRect(box.left() + 6, mid - 1, 18, 3, c.Color());
            p.setPen(legend->FontColor());
            p.drawText(QRect(box.left() + 28, y, legend_w - 30, row), Qt::AlignLeft | Qt::AlignVCenter,
                legend_text(c));
            y += row;
        }
    }
    draw_readout(p, plot);
    p.restore();
}

void TiPlot::draw_readout(QPainter& p, const QRect& plot) const
{
    const std::optional<Readout> r = current_readout();
    if (!r)
        return;
    const QPoint m = *mouse_;
    p.save();
    p.setClipRect(plot);
    p.setPen(QPen(QColor(220, 220, 220), 0, Qt::DashLine));
    p.drawLine(m.x(), plot.top(), m.x(), plot.bottom());
    p.drawLine(plot.left(), m.y(), plot.right(), m.y());

    // A ring on each channel's point, then the values in a box by the mouse.
    const QFont f = legend_font();
    const QFontMetrics fm(f);
    QStringList lines { readout_x_text ? readout_x_text(r->x) : tick_text(r->x, 3) };
    for (const Readout::Value& v : r->values) {
        const TiPlotChannel& c = *channels_.Items(v.channel);
        const TiPlotAxis* cx = c.XAxis();
        const TiPlotAxis* cy = c.YAxis();
        if (cx && cy) {
            const double px = plot.left() + (v.x - cx->view_min()) / cx->view_span() * (plot.width() - 1);
            const double py = plot.top()
                + (cy->view_min() + cy->view_span() - v.y) / cy->view_span() * (plot.height() - 1);
            p.setPen(QPen(c.Color(), 1.5));
            p.setBrush(Qt::NoBrush);
            p.drawEllipse(QPointF(px, py), 3.5, 3.5);
        }
        const int decimals = cy
            ? compute_ticks(cy->view_min(), cy->view_span(), std::max(1, plot.height()), 28).decimals + 2
            : 3;
        lines << (c.TitleText().isEmpty() ? c.Name() : c.TitleText()) + QStringLiteral("  ")
                + tick_text(v.y, decimals);
    }
    int text_w = 0;
    for (const QString& l : lines)
        text_w = std::max(text_w, fm.horizontalAdvance(l));
    const int row = fm.height() + 1;
    const QSize box_size(text_w + 26, int(lines.size()) * row + 6);
    QPoint at = m + QPoint(12, 12);
    if (at.x() + box_size.width() > plot.right())
        at.setX(m.x() - 12 - box_size.width());
    if (at.y() + box_size.height() > plot.bottom())
        at.setY(std::max(plot.top(), m.y() - 12 - box_size.height()));
    const QRect box(at, box_size);
    p.setPen(QColor(160, 160, 160));
    p.setBrush(QColor(20, 20, 20, 220));
    p.drawRect(box.adjusted(0, 0, -1, -1));
    p.setFont(f);
    for (int i = 0; i < lines.size(); ++i) {
        const QRect line(box.left() + 20, box.top() + 3 + i * row, text_w + 4, row);
        if (i > 0)
            p.fillRect(box.left() + 5, line.center().y() - 1, 11, 3,
                channels_.Items(r->values[std::size_t(i - 1)].channel)->Color());
        p.setPen(Qt::white);
        p.drawText(line, Qt::AlignLeft | Qt::AlignVCenter, lines[i]);
    }
    p.restore();
}
