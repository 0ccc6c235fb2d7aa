#pragma once

#include "analysis/AnalysisRun.h"
#include "ui/TView.h"

#include <QSet>

class QChart;
class QChartView;
class QComboBox;
class QLabel;
class QPushButton;
class QSpinBox;
class QTableView;
class TAnalysisControls;
class TAnalysisThread;
class TCrossHair;
class TTable;
class TViewContext;

// The product sales ranking ("商品销售排名"): the top N items of the current shop by count or by
// amount as coloured bars, the current ranked item's figures with a navigator, its stored
// ratings, and the list window. The statement runs on a thread of its own; its rows become the
// data module's pj_fx1. UI thread only.
class TfrmSaleNum : public TView
{
    Q_OBJECT

public:
    explicit TfrmSaleNum(TViewContext& context, QWidget* parent = nullptr);

    // "销售量统计" and "销售额统计": start a run; ignored while one is under way.
    void bsSkinButton1Click();
    void bsSkinButton3Click();
    // "...": a new list window of the ranking, modal, freed when closed.
    void bsSkinButton2Click();

    bool running() const;
    bool hasData() const { return m_hasData; }
    QChartView* chartView() const { return m_chartView; }
    TCrossHair* crossHair() const { return m_crossHair; }

signals:
    // A run ended: its rows are shown, or its error was reported.
    void runFinished(bool ok);
    // The ranked items' ratings were read for the detail grid (or it queries for itself).
    void detailRead();

private:
    void run(bool byAmount);
    void runDone(const analysis::Result& result);
    void showCurrent();
    void showPoint(int index);
    void startDetail();
    void detailDone(const analysis::Result& result);

    TViewContext& m_context;
    TAnalysisControls* m_controls;
    // Reads the ranked items' ratings for the detail grid, so moving through the ranking
    // does not scan the shop on the UI thread.
    TAnalysisThread* m_detailThread;
    // The detail grid's rows: the ratings of the ranked item under pj_fx1's current row, taken
    // from m_detailIds where they cover it.
    TTable* m_detailRows;
    struct DetailIds
    {
        qlonglong shop = 0;
        QSet<QString> items;
        bool ready = false;
        QHash<QString, std::vector<qlonglong>> ids;
    } m_detailIds;
    int m_detailWanted = 0;  // the run whose ids the grid needs
    int m_detailReading = 0; // the run whose ids are being read
    qlonglong m_runShop = 0;
    bool m_byAmount = false;
    bool m_hasData = false;
    analysis::Result m_last;

    QSpinBox* m_num;
    QComboBox* m_kh;
    QComboBox* m_scope; // the current shop, or every shop the browser lists
    QPushButton* m_countButton;
    QPushButton* m_amountButton;
    QLabel* m_ff;
    QLabel* m_firstInfo;
    QLabel* m_dateInfo;
    QChart* m_chart;
    QChartView* m_chartView;
    QLabel* m_info;
    TCrossHair* m_crossHair;
    QLabel* m_fx1Record;
    QLabel* m_recNum;
    QLabel* m_recJg;
    QLabel* m_recAmount;
    QLabel* m_recTitle;
    QTableView* m_detail;
};
