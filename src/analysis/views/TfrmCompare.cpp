#include "analysis/views/TfrmCompare.h"

#include "analysis/AnalysisRun.h"
#include "analysis/ShopCompare.h"
#include "analysis/TAnalysisThread.h"
#include "analysis/charts/AnalysisWidgets.h"
#include "store/TDM.h"
#include "ui/TPrompt.h"
#include "ui/TViewContext.h"

#include <QBarCategoryAxis>
#include <QChart>
#include <QChartView>
#include <QComboBox>
#include <QDateEdit>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLegend>
#include <QLineSeries>
#include <QListWidget>
#include <QMouseEvent>
#include <QProgressBar>
#include <QPushButton>
#include <QSet>
#include <QShowEvent>
#include <QSplitter>
#include <QTableWidget>
#include <QVBoxLayout>
#include <QValueAxis>
#include <cmath>

namespace {

constexpr int kShopRole = Qt::UserRole;

const QStringList& measureChoices()
{
    static const QStringList choices{QStringLiteral("销售量"), QStringLiteral("销售额"),
                                     QStringLiteral("差评"), QStringLiteral("卖家信用")};
    return choices;
}

QString valueText(const QVariant& value)
{
    return value.isNull() ? QString() : analysis::generalNumber(value.toDouble());
}

} // namespace

TfrmCompare::TfrmCompare(TViewContext& context, QWidget* parent)
    : TView(parent), m_context(context), m_thread(new TAnalysisThread(context.dm().adoCn.path(), this))
{
    setObjectName(QStringLiteral("frmCompare"));
    setWindowTitle(QStringLiteral("对比"));

    const QDate today = QDate::currentDate();
    m_beginDate = analysisui::dateEdit("compare_beginDate", QDate(today.year(), 1, 1), this);
    m_endDate = analysisui::dateEdit("compare_endDate", today, this);
    m_measure = analysisui::choiceList("compareMeasure", measureChoices(), this);
    // The trend's day, week and month.
    m_period = analysisui::choiceList("comparePeriod", analysis::trendPeriodChoices().mid(0, 3), this);
    m_run = new QPushButton(QStringLiteral("对比"), this);
    m_run->setObjectName(QStringLiteral("compareRun"));
    m_gauge = analysisui::runGauge(this);
    m_gauge->setRange(0, 0); // it only shows that the run goes on
    m_info = analysisui::namedLabel("compareInfo", QString(), this);
    auto* top = new QHBoxLayout;
    analysisui::addLabelled(top, QStringLiteral("开始日期"), m_beginDate);
    analysisui::addLabelled(top, QStringLiteral("结束日期"), m_endDate);
    analysisui::addLabelled(top, QStringLiteral("指标"), m_measure);
    analysisui::addLabelled(top, QStringLiteral("周期"), m_period);
    top->addWidget(m_run);
    top->addStretch();
    top->addWidget(m_gauge);

    m_shops = new QListWidget(this);
    m_shops->setObjectName(QStringLiteral("compareShops"));
    m_shops->setToolTip(QStringLiteral("勾选2到8个掌柜"));
    m_chart = new QChart;
    m_chart->legend()->setVisible(true);
    m_chart->legend()->setAlignment(Qt::AlignBottom);
    m_view = new QChartView(m_chart, this);
    m_view->setObjectName(QStringLiteral("compareChart"));
    m_view->setRenderHint(QPainter::Antialiasing);
    m_view->setMinimumHeight(240);
    m_view->setMouseTracking(true);
    m_view->viewport()->installEventFilter(this);
    m_grid = new QTableWidget(this);
    m_grid->setObjectName(QStringLiteral("compareGrid"));
    m_grid->setEditTriggers(QAbstractItemView::NoEditTriggers);

    auto* right = new QSplitter(Qt::Vertical, this);
    right->addWidget(m_view);
    right->addWidget(m_grid);
    right->setStretchFactor(0, 3);
    right->setStretchFactor(1, 1);
    auto* split = new QSplitter(Qt::Horizontal, this);
    split->addWidget(m_shops);
    split->addWidget(right);
    split->setStretchFactor(1, 1);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(m_info);
    layout->addWidget(split, 1);

    connect(m_run, &QPushButton::clicked, this, &TfrmCompare::compareRunClick);
    connect(m_thread, &TAnalysisThread::finished, this, &TfrmCompare::runDone);
}

bool TfrmCompare::running() const
{
    return m_thread->busy();
}

void TfrmCompare::showEvent(QShowEvent* event)
{
    TView::showEvent(event);
    if (!event->spontaneous())
        reloadShops();
}

void TfrmCompare::reloadShops()
{
    QSet<qlonglong> ticked;
    for (int i = 0; i < m_shops->count(); ++i)
        if (m_shops->item(i)->checkState() == Qt::Checked)
            ticked.insert(m_shops->item(i)->data(kShopRole).toLongLong());
    // The browser's current shop is ticked the first time.
    TTable* shops = m_context.dm().tb_dianbase;
    if (m_shops->count() == 0 && shops->Active() && shops->RecordCount() > 0)
        ticked.insert(shops->FieldByName(QStringLiteral("id")).asInteger());
    m_shops->clear();
    if (!shops->Active())
        return;
    const int id = shops->FieldIndex(QStringLiteral("id"));
    const int keeper = shops->FieldIndex(QStringLiteral("dianzhu"));
    for (int r = 0; r < shops->RecordCount(); ++r) {
        const qlonglong shop = shops->value(r, id).toLongLong();
        auto* item = new QListWidgetItem(shops->value(r, keeper).toString(), m_shops);
        item->setData(kShopRole, shop);
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        item->setCheckState(ticked.contains(shop) ? Qt::Checked : Qt::Unchecked);
    }
}

void TfrmCompare::compareRunClick()
{
    if (m_thread->busy())
        return;
    QList<qlonglong> shops;
    QStringList names;
    for (int i = 0; i < m_shops->count(); ++i) {
        if (m_shops->item(i)->checkState() != Qt::Checked)
            continue;
        shops << m_shops->item(i)->data(kShopRole).toLongLong();
        names << m_shops->item(i)->text();
    }
    if (shops.size() < kMinShops || shops.size() > kMaxShops) {
        TPrompt::instance().information(
            m_context.dialogParent(),
            QStringLiteral("请勾选2到8个掌柜进行对比（现在勾选了%1个）").arg(shops.size()));
        return;
    }
    const auto measure = static_cast<analysis::CompareMeasure>(std::max(0, m_measure->currentIndex()));
    const auto period = static_cast<analysis::TrendPeriod>(std::max(0, m_period->currentIndex()));
    const QDate begin = m_beginDate->date();
    const QDate end = m_endDate->date();
    if (!m_thread->start(
            [shops, measure, period, begin, end](TConnection& connection, const analysis::Progress&) {
                analysis::Result result;
                const auto rows =
                    analysis::runCompare(connection, shops, measure, period, begin, end, &result.error);
                if (rows)
                    for (const analysis::CompareRow& r : *rows)
                        result.rows.push_back({r.period, r.shop, r.value});
                return result;
            }))
        return;
    m_runShops = shops;
    m_runNames = names;
    m_run->setEnabled(false);
    m_gauge->show();
}

void TfrmCompare::runDone(const analysis::Result& result)
{
    m_run->setEnabled(true);
    m_gauge->hide();
    if (!result.ok()) {
        TPrompt::instance().error(m_context.dialogParent(), result.error);
        emit runFinished(false);
        return;
    }
    // Periods in the run's order; each holds every shop's value.
    m_periods.clear();
    QHash<qlonglong, int> column;
    for (int c = 0; c < m_runShops.size(); ++c)
        column.insert(m_runShops[c], c);
    std::vector<QVariantList> values;
    for (const QVariantList& row : result.rows) {
        if (m_periods.isEmpty() || m_periods.last() != row[0].toString()) {
            m_periods << row[0].toString();
            values.emplace_back(m_runShops.size(), QVariant());
        }
        values.back()[column.value(row[1].toLongLong())] = row[2];
    }

    m_chart->removeAllSeries();
    for (QAbstractAxis* axis : m_chart->axes())
        m_chart->removeAxis(axis);
    auto* periods = new QBarCategoryAxis(m_chart);
    periods->append(m_periods.isEmpty() ? QStringList{QStringLiteral(" ")} : m_periods);
    auto* scale = new QValueAxis(m_chart);
    m_chart->addAxis(periods, Qt::AlignBottom);
    m_chart->addAxis(scale, Qt::AlignLeft);
    double top = 0;
    for (int c = 0; c < m_runShops.size(); ++c) {
        auto* line = new QLineSeries(m_chart);
        line->setName(m_runNames.value(c));
        line->setPointsVisible(true);
        for (int p = 0; p < static_cast<int>(values.size()); ++p)
            if (!values[p][c].isNull()) {
                line->append(p, values[p][c].toDouble());
                top = std::max(top, values[p][c].toDouble());
            }
        m_chart->addSeries(line);
        line->attachAxis(periods);
        line->attachAxis(scale);
    }
    scale->setRange(0, top > 0 ? top * 1.1 : 1);
    m_chart->setTitle(m_measure->currentText());

    m_grid->clear();
    m_grid->setColumnCount(static_cast<int>(m_runShops.size()));
    m_grid->setRowCount(static_cast<int>(m_periods.size()));
    m_grid->setHorizontalHeaderLabels(m_runNames);
    m_grid->setVerticalHeaderLabels(m_periods);
    for (int p = 0; p < static_cast<int>(values.size()); ++p)
        for (int c = 0; c < m_runShops.size(); ++c)
            m_grid->setItem(p, c, new QTableWidgetItem(valueText(values[p][c])));
    m_info->setText(m_periods.isEmpty() ? QStringLiteral("所选时间内没有数据") : QString());
    emit runFinished(true);
}

void TfrmCompare::showPeriod(int index)
{
    if (index < 0 || index >= m_periods.size())
        return;
    QStringList parts;
    for (int c = 0; c < m_grid->columnCount(); ++c) {
        const QTableWidgetItem* item = m_grid->item(index, c);
        parts << m_runNames.value(c) + QStringLiteral("：") +
                     (item && !item->text().isEmpty() ? item->text() : QStringLiteral("-"));
    }
    m_info->setText(m_periods[index] + QStringLiteral("  ") + parts.join(QStringLiteral("  ")));
}

bool TfrmCompare::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_view->viewport() && event->type() == QEvent::MouseMove && !m_periods.isEmpty() &&
        !m_chart->series().isEmpty()) {
        const QPointF at = m_chart->mapToValue(
            m_chart->mapFromScene(m_view->mapToScene(static_cast<QMouseEvent*>(event)->position().toPoint())),
            m_chart->series().first());
        showPeriod(static_cast<int>(std::lround(std::clamp(at.x(), 0.0, double(m_periods.size() - 1)))));
    }
    return TView::eventFilter(watched, event);
}
