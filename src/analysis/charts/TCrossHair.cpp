#include "analysis/charts/TCrossHair.h"

#include "analysis/AnalysisSql.h"

#include <QAbstractSeries>
#include <QChart>
#include <QChartView>
#include <QGraphicsLineItem>
#include <QGraphicsSimpleTextItem>
#include <QGraphicsTextItem>
#include <QLabel>
#include <QMouseEvent>
#include <QPen>
#include <QValueAxis>
#include <functional>

namespace {
QGraphicsLineItem* overlayLine(QChart* chart)
{
    auto* line = new QGraphicsLineItem(chart);
    QPen pen(QColor(255, 255, 0), 1, Qt::SolidLine);
    pen.setCosmetic(true);
    line->setPen(pen);
    line->setZValue(1000);
    line->setVisible(false);
    return line;
}
} // namespace

TCrossHair::TCrossHair(QChartView* view, QAbstractSeries* series, QLabel* label, QObject* parent)
    : QObject(parent), m_view(view), m_chart(view->chart()), m_series(series), m_label(label),
      m_vertical(overlayLine(m_chart)), m_horizontal(overlayLine(m_chart)), m_linked(overlayLine(m_chart))
{
    m_label->setStyleSheet(QStringLiteral("background: yellow; color: black; padding: 0 2px;"));
    m_label->hide();
    m_view->setMouseTracking(true);
    m_view->viewport()->setMouseTracking(true);
    m_view->viewport()->installEventFilter(this);
    // A new layout moves the plot area: the drawn lines no longer fit it.
    connect(m_chart, &QChart::plotAreaChanged, this, [this]() {
        reset();
        hideLinkedLine();
    });
}

void TCrossHair::reset()
{
    m_vertical->setVisible(false);
    m_horizontal->setVisible(false);
    if (m_other)
        m_other->hideLinkedLine();
    m_x = -1;
}

void TCrossHair::hide()
{
    reset();
    m_label->hide();
}

bool TCrossHair::crossShown() const
{
    return m_vertical->isVisible();
}

bool TCrossHair::linkedLineShown() const
{
    return m_linked->isVisible();
}

QLineF TCrossHair::verticalLine() const
{
    return m_vertical->line();
}

QLineF TCrossHair::linkedLine() const
{
    return m_linked->line();
}

void TCrossHair::showLinkedLine(qreal viewX)
{
    const qreal x = m_chart->mapFromScene(m_view->mapToScene(QPoint(static_cast<int>(viewX), 0))).x();
    const QRectF plot = m_chart->plotArea();
    m_linked->setLine(x, plot.top(), x, plot.bottom());
    m_linked->setVisible(true);
}

void TCrossHair::hideLinkedLine()
{
    m_linked->setVisible(false);
}

QValueAxis* TCrossHair::valueAxis() const
{
    QValueAxis* axis = nullptr;
    if (m_series) {
        for (QAbstractAxis* a : m_series->attachedAxes()) {
            if (a->orientation() == Qt::Vertical)
                axis = qobject_cast<QValueAxis*>(a);
        }
    }
    return axis;
}

QString TCrossHair::axisReading(qreal value) const
{
    const QValueAxis* axis = valueAxis();
    const QString format = axis ? axis->labelFormat() : QString();
    if (format.isEmpty())
        return analysis::generalNumber(value);
    return QString::asprintf(format.toLatin1().constData(), value);
}

void TCrossHair::cacheChartItems()
{
    // The chart's own items are painted from pixmaps while only the overlay lines move. Texts
    // are left out: the axes change their labels' texts in place on the next run or resize,
    // which a label's cached picture did not follow (the labels went blank or stale).
    std::function<void(QGraphicsItem*)> cache = [&](QGraphicsItem* item) {
        for (QGraphicsItem* child : item->childItems()) {
            const bool text =
                child->type() == QGraphicsTextItem::Type || child->type() == QGraphicsSimpleTextItem::Type;
            if (child != m_vertical && child != m_horizontal && child != m_linked && !text)
                child->setCacheMode(QGraphicsItem::DeviceCoordinateCache);
            cache(child);
        }
    };
    cache(m_chart);
}

void TCrossHair::moveTo(const QPoint& pos)
{
    if (!m_active)
        return;
    if (m_x != -1)
        reset();
    // One cross at a time over a pair: the mouse has left the other chart.
    if (m_other && m_other->m_x != -1)
        m_other->hide();
    const QPointF at = m_chart->mapFromScene(m_view->mapToScene(pos));
    const QRectF plot = m_chart->plotArea();
    if (!plot.contains(at) || !m_series) {
        m_label->hide();
        return;
    }
    m_vertical->setLine(at.x(), plot.top(), at.x(), plot.bottom());
    m_horizontal->setLine(plot.left(), at.y(), plot.right(), at.y());
    m_vertical->setVisible(true);
    m_horizontal->setVisible(true);
    m_x = pos.x();
    if (m_other)
        m_other->showLinkedLine(pos.x());

    const QPointF value = m_chart->mapToValue(at, m_series);
    // Points stand at 0, 1, 2 ... on the category axis, one less than their number.
    const int index = analysis::pointIndex(value.x() + 1);
    // The reading at the mouse height comes from the value axis' range: a series without
    // points maps every pixel to 0.
    qreal reading = value.y();
    if (const QValueAxis* axis = valueAxis(); axis && plot.height() > 0)
        reading = axis->min() + (plot.bottom() - at.y()) / plot.height() * (axis->max() - axis->min());
    m_label->setText(axisReading(reading));
    m_label->adjustSize();
    m_label->move(2, pos.y());
    m_label->show();
    m_label->raise();
    if (index >= 0 && index < m_points)
        emit pointChosen(index);
}

bool TCrossHair::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::MouseMove)
        moveTo(static_cast<QMouseEvent*>(event)->position().toPoint());
    else if (event->type() == QEvent::Leave && m_active)
        hide();
    return QObject::eventFilter(watched, event);
}
