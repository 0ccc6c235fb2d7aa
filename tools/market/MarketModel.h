#pragma once

#include <QJsonDocument>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The generated marketplace: shops with their profile figures, item catalogues and rating
// lists, all a pure function of the seed. Texts are UTF-8 here; pages convert them to GBK.
// Ratings are computed on demand from (seed, shop, number), so large lists cost no memory.
// Immutable after construction, so it can be read from every server thread.
class MarketModel
{
public:
    static constexpr int kPageSize = 40;

    struct Item
    {
        std::string id;
        std::string title;
        std::string price; // as shown, without the currency sign
    };

    // One shop of the directory. The Html variants choose which of the accepted page forms
    // this shop's block, shop page and rating pages use.
    struct Shop
    {
        int index = 0;   // 1-based, also the number in the shop page address
        std::string key; // rating-list key, with upper-case letters
        std::string member;
        std::string name;
        std::string business;
        std::string location;
        std::string categoryCode;
        int goods = 0;
        bool bseller = false;
        int sellerCredit = 0;
        int sellerLevel = 0; // 0 for a credit below 4
        int buyerCredit = 0;
        int buyerLevel = 0;
        std::string sellerGoodRate;
        std::string buyerGoodRate;
        int sellerCounts[3][5] = {}; // good, neutral, bad x four periods and the total
        int buyerCounts[3][5] = {};
        bool buyerTable = true; // a shopkeeper who never bought shows no buyer table
        int createYear = 0, createMonth = 0, createDay = 0;
        bool createFormB = false;
        std::vector<Item> items;
        long long newestRating = 0; // seconds since the epoch, local time as shown
        // Page form variants.
        bool logoBadge = false; // a second image in the logo link
        bool mallIcon = false;  // an icon link before the name
        bool levelCommented = false;
        bool guaranteeLink = false;
        std::vector<std::string> promotions;
        bool nbspName = false;     // blanks of the name written as &nbsp;
        bool pipeLastPage = false; // "currentPage|N" rather than "currentPage=N"
    };

    struct Rating
    {
        std::string word; // 好评, 中评 or 差评
        bool noEffect = false;
        std::string time; // yyyy-MM-dd HH:mm:ss
        bool dottedDate = false;
        std::string tradeId;
        const Item* item = nullptr;
        std::string buyer;
        bool anonymous = false;
        bool buyerIcon = false;
        std::string comment; // what a reader keeps: no script, no line breaks
        std::string commentHtml;
        std::string explanation; // empty when the shopkeeper gave none
    };

    // newer: ratings every shop has on top of ratingsPerShop, all newer than those; the
    // older ones keep their content, so a second market with newer N shows N new ratings
    // at the top of the same list, and profile figures (credit, level, counts, good rate)
    // that include them. today: the day the ratings are dated back from, in days
    // since 1970-01-01; each shop's list spreads over the year before it.
    MarketModel(uint64_t seed, int shopCount, int ratingsPerShop, int newer, long long today);

    const std::vector<Shop>& shops() const { return m_shops; }
    // Ratings listed per shop, the newer ones included.
    int ratingsPerShop() const { return m_ratingsPerShop + m_newer; }
    int ratingPages() const;
    Rating rating(const Shop& shop, int number) const; // number 0 is the newest listed
    const Shop* shopByIndex(int index) const;
    const Shop* shopByKey(std::string_view key) const; // ASCII case ignored
    // The shop and item of an item number, for the snapshot pages.
    std::optional<std::pair<const Shop*, const Item*>> itemById(std::string_view id) const;

    // Category codes of the directory and their names.
    static const std::vector<std::pair<std::string, std::string>>& categories();
    static std::string categoryName(std::string_view code);
    // Seller level of a credit in points: 1 for 4..10, then the level table; 0 below 4.
    static int creditLevel(int points);

    // Everything served, as the program should store it before ASCII case folding.
    QJsonDocument truth(const std::string& base) const;

private:
    // Adds the newer ratings to the shop's profile figures.
    void grow(Shop& s) const;
    // Rating of the base list: number 0 is the newest of the base; negative ones are newer.
    Rating generate(const Shop& shop, int number) const;

    uint64_t m_seed;
    int m_ratingsPerShop;
    long long m_step = 10800; // seconds between two ratings of the base list, less a jitter
    int m_newer = 0;
    std::vector<Shop> m_shops;
};
