#pragma once
// An entry box for a 32-bit integer in decimal (or hex, binary, octal).
#include "iEditCustom.h"

enum TiIntegerFormatStyle { iifsInteger, iifsHex, iifsBinary, iifsOctal };

// Called before a change; the handler may alter NewValue or clear CanChange.
using TOnBeforeChangeInteger
    = std::function<void(QObject* Sender, int OldValue, int& NewValue, bool& CanChange)>;

class TiIntegerOutput : public TiEditCustom {
    Q_OBJECT
public:
    explicit TiIntegerOutput(QWidget* parent = nullptr);

    // The same value only re-shows its text; a new one runs the before-change
    // events, then is stored and shown, and raises OnChange (and OnChangeUser
    // during an operator action).
    int Value() const { return value_; }
    void SetValue(int value);
    TiIntegerFormatStyle FormatStyle() const { return format_; }
    void SetFormatStyle(TiIntegerFormatStyle style);
    // Pads the text with "0" up to MaxLength characters.
    bool LeadingZeros() const { return leading_zeros_; }
    void SetLeadingZeros(bool on);

    TOnBeforeChangeInteger OnBeforeChange;
    TOnBeforeChangeInteger OnBeforeUserChange;

protected:
    bool AcceptChar(QChar ch) const override;
    void ParseAndSet(const QString& text) override;
    QString ValueText() const override;

private:
    int base() const;

    int value_ = 0;
    TiIntegerFormatStyle format_ = iifsInteger;
    bool leading_zeros_ = false;
};
