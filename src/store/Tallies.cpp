#include "store/Tallies.h"

#include "store/Money.h"

#include <QRegularExpression>

namespace tallies {

const Tally& hours()
{
    static const Tally t{
        "pjInfoHourTally",
        {"dian_id", "hourKey", "buyerOrSaler", "pj", "nulls"},
        {"%rdian_id", "substr(%rpjsj,1,13)", "coalesce(%rbuyerOrSaler,false)", "coalesce(%rpj,'')",
         "(CASE WHEN %rbuyerOrSaler IS NULL THEN 1 ELSE 0 END+CASE WHEN %rpj IS NULL THEN 2 ELSE 0 END)"},
        QStringLiteral("%rdian_id IS NOT NULL AND %rpjsj IS NOT NULL"),
        {"n", "items", "priced", "units"},
        {"1", "CASE WHEN %ritemId IS NULL THEN 0 ELSE 1 END", "CASE WHEN %rjg IS NULL THEN 0 ELSE 1 END",
         "coalesce(%u(%rjg),0)"},
        "dian_id INTEGER NOT NULL, hourKey TEXT NOT NULL, buyerOrSaler INTEGER NOT NULL, pj TEXT NOT NULL, "
        "nulls INTEGER NOT NULL, n INTEGER NOT NULL, items INTEGER NOT NULL, priced INTEGER NOT NULL, units "
        "INTEGER NOT NULL",
        "dian_id BIGINT NOT NULL, hourKey TEXT COLLATE \"C\" NOT NULL, buyerOrSaler BOOLEAN NOT NULL, "
        "pj TEXT COLLATE \"C\" NOT NULL, nulls SMALLINT NOT NULL, n INTEGER NOT NULL, items INTEGER NOT "
        "NULL, "
        "priced INTEGER NOT NULL, units BIGINT NOT NULL"};
    return t;
}

const Tally& fileRanking()
{
    static const Tally t{
        "pjInfoTally",
        {"dian_id", "itemTitle", "itemId", "jg", "buyerOrSaler", "pj", "month"},
        {"%rdian_id", "%ritemTitle", "%ritemId", "%rjg", "%rbuyerOrSaler", "%rpj", "substr(%rpjsj,1,7)"},
        QStringLiteral("1"),
        {"n"},
        {"1"},
        "dian_id INTEGER, itemTitle TEXT, itemId TEXT, jg REAL, buyerOrSaler INTEGER, pj TEXT, "
        "month TEXT, n INTEGER NOT NULL",
        nullptr};
    return t;
}

QString spell(const QString& value, const QString& row, QString (*unitsOf)(const QString& column))
{
    QString out = value;
    out.replace(QLatin1String("%r"), row.isEmpty() ? QString() : row + u'.');
    static const QRegularExpression units(QStringLiteral("%u\\(([^()]*)\\)"));
    QRegularExpressionMatch m;
    while ((m = units.match(out)).hasMatch())
        out.replace(m.capturedStart(), m.capturedLength(), unitsOf(m.captured(1)));
    return out;
}

QStringList spell(const QStringList& values, const QString& row, QString (*unitsOf)(const QString& column))
{
    QStringList out;
    for (const QString& v : values)
        out << spell(v, row, unitsOf);
    return out;
}

QString keyPositions(const Tally& tally)
{
    QStringList positions;
    for (int i = 1; i <= tally.keys.size(); ++i)
        positions << QString::number(i);
    return positions.join(u',');
}

QString fileUnits(const QString& column)
{
    return money::plainUnitsSql(column);
}

QString serverUnits(const QString& column)
{
    return QStringLiteral("k_units(%1)").arg(column);
}

} // namespace tallies
