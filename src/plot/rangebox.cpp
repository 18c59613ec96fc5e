#include "plot/rangebox.h"

#include <QRegularExpression>

#include <limits>

namespace {

// A float's digits: every sample is a float, and a finer range shows nothing new.
constexpr int kDigits = 9;

} // namespace

RangeBox::RangeBox(QWidget *parent)
    : QDoubleSpinBox(parent)
{
    // As wide as a double: the view's range reaches beyond the largest sample by its margin.
    const double most = std::numeric_limits<double>::max();
    setRange(-most, most);
    // The box rounds every value to its decimals; with the most it takes, it rounds nothing.
    setDecimals(std::numeric_limits<double>::max_exponent10
                + std::numeric_limits<double>::digits10);
    setStepType(QAbstractSpinBox::AdaptiveDecimalStepType);
}

QString RangeBox::textFromValue(double value) const
{
    QString text = locale().toString(value, 'g', kDigits);
    if (!isGroupSeparatorShown())
        text.remove(locale().groupSeparator());
    return text;
}

double RangeBox::valueFromText(const QString &text) const
{
    return locale().toDouble(text.trimmed());
}

QValidator::State RangeBox::validate(QString &text, int & /*pos*/) const
{
    const QString t = text.trimmed();
    bool ok = false;
    const double value = locale().toDouble(t, &ok);
    if (ok)
        return value >= minimum() && value <= maximum() ? QValidator::Acceptable
                                                        : QValidator::Invalid;
    // On the way to a number: "-", "1.", "1e", "1e-".
    const QString point = QRegularExpression::escape(locale().decimalPoint());
    const QRegularExpression partial(
        QStringLiteral("^[+-]?[0-9]*(%1[0-9]*)?([eE][+-]?[0-9]*)?$").arg(point));
    return partial.match(t).hasMatch() ? QValidator::Intermediate : QValidator::Invalid;
}
