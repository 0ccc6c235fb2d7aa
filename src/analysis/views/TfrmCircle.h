#pragma once

#include "analysis/AnalysisRun.h"
#include "ui/TView.h"

class QChart;
class QChartView;
class QComboBox;
class QPushButton;
class TAnalysisControls;
class TShopPanel;
class TViewContext;

// The time distribution ("分布"): the current shop's amount over the hours of the day, the
// year-months or the quarters as a pie, with the period table and the shop's profile. The
// statement runs on a thread of its own; its rows become the data module's pj_fx2. UI thread
// only.
class TfrmCircle : public TView
{
    Q_OBJECT

public:
    explicit TfrmCircle(TViewContext& context, QWidget* parent = nullptr);
    ~TfrmCircle() override;

    // "统计": starts a run; ignored while one is under way.
    void bsSkinButton4Click();

    bool running() const;
    QChartView* chartView() const { return m_view; }

signals:
    void runFinished(bool ok);

private:
    void runDone(const analysis::Result& result);

    TViewContext& m_context;
    TAnalysisControls* m_controls;
    analysis::DistPeriod m_period = analysis::DistPeriod::Hour;

    QComboBox* m_type;
    QPushButton* m_runButton;
    QChart* m_chart;
    QChartView* m_view;
    TShopPanel* m_shop;
};
