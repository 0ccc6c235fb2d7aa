#pragma once

#include "MarketModel.h"

#include <set>
#include <string>

// Renders the marketplace's pages as GBK HTML, in the shapes the program's readers expect.
// Thread-safe (reads the immutable model only).
class MarketPages
{
public:
    // A directory search as the result-page address carries it; texts are UTF-8.
    struct Search
    {
        std::string category; // empty: every category
        std::string shopname, sellername, keybiz, loc;
        std::set<int> levels; // empty: every level
        int page = 1;
    };

    // base: scheme, host and port that absolute links on the pages start with.
    // padTo: pages shorter than this many bytes are padded with a hidden block.
    MarketPages(const MarketModel& model, std::string base, size_t padTo);

    // The shops a search finds, in directory order.
    std::vector<const MarketModel::Shop*> find(const Search& search) const;

    std::string home() const;
    std::string searchResult(const Search& search) const;
    std::string shopPage(const MarketModel::Shop& shop) const;
    std::string ratingPage(const MarketModel::Shop& shop, int page) const;
    std::string snapshot(const MarketModel::Shop& shop, const MarketModel::Item& item,
                         const std::string& tradeId) const;

    // HTML text escaping of &, <, > and the double quote.
    static std::string escape(std::string_view text);

private:
    std::string shopBlock(const MarketModel::Shop& shop, const std::string& highlight) const;
    std::string ratingRow(const MarketModel::Rating& rating) const;
    std::string ratingLink(const MarketModel::Shop& shop, int page) const;
    std::string finish(std::string utf8Html) const;

    const MarketModel& m_model;
    std::string m_base;
    size_t m_padTo;
};
