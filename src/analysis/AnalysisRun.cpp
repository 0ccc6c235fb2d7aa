#include "analysis/AnalysisRun.h"

#include "analysis/AnalysisKeys.h"
#include "extract/RatingWord.h"
#include "store/Money.h"
#include "store/SqlValue.h"
#include "store/TConnection.h"
#include "store/TQuery.h"
#include "store/TStatement.h"
#include "text/Formats.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <algorithm>
#include <mutex>

namespace analysis {

int Result::column(const QString& name) const
{
    for (int i = 0; i < columns.size(); ++i) {
        if (columns[i].compare(name, Qt::CaseInsensitive) == 0)
            return i;
    }
    return -1;
}

namespace {

double number(const QVariant& v)
{
    return v.isNull() ? 0.0 : v.toString().trimmed().toDouble();
}

// Runs one query with the run's parameters (and any more given) and keeps its rows in result.
bool open(TConnection& connection, const QString& sql, const Range& range, Result& result,
          const QHash<QString, QVariant>& more = {})
{
    TQuery query(&connection, QStringLiteral("analysis"));
    query.SetSQL(sql);
    for (auto it = more.cbegin(); it != more.cend(); ++it)
        query.SetParam(it.key(), it.value());
    // The date fields' text; the store compares them as 00:00:00 of those days.
    query.SetParam(QStringLiteral("beginDate"), formats::shortDate(range.begin));
    query.SetParam(QStringLiteral("endDate"), formats::shortDate(range.end));
    query.SetParam(QStringLiteral("dianId"), range.shop);
    if (isRated(range.pj))
        query.SetParam(QStringLiteral("spj"), storedRatingWord(range.pj));
    result.sql = sql;
    result.columns.clear();
    result.rows.clear();
    if (!query.Open()) {
        result.error = query.lastError();
        return false;
    }
    result.columns = query.FieldNames();
    const int columns = static_cast<int>(result.columns.size());
    result.rows.reserve(query.RecordCount());
    for (int r = 0; r < query.RecordCount(); ++r) {
        QVariantList row;
        row.reserve(columns);
        for (int c = 0; c < columns; ++c)
            row << query.value(r, c);
        result.rows.push_back(std::move(row));
    }
    return true;
}

// The column names of a statement, as its rows would carry them, without running it.
bool columnsOf(TConnection& connection, const QString& sql, Result& result)
{
    if (!connection.isOpen()) {
        result.error = TConnection::notOpenError();
        return false;
    }
    // A statement's column names never change: asked of the engine once, which on a server
    // is a round trip and a plan each time.
    static std::mutex guard;
    static QHash<QString, QStringList> known;
    const QString key = QString::number(static_cast<int>(connection.engine())) + u'\n' + sql;
    {
        const std::lock_guard<std::mutex> lock(guard);
        const auto it = known.constFind(key);
        if (it != known.constEnd()) {
            result.columns = *it;
            return true;
        }
    }
    TStatement statement;
    if (!statement.prepare(connection, sql)) {
        result.error = statement.error();
        return false;
    }
    result.columns = statement.columnNames();
    const std::lock_guard<std::mutex> lock(guard);
    known.insert(key, result.columns);
    return true;
}

// The hour buckets of the range, read over the stored key.
bool readBuckets(TConnection& connection, const Range& range, bool sellerOnly,
                 std::vector<keys::Bucket>& buckets, QString& error)
{
    Result raw;
    buckets.clear();
    // The hours inside the range from the tally; a file opened for reading only may lack it.
    auto from = [](const QDate& d) { return d.addDays(-1).toString(QStringLiteral("yyyy-MM-dd 23:00:00")); };
    auto next = [](const QDate& d) { return d.toString(QStringLiteral("yyyy-MM-dd 01:00:00")); };
    const QHash<QString, QVariant> ends{{QStringLiteral("beginFrom"), from(range.begin)},
                                        {QStringLiteral("beginNext"), next(range.begin)},
                                        {QStringLiteral("endFrom"), from(range.end)},
                                        {QStringLiteral("endNext"), next(range.end)}};
    if (!open(connection, keys::bucketSql(isRated(range.pj), sellerOnly, true), range, raw, ends) &&
        !open(connection, keys::bucketSql(isRated(range.pj), sellerOnly, false), range, raw)) {
        error = raw.error;
        return false;
    }
    buckets.reserve(raw.rows.size());
    for (const QVariantList& row : raw.rows) {
        keys::Bucket b;
        b.shop = row.value(0);
        b.units = row.value(1);
        b.items = row.value(2).toLongLong();
        b.rows = row.value(3).toLongLong();
        b.hourKey = row.value(4).toString();
        buckets.push_back(std::move(b));
    }
    return true;
}

// The file's tally and its positional parameters.
bool prepareFileTally(TConnection& connection, const RankRequest& request, TStatement& statement)
{
    const keys::TallyPlan plan = keys::tallyPlan(request.range);
    if (!statement.prepare(connection, keys::rankTallySql(request, plan)))
        return false;
    // The ends as the statement's parameters reach the engine: midnight of each date.
    auto stamp = [](const QDate& d) {
        return sqlvalue::forColumn(formats::shortDate(d), schema::ColumnType::DateTime, nullptr)
            .value_or(QVariant());
    };
    const QString first = keys::monthOf(request.range.begin);
    const QString last = keys::monthOf(request.range.end);
    QVariantList values{request.range.shop,
                        stamp(request.range.begin),
                        stamp(request.range.end),
                        isRated(request.range.pj) ? QVariant(storedRatingWord(request.range.pj)) : QVariant(),
                        first,
                        keys::afterMonth(first),
                        last,
                        keys::afterMonth(last)};
    if (plan.oneMonth)
        values.removeLast(); // one end month: the text after it is not asked for twice
    return statement.bindList(values);
}

// A server's tally, its parameters named as the statement's.
bool prepareServerTally(TConnection& connection, const RankRequest& request, TStatement& statement)
{
    if (!statement.prepare(connection, keys::serverRankTallySql(request, keys::tallyPlan(request.range))))
        return false;
    const Range& r = request.range;
    auto monthStart = [](const QDate& d) {
        return QDate(d.year(), d.month(), 1).toString(QStringLiteral("yyyy-MM-dd 00:00:00"));
    };
    QHash<QString, QVariant> params{
        {QStringLiteral("dianid"), r.shop},
        // The date fields' text, as the statement gets it.
        {QStringLiteral("begindate"), formats::shortDate(r.begin)},
        {QStringLiteral("enddate"), formats::shortDate(r.end)},
        {QStringLiteral("firstmonth"), keys::monthOf(r.begin)},
        {QStringLiteral("firststart"), monthStart(r.begin)},
        {QStringLiteral("firstafter"), monthStart(r.begin.addMonths(1))},
        {QStringLiteral("lastmonth"), keys::monthOf(r.end)},
        {QStringLiteral("laststart"), monthStart(r.end)},
        {QStringLiteral("lastafter"), monthStart(r.end.addMonths(1))},
    };
    if (isRated(r.pj))
        params.insert(QStringLiteral("spj"), storedRatingWord(r.pj));
    return statement.bind(params);
}

} // namespace

bool rankFromTally(TConnection& connection, const RankRequest& request, Result& result)
{
    const bool server = connection.engine() == TConnection::Engine::Postgres;
    if (!columnsOf(connection, rankSqlAllRows(request), result))
        return false;
    TStatement statement;
    if (!(server ? prepareServerTally(connection, request, statement)
                 : prepareFileTally(connection, request, statement)))
        return false;
    // The rows come in the ranking's order; each group's sum is its one price's units times
    // its ratings.
    std::vector<QVariantList> rows;
    while (statement.step())
        rows.push_back({money::amountOf(statement.column(5)), statement.column(0), statement.column(1),
                        statement.column(2), statement.column(3), statement.column(4)});
    if (!statement.error().isEmpty())
        return false;
    result.rows = std::move(rows);
    return true;
}

namespace {

// Whether the month tally is worth reading for the shop: it is when its rows hold several
// ratings each (few prices an item). On a shop whose every rating has a price of its own it
// holds as many rows as ratings, and the item key is read instead. Judged from the shop's
// first rows in the tally's order, which is cheap whatever the shop's size.
bool tallyPays(TConnection& connection, qlonglong shop)
{
    if (connection.engine() == TConnection::Engine::Postgres)
        return true;
    TStatement sample;
    if (!sample.prepare(connection, QStringLiteral("SELECT count(*),coalesce(sum(n),0) FROM (SELECT n FROM "
                                                   "pjInfoTally WHERE dian_id=? LIMIT 4000)")) ||
        !sample.bindList({shop}) || !sample.step())
        return true; // no tally to judge: rankFromTally tells
    const qlonglong rows = sample.column(0).toLongLong();
    return rows < 4000 || sample.column(1).toLongLong() >= 3 * rows;
}

// The ranked rows over the item key, the engine keeping only the first rows of the order: the
// top N and a margin for ties, read again whole when a tie runs past the margin. The groups'
// own order breaks ties, as the statement's sort leaves them.
bool rankFromRatings(TConnection& connection, const RankRequest& request, Result& result)
{
    const QString sql = keys::rankSql(request) + QStringLiteral(",itemtitle,itemid,dian_id,jg");
    const int top = std::max(1, request.top);
    const int margin = top + 64;
    if (!open(connection, sql + QStringLiteral(" limit %1").arg(margin), request.range, result))
        return false;
    if (result.rowCount() < margin)
        return true;
    const int num = result.column(QStringLiteral("num"));
    const int amount = result.column(QStringLiteral("amount"));
    const QVariantList& nth = result.rows[top - 1];
    const QVariantList& last = result.rows.back();
    if (number(last.value(num)) != number(nth.value(num)) ||
        number(last.value(amount)) != number(nth.value(amount)))
        return true;
    return open(connection, sql, request.range, result);
}

} // namespace

Result runRank(TConnection& connection, const RankRequest& request)
{
    Result result;
    // The top N with every row tied with the N-th on both sort keys, as the ranking always
    // showed them; SQLite's LIMIT alone would cut a tie at random.
    Result tallied;
    if (tallyPays(connection, request.range.shop) && rankFromTally(connection, request, tallied))
        result = std::move(tallied);
    else if (!rankFromRatings(connection, request, result))
        return result;
    result.sql = rankSql(request);
    const int num = result.column(QStringLiteral("num"));
    const int amount = result.column(QStringLiteral("amount"));
    size_t keep = std::min<size_t>(result.rows.size(), static_cast<size_t>(std::max(1, request.top)));
    if (keep > 0) {
        const QVariantList& last = result.rows[keep - 1];
        while (keep < result.rows.size() && number(result.rows[keep].value(num)) == number(last.value(num)) &&
               number(result.rows[keep].value(amount)) == number(last.value(amount)))
            ++keep;
    }
    result.rows.resize(keep);
    const int figure = result.column(request.byAmount ? QStringLiteral("amount") : QStringLiteral("num"));
    for (int k = 0; k < result.rowCount(); ++k) {
        result.labels << rankLabel(k + 1);
        result.values << number(result.rows[k].value(figure));
    }
    return result;
}

Result runTrend(TConnection& connection, const Range& range, TrendPeriod period, const Progress& progress)
{
    // One read of the range's hour buckets answers all three statements: the peaks are the
    // largest of the series' figures.
    const TrendStatements sql = trendSql(period, isRated(range.pj));
    Result result;
    result.sql = sql.peakAmount;
    if (!columnsOf(connection, sql.peakAmount, result))
        return result;
    std::vector<keys::Bucket> buckets;
    if (!readBuckets(connection, range, true, buckets, result.error))
        return result;
    const std::vector<keys::Group> groups = keys::regroup(buckets, analysis::period(period));
    // "top 1 ... order by sum(jg) desc": the period with the largest sum, a sum of NULL
    // (no prices) below every other; among equal sums the engine keeps the last in key order.
    const keys::Group* peak = nullptr;
    for (const keys::Group& g : groups) {
        if (!peak ||
            (g.units.isNull() ? peak->units.isNull()
                              : peak->units.isNull() || g.units.toLongLong() >= peak->units.toLongLong()))
            peak = &g;
    }
    if (peak) {
        result.rows.push_back({money::amountOf(peak->units), peak->key});
        result.amountPeak = number(result.rows.back().value(0));
    }
    if (result.amountPeak == 0) {
        // Nothing sold (or only at price 0): the charts stay empty.
        result.complete = false;
        return result;
    }
    if (progress)
        progress(10);
    for (const keys::Group& g : groups)
        result.countPeak = std::max(result.countPeak, static_cast<double>(g.rows));
    if (progress)
        progress(20);
    result.sql = sql.series;
    result.rows.clear();
    if (!columnsOf(connection, sql.series, result))
        return result;
    result.rows.reserve(groups.size());
    for (const keys::Group& g : groups) {
        result.rows.push_back({money::amountOf(g.units), g.items, g.key});
        result.labels << trendLabel(period, g.key);
        result.values << number(result.rows.back().value(0));
        result.counts << static_cast<double>(g.items);
    }
    return result;
}

Result runDist(TConnection& connection, const Range& range, DistPeriod period)
{
    Result result;
    result.sql = distSql(period, isRated(range.pj));
    if (!columnsOf(connection, result.sql, result))
        return result;
    std::vector<keys::Bucket> buckets;
    if (!readBuckets(connection, range, false, buckets, result.error))
        return result;
    const std::vector<keys::Group> groups = keys::regroup(buckets, analysis::period(period));
    result.rows.reserve(groups.size());
    for (const keys::Group& g : groups) {
        result.rows.push_back({g.shop, money::amountOf(g.units), g.items, g.key});
        result.labels << distLabel(period, g.key);
        result.values << number(result.rows.back().value(1));
        result.counts << static_cast<double>(g.items);
    }
    return result;
}

Result runRankDetail(TConnection& connection, qlonglong shop, const QStringList& items)
{
    Result result;
    if (!connection.isOpen()) {
        result.error = TConnection::notOpenError();
        return result;
    }
    // The items go as one JSON list, so a ranking of many tied rows needs no bound per item;
    // no ORDER BY, which could turn the shop's index scan into a walk of the whole table.
    TStatement statement;
    if (!statement.prepare(connection,
                           QStringLiteral("SELECT itemId, id FROM pjInfo WHERE dian_id = ? AND itemId IN "
                                          "(SELECT value FROM json_each(?))")) ||
        !statement.bindList(
            {shop, QString::fromUtf8(
                       QJsonDocument(QJsonArray::fromStringList(items)).toJson(QJsonDocument::Compact))})) {
        result.error = statement.error();
        return result;
    }
    for (const QString& item : items)
        result.itemRatings[item];
    while (statement.step())
        result.itemRatings[statement.column(0).toString()].push_back(statement.column(1).toLongLong());
    if (!statement.error().isEmpty()) {
        result.error = statement.error();
        result.itemRatings.clear();
        return result;
    }
    for (auto& ids : result.itemRatings)
        std::sort(ids.begin(), ids.end());
    return result;
}

} // namespace analysis
