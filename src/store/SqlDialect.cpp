#include "store/SqlDialect.h"

#include <QRegularExpression>
#include <QStringList>

namespace dialect {

QString rewrite(const QString& sql)
{
    static const QRegularExpression top(QStringLiteral("^(\\s*select\\s+)top\\s+(\\d+)\\s"),
                                        QRegularExpression::CaseInsensitiveOption);
    QRegularExpressionMatch m = top.match(sql);
    if (!m.hasMatch())
        return sql;
    QString body = sql.mid(m.capturedEnd(0));
    // Trailing blanks and a final semicolon stay outside the limit clause.
    qsizetype end = body.size();
    while (end > 0 && (body[end - 1].isSpace() || body[end - 1] == u';'))
        --end;
    return m.captured(1) + body.left(end) + QStringLiteral(" LIMIT ") + m.captured(2);
}

QHash<QString, QString> parameterColumns(const QString& sql)
{
    QHash<QString, QString> out;
    static const QRegularExpression insert(
        QStringLiteral("insert\\s+into\\s+[\\w.]+\\s*\\(([^)]*)\\)\\s*values\\s*\\(([^)]*)\\)"),
        QRegularExpression::CaseInsensitiveOption);
    QRegularExpressionMatch m = insert.match(sql);
    if (m.hasMatch()) {
        const QStringList cols = m.captured(1).split(u',');
        const QStringList vals = m.captured(2).split(u',');
        for (qsizetype i = 0; i < cols.size() && i < vals.size(); ++i) {
            QString v = vals[i].trimmed();
            if (v.startsWith(u':'))
                out.insert(v.mid(1).toLower(), cols[i].trimmed());
        }
    }
    static const QRegularExpression compare(
        QStringLiteral("([A-Za-z_][\\w.]*)\\s*(?:=|<>|>=|<=|>|<|\\blike\\b)\\s*:(\\w+)"),
        QRegularExpression::CaseInsensitiveOption);
    for (auto it = compare.globalMatch(sql); it.hasNext();) {
        QRegularExpressionMatch c = it.next();
        const QString param = c.captured(2).toLower();
        if (!out.contains(param))
            out.insert(param, c.captured(1));
    }
    return out;
}

} // namespace dialect
