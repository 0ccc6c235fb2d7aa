#include "app/ViewFactory.h"

#include "analysis/TfrmCircle.h"
#include "analysis/TfrmSaleNum.h"
#include "analysis/TfrmStocks.h"
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
    return new TfrmConfig(context, context.dialogParent());
}

} // namespace views
