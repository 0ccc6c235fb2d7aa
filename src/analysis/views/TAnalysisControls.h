#pragma once

#include "analysis/AnalysisRun.h"
#include "analysis/TAnalysisThread.h"

#include <QList>
#include <QObject>

class QComboBox;
class QDateEdit;
class QHBoxLayout;
class QProgressBar;
class QWidget;
class TViewContext;

// What the three analysis views do alike: the date fields and the rating choice of the top
// bar, the gauge, and a run on a thread of its own. While a run goes its buttons and chart
// panel are disabled and the gauge shows; a run that fails shows its error and leaves the
// gauge and the panel as they stood until a run goes through; a run that finds nothing says
// in the status text where the shop's ratings lie. UI thread only.
class TAnalysisControls : public QObject
{
    Q_OBJECT

public:
    // prefix names the inputs: "" gives beginDate, endDate and pj; "fx2_" gives fx2_beginDate...
    TAnalysisControls(TViewContext& context, const QString& prefix, QWidget* view);

    // "开始日期", "结束日期" and "评价" with their inputs.
    void addInputs(QHBoxLayout* bar);
    QProgressBar* gauge() const { return m_gauge; }
    // Disabled while a run goes; the buttons come back with every end, the panel only with a
    // run that went through.
    void setRunButtons(const QList<QWidget*>& buttons) { m_buttons = buttons; }
    void setChartPanel(QWidget* panel) { m_panel = panel; }

    // The current shop with the dates and the rating chosen.
    analysis::Range range() const;
    // False (and nothing starts) while a run is under way. A range without a shop is a run
    // over many shops.
    bool start(const analysis::Range& range, TAnalysisThread::Job job);
    bool running() const { return m_thread->busy(); }

signals:
    // A run went through (its rows may be none); failures are reported here already.
    void succeeded(const analysis::Result& result);
    void runFinished(bool ok);

private:
    void done(const analysis::Result& result);

    TViewContext& m_context;
    TAnalysisThread* m_thread;
    QDateEdit* m_beginDate;
    QDateEdit* m_endDate;
    QComboBox* m_pj;
    QProgressBar* m_gauge;
    QList<QWidget*> m_buttons;
    QWidget* m_panel = nullptr;
    bool m_noteShown = false; // the status text is this view's "nothing in range"
};
