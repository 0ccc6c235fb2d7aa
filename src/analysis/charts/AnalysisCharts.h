#pragma once

#include "analysis/AnalysisSql.h"

#include <QColor>
#include <QList>
#include <QSize>
#include <QString>
#include <QStringList>

class QChart;
class QWidget;

// Builds the analyses' charts, so the windows and the command line's pictures look the same.
// UI thread (or the main thread of an offscreen program).
namespace charts {

// The ranking chart `Chart1`: no legend, one full-width bar per rank, each in its own colour,
// rank labels along the bottom, values from 0.
void setupRank(QChart* chart);
void fillRank(QChart* chart, const QString& title, const QStringList& labels, const QList<double>& heights);
int rankBarCount(const QChart* chart);

// The trend charts: `Chart3`, a green line of counts with the period labels on its top axis,
// and `Chart4`, red bars of amounts; both flat, no legend, no title, values from 0.
void setupTrend(QChart* countChart, QChart* amountChart);
void fillTrend(QChart* countChart, QChart* amountChart, const QStringList& labels,
               const QList<double>& counts, const QList<double>& amounts);
// Left margins in digits of the value labels (see analysis::trendMargins).
void applyTrendMargins(QChart* countChart, QChart* amountChart, const analysis::TrendMargins& margins);
int leftMargin(const QChart* chart); // in digits

// The distribution chart `Chart2`: one slice per period, marks with label and percentage, the
// first slice starting at 15 degrees; the series stays hidden until filled.
void setupDist(QChart* chart);
void fillDist(QChart* chart, const QString& title, const QStringList& labels, const QList<double>& sizes);

// The colour of bar k (0-based) of n: hues spread over the circle so neighbours differ.
QColor barColour(int k);

// Draws a widget (a chart view or a panel of them) at the given size into a PNG or an SVG
// file; false with error naming the file and the cause when it cannot be written whole, and
// then no partial file is left.
bool savePicture(QWidget* widget, const QSize& size, const QString& path, bool svg, QString* error);

} // namespace charts
