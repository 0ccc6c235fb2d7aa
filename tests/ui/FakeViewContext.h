#pragma once

#include "TestStore.h"
#include "settings/Paths.h"
#include "settings/Settings.h"
#include "store/TDM.h"
#include "ui/TPrompt.h"
#include "ui/TViewContext.h"

#include <QTemporaryDir>
#include <QWidget>
#include <optional>

// A view's surroundings without the main window: a fresh data folder with its configuration
// and database (or a fresh database on the test server, TestStore.h), and a record of what the
// view asked of the window.
class FakeViewContext : public TViewContext
{
public:
    QTemporaryDir dataDir;
    TConfig settings;
    TDM database;
    QWidget parent;
    bool available = false;
    QList<ViewId> shown;
    QStringList helpTopics;

    FakeViewContext()
    {
        Paths::setDataDir(dataDir.path());
        if (auto loaded = settings::load(Paths::configFile()))
            settings = *loaded;
        database.DataModuleCreate(teststore::newStore(Paths::databaseFile()));
    }
    ~FakeViewContext() override { Paths::setDataDir(QString()); }

    QString dataFile(const QString& name) const { return dataDir.filePath(name); }

    TConfig& config() override { return settings; }
    TDM& dm() override { return database; }
    QWidget* dialogParent() override { return &parent; }
    void setInfo1(const QString&) override {}
    void setDataInfo(const QString&) override {}
    void setCommandsAvailable(bool on) override { available = on; }
    bool commandsAvailable() const override { return available; }
    QAction* exportCommand(ExportCommand) override { return nullptr; }
    void setBackgroundProgressShown(bool) override {}
    void hideBackgroundProgress() override {}
    void showView(ViewId id) override { shown << id; }
    void mineShops(const QList<ShopRow>&) override {}
    void openHelp(const QString& topic) override { helpTopics << topic; }
    void endForConfigFault() override
    {
        TPrompt::instance().error(&parent, QString::fromUtf16(settings::kFatalMessage));
        parent.close();
    }
};
