#include "iPlot.h"

#include "errors.h"
#include "iComponent.h"

#include <QDir>
#include <QFileDialog>
#include <QFontMetrics>
#include <QHelpEvent>
#include <QImage>
#include <QImageWriter>
#include <QFileInfo>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QToolTip>

#include <algorithm>
#include <cmath>

void plot_changed(TiPlot* plot)
{
    if (plot)
        plot->request_repaint();
}

namespace {

const char* tool_tip(TiPlot::ToolButton b, bool paused)
{
    switch (b) {
    case TiPlot::tbPause:
        return paused ? "继续滚动" : "暂停滚动";
    case TiPlot::tbZoomIn:
        return "放大";
    case TiPlot::tbZoomOut:
        return "缩小";
    case TiPlot::tbTrack:
        return "回到最新数据";
    case TiPlot::tbSpan:
        return "时间跨度";
    case TiPlot::tbSave:
        return "保存为 PNG 图片";
    case TiPlot::tbCount:
        break;
    }
    return "";
}

} // namespace

TiPlot::TiPlot(QWidget* parent)
    : QWidget(parent)
    , toolbars_(this)
    , legends_(this)
    , x_axes_(this)
    , y_axes_(this)
    , channels_(this)
    , data_views_(this)
    , cursors_(this)
    , labels_(this)
{
    toolbars_.Add(QStringLiteral("Toolbar 1"));
    legends_.Add(QStringLiteral("Legend 1"));
    x_axes_.Add(QStringLiteral("X-Axis 1"));
    y_axes_.Add(QStringLiteral("Y-Axis 1"));
    data_views_.Add(QStringLiteral("Data View 1"));
    cursors_.Add(QStringLiteral("Cursor 1"));
    labels_.Add(QStringLiteral("Title"));
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMouseTracking(true);
    resize(sizeHint());
}

TiPlot::~TiPlot() = default;

TiPlotChannel* TiPlot::AddChannel(const QString& name, const QColor& color)
{
    TiPlotChannel* c = channels_.Add(name);
    c->setColor(color);
    if (x_axes_.Count() > 0)
        c->setXAxisName(x_axes_.Items(0)->Name());
    if (y_axes_.Count() > 0)
        c->setYAxisName(y_axes_.Items(0)->Name());
    return c;
}

QString TiPlot::TitleText() const
{
    return labels_.Count() > 0 ? labels_.Items(0)->Caption() : QString();
}

void TiPlot::setTitleText(const QString& text)
{
    if (labels_.Count() > 0)
        labels_.Items(0)->setCaption(text);
}

void TiPlot::setBackGroundColor(const QColor& c)
{
    if (c == background_)
        return;
    background_ = c;
    request_repaint();
}

void TiPlot::request_repaint()
{
    if (repaint_pending_)
        return;
    repaint_pending_ = true;
    update();
}

// ---------------------------------------------------------------------------
// Toolbar actions

namespace {

template <class F> void for_each_axis(TiPlot& plot, F f)
{
    for (int i = 0; i < plot.XAxisManager().Count(); ++i)
        f(*plot.XAxis(i));
    for (int i = 0; i < plot.YAxisManager().Count(); ++i)
        f(*plot.YAxis(i));
}

double zoom_factor(TiPlot& plot)
{
    return plot.ToolBarManager().Count() > 0 ? plot.ToolBarManager().Items(0)->ZoomFactor() : 2.0;
}

} // namespace

void TiPlot::pause_tracking()
{
    for_each_axis(*this, [](TiPlotAxis& a) { a.hold_view(a.view_min(), a.view_span()); });
    paused_ = true;
    request_repaint();
}

void TiPlot::resume_scrolling()
{
    for_each_axis(*this, [](TiPlotAxis& a) { a.release_view(); });
    paused_ = false;
    request_repaint();
}

void TiPlot::resume_tracking()
{
    for_each_axis(*this, [](TiPlotAxis& a) {
        a.release_view();
        a.set_view_scale(1.0);
    });
    paused_ = false;
    request_repaint();
}

bool TiPlot::tracking_paused() const
{
    return paused_;
}

void TiPlot::zoom_in()
{
    zoom_by(1.0 / zoom_factor(*this));
}

void TiPlot::zoom_out()
{
    zoom_by(zoom_factor(*this));
}

void TiPlot::zoom_by(double factor)
{
    for_each_axis(*this, [factor](TiPlotAxis& a) {
        if (a.view_held()) {
            const double centre = a.view_min() + a.view_span() / 2;
            const double span = a.view_span() * factor;
            a.hold_view(centre - span / 2, span);
        } else {
            a.set_view_scale(a.view_scale() * factor);
        }
    });
}

bool TiPlot::save_png(const QString& path, QString* why)
{
    QImage image(size(), QImage::Format_RGB32);
    QPainter p(&image);
    paint_plot(p, size());
    p.end();
    QImageWriter writer(path, "PNG");
    if (writer.write(image))
        return true;
    if (why)
        *why = writer.errorString();
    return false;
}


// ---------------------------------------------------------------------------
// Time spans

void TiPlot::set_span_choices(std::vector<SpanChoice> choices)
{
    span_choices_ = std::move(choices);
    request_repaint();
}

void TiPlot::choose_span(int index)
{
    if (index < 0 || index >= int(span_choices_.size()))
        return;
    const double span = span_choices_[std::size_t(index)].span;
    for (int i = 0; i < x_axes_.Count(); ++i) {
        TiPlotXAxis& axis = *x_axes_.Items(i);
        // The X range of the points drawn against this axis, the older ones
        // a channel's history source holds included.
        double lo = HUGE_VAL, hi = -HUGE_VAL;
        for (int k = 0; k < channels_.Count(); ++k) {
            const TiPlotChannel& c = *channels_.Items(k);
            if (c.XAxis() == &axis && c.Count() > 0) {
                lo = std::min(lo, c.first_x());
                hi = std::max(hi, c.XMax());
            }
        }
        axis.setTrackingKeepsAll(span <= 0);
        if (span <= 0) {
            if (lo < hi) {
                axis.setMin(lo);
                axis.setSpan(hi - lo);
            }
            continue;
        }
        axis.setSpan(span);
        if (lo <= hi) {
            const double newest = axis.FirstValueReceived() ? axis.LastValue() : hi;
            axis.setMin(std::max(lo, newest - span));
        }
    }
    resume_tracking();
}

int TiPlot::chosen_span() const
{
    if (x_axes_.Count() == 0)
        return -1;
    const TiPlotXAxis& axis = *x_axes_.Items(0);
    for (std::size_t i = 0; i < span_choices_.size(); ++i) {
        const double span = span_choices_[i].span;
        if (axis.TrackingKeepsAll() ? span <= 0 : span == axis.Span())
            return int(i);
    }
    return -1;
}

void TiPlot::show_span_menu()
{
    QMenu menu(this);
    const int chosen = chosen_span();
    for (std::size_t i = 0; i < span_choices_.size(); ++i) {
        QAction* a = menu.addAction(span_choices_[i].label);
        a->setCheckable(true);
        a->setChecked(int(i) == chosen);
        a->setData(int(i));
    }
    if (QAction* picked = menu.exec(mapToGlobal(tool_button_rect(tbSpan).bottomLeft())))
        choose_span(picked->data().toInt());
}

// ---------------------------------------------------------------------------
// Cross-hair read-out

double TiPlot::x_at(int pixel) const
{
    const TiPlotXAxis* xa = x_axes_.Count() > 0 ? x_axes_.Items(0) : nullptr;
    if (!xa || plot_area_.width() < 2)
        return 0;
    return xa->view_min() + double(pixel - plot_area_.left()) / (plot_area_.width() - 1) * xa->view_span();
}

TiPlot::Readout TiPlot::readout_at(double x) const
{
    Readout r;
    r.x = x;
    for (int i = 0; i < channels_.Count(); ++i) {
        const TiPlotChannel& c = *channels_.Items(i);
        const TiPlotAxis* cx = c.XAxis();
        if (!c.Visible() || !cx)
            continue;
        // The held points and those drawn from the channel's history source
        // in this view; beyond either end of them (by more than a few pixels)
        // there is no value under the mouse.
        const double slack = 3 * cx->view_span() / std::max(1, plot_area_.width() - 1);
        TiPlotTraceView view;
        view.x_min = cx->view_min();
        view.x_span = cx->view_span();
        view.width = plot_area_.width();
        view.height = plot_area_.height();
        std::optional<Readout::Value> best;
        auto consider = [&](double lo, double hi, double px, double py) {
            if (x < lo - slack || x > hi + slack)
                return;
            if (px < cx->view_min() || px > cx->view_min() + cx->view_span())
                return;
            if (!best || std::abs(px - x) < std::abs(best->x - x))
                best = Readout::Value { i, px, py };
        };
        if (const TiPlotPoints* older = c.history_points(view)) {
            const std::ptrdiff_t k = older->nearest(x);
            if (k >= 0) {
                const TiPlotBounds b = older->bounds();
                consider(b.x_min, b.x_max, older->x(std::size_t(k)), older->y(std::size_t(k)));
            }
        }
        if (c.Count() > 0) {
            const std::ptrdiff_t k = nearest_point(c.Points(), x);
            if (k >= 0)
                consider(c.XMin(), c.XMax(), c.Points().x(std::size_t(k)), c.Points().y(std::size_t(k)));
        }
        if (best)
            r.values.push_back(*best);
    }
    return r;
}

std::optional<TiPlot::Readout> TiPlot::current_readout() const
{
    if (cursors_.Count() == 0 || !cursors_.Items(0)->Visible() || !mouse_ || !plot_area_.contains(*mouse_))
        return std::nullopt;
    return readout_at(x_at(mouse_->x()));
}

void TiPlot::mouseMoveEvent(QMouseEvent* event)
{
    mouse_ = event->position().toPoint();
    request_repaint();
    QWidget::mouseMoveEvent(event);
}

void TiPlot::leaveEvent(QEvent* event)
{
    mouse_.reset();
    request_repaint();
    QWidget::leaveEvent(event);
}

void TiPlot::paintEvent(QPaintEvent*)
{
    repaint_pending_ = false;
    QPainter p(this);
    paint_plot(p, size());
}

void TiPlot::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    for (int b = 0; b < tbCount; ++b) {
        if (!tool_button_rect(ToolButton(b)).contains(event->position().toPoint()))
            continue;
        switch (ToolButton(b)) {
        case tbPause:
            if (paused_)
                resume_scrolling();
            else
                pause_tracking();
            break;
        case tbZoomIn:
            zoom_in();
            break;
        case tbZoomOut:
            zoom_out();
            break;
        case tbTrack:
            resume_tracking();
            break;
        case tbSpan:
            show_span_menu();
            break;
        case tbSave: {
            const QString path = QFileDialog::getSaveFileName(
                this, QStringLiteral("保存图表"), QStringLiteral("chart.png"), QStringLiteral("PNG (*.png)"));
            run_widget_guarded([&] {
                QString why;
                if (!path.isEmpty() && !save_png(path, &why))
                    throw EInOutError(QStringLiteral("无法保存图片 %1：%2")
                                          .arg(QDir::toNativeSeparators(path), why)
                                          .toStdString());
                if (!path.isEmpty())
                    QToolTip::showText(mapToGlobal(QPoint(8, 8)),
                        QStringLiteral("图表已保存到 %1").arg(QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath())),
                        this);
            });
            break;
        }
        case tbCount:
            break;
        }
        return;
    }
    QWidget::mousePressEvent(event);
}

bool TiPlot::event(QEvent* event)
{
    if (event->type() == QEvent::ToolTip) {
        auto* help = static_cast<QHelpEvent*>(event);
        for (int b = 0; b < tbCount; ++b) {
            if (tool_button_rect(ToolButton(b)).contains(help->pos())) {
                QToolTip::showText(
                    help->globalPos(), QString::fromUtf8(tool_tip(ToolButton(b), paused_)), this);
                return true;
            }
        }
        QToolTip::hideText();
        event->ignore();
        return true;
    }
    return QWidget::event(event);
}
