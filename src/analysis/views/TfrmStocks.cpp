#include "analysis/views/TfrmStocks.h"

#include "analysis/TResultModel.h"
#include "analysis/charts/AnalysisCharts.h"
#include "analysis/charts/AnalysisWidgets.h"
#include "analysis/charts/TCrossHair.h"
#include "analysis/charts/TShopPanel.h"
#include "analysis/views/TAnalysisControls.h"
#include "store/TDM.h"
#include "text/Formats.h"
#include "ui/TViewContext.h"

#include <QChart>
#include <QChartView>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QSplitter>
#include <QTableView>
#include <QVBoxLayout>

namespace {

QChartView* chartView(const char* name, QChart* chart, QWidget* parent)
{
    auto* view = new QChartView(chart, parent);
    view->setObjectName(QLatin1String(name));
    view->setRenderHint(QPainter::Antialiasing);
    view->setMinimumHeight(150);
    return view;
}

} // namespace

TfrmStocks::TfrmStocks(TViewContext& context, QWidget* parent)
    : TView(parent), m_context(context),
      m_controls(new TAnalysisControls(context, QStringLiteral("fx3_"), this))
{
    setObjectName(QStringLiteral("frmStocks"));
    setWindowTitle(QStringLiteral("走势"));
    TDM& dm = context.dm();

    auto* top = new QHBoxLayout;
    m_time = analysisui::choiceList("fx3_time", analysis::trendPeriodChoices(), this);
    m_runButton = new QPushButton(QStringLiteral("统计"), this);
    m_runButton->setObjectName(QStringLiteral("bsSkinButton2"));
    m_firstInfo = analysisui::namedLabel("firstInfo", QString(), this);
    m_secondInfo = analysisui::namedLabel("secondInfo", QString(), this);
    m_dateInfo = analysisui::namedLabel("dateInfo", QString(), this);
    m_controls->setRunButtons({m_runButton});
    m_controls->addInputs(top);
    analysisui::addLabelled(top, QStringLiteral("周期"), m_time);
    top->addWidget(m_runButton);
    top->addSpacing(16);
    analysisui::addLabelled(top, QStringLiteral("销售量："), m_firstInfo);
    analysisui::addLabelled(top, QStringLiteral("销售额："), m_secondInfo);
    analysisui::addLabelled(top, QStringLiteral("周期："), m_dateInfo);
    top->addStretch();
    top->addWidget(m_controls->gauge());

    m_chartPanel = new QWidget(this);
    m_chartPanel->setObjectName(QStringLiteral("chartPanel"));
    m_countChart = new QChart;
    m_amountChart = new QChart;
    charts::setupTrend(m_countChart, m_amountChart);
    m_countView = chartView("Chart3", m_countChart, m_chartPanel);
    m_amountView = chartView("Chart4", m_amountChart, m_chartPanel);
    auto* panelLayout = new QVBoxLayout(m_chartPanel);
    panelLayout->setContentsMargins(0, 0, 0, 0);
    panelLayout->setSpacing(0);
    panelLayout->addWidget(m_countView);
    panelLayout->addWidget(m_amountView);
    m_countCross = new TCrossHair(m_countView, m_countChart->series().value(0),
                                  analysisui::namedLabel("label1", QString(), m_countView), this);
    m_amountCross = new TCrossHair(m_amountView, m_amountChart->series().value(0),
                                   analysisui::namedLabel("label2", QString(), m_amountView), this);
    m_countCross->link(m_amountCross);
    m_amountCross->link(m_countCross);
    connect(m_countCross, &TCrossHair::pointChosen, this, &TfrmStocks::showPoint);
    connect(m_amountCross, &TCrossHair::pointChosen, this, &TfrmStocks::showPoint);

    auto* table = analysisui::resultTable("fx3Grid", this);
    table->setModel(new TResultModel(dm.pj_fx3,
                                     {{QStringLiteral("time1"), QStringLiteral("时间")},
                                      {QStringLiteral("num"), QStringLiteral("销售数量")},
                                      {QStringLiteral("totalAmount"), QStringLiteral("销售额")}},
                                     table));

    m_shop = new TShopPanel(dm.tb_dianbase,
                            {{QStringLiteral("掌柜名"), QStringLiteral("dianzhu")},
                             {QStringLiteral("地点"), QStringLiteral("addr")},
                             {QStringLiteral("买家级别"), QStringLiteral("buylevel")},
                             {QStringLiteral("网址"), QStringLiteral("webaddr")},
                             {QStringLiteral("创店时间"), QStringLiteral("createDate")},
                             {QStringLiteral("卖家级别"), QStringLiteral("salelevel")},
                             {QStringLiteral("店名"), QStringLiteral("dianming")},
                             {QStringLiteral("买家信用"), QStringLiteral("buyerCredit")},
                             {QStringLiteral("主营"), QStringLiteral("loc")},
                             {QStringLiteral("卖家信用"), QStringLiteral("salerCredit")}},
                            this);

    QSplitter* split = analysisui::chartOverShopAndTable(m_chartPanel, m_shop, table, this);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(split, 1);

    connect(m_runButton, &QPushButton::clicked, this, &TfrmStocks::bsSkinButton2Click);
    m_controls->setChartPanel(m_chartPanel);
    connect(m_controls, &TAnalysisControls::succeeded, this, &TfrmStocks::runDone);
    connect(m_controls, &TAnalysisControls::runFinished, this, &TfrmStocks::runFinished);
}

TfrmStocks::~TfrmStocks() = default;

bool TfrmStocks::running() const
{
    return m_controls->running();
}

void TfrmStocks::bsSkinButton2Click()
{
    const analysis::Range range = m_controls->range();
    const auto period = static_cast<analysis::TrendPeriod>(std::max(0, m_time->currentIndex()));
    if (!m_controls->start(range,
                           [range, period](TConnection& connection, const analysis::Progress& progress) {
                               return analysis::runTrend(connection, range, period, progress);
                           }))
        return;
    m_period = period;
    charts::fillTrend(m_countChart, m_amountChart, {}, {}, {});
    m_countCross->setPointCount(0);
    m_amountCross->setPointCount(0);
    m_context.dm().pj_fx3->SetSQL(QString());
}

void TfrmStocks::runDone(const analysis::Result& result)
{
    TDM& dm = m_context.dm();
    dm.pj_fx3->SetSQL(result.sql);
    dm.pj_fx3->SetSnapshot(result.columns, result.rows);
    if (!result.complete)
        return;
    m_last = result;
    charts::applyTrendMargins(m_countChart, m_amountChart,
                              analysis::trendMargins(result.amountPeak, result.countPeak));
    charts::fillTrend(m_countChart, m_amountChart, result.labels, result.counts, result.values);
    for (TCrossHair* cross : {m_countCross, m_amountCross}) {
        cross->reset();
        cross->cacheChartItems();
        cross->setPointCount(result.rowCount());
        cross->setActive(true);
    }
    m_hasData = true;
}

void TfrmStocks::showPoint(int index)
{
    if (index < 0 || index >= m_last.rowCount())
        return;
    m_firstInfo->setText(analysis::generalNumber(m_last.counts[index]));
    m_secondInfo->setText(analysis::generalNumber(m_last.values[index]));
    m_dateInfo->setText(m_last.labels.value(index));
}
