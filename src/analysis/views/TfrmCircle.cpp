#include "analysis/views/TfrmCircle.h"

#include "analysis/TResultModel.h"
#include "analysis/charts/AnalysisCharts.h"
#include "analysis/charts/AnalysisWidgets.h"
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

TfrmCircle::TfrmCircle(TViewContext& context, QWidget* parent)
    : TView(parent), m_context(context),
      m_controls(new TAnalysisControls(context, QStringLiteral("fx2_"), this))
{
    setObjectName(QStringLiteral("frmCircle"));
    setWindowTitle(QStringLiteral("分布"));
    TDM& dm = context.dm();

    auto* top = new QHBoxLayout;
    m_type = analysisui::choiceList("circleType", analysis::distPeriodChoices(), this);
    m_runButton = new QPushButton(QStringLiteral("统计"), this);
    m_runButton->setObjectName(QStringLiteral("bsSkinButton4"));
    m_controls->setRunButtons({m_runButton});
    m_controls->addInputs(top);
    analysisui::addLabelled(top, QStringLiteral("周期"), m_type);
    top->addWidget(m_runButton);
    top->addStretch();
    top->addWidget(m_controls->gauge());

    m_chart = new QChart;
    charts::setupDist(m_chart);
    m_view = new QChartView(m_chart, this);
    m_view->setObjectName(QStringLiteral("Chart2"));
    m_view->setRenderHint(QPainter::Antialiasing);
    m_view->setMinimumHeight(240);

    auto* table = analysisui::resultTable("fx2Grid", this);
    table->setModel(new TResultModel(dm.pj_fx2,
                                     {{QStringLiteral("totalAmount"), QStringLiteral("销售额")},
                                      {QStringLiteral("num"), QStringLiteral("销售量")},
                                      {QStringLiteral("time1"), QStringLiteral("周期")}},
                                     table));

    m_shop = new TShopPanel(dm.tb_dianbase,
                            {{QStringLiteral("掌柜名"), QStringLiteral("dianzhu")},
                             {QStringLiteral("地点"), QStringLiteral("addr")},
                             {QStringLiteral("网址"), QStringLiteral("webaddr")},
                             {QStringLiteral("创店时间"), QStringLiteral("createDate")},
                             {QStringLiteral("店名"), QStringLiteral("dianming")},
                             {QStringLiteral("主营"), QStringLiteral("loc")},
                             {QStringLiteral("买家级别"), QStringLiteral("buylevel")},
                             {QStringLiteral("买家信用"), QStringLiteral("buyerCredit")},
                             {QStringLiteral("卖家级别"), QStringLiteral("salelevel")},
                             {QStringLiteral("卖家信用"), QStringLiteral("salerCredit")}},
                            this);

    QSplitter* split = analysisui::chartOverShopAndTable(m_view, m_shop, table, this);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(split, 1);

    connect(m_runButton, &QPushButton::clicked, this, &TfrmCircle::bsSkinButton4Click);
    connect(m_controls, &TAnalysisControls::succeeded, this, &TfrmCircle::runDone);
    connect(m_controls, &TAnalysisControls::runFinished, this, &TfrmCircle::runFinished);
}

TfrmCircle::~TfrmCircle() = default;

bool TfrmCircle::running() const
{
    return m_controls->running();
}

void TfrmCircle::bsSkinButton4Click()
{
    const analysis::Range range = m_controls->range();
    const auto period = static_cast<analysis::DistPeriod>(std::max(0, m_type->currentIndex()));
    if (!m_controls->start(range, [range, period](TConnection& connection, const analysis::Progress&) {
            return analysis::runDist(connection, range, period);
        }))
        return;
    m_period = period;
    charts::fillDist(m_chart, m_chart->title(), {}, {});
    m_context.dm().pj_fx2->SetSQL(QString());
}

void TfrmCircle::runDone(const analysis::Result& result)
{
    m_context.dm().pj_fx2->SetSQL(result.sql);
    m_context.dm().pj_fx2->SetSnapshot(result.columns, result.rows);
    charts::fillDist(m_chart, analysis::distTitle(m_period), result.labels, result.values);
}
