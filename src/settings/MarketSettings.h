#pragma once

#include <QString>

// Where the marketplace lives; the defaults point at the demo marketplace on loopback.
struct MarketSettings
{
    static constexpr int kDemoPort = 8631;

    QString SearchHost = QStringLiteral("127.0.0.1:8631");        // host[:port] of result pages
    QString RatingHost = QStringLiteral("http://127.0.0.1:8631"); // scheme and host of rating pages
    QString SnapHost = QStringLiteral("http://127.0.0.1:8631");   // scheme and host of item snapshots
    QString Domain = QStringLiteral("127.0.0.1");                 // a minable shop address contains it
    QString HomePage = QStringLiteral("http://127.0.0.1:8631/");  // shop address when a block has none
    QString TestUrl = QStringLiteral("http://127.0.0.1:8631/");   // fetched by the connection test
};
