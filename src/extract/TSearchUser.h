#pragma once

#include "extract/Records.h"

#include <string>
#include <string_view>

// Reads the shop-directory result pages of one search into shop records and decides how
// many pages the walk needs. Pages are GBK bytes. UI thread only; one parser per search.
class TSearchUser
{
public:
    // limit: shops wanted (0 or less: all results); pageSize: results per page (the search
    // run passes 40); homePage: GBK address recorded for a block without a shop address.
    TSearchUser(int limit, int pageSize, std::string homePage);

    // Set-up from the first result page: the reported total, the clipped limit and the page
    // counts. Reads no shops.
    void LoadFirstPage(std::string_view page);
    // Reads one result page, or finishes the walk when no further page is wanted.
    void ProcessPage(std::string_view page);
    // With true (the search cancel), later pages are ignored.
    void SetFinished(bool finished) { m_finished = finished; }

    const std::string& PageText() const { return m_pageText; }
    int Limit() const { return m_limit; }
    int ShopCount() const { return m_shopCount; }
    int PagesNeeded() const { return m_pagesNeeded; }
    int TotalFound() const { return m_totalFound; }
    int PageSize() const { return m_pageSize; }
    int TotalPages() const { return m_totalPages; }
    int PageNo() const { return m_pageNo; } // the page to request next
    bool Ready() const { return m_ready; }
    bool Finished() const { return m_finished; }
    const ShopList& Shops() const { return m_shops; }

    // The shop-block pattern as written (its nine pieces joined), before folding.
    static const std::string& BlockPatternText();

private:
    static int readTotal(std::string_view pageText);
    void readShops(std::string_view page);
    ShopRecord readShop(std::string_view block) const;

    std::string m_homePage;
    std::string m_pageText;
    int m_limit;
    int m_shopCount = 0;
    int m_pagesNeeded = 0;
    int m_totalFound = -1;
    int m_pageSize;
    int m_totalPages = -1;
    int m_pageNo = 1;
    bool m_ready = false;
    bool m_finished = false;
    ShopList m_shops;
};
