#pragma once

#include "analysis/AnalysisRun.h"

#include <QDate>
#include <QSize>
#include <QStringList>
#include <functional>
#include <optional>

class QChart;
class QChartView;
class QWidget;

// What the analyze commands share: their failure line, the range and picture options, the
// ranking's options, the rows as JSON lines and the saved pictures.
namespace analyzecli {

// Prints "kestrova-cli analyze: text" on standard error and returns status.
int fail(const QString& text, int status = 2);

struct Common
{
    QDate begin = QDate(QDate::currentDate().year(), 1, 1);
    QDate end = QDate::currentDate();
    QString png;
    QString svg;
};

// Reads the options after the analysis name: --from, --to, --png and --svg into c, the rest
// handed to other, which answers false for an option it does not know or a bad value (with
// problem set for the latter). False with problem.
bool parse(const QStringList& args, Common& c,
           const std::function<bool(const QString& opt, const QString& value)>& other, QString& problem);
// False with problem when c's range ends before it begins.
bool rangeOk(const Common& c, QString& problem);

// --top, --by and --pj of a ranking; nullopt for another option, else whether value is good.
std::optional<bool> rankOption(const QString& opt, const QString& value, analysis::RankRequest& rank);

// Each result row as one JSON object with its columns and its chart label.
void printRows(const analysis::Result& result);

// A chart's view as the pictures draw it, in parent.
QChartView* chartView(QChart* chart, QWidget* parent);

// Draws panel (made off screen) into c's PNG and SVG files; the exit status.
int savePictures(QWidget* panel, QSize size, const Common& c);

} // namespace analyzecli

// "analyze compare" and "analyze market": analyses across shops, with the arguments after the
// analysis name; each returns the exit status.
int runAnalyzeCompare(const QStringList& args);
int runAnalyzeMarket(const QStringList& args);
