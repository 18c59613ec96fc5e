#ifndef RANGEBOX_H
#define RANGEBOX_H

#include <QDoubleSpinBox>

// One end of the plot's fixed range: any value, 1e+12 as well as 0.0015, in a float's digits.
class RangeBox : public QDoubleSpinBox
{
    Q_OBJECT

public:
    explicit RangeBox(QWidget *parent = nullptr);

    QString textFromValue(double value) const override;
    double valueFromText(const QString &text) const override;
    QValidator::State validate(QString &text, int &pos) const override;
};

#endif // RANGEBOX_H
