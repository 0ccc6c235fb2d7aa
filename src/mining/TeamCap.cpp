#include "mining/TeamCap.h"

#include "settings/TConfig.h"
#include "store/TConnection.h"

namespace teamcap {

TTeamSlots* prepare(const TConfig& config, const TConnection& store, std::unique_ptr<TTeamSlots>& kept,
                    QString* notice)
{
    notice->clear();
    const int cap = config.Net().TeamConnections;
    if (cap <= 0)
        return nullptr;
    if (store.engine() != TConnection::Engine::Postgres) {
        *notice = QStringLiteral("[Net] TeamConnections=%1 does nothing on a database file: a team cap is "
                                 "kept by a server store")
                      .arg(cap);
        return nullptr;
    }
    if (!kept) {
        auto team = std::make_unique<TTeamSlots>();
        QString error;
        if (!team->open(store.path(), &error)) {
            *notice = QStringLiteral("[Net] TeamConnections: %1; this run keeps its own Connections only")
                          .arg(error);
            return nullptr;
        }
        kept = std::move(team);
    }
    kept->setCap(cap);
    return kept.get();
}

} // namespace teamcap
