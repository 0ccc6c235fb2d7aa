#pragma once

#include "app/MarketSettings.h"
#include "app/THttpAgent.h"

#include <memory>

// The process-wide settings holder: the current proxy settings and the marketplace hosts.
// UI thread only; a download keeps the agent it was started with (shared ownership).
class TConfig
{
public:
    TConfig() : m_agent(std::make_shared<THttpAgent>()) {}

    std::shared_ptr<const THttpAgent> Agent() const { return m_agent; }
    void SetAgent(std::shared_ptr<const THttpAgent> agent) { m_agent = std::move(agent); }

    const MarketSettings& Market() const { return m_market; }
    void SetMarket(const MarketSettings& market) { m_market = market; }

private:
    std::shared_ptr<const THttpAgent> m_agent;
    MarketSettings m_market;
};
