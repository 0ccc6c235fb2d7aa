#pragma once

#include "TestStore.h"
#include "app/TfrmMain.h"
#include "settings/Paths.h"

#include <QTemporaryDir>
#include <QTest>
#include <memory>

// A main window over a fresh data folder of its own, started as the program starts it; on a
// fresh database of the test server when the tests run on one (TestStore.h).
struct TestWindow
{
    QTemporaryDir dataDir;
    std::unique_ptr<TfrmMain> main;
    QString serverStore; // the server database's address, when on a server

    TestWindow() { Paths::setDataDir(dataDir.path()); }
    ~TestWindow() { Paths::setDataDir(QString()); }

    QString dataFile(const QString& name) const { return dataDir.filePath(name); }
    // What a second connection opens to see the window's data.
    QString store() const
    {
        return serverStore.isEmpty() ? dataFile(QStringLiteral("quelmar2.mdb")) : serverStore;
    }

    // FormCreate and, when it succeeds, show; answers whether start-up went on.
    bool start()
    {
        main = std::make_unique<TfrmMain>();
        if (teststore::onServer()) {
            // A second start (the program started again) finds the same database.
            if (serverStore.isEmpty())
                serverStore = teststore::newStore(QString());
            if (serverStore.isEmpty())
                return false;
            main->setDatabaseUrl(serverStore);
        }
        if (!main->FormCreate())
            return false;
        main->show();
        return QTest::qWaitForWindowExposed(main.get());
    }

    template <typename T> T* find(const char* name) const { return main->findChild<T*>(QLatin1String(name)); }
};
