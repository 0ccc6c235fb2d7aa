#pragma once

#include "store/PgServer.h"
#include "store/TConnection.h"

#include <QString>
#include <QTest>

// The windows' tests run twice: on a database file, and with KESTROVA_TEST_STORE=server on a
// fresh database of a test server of their own, so that a statement only one engine
// understands anywhere on a window's path fails a test.
namespace teststore {

inline bool onServer()
{
    return qgetenv("KESTROVA_TEST_STORE") == "server";
}

// True when the store asked for can be had; else *why says why, a skip (no server programs)
// or, with *failed, a failure.
inline bool ready(QString* why, bool* failed)
{
    *failed = false;
    if (!onServer())
        return true;
    PgServer& server = sharedServer();
    if (!server.skipReason().isEmpty()) {
        *why = server.skipReason();
        return false;
    }
    *failed = !server.running();
    *why = server.error();
    return server.running();
}

// The store of one test: the file at filePath, or a new database on the test server (empty
// when it could not be made). The server's databases are copies of one whose schema the
// program made, which is many times faster than making each schema anew.
inline QString newStore(const QString& filePath)
{
    if (!onServer())
        return filePath;
    static QString schemaMade;
    QString why;
    bool failed = false;
    if (schemaMade.isEmpty()) {
        const QString url = freshServerDatabase(&why, &failed);
        TConnection connection;
        if (!url.isEmpty() && connection.open(url))
            schemaMade = url.mid(url.lastIndexOf(u'/') + 1);
        else
            qWarning("no test database: %s", qPrintable(url.isEmpty() ? why : connection.error()));
    }
    const QString url = schemaMade.isEmpty() ? QString() : freshServerDatabase(&why, &failed, schemaMade);
    if (url.isEmpty() && !schemaMade.isEmpty())
        qWarning("no test database: %s", qPrintable(why));
    return url;
}

// The test server, when one was started, is stopped while the program can still wait for it.
inline void stopServer()
{
    if (onServer())
        sharedServer().stop();
}

} // namespace teststore

// In initTestCase(): skips the whole program when the store asked for cannot be had for want
// of the server programs, and fails it when a server would not start.
#define REQUIRE_TEST_STORE()                                                                                 \
    do {                                                                                                     \
        QString why_;                                                                                        \
        bool failed_ = false;                                                                                \
        if (!teststore::ready(&why_, &failed_)) {                                                            \
            if (failed_)                                                                                     \
                QFAIL(qPrintable(why_));                                                                     \
            QSKIP(qPrintable(why_));                                                                         \
        }                                                                                                    \
    } while (false)
