#pragma once

#include "ui/TView.h"

#include <QList>
#include <QStringList>

class QChart;
class QChartView;
class QComboBox;
class QDateEdit;
class QLabel;
class QListWidget;
class QProgressBar;
class QPushButton;
class QTableWidget;
class TAnalysisThread;
class TViewContext;
namespace analysis {
struct Result;
}

// Shops side by side ("对比"): 2 to 8 shops ticked in the view's list, one line each in its
// own colour over the periods of the range (sales count or amount by the trend's rules, new
// bad ratings, or the seller credit the shops' history knew), the table of periods by shops,
// and a read-out of every shop's value at the period under the mouse. The run goes off the UI
// thread with the gauge. UI thread only.
class TfrmCompare : public TView
{
    Q_OBJECT

public:
    static constexpr int kMinShops = 2;
    static constexpr int kMaxShops = 8;

    explicit TfrmCompare(TViewContext& context, QWidget* parent = nullptr);

    // "对比": starts a run for the ticked shops; ignored while one is under way.
    void compareRunClick();
    // Reads the shops the browser lists into the list, keeping the ticks of those still there.
    void reloadShops();
    bool running() const;
    QChartView* chartView() const { return m_view; }
    // The read-out for the period at index, as the mouse shows it.
    void showPeriod(int index);

signals:
    void runFinished(bool ok);

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void runDone(const analysis::Result& result);

    TViewContext& m_context;
    TAnalysisThread* m_thread;
    QListWidget* m_shops;
    QComboBox* m_measure;
    QComboBox* m_period;
    QDateEdit* m_beginDate;
    QDateEdit* m_endDate;
    QPushButton* m_run;
    QProgressBar* m_gauge;
    QLabel* m_info;
    QChart* m_chart;
    QChartView* m_view;
    QTableWidget* m_grid;
    QList<qlonglong> m_runShops; // the shops of the shown run, in column order
    QStringList m_runNames;
    QStringList m_periods;
};
