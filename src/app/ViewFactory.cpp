#include "app/ViewFactory.h"

#include "app/TPlaceholderView.h"
#include "app/TViewContext.h"
#include "app/TfrmConfig.h"
#include "app/TfrmIndex.h"
#include "browser/TfrmViewUser.h"
#include "mining/TfrmAdvanceSearch.h"

namespace views {

TView* create(ViewId id, TViewContext& context)
{
    switch (id) {
    case ViewId::Index:
        return new TfrmIndex(context);

    case ViewId::Search:
        return new TfrmAdvanceSearch(context);

    case ViewId::Browser:
        return new TfrmViewUser(context);

    case ViewId::Rank:
        return new TPlaceholderView(
            QStringLiteral("frmSaleNum"), QStringLiteral("商品销售排名"),
            QStringLiteral("在选定的日期范围内，按销量或销售额列出当前掌柜卖得最好的商品，"
                           "以柱状图和表格显示，并列出每件商品的评价记录。"));

    case ViewId::Trend:
        return new TPlaceholderView(
            QStringLiteral("frmStocks"), QStringLiteral("走势"),
            QStringLiteral("按日、周、月、季度或年显示当前掌柜的成交笔数和销售额走势，"
                           "上方为折线图，下方为柱状图，旁边是各期数据表。"));

    case ViewId::Dist:
        return new TPlaceholderView(
            QStringLiteral("frmCircle"), QStringLiteral("分布"),
            QStringLiteral("以饼图显示当前掌柜的销售额在一天各小时、各月份或各季度之间的分布。"));
    }
    return nullptr;
}

QDialog* createOptionsDialog(TViewContext& context)
{
    return new TfrmConfig(context, context.dialogParent());
}

} // namespace views
