#include "analysis/views/TfrmStocks.h"

#include "analysis/TAnalysisThread.h"
#include "analysis/TResultModel.h"
#include "analysis/charts/AnalysisCharts.h"
#include "analysis/charts/AnalysisWidgets.h"
#include "analysis/charts/TCrossHair.h"
#include "analysis/charts/TShopPanel.h"
#include "store/TDM.h"
#include "text/Formats.h"
#include "ui/TPrompt.h"
#include "ui/TViewContext.h"

#include <QChart>
#include <QChartView>
#include <QComboBox>
#include <QDateEdit>
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
    : TView(parent), m_context(context), m_thread(new TAnalysisThread(context.dm().adoCn.path(), this))
{
    setObjectName(QStringLiteral("frmStocks"));
    setWindowTitle(QStringLiteral("走势"));
    TDM& dm = context.dm();

    auto* top = new QHBoxLayout;
    const QDate today = QDate::currentDate();
    m_beginDate = analysisui::dateEdit("fx3_beginDate", QDate(today.year(), 1, 1), this);
    m_endDate = analysisui::dateEdit("fx3_endDate", today, this);
    m_pj = analysisui::choiceList("fx3_pj", analysis::ratingChoices(), this);
    m_time = analysisui::choiceList("fx3_time", analysis::trendPeriodChoices(), this);
    m_runButton = new QPushButton(QStringLiteral("统计"), this);
    m_runButton->setObjectName(QStringLiteral("bsSkinButton2"));
    m_firstInfo = analysisui::namedLabel("firstInfo", QString(), this);
    m_secondInfo = analysisui::namedLabel("secondInfo", QString(), this);
    m_dateInfo = analysisui::namedLabel("dateInfo", QString(), this);
    m_gauge = analysisui::runGauge(this);
    analysisui::addLabelled(top, QStringLiteral("开始日期"), m_beginDate);
    analysisui::addLabelled(top, QStringLiteral("结束日期"), m_endDate);
    analysisui::addLabelled(top, QStringLiteral("评价"), m_pj);
    analysisui::addLabelled(top, QStringLiteral("周期"), m_time);
    top->addWidget(m_runButton);
    top->addSpacing(16);
    analysisui::addLabelled(top, QStringLiteral("销售量："), m_firstInfo);
    analysisui::addLabelled(top, QStringLiteral("销售额："), m_secondInfo);
    analysisui::addLabelled(top, QStringLiteral("周期："), m_dateInfo);
    top->addStretch();
    top->addWidget(m_gauge);

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
    connect(m_thread, &TAnalysisThread::progress, m_gauge, &QProgressBar::setValue);
    connect(m_thread, &TAnalysisThread::finished, this, &TfrmStocks::runDone);
}

TfrmStocks::~TfrmStocks() = default;

bool TfrmStocks::running() const
{
    return m_thread->busy();
}

void TfrmStocks::bsSkinButton2Click()
{
    if (m_thread->busy())
        return;
    const analysis::Range range =
        analysisui::currentRange(m_context.dm().tb_dianbase, m_beginDate, m_endDate, m_pj);
    const auto period = static_cast<analysis::TrendPeriod>(std::max(0, m_time->currentIndex()));
    if (!m_thread->start([range, period](TConnection& connection, const analysis::Progress& progress) {
            return analysis::runTrend(connection, range, period, progress);
        }))
        return;
    m_period = period;
    charts::fillTrend(m_countChart, m_amountChart, {}, {}, {});
    m_countCross->setPointCount(0);
    m_amountCross->setPointCount(0);
    m_context.dm().pj_fx3->SetSQL(QString());
    m_chartPanel->setEnabled(false);
    m_runButton->setEnabled(false);
    m_gauge->setValue(0);
    m_gauge->show();
}

void TfrmStocks::runDone(const analysis::Result& result)
{
    TDM& dm = m_context.dm();
    m_runButton->setEnabled(true);
    // Enabled again whatever the outcome: a run that found nothing or failed must not leave
    // the charts dead for the next one.
    m_chartPanel->setEnabled(true);
    m_gauge->hide();
    m_gauge->setValue(0);
    if (!result.ok()) {
        TPrompt::instance().error(m_context.dialogParent(), result.error);
        emit runFinished(false);
        return;
    }
    dm.pj_fx3->SetSQL(result.sql);
    dm.pj_fx3->SetSnapshot(result.columns, result.rows);
    if (!result.complete) {
        emit runFinished(true);
        return;
    }
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
    emit runFinished(true);
}

void TfrmStocks::showPoint(int index)
{
    if (index < 0 || index >= m_last.rowCount())
        return;
    m_firstInfo->setText(analysis::generalNumber(m_last.counts[index]));
    m_secondInfo->setText(analysis::generalNumber(m_last.values[index]));
    m_dateInfo->setText(m_last.labels.value(index));
}
