#pragma once

#include "settings/TConfig.h"
#include "store/TDM.h"
#include "ui/TViewContext.h"

#include <QWidget>

// The main window as a view sees it, with a data module of its own and nothing else: for
// driving one view alone in tests and benchmarks.
class StandaloneContext : public TViewContext
{
public:
    TConfig m_config;
    TDM m_dm;
    QString info1; // the status text last set
    QWidget m_parent;
    QList<ViewId> shown; // the views asked for, in order

    TConfig& config() override { return m_config; }
    TDM& dm() override { return m_dm; }
    QWidget* dialogParent() override { return &m_parent; }
    void setInfo1(const QString& text) override { info1 = text; }
    void setDataInfo(const QString&) override {}
    void setCommandsAvailable(bool) override {}
    bool commandsAvailable() const override { return true; }
    QAction* exportCommand(ExportCommand) override { return nullptr; }
    void setBackgroundProgressShown(bool) override {}
    void hideBackgroundProgress() override {}
    void showView(ViewId id) override { shown << id; }
    void mineShops(const QList<ShopRow>&) override {}
    void openHelp(const QString&) override {}
    void endForConfigFault() override {}
};
