#include "extract/CreditLevel.h"

#include <array>

std::optional<int> CreditLevel(int points)
{
    if (points >= 4 && points <= 10)
        return 1;
    // Upper bounds (inclusive) of levels 2..15; each level starts above the previous bound.
    static constexpr std::array<int, 15> upper = {10,   40,    90,    150,   250,    500,    1000,  2000,
                                                  5000, 10000, 20000, 50000, 100000, 200000, 500000};
    for (size_t i = 1; i < upper.size(); ++i)
        if (points > upper[i - 1] && points <= upper[i])
            return static_cast<int>(i) + 1;
    return std::nullopt;
}
