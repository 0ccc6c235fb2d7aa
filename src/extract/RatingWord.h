#pragma once

#include <QString>

// The rating word that a rating filter's choice finds in pj. The filters offer "坏评" for the
// bad ratings, which the rating pages (and so the stored ratings) call "差评": the choice keeps
// its text and finds the word the pages use.
inline QString storedRatingWord(const QString& choice)
{
    return choice == QStringLiteral("坏评") ? QStringLiteral("差评") : choice;
}
