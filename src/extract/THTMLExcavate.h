#pragma once

#include "extract/Records.h"

#include <string>
#include <string_view>

// Mines one shop: from its shop page the rating-list address and the opening date, from
// the first rating page the credit summary, and from every rating page of the walk the
// rating rows. Pages are GBK bytes. UI thread only; one extractor per shop.
class THTMLExcavate
{
public:
    static constexpr int kRatingsPerPage = 40;

    // fromRecord, toRecord: the ratings wanted, counted from 1. ratingHost: scheme and
    // host of the rating pages ("http://host[:port]"), GBK.
    THTMLExcavate(int fromRecord, int toRecord, std::string ratingHost);

    // The shop page: rating-list address and opening date.
    void LoadProfilePage(std::string_view page);
    // One rating page, folded by the caller. The first one also gives the totals, the last
    // page and the credit summary; after the last page the next one finishes the walk.
    void ProcessRatingPage(std::string_view page);
    // Seller and buyer credit, levels, good-rating rates and the tables of received
    // ratings of a folded rating page.
    void ParseCreditSummary(std::string_view page);
    // With true (the mining cancel), later pages add nothing.
    void SetFinished(bool finished) { m_finished = finished; }

    const std::string& ProfileText() const { return m_profileText; }
    int PageNo() const { return m_pageNo; } // the rating page to request next
    int RatingCount() const { return m_ratingCount; }
    int TotalRatings() const { return m_totalRatings; }
    int LastPage() const { return m_lastPage; }
    bool Ready() const { return m_ready; }
    bool Finished() const { return m_finished; }
    const RatingList& Ratings() const { return m_ratings; }
    // Empty when the shop page has no rating link on the configured rating host.
    const std::string& RatingUrlBase() const { return m_ratingUrlBase; }
    bool FirstPageDone() const { return m_firstPageDone; }
    bool SummaryDone() const { return m_summaryDone; }
    int saleLevel() const { return m_saleLevel; }
    int buyLevel() const { return m_buyLevel; }
    int salerCredit() const { return m_salerCredit; }
    int buyerCredit() const { return m_buyerCredit; }
    const std::string& createDate() const { return m_createDate; }
    int buyerGood() const { return m_buyerGood; }
    int buyerNotBad() const { return m_buyerNotBad; }
    int buyerBad() const { return m_buyerBad; }
    int salerGood() const { return m_salerGood; }
    int salerNotBad() const { return m_salerNotBad; }
    int salerBad() const { return m_salerBad; }
    const std::string& salerGoodRate() const { return m_salerGoodRate; }
    const std::string& buyerGoodRate() const { return m_buyerGoodRate; }
    int FromRecord() const { return m_fromRecord; }
    int ToRecord() const { return m_toRecord; }

private:
    void ParseProfile();
    void readRatingUrl();
    void readCreateDate();
    void readTotalRatings(std::string_view page);
    void readLastPage(std::string_view page);
    void readSummary(std::string_view text);
    // The rows of a folded page without line breaks and blank runs.
    void readRows(std::string_view text);

    std::string m_ratingHost;
    std::string m_profileText;
    int m_pageNo;
    int m_ratingCount = 0;
    int m_totalRatings = 0;
    int m_lastPage = 1;
    bool m_ready = false;
    bool m_finished = false;
    RatingList m_ratings;
    std::string m_ratingUrlBase;
    bool m_firstPageDone = false;
    bool m_summaryDone = false;
    int m_saleLevel = 0;
    int m_buyLevel = 0;
    int m_salerCredit = 0;
    int m_buyerCredit = 0;
    std::string m_createDate;
    int m_buyerGood = 0;
    int m_buyerNotBad = 0;
    int m_buyerBad = 0;
    int m_salerGood = 0;
    int m_salerNotBad = 0;
    int m_salerBad = 0;
    std::string m_salerGoodRate;
    std::string m_buyerGoodRate;
    int m_fromRecord;
    int m_toRecord;
};
