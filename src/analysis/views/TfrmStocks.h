#pragma once

#include "analysis/AnalysisRun.h"
#include "ui/TView.h"

class QChart;
class QChartView;
class QComboBox;
class QLabel;
class QPushButton;
class QWidget;
class TAnalysisControls;
class TCrossHair;
class TShopPanel;
class TViewContext;

// The sales trend ("走势"): counts per period as a line over amounts per period as bars, two
// charts with one horizontal scale and linked cross-hairs, the period table and the current
// shop's profile. The three statements of a run go to a thread of their own; the series rows
// become the data module's pj_fx3. UI thread only.
class TfrmStocks : public TView
{
    Q_OBJECT

public:
    explicit TfrmStocks(TViewContext& context, QWidget* parent = nullptr);
    ~TfrmStocks() override;

    // "统计": starts a run; ignored while one is under way.
    void bsSkinButton2Click();

    bool running() const;
    bool hasData() const { return m_hasData; }
    QChartView* countView() const { return m_countView; }
    QChartView* amountView() const { return m_amountView; }
    TCrossHair* countCross() const { return m_countCross; }
    TCrossHair* amountCross() const { return m_amountCross; }

signals:
    void runFinished(bool ok);

private:
    void runDone(const analysis::Result& result);
    void showPoint(int index);

    TViewContext& m_context;
    TAnalysisControls* m_controls;
    bool m_hasData = false;
    analysis::Result m_last;

    QComboBox* m_time;
    QPushButton* m_runButton;
    QLabel* m_firstInfo;
    QLabel* m_secondInfo;
    QLabel* m_dateInfo;
    QWidget* m_chartPanel;
    QChart* m_countChart;
    QChart* m_amountChart;
    QChartView* m_countView;
    QChartView* m_amountView;
    TCrossHair* m_countCross;
    TCrossHair* m_amountCross;
    TShopPanel* m_shop;
    analysis::TrendPeriod m_period = analysis::TrendPeriod::Day;
};
