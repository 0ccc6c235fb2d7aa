#include "store/Money.h"

#include <algorithm>
#include <cmath>

namespace money {

qint64 unitsOf(double price)
{
    const double r = price * static_cast<double>(kUnitsPerYuan);
    // Beyond 2^52 a double has no fraction left to round.
    if (!(std::fabs(r) <= 4503599627370496.0))
        return std::isnan(r) ? 0 : static_cast<qint64>(std::clamp(r, -9.2e18, 9.2e18));
    return static_cast<qint64>(r + (r < 0 ? -0.5 : 0.5));
}

std::optional<qint64> unitsOf(const QVariant& price)
{
    if (price.isNull())
        return std::nullopt;
    if (price.typeId() == QMetaType::LongLong || price.typeId() == QMetaType::Int)
        return price.toLongLong() * kUnitsPerYuan;
    return unitsOf(price.toDouble());
}

double amountOf(qint64 units)
{
    // Both exact below 2^53, so the quotient is the double nearest the decimal.
    return static_cast<double>(units) / static_cast<double>(kUnitsPerYuan);
}

QVariant amountOf(const QVariant& units)
{
    return units.isNull() ? QVariant() : QVariant(amountOf(units.toLongLong()));
}

QString plainUnitsSql(const QString& column)
{
    return QStringLiteral("CAST(round(%1*10000) AS INTEGER)").arg(column);
}

} // namespace money
