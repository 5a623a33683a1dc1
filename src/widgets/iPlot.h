#pragma once
// TiPlot: the strip-chart control. A chart owns one collection per kind of
// object (toolbar, legend, X axes, Y axes, channels, data view, data cursor,
// label), each in design order and addressed by index from 0. A new chart has
// one of each except channels, named as the form names them ("Toolbar 1",
// "Legend 1", "X-Axis 1", "Y-Axis 1", "Data View 1", "Cursor 1", "Title");
// channels are added with AddChannel.
//
// Drawing: black background, title on top, toolbar at the top left, legend
// on the right, the Y scale and title on the left, the X scale and title
// below, grid lines at the scale ticks, each channel as a 1-pixel line.
// Repaint requests are coalesced, so adding many points costs one repaint.
#include "iPlotAxis.h"
#include "iPlotChannel.h"
#include "iPlotObjects.h"

#include <QWidget>

#include <functional>
#include <optional>
#include <vector>

class TiPlot : public QWidget {
    Q_OBJECT
public:
    explicit TiPlot(QWidget* parent = nullptr);
    ~TiPlot() override;

    TiPlotCollection<TiPlotToolBar>& ToolBarManager() { return toolbars_; }
    TiPlotCollection<TiPlotLegend>& LegendManager() { return legends_; }
    TiPlotCollection<TiPlotXAxis>& XAxisManager() { return x_axes_; }
    TiPlotCollection<TiPlotYAxis>& YAxisManager() { return y_axes_; }
    TiPlotCollection<TiPlotChannel>& ChannelManager() { return channels_; }
    TiPlotCollection<TiPlotDataView>& DataViewManager() { return data_views_; }
    TiPlotCollection<TiPlotDataCursor>& DataCursorManager() { return cursors_; }
    TiPlotCollection<TiPlotLabel>& LabelManager() { return labels_; }

    // Index outside the collection: EListError "List index out of bounds (%d)".
    TiPlotXAxis* XAxis(int index) const { return x_axes_.Items(index); }
    TiPlotYAxis* YAxis(int index) const { return y_axes_.Items(index); }
    TiPlotChannel* Channel(int index) const { return channels_.Items(index); }
    int ChannelCount() const { return channels_.Count(); }

    // Adds a channel drawn against the first X and Y axes.
    TiPlotChannel* AddChannel(const QString& name, const QColor& color = Qt::red);

    // Caption of the first label; with no label, setting does nothing and the
    // text reads empty.
    QString TitleText() const;
    void setTitleText(const QString& text);

    const QColor& BackGroundColor() const { return background_; }
    void setBackGroundColor(const QColor& c);

    // Toolbar actions. Pausing holds every axis where it is drawn while
    // tracking goes on underneath (points keep arriving). Zooming divides or
    // multiplies the drawn spans by the toolbar's ZoomFactor: on a live chart
    // the X axis keeps its right end, where new points arrive, and the Y axis
    // its centre; on a paused chart both keep their centre. resume_scrolling
    // lets the axes follow tracking again at the present zoom;
    // resume_tracking (back to tracking) also drops the zoom.
    void pause_tracking();
    void resume_scrolling();
    void resume_tracking();
    bool tracking_paused() const;
    void zoom_in();
    void zoom_out();
    // Writes the chart as drawn; false with the reason in `why` on failure.
    bool save_png(const QString& path, QString* why = nullptr);

    // The time spans the toolbar offers for the X axes ("10分钟" = 10, ...);
    // a span of 0 or less stands for all history. Without choices the
    // toolbar has no span button.
    struct SpanChoice {
        QString label;
        double span;
    };
    void set_span_choices(std::vector<SpanChoice> choices);
    const std::vector<SpanChoice>& span_choices() const { return span_choices_; }
    // Shows the chosen span on every X axis and drops pause and zoom. A span
    // becomes the axes' Span, placed so that the newest point is at the right
    // end when the history is longer, else the oldest at the left; all
    // history spans every point and keeps widening as points arrive.
    void choose_span(int index);
    // The choice matching the first X axis (all history while it keeps all),
    // or -1.
    int chosen_span() const;

    enum ToolButton { tbPause, tbZoomIn, tbZoomOut, tbTrack, tbSpan, tbSave, tbCount };
    // Rectangle of a toolbar button (empty when the chart has no visible
    // toolbar, or for the span button without span choices).
    QRect tool_button_rect(ToolButton button) const;
    // All the toolbar's buttons together.
    QRect toolbar_rect() const;

    // The cross-hair read-out, shown while the data cursor ("Cursor 1") is
    // visible and the mouse is over the plot area: the X value under the
    // mouse and, for each visible channel whose points reach that far, the
    // point nearest to it in X (none beyond the channel's first or last X,
    // or when that point lies outside the drawn X range).
    struct Readout {
        double x = 0;
        struct Value {
            int channel;
            double x, y;
        };
        std::vector<Value> values;
    };
    Readout readout_at(double x) const;
    // The read-out under the mouse, if it is shown now.
    std::optional<Readout> current_readout() const;
    // Text of the X value in the read-out (default: the number).
    std::function<QString(double)> readout_x_text;

    // The plot area of the last paint, in widget coordinates.
    QRect plot_area() const { return plot_area_; }

    // Draws the whole chart with `painter` into (0, 0, size).
    void paint_plot(QPainter& painter, const QSize& size) const;

    // Asks for one repaint; further requests until it happens cost nothing.
    void request_repaint();

    QSize sizeHint() const override { return QSize(725, 320); }

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;
    bool event(QEvent* event) override;

private:
    void zoom_by(double factor);
    void show_span_menu();
    double x_at(int pixel) const;
    void draw_readout(QPainter& p, const QRect& plot) const;

    TiPlotCollection<TiPlotToolBar> toolbars_;
    TiPlotCollection<TiPlotLegend> legends_;
    TiPlotCollection<TiPlotXAxis> x_axes_;
    TiPlotCollection<TiPlotYAxis> y_axes_;
    TiPlotCollection<TiPlotChannel> channels_;
    TiPlotCollection<TiPlotDataView> data_views_;
    TiPlotCollection<TiPlotDataCursor> cursors_;
    TiPlotCollection<TiPlotLabel> labels_;
    QColor background_ = Qt::black;
    bool paused_ = false;
    bool repaint_pending_ = false;
    std::vector<SpanChoice> span_choices_;
    std::optional<QPoint> mouse_;
    mutable QRect plot_area_;
};
