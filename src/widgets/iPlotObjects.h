#pragma once
// The named objects a plot is made of (toolbar, legend, data view, data cursor,
// label) and the collection that keeps each kind in design order.
#include <QColor>
#include <QFont>
#include <QString>
#include <memory>
#include <vector>

class TiPlot;

// Raises EListError("List index out of bounds (<index>)").
[[noreturn]] void throw_list_index_error(int index);

// Asks the plot to repaint (coalesced: one repaint for many changes).
void plot_changed(TiPlot* plot);

class TiPlotObject {
public:
    TiPlotObject(TiPlot* owner, const QString& name);
    virtual ~TiPlotObject();
    TiPlotObject(const TiPlotObject&) = delete;
    TiPlotObject& operator=(const TiPlotObject&) = delete;

    TiPlot* Owner() const { return owner_; }
    const QString& Name() const { return name_; }
    void setName(const QString& name);
    bool Visible() const { return visible_; }
    void setVisible(bool visible);

protected:
    void changed() { plot_changed(owner_); }

private:
    TiPlot* owner_;
    QString name_;
    bool visible_ = true;
};

// Objects of one kind, in design order, addressed by index from 0.
template <class T> class TiPlotCollection {
public:
    explicit TiPlotCollection(TiPlot* owner)
        : owner_(owner)
    {
    }
    int Count() const { return int(items_.size()); }
    T* Items(int index) const
    {
        if (index < 0 || index >= Count())
            throw_list_index_error(index);
        return items_[std::size_t(index)].get();
    }
    T* Find(const QString& name) const
    {
        for (const auto& item : items_)
            if (item->Name() == name)
                return item.get();
        return nullptr;
    }
    T* Add(const QString& name)
    {
        items_.push_back(std::make_unique<T>(owner_, name));
        plot_changed(owner_);
        return items_.back().get();
    }
    void Delete(int index)
    {
        Items(index);
        items_.erase(items_.begin() + index);
        plot_changed(owner_);
    }
    void Clear()
    {
        items_.clear();
        plot_changed(owner_);
    }

private:
    TiPlot* owner_;
    std::vector<std::unique_ptr<T>> items_;
};

enum TiOrientation { ioHorizontal, ioVertical };

// Toolbar: pause/resume, zoom in and out by ZoomFactor, back to tracking, save PNG.
class TiPlotToolBar : public TiPlotObject {
public:
    using TiPlotObject::TiPlotObject;
    TiOrientation Orientation() const { return orientation_; }
    void setOrientation(TiOrientation o);
    double ZoomFactor() const { return zoom_factor_; }
    void setZoomFactor(double factor); // values <= 1 are refused (zooming would do nothing or invert)

private:
    TiOrientation orientation_ = ioHorizontal;
    double zoom_factor_ = 2.0;
};

class TiPlotLegend : public TiPlotObject {
public:
    using TiPlotObject::TiPlotObject;
    TiOrientation Orientation() const { return orientation_; }
    void setOrientation(TiOrientation o);
    const QColor& FontColor() const { return font_color_; }
    void setFontColor(const QColor& c);

private:
    TiOrientation orientation_ = ioVertical;
    QColor font_color_ = Qt::white;
};

class TiPlotDataView : public TiPlotObject {
public:
    using TiPlotObject::TiPlotObject;
    bool GridShow() const { return grid_show_; }
    void setGridShow(bool show);
    const QColor& GridLineColor() const { return grid_color_; }
    void setGridLineColor(const QColor& c);
    // Dragging the axes with the mouse; stored, the plot offers no mouse drag.
    bool AxesControlMouseStyle() const { return mouse_control_; }
    void setAxesControlMouseStyle(bool on) { mouse_control_ = on; }

private:
    bool grid_show_ = true;
    QColor grid_color_ = QColor(96, 96, 96);
    bool mouse_control_ = false;
};

class TiPlotDataCursor : public TiPlotObject {
public:
    TiPlotDataCursor(TiPlot* owner, const QString& name);
};

class TiPlotLabel : public TiPlotObject {
public:
    TiPlotLabel(TiPlot* owner, const QString& name);
    const QString& Caption() const { return caption_; }
    void setCaption(const QString& caption);
    const QFont& Font() const { return font_; }
    void setFont(const QFont& font);
    const QColor& FontColor() const { return font_color_; }
    void setFontColor(const QColor& c);
    Qt::Alignment Alignment() const { return alignment_; }
    void setAlignment(Qt::Alignment a);

private:
    QString caption_ = QStringLiteral("Untitled");
    QFont font_;
    QColor font_color_ = Qt::white;
    Qt::Alignment alignment_ = Qt::AlignHCenter;
};
