#include "mining/RunFlags.h"

namespace runflags {

std::atomic<bool> netBusy{false};
std::atomic<bool> savingRatings{false};

} // namespace runflags
