#include "app/TfrmAbout.h"

#include "app/TfrmIndex.h"

#include <QGridLayout>
#include <QLabel>
#include <QPushButton>

#ifndef KESTROVA_UPDATE_DATE
#error "KESTROVA_UPDATE_DATE comes from CMake"
#endif

TfrmAbout::TfrmAbout(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("frmAbout"));
    setWindowTitle(QStringLiteral("关于 Kestrova"));
    setModal(true);

    auto* icon = new QLabel(this);
    icon->setPixmap(QPixmap(QStringLiteral(":/icons/kestrova.png"))
                        .scaled(72, 72, Qt::KeepAspectRatio, Qt::SmoothTransformation));

    auto* product = new QLabel(QStringLiteral("Kestrova"), this);
    product->setObjectName(QStringLiteral("productName"));
    QFont font = product->font();
    font.setPointSizeF(font.pointSizeF() * 1.8);
    font.setBold(true);
    product->setFont(font);

    auto* version = new QLabel(QStringLiteral("版本：") + QStringLiteral(KESTROVA_VERSION), this);
    version->setObjectName(QStringLiteral("versionLabel"));
    auto* updated = new QLabel(QStringLiteral("更新日期：") + QStringLiteral(KESTROVA_UPDATE_DATE), this);
    updated->setObjectName(QStringLiteral("updateLabel"));

    auto* description =
        new QLabel(QStringLiteral("Kestrova 帮助在网上商城买卖的人了解店铺：按条件搜索商城的店铺目录，"
                                  "把选中的掌柜连同信用评价和成交记录挖掘到本地数据库，"
                                  "再浏览、筛选、复制和导出这些资料，"
                                  "并用图表分析一个掌柜的商品销售排名、销售走势和成交时间分布。"),
                   this);
    description->setObjectName(QStringLiteral("descriptionLabel"));
    description->setWordWrap(true);
    description->setMinimumWidth(340);

    auto* dataDir = new QLabel(QStringLiteral("数据文件夹：") + TfrmIndex::dataDirText(), this);
    dataDir->setObjectName(QStringLiteral("dataDirLabel"));
    dataDir->setWordWrap(true);
    dataDir->setTextInteractionFlags(Qt::TextSelectableByMouse);

    auto* close = new QPushButton(QStringLiteral("关闭"), this);
    close->setObjectName(QStringLiteral("btnClose"));
    close->setDefault(true);
    connect(close, &QPushButton::clicked, this, &QDialog::accept);

    auto* layout = new QGridLayout(this);
    layout->setHorizontalSpacing(16);
    layout->addWidget(icon, 0, 0, 3, 1, Qt::AlignTop);
    layout->addWidget(product, 0, 1);
    layout->addWidget(version, 1, 1);
    layout->addWidget(updated, 2, 1);
    layout->addWidget(description, 3, 1);
    layout->addWidget(dataDir, 4, 1);
    layout->setRowMinimumHeight(5, 8);
    layout->addWidget(close, 6, 0, 1, 2, Qt::AlignRight);
}
