#include "analysis/views/TfrmSaleList.h"

#include "analysis/TResultModel.h"
#include "store/TCursor.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>

TfrmSaleList::TfrmSaleList(TCursor* ranking, QWidget* parent) : QDialog(parent), m_ranking(ranking)
{
    setObjectName(QStringLiteral("frmSaleList"));
    setWindowTitle(QStringLiteral("排名商品列表"));
    setAttribute(Qt::WA_DeleteOnClose);
    resize(560, 360);

    m_grid = new QTableView(this);
    m_grid->setObjectName(QStringLiteral("listGrid"));
    m_grid->setModel(new TResultModel(ranking,
                                      {{QStringLiteral("itemTitle"), QStringLiteral("商品标题")},
                                       {QStringLiteral("jg"), QStringLiteral("单价")},
                                       {QStringLiteral("num"), QStringLiteral("销量")},
                                       {QStringLiteral("amount"), QStringLiteral("销售额")}},
                                      m_grid));
    m_grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_grid->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_grid->setSelectionMode(QAbstractItemView::SingleSelection);
    m_grid->horizontalHeader()->setSectionResizeMode(0, QHeaderView::Stretch);
    if (ranking->RecNo() > 0)
        m_grid->setCurrentIndex(m_grid->model()->index(ranking->RecNo() - 1, 0));
    connect(m_grid->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex& current) {
                if (current.isValid() && m_ranking->RecNo() != current.row() + 1)
                    m_ranking->MoveTo(current.row() + 1);
            });

    auto* close = new QPushButton(QStringLiteral("关闭"), this);
    close->setObjectName(QStringLiteral("bsSkinButton1"));
    connect(close, &QPushButton::clicked, this, &TfrmSaleList::bsSkinButton1Click);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(close);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_grid);
    layout->addLayout(buttons);
}

void TfrmSaleList::bsSkinButton1Click()
{
    close();
}
