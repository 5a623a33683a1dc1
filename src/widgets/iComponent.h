#pragma once
// The base of every instrument-look widget: a background colour, a border
// style, painting through one drawing function and a counted repaint request
// that every property setter issues after a change.
#include <QColor>
#include <QImage>
#include <QWidget>

#include <functional>

class QPainter;
class QPalette;

enum TiBevelStyle { ibsNone, ibsRaised, ibsLowered };

// The event type of a plain notification; Sender is the component itself.
using TNotifyEvent = std::function<void(QObject* Sender)>;

// Draws the two-pixel 3-D edge of a rectangle: sunken for ibsLowered (shadow
// upper-left, light lower-right), raised for ibsRaised, nothing for ibsNone.
void draw_bevel(QPainter& painter, const QRect& rect, TiBevelStyle style, const QPalette& palette);

// Width of the edge draw_bevel() draws: 0 for ibsNone, else 2.
int bevel_width(TiBevelStyle style);

// Where an exception raised while a widget handles an operator event (or a
// timer tick) goes, so that it never crosses a Qt frame. The default prints it
// with qCritical; the station routes it to its error box.
void set_widget_error_handler(std::function<void(const QString& message)> handler);

// Runs an event-driven action and hands any exception to the widget error handler.
void run_widget_guarded(const std::function<void()>& action);

class TiComponent : public QWidget {
    Q_OBJECT
public:
    explicit TiComponent(QWidget* parent = nullptr);

    QColor BackGroundColor() const { return background_; }
    void SetBackGroundColor(const QColor& colour);

    TiBevelStyle BorderStyle() const { return border_; }
    void SetBorderStyle(TiBevelStyle style);

    // Moves and resizes the control; lamps that must stay square override it.
    virtual void SetBounds(int left, int top, int width, int height);

    // Draws the whole control as it looks at the given size.
    virtual void paint_to(QPainter& painter, QSize size) const;

    // The control's look at its current size, drawn by paint_to().
    QImage render_image() const;

    // Number of repaint requests issued since construction.
    int repaint_requests() const { return repaint_requests_; }

protected:
    // Requests one repaint (counted).
    void invalidate();
    void paintEvent(QPaintEvent* event) override;

    // Fills with the background colour and draws the border.
    void paint_background(QPainter& painter, QSize size) const;

private:
    QColor background_;
    TiBevelStyle border_ = ibsNone;
    int repaint_requests_ = 0;
};

// The intermediate classes of the chain keep their own names so that code can
// say which level a widget stands on.
class TiVCLComponent : public TiComponent {
    Q_OBJECT
public:
    using TiComponent::TiComponent;
};

class TiCustomComponent : public TiVCLComponent {
    Q_OBJECT
public:
    using TiVCLComponent::TiVCLComponent;
};
