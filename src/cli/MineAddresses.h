#pragma once

#include <QStringList>

// Checks the addresses given to "mine" (or another command) before anything is stored or fetched: each one
// that may not be mined is named on standard error with the reason. True when all may be mined.
bool minableAddresses(const QStringList& urls, const QString& domain, const char* command = "mine");
