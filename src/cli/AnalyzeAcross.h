#pragma once

#include <QStringList>

// "analyze compare" and "analyze market": analyses across shops, with the arguments after the
// analysis name; each returns the exit status.
int runAnalyzeCompare(const QStringList& args);
int runAnalyzeMarket(const QStringList& args);
