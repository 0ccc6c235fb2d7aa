#pragma once

#include "store/TTeamSlots.h"

#include <QString>
#include <memory>

class TConfig;
class TConnection;

// The team-wide download cap a run takes part in: the server's slots when [Net] TeamConnections
// is set and the store is a server.
namespace teamcap {

// The slots for a run under config on store, opened once into kept and kept there across
// runs; nullptr when the run keeps its own Connections only, with notice saying why (empty
// when the key is off). The notice comes with every run; whoever shows it tells it once.
TTeamSlots* prepare(const TConfig& config, const TConnection& store, std::unique_ptr<TTeamSlots>& kept,
                    QString* notice);

} // namespace teamcap
