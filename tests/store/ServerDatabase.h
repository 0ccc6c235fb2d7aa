#pragma once

#include "store/PgServer.h"

#include <QString>
#include <gtest/gtest.h>
#include <memory>

// One test server for the whole test program (starting one takes a second or two), and a
// fresh database on it for each test that asks.
inline PgServer& sharedServer()
{
    static std::unique_ptr<PgServer> server = std::make_unique<PgServer>();
    return *server;
}

// The URL of a new, empty database on the shared server; empty with *why set when there is
// no server (skip) or it failed (*failed).
inline QString freshServerDatabase(QString* why, bool* failed)
{
    PgServer& server = sharedServer();
    *failed = false;
    if (!server.skipReason().isEmpty()) {
        *why = server.skipReason();
        return QString();
    }
    if (!server.running()) {
        *why = server.error();
        *failed = true;
        return QString();
    }
    static int counter = 0;
    const QString name = QStringLiteral("t%1_%2").arg(::getpid()).arg(++counter);
    QString out;
    if (server.psql(QStringLiteral("CREATE DATABASE %1").arg(name), &out) != 0) {
        *why = out;
        *failed = true;
        return QString();
    }
    const QString url = server.url();
    return url.left(url.lastIndexOf(u'/') + 1) + name;
}

// Declares `url`, a new database on the test server, or skips the test (no server programs)
// or fails it (a server that would not start).
#define SERVER_DATABASE(url)                                                                                 \
    QString url;                                                                                             \
    {                                                                                                        \
        QString why_;                                                                                        \
        bool failed_ = false;                                                                                \
        url = freshServerDatabase(&why_, &failed_);                                                          \
        if (failed_)                                                                                         \
            FAIL() << why_.toStdString();                                                                    \
        if (url.isEmpty())                                                                                   \
            GTEST_SKIP() << why_.toStdString();                                                              \
    }
