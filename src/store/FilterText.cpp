#include "store/FilterText.h"

#include <QRegularExpression>

namespace filtertext {
namespace {

struct Parser
{
    const QString& text;
    const QStringList& columns;
    QString error;

    std::optional<QString> column(const QString& name)
    {
        for (const QString& c : columns)
            if (c.compare(name, Qt::CaseInsensitive) == 0)
                return c;
        error = QStringLiteral("Unknown column '%1' in filter.").arg(name);
        return std::nullopt;
    }

    static QString escapeLike(const QString& s)
    {
        QString out;
        for (QChar c : s) {
            if (c == u'\\' || c == u'%' || c == u'_')
                out += u'\\';
            out += c;
        }
        return out;
    }

    // True when text at pos is " and " (any case), with the blanks.
    bool andAt(qsizetype pos) const
    {
        return text.mid(pos, 5).compare(QLatin1String(" and "), Qt::CaseInsensitive) == 0;
    }

    // Parses the conditions from pos to the end into clause; tries each way a free text can
    // end, so a text holding " and " still works when the rest would not parse otherwise.
    bool parseFrom(qsizetype pos, Clause& clause)
    {
        static const QRegularExpression head(QStringLiteral("\\G\\s*([A-Za-z_][A-Za-z0-9_]*)\\s*"));
        QRegularExpressionMatch h = head.match(text, pos);
        if (!h.hasMatch()) {
            error = QStringLiteral("Filter text not understood: '%1'.").arg(text);
            return false;
        }
        auto col = column(h.captured(1));
        if (!col)
            return false;
        pos = h.capturedEnd(0);

        // col like %text%
        static const QRegularExpression like(QStringLiteral("\\Glike\\s*%"),
                                             QRegularExpression::CaseInsensitiveOption);
        QRegularExpressionMatch l = like.match(text, pos);
        if (l.hasMatch())
            return freeText(l.capturedEnd(0), u'%', *col, QStringLiteral("%1 LIKE ? ESCAPE '\\'"), true,
                            clause);

        // col = 'text'
        static const QRegularExpression quoted(QStringLiteral("\\G=\\s*'"));
        QRegularExpressionMatch q = quoted.match(text, pos);
        if (q.hasMatch())
            return freeText(q.capturedEnd(0), u'\'', *col, QStringLiteral("%1 = ?"), false, clause);

        // col op number | col = true/false
        static const QRegularExpression compare(
            QStringLiteral("\\G(>=|<=|<>|=|>|<)\\s*(true|false|[-+]?\\d+(?:\\.\\d+)?)\\s*"),
            QRegularExpression::CaseInsensitiveOption);
        QRegularExpressionMatch c = compare.match(text, pos);
        if (!c.hasMatch()) {
            error = QStringLiteral("Filter text not understood: '%1'.").arg(text);
            return false;
        }
        const QString op = c.captured(1);
        const QString value = c.captured(2);
        QVariant param;
        if (value.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0 ||
            value.compare(QLatin1String("false"), Qt::CaseInsensitive) == 0) {
            if (op != QLatin1String("=") && op != QLatin1String("<>")) {
                error = QStringLiteral("Filter text not understood: '%1'.").arg(text);
                return false;
            }
            param = value.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0 ? 1LL : 0LL;
        } else if (value.contains(u'.')) {
            param = value.toDouble();
        } else {
            param = value.toLongLong();
        }
        clause.sql += QStringLiteral("%1 %2 ?").arg(*col, op);
        clause.params << param;
        pos = c.capturedEnd(0);
        if (pos >= text.size())
            return true;
        // The pattern ate the blank before "and"; step back onto it.
        if (!andAt(pos - 1)) {
            error = QStringLiteral("Filter text not understood: '%1'.").arg(text);
            return false;
        }
        clause.sql += QStringLiteral(" AND ");
        return parseFrom(pos + 4, clause);
    }

    bool freeText(qsizetype start, QChar close, const QString& col, const QString& form, bool isLike,
                  Clause& clause)
    {
        const QString conditionSql = form.arg(col);
        // Candidate ends: every close character followed by " and ", and the final one.
        for (qsizetype end = text.indexOf(close, start); end >= 0; end = text.indexOf(close, end + 1)) {
            const bool atEnd = text.mid(end + 1).trimmed().isEmpty();
            if (!atEnd && !andAt(end + 1))
                continue;
            const QString value = text.mid(start, end - start);
            Clause attempt = clause;
            attempt.sql += conditionSql;
            attempt.params << (isLike ? QStringLiteral("%") + escapeLike(value) + QStringLiteral("%")
                                      : value);
            if (atEnd) {
                clause = attempt;
                return true;
            }
            attempt.sql += QStringLiteral(" AND ");
            QString savedError = error;
            if (parseFrom(end + 6, attempt)) {
                clause = attempt;
                return true;
            }
            error = savedError;
        }
        error = QStringLiteral("Filter text not understood: '%1'.").arg(text);
        return false;
    }
};

} // namespace

std::optional<Clause> parseFilter(const QString& filter, const QStringList& columns, QString* error)
{
    Clause clause;
    if (filter.trimmed().isEmpty())
        return clause;
    Parser parser{filter, columns, {}};
    if (!parser.parseFrom(0, clause)) {
        if (error)
            *error = parser.error;
        return std::nullopt;
    }
    return clause;
}

std::optional<QString> parseSort(const QString& sort, const QStringList& columns, QString* error)
{
    if (sort.trimmed().isEmpty())
        return QString();
    static const QRegularExpression item(
        QStringLiteral("^\\s*([A-Za-z_][A-Za-z0-9_]*)(?:\\s+(asc|desc))?\\s*$"),
        QRegularExpression::CaseInsensitiveOption);
    QStringList parts;
    for (const QString& piece : sort.split(u',')) {
        QRegularExpressionMatch m = item.match(piece);
        QString found;
        if (m.hasMatch()) {
            for (const QString& c : columns)
                if (c.compare(m.captured(1), Qt::CaseInsensitive) == 0)
                    found = c;
        }
        if (found.isEmpty()) {
            if (error)
                *error = QStringLiteral("Sort text not understood: '%1'.").arg(sort);
            return std::nullopt;
        }
        parts << found + (m.captured(2).compare(QLatin1String("desc"), Qt::CaseInsensitive) == 0
                              ? QStringLiteral(" DESC")
                              : QString());
    }
    return parts.join(QStringLiteral(", "));
}

} // namespace filtertext
