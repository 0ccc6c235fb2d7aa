#include "mining/TShopWalk.h"

#include "mining/TPageFetcher.h"
#include "store/ShopRecords.h"
#include "text/GbkCodec.h"
#include "text/TextOps.h"

#include <climits>

TShopWalk::TShopWalk(TPageFetcher& fetcher, quint64 number, const std::string& shopUrl,
                     const Options& options, QObject* parent)
    : QObject(parent), m_fetcher(fetcher), m_id(static_cast<int>(number % (INT_MAX / kPageSpan))),
      m_shopUrl(shopUrl), m_options(options),
      m_extractor(std::make_shared<THTMLExcavate>(options.fromRecord, options.toRecord,
                                                  gbk::fromQString(options.ratingHost)))
{
    m_fetcher.fetch(m_shopUrl, tag(0));
}

std::string TShopWalk::ratingUrl(int page) const
{
    return m_extractor->RatingUrlBase() + std::to_string(page) + "--snapId%7C0.htm";
}

void TShopWalk::ask(int page)
{
    m_askedUpTo = page;
    m_fetcher.fetch(ratingUrl(page), tag(page));
}

void TShopWalk::begin(TConnection& connection, const QString& shopId)
{
    m_connection = &connection;
    m_shopId = shopId;
    m_state = State::ShopPage;
    if (m_extractor->Ready()) // its shop page came ahead
        afterShopPage();
}

bool TShopWalk::take(int tag, const std::string& body)
{
    if (tag / kPageSpan != m_id)
        return false;
    const int page = tag % kPageSpan;
    if (page == 0) {
        shopPage(body);
        return true;
    }
    m_pages.emplace(page, body);
    readInOrder();
    return true;
}

bool TShopWalk::stop()
{
    const bool complete = m_extractor->Finished();
    m_extractor->SetFinished(true);
    m_state = State::Read;
    return complete;
}

void TShopWalk::shopPage(const std::string& body)
{
    m_extractor->LoadProfilePage(text::foldAscii(body));
    if (m_state != State::Ahead) {
        afterShopPage();
    } else if (!m_extractor->RatingUrlBase().empty()) {
        // Its first rating page as well, now that the shop page tells where it is.
        ask(m_extractor->PageNo());
    }
}

void TShopWalk::afterShopPage()
{
    if (m_extractor->RatingUrlBase().empty()) {
        m_state = State::NoRatingLink;
        emit noRatingLink();
        return;
    }
    m_state = State::Ratings;
    emit shopPageRead();
    if (m_askedUpTo < m_extractor->PageNo())
        ask(m_extractor->PageNo());
    readInOrder();
}

void TShopWalk::readInOrder()
{
    // Pages of a parallel walk are read in page order, as a walk one page at a time would.
    for (auto it = m_pages.find(m_extractor->PageNo()); it != m_pages.end() && m_state == State::Ratings;
         it = m_pages.find(m_extractor->PageNo())) {
        const std::string page = std::move(it->second);
        m_pages.erase(it);
        ratingPage(page);
    }
}

void TShopWalk::ratingPage(const std::string& body)
{
    THTMLExcavate& x = *m_extractor;
    const size_t firstOfPage = x.Ratings().size();
    const bool first = !x.FirstPageDone();
    x.ProcessRatingPage(text::foldAscii(body));
    if (x.Ready() && x.FirstPageDone())
        emit totalRatingsKnown(x.TotalRatings());
    // Rating pages list the newest first: past a page of known ratings all are known.
    if (m_options.newOnly && !x.Finished() && nothingNewBeyond(firstOfPage))
        x.SetFinished(true);
    // Once the first page told the last one, the rest are asked for at once (within the
    // connections allowed); a new-only walk decides page by page whether to go on.
    if (first && !x.Finished() && !m_options.newOnly && m_options.connections > 1 &&
        x.PageNo() <= x.LastPage()) {
        m_parallel = true;
        for (int p = x.PageNo(); p <= x.LastPage(); ++p)
            ask(p);
        emit allAsked();
        return;
    }
    // Past the last page the walk is over; one page at a time, the next request tells.
    if (m_parallel && x.PageNo() > x.LastPage())
        x.SetFinished(true);
    if (x.Finished()) {
        m_state = State::Read;
        emit read();
    } else if (!m_parallel) {
        ask(x.PageNo());
    }
}

bool TShopWalk::nothingNewBeyond(size_t firstOfPage)
{
    const RatingList& ratings = m_extractor->Ratings();
    // A page without ratings proves nothing.
    if (ratings.size() <= firstOfPage || m_shopId.isEmpty())
        return false;
    if (m_storedBefore < 0)
        m_storedBefore = shoprecords::storedRatings(*m_connection, m_shopId);
    QStringList keys;
    for (size_t i = firstOfPage; i < ratings.size(); ++i) {
        const RatingRecord& r = ratings[i].second;
        if (r.size() >= 4)
            keys << gbk::toQString(r[3]) + gbk::toQString(r[1]);
    }
    QString error;
    const int unknown = shoprecords::unknownRatings(*m_connection, m_shopId, keys, &error);
    if (unknown < 0) {
        emit storeError(error);
        return false;
    }
    m_newRead += unknown;
    if (unknown > 0)
        return false;
    // Ratings missing further down (an earlier walk that ended early) keep the walk going.
    const qlonglong expected = std::min(m_extractor->TotalRatings(), m_extractor->ToRecord());
    return m_storedBefore + m_newRead >= expected;
}
