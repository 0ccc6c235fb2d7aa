#pragma once

#include <optional>

// The marketplace's credit level (1..15) for a number of credit points; nothing below 4
// points or above 500000, where the caller keeps the level it had.
std::optional<int> CreditLevel(int points);
