#include "analysis/charts/AnalysisWidgets.h"

#include "store/TTable.h"
#include "text/Formats.h"

#include <QComboBox>
#include <QDateEdit>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QProgressBar>
#include <QSplitter>
#include <QTableView>

namespace analysisui {

QDateEdit* dateEdit(const char* name, const QDate& date, QWidget* parent)
{
    auto* edit = new QDateEdit(date, parent);
    edit->setObjectName(QLatin1String(name));
    edit->setDisplayFormat(QLatin1String(formats::kShortDate));
    edit->setCalendarPopup(true);
    return edit;
}

QLabel* namedLabel(const char* name, const QString& text, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setObjectName(QLatin1String(name));
    return label;
}

QComboBox* choiceList(const char* name, const QStringList& items, QWidget* parent)
{
    auto* list = new QComboBox(parent);
    list->setObjectName(QLatin1String(name));
    list->addItems(items);
    return list;
}

QProgressBar* runGauge(QWidget* parent)
{
    auto* gauge = new QProgressBar(parent);
    gauge->setObjectName(QStringLiteral("chart3Guage1"));
    gauge->setRange(0, 100);
    gauge->setFormat(QStringLiteral("计算 %p%"));
    gauge->hide();
    return gauge;
}

void addLabelled(QHBoxLayout* bar, const QString& caption, QWidget* input)
{
    bar->addWidget(new QLabel(caption, input->parentWidget()));
    bar->addWidget(input);
}

QTableView* resultTable(const char* name, QWidget* parent)
{
    auto* table = new QTableView(parent);
    table->setObjectName(QLatin1String(name));
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->horizontalHeader()->setStretchLastSection(true);
    return table;
}

QSplitter* chartOverShopAndTable(QWidget* chart, QWidget* shop, QWidget* table, QWidget* parent)
{
    auto* bottom = new QSplitter(Qt::Horizontal, parent);
    bottom->addWidget(shop);
    bottom->addWidget(table);
    auto* split = new QSplitter(Qt::Vertical, parent);
    split->addWidget(chart);
    split->addWidget(bottom);
    split->setStretchFactor(0, 3);
    split->setStretchFactor(1, 1);
    return split;
}

analysis::Range currentRange(TTable* shops, const QDateEdit* begin, const QDateEdit* end, const QComboBox* pj)
{
    analysis::Range range;
    range.shop = shops->FieldByName(QStringLiteral("id")).asInteger();
    range.begin = begin->date();
    range.end = end->date();
    range.pj = pj->currentText();
    return range;
}

} // namespace analysisui
