#include "iPlotObjects.h"

#include "errors.h"

#include <string>

void throw_list_index_error(int index)
{
    throw EListError("List index out of bounds (" + std::to_string(index) + ")");
}

TiPlotObject::TiPlotObject(TiPlot* owner, const QString& name)
    : owner_(owner)
    , name_(name)
{
}

TiPlotObject::~TiPlotObject() = default;

void TiPlotObject::setName(const QString& name)
{
    if (name == name_)
        return;
    name_ = name;
    changed();
}

void TiPlotObject::setVisible(bool visible)
{
    if (visible == visible_)
        return;
    visible_ = visible;
    changed();
}

void TiPlotToolBar::setOrientation(TiOrientation o)
{
    if (o == orientation_)
        return;
    orientation_ = o;
    changed();
}

void TiPlotToolBar::setZoomFactor(double factor)
{
    if (factor > 1.0)
        zoom_factor_ = factor;
}

void TiPlotLegend::setOrientation(TiOrientation o)
{
    if (o == orientation_)
        return;
    orientation_ = o;
    changed();
}

void TiPlotLegend::setFontColor(const QColor& c)
{
    if (c == font_color_)
        return;
    font_color_ = c;
    changed();
}

void TiPlotDataView::setGridShow(bool show)
{
    if (show == grid_show_)
        return;
    grid_show_ = show;
    changed();
}

void TiPlotDataView::setGridLineColor(const QColor& c)
{
    if (c == grid_color_)
        return;
    grid_color_ = c;
    changed();
}

TiPlotDataCursor::TiPlotDataCursor(TiPlot* owner, const QString& name)
    : TiPlotObject(owner, name)
{
    setVisible(false);
}

TiPlotLabel::TiPlotLabel(TiPlot* owner, const QString& name)
    : TiPlotObject(owner, name)
{
    font_.setFamily(QStringLiteral("Arial"));
    font_.setPixelSize(19);
    font_.setBold(true);
}

void TiPlotLabel::setCaption(const QString& caption)
{
    if (caption == caption_)
        return;
    caption_ = caption;
    changed();
}

void TiPlotLabel::setFont(const QFont& font)
{
    if (font == font_)
        return;
    font_ = font;
    changed();
}

void TiPlotLabel::setFontColor(const QColor& c)
{
    if (c == font_color_)
        return;
    font_color_ = c;
    changed();
}

void TiPlotLabel::setAlignment(Qt::Alignment a)
{
    if (a == alignment_)
        return;
    alignment_ = a;
    changed();
}
