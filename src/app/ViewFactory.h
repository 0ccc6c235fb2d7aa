#pragma once

#include "ui/ViewId.h"

class QDialog;
class TView;
class TViewContext;

// Where each view class is chosen: the main window asks here once per view, on its first use.
namespace views {

TView* create(ViewId id, TViewContext& context);
// A new options dialog for each use, telling the user of a failed test download; the caller runs
// it modally and deletes it.
QDialog* createOptionsDialog(TViewContext& context);

} // namespace views
