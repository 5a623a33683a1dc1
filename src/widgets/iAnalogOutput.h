#pragma once
// An entry box for a floating-point value with a number of decimals, optional
// limits and a units text.
#include "iEditCustom.h"

enum TiFilterInputStyle { ifisNone, ifisAuto };

// Called before a change; the handler may alter NewValue or clear CanChange.
using TOnBeforeChangeDouble
    = std::function<void(QObject* Sender, double OldValue, double& NewValue, bool& CanChange)>;

class TiAnalogOutput : public TiEditCustom {
    Q_OBJECT
public:
    explicit TiAnalogOutput(QWidget* parent = nullptr);

    // Clamped to ValueMax, then ValueMin, when either limit is not 0. The same
    // value only re-shows its text; a new one runs the before-change events,
    // then is stored and shown, and raises OnChange (and OnChangeUser during
    // an operator action).
    double Value() const { return value_; }
    void SetValue(double value);
    // Decimals shown, 0..15; re-shows the text without touching Value.
    int Precision() const { return precision_; }
    void SetPrecision(int precision);
    double ValueMin() const { return value_min_; }
    void SetValueMin(double value);
    double ValueMax() const { return value_max_; }
    void SetValueMax(double value);
    QString UnitsText() const { return units_; }
    void SetUnitsText(const QString& text);
    TiFilterInputStyle FilterStyle() const { return filter_; }
    void SetFilterStyle(TiFilterInputStyle style) { filter_ = style; }

    TOnBeforeChangeDouble OnBeforeChange;
    TOnBeforeChangeDouble OnBeforeUserChange;

protected:
    bool AcceptChar(QChar ch) const override;
    void ParseAndSet(const QString& text) override;
    QString ValueText() const override;

private:
    double limited(double value) const;

    double value_ = 0;
    int precision_ = 1;
    double value_min_ = 0;
    double value_max_ = 0;
    QString units_;
    TiFilterInputStyle filter_ = ifisAuto;
};
