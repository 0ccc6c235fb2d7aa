#pragma once

#include <QObject>
#include <QPoint>
#include <QPointer>

class QAbstractSeries;
class QChart;
class QChartView;
class QGraphicsLineItem;
class QLabel;
class QValueAxis;

// The cross-hair read-out of one chart view: a thin yellow cross over the plot area that
// follows the mouse, the value-axis reading in a small label at the chart's left edge, and
// the index of the nearest point. The lines are overlay items moved on each mouse move, so
// the series are not rebuilt. A linked cross-hair shows a vertical line at the same x on its
// chart. UI thread only.
class TCrossHair : public QObject
{
    Q_OBJECT

public:
    // label: the read-out label (`info`, `label1`, `label2`), a child of the view.
    TCrossHair(QChartView* view, QAbstractSeries* series, QLabel* label, QObject* parent = nullptr);

    // The data flag: mouse moves do nothing while it is clear.
    void setActive(bool active) { m_active = active; }
    bool active() const { return m_active; }
    void setPointCount(int count) { m_points = count; }
    // The other chart of a pair (the trend view): moving over this one draws its vertical line.
    void link(TCrossHair* other) { m_other = other; }

    // Paints the chart's items from cached pixmaps while the cross moves.
    void cacheChartItems();
    // Nothing drawn: the state at creation, after a repaint and after a run.
    void reset();
    // What a mouse move at pos (view coordinates) does.
    void moveTo(const QPoint& pos);

    bool crossShown() const;
    bool linkedLineShown() const;
    // The stored x of the drawn cross in view pixels; -1 when none is drawn.
    int storedX() const { return m_x; }
    QLineF verticalLine() const;
    QLineF linkedLine() const;

signals:
    // The point nearest to the mouse, 0-based; only for 0 <= index < count.
    void pointChosen(int index);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void hide();
    void showLinkedLine(qreal sceneX);
    void hideLinkedLine();
    QValueAxis* valueAxis() const;
    QString axisReading(qreal value) const;

    QChartView* m_view;
    QChart* m_chart;
    QPointer<QAbstractSeries> m_series;
    QLabel* m_label;
    QGraphicsLineItem* m_vertical;
    QGraphicsLineItem* m_horizontal;
    QGraphicsLineItem* m_linked; // the line another chart's cross draws here
    TCrossHair* m_other = nullptr;
    bool m_active = false;
    int m_points = 0;
    int m_x = -1;
};
