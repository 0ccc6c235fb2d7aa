#include "app/ViewFactory.h"

#include "analysis/TfrmCircle.h"
#include "analysis/TfrmSaleNum.h"
#include "analysis/TfrmStocks.h"
#include "app/TPlaceholderDialog.h"
#include "app/TPlaceholderView.h"
#include "app/TViewContext.h"
#include "mining/TfrmAdvanceSearch.h"

namespace views {

TView* create(ViewId id, TViewContext& context)
{
    switch (id) {
    case ViewId::Index:
        return new TPlaceholderView(
            QStringLiteral("frmIndex"), QStringLiteral("导航页"),
            QStringLiteral("导航页显示上次使用的时间、程序版本和已收集的掌柜与交易记录数量，"
                           "并提供查找掌柜、掌柜资料、销售分析和帮助的快捷入口。"));

    case ViewId::Search:
        return new TfrmAdvanceSearch(context);

    case ViewId::Browser:
        return new TPlaceholderView(
            QStringLiteral("frmViewUser"), QStringLiteral("掌柜资料"),
            QStringLiteral("浏览已保存的掌柜和每位掌柜的成交明细：按店主、地点、等级、评价、"
                           "价格等条件筛选，按列排序，删除、重新挖掘、复制，"
                           "或导出为 CSV 和 Excel 文件。"));

    case ViewId::Rank:
        return new TfrmSaleNum(context);

    case ViewId::Trend:
        return new TfrmStocks(context);

    case ViewId::Dist:
        return new TfrmCircle(context);
    }
    return nullptr;
}

QDialog* createOptionsDialog(TViewContext& context)
{
    return new TPlaceholderDialog(
        QStringLiteral("frmConfig"), QStringLiteral("选项"),
        QStringLiteral("在这里设置网络代理（类型、服务器、端口、用户名、密码、域），"
                       "保存到配置文件，并测试网络连接。"),
        context.dialogParent());
}

} // namespace views
