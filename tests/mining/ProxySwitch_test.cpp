// Proxy settings applied during a mining run reach the pages downloaded after them.
#include "MarketFixture.h"
#include "extract/TinyProxy.h"

namespace {

std::shared_ptr<const THttpAgent> proxyAgent(int port, const QString& user, const QString& password)
{
    auto agent = std::make_shared<THttpAgent>();
    agent->AgentType = 1;
    agent->Server = QStringLiteral("127.0.0.1");
    agent->Port = port;
    agent->User = user;
    agent->Password = password;
    return agent;
}

class ProxySwitch : public MarketFixture
{
};

} // namespace

TEST_F(ProxySwitch, PagesAfterTheSwitchGoThroughTheNewProxy)
{
    // Three rating pages a shop, so the switch falls inside the first shop.
    startMarket({"--shops", "3", "--ratings", "100", "--seed", "21"});
    auto first = std::make_unique<TinyProxy>(QStringLiteral("alder"), QStringLiteral("first-pass"));
    if (!first->ready())
        GTEST_SKIP() << "tinyproxy is not available";
    m_config.SetAgent(proxyAgent(first->port(), QStringLiteral("alder"), QStringLiteral("first-pass")));

    // The second proxy exists only from the switch on and the first one ends there: pages
    // before it can only have come through the first, pages after it only through the second.
    std::unique_ptr<TinyProxy> second;
    bool switched = false;
    TMiningRun run(dm);
    QString failure;
    QObject::connect(&run, &TMiningRun::downloadFailed, &run, [&](const QString& e) { failure = e; });
    QObject::connect(&run, &TMiningRun::totalRatingsChanged, &run, [&](int total) {
        // Raised after each rating page of a shop, before the next page is asked for.
        if (switched || total == 0)
            return;
        switched = true;
        second = std::make_unique<TinyProxy>(QStringLiteral("birch"), QStringLiteral("second-pass"));
        first.reset();
        m_config.SetAgent(proxyAgent(second->port(), QStringLiteral("birch"), QStringLiteral("second-pass")));
    });

    ASSERT_TRUE(mine(run, rowsFor({0, 1, 2})));
    ASSERT_TRUE(switched);
    ASSERT_TRUE(second->ready());
    EXPECT_TRUE(failure.isEmpty()) << failure.toStdString();
    EXPECT_EQ(run.minedCount(), 3);
    EXPECT_EQ(count("select count(*) from pjinfo"), 300);
    EXPECT_EQ(count("select count(*) from dianbase"), 3);
}
