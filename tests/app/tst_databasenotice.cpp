// The window's start-up over a database that lacks part of its schema.
#include "TestPrompt.h"
#include "TestWindow.h"

#include "store/TConnection.h"

#include <QLabel>

class TestDatabaseNotice : public QObject
{
    Q_OBJECT

private slots:
    void aMendIsToldInTheStatusBarOnce()
    {
        TestPrompt prompt;
        TestWindow w;
        const QString path = w.dataFile(QStringLiteral("quelmar2.mdb"));
        {
            TConnection old;
            QVERIFY(old.open(path));
            QVERIFY(
                old.exec(QStringLiteral("insert into dianBase(dianzhu) values('甲'); drop table pjInfo")));
        }
        QVERIFY(w.start());
        QVERIFY2(prompt.errors.isEmpty(), qPrintable(prompt.errors.join(u'\n')));
        const QString told = w.find<QLabel>("info1")->text();
        QVERIFY2(told.contains(path) && told.contains(QStringLiteral("pjInfo")), qPrintable(told));

        w.main->close();
        QVERIFY(w.start());
        QCOMPARE(w.find<QLabel>("info1")->text(), QString());
        QVERIFY(prompt.errors.isEmpty());
    }
};

QTEST_MAIN(TestDatabaseNotice)
#include "tst_databasenotice.moc"
