#pragma once

#include "extract/THTMLExcavate.h"

#include <QObject>
#include <QString>
#include <map>
#include <memory>
#include <string>

class TConnection;
class TPageFetcher;

// One shop's pages: its shop page, which tells where its ratings are, then its rating pages, read
// in page order into the shop's extractor; one at a time, or (with connections to spare and not
// new-only) the rest all at once after the first. Made, it asks for its shop page and, before
// begin(), for the first rating page at most, keeping what arrives: so the next shop's pages come
// while the current one reads its last. Its tags are its own: a late page of a walk passed over
// is never taken for another's. UI thread only.
class TShopWalk : public QObject
{
    Q_OBJECT

public:
    enum class State
    {
        Ahead,        // not begun: the shop page and first rating page are kept as they arrive
        ShopPage,     // waits for the shop page
        Ratings,      // reads rating pages
        Read,         // every rating page wanted is read, or the walk was stopped
        NoRatingLink, // the shop page tells no rating address: not a shop of the marketplace
    };

    struct Options
    {
        int fromRecord = 1;
        int toRecord = 5000;
        QString ratingHost;
        // Stop after the first page whose ratings are all stored, as long as the stored ratings
        // and those read make up the shop's total.
        bool newOnly = false;
        int connections = 1;
    };

    // number tells the walks of a run apart (their tags repeat only after thousands).
    TShopWalk(TPageFetcher& fetcher, quint64 number, const std::string& shopUrl, const Options& options,
              QObject* parent = nullptr);

    // The shop's turn; a new-only walk asks the connection which ratings are stored.
    void begin(TConnection& connection, const QString& shopId);
    // A page the fetcher brought: false when it is not one of this walk's.
    bool take(int tag, const std::string& body);
    // Ends the walk where it is (a cancel); false when pages wanted were not read yet.
    bool stop();

    State state() const { return m_state; }
    const THTMLExcavate& extractor() const { return *m_extractor; }
    // The ratings read, shared so that they outlive the walk for whoever saves them.
    std::shared_ptr<const RatingList> ratings() const { return {m_extractor, &m_extractor->Ratings()}; }
    std::string ratingUrl(int page) const;

signals:
    void shopPageRead(); // it tells where the ratings are
    void totalRatingsKnown(int total);
    // Every page of the walk is asked for: the next shop's may be asked for behind them.
    void allAsked();
    void read();         // state Read, reached by the walk itself
    void noRatingLink(); // told from inside the walk's own call
    void storeError(const QString& error);

private:
    // 0 is the shop page, n the rating page n.
    int tag(int page) const { return m_id * kPageSpan + page; }
    void ask(int page);
    void shopPage(const std::string& body);
    void afterShopPage();
    void readInOrder();
    void ratingPage(const std::string& body);
    // New-only: the ratings the last page added are all stored and, with the new ones read,
    // the shop's ratings are complete.
    bool nothingNewBeyond(size_t firstOfPage);

    static constexpr int kPageSpan = 1 << 20;

    TPageFetcher& m_fetcher;
    const int m_id;
    const std::string m_shopUrl;
    const Options m_options;
    std::shared_ptr<THTMLExcavate> m_extractor;
    State m_state = State::Ahead;
    int m_askedUpTo = 0; // the last rating page asked for
    bool m_parallel = false;
    // Rating pages that arrived ahead of their turn.
    std::map<int, std::string> m_pages;
    TConnection* m_connection = nullptr;
    QString m_shopId;
    // New-only: ratings stored before the walk (-1: not counted yet), and those read that were not.
    qlonglong m_storedBefore = -1;
    qlonglong m_newRead = 0;
};
