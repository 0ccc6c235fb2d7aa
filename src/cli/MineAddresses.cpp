#include "cli/MineAddresses.h"

#include "mining/ShopAddress.h"

#include <cstdio>

bool minableAddresses(const QStringList& urls, const QString& domain, const char* command)
{
    bool all = true;
    for (const QString& url : urls) {
        const QString problem = shopaddress::problem(url, domain);
        if (problem.isEmpty())
            continue;
        std::fprintf(stderr, "kestrova-cli %s: \"%s\": %s\n", command, url.toLocal8Bit().constData(),
                     problem.toLocal8Bit().constData());
        all = false;
    }
    return all;
}
