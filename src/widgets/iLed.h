#pragma once
// The common part of the lamps: lit state, lit colour, the unlit colour
// (automatic thirds of the lit colour, or a fixed one) and the 3-D rim style.
#include "iComponent.h"

class TiLed : public TiCustomComponent {
    Q_OBJECT
public:
    explicit TiLed(QWidget* parent = nullptr);

    bool Active() const { return active_; }
    void SetActive(bool on);
    QColor ActiveColor() const { return active_color_; }
    void SetActiveColor(const QColor& colour);
    bool AutoInactiveColor() const { return auto_inactive_; }
    void SetAutoInactiveColor(bool on);
    QColor InactiveColor() const { return inactive_color_; }
    void SetInactiveColor(const QColor& colour);
    TiBevelStyle BevelStyle() const { return bevel_; }
    void SetBevelStyle(TiBevelStyle style);
    bool ShowReflection() const { return show_reflection_; }
    void SetShowReflection(bool on);

    // The colour the lamp body shows now.
    QColor lamp_color() const;

    // Raised after Active changed.
    TNotifyEvent OnChange;

    QSize sizeHint() const override { return QSize(20, 20); }

private:
    bool active_ = false;
    QColor active_color_ = QColor(0, 255, 0);
    bool auto_inactive_ = true;
    QColor inactive_color_ = QColor(0, 85, 0);
    TiBevelStyle bevel_ = ibsLowered;
    bool show_reflection_ = true;
};
