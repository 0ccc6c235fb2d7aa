#include "analysis/views/TfrmChanges.h"

#include "analysis/ShopChanges.h"
#include "analysis/TAnalysisThread.h"
#include "analysis/charts/AnalysisWidgets.h"
#include "settings/Paths.h"
#include "store/TDM.h"
#include "ui/TPrompt.h"
#include "ui/TViewContext.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QShowEvent>
#include <QTableWidget>
#include <QVBoxLayout>
#include <algorithm>

namespace {

const char* const kTitles[] = {"店主",         "店铺名", "上次挖掘", "本次挖掘", "新评价",
                               "销量",         "销售额", "差评",     "中评",     "卖家信用变化",
                               "买家信用变化", "好评率", "触发规则"};

// The grid's texts of one change, in kTitles' order, with the shop id first.
QVariantList rowOf(const shopchanges::Change& c)
{
    const QString rate = c.salerGoodRateBefore == c.salerGoodRate
                             ? c.salerGoodRate
                             : c.salerGoodRateBefore + QStringLiteral(" → ") + c.salerGoodRate;
    return {c.shopId,
            c.dianzhu,
            c.dianming,
            c.from,
            c.to,
            c.newRatings,
            c.sales,
            shopchanges::amountText(c.amountUnits),
            c.bad,
            c.neutral,
            c.salerCreditDelta,
            c.buyerCreditDelta,
            rate,
            c.crossed.join(QStringLiteral(", "))};
}

} // namespace

TfrmChanges::TfrmChanges(TViewContext& context, QWidget* parent)
    : TView(parent), m_context(context), m_thread(new TAnalysisThread(context.dm().adoCn.path(), this))
{
    setObjectName(QStringLiteral("frmChanges"));
    setWindowTitle(QStringLiteral("动态"));

    m_refresh = new QPushButton(QStringLiteral("刷新"), this);
    m_refresh->setObjectName(QStringLiteral("changesRefresh"));
    m_summary = analysisui::namedLabel("changesSummary", QString(), this);
    m_gauge = analysisui::runGauge(this);
    m_gauge->setRange(0, 0); // no steps to count: it only shows that the reading goes on
    auto* top = new QHBoxLayout;
    top->addWidget(m_refresh);
    top->addWidget(m_summary, 1);
    top->addWidget(m_gauge);

    m_grid = new QTableWidget(0, static_cast<int>(std::size(kTitles)), this);
    m_grid->setObjectName(QStringLiteral("changesGrid"));
    QStringList titles;
    for (const char* t : kTitles)
        titles << QString::fromUtf8(t);
    m_grid->setHorizontalHeaderLabels(titles);
    m_grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_grid->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_grid->setSelectionMode(QAbstractItemView::SingleSelection);
    m_grid->verticalHeader()->hide();
    m_grid->horizontalHeader()->setStretchLastSection(true);
    m_grid->setToolTip(QStringLiteral("双击打开该掌柜的资料"));

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(m_grid, 1);

    connect(m_refresh, &QPushButton::clicked, this, &TfrmChanges::refreshClick);
    connect(m_grid, &QTableWidget::cellDoubleClicked, this,
            [this](int row, int) { changesGridDblClick(row); });
    connect(m_thread, &TAnalysisThread::finished, this, &TfrmChanges::runDone);
}

bool TfrmChanges::running() const
{
    return m_thread->busy();
}

void TfrmChanges::showEvent(QShowEvent* event)
{
    TView::showEvent(event);
    // Shown again after a mining run, or after the browser's list changed: read anew.
    if (!event->spontaneous())
        refreshClick();
}

void TfrmChanges::refreshClick()
{
    if (m_thread->busy())
        return;
    shopchanges::Options options;
    // The shops the browser lists, with its filter.
    TTable* shops = m_context.dm().tb_dianbase;
    if (shops->Active()) {
        const std::vector<qlonglong> listed = shops->Keys();
        options.shops = QSet<qlonglong>(listed.begin(), listed.end());
    }
    options.rules = WatchSettings::read(Paths::configFile());
    if (!m_thread->start([options](TConnection& connection, const analysis::Progress&) {
            analysis::Result result;
            const auto changes = shopchanges::collect(connection, options, &result.error);
            if (changes)
                for (const shopchanges::Change& c : *changes)
                    result.rows.push_back(rowOf(c));
            return result;
        }))
        return;
    m_refresh->setEnabled(false);
    m_gauge->show();
}

void TfrmChanges::runDone(const analysis::Result& result)
{
    m_refresh->setEnabled(true);
    m_gauge->hide();
    if (!result.ok()) {
        TPrompt::instance().error(m_context.dialogParent(), result.error);
        emit runFinished(false);
        return;
    }
    m_grid->setRowCount(0);
    m_rowShops.clear();
    int crossed = 0;
    for (const QVariantList& values : result.rows) {
        const int row = m_grid->rowCount();
        m_grid->insertRow(row);
        m_rowShops << values.value(0).toLongLong();
        const bool alert = !values.last().toString().isEmpty();
        crossed += alert;
        for (int c = 1; c < values.size(); ++c) {
            auto* item = new QTableWidgetItem(values[c].toString());
            if (alert)
                item->setForeground(Qt::red);
            m_grid->setItem(row, c - 1, item);
        }
    }
    m_grid->resizeColumnsToContents();
    m_summary->setText(
        result.rows.empty()
            ? QStringLiteral("没有可比较的挖掘：每个掌柜至少需要挖掘两次")
            : QStringLiteral("%1个掌柜有变化，%2个触发规则").arg(result.rows.size()).arg(crossed));
    emit runFinished(true);
}

void TfrmChanges::changesGridDblClick(int row)
{
    if (row < 0 || row >= m_rowShops.size())
        return;
    TTable* shops = m_context.dm().tb_dianbase;
    const std::vector<qlonglong> keys = shops->Keys();
    const auto at = std::find(keys.begin(), keys.end(), m_rowShops[row]);
    if (at == keys.end()) {
        m_context.setInfo1(QStringLiteral("该掌柜已不在掌柜资料的列表中"));
        return;
    }
    shops->MoveTo(static_cast<int>(at - keys.begin()) + 1);
    m_context.showView(ViewId::Browser);
}
