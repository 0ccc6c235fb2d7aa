// Closing the main window: the questions asked while work is flagged, and the last-use date.
#include "TestPrompt.h"
#include "TestWindow.h"

#include "settings/IniFile.h"
#include "settings/Settings.h"

#include <QAction>
#include <QDir>
#include <QSignalSpy>

namespace {
const QString kOldDate = QStringLiteral("2001-02-03 4:05:06");

QString loginDate(const QString& configFile)
{
    IniFile ini(configFile);
    return ini.load() ? ini.value(QStringLiteral("Login"), QStringLiteral("date")) : QString();
}

void setLoginDate(const QString& configFile, const QString& date)
{
    IniFile ini(configFile);
    QVERIFY(ini.load());
    ini.setValue(QStringLiteral("Login"), QStringLiteral("date"), date);
    QVERIFY(ini.save());
}
} // namespace

class TestCloseQuery : public QObject
{
    Q_OBJECT

private slots:
    void closeAsksWhileWorkIsFlagged_data()
    {
        QTest::addColumn<bool>("saving");
        QTest::addColumn<bool>("busy");
        QTest::addColumn<QStringList>("presses");
        QTest::addColumn<QStringList>("questions"); // s: saving, n: net busy
        QTest::addColumn<bool>("closes");
        QTest::addColumn<bool>("saverStopped");

        const QString force = QStringLiteral("btnForceQuit");
        const QString keepOn = QStringLiteral("btnContinue");
        QTest::newRow("idle") << false << false << QStringList{} << QStringList{} << true << false;
        QTest::newRow("saving, continue")
            << true << false << QStringList{keepOn} << QStringList{"s"} << false << false;
        QTest::newRow("saving, dialog closed")
            << true << false << QStringList{} << QStringList{"s"} << false << false;
        QTest::newRow("saving, force")
            << true << false << QStringList{force} << QStringList{"s"} << true << true;
        QTest::newRow("busy, continue")
            << false << true << QStringList{keepOn} << QStringList{"n"} << false << false;
        QTest::newRow("busy, force") << false << true << QStringList{force} << QStringList{"n"} << true
                                     << false;
        QTest::newRow("both, continue")
            << true << true << QStringList{keepOn} << QStringList{"s"} << false << false;
        QTest::newRow("both, force then continue")
            << true << true << QStringList{force, keepOn} << QStringList{"s", "n"} << false << true;
        QTest::newRow("both, force twice")
            << true << true << QStringList{force, force} << QStringList{"s", "n"} << true << true;
    }
    void closeAsksWhileWorkIsFlagged()
    {
        QFETCH(bool, saving);
        QFETCH(bool, busy);
        QFETCH(QStringList, presses);
        QFETCH(QStringList, questions);
        QFETCH(bool, closes);
        QFETCH(bool, saverStopped);

        TestPrompt prompt;
        TestWindow w;
        QVERIFY(w.start());
        const QString config = w.dataFile(QStringLiteral("config.ini"));
        setLoginDate(config, kOldDate);
        QSignalSpy closed(w.main.get(), &TfrmMain::closed);
        QSignalSpy stopSaver(w.main.get(), &TfrmMain::forceQuitRequested);
        QObject work; // what runs, as the window's views would add it
        w.main->running().add(
            &work, [busy] { return busy; }, [saving] { return saving; });
        prompt.presses = presses;

        QCOMPARE(w.main->close(), closes);

        QCOMPARE(prompt.dialogs.size(), questions.size());
        for (int i = 0; i < questions.size(); ++i) {
            QCOMPARE(prompt.dialogs[i], QStringLiteral("Form2|退出确认？"));
            const QString text = QString::fromUtf16(
                questions[i] == QLatin1String("s") ? TfrmMain::kSavingMessage : TfrmMain::kNetBusyMessage);
            QCOMPARE(prompt.dialogTexts[i], text);
        }
        QCOMPARE(prompt.dialogsLeftOpen, 0);
        QCOMPARE(closed.count(), closes ? 1 : 0);
        QCOMPARE(w.main->isVisible(), !closes);
        QCOMPARE(stopSaver.count(), saverStopped ? 1 : 0);
        // The last-use date is written exactly when the window closes.
        const QString date = loginDate(config);
        if (closes) {
            const QDateTime written = QDateTime::fromString(date, QStringLiteral("yyyy-MM-dd H:mm:ss"));
            QVERIFY2(written.isValid(), qPrintable(date));
            QVERIFY(qAbs(written.secsTo(QDateTime::currentDateTime())) < 60);
        } else {
            QCOMPARE(date, kOldDate);
        }
        QVERIFY(prompt.errors.isEmpty());
    }

    void exitItemClosesAndAnUnwritableConfigIsReportedButStillCloses()
    {
        TestPrompt prompt;
        TestWindow w;
        QVERIFY(w.start());
        QSignalSpy closed(w.main.get(), &TfrmMain::closed);
        // The configuration file became something that cannot be written.
        const QString config = w.dataFile(QStringLiteral("config.ini"));
        QVERIFY(QFile::remove(config));
        QVERIFY(QDir().mkdir(config));

        w.find<QAction>("miExit")->trigger();

        QCOMPARE(prompt.errors, QStringList{QString::fromUtf16(settings::kFatalMessage)});
        QCOMPARE(closed.count(), 1);
        QVERIFY(!w.main->isVisible());
    }

    void aConfigurationFaultIsToldOnceAndEndsTheProgramWhileWorkRuns()
    {
        TestPrompt prompt;
        TestWindow w;
        QVERIFY(w.start());
        QSignalSpy closed(w.main.get(), &TfrmMain::closed);
        QSignalSpy stopSaver(w.main.get(), &TfrmMain::forceQuitRequested);
        const QString config = w.dataFile(QStringLiteral("config.ini"));
        QVERIFY(QFile::remove(config));
        QVERIFY(QDir().mkdir(config));
        QObject work;
        w.main->running().add(
            &work, [] { return true; }, [] { return true; });

        w.main->endForConfigFault();
        w.main->endForConfigFault();
        QTRY_COMPARE(closed.count(), 1);

        QCOMPARE(prompt.errors, QStringList{QString::fromUtf16(settings::kFatalMessage)});
        QVERIFY(prompt.dialogs.isEmpty());
        QCOMPARE(stopSaver.count(), 1);
    }
};

QTEST_MAIN(TestCloseQuery)
#include "tst_closequery.moc"
