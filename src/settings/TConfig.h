#pragma once

#include "settings/MarketSettings.h"
#include "settings/NetSettings.h"
#include "settings/QueueSettings.h"
#include "settings/THttpAgent.h"

#include <QString>
#include <memory>

// The process-wide settings holder: the current proxy settings, the marketplace hosts and
// the retry and pacing settings, the database server asked for and the lease of a queued
// shop's claim.
// UI thread only; a download keeps the agent it was started with (shared ownership).
class TConfig
{
public:
    TConfig() : m_agent(std::make_shared<THttpAgent>()) {}

    std::shared_ptr<const THttpAgent> Agent() const { return m_agent; }
    void SetAgent(std::shared_ptr<const THttpAgent> agent) { m_agent = std::move(agent); }

    const MarketSettings& Market() const { return m_market; }
    void SetMarket(const MarketSettings& market) { m_market = market; }

    const NetSettings& Net() const { return m_net; }
    void SetNet(const NetSettings& net) { m_net = net; }

    // [Database] Url: a database server's connection URI, empty for the collection's file.
    const QString& DatabaseUrl() const { return m_databaseUrl; }
    void SetDatabaseUrl(const QString& url) { m_databaseUrl = url; }
    const QueueSettings& Queue() const { return m_queue; }
    void SetQueue(const QueueSettings& queue) { m_queue = queue; }

private:
    std::shared_ptr<const THttpAgent> m_agent;
    MarketSettings m_market;
    NetSettings m_net;
    QString m_databaseUrl;
    QueueSettings m_queue;
};
