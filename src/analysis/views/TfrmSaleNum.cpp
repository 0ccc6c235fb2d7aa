#include "analysis/views/TfrmSaleNum.h"

#include "analysis/MarketRanking.h"
#include "analysis/TAnalysisThread.h"
#include "analysis/TResultModel.h"
#include "analysis/charts/AnalysisCharts.h"
#include "analysis/charts/AnalysisWidgets.h"
#include "analysis/charts/TCrossHair.h"
#include "analysis/views/TAnalysisControls.h"
#include "analysis/views/TfrmSaleList.h"
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
#include <QSpinBox>
#include <QSplitter>
#include <QTableView>
#include <QToolButton>
#include <QVBoxLayout>

TfrmSaleNum::TfrmSaleNum(TViewContext& context, QWidget* parent)
    : TView(parent), m_context(context), m_controls(new TAnalysisControls(context, QString(), this)),
      m_detailThread(new TAnalysisThread(context.dm().adoCn.path(), this)),
      m_detailRows(context.dm().newRankDetail(this))
{
    setObjectName(QStringLiteral("frmSaleNum"));
    setWindowTitle(QStringLiteral("商品销售排名"));
    TDM& dm = context.dm();

    // Top bar: inputs and the two runs.
    auto* top = new QHBoxLayout;
    m_num = new QSpinBox(this);
    m_num->setObjectName(QStringLiteral("num"));
    m_num->setRange(1, 50);
    m_num->setValue(1);
    m_kh = analysisui::choiceList("kh", analysis::tradeKindChoices(), this);
    m_scope =
        analysisui::choiceList("rankScope", {QStringLiteral("当前店铺"), QStringLiteral("全部店铺")}, this);
    m_countButton = new QPushButton(QStringLiteral("销售量统计"), this);
    m_countButton->setObjectName(QStringLiteral("bsSkinButton1"));
    m_amountButton = new QPushButton(QStringLiteral("销售额统计"), this);
    m_amountButton->setObjectName(QStringLiteral("bsSkinButton3"));
    m_controls->setRunButtons({m_countButton, m_amountButton});
    m_controls->addInputs(top);
    analysisui::addLabelled(top, QStringLiteral("商品数"), m_num);
    analysisui::addLabelled(top, QStringLiteral("交易类型"), m_kh);
    analysisui::addLabelled(top, QStringLiteral("范围"), m_scope);
    top->addWidget(m_countButton);
    top->addWidget(m_amountButton);
    top->addStretch();

    // Read-out of the cross-hair.
    auto* readout = new QHBoxLayout;
    m_ff = analysisui::namedLabel("ff", analysis::rankFigure(false), this);
    m_firstInfo = analysisui::namedLabel("firstInfo", QStringLiteral("0"), this);
    m_dateInfo = analysisui::namedLabel("dateInfo", QStringLiteral("名次"), this);
    readout->addWidget(m_ff);
    readout->addWidget(m_firstInfo);
    readout->addSpacing(20);
    readout->addWidget(new QLabel(QStringLiteral("排名："), this));
    readout->addWidget(m_dateInfo);
    readout->addStretch();
    readout->addWidget(m_controls->gauge());

    // The chart and its read-out label.
    m_chart = new QChart;
    charts::setupRank(m_chart);
    m_chartView = new QChartView(m_chart, this);
    m_chartView->setObjectName(QStringLiteral("Chart1"));
    m_chartView->setRenderHint(QPainter::Antialiasing);
    m_chartView->setMinimumHeight(220);
    m_info = analysisui::namedLabel("info", QString(), m_chartView);
    m_crossHair = new TCrossHair(m_chartView, m_chart->series().value(0), m_info, this);
    connect(m_crossHair, &TCrossHair::pointChosen, this, &TfrmSaleNum::showPoint);

    // Record bar bound to pj_fx1's current row, with the navigator.
    auto* record = new QHBoxLayout;
    m_fx1Record = analysisui::namedLabel("fx1Record", QStringLiteral("NO.1"), this);
    m_recNum = analysisui::namedLabel("fx1Num", QString(), this);
    m_recJg = analysisui::namedLabel("fx1Jg", QString(), this);
    m_recAmount = analysisui::namedLabel("fx1Amount", QString(), this);
    m_recTitle = analysisui::namedLabel("fx1ItemTitle", QString(), this);
    m_recTitle->setMinimumWidth(160);
    auto* more = new QToolButton(this);
    more->setObjectName(QStringLiteral("bsSkinButton2"));
    more->setText(QStringLiteral("..."));
    more->setToolTip(QStringLiteral("显示明细列表"));
    record->addWidget(m_fx1Record);
    record->addWidget(new QLabel(QStringLiteral("销量"), this));
    record->addWidget(m_recNum);
    record->addWidget(new QLabel(QStringLiteral("单价"), this));
    record->addWidget(m_recJg);
    record->addWidget(new QLabel(QStringLiteral("金额"), this));
    record->addWidget(m_recAmount);
    record->addWidget(new QLabel(QStringLiteral("商品"), this));
    record->addWidget(m_recTitle, 1);
    record->addWidget(more);
    const struct
    {
        const char* name;
        const char* text;
        void (TCursor::*move)();
    } nav[] = {{"navFirst", "|<", &TCursor::First},
               {"navPrior", "<", &TCursor::Prior},
               {"navNext", ">", &TCursor::Next},
               {"navLast", ">|", &TCursor::Last}};
    for (const auto& n : nav) {
        auto* b = new QToolButton(this);
        b->setObjectName(QLatin1String(n.name));
        b->setText(QLatin1String(n.text));
        auto move = n.move;
        connect(b, &QToolButton::clicked, this, [cursor = dm.pj_fx1, move]() {
            if (cursor->Active())
                (cursor->*move)();
        });
        record->addWidget(b);
    }

    // Ratings of the ranked item, long texts cut by the data module.
    m_detail = analysisui::resultTable("detailGrid", this);
    m_detail->setModel(new TResultModel(m_detailRows,
                                        {{QStringLiteral("pjName"), QStringLiteral("评价人")},
                                         {QStringLiteral("pjsj"), QStringLiteral("时间")},
                                         {QStringLiteral("pj"), QStringLiteral("评价")},
                                         {QStringLiteral("pjInfo"), QStringLiteral("评价内容")},
                                         {QStringLiteral("pjjs"), QStringLiteral("评价解释")}},
                                        m_detail));

    auto* lower = new QWidget(this);
    auto* lowerLayout = new QVBoxLayout(lower);
    lowerLayout->setContentsMargins(0, 0, 0, 0);
    lowerLayout->addLayout(record);
    lowerLayout->addWidget(m_detail);
    auto* split = new QSplitter(Qt::Vertical, this);
    split->addWidget(m_chartView);
    split->addWidget(lower);
    split->setStretchFactor(0, 3);
    split->setStretchFactor(1, 2);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addLayout(readout);
    layout->addWidget(split, 1);

    connect(m_countButton, &QPushButton::clicked, this, &TfrmSaleNum::bsSkinButton1Click);
    connect(m_amountButton, &QPushButton::clicked, this, &TfrmSaleNum::bsSkinButton3Click);
    connect(more, &QToolButton::clicked, this, &TfrmSaleNum::bsSkinButton2Click);
    connect(dm.pj_fx1, &TCursor::currentChanged, this, &TfrmSaleNum::showCurrent);
    connect(dm.pj_fx1, &TCursor::dataReset, this, &TfrmSaleNum::showCurrent);
    connect(m_controls, &TAnalysisControls::succeeded, this, &TfrmSaleNum::runDone);
    connect(m_controls, &TAnalysisControls::runFinished, this, &TfrmSaleNum::runFinished);
    connect(m_detailThread, &TAnalysisThread::finished, this, &TfrmSaleNum::detailDone);
    // The detail grid of a ranked item shows the ids read for the run; while they are being
    // read it stays empty. Rows the reading does not cover are queried as before.
    m_detailRows->SetKeySource([this]() -> std::optional<std::vector<qlonglong>> {
        TCursor* fx1 = m_context.dm().pj_fx1;
        if (!fx1->Active() || fx1->RecordCount() == 0)
            return std::nullopt;
        const TField shop = fx1->FieldByName(QStringLiteral("dian_id"));
        const TField item = fx1->FieldByName(QStringLiteral("itemId"));
        if (shop.isNull() || item.isNull() || shop.asInteger() != m_detailIds.shop ||
            !m_detailIds.items.contains(item.asString()))
            return std::nullopt;
        if (!m_detailIds.ready)
            return std::vector<qlonglong>();
        return m_detailIds.ids.value(item.asString());
    });
}

bool TfrmSaleNum::running() const
{
    return m_controls->running();
}

void TfrmSaleNum::bsSkinButton1Click()
{
    run(false);
}

void TfrmSaleNum::bsSkinButton3Click()
{
    run(true);
}

void TfrmSaleNum::run(bool byAmount)
{
    TDM& dm = m_context.dm();
    analysis::RankRequest request;
    request.range = m_controls->range();
    request.top = m_num->value();
    request.byAmount = byAmount;
    request.kind = analysis::tradeKindFromText(m_kh->currentText());
    // Every shop the browser lists: its rows name their shops.
    std::optional<QSet<qlonglong>> market;
    if (m_scope->currentIndex() == 1) {
        const std::vector<qlonglong> listed = dm.tb_dianbase->Keys();
        market = QSet<qlonglong>(listed.begin(), listed.end());
        request.range.shop = 0;
    }
    if (!m_controls->start(request.range,
                           [request, market](TConnection& connection, const analysis::Progress&) {
                               return market ? analysis::runMarketRank(connection, request, market)
                                             : analysis::runRank(connection, request);
                           }))
        return;
    m_runShop = request.range.shop;
    m_byAmount = byAmount;
    m_ff->setText(analysis::rankFigure(byAmount));
    // The old result goes at once; the new one arrives with its rows.
    dm.pj_fx1->SetSQL(QString());
    // Closing the ranking does not move it: the detail would keep the former item's ratings.
    if (m_detailRows->Active())
        m_detailRows->Refresh();
    charts::fillRank(m_chart, m_chart->title(), {}, {});
    m_crossHair->setPointCount(0);
}

void TfrmSaleNum::runDone(const analysis::Result& result)
{
    TDM& dm = m_context.dm();
    m_last = result;
    charts::fillRank(m_chart, analysis::rankTitle(m_byAmount), result.labels, result.values);
    // The ranked items' ratings are read off this thread; until they arrive the detail grid
    // is empty instead of scanning the shop at every move of the ranking.
    m_detailIds = DetailIds();
    m_detailIds.shop = m_runShop;
    const int itemColumn = result.column(QStringLiteral("itemId"));
    // A ranking over many shops has no one shop to read: its grid queries for each row.
    for (const QVariantList& row : result.rows) {
        const QVariant item = row.value(itemColumn);
        if (!item.isNull() && m_runShop > 0)
            m_detailIds.items.insert(item.toString());
    }
    ++m_detailWanted;
    startDetail();
    dm.pj_fx1->SetSQL(result.sql);
    // The run walked through every row and stands on the last one.
    dm.pj_fx1->SetSnapshot(result.columns, result.rows, result.rowCount());
    if (!m_detailRows->Active())
        m_detailRows->Open();
    m_crossHair->reset();
    m_crossHair->cacheChartItems();
    m_crossHair->setPointCount(result.rowCount());
    m_crossHair->setActive(true);
    m_hasData = true;
}

void TfrmSaleNum::startDetail()
{
    if (m_detailIds.items.isEmpty() || m_detailThread->busy())
        return; // nothing to read, or read when the reading under way ends
    m_detailReading = m_detailWanted;
    const qlonglong shop = m_detailIds.shop;
    const QStringList items(m_detailIds.items.cbegin(), m_detailIds.items.cend());
    m_detailThread->start([shop, items](TConnection& connection, const analysis::Progress&) {
        return analysis::runRankDetail(connection, shop, items);
    });
}

void TfrmSaleNum::detailDone(const analysis::Result& result)
{
    if (m_detailReading != m_detailWanted) {
        startDetail(); // a later run wants other items
        return;
    }
    if (result.ok()) {
        m_detailIds.ids = result.itemRatings;
        m_detailIds.ready = true;
    } else {
        m_detailIds.items.clear(); // the grid queries for itself
    }
    if (m_detailRows->Active())
        m_detailRows->Refresh();
    emit detailRead();
}

void TfrmSaleNum::showCurrent()
{
    TCursor* fx1 = m_context.dm().pj_fx1;
    const bool row = fx1->Active() && fx1->RecordCount() > 0;
    // A run that found nothing leaves the record bar empty; before the first run it keeps its
    // first text.
    if (row)
        m_fx1Record->setText(QStringLiteral("No.") + QString::number(fx1->RecNo()));
    else if (fx1->Active())
        m_fx1Record->setText(QString());
    m_recNum->setText(row ? fx1->FieldByName(QStringLiteral("num")).asString() : QString());
    m_recJg->setText(row ? fx1->FieldByName(QStringLiteral("jg")).asString() : QString());
    m_recAmount->setText(row ? fx1->FieldByName(QStringLiteral("amount")).asString() : QString());
    m_recTitle->setText(row ? fx1->FieldByName(QStringLiteral("itemTitle")).asString() : QString());
}

void TfrmSaleNum::showPoint(int index)
{
    if (index < 0 || index >= m_last.values.size())
        return;
    m_firstInfo->setText(analysis::generalNumber(m_last.values[index]));
    m_dateInfo->setText(m_last.labels.value(index));
}

void TfrmSaleNum::bsSkinButton2Click()
{
    auto* list = new TfrmSaleList(m_context.dm().pj_fx1, this);
    list->setWindowModality(Qt::ApplicationModal);
    list->show();
}
