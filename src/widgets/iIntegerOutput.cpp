#include "iIntegerOutput.h"

#include "convert.h"
#include "errors.h"

TiIntegerOutput::TiIntegerOutput(QWidget* parent)
    : TiEditCustom(parent)
{
    SetAlignment(taCenter);
    QFont f = font();
    f.setBold(true);
    setFont(f);
    show_value();
}

int TiIntegerOutput::base() const
{
    switch (format_) {
    case iifsHex:
        return 16;
    case iifsBinary:
        return 2;
    case iifsOctal:
        return 8;
    case iifsInteger:
        break;
    }
    return 10;
}

void TiIntegerOutput::SetValue(int value)
{
    if (value == value_) {
        show_value();
        return;
    }
    bool can_change = true;
    if (user_action() && OnBeforeUserChange)
        OnBeforeUserChange(this, value_, value, can_change);
    if (OnBeforeChange)
        OnBeforeChange(this, value_, value, can_change);
    if (!can_change) {
        show_value();
        return;
    }
    value_ = value;
    show_value();
    if (OnChange)
        OnChange(this);
    if (user_action() && OnChangeUser)
        OnChangeUser(this);
}

void TiIntegerOutput::SetFormatStyle(TiIntegerFormatStyle style)
{
    if (style == format_)
        return;
    format_ = style;
    show_value();
}

void TiIntegerOutput::SetLeadingZeros(bool on)
{
    if (on == leading_zeros_)
        return;
    leading_zeros_ = on;
    show_value();
}

QString TiIntegerOutput::ValueText() const
{
    QString digits;
    QString sign;
    if (format_ == iifsInteger) {
        digits = QString::number(value_);
        if (value_ < 0) {
            sign = QStringLiteral("-");
            digits.remove(0, 1);
        }
    } else {
        // The other bases show the 32-bit pattern.
        digits = QString::number(unsigned(value_), base()).toUpper();
    }
    if (leading_zeros_ && MaxLength() > 0) {
        // The zeros go between the sign and the digits.
        while (sign.size() + digits.size() < MaxLength())
            digits.prepend(u'0');
    }
    return sign + digits;
}

bool TiIntegerOutput::AcceptChar(QChar ch) const
{
    switch (format_) {
    case iifsInteger:
        return ch >= u'0' && ch <= u'9';
    case iifsOctal:
        return ch >= u'0' && ch <= u'7';
    case iifsBinary:
        return ch == u'0' || ch == u'1';
    case iifsHex:
        return ch.isDigit() || (ch.toUpper() >= u'A' && ch.toUpper() <= u'F');
    }
    return false;
}

void TiIntegerOutput::ParseAndSet(const QString& text)
{
    if (format_ == iifsInteger) {
        SetValue(str_to_int(text.toStdString()));
        return;
    }
    bool ok = false;
    const unsigned pattern = text.trimmed().toUInt(&ok, base());
    if (!ok)
        throw EConvertError(invalid_integer_message(text.toStdString()));
    SetValue(int(pattern));
}
