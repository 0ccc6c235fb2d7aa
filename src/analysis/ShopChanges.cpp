#include "analysis/ShopChanges.h"

#include "store/TConnection.h"
#include "store/TQuery.h"

#include <algorithm>
#include <cmath>

namespace shopchanges {
namespace {

// Per shop: its last history row, the one to compare it with (the previous one, or the last
// before :since) and the one before that, with the figures each holds.
QString pairsSql(bool since)
{
    const QString base =
        since ? QStringLiteral("(select max(p.id) from dianHistory p where p.dian_id=m.dian_id and "
                               "p.minedAt<:since)")
              : QStringLiteral("(select max(p.id) from dianHistory p where p.dian_id=m.dian_id and "
                               "p.id<m.lastId)");
    return QStringLiteral(
               "select l.dian_id, s.dianzhu, s.dianming, a.minedAt as toAt, b.minedAt as fromAt, "
               "q.minedAt as beforeAt, a.lastRatingId as toRating, b.lastRatingId as fromRating, "
               "q.lastRatingId as beforeRating, a.salerCredit - b.salerCredit as salerCreditDelta, "
               "a.buyerCredit - b.buyerCredit as buyerCreditDelta, a.salerGoodRate as rateNow, "
               "b.salerGoodRate as rateBefore, q.id as beforeId "
               "from (select m.dian_id, m.lastId, %1 as baseId from (select dian_id, max(id) as lastId "
               "from dianHistory group by dian_id) m) l "
               "join dianHistory a on a.id=l.lastId join dianHistory b on b.id=l.baseId "
               // Before b's own id, not the expression that found it: that would be worked out
               // again for every row the subquery reads.
               "left join dianHistory q on q.id=(select max(r.id) from dianHistory r where "
               "r.dian_id=b.dian_id and r.id<b.id) "
               "join dianBase s on s.id=l.dian_id where l.baseId<l.lastId")
        .arg(base);
}

// The ratings of a shop stored between two rows (ids above :fromRating up to :toRating), and the
// sales of the interval before (ids above :lowRating up to :fromRating6). Read by the range of
// ids, which holds them and few others, rather than by every rating of the shop.
const char kRatingsSql[] =
    "select sum(case when id>:fromRating then 1 else 0 end) as n, "
    "sum(case when id>:fromRating2 and buyerOrSaler=true then 1 else 0 end) as sales, "
    "sum(case when id>:fromRating3 and buyerOrSaler=true then cast(round(jg*10000) as bigint) else 0 end) "
    "as units, "
    "sum(case when id>:fromRating4 and pj='差评' then 1 else 0 end) as bad, "
    "sum(case when id>:fromRating5 and pj='中评' then 1 else 0 end) as neutral, "
    "sum(case when id<=:fromRating6 and buyerOrSaler=true then 1 else 0 end) as salesBefore "
    "from pjInfo where +dian_id=:dian_id and id>:lowRating and id<=:toRating";

// Read as UTC: only differences count, and a local time would consult the time zone each time.
QDateTime stamp(const QString& text)
{
    return QDateTime(QDate::fromString(text.left(10), Qt::ISODate),
                     QTime::fromString(text.mid(11, 8), QStringLiteral("HH:mm:ss")), Qt::UTC);
}

// Sales per day of an interval; the interval is at least a second.
double perDay(qlonglong sales, const QString& from, const QString& to)
{
    const qint64 seconds = std::max<qint64>(1, stamp(from).secsTo(stamp(to)));
    return double(sales) * 86400.0 / double(seconds);
}

// "97.45%" as 97.45; nothing when the text holds no number.
std::optional<double> rateOf(const QString& text)
{
    bool ok = false;
    const double v = text.trimmed().remove(u'%').toDouble(&ok);
    return ok ? std::optional<double>(v) : std::nullopt;
}

} // namespace

QStringList crossedRules(const Change& c, const WatchSettings& rules)
{
    QStringList out;
    if (rules.BadRatings && c.bad >= std::max<qlonglong>(1, *rules.BadRatings))
        out << QStringLiteral("BadRatings");
    if (rules.SalesChangePercent && c.salesBefore) {
        const double now = perDay(c.sales, c.from, c.to);
        const double before = perDay(*c.salesBefore, c.before, c.from);
        const bool crossed =
            before == 0 ? now > 0 : std::abs(now - before) * 100.0 / before >= *rules.SalesChangePercent;
        if (crossed)
            out << QStringLiteral("SalesChangePercent");
    }
    if (rules.CreditDrop && -c.salerCreditDelta >= std::max<qlonglong>(1, *rules.CreditDrop))
        out << QStringLiteral("CreditDrop");
    if (rules.GoodRateDrop) {
        const auto now = rateOf(c.salerGoodRate);
        const auto before = rateOf(c.salerGoodRateBefore);
        // Compared in hundredths, as the rates are written.
        if (now && before) {
            const qlonglong drop = std::llround(*before * 100) - std::llround(*now * 100);
            if (drop > 0 && drop >= std::llround(*rules.GoodRateDrop * 100))
                out << QStringLiteral("GoodRateDrop");
        }
    }
    return out;
}

QString amountText(qlonglong units)
{
    const bool negative = units < 0;
    const qulonglong u = negative ? qulonglong(-units) : qulonglong(units);
    QString text = QString::number(u / 10000);
    if (const qulonglong fraction = u % 10000; fraction != 0) {
        QString digits = QStringLiteral("%1").arg(fraction, 4, 10, QLatin1Char('0'));
        while (digits.endsWith(u'0'))
            digits.chop(1);
        text += u'.' + digits;
    }
    return negative ? u'-' + text : text;
}

std::optional<QList<Change>> collect(TConnection& connection, const Options& options, QString* error)
{
    auto failed = [error](const TQuery& q) {
        if (error)
            *error = q.lastError();
        return std::nullopt;
    };
    // One read transaction: every statement sees the same minings, and the file is locked once
    // rather than once a statement. A plain BEGIN, which leaves a saver free to write meanwhile.
    struct Snapshot
    {
        TConnection& c;
        bool open = c.exec(QStringLiteral("BEGIN"));
        ~Snapshot()
        {
            if (open)
                c.exec(QStringLiteral("ROLLBACK"));
        }
    } snapshot{connection};
    TQuery pairs(&connection, QStringLiteral("changes"));
    pairs.SetSQL(pairsSql(options.since.has_value()));
    if (options.since)
        pairs.SetParam(QStringLiteral("since"),
                       options.since->toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));
    if (!pairs.Open())
        return failed(pairs);
    TQuery ratings(&connection, QStringLiteral("changesRatings"));
    ratings.SetSQL(QString::fromUtf8(kRatingsSql));
    QList<Change> out;
    for (int r = 0; r < pairs.RecordCount(); ++r) {
        auto at = [&](int column) { return pairs.value(r, column); };
        Change c;
        c.shopId = at(0).toLongLong();
        if (options.shops && !options.shops->contains(c.shopId))
            continue;
        c.dianzhu = at(1).toString();
        c.dianming = at(2).toString();
        c.to = at(3).toString();
        c.from = at(4).toString();
        const bool hasBefore = !at(13).isNull();
        c.before = at(5).toString();
        const qlonglong toRating = at(6).toLongLong();
        const qlonglong fromRating = at(7).toLongLong();
        const qlonglong beforeRating = hasBefore ? at(8).toLongLong() : fromRating;
        c.salerCreditDelta = at(9).toLongLong();
        c.buyerCreditDelta = at(10).toLongLong();
        c.salerGoodRate = at(11).toString();
        c.salerGoodRateBefore = at(12).toString();
        for (int i = 1; i <= 6; ++i)
            ratings.SetParam(i == 1 ? QStringLiteral("fromRating") : QStringLiteral("fromRating%1").arg(i),
                             fromRating);
        ratings.SetParam(QStringLiteral("dian_id"), c.shopId);
        ratings.SetParam(QStringLiteral("lowRating"), std::min(beforeRating, fromRating));
        ratings.SetParam(QStringLiteral("toRating"), toRating);
        if (!ratings.Open())
            return failed(ratings);
        auto figure = [&](int column) {
            return ratings.RecordCount() ? ratings.value(0, column).toLongLong() : 0;
        };
        c.newRatings = figure(0);
        c.sales = figure(1);
        c.amountUnits = figure(2);
        c.bad = figure(3);
        c.neutral = figure(4);
        if (hasBefore)
            c.salesBefore = figure(5);
        ratings.Close();
        c.crossed = crossedRules(c, options.rules);
        out << c;
    }
    std::stable_sort(out.begin(), out.end(), [](const Change& a, const Change& b) {
        if (a.sales != b.sales)
            return a.sales > b.sales;
        if (a.bad != b.bad)
            return a.bad > b.bad;
        return a.shopId < b.shopId;
    });
    return out;
}

} // namespace shopchanges
