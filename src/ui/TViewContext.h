#pragma once

#include "mining/TRunning.h"
#include "store/ShopRow.h"
#include "store/StoreRoles.h"
#include "ui/ViewId.h"

#include <QString>
#include <QStringList>

class QAction;
class QWidget;
class TConfig;
class TDM;

// What a working view may ask of the window that hosts it: the shared settings and data module,
// the status bar, command availability, background progress, what is running and the other
// views. Views hold a reference to this and never to the main window, so each can be built and
// tested alone. UI thread only.
class TViewContext
{
public:
    // The main menu's four export items, which the shopkeeper browser serves.
    enum class ExportCommand
    {
        ShopExcel,
        ShopCsv,
        TradeExcel,
        TradeCsv,
    };

    virtual ~TViewContext() = default;

    virtual TConfig& config() = 0;
    virtual TDM& dm() = 0;
    // Parent for dialogs and message boxes a view opens.
    virtual QWidget* dialogParent() = 0;
    // The program's runs: a view adds those it makes, and asks here what runs.
    TRunning& running() { return m_running; }

    // Status bar: the running status text (info1) and the data summary (dataInfo).
    virtual void setInfo1(const QString& text) = 0;
    virtual void setDataInfo(const QString& text) = 0;

    // Enables or disables the three analyses and both export sub-menus together.
    virtual void setCommandsAvailable(bool available) = 0;
    virtual bool commandsAvailable() const = 0;
    virtual QAction* exportCommand(ExportCommand command) = 0;

    // Shows or hides the status-bar gauge that follows a download run in the background.
    virtual void setBackgroundProgressShown(bool shown) = 0;
    virtual void hideBackgroundProgress() = 0;

    // Embeds another view, creating it on first use.
    virtual void showView(ViewId id) = 0;
    // Opens the search view on its result tab with these shops marked and starts their mining
    // run.
    virtual void mineShops(const QList<ShopRow>& shops) = 0;
    // Opens the help window at a topic ("quick.htm"); empty: the start topic.
    virtual void openHelp(const QString& topic = QString()) = 0;
    // The configuration file cannot be used: its fatal message is shown once and the program
    // ends, also while work runs.
    virtual void endForConfigFault() = 0;
    // Why the store's user may not do an action (the server's "permission denied" text), empty
    // when it may; learned once when the store is opened. A view disables what is refused, with
    // this text as the control's tool tip.
    virtual QString refusal(storeroles::Action action) const
    {
        (void)action;
        return QString();
    }

private:
    TRunning m_running;
};
