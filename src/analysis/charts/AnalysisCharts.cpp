#include "analysis/charts/AnalysisCharts.h"

#include <QBarCategoryAxis>
#include <QBarSeries>
#include <QBarSet>
#include <QBuffer>
#include <QChart>
#include <QFile>
#include <QFileInfo>
#include <QFontMetrics>
#include <QImage>
#include <QLayout>
#include <QLineSeries>
#include <QPainter>
#include <QPieSeries>
#include <QPieSlice>
#include <QStackedBarSeries>
#include <QSvgGenerator>
#include <QValueAxis>
#include <QWidget>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace charts {
namespace {

const char kMarginProperty[] = "kestrovaLeftMargin";
// Colours of the ranking's bars before they repeat: the largest top N.
constexpr int kColourSets = 50;

QValueAxis* valueAxis(QChart* chart)
{
    const auto axes = chart->axes(Qt::Vertical);
    return axes.isEmpty() ? nullptr : qobject_cast<QValueAxis*>(axes.first());
}

QBarCategoryAxis* categoryAxis(QChart* chart)
{
    const auto axes = chart->axes(Qt::Horizontal);
    return axes.isEmpty() ? nullptr : qobject_cast<QBarCategoryAxis*>(axes.first());
}

// Values from 0 to the data's top, on round numbers. The nice numbers start from the default
// ticks, not from those a small run before left.
void fitValues(QValueAxis* axis, double top)
{
    axis->setTickCount(5);
    axis->setRange(0, top > 0 ? top : 1);
    axis->applyNiceNumbers();
    axis->setMin(0);
}

void setupAxes(QChart* chart, QAbstractSeries* series, Qt::Alignment categories)
{
    auto* x = new QBarCategoryAxis(chart);
    auto* y = new QValueAxis(chart);
    y->setLabelFormat(QStringLiteral("%g"));
    fitValues(y, 1);
    chart->addAxis(x, categories);
    chart->addAxis(y, Qt::AlignLeft);
    series->attachAxis(x);
    series->attachAxis(y);
}

void setCategories(QChart* chart, const QStringList& labels)
{
    QBarCategoryAxis* axis = categoryAxis(chart);
    // Side by side, a dozen dates or more are cut down to "..."; upright and whole they stay
    // readable (a crowded axis overlaps rather than showing nothing). Set before the labels
    // come, so that hundreds of them are laid out once, not again for each setting.
    const bool upright = labels.size() > 12;
    axis->setLabelsAngle(upright ? -90 : 0);
    axis->setTruncateLabels(!upright);
    // Labels are unique per chart (ranks, periods); equal texts would merge categories.
    if (labels.isEmpty()) {
        // Neither clear() nor setCategories() of nothing takes the drawn labels away; a
        // category put in and taken out again makes the axis lay out its (no) labels.
        axis->clear();
        axis->append(QStringLiteral(" "));
        axis->remove(QStringLiteral(" "));
    } else if (axis->categories() != labels)
        axis->setCategories(labels);
}

double maxOf(const QList<double>& values)
{
    return values.isEmpty() ? 0 : *std::max_element(values.begin(), values.end());
}

int digitWidth(const QChart* chart)
{
    const auto axes = chart->axes(Qt::Vertical);
    const QFont font = axes.isEmpty() ? QFont() : axes.first()->labelsFont();
    return QFontMetrics(font).horizontalAdvance(u'0');
}

} // namespace

QColor barColour(int k)
{
    // Golden-angle steps give every bar of fifty a hue of its own, neighbours far apart.
    return QColor::fromHsv((k * 137) % 360, 190, 230);
}

void setupRank(QChart* chart)
{
    chart->legend()->hide();
    chart->setTitle(QStringLiteral("商品销售排名"));
    auto* series = new QStackedBarSeries(chart);
    series->setObjectName(QStringLiteral("saleBar"));
    series->setBarWidth(0.8);
    chart->addSeries(series);
    setupAxes(chart, series, Qt::AlignBottom);
}

void fillRank(QChart* chart, const QString& title, const QStringList& labels, const QList<double>& heights)
{
    auto* series = qobject_cast<QStackedBarSeries*>(chart->series().value(0));
    series->clear();
    chart->setTitle(title);
    setCategories(chart, labels);
    // One set per colour, zero at every rank of another colour: each bar gets the full width
    // and a colour of its own, which a single set cannot give. The colours repeat after the
    // largest top N, so rows tied beyond it (thousands, in a shop of one price) cost a bounded
    // number of sets instead of one per bar, whose zeros grow with the square of the bars.
    const int n = static_cast<int>(heights.size());
    const int colours = std::min(n, kColourSets);
    QList<QBarSet*> sets;
    for (int c = 0; c < colours; ++c) {
        auto* set = new QBarSet(labels.value(c));
        QList<qreal> values(n, 0.0);
        for (int k = c; k < n; k += colours)
            values[k] = heights[k];
        set->append(values);
        set->setColor(barColour(c));
        set->setBorderColor(barColour(c).darker(130));
        sets << set;
    }
    series->append(sets);
    fitValues(valueAxis(chart), maxOf(heights));
}

int rankBarCount(const QChart* chart)
{
    auto* series = qobject_cast<QStackedBarSeries*>(chart->series().value(0));
    return series && series->count() > 0 ? static_cast<int>(series->barSets().first()->count()) : 0;
}

void setupTrend(QChart* countChart, QChart* amountChart)
{
    for (QChart* chart : {countChart, amountChart}) {
        chart->legend()->hide();
        chart->setTitle(QString());
        chart->setProperty(kMarginProperty, 1);
    }
    auto* line = new QLineSeries(countChart);
    line->setObjectName(QStringLiteral("lineSeries1"));
    line->setColor(Qt::green);
    line->setPointsVisible(true);
    line->setMarkerSize(4);
    countChart->addSeries(line);
    setupAxes(countChart, line, Qt::AlignTop);

    auto* bars = new QBarSeries(amountChart);
    bars->setObjectName(QStringLiteral("barSeries1"));
    bars->setBarWidth(0.6);
    amountChart->addSeries(bars);
    setupAxes(amountChart, bars, Qt::AlignBottom);
    applyTrendMargins(countChart, amountChart, {});
}

void fillTrend(QChart* countChart, QChart* amountChart, const QStringList& labels,
               const QList<double>& counts, const QList<double>& amounts)
{
    auto* line = qobject_cast<QLineSeries*>(countChart->series().value(0));
    auto* bars = qobject_cast<QBarSeries*>(amountChart->series().value(0));
    line->clear();
    bars->clear();
    // The value axes first, while no point, bar or label stands against them: every change of
    // their range lays out whatever the chart holds, which with a year of days was most of
    // the fill (and of emptying the charts when a run starts).
    for (QChart* chart : {countChart, amountChart}) {
        QBarCategoryAxis* axis = categoryAxis(chart);
        if (axis->categories() != labels)
            axis->clear();
    }
    QValueAxis* countAxis = valueAxis(countChart);
    fitValues(countAxis, maxOf(counts));
    // Counts are whole numbers: a small peak gets one tick per unit, not 0.2 steps.
    if (countAxis->max() < 5)
        countAxis->setTickCount(static_cast<int>(countAxis->max()) + 1);
    QValueAxis* amountAxis = valueAxis(amountChart);
    fitValues(amountAxis, maxOf(amounts));
    // Amount labels stand at least 20 apart in value.
    const int steps = static_cast<int>(amountAxis->max() / 20);
    amountAxis->setTickCount(std::clamp(steps + 1, 2, 5));
    setCategories(countChart, labels);
    setCategories(amountChart, labels);
    // Each series filled in one call.
    QList<QPointF> points;
    points.reserve(counts.size());
    for (int i = 0; i < counts.size(); ++i)
        points << QPointF(i, counts[i]);
    line->replace(points);
    if (!amounts.isEmpty()) {
        auto* set = new QBarSet(QStringLiteral("totalAmount"));
        set->append(amounts);
        set->setColor(Qt::red);
        set->setBorderColor(Qt::red);
        bars->append(set);
    }
}

void applyTrendMargins(QChart* countChart, QChart* amountChart, const analysis::TrendMargins& margins)
{
    const std::pair<QChart*, int> pairs[] = {{countChart, margins.countChart},
                                             {amountChart, margins.amountChart}};
    for (const auto& [chart, digits] : pairs) {
        chart->setProperty(kMarginProperty, digits);
        QMargins m = chart->margins();
        m.setLeft(std::max(0, digits) * digitWidth(chart));
        chart->setMargins(m);
    }
}

int leftMargin(const QChart* chart)
{
    return chart->property(kMarginProperty).toInt();
}

void setupDist(QChart* chart)
{
    chart->setTitle(QStringLiteral("时间周期分布"));
    chart->legend()->hide();
    auto* pie = new QPieSeries(chart);
    pie->setObjectName(QStringLiteral("bar1"));
    pie->setPieStartAngle(15);
    pie->setPieEndAngle(15 + 360);
    pie->setPieSize(0.6);
    pie->setVisible(false);
    chart->addSeries(pie);
}

void fillDist(QChart* chart, const QString& title, const QStringList& labels, const QList<double>& sizes)
{
    auto* pie = qobject_cast<QPieSeries*>(chart->series().value(0));
    pie->clear();
    pie->setVisible(true);
    chart->setTitle(title);
    double total = 0;
    for (double v : sizes)
        total += v;
    QList<QPieSlice*> slices;
    for (int b = 0; b < sizes.size(); ++b) {
        // A slice of size 0 or less cannot be drawn; its mark still tells its share.
        auto* slice =
            new QPieSlice(analysis::sliceMark(labels.value(b), sizes[b], total), std::max(0.0, sizes[b]));
        slice->setColor(barColour(b));
        slice->setLabelVisible(true);
        slices << slice;
    }
    pie->append(slices);
}

namespace {

// Every byte or false with errno set. Qt's file classes report a write that stops partway
// (a full disk, a file size limit) as a short count without a cause, so the picture is
// written with the system calls themselves.
bool writeAll(int fd, const QByteArray& bytes)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, static_cast<size_t>(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = EIO;
            return false;
        }
        done += n;
    }
    return true;
}

// Writes the whole picture or nothing: a regular file goes through a temporary file beside it
// that replaces it only when every byte is written, so a full disk leaves the old file (or no
// file) rather than a cut one. A device or a pipe is written straight.
bool writeWhole(const QString& path, const QByteArray& bytes, QString* error)
{
    auto failed = [&](int cause) {
        if (error)
            *error =
                QStringLiteral("cannot write %1: %2").arg(path, QString::fromLocal8Bit(std::strerror(cause)));
        return false;
    };
    const QFileInfo info(path);
    if (info.isDir())
        return failed(EISDIR);
    if (info.exists() && !info.isFile()) {
        const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CLOEXEC);
        if (fd < 0)
            return failed(errno);
        const bool written = writeAll(fd, bytes);
        const int cause = errno;
        if (::close(fd) != 0 && written)
            return failed(errno);
        return written || failed(cause);
    }
    QByteArray temp = QFile::encodeName(info.absolutePath() + QStringLiteral("/.") + info.fileName() +
                                        QStringLiteral(".XXXXXX"));
    const int fd = ::mkstemp(temp.data());
    if (fd < 0)
        return failed(errno);
    // The old file's permissions, or those of a new file under the umask (mkstemp gives 0600).
    mode_t mode = 0;
    if (info.exists()) {
        struct stat st
        {
        };
        mode = ::stat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_mode & 07777 : 0644;
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        mode = 0666 & ~mask;
    }
    ::fchmod(fd, mode);
    bool written = writeAll(fd, bytes);
    int cause = errno;
    if (::close(fd) != 0 && written) {
        written = false;
        cause = errno;
    }
    if (written && ::rename(temp.constData(), QFile::encodeName(path).constData()) != 0) {
        written = false;
        cause = errno;
    }
    if (!written) {
        ::unlink(temp.constData());
        return failed(cause);
    }
    return true;
}

} // namespace

bool savePicture(QWidget* widget, const QSize& size, const QString& path, bool svg, QString* error)
{
    widget->resize(size);
    if (widget->layout())
        widget->layout()->activate();
    // Drawn in memory first: the painters report no write errors of their own.
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    if (svg) {
        QSvgGenerator generator;
        generator.setOutputDevice(&buffer);
        generator.setSize(size);
        generator.setViewBox(QRect(QPoint(0, 0), size));
        generator.setTitle(widget->windowTitle());
        QPainter painter;
        if (!painter.begin(&generator)) {
            if (error)
                *error = QStringLiteral("cannot draw the picture for %1").arg(path);
            return false;
        }
        widget->render(&painter);
        painter.end();
    } else {
        QImage image(size, QImage::Format_ARGB32);
        image.fill(Qt::white);
        {
            QPainter painter(&image);
            widget->render(&painter);
        }
        if (!image.save(&buffer, "PNG")) {
            if (error)
                *error = QStringLiteral("cannot encode the picture for %1").arg(path);
            return false;
        }
    }
    buffer.close();
    return writeWhole(path, buffer.data(), error);
}

} // namespace charts
