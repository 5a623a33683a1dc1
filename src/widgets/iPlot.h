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
    bool save_png(const QString& path);

    enum ToolButton { tbPause, tbZoomIn, tbZoomOut, tbTrack, tbSave, tbCount };
    // Rectangle of a toolbar button in a chart of the given size (empty when
    // the chart has no visible toolbar).
    QRect tool_button_rect(ToolButton button) const;

    // Draws the whole chart with `painter` into (0, 0, size).
    void paint_plot(QPainter& painter, const QSize& size) const;

    // Asks for one repaint; further requests until it happens cost nothing.
    void request_repaint();

    QSize sizeHint() const override { return QSize(725, 320); }

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    bool event(QEvent* event) override;

private:
    void zoom_by(double factor);

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
};
