#pragma once
// The common part of the seven-segment displays: segment colours and stroke,
// spacing and margin, and automatic sizing to the preferred size.
#include "iComponent.h"
#include "iSevenSegmentCharacter.h"

class TiSevenSegmentDisplay : public TiCustomComponent {
    Q_OBJECT
public:
    explicit TiSevenSegmentDisplay(QWidget* parent = nullptr);

    QColor SegmentColor() const { return segment_color_; }
    void SetSegmentColor(const QColor& colour);
    QColor SegmentOffColor() const { return segment_off_color_; }
    void SetSegmentOffColor(const QColor& colour);
    bool AutoSegmentOffColor() const { return auto_off_color_; }
    void SetAutoSegmentOffColor(bool on);
    bool ShowOffSegments() const { return show_off_; }
    void SetShowOffSegments(bool on);
    bool PowerOff() const { return power_off_; }
    void SetPowerOff(bool on);

    // Stroke unit, 1..100.
    int SegmentSize() const { return segment_size_; }
    void SetSegmentSize(int size);
    // Gap between neighbouring segments, at least 0.
    int SegmentSeperation() const { return separation_; }
    void SetSegmentSeperation(int gap);
    // Pixels around the row of cells, at least 0.
    int SegmentMargin() const { return margin_; }
    void SetSegmentMargin(int margin);
    // Pixels between cells; any value.
    int DigitSpacing() const { return spacing_; }
    void SetDigitSpacing(int spacing);

    bool AutoSize() const { return auto_size_; }
    void SetAutoSize(bool on);

    // Width and height for the current settings.
    virtual QSize preferred_size() const = 0;
    QSize sizeHint() const override { return preferred_size(); }

protected:
    // Resizes to the preferred size when AutoSize is on; then requests a repaint.
    void size_changed();
    // The cell drawer loaded with the current colour and stroke settings.
    TiSevenSegmentCharacter character() const;

private:
    QColor segment_color_ = Qt::white;
    QColor segment_off_color_ = QColor(128, 128, 128);
    bool auto_off_color_ = true;
    bool show_off_ = true;
    bool power_off_ = false;
    int segment_size_ = 1;
    int separation_ = 1;
    int margin_ = 5;
    int spacing_ = 6;
    bool auto_size_ = true;
};
