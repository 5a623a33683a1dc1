#pragma once
// A floating-point value on a row of seven-segment cells: optional sign cell,
// right-aligned integer digits behind a leading fill, the decimal point in the
// gap between two cells, a fixed number of decimals, and arrows on overflow.
#include "iSevenSegmentDisplay.h"

#include <vector>

enum TiLeadingStyle { ilsNone, ilsZeros, ilsSpaces };

// What the layout of the row depends on.
struct SevenSegmentAnalogParams {
    double value = 0;
    int precision = 2;
    int digit_count = 4;
    bool show_sign = true;
    TiLeadingStyle leading = ilsSpaces;
    int digit_spacing = 6;
    int segment_margin = 5;
    int segment_size = 1;
};

// One drawn cell: its rectangle in the control and its character code.
struct SevenSegmentCell {
    QRect rect;
    int code;
};

// Preferred size: (10 t + spacing) n + 2 margin - spacing by 18 t + 2 margin,
// n counting the sign cell.
QSize seven_segment_analog_size(const SevenSegmentAnalogParams& params);

// The cells drawn for a control of the given size, in drawing order (the
// decimal point comes right after the last integer digit, in a narrow cell).
std::vector<SevenSegmentCell> seven_segment_analog_cells(const SevenSegmentAnalogParams& params, QSize size);

class TiSevenSegmentAnalog : public TiSevenSegmentDisplay {
    Q_OBJECT
public:
    explicit TiSevenSegmentAnalog(QWidget* parent = nullptr);

    // Values above 1e15 are stored as 1e15.
    double Value() const { return value_; }
    void SetValue(double value);
    // 0..13.
    int Precision() const { return precision_; }
    void SetPrecision(int precision);
    // 1..32; the sign cell is not counted.
    int DigitCount() const { return digit_count_; }
    void SetDigitCount(int count);
    bool ShowSign() const { return show_sign_; }
    void SetShowSign(bool on);
    TiLeadingStyle LeadingStyle() const { return leading_; }
    void SetLeadingStyle(TiLeadingStyle style);

    TNotifyEvent OnValueChange;

    SevenSegmentAnalogParams params() const;
    QSize preferred_size() const override;
    void paint_to(QPainter& painter, QSize size) const override;

private:
    double value_ = 0;
    int precision_ = 2;
    int digit_count_ = 4;
    bool show_sign_ = true;
    TiLeadingStyle leading_ = ilsSpaces;
};
