#pragma once

#include "store/PgServer.h"

#include <QString>
#include <gtest/gtest.h>

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
