#pragma once
// A fixed caption drawn on one line in the control's font, with optional
// border and margins; with AutoSize the control fits the caption.
#include "iComponent.h"

enum TiAlignmentHorizontal { iahCenter, iahLeft, iahRight };
enum TiLabelBorderStyle { ilbsNone, ilbsSingle, ilbsLowered, ilbsRaised };

// Border width: 0 for none, 1 for single, 2 for lowered and raised.
int label_border_width(TiLabelBorderStyle style);

class TiLabel : public TiCustomComponent {
    Q_OBJECT
public:
    explicit TiLabel(QWidget* parent = nullptr);

    QString Caption() const { return caption_; }
    void SetCaption(const QString& caption);
    bool AutoSize() const { return auto_size_; }
    void SetAutoSize(bool on);
    TiAlignmentHorizontal Alignment() const { return alignment_; }
    void SetAlignment(TiAlignmentHorizontal alignment);
    // Hides the bevel-only border of the base: a label also has a single line.
    TiLabelBorderStyle BorderStyle() const { return label_border_; }
    void SetBorderStyle(TiLabelBorderStyle style);
    int OuterMarginLeft() const { return margins_.left(); }
    int OuterMarginTop() const { return margins_.top(); }
    int OuterMarginRight() const { return margins_.right(); }
    int OuterMarginBottom() const { return margins_.bottom(); }
    void SetOuterMargins(int left, int top, int right, int bottom);
    // A grey copy of the caption two pixels down and right, behind it.
    bool ShadowShow() const { return shadow_; }
    void SetShadowShow(bool on);

    // The size the caption needs with the current font, border and margins.
    QSize caption_size() const;
    QSize sizeHint() const override { return caption_size(); }
    void paint_to(QPainter& painter, QSize size) const override;

protected:
    void changeEvent(QEvent* event) override;

private:
    void layout_changed();

    QString caption_ = QStringLiteral("iLabel");
    bool auto_size_ = true;
    TiAlignmentHorizontal alignment_ = iahLeft;
    TiLabelBorderStyle label_border_ = ilbsNone;
    QMargins margins_;
    bool shadow_ = false;
};
