// The main window's commands: views and caption, availability, the bars, the progress gauge.
#include "TestPrompt.h"
#include "TestWindow.h"

#include "ui/TView.h"

#include <QAction>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QScrollArea>
#include <QSignalSpy>
#include <QToolBar>
#include <QToolButton>

class TestMainWindow : public QObject
{
    Q_OBJECT

private:
    // The analysis and export commands, which change together.
    static QList<QObject*> analysisCommands(const TestWindow& w)
    {
        QList<QObject*> all;
        for (const char* name : {"miRank", "miTrend", "miDist", "miExportShopExcel", "miExportShopCsv",
                                 "miExportTradeExcel", "miExportTradeCsv"})
            all << w.find<QAction>(name);
        for (const char* name : {"tbRank", "tbTrend", "tbDist"})
            all << w.find<QToolButton>(name);
        all << w.find<QMenu>("mnuExportShop")->menuAction() << w.find<QMenu>("mnuExportTrade")->menuAction();
        return all;
    }
    static bool enabled(QObject* command)
    {
        if (auto* action = qobject_cast<QAction*>(command))
            return action->isEnabled();
        return qobject_cast<QWidget*>(command)->isEnabled();
    }
    static int visibleViews(const TestWindow& w)
    {
        int n = 0;
        for (TView* view : w.main->findChildren<TView*>())
            n += view->isVisible() ? 1 : 0;
        return n;
    }

private slots:
    void startsOnTheNavigationPageInAFreshFolder()
    {
        TestPrompt prompt;
        TestWindow w;
        QVERIFY(w.start());
        QCOMPARE(w.main->windowTitle(), QStringLiteral("Kestrova--导航页"));
        QCOMPARE(w.find<QScrollArea>("fd1")->widget()->objectName(), QStringLiteral("frmIndex"));
        QVERIFY(QFile::exists(w.dataFile("config.ini")));
        QVERIFY(QFile::exists(w.dataFile("quelmar2.mdb")));
        QVERIFY(prompt.errors.isEmpty());
        // Nothing is stored yet, so nothing can be analysed or exported.
        for (QObject* command : analysisCommands(w))
            QVERIFY2(!enabled(command), qPrintable(command->objectName()));
        for (const char* name : {"tbSearch", "tbBrowser", "tbIndex", "tbOptions", "tbHelp", "tbAbout"})
            QVERIFY2(w.find<QToolButton>(name)->isEnabled(), name);
        QVERIFY(w.find<QProgressBar>("gauge1")->isHidden());
    }

    void toolButtonsRunTheirMenuItemsAndTheCaptionFollows_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<QString>("view");
        QTest::addColumn<QString>("caption");
        QTest::newRow("search") << "tbSearch"
                                << "frmAdvanceSearch"
                                << "Kestrova--高级搜索";
        QTest::newRow("browser") << "tbBrowser"
                                 << "frmViewUser"
                                 << "Kestrova--掌柜资料";
        QTest::newRow("rank") << "tbRank"
                              << "frmSaleNum"
                              << "Kestrova--商品销售排名";
        QTest::newRow("trend") << "tbTrend"
                               << "frmStocks"
                               << "Kestrova--走势";
        QTest::newRow("dist") << "tbDist"
                              << "frmCircle"
                              << "Kestrova--分布";
        QTest::newRow("index") << "tbIndex"
                               << "frmIndex"
                               << "Kestrova--导航页";
    }
    void toolButtonsRunTheirMenuItemsAndTheCaptionFollows()
    {
        QFETCH(QString, button);
        QFETCH(QString, view);
        QFETCH(QString, caption);
        TestPrompt prompt;
        TestWindow w;
        QVERIFY(w.start());
        w.main->setCommandsAvailable(true);
        // Leave the navigation page first, so the index row really switches back.
        w.find<QAction>("miSearch")->trigger();
        if (view == QLatin1String("frmAdvanceSearch"))
            w.find<QAction>("miBrowser")->trigger();
        QTest::mouseClick(w.main->findChild<QToolButton*>(button), Qt::LeftButton);
        QCOMPARE(w.main->currentView()->objectName(), view);
        QCOMPARE(w.main->windowTitle(), caption);
        QCOMPARE(visibleViews(w), 1);
    }

    void viewsAreKeptAndTheShownOneIsNotEmbeddedAgain()
    {
        TestPrompt prompt;
        TestWindow w;
        QVERIFY(w.start());
        QSignalSpy embedded(w.main.get(), &TfrmMain::viewEmbedded);
        QAction* search = w.find<QAction>("miSearch");
        search->trigger();
        TView* searchView = w.main->currentView();
        QCOMPARE(embedded.count(), 1);
        search->trigger();
        QCOMPARE(embedded.count(), 1);
        QVERIFY(searchView->isVisible());

        w.find<QAction>("miBrowser")->trigger();
        QVERIFY(!searchView->isVisible());
        search->trigger();
        QCOMPARE(w.main->currentView(), searchView);
        QCOMPARE(w.main->view(ViewId::Search), searchView);
        QCOMPARE(embedded.count(), 3);

        // The navigation page is the exception: it is embedded anew each time.
        QAction* index = w.find<QAction>("miIndex");
        index->trigger();
        index->trigger();
        QCOMPARE(embedded.count(), 5);
        QCOMPARE(w.main->windowTitle(), QStringLiteral("Kestrova--导航页"));
        QCOMPARE(visibleViews(w), 1);
        QCOMPARE(w.main->findChildren<TView*>().size(), 3);
    }

    void theTwoBarsAreNeverHiddenTogether()
    {
        TestPrompt prompt;
        TestWindow w;
        QVERIFY(w.start());
        auto* menu = w.find<QMenuBar>("mainMenu");
        auto* tools = w.find<QToolBar>("mainTools");
        QAction* miMenu = w.find<QAction>("miMenuBar");
        QAction* pmMenu = w.find<QAction>("pmMenuBar");
        QAction* miTools = w.find<QAction>("miToolBar");
        QAction* pmTools = w.find<QAction>("pmToolBar");
        auto expect = [&](bool menuShown, bool toolsShown) {
            QCOMPARE(!menu->isHidden(), menuShown);
            QCOMPARE(!tools->isHidden(), toolsShown);
            QCOMPARE(miMenu->isChecked(), menuShown);
            QCOMPARE(pmMenu->isChecked(), menuShown);
            QCOMPARE(miTools->isChecked(), toolsShown);
            QCOMPARE(pmTools->isChecked(), toolsShown);
        };
        expect(true, true);
        miTools->trigger();
        expect(true, false);
        miMenu->trigger(); // ignored: the tool bar is hidden
        expect(true, false);
        pmMenu->trigger();
        expect(true, false);
        pmTools->trigger();
        expect(true, true);
        pmMenu->trigger();
        expect(false, true);
        miTools->trigger(); // ignored: the menu bar is hidden
        pmTools->trigger();
        expect(false, true);
        miMenu->trigger();
        expect(true, true);
    }

    void availabilitySwitchesAnalysesAndExportsTogether()
    {
        TestPrompt prompt;
        TestWindow w;
        QVERIFY(w.start());
        w.main->setCommandsAvailable(true);
        QVERIFY(w.main->commandsAvailable());
        for (QObject* command : analysisCommands(w))
            QVERIFY2(enabled(command), qPrintable(command->objectName()));
        w.main->setCommandsAvailable(false);
        for (QObject* command : analysisCommands(w))
            QVERIFY2(!enabled(command), qPrintable(command->objectName()));
        // A disabled command does nothing, from the menu or the tool bar.
        w.find<QAction>("miRank")->trigger();
        QTest::mouseClick(w.find<QToolButton>("tbTrend"), Qt::LeftButton);
        QCOMPARE(w.main->windowTitle(), QStringLiteral("Kestrova--导航页"));
        QCOMPARE(w.main->view(ViewId::Rank), nullptr);
    }

    void progressGaugeFollowsTheViewOnlyWhileARunIsBusy()
    {
        TestPrompt prompt;
        TestWindow w;
        QVERIFY(w.start());
        auto* gauge = w.find<QProgressBar>("gauge1");
        w.find<QAction>("miBrowser")->trigger();
        QVERIFY(gauge->isHidden());

        bool busy = true;
        QObject work;
        w.main->running().add(&work, [&busy] { return busy; });
        w.find<QAction>("miSearch")->trigger();
        QVERIFY(gauge->isHidden()); // the search view shows its own bars
        w.find<QAction>("miBrowser")->trigger();
        QVERIFY(!gauge->isHidden());
        w.main->hideBackgroundProgress();
        QVERIFY(gauge->isHidden());
        busy = false;
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
