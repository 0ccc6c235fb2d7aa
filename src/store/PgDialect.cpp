#include "store/PgDialect.h"

#include "store/Schema.h"
#include "store/SqlDialect.h"

#include <QDate>

#include <QHash>
#include <QRegularExpression>
#include <QSet>
#include <optional>
#include <vector>

namespace pgdialect {
namespace {

enum class Kind
{
    Space,
    Comment,
    Word,
    Quoted, // "identifier"
    String, // '...' or $tag$...$tag$
    Number,
    Param,    // :name
    Question, // ?
    Cast,     // ::
    Op,       // a run of operator characters
    Punct,    // ( ) , ; . and anything else
};

struct Token
{
    Kind kind;
    qsizetype begin;
    qsizetype end;
};

bool wordStart(QChar c)
{
    return c.isLetter() || c == u'_';
}

bool wordChar(QChar c)
{
    return c.isLetterOrNumber() || c == u'_' || c == u'$';
}

bool opChar(QChar c)
{
    return QStringView(u"+-*/<>=~!@#%^&|`").contains(c);
}

std::vector<Token> tokenize(const QString& s)
{
    std::vector<Token> out;
    const qsizetype n = s.size();
    qsizetype i = 0;
    while (i < n) {
        const qsizetype start = i;
        const QChar c = s[i];
        Kind kind = Kind::Punct;
        if (c.isSpace()) {
            while (i < n && s[i].isSpace())
                ++i;
            kind = Kind::Space;
        } else if (c == u'-' && i + 1 < n && s[i + 1] == u'-') {
            while (i < n && s[i] != u'\n')
                ++i;
            kind = Kind::Comment;
        } else if (c == u'/' && i + 1 < n && s[i + 1] == u'*') {
            const qsizetype close = s.indexOf(QLatin1String("*/"), i + 2);
            i = close < 0 ? n : close + 2;
            kind = Kind::Comment;
        } else if (c == u'\'' || c == u'"') {
            // A doubled quote is one quote inside; an unclosed one runs to the end.
            ++i;
            while (i < n) {
                if (s[i] == c) {
                    if (i + 1 < n && s[i + 1] == c) {
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                ++i;
            }
            kind = c == u'\'' ? Kind::String : Kind::Quoted;
        } else if (c == u'$' && i + 1 < n && (s[i + 1] == u'$' || wordStart(s[i + 1]))) {
            qsizetype tagEnd = i + 1;
            while (tagEnd < n && s[tagEnd] != u'$' && wordChar(s[tagEnd]))
                ++tagEnd;
            if (tagEnd < n && s[tagEnd] == u'$') {
                const QString tag = s.mid(i, tagEnd - i + 1);
                const qsizetype close = s.indexOf(tag, tagEnd + 1);
                i = close < 0 ? n : close + tag.size();
                kind = Kind::String;
            } else {
                ++i;
            }
        } else if (wordStart(c)) {
            while (i < n && wordChar(s[i]))
                ++i;
            kind = Kind::Word;
        } else if (c.isDigit() || (c == u'.' && i + 1 < n && s[i + 1].isDigit())) {
            while (i < n && (s[i].isDigit() || s[i] == u'.'))
                ++i;
            if (i < n && (s[i] == u'e' || s[i] == u'E')) {
                qsizetype j = i + 1;
                if (j < n && (s[j] == u'+' || s[j] == u'-'))
                    ++j;
                if (j < n && s[j].isDigit()) {
                    i = j;
                    while (i < n && s[i].isDigit())
                        ++i;
                }
            }
            kind = Kind::Number;
        } else if (c == u':' && i + 1 < n && s[i + 1] == u':') {
            i += 2;
            kind = Kind::Cast;
        } else if (c == u':' && i + 1 < n && wordChar(s[i + 1]) && s[i + 1] != u'$') {
            ++i;
            while (i < n && (s[i].isLetterOrNumber() || s[i] == u'_'))
                ++i;
            kind = Kind::Param;
        } else if (c == u'?') {
            ++i;
            kind = Kind::Question;
        } else if (opChar(c)) {
            // "--" and "/*" inside a run start a comment, so the run stops before them.
            while (i < n && opChar(s[i]) && !(i > start && s[i] == u'-' && i + 1 < n && s[i + 1] == u'-') &&
                   !(i > start && s[i] == u'/' && i + 1 < n && s[i + 1] == u'*'))
                ++i;
            kind = Kind::Op;
        } else {
            ++i;
        }
        out.push_back({kind, start, i});
    }
    return out;
}

// The tokens of a statement with its meaningful ones (not blanks or comments) at hand.
struct Tokens
{
    const QString& text;
    std::vector<Token> all;

    explicit Tokens(const QString& sql) : text(sql), all(tokenize(sql)) {}

    qsizetype size() const { return static_cast<qsizetype>(all.size()); }
    bool meaningful(qsizetype i) const { return all[i].kind != Kind::Space && all[i].kind != Kind::Comment; }
    // The next (or previous) meaningful token, or -1.
    qsizetype next(qsizetype i) const
    {
        for (++i; i < size(); ++i)
            if (meaningful(i))
                return i;
        return -1;
    }
    qsizetype prev(qsizetype i) const
    {
        for (--i; i >= 0; --i)
            if (meaningful(i))
                return i;
        return -1;
    }
    QStringView view(qsizetype i) const
    {
        return QStringView(text).mid(all[i].begin, all[i].end - all[i].begin);
    }
    Kind kind(qsizetype i) const { return i < 0 || i >= size() ? Kind::Space : all[i].kind; }
    bool is(qsizetype i, Kind k, QStringView value = {}) const
    {
        if (i < 0 || i >= size() || all[i].kind != k)
            return false;
        return value.isEmpty() || view(i).compare(value, Qt::CaseInsensitive) == 0;
    }
    bool isWord(qsizetype i, QStringView value) const { return is(i, Kind::Word, value); }
    bool isPunct(qsizetype i, QStringView value) const { return is(i, Kind::Punct, value); }
    bool wordIn(qsizetype i, const QSet<QString>& words) const
    {
        return kind(i) == Kind::Word && words.contains(view(i).toString().toLower());
    }
    // The ")" closing the "(" at i, or the last token when it is not closed.
    qsizetype closing(qsizetype i) const
    {
        int depth = 0;
        for (qsizetype j = i; j < size(); ++j) {
            if (isPunct(j, u"("))
                ++depth;
            else if (isPunct(j, u")") && --depth == 0)
                return j;
        }
        return size() - 1;
    }
    // The last token of the operand starting at i: a bracketed expression, a call, a
    // qualified name, a literal or a parameter, with any cast and || concatenation.
    qsizetype operandEnd(qsizetype i) const
    {
        qsizetype end = i;
        if (isPunct(i, u"(")) {
            end = closing(i);
        } else if (kind(i) == Kind::Word || kind(i) == Kind::Quoted) {
            end = i;
            for (;;) {
                qsizetype dot = next(end);
                if (isPunct(dot, u".") && (kind(next(dot)) == Kind::Word || kind(next(dot)) == Kind::Quoted))
                    end = next(dot);
                else
                    break;
            }
            if (isPunct(next(end), u"("))
                end = closing(next(end));
        }
        for (;;) {
            qsizetype after = next(end);
            if (kind(after) == Kind::Cast && kind(next(after)) == Kind::Word)
                end = next(after);
            else if (is(after, Kind::Op, u"||") && next(after) >= 0)
                end = operandEnd(next(after));
            else
                return end;
        }
    }
};

const QHash<QString, QString>& functionNames()
{
    static const QHash<QString, QString> names{
        {QStringLiteral("format"), QStringLiteral("k_format")},
        {QStringLiteral("datepart"), QStringLiteral("k_datepart")},
        {QStringLiteral("hour"), QStringLiteral("k_hour")},
        {QStringLiteral("ifnull"), QStringLiteral("coalesce")},
        {QStringLiteral("last_insert_rowid"), QStringLiteral("lastval")},
        {QStringLiteral("json_each"), QStringLiteral("k_json_each")},
    };
    return names;
}

// Words after which a "+" can only be a sign.
const QSet<QString>& signContext()
{
    static const QSet<QString> words{
        QStringLiteral("and"),     QStringLiteral("or"),       QStringLiteral("not"),
        QStringLiteral("where"),   QStringLiteral("select"),   QStringLiteral("on"),
        QStringLiteral("when"),    QStringLiteral("then"),     QStringLiteral("else"),
        QStringLiteral("by"),      QStringLiteral("having"),   QStringLiteral("set"),
        QStringLiteral("between"), QStringLiteral("distinct"), QStringLiteral("case"),
        QStringLiteral("in"),
    };
    return words;
}

// Words that end an ORDER BY list.
const QSet<QString>& orderEnd()
{
    static const QSet<QString> words{
        QStringLiteral("limit"),     QStringLiteral("offset"), QStringLiteral("for"),
        QStringLiteral("fetch"),     QStringLiteral("rows"),   QStringLiteral("range"),
        QStringLiteral("groups"),    QStringLiteral("union"),  QStringLiteral("except"),
        QStringLiteral("intersect"), QStringLiteral("window"), QStringLiteral("returning"),
    };
    return words;
}

bool isUpper(QStringView word)
{
    for (QChar c : word)
        if (c.isLower())
            return false;
    return true;
}

// The NULL placement of each key of the ORDER BY list starting at token `from`.
void orderNulls(const Tokens& t, qsizetype from, std::vector<QString>& suffix)
{
    auto finishKey = [&](const std::vector<qsizetype>& key) {
        if (key.empty())
            return;
        const qsizetype last = key.back();
        if (key.size() >= 2 && (t.isWord(last, u"first") || t.isWord(last, u"last")) &&
            t.isWord(key[key.size() - 2], u"nulls"))
            return;
        const bool descending = t.isWord(last, u"desc");
        size_t body = key.size() - ((descending || t.isWord(last, u"asc")) ? 1 : 0);
        // The ids are primary keys, never NULL; left bare the server can read them in index order.
        if ((body == 1 && t.isWord(key[0], u"id")) ||
            (body == 3 && t.isPunct(key[1], u".") && t.isWord(key[2], u"id")))
            return;
        suffix[last] += descending ? QStringLiteral(" NULLS LAST") : QStringLiteral(" NULLS FIRST");
    };
    std::vector<qsizetype> key;
    int depth = 0;
    for (qsizetype i = from; i >= 0; i = t.next(i)) {
        if (depth == 0 &&
            (t.isPunct(i, u",") || t.isPunct(i, u";") || t.isPunct(i, u")") || t.wordIn(i, orderEnd()))) {
            finishKey(key);
            key.clear();
            if (!t.isPunct(i, u","))
                return;
            continue;
        }
        if (t.isPunct(i, u"("))
            ++depth;
        else if (t.isPunct(i, u")"))
            --depth;
        key.push_back(i);
    }
    finishKey(key);
}

// The last token of the key list starting at `from`: the list ends at a word of enders, a
// ';' or a ')' outside the keys' own brackets.
qsizetype listEnd(const Tokens& t, qsizetype from, const QSet<QString>& enders)
{
    int depth = 0;
    qsizetype last = -1;
    for (qsizetype i = from; i >= 0; i = t.next(i)) {
        if (depth == 0 && (t.isPunct(i, u";") || t.isPunct(i, u")") || t.wordIn(i, enders)))
            break;
        if (t.isPunct(i, u"("))
            ++depth;
        else if (t.isPunct(i, u")"))
            --depth;
        last = i;
    }
    return last;
}

const QSet<QString>& groupEnd()
{
    static const QSet<QString> words =
        orderEnd() + QSet<QString>{QStringLiteral("having"), QStringLiteral("order")};
    return words;
}

// A grouped select's ORDER BY and the GROUP BY keys that break its ties.
struct TieBreak
{
    qsizetype orderLast;
    qsizetype groupFrom;
    qsizetype groupLast;
};

} // namespace

Statement rewrite(const QString& sql)
{
    const Tokens t(sql);
    const qsizetype n = t.size();
    std::vector<QString> text(static_cast<size_t>(n));
    std::vector<QString> suffix(static_cast<size_t>(n));
    for (qsizetype i = 0; i < n; ++i)
        text[i] = t.view(i).toString();

    // SQLite forms groups in the order of their keys and sorts them stably, so rows that tie
    // on the ORDER BY keys come in group-key order; the server hashes groups, so the keys
    // are added as last ORDER BY keys. Found per bracket depth.
    std::vector<int> depth(static_cast<size_t>(n), 0);
    for (qsizetype i = 0, d = 0; i < n; ++i) {
        if (t.isPunct(i, u")"))
            --d;
        depth[i] = static_cast<int>(d);
        if (t.isPunct(i, u"("))
            ++d;
    }
    QHash<int, std::pair<qsizetype, qsizetype>> groups;
    std::vector<TieBreak> ties;

    Statement out;
    QHash<QString, int> numbers;
    for (qsizetype i = 0; i < n; ++i) {
        switch (t.kind(i)) {
        case Kind::Param: {
            const QString name = t.view(i).mid(1).toString().toLower();
            auto found = numbers.constFind(name);
            if (found == numbers.constEnd()) {
                out.parameters << name;
                found = numbers.insert(name, static_cast<int>(out.parameters.size()));
            }
            text[i] = u'$' + QString::number(*found);
            break;
        }
        case Kind::Question:
            out.parameters << QString();
            text[i] = u'$' + QString::number(out.parameters.size());
            break;
        case Kind::Word: {
            const QString word = t.view(i).toString().toLower();
            const qsizetype after = t.next(i);
            auto renamed = functionNames().constFind(word);
            if (renamed != functionNames().constEnd() && t.isPunct(after, u"(") &&
                !t.isPunct(t.prev(i), u".")) {
                text[i] = *renamed;
            } else if (word == QLatin1String("like") && after >= 0) {
                // SQLite's LIKE ignores ASCII letter case and has no escape character unless
                // one is named; the server's escapes with a backslash by default.
                text[i] = isUpper(t.view(i)) ? QStringLiteral("ILIKE") : QStringLiteral("ilike");
                const qsizetype end = t.operandEnd(after);
                if (!t.isWord(t.next(end), u"escape"))
                    suffix[end] += QStringLiteral(" ESCAPE ''");
            } else if (word == QLatin1String("order") && t.isWord(after, u"by")) {
                orderNulls(t, t.next(after), suffix);
                auto group = groups.constFind(depth[i]);
                if (group != groups.constEnd()) {
                    const qsizetype last = listEnd(t, t.next(after), orderEnd());
                    if (last >= 0)
                        ties.push_back({last, group->first, group->second});
                    groups.remove(depth[i]);
                }
            } else if (word == QLatin1String("group") && t.isWord(after, u"by")) {
                const qsizetype from = t.next(after);
                const qsizetype last = listEnd(t, from, groupEnd());
                if (last >= 0)
                    groups.insert(depth[i], {from, last});
            } else if (word == QLatin1String("select")) {
                groups.remove(depth[i]);
            }
            break;
        }
        case Kind::Op:
            if (t.view(i) == u"+" && i + 1 < n &&
                (t.kind(i + 1) == Kind::Word || t.kind(i + 1) == Kind::Quoted)) {
                const qsizetype before = t.prev(i);
                if (before < 0 || t.isPunct(before, u"(") || t.isPunct(before, u",") ||
                    t.kind(before) == Kind::Op || t.wordIn(before, signContext()))
                    text[i].clear();
            }
            break;
        default:
            break;
        }
    }
    for (const TieBreak& tie : ties) {
        QString keys;
        QString key;
        int d = 0;
        auto finish = [&] {
            if (!key.trimmed().isEmpty())
                keys += u',' + key.trimmed() + QStringLiteral(" NULLS FIRST");
            key.clear();
        };
        for (qsizetype k = tie.groupFrom; k <= tie.groupLast; ++k) {
            if (t.isPunct(k, u"("))
                ++d;
            else if (t.isPunct(k, u")"))
                --d;
            if (d == 0 && t.isPunct(k, u",")) {
                finish();
                continue;
            }
            key += text[k] + suffix[k];
        }
        finish();
        suffix[tie.orderLast] += keys;
    }
    for (qsizetype i = 0; i < n; ++i)
        out.sql += text[i] + suffix[i];
    return out;
}

namespace {

// Lower-cased column name -> its declared name, over every table of the schema.
const QHash<QString, QString>& declaredNames()
{
    static const QHash<QString, QString> names = [] {
        QHash<QString, QString> m;
        for (const QString& c : schema::dianBaseColumns())
            m.insert(c.toLower(), c);
        for (const QString& c : schema::pjInfoColumns())
            m.insert(c.toLower(), c);
        static const QRegularExpression column(
            QStringLiteral("[(,]\\s*([A-Za-z_]\\w*)\\s+(?:INTEGER|TEXT|REAL)\\b"));
        for (const schema::SchemaObject& o : schema::objects()) {
            if (o.type != QLatin1String("table"))
                continue;
            for (auto it = column.globalMatch(o.sql); it.hasNext();) {
                const QString name = it.next().captured(1);
                if (!m.contains(name.toLower()))
                    m.insert(name.toLower(), name);
            }
        }
        return m;
    }();
    return names;
}

QString declared(const QString& name)
{
    return declaredNames().value(name.toLower(), name);
}

QString identifier(const Tokens& t, qsizetype i)
{
    QString s = t.view(i).toString();
    if (t.kind(i) == Kind::Quoted) {
        s = s.mid(1, s.size() - 2);
        s.replace(QLatin1String("\"\""), QLatin1String("\""));
    }
    return s;
}

// Words that end an expression without being an alias after it.
const QSet<QString>& notAlias()
{
    static const QSet<QString> words{
        QStringLiteral("end"), QStringLiteral("null"), QStringLiteral("true"),    QStringLiteral("false"),
        QStringLiteral("asc"), QStringLiteral("desc"), QStringLiteral("unknown"),
    };
    return words;
}

const QSet<QString>& keywords()
{
    static const QSet<QString> words{
        QStringLiteral("and"),      QStringLiteral("or"),       QStringLiteral("not"),
        QStringLiteral("between"),  QStringLiteral("is"),       QStringLiteral("in"),
        QStringLiteral("like"),     QStringLiteral("ilike"),    QStringLiteral("when"),
        QStringLiteral("then"),     QStringLiteral("else"),     QStringLiteral("case"),
        QStringLiteral("distinct"), QStringLiteral("all"),      QStringLiteral("as"),
        QStringLiteral("escape"),   QStringLiteral("collate"),  QStringLiteral("select"),
        QStringLiteral("glob"),     QStringLiteral("interval"),
    };
    return words;
}

const QSet<QString>& selectEnd()
{
    static const QSet<QString> words{
        QStringLiteral("from"),   QStringLiteral("where"),  QStringLiteral("group"),
        QStringLiteral("having"), QStringLiteral("order"),  QStringLiteral("limit"),
        QStringLiteral("union"),  QStringLiteral("except"), QStringLiteral("intersect"),
        QStringLiteral("into"),   QStringLiteral("window"), QStringLiteral("offset"),
    };
    return words;
}

struct Item
{
    bool star = false;
    QString name;
};

// The top-level select list of sql, each item named as SQLite names it; nothing when the
// statement has none.
std::optional<std::vector<Item>> selectItems(const Tokens& t)
{
    qsizetype i = 0;
    int depth = 0;
    for (; i >= 0 && i < t.size(); ++i) {
        if (t.isPunct(i, u"("))
            ++depth;
        else if (t.isPunct(i, u")"))
            --depth;
        else if (depth == 0 && t.isWord(i, u"select"))
            break;
    }
    if (i < 0 || i >= t.size())
        return std::nullopt;
    i = t.next(i);
    if (t.isWord(i, u"distinct") || t.isWord(i, u"all"))
        i = t.next(i);
    std::vector<std::vector<qsizetype>> pieces(1);
    depth = 0;
    for (; i >= 0; i = t.next(i)) {
        if (depth == 0 && (t.wordIn(i, selectEnd()) || t.isPunct(i, u";") || t.isPunct(i, u")")))
            break;
        if (depth == 0 && t.isPunct(i, u",")) {
            pieces.emplace_back();
            continue;
        }
        if (t.isPunct(i, u"("))
            ++depth;
        else if (t.isPunct(i, u")"))
            --depth;
        pieces.back().push_back(i);
    }
    std::vector<Item> items;
    for (const std::vector<qsizetype>& p : pieces) {
        if (p.empty())
            return std::nullopt;
        const size_t k = p.size();
        auto ident = [&](qsizetype at) { return t.kind(at) == Kind::Word || t.kind(at) == Kind::Quoted; };
        Item item;
        if (t.is(p.back(), Kind::Op, u"*") && (k == 1 || (k == 3 && ident(p[0]) && t.isPunct(p[1], u".")))) {
            item.star = true;
        } else if (k >= 3 && t.isWord(p[k - 2], u"as") && ident(p.back())) {
            item.name = identifier(t, p.back());
        } else if (k >= 2 && ident(p.back()) && !t.wordIn(p.back(), notAlias()) &&
                   !t.wordIn(p.back(), keywords()) &&
                   (t.isPunct(p[k - 2], u")") || t.kind(p[k - 2]) == Kind::String ||
                    t.kind(p[k - 2]) == Kind::Number || t.kind(p[k - 2]) == Kind::Param ||
                    t.kind(p[k - 2]) == Kind::Quoted ||
                    (t.kind(p[k - 2]) == Kind::Word && !t.wordIn(p[k - 2], keywords())))) {
            item.name = identifier(t, p.back());
        } else {
            bool column = ident(p[0]) && k % 2 == 1;
            for (size_t j = 1; column && j < k; j += 2)
                column = t.isPunct(p[j], u".") && ident(p[j + 1]);
            if (column && !t.wordIn(p.back(), notAlias()))
                item.name = t.kind(p.back()) == Kind::Quoted ? identifier(t, p.back())
                                                             : declared(identifier(t, p.back()));
            else
                item.name = t.text.mid(t.all[p.front()].begin, t.all[p.back()].end - t.all[p.front()].begin)
                                .trimmed();
        }
        items.push_back(item);
    }
    return items;
}

} // namespace

QStringList columnNames(const QString& sql, const QStringList& serverNames)
{
    const Tokens t(sql);
    const auto items = selectItems(t);
    if (!items)
        return serverNames;
    const qsizetype n = serverNames.size();
    qsizetype named = 0;
    qsizetype firstStar = -1;
    qsizetype lastStar = -1;
    for (qsizetype i = 0; i < static_cast<qsizetype>(items->size()); ++i) {
        if ((*items)[i].star) {
            if (firstStar < 0)
                firstStar = i;
            lastStar = i;
        } else {
            ++named;
        }
    }
    if (firstStar < 0 ? named != n : named > n)
        return serverNames;
    // Stars with named items between them cannot be told apart.
    for (qsizetype i = firstStar; i >= 0 && i <= lastStar; ++i)
        if (!(*items)[i].star)
            return serverNames;
    QStringList out;
    qsizetype at = 0;
    for (qsizetype i = 0; i < static_cast<qsizetype>(items->size()); ++i) {
        if (!(*items)[i].star) {
            out << (*items)[i].name;
            ++at;
        } else if (i == firstStar) {
            for (qsizetype s = 0; s < n - named; ++s)
                out << declared(serverNames[at++]);
        }
    }
    return out;
}

QStringList parameterTypes(const QString& sql, const Statement& statement)
{
    const QHash<QString, QString> columns = dialect::parameterColumns(sql);
    QStringList out;
    for (const QString& name : statement.parameters) {
        switch (name.isEmpty() ? schema::ColumnType::Unknown : schema::columnType(columns.value(name))) {
        case schema::ColumnType::Integer:
            out << QStringLiteral("bigint");
            break;
        case schema::ColumnType::Boolean:
            out << QStringLiteral("boolean");
            break;
        case schema::ColumnType::Currency:
            out << QStringLiteral("double precision");
            break;
        case schema::ColumnType::DateTime:
            out << QStringLiteral("timestamp");
            break;
        case schema::ColumnType::Text:
        case schema::ColumnType::Memo:
            out << QStringLiteral("text");
            break;
        case schema::ColumnType::Unknown:
            out << QString();
            break;
        }
    }
    return out;
}

QString timestampValue(const QString& text)
{
    static const QRegularExpression bareDate(QStringLiteral("^\\d{4}-\\d{2}-\\d{2}$"));
    if (!bareDate.match(text).hasMatch())
        return text;
    const QDate date = QDate::fromString(text, Qt::ISODate);
    if (!date.isValid())
        return text;
    return date.addDays(-1).toString(Qt::ISODate) + QStringLiteral(" 23:59:59.999999");
}

} // namespace pgdialect
