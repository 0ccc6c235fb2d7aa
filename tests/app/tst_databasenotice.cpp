// The window's start-up over a database that lacks part of its schema.
#include "TestPrompt.h"
#include "TestWindow.h"

#include "settings/Settings.h"
#include "store/PgServer.h"
#include "store/StoreRoles.h"
#include "store/TConnection.h"
#include "store/TDM.h"

#include <QAction>
#include <QFile>
#include <QLabel>
#include <QPlainTextEdit>
#include <QToolButton>

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

    // A file whose ratings lack their keys opens once they are built off the window's thread;
    // the first view, asked for meanwhile, comes then.
    void keysLackedAreBuiltWhileTheWindowShows()
    {
        if (teststore::onServer())
            QSKIP("a file's keys");
        TestPrompt prompt;
        TestWindow w;
        const QString path = w.dataFile(QStringLiteral("quelmar2.mdb"));
        {
            TConnection old;
            QVERIFY(old.open(path));
            QVERIFY(old.exec(
                QStringLiteral("insert into dianBase(dianzhu) values('甲'); insert into "
                               "pjInfo(dian_id, jg) values(1, 2.5); drop index pjInfo_shop_when")));
        }
        QVERIFY(w.start());
        QTRY_VERIFY(!w.main->buildingKeys());
        QVERIFY(w.main->dm().adoCn.isOpen());
        QVERIFY(w.main->currentView() != nullptr);
        const QString told = w.find<QLabel>("info1")->text();
        QVERIFY2(told.contains(QStringLiteral("pjInfo_shop_when")), qPrintable(told));
        QVERIFY2(prompt.errors.isEmpty(), qPrintable(prompt.errors.join(u'\n')));
    }

    // A configuration file that is not one: the defaults are in force, the status bar says so,
    // and closing the window leaves the file as it was.
    void aConfigurationFileNotUnderstoodIsToldAndLeftAlone()
    {
        TestPrompt prompt;
        TestWindow w;
        const QString path = w.dataFile(QStringLiteral("config.ini"));
        const QByteArray body("PK\x03\x04\0\0not settings\n", 19);
        {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            QCOMPARE(file.write(body), body.size());
        }
        QVERIFY(w.start());
        QVERIFY2(prompt.errors.isEmpty(), qPrintable(prompt.errors.join(u'\n')));
        const QString told = w.find<QLabel>("info1")->text();
        QCOMPARE(told, settings::notUnderstoodNotice(path));
        QVERIFY(told.contains(path));
        w.main->close();
        QVERIFY(prompt.errors.isEmpty());
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), body);
    }

    // A reader on a team's server: searching is off, with the server's reason as its tip, and
    // the status bar names the user and what it may do.
    void aReaderOnAServerCannotSearchAndIsNamed()
    {
        QString why;
        bool failed = false;
        const QString owner = freshServerDatabase(&why, &failed);
        if (owner.isEmpty() && !failed)
            QSKIP(qPrintable(why));
        QVERIFY2(!owner.isEmpty(), qPrintable(why));
        const QString reader = owner.section(u'/', -1) + QStringLiteral("_reader");
        QCOMPARE(sharedServer().psql(QStringLiteral("CREATE ROLE %1 LOGIN").arg(reader)), 0);
        {
            TConnection connection;
            QVERIFY2(connection.open(owner), qPrintable(connection.error()));
            QVERIFY2(storeroles::grant(connection, storeroles::Role::Reader, reader, &why), qPrintable(why));
        }
        TestPrompt prompt;
        TestWindow w;
        w.main = std::make_unique<TfrmMain>();
        w.main->setDatabaseUrl(QStringLiteral("postgresql://") + reader + owner.mid(owner.indexOf(u'@')));
        QVERIFY(w.main->FormCreate());
        QVERIFY2(prompt.errors.isEmpty(), qPrintable(prompt.errors.join(u'\n')));
        auto* search = w.main->findChild<QAction*>(QStringLiteral("miSearch"));
        auto* button = w.main->findChild<QToolButton*>(QStringLiteral("tbSearch"));
        QVERIFY(!search->isEnabled() && !button->isEnabled());
        QVERIFY2(search->toolTip().startsWith(QStringLiteral("permission denied for table")),
                 qPrintable(search->toolTip()));
        QCOMPARE(button->toolTip(), search->toolTip());
        const QString store = w.main->findChild<QLabel*>(QStringLiteral("storeInfo"))->text();
        QVERIFY2(store.contains(reader) && store.contains(QStringLiteral("只读")), qPrintable(store));
        // The browser offers nothing the reader may not do, each with the server's reason.
        w.main->findChild<QAction*>(QStringLiteral("miBrowser"))->trigger();
        for (const char* name : {"deleteBtn", "mineAllBtn"}) {
            auto* control = w.main->findChild<QWidget*>(QLatin1String(name));
            QVERIFY2(!control->isEnabled() &&
                         control->toolTip().startsWith(QStringLiteral("permission denied")),
                     name);
        }
        for (const char* name : {"MenuItem6", "N3"})
            QVERIFY2(!w.main->findChild<QAction*>(QLatin1String(name))->isEnabled(), name);
        QVERIFY(w.main->findChild<QPlainTextEdit*>(QStringLiteral("pjInfoMemo"))->isReadOnly());
    }
};

QTEST_MAIN(TestDatabaseNotice)
#include "tst_databasenotice.moc"
