#pragma once

#include <QString>

// Proxy settings of one download; a plain value, copied into each worker at its start.
struct THttpAgent
{
    int AgentType = 0; // only 1 switches the HTTP proxy on
    QString Server;
    int Port = 0;
    QString User;
    QString Password;
    QString Domain; // stored and shown, never applied to a connection
};
