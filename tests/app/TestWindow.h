#pragma once

#include "app/TfrmMain.h"
#include "mining/RunFlags.h"
#include "settings/Paths.h"

#include <QTemporaryDir>
#include <QTest>
#include <memory>

// A main window over a fresh data folder of its own, started as the program starts it.
struct TestWindow
{
    QTemporaryDir dataDir;
    std::unique_ptr<TfrmMain> main;

    TestWindow()
    {
        Paths::setDataDir(dataDir.path());
        runflags::netBusy = false;
        runflags::savingRatings = false;
    }
    ~TestWindow() { Paths::setDataDir(QString()); }

    QString dataFile(const QString& name) const { return dataDir.filePath(name); }

    // FormCreate and, when it succeeds, show; answers whether start-up went on.
    bool start()
    {
        main = std::make_unique<TfrmMain>();
        if (!main->FormCreate())
            return false;
        main->show();
        return QTest::qWaitForWindowExposed(main.get());
    }

    template <typename T> T* find(const char* name) const { return main->findChild<T*>(QLatin1String(name)); }
};
