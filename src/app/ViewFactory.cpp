#include "app/ViewFactory.h"

#include "analysis/views/TfrmChanges.h"
#include "analysis/views/TfrmCircle.h"
#include "analysis/views/TfrmCompare.h"
#include "analysis/views/TfrmSaleNum.h"
#include "analysis/views/TfrmStocks.h"
#include "app/TfrmConfig.h"
#include "app/TfrmIndex.h"
#include "browser/views/TfrmViewUser.h"
#include "mining/views/TfrmAdvanceSearch.h"
#include "ui/TPrompt.h"
#include "ui/TViewContext.h"

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

    case ViewId::Changes:
        return new TfrmChanges(context);

    case ViewId::Compare:
        return new TfrmCompare(context);
    }
    return nullptr;
}

QDialog* createOptionsDialog(TViewContext& context)
{
    auto* dialog = new TfrmConfig(context, context.dialogParent());
    QObject::connect(dialog, &TfrmConfig::testDownloadFailed, dialog,
                     [dialog] { TPrompt::instance().downloadFailed(dialog); });
    return dialog;
}

} // namespace views
