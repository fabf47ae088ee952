#pragma once

#include <QChar>
#include <QString>

// `value` rounded to `decimals` places, half to even on the exact binary value,
// in the shortest form: no trailing zeros, no separator for whole numbers.
QString formatRounded(double value, int decimals, QChar decimalSeparator);
