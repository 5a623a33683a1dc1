#include "iAnalogOutput.h"

#include "convert.h"

#include <algorithm>

TiAnalogOutput::TiAnalogOutput(QWidget* parent)
    : TiEditCustom(parent)
{
    SetAlignment(taCenter);
    QFont f = font();
    f.setBold(true);
    setFont(f);
    show_value();
}

double TiAnalogOutput::limited(double value) const
{
    if (value_min_ != 0 || value_max_ != 0) {
        if (value > value_max_)
            value = value_max_;
        if (value < value_min_)
            value = value_min_;
    }
    return value;
}

void TiAnalogOutput::SetValue(double value)
{
    value = limited(value);
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
    value_ = limited(value);
    show_value();
    if (OnChange)
        OnChange(this);
    if (user_action() && OnChangeUser)
        OnChangeUser(this);
}

void TiAnalogOutput::SetPrecision(int precision)
{
    precision = std::clamp(precision, 0, 15);
    if (precision == precision_)
        return;
    precision_ = precision;
    show_value();
}

void TiAnalogOutput::SetValueMin(double value)
{
    if (value == value_min_)
        return;
    value_min_ = value;
    SetValue(value_);
}

void TiAnalogOutput::SetValueMax(double value)
{
    if (value == value_max_)
        return;
    value_max_ = value;
    SetValue(value_);
}

void TiAnalogOutput::SetUnitsText(const QString& text)
{
    if (text == units_)
        return;
    units_ = text;
    show_value();
}

QString TiAnalogOutput::ValueText() const
{
    return QString::number(value_, 'f', precision_).trimmed() + units_;
}

bool TiAnalogOutput::AcceptChar(QChar ch) const
{
    if (filter_ == ifisNone)
        return true;
    if (ch == u'-' || (ch >= u'0' && ch <= u'9'))
        return true;
    if (ch == u'.')
        return precision_ != 0;
    return units_.contains(ch, Qt::CaseInsensitive);
}

void TiAnalogOutput::ParseAndSet(const QString& text)
{
    QString number = text;
    const QString units = units_.trimmed();
    if (!units.isEmpty())
        number.remove(units, Qt::CaseInsensitive);
    SetValue(str_to_float(number.trimmed().toStdString()));
}
